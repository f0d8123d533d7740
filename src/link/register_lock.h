// The controller's two registers are one resource for the whole process.
#pragma once

namespace orvex::link {

// Holds the registers for one exchange: one command line, or one query line
// together with its reply. Threads are let in strictly in the order they
// asked, so a thread that polls in a loop (WS) cannot shut out another that
// wants a single line through (ST from a stop button).
class RegisterLock {
 public:
  RegisterLock();
  ~RegisterLock();
  RegisterLock(const RegisterLock&) = delete;
  RegisterLock& operator=(const RegisterLock&) = delete;
};

}  // namespace orvex::link
