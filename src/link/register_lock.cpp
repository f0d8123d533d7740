#include "link/register_lock.h"

#include <atomic>
#include <cstdint>

#include "link/clock.h"
#include "port/threads.h"

namespace orvex::link {

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
  bool taken = false;        // out of the queue; guarded by the queue's lock
  bool wants_serve = false;  // its thread must hold the registers itself
  std::atomic<Standing> standing{Standing::Waiting};
  port::Wakeup wakeup;
};

namespace {

// The combining of a flat-combining lock: how many exchanges of other
// threads one thread runs, at most, and for how
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

void Append(RegisterQueue& queue, Waiter& waiter) {
  if (queue.tail == nullptr) {
    queue.head = &waiter;
  } else {
    queue.tail->next = &waiter;
  }
  queue.tail = &waiter;
}

void PutFirst(RegisterQueue& queue, Waiter& waiter) {
  waiter.next = queue.head;
  queue.head = &waiter;
  if (queue.tail == nullptr) queue.tail = &waiter;
}

Waiter* TakeHeadLocked(RegisterQueue& queue) {
  Waiter* head = queue.head;
  if (head == nullptr) return nullptr;
  queue.head = head->next;
  if (queue.head == nullptr) queue.tail = nullptr;
  head->taken = true;
  return head;
}

void Remove(RegisterQueue& queue, Waiter& waiter) {
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
Waiter* NextOrRelease(RegisterQueue& queue) {
  const port::HeldQueueLock held(queue.lock);
  Waiter* next = TakeHeadLocked(queue);
  if (next == nullptr) queue.held = false;
  return next;
}

// Gives the registers back, or to the waiter at the head, which then runs
// its own exchange.
void PassOn(RegisterQueue& queue) {
  Waiter* next = NextOrRelease(queue);
  if (next != nullptr) Tell(*next, Standing::Serve);
}

bool ServedEnough(int served, double serving_ends) {
  return served == SERVED_PER_TURN || (served > 0 && NowSeconds() >= serving_ends);
}

// With the registers held: runs this thread's exchange, then for a while
// those queued behind it, then hands the registers to the next waiter.
void Serve(RegisterQueue& queue, ExchangeWork own) {
  own();
  double serving_ends = 0.0;
  for (int served = 0;; ++served) {
    Waiter* next = NextOrRelease(queue);
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
  LeaveWhenUnwound(RegisterQueue& queue, Waiter& waiter) : queue_(queue), waiter_(waiter) {}
  ~LeaveWhenUnwound() {
    if (settled_) return;
    bool taken = false;
    {
      const port::HeldQueueLock held(queue_.lock);
      taken = waiter_.taken;
      if (!taken) Remove(queue_, waiter_);
    }
    if (!taken) return;
    const port::CancellationState before = port::HoldOffCancellation();
    waiter_.wakeup.Wait();
    port::RestoreCancellation(before);
    if (waiter_.standing.load(std::memory_order_acquire) == Standing::Serve) PassOn(queue_);
  }
  LeaveWhenUnwound(const LeaveWhenUnwound&) = delete;
  LeaveWhenUnwound& operator=(const LeaveWhenUnwound&) = delete;
  void Settled() { settled_ = true; }

 private:
  RegisterQueue& queue_;
  Waiter& waiter_;
  bool settled_ = false;
};

enum class Place { Last, First };

// Returns true when the registers are free and now belong to the calling
// thread; otherwise queues `waiter`.
bool TakeOrQueue(RegisterQueue& queue, Waiter& waiter, Place place) {
  const port::HeldQueueLock held(queue.lock);
  const bool free = !queue.held;
  if (free) {
    queue.held = true;
  } else if (place == Place::First) {
    PutFirst(queue, waiter);
  } else {
    Append(queue, waiter);
  }
  return free;
}

// Waits in the queue; returns true when the exchange was run by another
// thread, false when the registers came to this thread.
bool WaitInQueue(RegisterQueue& queue, Waiter& waiter) {
  LeaveWhenUnwound leave(queue, waiter);
  const Standing standing = AwaitStanding(waiter);
  leave.Settled();
  return standing == Standing::Done;
}

void DoNothing() {}

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

void RunInTurn(RegisterQueue& queue, ExchangeWork work) {
  port::CancellationPoint();
  Waiter waiter(work);
  if (!TakeOrQueue(queue, waiter, Place::Last) && WaitInQueue(queue, waiter)) return;
  const NoCancellation uncancelled;
  Serve(queue, work);
}

// The forking thread takes the registers ahead of every waiter, once the
// exchange in flight is over, so that no line is cut in two between the
// processes, and holds the queue's lock so the child gets a consistent copy.
void HoldForFork(RegisterQueue& queue) {
  auto nothing = DoNothing;
  Waiter waiter{ExchangeWork::Of(nothing)};
  waiter.wants_serve = true;
  if (!TakeOrQueue(queue, waiter, Place::First)) (void)WaitInQueue(queue, waiter);
  queue.lock.Lock();
}

void ReleaseAfterForkInParent(RegisterQueue& queue) {
  queue.lock.Unlock();
  PassOn(queue);
}

// The child has only the forking thread: there the registers are free and
// nobody waits.
void ReleaseAfterForkInChild(RegisterQueue& queue) {
  queue.held = false;
  queue.head = nullptr;
  queue.tail = nullptr;
  queue.lock.Unlock();
}

}  // namespace orvex::link
