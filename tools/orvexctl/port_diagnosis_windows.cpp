// Why the card's ports are out of reach on Windows: no port driver library can
// be loaded; or else that one can, and nothing answers at 0x340.
#include <windows.h>

#include <array>
#include <string>

#include "port_diagnosis.h"
#include "port_diagnosis_windows.h"

namespace orvexctl {
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

std::string ExplainDriverLibraries(const DriverLibraries& drivers) {
  if (drivers.loadable.empty()) {
    return "no port driver library could be loaded (neither DlPortIO.dll nor inpout32.dll): "
           "install the port I/O driver, or put its DLL beside the program";
  }
  return "the port driver library " + drivers.loadable.front() +
         " loads, but no controller answered at 0x340: check that the card is in, powered and "
         "set to address 0x340, and that its cable is connected";
}

std::string ExplainSilentController() {
  return ExplainDriverLibraries(ProbeDriverLibraries());
}

}  // namespace orvexctl
