// Which port driver library this Windows machine can load, from the library's
// own list for this bitness.
#include <windows.h>

#include <string>

#include "port/driver_libraries.h"
#include "port_diagnosis.h"

namespace orvex::diagnosis {
namespace {

// The names in the library's list are plain ASCII.
std::string Narrow(const wchar_t* wide) {
  std::string narrow;
  for (; *wide != L'\0'; ++wide) narrow += static_cast<char>(*wide);
  return narrow;
}

bool Loadable(const wchar_t* name) {
  HMODULE module = LoadLibraryW(name);
  if (module == nullptr) return false;
  FreeLibrary(module);
  return true;
}

}  // namespace

DriverLibraries ProbeDriverLibraries() {
  DriverLibraries drivers;
  for (const wchar_t* name : orvex::port::DriverLibraryNames()) {
    drivers.tried.push_back(Narrow(name));
    if (Loadable(name)) drivers.loadable.push_back(Narrow(name));
  }
  return drivers;
}

std::string ExplainRoute(unsigned base) {
  DriverLibraries drivers = ProbeDriverLibraries();
  drivers.base = base;
  return ExplainDriverLibraryRoute(drivers);
}

std::string ExplainSilentCard(unsigned base) {
  DriverLibraries drivers = ProbeDriverLibraries();
  drivers.base = base;
  return WithSharing(ProbeCardSharing(base), base, ExplainDriverLibraries(drivers));
}

}  // namespace orvex::diagnosis
