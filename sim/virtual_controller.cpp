#include "virtual_controller.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
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

}  // namespace

// ---- Host side --------------------------------------------------------------

std::uint8_t VirtualController::ReadPort(std::uint16_t address) {
  const std::lock_guard lock(mutex_);
  interpreter_.AdvanceTo(now_);
  ++port_reads_;
  std::uint8_t value = kEmptyBus;
  if (address == kHandshakeRegister) value = ReadHandshake();
  if (address == kDataRegister) value = data_register_;
  Spend(kPortAccessCost);
  if (address == kHandshakeRegister) StallHostWhenDue();
  return value;
}

void VirtualController::WritePort(std::uint16_t address, std::uint8_t value) {
  const std::lock_guard lock(mutex_);
  interpreter_.AdvanceTo(now_);
  ++port_writes_;
  if (address == kHandshakeRegister) WriteHandshake(value);
  if (address == kDataRegister && phase_ != Phase::ReplyStanding) data_register_ = value;
  Spend(kPortAccessCost);
}

double VirtualController::NowSeconds() {
  const std::lock_guard lock(mutex_);
  return static_cast<double>(ThreadNow()) / 1e6;
}

void VirtualController::Pause(unsigned milliseconds) {
  std::function<void()> observer;
  {
    const std::lock_guard lock(mutex_);
    const Microseconds length = Microseconds{milliseconds} * 1000;
    pauses_[pause_count_ % kPauseCapacity] = {ThreadNow(), length};
    ++pause_count_;
    paused_total_ += length;
    Spend(length);
    observer = pause_observer_;
  }
  if (observer) observer();
}

Microseconds& VirtualController::ThreadNow() {
  if (this_thread_clock.epoch != epoch_) this_thread_clock = {epoch_, now_};
  return this_thread_clock.now;
}

void VirtualController::Spend(Microseconds length) {
  Microseconds& thread_now = ThreadNow();
  thread_now += length;
  now_ = std::max(now_, thread_now);
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
  return faults_.stuck_handshake.value_or(shown);
}

void VirtualController::StallHostWhenDue() {
  ++handshake_looks_;
  const auto& stall = faults_.host_stall;
  if (!stall || handshake_looks_ < stall->after_looks) return;
  if (handshake_looks_ == stall->after_looks || stall->every_look) Spend(stall->length);
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
  ++epoch_;
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
  interpreter_.AdvanceTo(now_);
  return interpreter_.Axis(index);
}

std::uint64_t VirtualController::UnknownCommands() const {
  const std::lock_guard lock(mutex_);
  return interpreter_.UnknownCommands();
}

Microseconds VirtualController::Now() const {
  const std::lock_guard lock(mutex_);
  return now_;
}

void VirtualController::AdvanceClock(Microseconds by) {
  const std::lock_guard lock(mutex_);
  Spend(by);
}

std::uint64_t VirtualController::PortReads() const {
  const std::lock_guard lock(mutex_);
  return port_reads_;
}

std::uint64_t VirtualController::PortWrites() const {
  const std::lock_guard lock(mutex_);
  return port_writes_;
}

std::uint64_t VirtualController::ProtocolErrors() const {
  const std::lock_guard lock(mutex_);
  return protocol_errors_;
}

std::uint64_t VirtualController::BytesTaken() const {
  const std::lock_guard lock(mutex_);
  return bytes_taken_;
}

std::size_t VirtualController::KeptLines() const {
  return std::min(lines_received_, kTranscriptCapacity);
}

std::size_t VirtualController::LineCount() const {
  const std::lock_guard lock(mutex_);
  return KeptLines();
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

Microseconds VirtualController::PausedTotal() const {
  const std::lock_guard lock(mutex_);
  return paused_total_;
}

// Never destroyed: a host may end its process while other threads are still
// inside calls that use the controller.
VirtualController& TheController() {
  alignas(VirtualController) static unsigned char storage[sizeof(VirtualController)];
  static VirtualController* const controller = new (storage) VirtualController;
  return *controller;
}

}  // namespace orvex::sim
