#include "virtual_controller.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace orvex::sim {
namespace {

void SleepFor(Microseconds length) {
  if (length > 0) std::this_thread::sleep_for(std::chrono::microseconds(length));
}

}  // namespace

VirtualController::VirtualController(std::uint16_t base, VirtualClock& clock)
    : base_(base), clock_(clock) {}

VirtualController::VirtualController()
    : base_(kDataRegister),
      own_clock_(std::make_unique<VirtualClock>(Clock::Virtual)),
      clock_(*own_clock_) {}

// ---- Host side --------------------------------------------------------------

// Brings the axes up to the bus's present.
void VirtualController::CatchUp() {
  interpreter_.AdvanceTo(clock_.Now());
}

std::uint8_t VirtualController::ReadPort(std::uint16_t address) {
  Microseconds stall = 0;
  std::uint8_t value = 0xFF;
  {
    const std::lock_guard lock(mutex_);
    CatchUp();
    ++port_reads_;
    value = IsHandshake(address) ? handshake_.ReadHandshake(faults_, clock_.Now())
                                 : handshake_.ReadData();
    bus_recorder_.Access(clock_.Nanoseconds(), BusDirection::Read, address, value);
    clock_.Spend(kPortAccessCost);
    if (IsHandshake(address)) {
      // On the virtual clock the stall is spent here; on the real clock the
      // host thread sleeps it, outside the lock.
      stall = faults_.HostStallAfterLook();
      clock_.Spend(stall);
    }
  }
  if (clock_.InUse() == Clock::Real) SleepFor(stall);
  return value;
}

void VirtualController::WritePort(std::uint16_t address, std::uint8_t value) {
  const std::lock_guard lock(mutex_);
  CatchUp();
  ++port_writes_;
  bus_recorder_.Access(clock_.Nanoseconds(), BusDirection::Write, address, value);
  if (!faults_.Silent()) {
    if (IsHandshake(address)) {
      handshake_.WriteHandshake(value, faults_, clock_.Now(), *this);
    } else {
      handshake_.WriteData(value);
    }
  }
  clock_.Spend(kPortAccessCost);
}

double VirtualController::NowSeconds() {
  return static_cast<double>(clock_.ThreadNow()) / 1e6;
}

void VirtualController::Pause(unsigned milliseconds) {
  clock_.Pause(milliseconds);
}

// Under the controller's lock, from the handshake: the line goes into the
// transcript and to the observer, then to the interpreter; a queued reply
// takes the place of the controller's own answer to a query.
std::optional<std::size_t> VirtualController::LineCompleted(const ReceivedLine& line,
                                                            std::span<std::uint8_t> reply) {
  transcript_.Record(line);
  if (line_observer_) line_observer_(line);
  std::string_view text = line.Text();
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  std::optional<std::size_t> answer = interpreter_.Execute(text, line.completed_at, reply);
  if (answer && queued_reply_length_) {
    answer = *queued_reply_length_;
    std::copy_n(queued_reply_.begin(), *answer, reply.begin());
    queued_reply_length_.reset();
  }
  return answer;
}

// ---- Test side ----------------------------------------------------------------

void VirtualController::Reset() {
  clock_.Restart();
  ResetCard();
}

void VirtualController::ResetCard() {
  const std::lock_guard lock(mutex_);
  bus_recorder_.ClockRestarted();
  faults_.Clear();
  handshake_.Reset();
  interpreter_.Reset();
  transcript_.Clear();
  port_reads_ = 0;
  port_writes_ = 0;
  line_observer_ = nullptr;
  queued_reply_length_.reset();
}

void VirtualController::SetClock(Clock clock) {
  clock_.Set(clock);
}

Clock VirtualController::ClockInUse() const {
  return clock_.InUse();
}

void VirtualController::SetFaults(const Faults& faults) {
  const std::lock_guard lock(mutex_);
  faults_.Set(faults);
}

void VirtualController::ClearFaults() {
  const std::lock_guard lock(mutex_);
  faults_.Clear();
  handshake_.AbandonTransfer();
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
  clock_.SetPauseObserver(std::move(observer));
}

AxisState VirtualController::Axis(std::size_t index) {
  const std::lock_guard lock(mutex_);
  CatchUp();
  return interpreter_.Axis(index);
}

bool VirtualController::RecordBus(const std::string& path) {
  const std::lock_guard lock(mutex_);
  return bus_recorder_.Start(path, base_, static_cast<std::uint16_t>(base_ + 1));
}

void VirtualController::StopRecordingBus() {
  const std::lock_guard lock(mutex_);
  bus_recorder_.Stop();
}

Counters VirtualController::Snapshot() const {
  const std::lock_guard lock(mutex_);
  Counters counters;
  counters.now = clock_.Peek();
  counters.port_reads = port_reads_;
  counters.port_writes = port_writes_;
  counters.protocol_errors = handshake_.ProtocolErrors();
  counters.bytes_taken = handshake_.BytesTaken();
  counters.unknown_commands = interpreter_.UnknownCommands();
  counters.lines_kept = transcript_.Kept();
  counters.paused_total = clock_.PausedTotal();
  return counters;
}

std::optional<ReceivedLine> VirtualController::LineAt(std::size_t index) const {
  const std::lock_guard lock(mutex_);
  return transcript_.At(index);
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
  return clock_.Pauses();
}

}  // namespace orvex::sim
