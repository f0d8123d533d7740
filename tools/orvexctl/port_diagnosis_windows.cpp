// Why the card's ports are out of reach on Windows: no port driver library can
// be loaded; or else that one can, and nothing answers at 0x340.
#include <windows.h>

#include <string>

#include "port/driver_libraries.h"
#include "port_diagnosis.h"
#include "port_diagnosis_windows.h"

namespace orvexctl {
namespace {

// The names in the library's list are plain ASCII.
std::string Narrow(const wchar_t* wide) {
  std::string narrow;
  for (; *wide != L'\0'; ++wide) narrow += static_cast<char>(*wide);
  return narrow;
}

// "neither A nor B", from the library's list for this bitness.
std::string ListedAsAlternatives() {
  std::string listed;
  for (const wchar_t* name : orvex::port::DriverLibraryNames()) {
    listed += listed.empty() ? "neither " : " nor ";
    listed += Narrow(name);
  }
  return listed;
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
    if (Loadable(name)) drivers.loadable.push_back(Narrow(name));
  }
  return drivers;
}

std::string ExplainDriverLibraries(const DriverLibraries& drivers) {
  if (drivers.loadable.empty()) {
    return "no port driver library could be loaded (" + ListedAsAlternatives() +
           "): install the port I/O driver, or put its DLL beside the program";
  }
  return "the port driver library " + drivers.loadable.front() +
         " loads, but no controller answered at 0x340: check that the card is in, powered and "
         "set to address 0x340, and that its cable is connected";
}

std::string ExplainSilentController() {
  return ExplainDriverLibraries(ProbeDriverLibraries());
}

}  // namespace orvexctl
