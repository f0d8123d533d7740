#include "virtual_controller.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace orvex::sim {
namespace {

constexpr std::uint8_t kCarriageReturn = '\r';
constexpr std::uint8_t kEndlessReplyFiller = '9';
constexpr std::uint8_t kStrobe = 0x80;
constexpr std::uint8_t kRelease = 0x00;
constexpr std::uint8_t kEmptyBus = 0xFF;

struct ThreadClock {
  std::uint64_t epoch = 0;
  Microseconds now = 0;
};

thread_local ThreadClock this_thread_clock;

// Epochs are unique among all controllers, so a thread that talks to two of
// them never takes one's timeline for the other's.
std::uint64_t NextEpoch() {
  static std::atomic<std::uint64_t> last{0};
  return ++last;
}

void SleepFor(Microseconds length) {
  if (length > 0) std::this_thread::sleep_for(std::chrono::microseconds(length));
}

}  // namespace

Clock ClockFromEnvironment() {
  const char* chosen = std::getenv(kClockVariable);
  if (chosen != nullptr && std::string_view(chosen) == "virtual") return Clock::Virtual;
  return Clock::Real;
}

VirtualController::VirtualController(Clock clock)
    : clock_(clock), real_origin_(std::chrono::steady_clock::now()), epoch_(NextEpoch()) {}

// ---- Host side --------------------------------------------------------------

std::uint8_t VirtualController::ReadPort(std::uint16_t address) {
  Microseconds stall = 0;
  bool real_clock = false;
  std::uint8_t value = kEmptyBus;
  {
    const std::lock_guard lock(mutex_);
    real_clock = clock_ == Clock::Real;
    CatchUp();
    ++port_reads_;
    if (address == kHandshakeRegister) value = ReadHandshake();
    if (address == kDataRegister) value = data_register_;
    bus_recorder_.Access(BusNanoseconds(), BusDirection::Read, address, value);
    Spend(kPortAccessCost);
    if (address == kHandshakeRegister) stall = StallHostWhenDue();
  }
  if (real_clock) SleepFor(stall);
  return value;
}

void VirtualController::WritePort(std::uint16_t address, std::uint8_t value) {
  const std::lock_guard lock(mutex_);
  CatchUp();
  ++port_writes_;
  bus_recorder_.Access(BusNanoseconds(), BusDirection::Write, address, value);
  if (!faults_.silent) {
    if (address == kHandshakeRegister) WriteHandshake(value);
    if (address == kDataRegister && phase_ != Phase::ReplyStanding) data_register_ = value;
  }
  Spend(kPortAccessCost);
}

double VirtualController::NowSeconds() {
  const std::lock_guard lock(mutex_);
  CatchUp();
  return static_cast<double>(ThreadNow()) / 1e6;
}

void VirtualController::Pause(unsigned milliseconds) {
  const Microseconds length = Microseconds{milliseconds} * 1000;
  std::function<void()> observer;
  bool sleeps = false;
  {
    const std::lock_guard lock(mutex_);
    CatchUp();
    pauses_[pause_count_ % kPauseCapacity] = {ThreadNow(), length};
    ++pause_count_;
    paused_total_ += length;
    Spend(length);
    sleeps = clock_ == Clock::Real;
    observer = pause_observer_;
  }
  if (sleeps) SleepFor(length);
  if (observer) observer();
}

// ---- The two clocks ---------------------------------------------------------------

Microseconds VirtualController::RealNow() const {
  const auto since_origin = std::chrono::steady_clock::now() - real_origin_;
  return static_cast<Microseconds>(
      std::chrono::duration_cast<std::chrono::microseconds>(since_origin).count());
}

// Brings the controller's time, and its axes, up to the present: on the real
// clock the present is the steady clock's, on the virtual clock it is where
// the threads have taken it.
void VirtualController::CatchUp() {
  if (clock_ == Clock::Real) now_ = std::max(now_, RealNow());
  interpreter_.AdvanceTo(now_);
}

// On the real clock all threads share the controller's time.
Microseconds& VirtualController::ThreadNow() {
  if (clock_ == Clock::Real) return now_;
  if (this_thread_clock.epoch != epoch_) this_thread_clock = {epoch_, now_};
  return this_thread_clock.now;
}

// On the real clock time passes by itself; on the virtual clock the thread's
// own accesses and pauses make it pass.
void VirtualController::Spend(Microseconds length) {
  if (clock_ == Clock::Real) return;
  Microseconds& thread_now = ThreadNow();
  thread_now += length;
  now_ = std::max(now_, thread_now);
}

void VirtualController::StartNewEpoch() {
  epoch_ = NextEpoch();
}

std::uint64_t VirtualController::BusNanoseconds() const {
  if (clock_ == Clock::Virtual) return now_ * 1000;
  const auto since_origin = std::chrono::steady_clock::now() - real_origin_;
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(since_origin).count());
}

void VirtualController::SetClock(Clock clock) {
  const std::lock_guard lock(mutex_);
  CatchUp();
  clock_ = clock;
  real_origin_ = std::chrono::steady_clock::now() - std::chrono::microseconds(now_);
  StartNewEpoch();
}

Clock VirtualController::ClockInUse() const {
  const std::lock_guard lock(mutex_);
  return clock_;
}

// ---- The handshake, from the controller's side ----------------------------------

std::uint8_t VirtualController::ReadHandshake() {
  std::uint8_t shown = kShowsBusy;
  switch (phase_) {
    case Phase::Idle:
      shown = ShowWhenIdle();
      break;
    case Phase::ByteTaken:
    case Phase::ReplyOffered:
      shown = kShowsPending;
      break;
    case Phase::Unacknowledged:
      shown = kStrobe;
      break;
    case Phase::LineDone:
      shown = kShowsReady;
      phase_ = Phase::ReplyOffered;
      break;
    case Phase::ReplyStanding:
      shown = faults_.reply_standing_value;
      break;
  }
  if (faults_.silent) return kShowsBusy;
  return faults_.stuck_handshake.value_or(shown);
}

// Returns how long the host thread is held up: on the virtual clock that
// time is already spent, on the real clock the caller sleeps it.
Microseconds VirtualController::StallHostWhenDue() {
  ++handshake_looks_;
  const auto& stall = faults_.host_stall;
  if (!stall || handshake_looks_ < stall->after_looks) return 0;
  if (handshake_looks_ != stall->after_looks && !stall->every_look) return 0;
  Spend(stall->length);
  return stall->length;
}

std::uint8_t VirtualController::ShowWhenIdle() {
  return ReadinessWithheld() ? kShowsBusy : kShowsReady;
}

bool VirtualController::ReadinessWithheld() {
  if (faults_.dies_after_bytes && bytes_taken_ >= *faults_.dies_after_bytes) return true;
  const auto& delay = faults_.readiness_delay;
  if (!delay || delay->before_byte != bytes_taken_) return false;
  if (!first_look_for_ready_) first_look_for_ready_ = now_;
  return now_ < *first_look_for_ready_ + delay->delay;
}

void VirtualController::WriteHandshake(std::uint8_t value) {
  if (value == kStrobe) {
    Strobe();
  } else if (value == kRelease) {
    Release();
  } else {
    ++protocol_errors_;
  }
}

void VirtualController::Strobe() {
  if (phase_ == Phase::Idle && !ReadinessWithheld()) {
    const bool acknowledges = faults_.never_acknowledges_byte != bytes_taken_;
    phase_ = acknowledges ? Phase::ByteTaken : Phase::Unacknowledged;
  } else if (phase_ == Phase::ReplyOffered) {
    data_register_ = NextReplyByte();
    phase_ = Phase::ReplyStanding;
  } else {
    ++protocol_errors_;
  }
}

void VirtualController::Release() {
  if (phase_ == Phase::ByteTaken) {
    TakeByte(data_register_);
  } else if (phase_ == Phase::ReplyStanding) {
    ++reply_offered_;
    const bool stops = faults_.reply_stops_after && reply_offered_ >= *faults_.reply_stops_after;
    phase_ = ReplyExhausted() || stops ? Phase::Idle : Phase::ReplyOffered;
  } else {
    ++protocol_errors_;
  }
}

void VirtualController::TakeByte(std::uint8_t byte) {
  ++bytes_taken_;
  first_look_for_ready_.reset();
  phase_ = Phase::Idle;
  if (current_line_.length < ReceivedLine::kCapacity) {
    current_line_.bytes[current_line_.length++] = static_cast<char>(byte);
  } else {
    current_line_.overlong = true;
  }
  if (byte == kCarriageReturn) CompleteLine();
}

void VirtualController::CompleteLine() {
  current_line_.completed_at = now_;
  RecordLine(current_line_);
  std::string_view text = current_line_.Text();
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  std::optional<std::size_t> answer = interpreter_.Execute(text, now_, reply_);
  current_line_ = ReceivedLine{};
  if (answer && queued_reply_length_) {
    answer = *queued_reply_length_;
    std::copy_n(queued_reply_.begin(), *answer, reply_.begin());
    queued_reply_length_.reset();
  }
  if (answer) StartReply(ApplyReplyFaults(*answer));
}

std::size_t VirtualController::ApplyReplyFaults(std::size_t length) {
  if (faults_.endless_reply) return std::min<std::size_t>(length, 1);
  if (faults_.binary_replies) {
    length = kBinaryReply.size();
    std::copy(kBinaryReply.begin(), kBinaryReply.end(), reply_.begin());
  }
  if (faults_.overlong_replies && length > 0) {
    const std::size_t padding = std::min(kOverlongPadding, kReplyCapacity - length);
    const std::uint8_t last = reply_[length - 1];
    std::fill_n(reply_.begin() + static_cast<std::ptrdiff_t>(length - 1), padding, '7');
    length += padding;
    reply_[length - 1] = last;
  }
  return length;
}

void VirtualController::StartReply(std::size_t length) {
  reply_length_ = length;
  reply_offered_ = 0;
  phase_ = Phase::LineDone;
}

bool VirtualController::ReplyExhausted() const {
  return !faults_.endless_reply && reply_offered_ >= reply_length_;
}

std::uint8_t VirtualController::NextReplyByte() const {
  return reply_offered_ < reply_length_ ? reply_[reply_offered_] : kEndlessReplyFiller;
}

void VirtualController::RecordLine(const ReceivedLine& line) {
  transcript_[lines_received_ % kTranscriptCapacity] = line;
  ++lines_received_;
  if (line_observer_) line_observer_(line);
}

// ---- Test side ----------------------------------------------------------------

void VirtualController::Reset() {
  const std::lock_guard lock(mutex_);
  faults_ = Faults{};
  now_ = 0;
  real_origin_ = std::chrono::steady_clock::now();
  StartNewEpoch();
  bus_recorder_.ClockRestarted();
  bytes_taken_ = 0;
  port_reads_ = 0;
  port_writes_ = 0;
  protocol_errors_ = 0;
  data_register_ = 0;
  current_line_ = ReceivedLine{};
  lines_received_ = 0;
  pause_count_ = 0;
  paused_total_ = 0;
  pause_observer_ = nullptr;
  line_observer_ = nullptr;
  queued_reply_length_.reset();
  interpreter_.Reset();
  ToIdle();
}

void VirtualController::SetFaults(const Faults& faults) {
  const std::lock_guard lock(mutex_);
  faults_ = faults;
  handshake_looks_ = 0;
}

void VirtualController::ClearFaults() {
  const std::lock_guard lock(mutex_);
  faults_ = Faults{};
  current_line_ = ReceivedLine{};
  ToIdle();
}

void VirtualController::ToIdle() {
  phase_ = Phase::Idle;
  first_look_for_ready_.reset();
  reply_length_ = 0;
  reply_offered_ = 0;
}

void VirtualController::QueueReply(std::string_view bytes) {
  const std::lock_guard lock(mutex_);
  const std::size_t length = std::min(bytes.size(), kReplyCapacity);
  std::copy_n(bytes.begin(), length, queued_reply_.begin());
  queued_reply_length_ = length;
}

void VirtualController::SetLineObserver(std::function<void(const ReceivedLine&)> observer) {
  const std::lock_guard lock(mutex_);
  line_observer_ = std::move(observer);
}

void VirtualController::SetPauseObserver(std::function<void()> observer) {
  const std::lock_guard lock(mutex_);
  pause_observer_ = std::move(observer);
}

AxisState VirtualController::Axis(std::size_t index) {
  const std::lock_guard lock(mutex_);
  CatchUp();
  return interpreter_.Axis(index);
}

bool VirtualController::RecordBus(const std::string& path) {
  const std::lock_guard lock(mutex_);
  return bus_recorder_.Start(path, kDataRegister, kHandshakeRegister);
}

void VirtualController::StopRecordingBus() {
  const std::lock_guard lock(mutex_);
  bus_recorder_.Stop();
}

Counters VirtualController::Snapshot() const {
  const std::lock_guard lock(mutex_);
  Counters counters;
  counters.now = clock_ == Clock::Real ? std::max(now_, RealNow()) : now_;
  counters.port_reads = port_reads_;
  counters.port_writes = port_writes_;
  counters.protocol_errors = protocol_errors_;
  counters.bytes_taken = bytes_taken_;
  counters.unknown_commands = interpreter_.UnknownCommands();
  counters.lines_kept = KeptLines();
  counters.paused_total = paused_total_;
  return counters;
}

std::size_t VirtualController::KeptLines() const {
  return std::min(lines_received_, kTranscriptCapacity);
}

std::optional<ReceivedLine> VirtualController::LineAt(std::size_t index) const {
  const std::lock_guard lock(mutex_);
  if (index >= KeptLines()) return std::nullopt;
  return transcript_[(lines_received_ - KeptLines() + index) % kTranscriptCapacity];
}

std::vector<ReceivedLine> VirtualController::Lines() const {
  std::vector<ReceivedLine> lines;
  for (std::size_t index = 0;; ++index) {
    std::optional<ReceivedLine> line = LineAt(index);
    if (!line) return lines;
    lines.push_back(*line);
  }
}

std::vector<std::string> VirtualController::LineTexts() const {
  std::vector<std::string> texts;
  for (const ReceivedLine& line : Lines()) texts.emplace_back(line.Text());
  return texts;
}

std::vector<PauseRecord> VirtualController::Pauses() const {
  const std::lock_guard lock(mutex_);
  const std::size_t kept = std::min(pause_count_, kPauseCapacity);
  std::vector<PauseRecord> pauses;
  for (std::size_t index = pause_count_ - kept; index < pause_count_; ++index) {
    pauses.push_back(pauses_[index % kPauseCapacity]);
  }
  return pauses;
}

// Never destroyed: a host may end its process while other threads are still
// inside calls that use the controller. It runs on the clock the environment
// names.
VirtualController& TheController() {
  alignas(VirtualController) static unsigned char storage[sizeof(VirtualController)];
  static VirtualController* const controller =
      new (storage) VirtualController(ClockFromEnvironment());
  return *controller;
}

}  // namespace orvex::sim
