// The controller's two registers are one resource for the whole process.
#pragma once

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

// Runs `work` while the registers belong to it alone, in the order the
// threads asked: a thread that polls in a loop (WS) cannot shut out another
// that wants a single line through (ST from a stop button).
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
void RunInTurn(ExchangeWork work);

}  // namespace orvex::link
