// The named shared memory a shared bus lives in, made by the first process
// that asks for the name and mapped by every later one. It outlives the
// processes that used it, so successive programs find the same bus, until
// it is removed (RemoveSharedBus, or by hand) or the machine restarts:
//
// - POSIX: a shared memory object, /dev/shm/orvexportio-sim-<name> on
//   Linux. Made race-free: a creator fills an object of a temporary name of
//   its own, then publishes it under the bus's name with link(2), which
//   fails when another creator got there first; the loser drops its own and
//   maps the winner's. A process only ever maps a published, whole bus.
// - Windows: a file, %TEMP%\orvexportio-sim-<name>.bus, mapped under the
//   name Local\orvexportio-sim-<name>, made and checked under the named
//   mutex Local\orvexportio-sim-<name>-opening. A file left from before the
//   machine restarted is made anew.
//
// The mapping stays for the life of the process.
#pragma once

#include <string>
#include <string_view>

#include "shared_bus.h"
#include "virtual_clock.h"

namespace orvex::sim {

// The bus named `name` (a valid name), made on `clock` when there is none;
// nullptr, with the reason in `why`, when it can be neither made nor mapped,
// or when what is there is no bus of this layout.
SharedBusState* MapSharedBus(std::string_view name, Clock clock, std::string& why);

// Removes the bus named `name` from the machine: processes that have it
// mapped go on with it, and the next to ask for the name makes a new one.
// False when there was none, or it could not be removed.
bool RemoveSharedBus(std::string_view name);

}  // namespace orvex::sim
