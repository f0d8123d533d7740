// A virtual two-axis motion controller behind the data register (0x340) and
// the handshake register (0x341), written from the controller's side of the
// byte handshake.
//
// It runs on one of two clocks. On the real clock (the shipped build's
// default) its time is the machine's steady clock since the reset: a move
// takes as long as its speed and acceleration say and a pause really sleeps,
// however the host polls. On the virtual clock every port access costs one microsecond and a
// pause advances the clock by its length, so time-outs come out exactly and
// do not depend on the speed of the machine. There each host thread lives on
// its own virtual timeline (its accesses and pauses advance it, and its clock
// readings show it), so one thread's pause does not eat into the readiness
// window of another; the controller's own time (motion, line times) is the
// furthest any thread has got. It keeps a transcript of the lines it
// received, counts port accesses, can record the bus as a waveform, and can
// be told to misbehave through named fault settings.
//
// Every member function is safe to call from any thread. Nothing on the port
// path allocates.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bus_recorder.h"
#include "command_interpreter.h"
#include "motion_model.h"

namespace orvex::sim {

// What the controller shows on its handshake register.
inline constexpr std::uint8_t kShowsReady = 0x80;
inline constexpr std::uint8_t kShowsPending = 0x00;
inline constexpr std::uint8_t kShowsBusy = 0x01;

inline constexpr std::uint16_t kDataRegister = 0x340;
inline constexpr std::uint16_t kHandshakeRegister = 0x341;

// A line the controller received, carriage return included.
struct ReceivedLine {
  static constexpr std::size_t kCapacity = 64;
  std::array<char, kCapacity> bytes{};
  std::size_t length = 0;
  bool overlong = false;          // more bytes came than the controller keeps
  Microseconds completed_at = 0;  // virtual time of its last byte

  std::string_view Text() const { return {bytes.data(), length}; }
};

// Named ways for the controller to misbehave. Byte numbers count every byte
// the controller has taken since it was reset, from 0.
struct Faults {
  // The controller takes no part in the handshake any more: its handshake
  // register reads kShowsBusy and it ignores what the host writes.
  bool silent = false;
  // The handshake register reads this value whatever happens.
  std::optional<std::uint8_t> stuck_handshake;
  // Once this many bytes were taken, READY is never shown again.
  std::optional<std::uint64_t> dies_after_bytes;
  // READY is withheld before byte `before_byte` until `delay` has passed since
  // the host first looked for it.
  struct ReadinessDelay {
    std::uint64_t before_byte = 0;
    Microseconds delay = 0;
  };
  std::optional<ReadinessDelay> readiness_delay;
  // The strobe of this byte is taken but never acknowledged.
  std::optional<std::uint64_t> never_acknowledges_byte;
  // What the handshake register shows while a reply byte stands on the data
  // register (0x80 to 0xFF).
  std::uint8_t reply_standing_value = kShowsReady;
  // After this many bytes of a reply the controller stops offering the rest.
  std::optional<std::size_t> reply_stops_after;
  // Replies never end: after their first byte the controller keeps offering
  // '9' and never a line feed.
  bool endless_reply = false;
  // Not the controller's fault: the host thread is descheduled for `length`
  // right after its `after_looks`-th look at the handshake register, and,
  // with `every_look`, after each look from then on.
  struct HostStall {
    std::uint64_t after_looks = 0;
    Microseconds length = 0;
    bool every_look = false;
  };
  std::optional<HostStall> host_stall;
  // Every reply carries kOverlongPadding extra '7's before its last byte.
  bool overlong_replies = false;
  // Every reply is replaced by kBinaryReply: NUL and bytes above 0x7F.
  bool binary_replies = false;
};

inline constexpr std::size_t kOverlongPadding = 300;
inline constexpr std::string_view kBinaryReply{"\x00\x80\xFF\xC3\r\n", 6};

// Which clock the controller runs on; see the top of this file.
enum class Clock : std::uint8_t { Real, Virtual };

// The clock named by the environment variable kClockVariable ("virtual" or
// "real"); the real clock when it is unset or names neither.
inline constexpr const char* kClockVariable = "ORVEXPORTIO_SIM_CLOCK";
Clock ClockFromEnvironment();

// The controller's counters, all read at one moment.
struct Counters {
  Microseconds now = 0;  // the controller's clock
  std::uint64_t port_reads = 0;
  std::uint64_t port_writes = 0;
  std::uint64_t protocol_errors = 0;  // strobes and releases out of turn
  std::uint64_t bytes_taken = 0;
  std::uint64_t unknown_commands = 0;
  std::size_t lines_kept = 0;  // lines in the transcript
  Microseconds paused_total = 0;

  std::uint64_t PortAccesses() const { return port_reads + port_writes; }
};

struct PauseRecord {
  Microseconds started_at = 0;
  Microseconds length = 0;
};

class VirtualController {
 public:
  static constexpr std::size_t kTranscriptCapacity = 16384;
  static constexpr std::size_t kPauseCapacity = 256;
  static constexpr std::size_t kReplyCapacity = 2048;
  static constexpr Microseconds kPortAccessCost = 1;

  // Host side: the platform touch points.
  std::uint8_t ReadPort(std::uint16_t address);
  void WritePort(std::uint16_t address, std::uint8_t value);
  double NowSeconds();
  void Pause(unsigned milliseconds);

  // Test side. A controller made in code runs on the virtual clock unless
  // told otherwise; the build's one controller (TheController) runs on the
  // clock the environment names, the real one by default.
  explicit VirtualController(Clock clock = Clock::Virtual);
  // Healthy, idle, clock at 0, empty transcript and counters. The choice of
  // clock and a recording of the bus carry on.
  void Reset();
  // Changes the clock from now on; the controller's time carries on from
  // where it stands, and threads' virtual timelines start over from it.
  void SetClock(Clock clock);
  Clock ClockInUse() const;
  void SetFaults(const Faults& faults);
  // Changes the faults in place: `change(faults, bytes_taken)` runs under the
  // controller's lock with the bytes taken so far, so byte numbers can be set
  // relative to them.
  template <typename Change>
  void ChangeFaults(Change change) {
    const std::lock_guard lock(mutex_);
    change(faults_, bytes_taken_);
    handshake_looks_ = 0;
  }
  void ClearFaults();  // healthy again and idle, abandoning any reply in progress
  // Bytes to offer, through the reply half of the handshake, after the next
  // query ("1TP", "2TP", "TS"), instead of the controller's own answer: any
  // bytes, with or without a line feed.
  void QueueReply(std::string_view bytes);
  // An axis (0 for axis 1, 1 for axis 2) as it stands at the controller's present time.
  AxisState Axis(std::size_t index);

  // Records every port access from now on into a Value Change Dump at `path`,
  // with a GTKWave save file beside it; ends any recording in progress first.
  // False when a file cannot be written.
  bool RecordBus(const std::string& path);
  void StopRecordingBus();

  // Called with every line as it completes, under the controller's own lock:
  // the observer must not touch the controller or the library.
  void SetLineObserver(std::function<void(const ReceivedLine&)> observer);
  // Called on the pausing thread at the end of every pause, outside the
  // controller's own lock, so it may drive the controller from other threads.
  void SetPauseObserver(std::function<void()> observer);

  // On the real clock, `now` is the time of the reading.
  Counters Snapshot() const;
  Microseconds Now() const { return Snapshot().now; }
  std::optional<ReceivedLine> LineAt(std::size_t index) const;  // 0 is the oldest kept
  std::vector<std::string> LineTexts() const;
  std::vector<ReceivedLine> Lines() const;
  std::vector<PauseRecord> Pauses() const;

 private:
  enum class Phase : std::uint8_t {
    Idle,            // READY, unless readiness is withheld
    ByteTaken,       // a strobed command byte taken: shows PENDING until released
    Unacknowledged,  // a strobed command byte never acknowledged
    LineDone,        // READY for one look after the line, then a reply is offered
    ReplyOffered,    // PENDING: a reply byte waits to be asked for
    ReplyStanding,   // the reply byte stands on the data register
  };

  std::uint8_t ReadHandshake();
  Microseconds StallHostWhenDue();
  std::uint8_t ShowWhenIdle();
  bool ReadinessWithheld();
  void WriteHandshake(std::uint8_t value);
  void Strobe();
  void Release();
  void TakeByte(std::uint8_t byte);
  void CompleteLine();
  void StartReply(std::size_t length);
  std::size_t ApplyReplyFaults(std::size_t length);
  void RecordLine(const ReceivedLine& line);
  bool ReplyExhausted() const;
  std::uint8_t NextReplyByte() const;
  std::size_t KeptLines() const;
  Microseconds RealNow() const;
  void CatchUp();
  Microseconds& ThreadNow();
  void Spend(Microseconds length);
  void StartNewEpoch();
  void ToIdle();
  std::uint64_t BusNanoseconds() const;

  mutable std::mutex mutex_;
  Faults faults_;
  Phase phase_ = Phase::Idle;
  Clock clock_;
  Microseconds now_ = 0;
  // On the real clock: the steady-clock moment at which the controller's time was 0.
  std::chrono::steady_clock::time_point real_origin_;
  // A new one, unique among all controllers, on every reset and change of
  // clock, so each thread's virtual clock starts over.
  std::uint64_t epoch_ = 0;
  BusRecorder bus_recorder_;
  std::uint8_t data_register_ = 0;
  std::uint64_t bytes_taken_ = 0;
  std::uint64_t handshake_looks_ = 0;  // since the faults were set
  std::uint64_t port_reads_ = 0;
  std::uint64_t port_writes_ = 0;
  std::uint64_t protocol_errors_ = 0;
  std::optional<Microseconds> first_look_for_ready_;
  CommandInterpreter interpreter_;

  ReceivedLine current_line_;
  std::array<ReceivedLine, kTranscriptCapacity> transcript_{};
  std::size_t lines_received_ = 0;
  std::array<PauseRecord, kPauseCapacity> pauses_{};
  std::size_t pause_count_ = 0;
  Microseconds paused_total_ = 0;
  std::function<void()> pause_observer_;
  std::function<void(const ReceivedLine&)> line_observer_;

  std::array<std::uint8_t, kReplyCapacity> queued_reply_{};
  std::optional<std::size_t> queued_reply_length_;
  std::array<std::uint8_t, kReplyCapacity> reply_{};
  std::size_t reply_length_ = 0;
  std::size_t reply_offered_ = 0;
};

// The one controller behind the virtual-controller build's ports, made on
// first use on the clock ClockFromEnvironment names.
VirtualController& TheController();

}  // namespace orvex::sim
