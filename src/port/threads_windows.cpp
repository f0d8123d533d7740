// The register lock's thread primitives on Windows.
//
// A waiting thread sleeps on an event of its own, so a hand-over wakes that
// one thread and no other. A queue's lock is a spin lock on one word,
// never destroyed: at process exit Windows ends
// the other threads wherever they are, possibly inside it, and nothing in
// this library waits for them afterwards, neither then nor when the DLL is
// unloaded. Win32 threads have no cancellation and no fork.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <new>

#include "port/threads.h"

namespace orvex::port {
namespace {

static_assert(sizeof(LONG) <= 64, "QueueLock storage too small");

volatile LONG* Word(unsigned char* storage) {
  return std::launder(reinterpret_cast<volatile LONG*>(storage));
}

// Spins this many times before handing the processor to another thread.
constexpr int SPINS_BEFORE_YIELD = 64;

// An event when one could be made, else a flag polled with short sleeps.
struct WakeupState {
  HANDLE event;
  volatile LONG signalled;
};

static_assert(sizeof(WakeupState) <= 32, "Wakeup storage too small");

WakeupState* State(unsigned char* storage) {
  return std::launder(reinterpret_cast<WakeupState*>(storage));
}

}  // namespace

QueueLock::QueueLock() {
  new (storage_) LONG{0};
}

void QueueLock::Lock() {
  for (int spins = 0; InterlockedExchange(Word(storage_), 1) != 0; ++spins) {
    if (spins < SPINS_BEFORE_YIELD) continue;
    // Sleep(0) yields only to threads of the same priority; a lower-priority
    // holder needs Sleep(1) to get the processor back.
    Sleep(spins % 16 == 0 ? 1 : 0);
  }
}

void QueueLock::Unlock() {
  InterlockedExchange(Word(storage_), 0);
}

void LetOthersRun() {
  (void)SwitchToThread();
}

Wakeup::Wakeup() {
  new (storage_) WakeupState{CreateEventW(nullptr, FALSE, FALSE, nullptr), 0};
}

Wakeup::~Wakeup() {
  WakeupState* state = State(storage_);
  if (state->event != nullptr) CloseHandle(state->event);
}

void Wakeup::Wait() {
  WakeupState* state = State(storage_);
  if (state->event != nullptr) {
    WaitForSingleObject(state->event, INFINITE);
    return;
  }
  while (InterlockedCompareExchange(&state->signalled, 0, 0) == 0) Sleep(1);
}

void Wakeup::Signal() {
  WakeupState* state = State(storage_);
  if (state->event != nullptr) {
    SetEvent(state->event);
    return;
  }
  InterlockedExchange(&state->signalled, 1);
}

void CancellationPoint() {}

CancellationState HoldOffCancellation() {
  return 0;
}

void RestoreCancellation(CancellationState /*previous*/) {}

void CallAroundFork(void (* /*prepare*/)(), void (* /*parent*/)(), void (* /*child*/)()) {}

}  // namespace orvex::port
