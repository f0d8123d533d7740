// The driver libraries for 64-bit processes: inpoutx64.dll first, the usual
// one on 64-bit systems, then a 64-bit build of DlPortIO.dll.
//
// 64-bit Windows is always of the NT family, where the port instructions
// fault in user code. A version reading with bit 31 set can only come from a
// compatibility setting, so there too the ports go through the driver
// library rather than kill the host.
#include "port/driver_libraries.h"

namespace orvex::port {
namespace {

constexpr const wchar_t* DRIVER_LIBRARIES[] = {L"inpoutx64.dll", L"DlPortIO.dll"};

}  // namespace

std::span<const wchar_t* const> DriverLibraryNames() {
  return DRIVER_LIBRARIES;
}

bool CanRunOnWindows9x() {
  return false;
}

}  // namespace orvex::port
