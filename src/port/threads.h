// What the register lock needs from the platform's threads: a short lock for
// a queue, a wake-up of one waiting thread, a say in cancellation, and a
// say in fork(). Each build links exactly one implementation, the one of its
// platform.
#pragma once

#include <cstddef>

namespace orvex::port {

// A short lock around bookkeeping (one card's register queue, the list of
// cards): held for a few instructions and never across a wait. Never
// destroyed, so that nothing at process exit or unloading waits for a thread
// still inside a call.
class QueueLock {
 public:
  QueueLock();
  ~QueueLock() = default;
  QueueLock(const QueueLock&) = delete;
  QueueLock& operator=(const QueueLock&) = delete;

  void Lock();
  void Unlock();

 private:
  static constexpr std::size_t STORAGE_BYTES = 64;
  alignas(16) unsigned char storage_[STORAGE_BYTES];
};

// Holds a QueueLock for as long as it lives.
class HeldQueueLock {
 public:
  explicit HeldQueueLock(QueueLock& lock) : lock_(lock) { lock_.Lock(); }
  ~HeldQueueLock() { lock_.Unlock(); }
  HeldQueueLock(const HeldQueueLock&) = delete;
  HeldQueueLock& operator=(const HeldQueueLock&) = delete;

 private:
  QueueLock& lock_;
};

// Offers the processor to another ready thread, if there is one.
void LetOthersRun();

// One waiting thread's own wake-up, on that thread's stack: Signal lets
// exactly this Wait return, and no other thread's.
class Wakeup {
 public:
  Wakeup();
  ~Wakeup();
  Wakeup(const Wakeup&) = delete;
  Wakeup& operator=(const Wakeup&) = delete;

  // Blocks until Signal has been called. Where threads can be cancelled this
  // is a cancellation point: a cancellation acted on here unwinds the caller.
  void Wait();
  void Signal();

 private:
  static constexpr std::size_t STORAGE_BYTES = 128;
  alignas(16) unsigned char storage_[STORAGE_BYTES];
};

// Cancellation of the calling thread, where the platform has it (deferred
// cancellation of POSIX threads); elsewhere these do nothing.
using CancellationState = int;
// A cancellation asked for before now is acted on here.
void CancellationPoint();
// From now on a cancellation asked for waits; returns what to restore.
CancellationState HoldOffCancellation();
// Cancellation as it was before HoldOffCancellation.
void RestoreCancellation(CancellationState previous);

// Has `prepare` run in the forking thread before every later fork(), and
// `parent` and `child` after it in the two processes. Nothing where the
// platform has no fork.
void CallAroundFork(void (*prepare)(), void (*parent)(), void (*child)());

}  // namespace orvex::port
