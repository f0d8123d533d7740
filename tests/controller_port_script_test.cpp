// The virtual controller checked on its own, from its port side: raw scripts
// of reads and writes, written from the handshake rules and not through the
// link, so the stand-in every other test relies on is itself held to them.
//
// The rules: idle, the handshake register reads 0x80 (READY). The host puts a
// command byte on the data register (0x340) and writes 0x80 to the handshake
// register (0x341) to strobe it; the controller takes it and shows 0x00
// (PENDING) until the host writes 0x00 to release it. After a line's carriage
// return the controller shows READY once and, for a query, then offers its
// reply byte by byte: it shows PENDING, the host strobes, the byte stands on
// the data register while the handshake register reads 0x80 or more, the host
// reads it and releases. After the line feed it is READY again.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "virtual_controller.h"

namespace orvex::testing {
namespace {

using sim::Faults;
using sim::kDataRegister;
using sim::kHandshakeRegister;

constexpr std::uint8_t kReady = 0x80;
constexpr std::uint8_t kPending = 0x00;
constexpr std::uint8_t kBusy = 0x01;
constexpr std::uint8_t kStrobe = 0x80;
constexpr std::uint8_t kRelease = 0x00;

struct Step {
  bool write;
  std::uint16_t port;
  std::uint8_t value;  // written, or expected from the read
};

using Script = std::vector<Step>;

Step Look(std::uint8_t expected) {
  return {false, kHandshakeRegister, expected};
}
Step Fetch(std::uint8_t expected) {
  return {false, kDataRegister, expected};
}
Step Put(std::uint8_t byte) {
  return {true, kDataRegister, byte};
}
Step StrobeIt() {
  return {true, kHandshakeRegister, kStrobe};
}
Step ReleaseIt() {
  return {true, kHandshakeRegister, kRelease};
}

Script operator+(Script first, const Script& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

Script Repeat(const Step& step, int times) {
  return Script(static_cast<std::size_t>(times), step);
}

// One command byte handed over as the rules say.
Script SendByte(char byte) {
  return {Look(kReady), Put(static_cast<std::uint8_t>(byte)), StrobeIt(), Look(kPending),
          ReleaseIt()};
}

Script SendLine(std::string_view line) {
  Script script;
  for (const char byte : line) script = script + SendByte(byte);
  return script;
}

// One offered reply byte taken in, with the value the handshake register
// shows while it stands.
Script ReceiveByte(char byte, std::uint8_t standing = kReady) {
  return {Look(kPending), StrobeIt(), Look(standing), Fetch(static_cast<std::uint8_t>(byte)),
          ReleaseIt()};
}

Script ReceiveLine(std::string_view line, std::uint8_t standing = kReady) {
  Script script;
  for (const char byte : line) script = script + ReceiveByte(byte, standing);
  return script;
}

// Runs the script against `controller`; the first read that differs from
// the script, described, or nothing.
std::optional<std::string> RunScript(sim::VirtualController& controller, const Script& script) {
  for (std::size_t index = 0; index < script.size(); ++index) {
    const Step& step = script[index];
    if (step.write) {
      controller.WritePort(step.port, step.value);
      continue;
    }
    const std::uint8_t read = controller.ReadPort(step.port);
    if (read != step.value) {
      return "step " + std::to_string(index) + ": read " + std::to_string(read) + " from 0x" +
             (step.port == kDataRegister ? std::string("340") : std::string("341")) +
             ", the rules say " + std::to_string(step.value);
    }
  }
  return std::nullopt;
}

struct ScriptCase {
  const char* name;
  Faults faults;
  Script script;
  std::uint64_t bytes_taken;
  std::uint64_t protocol_errors;
  std::vector<std::string> lines;
};

void PrintTo(const ScriptCase& tested, std::ostream* out) {
  *out << tested.name;
}

std::vector<ScriptCase> Cases() {
  const std::string binary(sim::kBinaryReply);
  return {
      {"idle shows READY and keeps showing it", {}, Repeat(Look(kReady), 3), 0, 0, {}},
      {"a command line byte by byte, then READY",
       {},
       SendLine("1ST\r") + Script{Look(kReady)},
       4,
       0,
       {"1ST\r"}},
      {"the data register reads back what was put there", {}, {Put(0x5A), Fetch(0x5A)}, 0, 0, {}},
      {"a query: READY once after the line, then its reply offered byte by byte",
       {},
       SendLine("1TP\r") + Script{Look(kReady)} + ReceiveLine("+0\r\n") + Script{Look(kReady)},
       4,
       0,
       {"1TP\r"}},
      {"the status query's reply",
       {},
       SendLine("TS\r") + Script{Look(kReady)} + ReceiveLine("@\r\n") + Script{Look(kReady)},
       3,
       0,
       {"TS\r"}},
      {"strobes and releases out of turn are counted, not taken",
       {},
       {ReleaseIt(),
        Put('1'),
        StrobeIt(),
        StrobeIt(),
        Look(kPending),
        ReleaseIt(),
        ReleaseIt(),
        {true, kHandshakeRegister, 0x55},
        Look(kReady)},
       1,
       4,
       {}},
      {"silent: neither READY nor PENDING, and strobes go nowhere",
       {.silent = true},
       {Look(kBusy), Put('1'), StrobeIt(), Look(kBusy), ReleaseIt(), Look(kBusy)},
       0,
       0,
       {}},
      {"handshake stuck at 0x81", {.stuck_handshake = 0x81}, Repeat(Look(0x81), 3), 0, 0, {}},
      // Each access takes a microsecond: the first look at 0 us, READY from 3 us.
      {"READY late by 3 us before byte 1",
       {.readiness_delay = Faults::ReadinessDelay{1, 3}},
       SendByte('1') + Script{Look(kBusy), Look(kBusy), Look(kBusy)} + SendByte('2'),
       2,
       0,
       {}},
      {"dies after 1 byte",
       {.dies_after_bytes = 1},
       SendByte('1') + Repeat(Look(kBusy), 3),
       1,
       0,
       {}},
      {"never acknowledges byte 1",
       {.never_acknowledges_byte = 1},
       SendByte('1') + Script{Look(kReady), Put('S'), StrobeIt()} + Repeat(Look(kStrobe), 3),
       1,
       0,
       {}},
      {"reply standing shows 0xC5",
       {.reply_standing_value = 0xC5},
       SendLine("TS\r") + Script{Look(kReady)} + ReceiveLine("@\r\n", 0xC5),
       3,
       0,
       {"TS\r"}},
      {"reply cut after 2 bytes: READY instead of the third",
       {.reply_stops_after = 2},
       SendLine("1TP\r") + Script{Look(kReady)} + ReceiveLine("+0") + Script{Look(kReady)},
       4,
       0,
       {"1TP\r"}},
      {"endless reply: '9' after the first byte, never a line feed",
       {.endless_reply = true},
       SendLine("1TP\r") + Script{Look(kReady)} + ReceiveLine("+999999"),
       4,
       0,
       {"1TP\r"}},
      {"garbled reply",
       {.binary_replies = true},
       SendLine("2TP\r") + Script{Look(kReady)} + ReceiveLine(binary) + Script{Look(kReady)},
       4,
       0,
       {"2TP\r"}},
      {"overlong reply: 300 '7's before the last byte",
       {.overlong_replies = true},
       SendLine("TS\r") + Script{Look(kReady)} + ReceiveLine("@\r" + std::string(300, '7') + "\n") +
           Script{Look(kReady)},
       3,
       0,
       {"TS\r"}},
  };
}

class ControllerPortScriptTest : public ::testing::TestWithParam<ScriptCase> {
 protected:
  std::unique_ptr<sim::VirtualController> controller_ =
      std::make_unique<sim::VirtualController>();
};

TEST_P(ControllerPortScriptTest, FollowsTheHandshakeRules) {
  const ScriptCase& tested = GetParam();
  controller_->SetFaults(tested.faults);
  EXPECT_EQ(RunScript(*controller_, tested.script), std::nullopt);
  const sim::Counters counters = controller_->Snapshot();
  EXPECT_EQ(counters.bytes_taken, tested.bytes_taken);
  EXPECT_EQ(counters.protocol_errors, tested.protocol_errors);
  EXPECT_EQ(controller_->LineTexts(), tested.lines);
}

// The case's name with every run of other characters than letters and digits as one '_'.
std::string TestName(const ::testing::TestParamInfo<ScriptCase>& param) {
  std::string name;
  for (const char character : std::string_view(param.param.name)) {
    const bool plain = std::isalnum(static_cast<unsigned char>(character)) != 0;
    if (plain) name += character;
    if (!plain && !name.empty() && name.back() != '_') name += '_';
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(Scripts, ControllerPortScriptTest, ::testing::ValuesIn(Cases()), TestName);

// The runner itself catches a script that breaks the rules: here one that
// expects READY while a byte is pending.
TEST(ControllerPortScript, RunnerReportsTheFirstReadAgainstTheRules) {
  const auto controller = std::make_unique<sim::VirtualController>();
  const Script wrong = {Look(kReady), Put('1'), StrobeIt(), Look(kReady)};
  EXPECT_EQ(RunScript(*controller, wrong), "step 3: read 0 from 0x341, the rules say 128");
}

// Clearing the faults in the middle of a transfer leaves the controller idle
// and healthy.
TEST(ControllerPortScript, ClearedFaultsLeaveItIdleAndHealthy) {
  const auto controller = std::make_unique<sim::VirtualController>();
  controller->SetFaults({.never_acknowledges_byte = 0});
  EXPECT_EQ(RunScript(*controller, {Look(kReady), Put('1'), StrobeIt(), Look(kStrobe)}),
            std::nullopt);
  controller->ClearFaults();
  EXPECT_EQ(RunScript(*controller, SendLine("1ST\r") + Script{Look(kReady)}), std::nullopt);
  EXPECT_EQ(controller->LineTexts(), std::vector<std::string>{"1ST\r"});
}

}  // namespace
}  // namespace orvex::testing
