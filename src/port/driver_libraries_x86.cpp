// The driver libraries for 32-bit processes. A 32-bit process may run on
// Windows 95/98/ME, where it reaches the ports directly.
#include "port/driver_libraries.h"

namespace orvex::port {
namespace {

constexpr const wchar_t* DRIVER_LIBRARIES[] = {L"DlPortIO.dll", L"inpout32.dll"};

}  // namespace

std::span<const wchar_t* const> DriverLibraryNames() {
  return DRIVER_LIBRARIES;
}

bool CanRunOnWindows9x() {
  return true;
}

}  // namespace orvex::port
