// What differs between the 32-bit and the 64-bit Windows builds of the port
// access: which port-I/O driver libraries exist for a process of that
// bitness, and whether such a process can run on a system that lets user code
// execute the processor's port instructions. Each Windows build links the one
// implementation for its bitness.
#pragma once

#include <span>

namespace orvex::port {

// The driver libraries, in the order they are tried. Each exports
// DlPortReadPortUchar and DlPortWritePortUchar.
std::span<const wchar_t* const> DriverLibraryNames();

// True when a process of this bitness can run on Windows 95/98/ME, whose
// version reading has bit 31 set and where the port instructions are open to
// user code.
bool CanRunOnWindows9x();

}  // namespace orvex::port
