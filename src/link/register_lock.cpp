#include "link/register_lock.h"

#include "port/threads.h"

namespace orvex::link {
namespace {

// A thread waiting for its turn, on its own stack.
struct Waiter {
  Waiter* next = nullptr;
  bool granted = false;  // the registers were handed to this waiter
  port::Wakeup wakeup;
};

// The registers' owner and the queue of waiters, first come first served.
// Plain data, guarded by port::LockQueue: nothing here is ever destroyed, so
// process exit and unloading the library wait for no thread still inside a
// call. While the queue is not empty the registers are held, by a thread at
// work or by the waiter at the head that is being woken.
struct RegisterQueue {
  bool held = false;
  Waiter* head = nullptr;
  Waiter* tail = nullptr;
};

constinit RegisterQueue queue;

void Append(Waiter& waiter) {
  if (queue.tail == nullptr) {
    queue.head = &waiter;
  } else {
    queue.tail->next = &waiter;
  }
  queue.tail = &waiter;
}

void PutFirst(Waiter& waiter) {
  waiter.next = queue.head;
  queue.head = &waiter;
  if (queue.tail == nullptr) queue.tail = &waiter;
}

void Remove(Waiter& waiter) {
  Waiter* before = nullptr;
  for (Waiter* at = queue.head; at != nullptr; before = at, at = at->next) {
    if (at != &waiter) continue;
    (before == nullptr ? queue.head : before->next) = waiter.next;
    if (queue.tail == &waiter) queue.tail = before;
    return;
  }
}

// Called with the queue locked. The wake-up is signalled before the queue is
// unlocked, so a waiter that unwinds from its wait (it takes the queue lock
// first) never leaves while its wake-up is still being touched.
void HandOverLocked() {
  Waiter* next = queue.head;
  if (next == nullptr) {
    queue.held = false;
    return;
  }
  queue.head = next->next;
  if (queue.head == nullptr) queue.tail = nullptr;
  next->granted = true;
  next->wakeup.Signal();
}

void GiveBack() {
  port::LockQueue();
  HandOverLocked();
  port::UnlockQueue();
}

// Leaves the queue if the waiting thread is unwound (cancelled) before its
// turn came; if the turn had already come, passes it on, so no turn is left
// that nobody serves.
class LeaveWhenUnwound {
 public:
  explicit LeaveWhenUnwound(Waiter& waiter) : waiter_(waiter) {}
  ~LeaveWhenUnwound() {
    if (served_) return;
    port::LockQueue();
    if (waiter_.granted) {
      HandOverLocked();
    } else {
      Remove(waiter_);
    }
    port::UnlockQueue();
  }
  LeaveWhenUnwound(const LeaveWhenUnwound&) = delete;
  LeaveWhenUnwound& operator=(const LeaveWhenUnwound&) = delete;
  void Served() { served_ = true; }

 private:
  Waiter& waiter_;
  bool served_ = false;
};

enum class Place { Last, First };

// Returns once the registers belong to the calling thread.
void TakeRegisters(Place place) {
  port::LockQueue();
  if (!queue.held) {
    queue.held = true;
    port::UnlockQueue();
    return;
  }
  Waiter waiter;
  if (place == Place::First) {
    PutFirst(waiter);
  } else {
    Append(waiter);
  }
  port::UnlockQueue();
  LeaveWhenUnwound leave(waiter);
  waiter.wakeup.Wait();
  leave.Served();
}

// fork(): the forking thread waits for the exchange in flight, ahead of every
// waiter, so that no line is cut in two between the processes, and holds the
// queue's lock so the child gets a consistent copy. The child has only the
// forking thread: there the registers are free and nobody waits.
port::CancellationState cancellation_during_fork = 0;

void BeforeFork() {
  cancellation_during_fork = port::HoldOffCancellation();
  TakeRegisters(Place::First);
  port::LockQueue();
}

void AfterForkInParent() {
  HandOverLocked();
  port::UnlockQueue();
  port::RestoreCancellation(cancellation_during_fork);
}

void AfterForkInChild() {
  queue = RegisterQueue{};
  port::UnlockQueue();
  port::RestoreCancellation(cancellation_during_fork);
}

void WatchForks() {
  static const bool watching =
      (port::CallAroundFork(BeforeFork, AfterForkInParent, AfterForkInChild), true);
  (void)watching;
}

}  // namespace

RegisterLock::RegisterLock() {
  WatchForks();
  port::CancellationPoint();
  TakeRegisters(Place::Last);
  cancellation_before_ = port::HoldOffCancellation();
}

RegisterLock::~RegisterLock() {
  GiveBack();
  port::RestoreCancellation(cancellation_before_);
}

}  // namespace orvex::link
