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

#include "sudden_death.h"

namespace orvex::sim {
namespace {

void SleepFor(Microseconds length) {
  if (length > 0) std::this_thread::sleep_for(std::chrono::microseconds(length));
}

}  // namespace

VirtualController::VirtualController(std::uint16_t base, VirtualClock& clock)
    : own_state_(std::make_unique<CardState>(base)),
      state_(*own_state_),
      lock_(std::make_unique<ProcessLock>()),
      clock_(clock) {}

VirtualController::VirtualController(CardState& state, std::unique_ptr<StateLock> lock,
                                     VirtualClock& clock)
    : state_(state), lock_(std::move(lock)), clock_(clock), bus_recorder_(state.recorder) {}

VirtualController::VirtualController()
    : own_state_(std::make_unique<CardState>(kDataRegister)),
      state_(*own_state_),
      lock_(std::make_unique<ProcessLock>()),
      own_clock_(std::make_unique<VirtualClock>(Clock::Virtual)),
      clock_(*own_clock_) {}

// ---- Host side --------------------------------------------------------------

// Brings the axes up to the bus's present.
void VirtualController::CatchUp() {
  state_.interpreter.AdvanceTo(clock_.Now());
}

// Outside the card's lock: the test side that set it is this process's only
// thread in the card.
void VirtualController::StopWhenDue() {
  if (accesses_until_death_ == 0 || death_moment_ != Death::StoppedBeforeAccess) return;
  if (--accesses_until_death_ == 0) StopThisProcess();
}

void VirtualController::CountTowardsDeath(Death moment) {
  if (accesses_until_death_ == 0 || moment != death_moment_) return;
  if (--accesses_until_death_ == 0) EndThisProcessAtOnce();
}

std::uint8_t VirtualController::ReadPort(std::uint16_t address) {
  Microseconds stall = 0;
  std::uint8_t value = 0xFF;
  StopWhenDue();
  {
    const std::lock_guard lock(*lock_);
    CountTowardsDeath(Death::BeforeAccess);
    CatchUp();
    ++state_.port_reads;
    value = IsHandshake(address) ? state_.handshake.ReadHandshake(state_.faults, clock_.Now())
                                 : state_.handshake.ReadData();
    bus_recorder_.Access(clock_.Nanoseconds(), BusDirection::Read, address, value);
    clock_.Spend(kPortAccessCost);
    if (IsHandshake(address)) {
      // On the virtual clock the stall is spent here; on the real clock the
      // host thread sleeps it, outside the lock.
      stall = state_.faults.HostStallAfterLook();
      clock_.Spend(stall);
    }
    CountTowardsDeath(Death::AfterAccess);
  }
  if (clock_.InUse() == Clock::Real) SleepFor(stall);
  return value;
}

void VirtualController::WritePort(std::uint16_t address, std::uint8_t value) {
  StopWhenDue();
  const std::lock_guard lock(*lock_);
  CountTowardsDeath(Death::BeforeAccess);
  CatchUp();
  ++state_.port_writes;
  bus_recorder_.Access(clock_.Nanoseconds(), BusDirection::Write, address, value);
  if (!state_.faults.Silent()) {
    if (IsHandshake(address)) {
      state_.handshake.WriteHandshake(value, state_.faults, clock_.Now(), *this);
    } else {
      state_.handshake.WriteData(value);
    }
  }
  clock_.Spend(kPortAccessCost);
  CountTowardsDeath(Death::AfterAccess);
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
  (void)state_.transcript.Record(line);
  if (line_observer_) line_observer_(line);
  std::string_view text = line.Text();
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  std::optional<std::size_t> answer = state_.interpreter.Execute(text, line.completed_at, reply);
  QueuedReply& queued = state_.queued_reply;
  if (answer && queued.present != 0) {
    answer = std::min<std::size_t>(queued.length, kReplyCapacity);
    std::copy_n(queued.bytes.begin(), *answer, reply.begin());
    queued.present = 0;
  }
  return answer;
}

// ---- Test side ----------------------------------------------------------------

void VirtualController::Reset() {
  clock_.Restart();
  ResetCard();
}

void VirtualController::ResetCard() {
  const std::lock_guard lock(*lock_);
  bus_recorder_.ClockRestarted();
  state_.faults.Clear();
  state_.handshake.Reset();
  state_.interpreter.Reset();
  state_.transcript.Clear();
  state_.port_reads = 0;
  state_.port_writes = 0;
  state_.queued_reply.present = 0;
  line_observer_ = nullptr;
}

void VirtualController::SetClock(Clock clock) {
  clock_.Set(clock);
}

Clock VirtualController::ClockInUse() const {
  return clock_.InUse();
}

void VirtualController::SetFaults(const Faults& faults) {
  const std::lock_guard lock(*lock_);
  state_.faults.Set(faults);
}

void VirtualController::ClearFaults() {
  const std::lock_guard lock(*lock_);
  state_.faults.Clear();
  state_.handshake.AbandonTransfer();
}

void VirtualController::QueueReply(std::string_view bytes) {
  const std::lock_guard lock(*lock_);
  const std::size_t length = std::min(bytes.size(), kReplyCapacity);
  QueuedReply& queued = state_.queued_reply;
  std::copy_n(bytes.begin(), length, queued.bytes.begin());
  queued.length = static_cast<std::uint32_t>(length);
  queued.present = 1;
}

void VirtualController::SetLineObserver(std::function<void(const ReceivedLine&)> observer) {
  const std::lock_guard lock(*lock_);
  line_observer_ = std::move(observer);
}

void VirtualController::SetPauseObserver(std::function<void()> observer) {
  clock_.SetPauseObserver(std::move(observer));
}

AxisState VirtualController::Axis(std::size_t index) {
  const std::lock_guard lock(*lock_);
  CatchUp();
  return state_.interpreter.Axis(index);
}

bool VirtualController::RecordBus(const std::string& path) {
  const std::lock_guard lock(*lock_);
  return bus_recorder_.Start(path, state_.base, static_cast<std::uint16_t>(state_.base + 1));
}

void VirtualController::StopRecordingBus() {
  const std::lock_guard lock(*lock_);
  bus_recorder_.Stop();
}

Counters VirtualController::Snapshot() const {
  const std::lock_guard lock(*lock_);
  Counters counters;
  counters.now = clock_.Peek();
  counters.port_reads = state_.port_reads;
  counters.port_writes = state_.port_writes;
  counters.protocol_errors = state_.handshake.ProtocolErrors();
  counters.bytes_taken = state_.handshake.BytesTaken();
  counters.unknown_commands = state_.interpreter.UnknownCommands();
  counters.lines_kept = state_.transcript.LinesKept();
  counters.entries_kept = state_.transcript.Kept();
  counters.paused_total = clock_.PausedTotal();
  return counters;
}

std::optional<ReceivedLine> VirtualController::EntryAt(std::size_t index) const {
  const std::lock_guard lock(*lock_);
  return state_.transcript.At(index);
}

// Each entry as the lines it stands for: a run's first at its own time, the
// others at the time of the run's last.
std::vector<ReceivedLine> VirtualController::Lines() const {
  std::vector<ReceivedLine> lines;
  for (std::size_t index = 0;; ++index) {
    const std::optional<ReceivedLine> entry = EntryAt(index);
    if (!entry) return lines;
    ReceivedLine line = *entry;
    line.repeats = 1;
    lines.push_back(line);
    line.completed_at = entry->last_completed_at;
    lines.insert(lines.end(), entry->repeats - 1, line);
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

void VirtualController::SetDeathAtAccess(std::uint64_t access, Death moment) {
  const std::lock_guard lock(*lock_);
  accesses_until_death_ = access;
  death_moment_ = moment;
}

}  // namespace orvex::sim
