// The Windows 95/98 path of orvexportio.dll, under Wine set to Windows 98.
#pragma once

#include "host_harness.h"

namespace orvex::wintest {

// The simulated driver library under a name the library for the card never
// asks for, so that it can reach the controller only by its port
// instructions.
inline constexpr const wchar_t* kControllerLibrary = L"orvexsim_controller.dll";

// What only this path shows: Windows 98, no driver library, one port
// instruction per access.
Suite DirectPathSuite();

}  // namespace orvex::wintest
