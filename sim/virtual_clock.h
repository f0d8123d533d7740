// The virtual bus's one clock, shared by every card on it.
//
// It runs in one of two ways. On the real clock (the shipped build's default)
// its time is the machine's steady clock since the last restart: a move takes
// as long as its speed and acceleration say and a pause really sleeps,
// however the host polls. On the virtual clock every port access costs one
// microsecond and a pause advances the clock by its length, so time-outs come
// out exactly and do not depend on the speed of the machine. There each host
// thread lives on its own virtual timeline (its accesses and pauses advance
// it, and its clock readings show it), so one thread's pause does not eat
// into the readiness window of another; the controllers' own time (motion,
// line times) is the furthest any thread has got.
//
// Every member function is safe to call from any thread; the ones a port
// access uses take no lock.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "motion_model.h"

namespace orvex::sim {

// Which clock the bus runs on; see the top of this file.
enum class Clock : std::uint8_t { Real, Virtual };

// The clock named by the environment variable kClockVariable ("virtual" or
// "real"); the real clock when it is unset or names neither.
inline constexpr const char* kClockVariable = "ORVEXPORTIO_SIM_CLOCK";
Clock ClockFromEnvironment();

struct PauseRecord {
  Microseconds started_at = 0;
  Microseconds length = 0;
};

class VirtualClock {
 public:
  static constexpr std::size_t kPauseCapacity = 256;

  explicit VirtualClock(Clock clock);
  VirtualClock(const VirtualClock&) = delete;
  VirtualClock& operator=(const VirtualClock&) = delete;

  // The controllers' present: on the real clock the steady clock's, on the
  // virtual clock the furthest any thread has got.
  Microseconds Now();
  // The present without moving anything, for a reading from the test side.
  Microseconds Peek() const;
  // The calling thread's reading: on the virtual clock its own timeline.
  Microseconds ThreadNow();
  // The calling thread spends `length`: on the virtual clock its timeline
  // moves, and the controllers' time with it; on the real clock time passes
  // by itself.
  void Spend(Microseconds length);
  // The calling thread pauses for `milliseconds`: recorded and spent, and on
  // the real clock slept; then the pause observer, if any, is called.
  void Pause(unsigned milliseconds);
  // Called on the pausing thread at the end of every pause, outside every
  // lock, so it may drive the controllers from other threads.
  void SetPauseObserver(std::function<void()> observer);
  // Nanoseconds for a recording of the bus: finer than Now on the real clock.
  std::uint64_t Nanoseconds() const;

  // Runs on `clock` from now on; the time carries on from where it stands,
  // and threads' virtual timelines start over from it.
  void Set(Clock clock);
  Clock InUse() const { return clock_.load(std::memory_order_acquire); }
  // Back to 0, with every thread's timeline and the pause record.
  void Restart();

  std::vector<PauseRecord> Pauses() const;
  Microseconds PausedTotal() const;

 private:
  Microseconds RealNow() const;
  void RaiseTo(Microseconds time);
  void StartNewEpoch();

  std::atomic<Clock> clock_;
  std::atomic<Microseconds> now_{0};
  // On the real clock: the steady clock's nanoseconds at which the time was 0.
  std::atomic<std::int64_t> real_origin_;
  // A new one, unique among all clocks, on every restart and change of clock,
  // so each thread's virtual timeline starts over.
  std::atomic<std::uint64_t> epoch_;

  mutable std::mutex pauses_mutex_;
  std::array<PauseRecord, kPauseCapacity> pauses_{};
  std::size_t pause_count_ = 0;
  Microseconds paused_total_ = 0;
  std::function<void()> pause_observer_;
};

}  // namespace orvex::sim
