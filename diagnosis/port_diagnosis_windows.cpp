// Which port driver library this Windows machine can load.
#include <windows.h>

#include <array>
#include <string>

#include "port_diagnosis.h"

namespace orvex::diagnosis {
namespace {

constexpr std::array<const char*, 2> kDriverLibraries = {"DlPortIO.dll", "inpout32.dll"};

bool Loadable(const char* name) {
  HMODULE module = LoadLibraryA(name);
  if (module == nullptr) return false;
  FreeLibrary(module);
  return true;
}

}  // namespace

DriverLibraries ProbeDriverLibraries() {
  DriverLibraries drivers;
  for (const char* name : kDriverLibraries) {
    if (Loadable(name)) drivers.loadable.emplace_back(name);
  }
  return drivers;
}

std::string ExplainSilentController() {
  return ExplainDriverLibraries(ProbeDriverLibraries());
}

}  // namespace orvex::diagnosis
