// The host developer's view of the virtual bus and its cards, exported as C.
// Each function that acts on a card comes twice: orvexsim_card_<name> takes
// the card's base, and orvexsim_<name> acts on the first card, the one of the
// eleven functions.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "orvexportio_sim.h"
#include "virtual_bus.h"

using orvex::sim::AxisState;
using orvex::sim::Clock;
using orvex::sim::Faults;
using orvex::sim::Microseconds;
using orvex::sim::ReceivedLine;
using orvex::sim::TheBus;
using orvex::sim::TheController;
using orvex::sim::VirtualController;

namespace {

constexpr unsigned kHighestPort = 0xFFFF;
constexpr double kNoAxis = std::numeric_limits<double>::quiet_NaN();

double Seconds(Microseconds time) {
  return static_cast<double>(time) / 1e6;
}

std::uint64_t Count(int value) {
  return value < 0 ? 0U : static_cast<std::uint64_t>(value);
}

VirtualController* CardAt(unsigned base) {
  if (base > kHighestPort) return nullptr;
  return TheBus().CardAt(static_cast<std::uint16_t>(base));
}

unsigned FirstCard() {
  return TheController().Base();
}

// `act(card)` on the card at `base`: 1, or 0 when there is none.
template <typename Act>
int OnCard(unsigned base, Act act) {
  VirtualController* card = CardAt(base);
  if (card == nullptr) return 0;
  act(*card);
  return 1;
}

// A value `read(card)` gives on the card at `base`, or `none`.
template <typename Result, typename Read>
Result FromCard(unsigned base, Result none, Read read) {
  VirtualController* card = CardAt(base);
  return card == nullptr ? none : read(*card);
}

std::optional<AxisState> AxisNumbered(unsigned base, int axis) {
  VirtualController* card = CardAt(base);
  if (card == nullptr || (axis != 1 && axis != 2)) return std::nullopt;
  return card->Axis(static_cast<std::size_t>(axis - 1));
}

// Changes the faults of the card at `base` in place, with the bytes it has
// taken so far.
template <typename Change>
int ChangeFaults(unsigned base, Change change) {
  return OnCard(base, [&](VirtualController& card) { card.ChangeFaults(change); });
}

}  // namespace

extern "C" {

// ---- The bus ----------------------------------------------------------------

void ORVEX_CALL orvexsim_reset(void) {
  TheBus().Reset();
}

int ORVEX_CALL orvexsim_share(const char* name) {
  std::string why;
  return name != nullptr && orvex::sim::ShareTheBus(name, why) ? 1 : 0;
}

int ORVEX_CALL orvexsim_add_card(unsigned base) {
  if (base > kHighestPort) return 0;
  return TheBus().AddCard(static_cast<std::uint16_t>(base)) != nullptr ? 1 : 0;
}

unsigned ORVEX_CALL orvexsim_first_card(void) {
  return FirstCard();
}

int ORVEX_CALL orvexsim_set_clock(int clock) {
  if (clock != ORVEXSIM_CLOCK_REAL && clock != ORVEXSIM_CLOCK_VIRTUAL) return 0;
  TheBus().ClockOfBus().Set(clock == ORVEXSIM_CLOCK_VIRTUAL ? Clock::Virtual : Clock::Real);
  return 1;
}

int ORVEX_CALL orvexsim_clock(void) {
  return TheBus().ClockOfBus().InUse() == Clock::Virtual ? ORVEXSIM_CLOCK_VIRTUAL
                                                         : ORVEXSIM_CLOCK_REAL;
}

double ORVEX_CALL orvexsim_time(void) {
  return Seconds(TheBus().ClockOfBus().Peek());
}

// ---- One card, by its base ----------------------------------------------------

int ORVEX_CALL orvexsim_card_reset(unsigned base) {
  return OnCard(base, [](VirtualController& card) { card.ResetCard(); });
}

int ORVEX_CALL orvexsim_card_line_count(unsigned base) {
  return FromCard(base, -1, [](VirtualController& card) {
    return static_cast<int>(card.Snapshot().entries_kept);
  });
}

int ORVEX_CALL orvexsim_card_line(unsigned base, int index, char* text, int capacity,
                                  double* received_at) {
  VirtualController* card = CardAt(base);
  if (card == nullptr || index < 0) return -1;
  const std::optional<ReceivedLine> line = card->EntryAt(static_cast<std::size_t>(index));
  if (!line) return -1;
  if (text != nullptr && capacity > 0) {
    const std::size_t copied =
        std::min(static_cast<std::size_t>(line->length), static_cast<std::size_t>(capacity) - 1);
    std::copy_n(line->bytes.begin(), copied, text);
    text[copied] = '\0';
  }
  if (received_at != nullptr) *received_at = Seconds(line->completed_at);
  return static_cast<int>(line->length);
}

int ORVEX_CALL orvexsim_card_line_repeats(unsigned base, int index, double* last_received_at) {
  VirtualController* card = CardAt(base);
  if (card == nullptr || index < 0) return -1;
  const std::optional<ReceivedLine> line = card->EntryAt(static_cast<std::size_t>(index));
  if (!line) return -1;
  if (last_received_at != nullptr) *last_received_at = Seconds(line->last_completed_at);
  return static_cast<int>(line->repeats);
}

int ORVEX_CALL orvexsim_card_set_line_callback(unsigned base, orvexsim_line_callback callback,
                                               void* context) {
  return OnCard(base, [&](VirtualController& card) {
    if (callback == nullptr) {
      card.SetLineObserver(nullptr);
      return;
    }
    card.SetLineObserver([callback, context](const ReceivedLine& line) {
      std::array<char, ReceivedLine::kCapacity + 1> text{};
      std::copy_n(line.bytes.begin(), line.length, text.begin());
      callback(text.data(), static_cast<int>(line.length), Seconds(line.completed_at), context);
    });
  });
}

double ORVEX_CALL orvexsim_card_axis_position(unsigned base, int axis) {
  const std::optional<AxisState> state = AxisNumbered(base, axis);
  return state ? state->position : kNoAxis;
}

double ORVEX_CALL orvexsim_card_axis_target(unsigned base, int axis) {
  const std::optional<AxisState> state = AxisNumbered(base, axis);
  return state ? state->target : kNoAxis;
}

int ORVEX_CALL orvexsim_card_axis_moving(unsigned base, int axis) {
  const std::optional<AxisState> state = AxisNumbered(base, axis);
  if (!state) return -1;
  return state->moving ? 1 : 0;
}

int ORVEX_CALL orvexsim_card_fault_silent(unsigned base) {
  return ChangeFaults(base, [](Faults& faults, std::uint64_t) { faults.silent = true; });
}

int ORVEX_CALL orvexsim_card_fault_stuck_handshake(unsigned base, int value) {
  return ChangeFaults(base, [value](Faults& faults, std::uint64_t) {
    faults.stuck_handshake = static_cast<std::uint8_t>(value);
  });
}

int ORVEX_CALL orvexsim_card_fault_readiness_delay(unsigned base, int byte, int microseconds) {
  return ChangeFaults(base, [byte, microseconds](Faults& faults, std::uint64_t taken) {
    faults.readiness_delay = Faults::ReadinessDelay{taken + Count(byte), Count(microseconds)};
  });
}

int ORVEX_CALL orvexsim_card_fault_dies_after_bytes(unsigned base, int bytes) {
  return ChangeFaults(base, [bytes](Faults& faults, std::uint64_t taken) {
    faults.dies_after_bytes = taken + Count(bytes);
  });
}

int ORVEX_CALL orvexsim_card_fault_never_acknowledges_byte(unsigned base, int byte) {
  return ChangeFaults(base, [byte](Faults& faults, std::uint64_t taken) {
    faults.never_acknowledges_byte = taken + Count(byte);
  });
}

int ORVEX_CALL orvexsim_card_fault_reply_stops_after(unsigned base, int bytes) {
  return ChangeFaults(base, [bytes](Faults& faults, std::uint64_t) {
    faults.reply_stops_after = static_cast<std::size_t>(Count(bytes));
  });
}

int ORVEX_CALL orvexsim_card_fault_garbled_reply(unsigned base) {
  return ChangeFaults(base, [](Faults& faults, std::uint64_t) { faults.binary_replies = true; });
}

int ORVEX_CALL orvexsim_card_fault_overlong_reply(unsigned base) {
  return ChangeFaults(base, [](Faults& faults, std::uint64_t) { faults.overlong_replies = true; });
}

int ORVEX_CALL orvexsim_card_fault_endless_reply(unsigned base) {
  return ChangeFaults(base, [](Faults& faults, std::uint64_t) { faults.endless_reply = true; });
}

int ORVEX_CALL orvexsim_card_clear_faults(unsigned base) {
  return OnCard(base, [](VirtualController& card) { card.ClearFaults(); });
}

int ORVEX_CALL orvexsim_card_queue_reply(unsigned base, const char* bytes, int length) {
  if (bytes == nullptr) length = 0;
  const std::string_view queued(bytes == nullptr ? "" : bytes,
                                static_cast<std::size_t>(Count(length)));
  return OnCard(base, [&](VirtualController& card) { card.QueueReply(queued); });
}

int ORVEX_CALL orvexsim_card_bytes_taken(unsigned base) {
  return FromCard(base, -1, [](VirtualController& card) {
    return static_cast<int>(card.Snapshot().bytes_taken);
  });
}

int ORVEX_CALL orvexsim_card_protocol_errors(unsigned base) {
  return FromCard(base, -1, [](VirtualController& card) {
    return static_cast<int>(card.Snapshot().protocol_errors);
  });
}

int ORVEX_CALL orvexsim_card_record_vcd(unsigned base, const char* path) {
  if (path == nullptr) return 0;
  return FromCard(base, 0,
                  [path](VirtualController& card) { return card.RecordBus(path) ? 1 : 0; });
}

int ORVEX_CALL orvexsim_card_stop_vcd(unsigned base) {
  return OnCard(base, [](VirtualController& card) { card.StopRecordingBus(); });
}

// ---- The first card -------------------------------------------------------------

int ORVEX_CALL orvexsim_line_count(void) {
  return orvexsim_card_line_count(FirstCard());
}

int ORVEX_CALL orvexsim_line(int index, char* text, int capacity, double* received_at) {
  return orvexsim_card_line(FirstCard(), index, text, capacity, received_at);
}

int ORVEX_CALL orvexsim_line_repeats(int index, double* last_received_at) {
  return orvexsim_card_line_repeats(FirstCard(), index, last_received_at);
}

void ORVEX_CALL orvexsim_set_line_callback(orvexsim_line_callback callback, void* context) {
  (void)orvexsim_card_set_line_callback(FirstCard(), callback, context);
}

double ORVEX_CALL orvexsim_axis_position(int axis) {
  return orvexsim_card_axis_position(FirstCard(), axis);
}

double ORVEX_CALL orvexsim_axis_target(int axis) {
  return orvexsim_card_axis_target(FirstCard(), axis);
}

int ORVEX_CALL orvexsim_axis_moving(int axis) {
  return orvexsim_card_axis_moving(FirstCard(), axis);
}

void ORVEX_CALL orvexsim_fault_silent(void) {
  (void)orvexsim_card_fault_silent(FirstCard());
}

void ORVEX_CALL orvexsim_fault_stuck_handshake(int value) {
  (void)orvexsim_card_fault_stuck_handshake(FirstCard(), value);
}

void ORVEX_CALL orvexsim_fault_readiness_delay(int byte, int microseconds) {
  (void)orvexsim_card_fault_readiness_delay(FirstCard(), byte, microseconds);
}

void ORVEX_CALL orvexsim_fault_dies_after_bytes(int bytes) {
  (void)orvexsim_card_fault_dies_after_bytes(FirstCard(), bytes);
}

void ORVEX_CALL orvexsim_fault_never_acknowledges_byte(int byte) {
  (void)orvexsim_card_fault_never_acknowledges_byte(FirstCard(), byte);
}

void ORVEX_CALL orvexsim_fault_reply_stops_after(int bytes) {
  (void)orvexsim_card_fault_reply_stops_after(FirstCard(), bytes);
}

void ORVEX_CALL orvexsim_fault_garbled_reply(void) {
  (void)orvexsim_card_fault_garbled_reply(FirstCard());
}

void ORVEX_CALL orvexsim_fault_overlong_reply(void) {
  (void)orvexsim_card_fault_overlong_reply(FirstCard());
}

void ORVEX_CALL orvexsim_fault_endless_reply(void) {
  (void)orvexsim_card_fault_endless_reply(FirstCard());
}

void ORVEX_CALL orvexsim_clear_faults(void) {
  (void)orvexsim_card_clear_faults(FirstCard());
}

void ORVEX_CALL orvexsim_queue_reply(const char* bytes, int length) {
  (void)orvexsim_card_queue_reply(FirstCard(), bytes, length);
}

int ORVEX_CALL orvexsim_bytes_taken(void) {
  return orvexsim_card_bytes_taken(FirstCard());
}

int ORVEX_CALL orvexsim_protocol_errors(void) {
  return orvexsim_card_protocol_errors(FirstCard());
}

int ORVEX_CALL orvexsim_record_vcd(const char* path) {
  return orvexsim_card_record_vcd(FirstCard(), path);
}

void ORVEX_CALL orvexsim_stop_vcd(void) {
  (void)orvexsim_card_stop_vcd(FirstCard());
}

}  // extern "C"
