// The locks of a shared bus, which must work across processes and must not
// wedge the bus when a process dies holding one: a robust process-shared
// mutex on POSIX systems, whose next taker carries on (EOWNERDEAD, then
// pthread_mutex_consistent), and a named mutex on Windows, likewise
// (WAIT_ABANDONED). A dead holder may leave the state it guarded half
// changed; the card takes it as it finds it.
#pragma once

#include <memory>
#include <string>

#include "shared_bus.h"
#include "state_lock.h"

namespace orvex::sim {

// Makes the lock that `storage` stands for, for a new shared bus.
void PrepareSharedLock(SharedLockStorage& storage);

// This process's handle on the lock that `storage` stands for, named `name`
// (SharedObjectName and a suffix of its own); nullptr when it cannot be had.
std::unique_ptr<StateLock> OpenSharedLock(SharedLockStorage& storage, const std::string& name);

}  // namespace orvex::sim
