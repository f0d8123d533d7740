#include "virtual_clock.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace orvex::sim {
namespace {

// Processes sharing a clock read and move these at once: atomics that need
// no lock, and so work the same in memory shared between processes.
static_assert(std::atomic_ref<std::uint64_t>::is_always_lock_free);
static_assert(std::atomic_ref<std::int64_t>::is_always_lock_free);
static_assert(std::atomic_ref<std::uint32_t>::is_always_lock_free);

template <typename Value>
std::atomic_ref<Value> Atomic(Value& value) {
  return std::atomic_ref<Value>(value);
}

struct ThreadTimeline {
  const ClockState* clock = nullptr;
  std::uint64_t epoch = 0;
  Microseconds now = 0;
};

thread_local ThreadTimeline this_thread_timeline;

// A clock of the process's own takes its epochs from one counter for all of
// them; a shared clock counts its own from the top bit up. A thread's
// timeline names its clock's state too, so the two never meet: not even a
// shared bus mapped where a clock of the process's own once was.
constexpr std::uint64_t kFirstSharedEpoch = std::uint64_t{1} << 63;

std::uint64_t NextOwnEpoch() {
  static std::atomic<std::uint64_t> last{0};
  return ++last;
}

std::int64_t SteadyNanoseconds() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

Clock ClockFromEnvironment() {
  const char* chosen = std::getenv(kClockVariable);
  if (chosen != nullptr && std::string_view(chosen) == "virtual") return Clock::Virtual;
  return Clock::Real;
}

VirtualClock::VirtualClock(Clock clock)
    : own_state_(std::make_unique<ClockState>()),
      own_lock_(std::make_unique<ProcessLock>()),
      state_(*own_state_),
      pauses_lock_(*own_lock_),
      shared_(false) {
  state_.clock = static_cast<std::uint32_t>(clock);
  state_.real_origin = SteadyNanoseconds();
  state_.epoch = NextOwnEpoch();
}

VirtualClock::VirtualClock(ClockState& state, StateLock& lock)
    : state_(state), pauses_lock_(lock), shared_(true) {}

void VirtualClock::StartShared(ClockState& state, Clock clock) {
  state = ClockState{};
  state.clock = static_cast<std::uint32_t>(clock);
  state.real_origin = SteadyNanoseconds();
  state.epoch = kFirstSharedEpoch;
}

Clock VirtualClock::InUse() const {
  return static_cast<Clock>(Atomic(state_.clock).load(std::memory_order_acquire));
}

Microseconds VirtualClock::RealNow() const {
  const std::int64_t since_origin = SteadyNanoseconds() - Atomic(state_.real_origin).load();
  return since_origin <= 0 ? 0 : static_cast<Microseconds>(since_origin / 1000);
}

// The controllers' time only ever moves forward.
void VirtualClock::RaiseTo(Microseconds time) {
  std::atomic_ref<Microseconds> now = Atomic(state_.now);
  Microseconds seen = now.load(std::memory_order_relaxed);
  while (seen < time && !now.compare_exchange_weak(seen, time, std::memory_order_acq_rel)) {
  }
}

Microseconds VirtualClock::Now() {
  if (InUse() == Clock::Real) RaiseTo(RealNow());
  return Atomic(state_.now).load(std::memory_order_acquire);
}

Microseconds VirtualClock::Peek() const {
  const Microseconds now = Atomic(state_.now).load(std::memory_order_acquire);
  return InUse() == Clock::Real ? std::max(now, RealNow()) : now;
}

// On the real clock all threads share the controllers' time.
Microseconds VirtualClock::ThreadNow() {
  if (InUse() == Clock::Real) return Now();
  const std::uint64_t epoch = Atomic(state_.epoch).load(std::memory_order_acquire);
  if (this_thread_timeline.clock != &state_ || this_thread_timeline.epoch != epoch) {
    this_thread_timeline = {&state_, epoch, Now()};
  }
  return this_thread_timeline.now;
}

void VirtualClock::Spend(Microseconds length) {
  if (InUse() == Clock::Real) return;
  (void)ThreadNow();
  this_thread_timeline.now += length;
  RaiseTo(this_thread_timeline.now);
}

void VirtualClock::Pause(unsigned milliseconds) {
  const Microseconds length = Microseconds{milliseconds} * 1000;
  {
    const std::lock_guard lock(pauses_lock_);
    state_.pauses[state_.pause_count % kPauseCapacity] = {ThreadNow(), length};
    ++state_.pause_count;
    state_.paused_total += length;
  }
  const std::function<void()> observer = PauseObserver();
  const bool sleeps = InUse() == Clock::Real;
  Spend(length);
  if (sleeps) std::this_thread::sleep_for(std::chrono::microseconds(length));
  if (observer) observer();
}

std::function<void()> VirtualClock::PauseObserver() {
  const std::lock_guard lock(observer_mutex_);
  return pause_observer_;
}

void VirtualClock::SetPauseObserver(std::function<void()> observer) {
  const std::lock_guard lock(observer_mutex_);
  pause_observer_ = std::move(observer);
}

std::uint64_t VirtualClock::Nanoseconds() const {
  if (InUse() == Clock::Virtual) return Atomic(state_.now).load(std::memory_order_acquire) * 1000;
  const std::int64_t since_origin = SteadyNanoseconds() - Atomic(state_.real_origin).load();
  return since_origin <= 0 ? 0 : static_cast<std::uint64_t>(since_origin);
}

void VirtualClock::StartNewEpoch() {
  if (shared_) {
    Atomic(state_.epoch).fetch_add(1, std::memory_order_acq_rel);
  } else {
    Atomic(state_.epoch).store(NextOwnEpoch(), std::memory_order_release);
  }
}

void VirtualClock::Set(Clock clock) {
  const Microseconds now = Now();
  Atomic(state_.real_origin).store(SteadyNanoseconds() - static_cast<std::int64_t>(now) * 1000);
  Atomic(state_.clock).store(static_cast<std::uint32_t>(clock), std::memory_order_release);
  StartNewEpoch();
}

void VirtualClock::Restart() {
  Atomic(state_.now).store(0, std::memory_order_release);
  Atomic(state_.real_origin).store(SteadyNanoseconds());
  StartNewEpoch();
  {
    const std::lock_guard lock(pauses_lock_);
    state_.pause_count = 0;
    state_.paused_total = 0;
  }
  SetPauseObserver(nullptr);
}

std::vector<PauseRecord> VirtualClock::Pauses() const {
  const std::lock_guard lock(pauses_lock_);
  const std::uint64_t kept = std::min<std::uint64_t>(state_.pause_count, kPauseCapacity);
  std::vector<PauseRecord> pauses;
  for (std::uint64_t index = state_.pause_count - kept; index < state_.pause_count; ++index) {
    pauses.push_back(state_.pauses[index % kPauseCapacity]);
  }
  return pauses;
}

Microseconds VirtualClock::PausedTotal() const {
  const std::lock_guard lock(pauses_lock_);
  return state_.paused_total;
}

}  // namespace orvex::sim
