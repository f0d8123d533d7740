// The host developer's view of the virtual controller, exported as C.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>

#include "orvexportio_sim.h"
#include "virtual_bus.h"

using orvex::sim::AxisState;
using orvex::sim::Clock;
using orvex::sim::Faults;
using orvex::sim::Microseconds;
using orvex::sim::ReceivedLine;
using orvex::sim::TheController;

namespace {

double Seconds(Microseconds time) {
  return static_cast<double>(time) / 1e6;
}

std::uint64_t Count(int value) {
  return value < 0 ? 0U : static_cast<std::uint64_t>(value);
}

std::optional<AxisState> AxisNumbered(int axis) {
  if (axis != 1 && axis != 2) return std::nullopt;
  return TheController().Axis(static_cast<std::size_t>(axis - 1));
}

}  // namespace

extern "C" {

void ORVEX_CALL orvexsim_reset(void) {
  TheController().Reset();
}

int ORVEX_CALL orvexsim_line_count(void) {
  return static_cast<int>(TheController().Snapshot().lines_kept);
}

int ORVEX_CALL orvexsim_line(int index, char* text, int capacity, double* received_at) {
  if (index < 0) return -1;
  const std::optional<ReceivedLine> line = TheController().LineAt(static_cast<std::size_t>(index));
  if (!line) return -1;
  if (text != nullptr && capacity > 0) {
    const std::size_t copied = std::min(line->length, static_cast<std::size_t>(capacity) - 1);
    std::copy_n(line->bytes.begin(), copied, text);
    text[copied] = '\0';
  }
  if (received_at != nullptr) *received_at = Seconds(line->completed_at);
  return static_cast<int>(line->length);
}

void ORVEX_CALL orvexsim_set_line_callback(orvexsim_line_callback callback, void* context) {
  if (callback == nullptr) {
    TheController().SetLineObserver(nullptr);
    return;
  }
  TheController().SetLineObserver([callback, context](const ReceivedLine& line) {
    std::array<char, ReceivedLine::kCapacity + 1> text{};
    std::copy_n(line.bytes.begin(), line.length, text.begin());
    callback(text.data(), static_cast<int>(line.length), Seconds(line.completed_at), context);
  });
}

// ---- The clock ----------------------------------------------------------------

int ORVEX_CALL orvexsim_set_clock(int clock) {
  if (clock != ORVEXSIM_CLOCK_REAL && clock != ORVEXSIM_CLOCK_VIRTUAL) return 0;
  TheController().SetClock(clock == ORVEXSIM_CLOCK_VIRTUAL ? Clock::Virtual : Clock::Real);
  return 1;
}

int ORVEX_CALL orvexsim_clock(void) {
  return TheController().ClockInUse() == Clock::Virtual ? ORVEXSIM_CLOCK_VIRTUAL
                                                        : ORVEXSIM_CLOCK_REAL;
}

double ORVEX_CALL orvexsim_time(void) {
  return Seconds(TheController().Snapshot().now);
}

// ---- The axes -------------------------------------------------------------------

double ORVEX_CALL orvexsim_axis_position(int axis) {
  const std::optional<AxisState> state = AxisNumbered(axis);
  return state ? state->position : std::numeric_limits<double>::quiet_NaN();
}

double ORVEX_CALL orvexsim_axis_target(int axis) {
  const std::optional<AxisState> state = AxisNumbered(axis);
  return state ? state->target : std::numeric_limits<double>::quiet_NaN();
}

int ORVEX_CALL orvexsim_axis_moving(int axis) {
  const std::optional<AxisState> state = AxisNumbered(axis);
  if (!state) return -1;
  return state->moving ? 1 : 0;
}

// ---- Faults on demand ---------------------------------------------------------

void ORVEX_CALL orvexsim_fault_silent(void) {
  TheController().ChangeFaults([](Faults& faults, std::uint64_t) { faults.silent = true; });
}

void ORVEX_CALL orvexsim_fault_stuck_handshake(int value) {
  TheController().ChangeFaults([value](Faults& faults, std::uint64_t) {
    faults.stuck_handshake = static_cast<std::uint8_t>(value);
  });
}

void ORVEX_CALL orvexsim_fault_readiness_delay(int byte, int microseconds) {
  TheController().ChangeFaults([byte, microseconds](Faults& faults, std::uint64_t taken) {
    faults.readiness_delay = Faults::ReadinessDelay{taken + Count(byte), Count(microseconds)};
  });
}

void ORVEX_CALL orvexsim_fault_dies_after_bytes(int bytes) {
  TheController().ChangeFaults([bytes](Faults& faults, std::uint64_t taken) {
    faults.dies_after_bytes = taken + Count(bytes);
  });
}

void ORVEX_CALL orvexsim_fault_never_acknowledges_byte(int byte) {
  TheController().ChangeFaults([byte](Faults& faults, std::uint64_t taken) {
    faults.never_acknowledges_byte = taken + Count(byte);
  });
}

void ORVEX_CALL orvexsim_fault_reply_stops_after(int bytes) {
  TheController().ChangeFaults([bytes](Faults& faults, std::uint64_t) {
    faults.reply_stops_after = static_cast<std::size_t>(Count(bytes));
  });
}

void ORVEX_CALL orvexsim_fault_garbled_reply(void) {
  TheController().ChangeFaults([](Faults& faults, std::uint64_t) { faults.binary_replies = true; });
}

void ORVEX_CALL orvexsim_fault_overlong_reply(void) {
  TheController().ChangeFaults(
      [](Faults& faults, std::uint64_t) { faults.overlong_replies = true; });
}

void ORVEX_CALL orvexsim_fault_endless_reply(void) {
  TheController().ChangeFaults([](Faults& faults, std::uint64_t) { faults.endless_reply = true; });
}

void ORVEX_CALL orvexsim_clear_faults(void) {
  TheController().ClearFaults();
}

void ORVEX_CALL orvexsim_queue_reply(const char* bytes, int length) {
  if (bytes == nullptr) length = 0;
  TheController().QueueReply(
      std::string_view(bytes == nullptr ? "" : bytes, static_cast<std::size_t>(Count(length))));
}

int ORVEX_CALL orvexsim_bytes_taken(void) {
  return static_cast<int>(TheController().Snapshot().bytes_taken);
}

int ORVEX_CALL orvexsim_protocol_errors(void) {
  return static_cast<int>(TheController().Snapshot().protocol_errors);
}

// ---- The bus as a waveform ----------------------------------------------------

int ORVEX_CALL orvexsim_record_vcd(const char* path) {
  if (path == nullptr) return 0;
  return TheController().RecordBus(path) ? 1 : 0;
}

void ORVEX_CALL orvexsim_stop_vcd(void) {
  TheController().StopRecordingBus();
}

}  // extern "C"
