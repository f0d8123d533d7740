// A virtual two-axis motion controller behind the data register (0x340) and
// the handshake register (0x341), written from the controller's side of the
// byte handshake.
//
// It runs on a virtual clock: every port access costs one microsecond and a
// pause advances the clock by its length, so time-outs come out exactly and
// do not depend on the speed of the machine. Each host thread lives on its
// own virtual timeline (its accesses and pauses advance it, and its clock
// readings show it), so one thread's pause does not eat into the readiness
// window of another; the controller's own time (motion, line times) is the
// furthest any thread has got. It keeps a transcript of the
// lines it received, counts port accesses, and can be told to misbehave
// through named fault settings.
//
// Every member function is safe to call from any thread. Nothing on the port
// path allocates.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

  // Test side.
  void Reset();  // healthy, idle, clock at 0, empty transcript and counters
  void SetFaults(const Faults& faults);
  void ClearFaults();  // healthy again and idle, abandoning any reply in progress
  // Bytes to offer, through the reply half of the handshake, after the next
  // query ("1TP", "2TP", "TS"), instead of the controller's own answer: any
  // bytes, with or without a line feed.
  void QueueReply(std::string_view bytes);
  // An axis (0 for axis 1, 1 for axis 2) as it stands at the present virtual time.
  AxisState Axis(std::size_t index);
  std::uint64_t UnknownCommands() const;

  // Called with every line as it completes, under the controller's own lock:
  // the observer must not touch the controller or the library.
  void SetLineObserver(std::function<void(const ReceivedLine&)> observer);
  // Called on the pausing thread at the end of every pause, outside the
  // controller's own lock, so it may drive the controller from other threads.
  void SetPauseObserver(std::function<void()> observer);

  Microseconds Now() const;
  void AdvanceClock(Microseconds by);
  std::uint64_t PortReads() const;
  std::uint64_t PortWrites() const;
  std::uint64_t ProtocolErrors() const;  // strobes and releases out of turn
  std::uint64_t BytesTaken() const;
  std::size_t LineCount() const;                                // lines kept in the transcript
  std::optional<ReceivedLine> LineAt(std::size_t index) const;  // 0 is the oldest kept
  std::vector<std::string> LineTexts() const;
  std::vector<ReceivedLine> Lines() const;
  std::vector<PauseRecord> Pauses() const;
  Microseconds PausedTotal() const;

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
  void StallHostWhenDue();
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
  Microseconds& ThreadNow();
  void Spend(Microseconds length);
  void ToIdle();

  mutable std::mutex mutex_;
  Faults faults_;
  Phase phase_ = Phase::Idle;
  Microseconds now_ = 0;
  std::uint64_t epoch_ = 1;  // a new one on every reset, so each thread's clock starts over
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

// The one controller behind the virtual-controller build's ports.
VirtualController& TheController();

}  // namespace orvex::sim
