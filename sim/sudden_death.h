// Ends the calling process at once, as a kill from outside would: no exit
// handlers, no flushing, locks left held. For the test side's death hook
// (VirtualController::SetDeathAtAccess).
#pragma once

namespace orvex::sim {

[[noreturn]] void EndThisProcessAtOnce();

// Stops the calling process until it is continued from outside, as a
// debugger or Ctrl-Z would.
void StopThisProcess();

}  // namespace orvex::sim
