// The platform seam of the benchmarks that need a controller: port accesses
// go to a minimal controller that answers every handshake step at once. The
// clock and the pause are the real ones (src/port/clock_posix.cpp).
//
// Nothing here is faster than it has to be nor slower than it must: one
// switch on the phase per handshake access, so the benchmarks can measure
// its cost and take it away from the link's.
#include <sys/mman.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <new>
#include <span>
#include <string_view>

#include "instant_controller.h"
#include "port/platform.h"

namespace orvex::bench {
namespace {

constexpr std::uint16_t kDataRegister = 0x340;
constexpr std::uint8_t kReady = 0x80;
constexpr std::uint8_t kPending = 0x00;
constexpr std::uint8_t kStrobe = 0x80;
constexpr std::uint8_t kRelease = 0x00;
constexpr std::uint8_t kEmptyBus = 0xFF;
constexpr char kCarriageReturn = '\r';
constexpr std::uint8_t kLineFeed = '\n';

enum class Phase : std::uint8_t {
  Idle,           // READY
  ByteTaken,      // a command byte taken: PENDING until released
  LineAnswered,   // READY for the one look that ends the query line
  ReplyOffered,   // PENDING: a reply byte waits to be asked for
  ReplyStanding,  // the reply byte stands on the data register: READY
};

class Answer {
 public:
  explicit Answer(std::string_view text) { Set(text); }
  void Set(std::string_view text) {
    length_ = std::min(text.size(), bytes_.size());
    std::copy_n(text.begin(), length_, bytes_.begin());
  }
  std::string_view Text() const { return {bytes_.data(), length_}; }

 private:
  std::array<char, 128> bytes_{};
  std::size_t length_ = 0;
};

struct Controller {
  Phase phase = Phase::Idle;
  std::uint8_t data = 0;
  std::array<char, 3> line_tail{};  // the last three bytes taken
  std::string_view reply;
  std::size_t reply_next = 0;
  Answer position_answer{"+250\r\n"};
  Answer status_answer{"0\r\n"};
  InstantControllerCounts counts;
};

// One controller per card the benchmarks drive, each on cache lines of its
// own, so that two cards driven from two threads share nothing. They live in
// the process, or, for a benchmark of several processes, in memory the
// processes it forks share.
constexpr std::uint16_t kFirstBase = kDataRegister;
constexpr std::uint16_t kSecondBase = 0x300;

struct Controllers {
  alignas(64) Controller first_card;
  alignas(64) Controller second_card;
};

Controllers own_controllers;
Controllers* controllers = &own_controllers;

// What each port access costs beyond the host's own work, in nanoseconds.
std::int64_t access_cost_ns = 0;

Controller* ControllerAt(std::uint16_t base) {
  if (base == kFirstBase) return &controllers->first_card;
  if (base == kSecondBase) return &controllers->second_card;
  return nullptr;
}

// Keeps the processor busy for the access's cost, as a slow bus would.
void SpendAccessCost() {
  if (access_cost_ns == 0) return;
  const auto until = std::chrono::steady_clock::now() + std::chrono::nanoseconds(access_cost_ns);
  while (std::chrono::steady_clock::now() < until) {
  }
}

bool LineEndsWith(Controller& controller, std::string_view ending) {
  return std::string_view(controller.line_tail.data(), controller.line_tail.size()) == ending;
}

void AnswerLine(Controller& controller) {
  ++controller.counts.command_lines;
  controller.reply = {};
  if (LineEndsWith(controller, "TP\r")) controller.reply = controller.position_answer.Text();
  if (LineEndsWith(controller, "TS\r")) controller.reply = controller.status_answer.Text();
  controller.reply_next = 0;
  controller.phase = controller.reply.empty() ? Phase::Idle : Phase::LineAnswered;
}

void TakeByte(Controller& controller) {
  ++controller.counts.command_bytes;
  const char byte = static_cast<char>(controller.data);
  controller.line_tail = {controller.line_tail[1], controller.line_tail[2], byte};
  controller.phase = Phase::Idle;
  if (byte == kCarriageReturn) AnswerLine(controller);
}

void HandOverReplyByte(Controller& controller) {
  ++controller.counts.reply_bytes;
  const bool line_ended = controller.data == kLineFeed;
  const bool exhausted = ++controller.reply_next >= controller.reply.size();
  if (line_ended) ++controller.counts.reply_lines;
  controller.phase = line_ended || exhausted ? Phase::Idle : Phase::ReplyOffered;
}

void Strobe(Controller& controller) {
  if (controller.phase == Phase::Idle) {
    controller.phase = Phase::ByteTaken;
  } else if (controller.phase == Phase::ReplyOffered) {
    controller.data = static_cast<std::uint8_t>(controller.reply[controller.reply_next]);
    controller.phase = Phase::ReplyStanding;
  } else {
    ++controller.counts.protocol_errors;
  }
}

void Release(Controller& controller) {
  if (controller.phase == Phase::ByteTaken) {
    TakeByte(controller);
  } else if (controller.phase == Phase::ReplyStanding) {
    HandOverReplyByte(controller);
  } else {
    ++controller.counts.protocol_errors;
  }
}

std::uint8_t ReadHandshake(Controller& controller) {
  switch (controller.phase) {
    case Phase::ByteTaken:
    case Phase::ReplyOffered:
      return kPending;
    case Phase::LineAnswered:
      controller.phase = Phase::ReplyOffered;
      return kReady;
    case Phase::Idle:
    case Phase::ReplyStanding:
      return kReady;
  }
  return kEmptyBus;
}

void WriteHandshake(Controller& controller, std::uint8_t value) {
  if (value == kStrobe) {
    Strobe(controller);
  } else if (value == kRelease) {
    Release(controller);
  } else {
    ++controller.counts.protocol_errors;
  }
}

}  // namespace

InstantControllerCounts InstantControllerCountsNow() {
  return controllers->first_card.counts;
}

void ResetInstantController() {
  for (Controller* controller : {&controllers->first_card, &controllers->second_card}) {
    controller->phase = Phase::Idle;
    controller->line_tail = {};
    controller->reply = {};
    controller->reply_next = 0;
  }
}

void SetPositionAnswer(std::string_view answer) {
  controllers->first_card.position_answer.Set(answer);
  controllers->second_card.position_answer.Set(answer);
}

void SetStatusAnswer(std::string_view answer) {
  controllers->first_card.status_answer.Set(answer);
  controllers->second_card.status_answer.Set(answer);
}

bool ShareInstantControllersWithChildren() {
  void* shared =
      mmap(nullptr, sizeof(Controllers), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (shared == MAP_FAILED) return false;
  controllers = new (shared) Controllers;
  return true;
}

void SetInstantControllerAccessCost(std::chrono::nanoseconds cost) {
  access_cost_ns = cost.count();
}

}  // namespace orvex::bench

namespace orvex::port {

std::uint8_t ReadPortByte(const CardPorts& card, Register which) {
  bench::Controller* controller = bench::ControllerAt(static_cast<std::uint16_t>(card.Base()));
  if (controller == nullptr) return bench::kEmptyBus;
  bench::SpendAccessCost();
  ++controller->counts.reads;
  if (which == Register::Handshake) return bench::ReadHandshake(*controller);
  return controller->data;
}

void WritePortByte(const CardPorts& card, Register which, std::uint8_t value) {
  bench::Controller* controller = bench::ControllerAt(static_cast<std::uint16_t>(card.Base()));
  if (controller == nullptr) return;
  bench::SpendAccessCost();
  ++controller->counts.writes;
  if (which == Register::Handshake) {
    bench::WriteHandshake(*controller, value);
  } else if (controller->phase != bench::Phase::ReplyStanding) {
    controller->data = value;
  }
}

// Named as the card's record is, in a folder of the benchmark's own choosing
// (ORVEXPORTIO_RECORD_DIR), so that the benchmarks pay for the machine-wide
// exclusion as the card's build does.
bool MachineWideName(const CardPorts& card, std::span<char> name) {
  const int written =
      std::snprintf(name.data(), name.size(), "bench-0x%x", static_cast<unsigned>(card.Base()));
  return written > 0 && static_cast<std::size_t>(written) < name.size();
}

}  // namespace orvex::port
