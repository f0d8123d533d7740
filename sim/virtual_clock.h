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
// Its state (ClockState) is plain data, the process's own or in a bus shared
// between processes (shared_bus.h); then every process reads and moves the
// one time, and on the real clock all measure it from one origin on the
// machine's steady clock (CLOCK_MONOTONIC, or the performance counter on
// Windows), which all processes share. The pause observer and each thread's
// timeline stay with the process.
//
// Every member function is safe to call from any thread; the ones a port
// access uses take no lock.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "motion_model.h"
#include "state_lock.h"

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

// The clock's state: plain data of fixed widths (card_state.h says why). The
// first four are read and written as atomics (std::atomic_ref), the pauses
// under the clock's lock.
struct ClockState {
  static constexpr std::size_t kPauseCapacity = 256;

  std::uint32_t clock = 0;  // a Clock
  std::uint32_t padding = 0;
  Microseconds now = 0;
  // On the real clock: the steady clock's nanoseconds at which the time was 0.
  std::int64_t real_origin = 0;
  // A new one on every restart and change of clock, so each thread's virtual
  // timeline starts over.
  std::uint64_t epoch = 0;
  std::uint64_t pause_count = 0;
  Microseconds paused_total = 0;
  std::array<PauseRecord, kPauseCapacity> pauses{};
};

class VirtualClock {
 public:
  static constexpr std::size_t kPauseCapacity = ClockState::kPauseCapacity;

  // A clock of the process's own, running on `clock`.
  explicit VirtualClock(Clock clock);
  // The clock whose state is `state`, in a bus shared between processes,
  // its pauses guarded by `lock`: its state as another process left it.
  VirtualClock(ClockState& state, StateLock& lock);
  // Fills `state` for a new shared bus, running on `clock`.
  static void StartShared(ClockState& state, Clock clock);
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
  Clock InUse() const;
  // Back to 0, with every thread's timeline and the pause record.
  void Restart();

  std::vector<PauseRecord> Pauses() const;
  Microseconds PausedTotal() const;

 private:
  Microseconds RealNow() const;
  void RaiseTo(Microseconds time);
  void StartNewEpoch();
  std::function<void()> PauseObserver();

  std::unique_ptr<ClockState> own_state_;
  std::unique_ptr<StateLock> own_lock_;
  ClockState& state_;
  StateLock& pauses_lock_;  // for state_.pauses, pause_count and paused_total
  const bool shared_;

  std::mutex observer_mutex_;
  std::function<void()> pause_observer_;
};

}  // namespace orvex::sim
