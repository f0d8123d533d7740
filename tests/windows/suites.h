// The suites of the Windows test program; each runs in a process of its own,
// in a folder that holds the driver libraries it needs and no others.
#pragma once

#include "host_harness.h"

namespace orvex::wintest {

inline constexpr double kPositionError = ORVEX_POSITION_ERROR;

// Every export through the simulated driver library the DLL tries first: the
// lines, the results and the pauses.
Suite ExportsSuite();

// Replies that are wrong, cut short or endless.
Suite RepliesSuite();

// Time-outs on the real clock: missed windows, a dead controller, a strobe
// never acknowledged.
Suite FailuresSuite();

// No driver library anywhere: the DLL loads and every export times out.
Suite MissingDriverSuite();

// Only the second driver library of the list: the library reaches the
// controller through it.
Suite FallbackSuite();

// Both driver libraries: the library takes the first.
Suite DriverOrderSuite();

// The calling convention at the machine level, as this bitness has it.
Suite CallingConventionSuite();

// A version reading with bit 31 set: the 64-bit DLL still uses the driver.
Suite Windows9xVersionSuite();

// With no controller answering, every export reports a time-out (0, or 1e10
// from TP) in well under a second, WS after about a second of silence.
void ExpectEveryExportTimesOut(Expect& expect);

}  // namespace orvex::wintest
