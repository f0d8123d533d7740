// The lock that guards state which may live in memory shared between
// processes: a plain mutex when the state is the process's own, a
// process-shared one (shared_lock.h) when it sits in a shared bus.
//
// lock() and unlock() are named as std::lock_guard wants them.
#pragma once

#include <mutex>

namespace orvex::sim {

class StateLock {
 public:
  StateLock() = default;
  StateLock(const StateLock&) = delete;
  StateLock& operator=(const StateLock&) = delete;
  virtual ~StateLock() = default;

  virtual void lock() = 0;
  virtual void unlock() = 0;
};

// For state that no other process sees.
class ProcessLock final : public StateLock {
 public:
  void lock() override { mutex_.lock(); }
  void unlock() override { mutex_.unlock(); }

 private:
  std::mutex mutex_;
};

}  // namespace orvex::sim
