#include "link/register_lock.h"

#include <atomic>
#include <cstdint>

#include "link/clock.h"
#include "port/threads.h"

namespace orvex::link {
namespace {

// Where a queued exchange stands, as its own thread sees it.
enum class Standing : std::uint8_t {
  Waiting,   // queued, its thread looks now and then
  Sleeping,  // queued, its thread sleeps until it is woken
  Done,      // another thread ran the exchange
  Serve,     // the registers were handed to its thread: it runs its own
};

// A thread waiting for its exchange, on its own stack.
struct Waiter {
  explicit Waiter(ExchangeWork exchange) : work(exchange) {}
  ExchangeWork work;
  Waiter* next = nullptr;
  bool taken = false;        // out of the queue; guarded by port::LockQueue
  bool wants_serve = false;  // its thread must hold the registers itself
  std::atomic<Standing> standing{Standing::Waiting};
  port::Wakeup wakeup;
};

// The registers' state and the queue of waiters, first come first served.
// Plain data, guarded by port::LockQueue: nothing here is ever destroyed, so
// process exit and unloading the library wait for no thread still inside a
// call. While `held`, one thread runs exchanges (its own, then those of the
// waiters it takes from the head) or is being woken to.
struct RegisterQueue {
  bool held = false;
  Waiter* head = nullptr;
  Waiter* tail = nullptr;
};

constinit RegisterQueue queue;

// How many exchanges of other threads one thread runs, at most, and for how
// long, in seconds on the link's clock, before it hands the registers on and
// returns to its caller: its own call is over, and a controller that times
// out must not keep it for long.
constexpr int SERVED_PER_TURN = 64;
constexpr double SERVING_TIME = 0.002;

// How often a waiter looks whether its exchange is done, giving the processor
// to other threads in between, before it sleeps. With a controller that
// answers at once the wait is over within a few looks, and a thread that
// looks needs no wake-up; behind a slow controller it soon sleeps.
constexpr int LOOKS_BEFORE_SLEEPING = 16;

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

Waiter* TakeHeadLocked() {
  Waiter* head = queue.head;
  if (head == nullptr) return nullptr;
  queue.head = head->next;
  if (queue.head == nullptr) queue.tail = nullptr;
  head->taken = true;
  return head;
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

// Tells a waiter how its exchange stands. A waiter that looks will see it
// and may return at once, so nothing of it is touched afterwards; one that
// sleeps is woken, and it cannot return before this wake-up.
void Tell(Waiter& waiter, Standing standing) {
  if (waiter.standing.exchange(standing, std::memory_order_acq_rel) == Standing::Sleeping) {
    waiter.wakeup.Signal();
  }
}

// Takes the waiter at the head; none, and the registers are free, when
// nobody waits.
Waiter* NextOrRelease() {
  port::LockQueue();
  Waiter* next = TakeHeadLocked();
  if (next == nullptr) queue.held = false;
  port::UnlockQueue();
  return next;
}

// Gives the registers back, or to the waiter at the head, which then runs
// its own exchange.
void PassOn() {
  Waiter* next = NextOrRelease();
  if (next != nullptr) Tell(*next, Standing::Serve);
}

bool ServedEnough(int served, double serving_ends) {
  return served == SERVED_PER_TURN || (served > 0 && NowSeconds() >= serving_ends);
}

// With the registers held: runs this thread's exchange, then for a while
// those queued behind it, then hands the registers to the next waiter.
void Serve(ExchangeWork own) {
  own();
  double serving_ends = 0.0;
  for (int served = 0;; ++served) {
    Waiter* next = NextOrRelease();
    if (next == nullptr) return;
    if (served == 0) serving_ends = NowSeconds() + SERVING_TIME;
    if (next->wants_serve || ServedEnough(served, serving_ends)) {
      Tell(*next, Standing::Serve);
      return;
    }
    next->work();
    Tell(*next, Standing::Done);
  }
}

// Waits until the waiter's exchange is done or its turn to serve has come.
// Looks for a while, letting other threads run in between, since with an
// answering controller the wait is short; then sleeps.
Standing AwaitStanding(Waiter& waiter) {
  for (int look = 0; look < LOOKS_BEFORE_SLEEPING; ++look) {
    const Standing standing = waiter.standing.load(std::memory_order_acquire);
    if (standing != Standing::Waiting) return standing;
    port::LetOthersRun();
  }
  Standing expected = Standing::Waiting;
  if (waiter.standing.compare_exchange_strong(expected, Standing::Sleeping,
                                              std::memory_order_acq_rel)) {
    waiter.wakeup.Wait();
    return waiter.standing.load(std::memory_order_acquire);
  }
  return expected;
}

// Leaves the queue if the waiting thread is unwound (cancelled) before its
// exchange began. A waiter is cancelled only asleep, so a thread that has
// taken it from the queue will wake it: waits (without cancellation) for
// that, so nothing of the waiter is left in use, and if the turn to serve had
// come, passes it on, so no turn is left that nobody serves.
class LeaveWhenUnwound {
 public:
  explicit LeaveWhenUnwound(Waiter& waiter) : waiter_(waiter) {}
  ~LeaveWhenUnwound() {
    if (settled_) return;
    port::LockQueue();
    const bool taken = waiter_.taken;
    if (!taken) Remove(waiter_);
    port::UnlockQueue();
    if (!taken) return;
    const port::CancellationState before = port::HoldOffCancellation();
    waiter_.wakeup.Wait();
    port::RestoreCancellation(before);
    if (waiter_.standing.load(std::memory_order_acquire) == Standing::Serve) PassOn();
  }
  LeaveWhenUnwound(const LeaveWhenUnwound&) = delete;
  LeaveWhenUnwound& operator=(const LeaveWhenUnwound&) = delete;
  void Settled() { settled_ = true; }

 private:
  Waiter& waiter_;
  bool settled_ = false;
};

enum class Place { Last, First };

// Returns true when the registers are free and now belong to the calling
// thread; otherwise queues `waiter`.
bool TakeOrQueue(Waiter& waiter, Place place) {
  port::LockQueue();
  const bool free = !queue.held;
  if (free) {
    queue.held = true;
  } else if (place == Place::First) {
    PutFirst(waiter);
  } else {
    Append(waiter);
  }
  port::UnlockQueue();
  return free;
}

// Waits in the queue; returns true when the exchange was run by another
// thread, false when the registers came to this thread.
bool WaitInQueue(Waiter& waiter) {
  LeaveWhenUnwound leave(waiter);
  const Standing standing = AwaitStanding(waiter);
  leave.Settled();
  return standing == Standing::Done;
}

// fork(): the forking thread takes the registers ahead of every waiter, once
// the exchanges in flight are over, so that no line is cut in two between
// the processes, and holds the queue's lock so the child gets a consistent
// copy. The child has only the forking thread: there the registers are free
// and nobody waits.
port::CancellationState cancellation_during_fork = 0;

void DoNothing() {}

void BeforeFork() {
  cancellation_during_fork = port::HoldOffCancellation();
  auto nothing = DoNothing;
  Waiter waiter{ExchangeWork::Of(nothing)};
  waiter.wants_serve = true;
  if (!TakeOrQueue(waiter, Place::First)) (void)WaitInQueue(waiter);
  port::LockQueue();
}

void AfterForkInParent() {
  port::UnlockQueue();
  PassOn();
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

// Cancellation held off for as long as the object lives.
class NoCancellation {
 public:
  NoCancellation() : before_(port::HoldOffCancellation()) {}
  ~NoCancellation() { port::RestoreCancellation(before_); }
  NoCancellation(const NoCancellation&) = delete;
  NoCancellation& operator=(const NoCancellation&) = delete;

 private:
  port::CancellationState before_;
};

}  // namespace

void RunInTurn(ExchangeWork work) {
  WatchForks();
  port::CancellationPoint();
  Waiter waiter(work);
  if (!TakeOrQueue(waiter, Place::Last) && WaitInQueue(waiter)) return;
  const NoCancellation uncancelled;
  Serve(work);
}

}  // namespace orvex::link
