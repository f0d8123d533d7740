// The controller's two registers are one resource for the whole process.
#pragma once

#include "port/threads.h"

namespace orvex::link {

// Holds the registers for one exchange: one command line, or one query line
// together with its reply. Threads are let in strictly in the order they
// asked, so a thread that polls in a loop (WS) cannot shut out another that
// wants a single line through (ST from a stop button).
//
// Taking the lock is a cancellation point, before the thread joins the queue
// and while it waits there; a thread cancelled in the queue leaves it, and
// its turn passes on. Once the registers are taken, cancellation waits until
// they are given back, so a line is never cut short. A fork() waits for the
// exchange in flight to end, and the child starts with the registers free.
class RegisterLock {
 public:
  RegisterLock();
  ~RegisterLock();
  RegisterLock(const RegisterLock&) = delete;
  RegisterLock& operator=(const RegisterLock&) = delete;

 private:
  port::CancellationState cancellation_before_;
};

}  // namespace orvex::link
