// A virtual two-axis motion controller card on the virtual bus, at the base
// its switches select: the data register there, the handshake register
// after it, written from the controller's side of the byte handshake.
//
// Its parts: the handshake (handshake.h), the faults it can be told to have
// (fault_plan.h), what it does with a line (command_interpreter.h), the lines
// it received (transcript.h) and a recording of its bus cycles
// (bus_recorder.h). Its time is the bus's clock (virtual_clock.h), shared by
// every card on the bus. All it remembers is one struct of plain data
// (card_state.h): its own, or a card's in a bus that several processes share,
// guarded then by a lock that works across them (shared_lock.h); the line
// observer, the recording's open file and the test side's death hook belong
// to the process.
//
// Every member function is safe to call from any thread. Nothing on the port
// path allocates.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "bus_recorder.h"
#include "card_state.h"
#include "command_interpreter.h"
#include "fault_plan.h"
#include "handshake.h"
#include "motion_model.h"
#include "state_lock.h"
#include "transcript.h"
#include "virtual_clock.h"

namespace orvex::sim {

// The registers of the factory's card.
inline constexpr std::uint16_t kDataRegister = 0x340;
inline constexpr std::uint16_t kHandshakeRegister = 0x341;

// The controller's counters, all read at one moment.
struct Counters {
  Microseconds now = 0;  // the bus's clock
  std::uint64_t port_reads = 0;
  std::uint64_t port_writes = 0;
  std::uint64_t protocol_errors = 0;  // strobes and releases out of turn
  std::uint64_t bytes_taken = 0;
  std::uint64_t unknown_commands = 0;
  std::uint64_t lines_kept = 0;  // lines in the transcript, each of a run counted
  std::size_t entries_kept = 0;  // its entries: a run of one line in a row is one
  Microseconds paused_total = 0;

  std::uint64_t PortAccesses() const { return port_reads + port_writes; }
};

class VirtualController final : private LineSink {
 public:
  static constexpr std::size_t kTranscriptCapacity = Transcript::kCapacity;
  static constexpr std::size_t kPauseCapacity = VirtualClock::kPauseCapacity;
  static constexpr std::size_t kReplyCapacity = ControllerHandshake::kReplyCapacity;
  static constexpr Microseconds kPortAccessCost = 1;

  // A card at `base` (its data register; the handshake register follows),
  // on the bus whose clock is `clock`.
  VirtualController(std::uint16_t base, VirtualClock& clock);
  // This process's part of the card whose state is `state`, elsewhere (in a
  // bus shared between processes), guarded by `lock`.
  VirtualController(CardState& state, std::unique_ptr<StateLock> lock, VirtualClock& clock);
  // A card at 0x340 on a clock of its own, the virtual one, for a test that
  // drives its registers itself.
  VirtualController();
  VirtualController(const VirtualController&) = delete;
  VirtualController& operator=(const VirtualController&) = delete;

  std::uint16_t Base() const { return state_.base; }
  // Whether `address` is one of this card's two registers.
  bool Decodes(std::uint16_t address) const {
    return static_cast<std::uint16_t>(address - state_.base) < 2;
  }

  // Host side: an access to one of the card's registers, and the bus's clock
  // and pause as the host thread sees them.
  std::uint8_t ReadPort(std::uint16_t address);
  void WritePort(std::uint16_t address, std::uint8_t value);
  double NowSeconds();
  void Pause(unsigned milliseconds);

  // Test side.
  // The card healthy, idle, with empty transcript and counters, its axes at
  // rest at zero; and the bus's clock back at 0, its pauses forgotten. A
  // recording of the bus carries on.
  void Reset();
  // The card alone as after Reset, the clock running on.
  void ResetCard();
  // The bus's clock, for every card on it.
  void SetClock(Clock clock);
  Clock ClockInUse() const;
  void SetFaults(const Faults& faults);
  // Changes the faults in place: `change(faults, bytes_taken)` runs under the
  // controller's lock with the bytes taken so far, so byte numbers can be set
  // relative to them.
  template <typename Change>
  void ChangeFaults(Change change) {
    const std::lock_guard lock(*lock_);
    Faults faults = state_.faults.Get();
    change(faults, state_.handshake.BytesTaken());
    state_.faults.Set(faults);
  }
  void ClearFaults();  // healthy again and idle, abandoning any reply in progress
  // Bytes to offer, through the reply half of the handshake, after the next
  // query ("1TP", "2TP", "TS"), instead of the controller's own answer: any
  // bytes, with or without a line feed.
  void QueueReply(std::string_view bytes);
  // An axis (0 for axis 1, 1 for axis 2) as it stands at the present time.
  AxisState Axis(std::size_t index);

  // Records every access to this card from now on into a Value Change Dump
  // at `path`, with a GTKWave save file beside it; ends any recording in
  // progress first. False when a file cannot be written.
  bool RecordBus(const std::string& path);
  void StopRecordingBus();

  // Called with every line as it completes, under the controller's own lock:
  // the observer must not touch the controller or the library. On a shared
  // bus, for the lines this process's threads complete.
  void SetLineObserver(std::function<void(const ReceivedLine&)> observer);
  // Called on the pausing thread at the end of every pause of the bus,
  // outside every lock, so it may drive the controller from other threads.
  void SetPauseObserver(std::function<void()> observer);

  // On the real clock, `now` is the time of the reading.
  Counters Snapshot() const;
  Microseconds Now() const { return Snapshot().now; }
  // Entry `index` of the transcript (0 is the oldest kept): a line, or a run
  // of one line in a row with its count.
  std::optional<ReceivedLine> EntryAt(std::size_t index) const;
  // The lines the entries kept stand for, each of a run on its own.
  std::vector<std::string> LineTexts() const;
  std::vector<ReceivedLine> Lines() const;
  std::vector<PauseRecord> Pauses() const;

  // For a test harness that kills processes in the middle of a line: the
  // calling process ends at once, as by SIGKILL (TerminateProcess on
  // Windows), right before or right after its `access`-th port access to
  // this card from now on (1 is the next), within that access's hold of the
  // card's lock, as a process killed in the middle of an access would. 0
  // disarms it. Only this process's own accesses count.
  // BeforeAccess and AfterAccess kill the process holding the card's lock,
  // as a kill from outside in the middle of the access would;
  // StoppedBeforeAccess stops it (SIGSTOP) before it takes the lock, as a
  // debugger or Ctrl-Z would between two accesses, and it runs on when
  // continued.
  enum class Death : std::uint8_t { BeforeAccess, AfterAccess, StoppedBeforeAccess };
  void SetDeathAtAccess(std::uint64_t access, Death moment);

 private:
  std::optional<std::size_t> LineCompleted(const ReceivedLine& line,
                                           std::span<std::uint8_t> reply) override;
  bool IsHandshake(std::uint16_t address) const { return address == state_.base + 1; }
  void CatchUp();
  // Under the lock, at `moment` of an access.
  void CountTowardsDeath(Death moment);
  void StopWhenDue();

  std::unique_ptr<CardState> own_state_;
  CardState& state_;
  const std::unique_ptr<StateLock> lock_;
  std::unique_ptr<VirtualClock> own_clock_;
  VirtualClock& clock_;
  BusRecorder bus_recorder_;
  // This process's, under the lock.
  std::function<void(const ReceivedLine&)> line_observer_;
  std::uint64_t accesses_until_death_ = 0;  // 0: none is due; this process's own
  Death death_moment_ = Death::BeforeAccess;
};

}  // namespace orvex::sim
