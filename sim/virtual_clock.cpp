#include "virtual_clock.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace orvex::sim {
namespace {

struct ThreadTimeline {
  std::uint64_t epoch = 0;
  Microseconds now = 0;
};

thread_local ThreadTimeline this_thread_timeline;

// Epochs are unique among all clocks, so a thread that talks to two of them
// never takes one's timeline for the other's.
std::uint64_t NextEpoch() {
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
    : clock_(clock), real_origin_(SteadyNanoseconds()), epoch_(NextEpoch()) {}

Microseconds VirtualClock::RealNow() const {
  const std::int64_t since_origin = SteadyNanoseconds() - real_origin_.load();
  return since_origin <= 0 ? 0 : static_cast<Microseconds>(since_origin / 1000);
}

// The controllers' time only ever moves forward.
void VirtualClock::RaiseTo(Microseconds time) {
  Microseconds seen = now_.load(std::memory_order_relaxed);
  while (seen < time && !now_.compare_exchange_weak(seen, time, std::memory_order_acq_rel)) {
  }
}

Microseconds VirtualClock::Now() {
  if (InUse() == Clock::Real) RaiseTo(RealNow());
  return now_.load(std::memory_order_acquire);
}

Microseconds VirtualClock::Peek() const {
  const Microseconds now = now_.load(std::memory_order_acquire);
  return InUse() == Clock::Real ? std::max(now, RealNow()) : now;
}

// On the real clock all threads share the controllers' time.
Microseconds VirtualClock::ThreadNow() {
  if (InUse() == Clock::Real) return Now();
  const std::uint64_t epoch = epoch_.load(std::memory_order_acquire);
  if (this_thread_timeline.epoch != epoch) this_thread_timeline = {epoch, Now()};
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
  std::function<void()> observer;
  {
    const std::lock_guard lock(pauses_mutex_);
    pauses_[pause_count_ % kPauseCapacity] = {ThreadNow(), length};
    ++pause_count_;
    paused_total_ += length;
    observer = pause_observer_;
  }
  const bool sleeps = InUse() == Clock::Real;
  Spend(length);
  if (sleeps) std::this_thread::sleep_for(std::chrono::microseconds(length));
  if (observer) observer();
}

void VirtualClock::SetPauseObserver(std::function<void()> observer) {
  const std::lock_guard lock(pauses_mutex_);
  pause_observer_ = std::move(observer);
}

std::uint64_t VirtualClock::Nanoseconds() const {
  if (InUse() == Clock::Virtual) return now_.load(std::memory_order_acquire) * 1000;
  const std::int64_t since_origin = SteadyNanoseconds() - real_origin_.load();
  return since_origin <= 0 ? 0 : static_cast<std::uint64_t>(since_origin);
}

void VirtualClock::StartNewEpoch() {
  epoch_.store(NextEpoch(), std::memory_order_release);
}

void VirtualClock::Set(Clock clock) {
  const Microseconds now = Now();
  real_origin_.store(SteadyNanoseconds() - static_cast<std::int64_t>(now) * 1000);
  clock_.store(clock, std::memory_order_release);
  StartNewEpoch();
}

void VirtualClock::Restart() {
  now_.store(0, std::memory_order_release);
  real_origin_.store(SteadyNanoseconds());
  StartNewEpoch();
  const std::lock_guard lock(pauses_mutex_);
  pause_count_ = 0;
  paused_total_ = 0;
  pause_observer_ = nullptr;
}

std::vector<PauseRecord> VirtualClock::Pauses() const {
  const std::lock_guard lock(pauses_mutex_);
  const std::size_t kept = std::min(pause_count_, kPauseCapacity);
  std::vector<PauseRecord> pauses;
  for (std::size_t index = pause_count_ - kept; index < pause_count_; ++index) {
    pauses.push_back(pauses_[index % kPauseCapacity]);
  }
  return pauses;
}

Microseconds VirtualClock::PausedTotal() const {
  const std::lock_guard lock(pauses_mutex_);
  return paused_total_;
}

}  // namespace orvex::sim
