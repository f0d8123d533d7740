// The register lock's thread primitives on POSIX systems.
//
// A waiting thread sleeps on a condition variable of its own, so a hand-over
// wakes that one thread and no other. Its wait is a cancellation point; the
// queue's lock is a mutex that is never destroyed, so that nothing
// at process exit waits for threads still inside a call.
#include <pthread.h>
#include <sched.h>

#include <new>

#include "port/threads.h"

namespace orvex::port {
namespace {

static_assert(sizeof(pthread_mutex_t) <= 64 && alignof(pthread_mutex_t) <= 16,
              "QueueLock storage too small");

pthread_mutex_t* Mutex(unsigned char* storage) {
  return std::launder(reinterpret_cast<pthread_mutex_t*>(storage));
}

// A flag under a mutex of its own, with a condition variable to sleep on.
// A condition variable rather than a semaphore, because its wait is a
// cancellation point that the threads library (and ThreadSanitizer) leave in
// a known state: the mutex taken again, which the unwinding then gives back.
struct WakeupState {
  pthread_mutex_t mutex;
  pthread_cond_t signalled_condition;
  bool signalled;
};

static_assert(sizeof(WakeupState) <= 128 && alignof(WakeupState) <= 16, "Wakeup storage too small");

WakeupState* State(unsigned char* storage) {
  return std::launder(reinterpret_cast<WakeupState*>(storage));
}

// Gives the wake-up's mutex back when the waiting thread is unwound.
class Unlocking {
 public:
  explicit Unlocking(pthread_mutex_t& mutex) : mutex_(mutex) {}
  ~Unlocking() { (void)pthread_mutex_unlock(&mutex_); }
  Unlocking(const Unlocking&) = delete;
  Unlocking& operator=(const Unlocking&) = delete;

 private:
  pthread_mutex_t& mutex_;
};

}  // namespace

// glibc's adaptive mutex spins a little before it sleeps: a queue is held
// for a few instructions, and with many threads a short spin is cheaper than
// a sleep and a wake-up.
QueueLock::QueueLock() {
  pthread_mutexattr_t attributes;
  (void)pthread_mutexattr_init(&attributes);
  (void)pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_ADAPTIVE_NP);
  (void)pthread_mutex_init(new (storage_) pthread_mutex_t, &attributes);
  (void)pthread_mutexattr_destroy(&attributes);
}

void QueueLock::Lock() {
  (void)pthread_mutex_lock(Mutex(storage_));
}

void QueueLock::Unlock() {
  (void)pthread_mutex_unlock(Mutex(storage_));
}

void LetOthersRun() {
  (void)sched_yield();
}

Wakeup::Wakeup() {
  WakeupState* state = new (storage_) WakeupState{};
  (void)pthread_mutex_init(&state->mutex, nullptr);
  (void)pthread_cond_init(&state->signalled_condition, nullptr);
}

Wakeup::~Wakeup() {
  WakeupState* state = State(storage_);
  (void)pthread_cond_destroy(&state->signalled_condition);
  (void)pthread_mutex_destroy(&state->mutex);
}

void Wakeup::Wait() {
  WakeupState* state = State(storage_);
  (void)pthread_mutex_lock(&state->mutex);
  const Unlocking unlocking(state->mutex);
  while (!state->signalled) {
    (void)pthread_cond_wait(&state->signalled_condition, &state->mutex);
  }
}

// Signalled with the mutex held, so the waiter cannot return and end the
// wake-up before the condition variable has been signalled.
void Wakeup::Signal() {
  WakeupState* state = State(storage_);
  (void)pthread_mutex_lock(&state->mutex);
  state->signalled = true;
  (void)pthread_cond_signal(&state->signalled_condition);
  (void)pthread_mutex_unlock(&state->mutex);
}

void CancellationPoint() {
  pthread_testcancel();
}

CancellationState HoldOffCancellation() {
  int previous = PTHREAD_CANCEL_ENABLE;
  (void)pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &previous);
  return previous;
}

void RestoreCancellation(CancellationState previous) {
  int ignored = 0;
  (void)pthread_setcancelstate(previous, &ignored);
}

void CallAroundFork(void (*prepare)(), void (*parent)(), void (*child)()) {
  (void)pthread_atfork(prepare, parent, child);
}

}  // namespace orvex::port
