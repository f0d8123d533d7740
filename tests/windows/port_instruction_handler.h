// Where Windows 95/98 let a program's port instructions reach the bus, Wine
// refuses them with EXCEPTION_PRIV_INSTRUCTION. A vectored exception handler
// takes that place: it decodes the byte-wide `in`/`out` at the faulting
// instruction, performs the access on the simulated driver library's
// controller, and steps over it.
#pragma once

namespace orvex::wintest {

struct PortInstructionCounts {
  long reads = 0;
  long writes = 0;

  long Total() const { return reads + writes; }
};

// Loads the controller's library (the simulated driver, under a name the
// library for the card does not look for) and installs the handler first in
// line. Returns false when the library or its functions cannot be found.
bool InstallPortInstructionHandler(const wchar_t* controller_library);

// The port instructions the handler performed since the last clearing.
PortInstructionCounts PortInstructions();
void ClearPortInstructions();

}  // namespace orvex::wintest
