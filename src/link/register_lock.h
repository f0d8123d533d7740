// A card's two registers are one resource for every thread of the process.
#pragma once

#include "port/threads.h"

namespace orvex::link {

// One exchange with the controller, not owned: a callable in the asking
// thread's frame that sends a line (and reads its reply) and notes the
// outcome there. It may be run on another thread, so it touches nothing
// that belongs to a thread.
class ExchangeWork {
 public:
  template <typename Callable>
  static ExchangeWork Of(Callable& callable) {
    return {&callable, [](void* object) { (*static_cast<Callable*>(object))(); }};
  }
  void operator()() const { call_(object_); }

 private:
  ExchangeWork(void* object, void (*call)(void*)) : object_(object), call_(call) {}
  void* object_;
  void (*call_)(void*);
};

struct Waiter;

// One card's registers and the threads waiting for them, first come first
// served. Plain data, guarded by its lock: a queue is never destroyed, so
// process exit and unloading the library wait for no thread still inside a
// call. While `held`, one thread runs exchanges (its own, then those of the
// waiters it takes from the head) or is being woken to.
struct RegisterQueue {
  port::QueueLock lock;
  bool held = false;
  Waiter* head = nullptr;
  Waiter* tail = nullptr;
};

// Runs `work` while the card's registers belong to it alone, in the order the
// threads asked: a thread that polls in a loop (WS) cannot shut out another
// that wants a single line through (ST from a stop button).
//
// The technique: a first-come-first-served queue lock whose waiters each
// wait on a node of their own (as in an MCS queue lock), and whose holder
// combines the exchanges queued behind it, running them on their askers'
// behalf, as the combiner does in flat combining (Hendler, Incze, Shavit and
// Tzafrir, "Flat combining and the synchronization-parallelism tradeoff",
// SPAA 2010); here the combiner takes the requests in queue order, so the
// order on the wire stays the order of asking.
//
// The thread whose turn it is runs its own exchange and then the exchanges
// of the threads queued behind it, in their order, starting none later than
// 2 ms after its own ended, and at most 64; each of those threads only wakes
// to return. So with many threads the registers pass on without a thread
// switch per exchange, and a thread asleep in the queue is woken once, when
// its exchange is done or its turn to serve comes.
//
// Asking is a cancellation point, before the thread joins the queue and while
// it waits there with its exchange not yet begun; a thread cancelled there
// leaves the queue, and its turn passes on. Once its exchange has begun,
// cancellation waits until it is over, so a line is never cut short. A
// fork() waits for the exchange in flight to end, and the child starts with
// the registers free.
void RunInTurn(RegisterQueue& queue, ExchangeWork work);

// fork(), for each queue in turn: before it, the forking thread takes the
// registers ahead of every waiter once the exchange in flight is over, and
// the queue's lock; after it, the parent's queue carries on, and the child's
// is free with nobody waiting (the child has only the forking thread).
void HoldForFork(RegisterQueue& queue);
void ReleaseAfterForkInParent(RegisterQueue& queue);
void ReleaseAfterForkInChild(RegisterQueue& queue);

}  // namespace orvex::link
