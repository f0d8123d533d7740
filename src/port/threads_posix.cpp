// The register lock's thread primitives on POSIX systems.
//
// A waiting thread sleeps on a semaphore of its own (a futex on Linux), so a
// hand-over wakes that one thread and no other. sem_wait is a cancellation
// point; the queue's lock is a mutex that is never destroyed, so that nothing
// at process exit waits for threads still inside a call.
#include <pthread.h>
#include <semaphore.h>

#include <new>

#include "port/threads.h"

namespace orvex::port {
namespace {

// glibc's adaptive mutex spins a little before it sleeps: the queue is held
// for a few instructions, and with many threads a short spin is cheaper than
// a sleep and a wake-up.
pthread_mutex_t queue_mutex = PTHREAD_ADAPTIVE_MUTEX_INITIALIZER_NP;

static_assert(sizeof(sem_t) <= 32 && alignof(sem_t) <= 16, "Wakeup storage too small for sem_t");

sem_t* Semaphore(unsigned char* storage) {
  return std::launder(reinterpret_cast<sem_t*>(storage));
}

}  // namespace

void LockQueue() {
  (void)pthread_mutex_lock(&queue_mutex);
}

void UnlockQueue() {
  (void)pthread_mutex_unlock(&queue_mutex);
}

Wakeup::Wakeup() {
  (void)sem_init(new (storage_) sem_t, 0, 0);
}

Wakeup::~Wakeup() {
  (void)sem_destroy(Semaphore(storage_));
}

void Wakeup::Wait() {
  // Only a signal handler (EINTR) ends the wait early; wait on then.
  while (sem_wait(Semaphore(storage_)) != 0) {
  }
}

void Wakeup::Signal() {
  (void)sem_post(Semaphore(storage_));
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
