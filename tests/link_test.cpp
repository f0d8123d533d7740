// The byte handshake, against the virtual controller on its virtual clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "link/link.h"
#include "virtual_bus.h"
#include "virtual_controller_fixture.h"

namespace orvex::testing {
namespace {

using link::ReadReply;
using link::SendCommand;
using sim::Faults;
using sim::Microseconds;

const port::CardPorts kBase{0x340};
constexpr Microseconds kAcknowledgeBoundUs = 1'000'000;

// A missed 9 ms window ends with the first clock reading past it: 9001 or
// 9002 reads of 1 us each, depending on how the double sums round.
void ExpectMissedWindow(Microseconds elapsed) {
  EXPECT_GE(elapsed, 9'001U);
  EXPECT_LE(elapsed, 9'002U);
}

class LinkTest : public VirtualControllerTest {
 protected:
  // Time spent by `action`, in virtual microseconds.
  template <typename Action>
  static Microseconds Elapsed(Action action) {
    const Microseconds start = controller().Now();
    action();
    return controller().Now() - start;
  }
};

TEST_F(LinkTest, DeliversEveryByteOfALineAndWaitsForReady) {
  EXPECT_EQ(SendCommand("1ST\r", kBase), 1);
  EXPECT_EQ(Received(), Lines{"1ST\r"});
  EXPECT_EQ(controller().Snapshot().protocol_errors, 0U);
  // Five accesses per byte and one last look for READY.
  EXPECT_EQ(controller().Snapshot().port_reads, 2U * 4 + 1);
  EXPECT_EQ(controller().Snapshot().port_writes, 3U * 4);
}

TEST_F(LinkTest, EmptyCommandOnlyWaitsForReady) {
  EXPECT_EQ(SendCommand("", kBase), 1);
  EXPECT_EQ(controller().Snapshot().port_writes, 0U);
  EXPECT_EQ(controller().Snapshot().port_reads, 1U);
  EXPECT_TRUE(Received().empty());
}

// The controller shows READY `delay` after the host first looks for it.
struct WindowCase {
  Microseconds delay;
  int expected;
};

class ReadinessWindowTest : public LinkTest, public ::testing::WithParamInterface<WindowCase> {};

TEST_P(ReadinessWindowTest, ReadinessCountsOnlyInsideNineMilliseconds) {
  SetFaults(
      {.readiness_delay = Faults::ReadinessDelay{.before_byte = 0, .delay = GetParam().delay}});
  EXPECT_EQ(SendCommand("1ST\r", kBase), GetParam().expected);
  EXPECT_EQ(Received().size(), GetParam().expected == 1 ? 1U : 0U);
  EXPECT_EQ(controller().Snapshot().protocol_errors, 0U);
}

INSTANTIATE_TEST_SUITE_P(Boundaries, ReadinessWindowTest,
                         ::testing::Values(WindowCase{0, 1}, WindowCase{8'000, 1},
                                           WindowCase{8'999, 1}, WindowCase{9'001, 0},
                                           WindowCase{10'000, 0}),
                         [](const ::testing::TestParamInfo<WindowCase>& param_info) {
                           return "ReadyAfter" + std::to_string(param_info.param.delay) + "us";
                         });

TEST_F(LinkTest, ReadinessDelayedBeforeALaterByteCountsPerByte) {
  // Each byte has its own window: 8 ms before the third byte is still in time.
  SetFaults({.readiness_delay = Faults::ReadinessDelay{.before_byte = 2, .delay = 8'000}});
  EXPECT_EQ(SendCommand("1ST\r", kBase), 1);
  SetFaults({.readiness_delay = Faults::ReadinessDelay{.before_byte = 6, .delay = 10'000}});
  EXPECT_EQ(SendCommand("2ST\r", kBase), 0);
  EXPECT_EQ(controller().Snapshot().bytes_taken, 6U);
}

// The host thread loses the processor in the middle of a readiness wait.
struct StallCase {
  const char* name;
  Microseconds ready_after;  // when the controller shows READY
  Microseconds stall;        // how long the host is away, after its 100th look
  int expected;
};

TEST_F(LinkTest, TimeTheHostWasNotRunningIsNotHeldAgainstTheController) {
  const StallCase cases[] = {
      {"ready during a long stall", 5'000, 15'000, 1},
      {"ready only after window and stall", 25'000, 15'000, 0},
      {"a gap under 1 ms still counts", 9'500, 990, 0},
      {"a gap over 1 ms does not", 9'500, 1'010, 1},
  };
  for (const StallCase& stall : cases) {
    controller().Reset();
    SetFaults(
        {.readiness_delay = Faults::ReadinessDelay{.before_byte = 0, .delay = stall.ready_after},
         .host_stall = Faults::HostStall{.after_looks = 100, .length = stall.stall}});
    EXPECT_EQ(SendCommand("1ST\r", kBase), stall.expected) << stall.name;
  }
}

TEST_F(LinkTest, DeadControllerStillTimesOutAfterAStall) {
  SetFaults({.stuck_handshake = 0x81,
             .host_stall = Faults::HostStall{.after_looks = 100, .length = 15'000}});
  const Microseconds elapsed = Elapsed([] { EXPECT_EQ(SendCommand("1ST\r", kBase), 0); });
  EXPECT_GE(elapsed, 15'000U + 9'001U);
  EXPECT_LE(elapsed, 15'000U + 9'003U);
}

TEST_F(LinkTest, HostWhosePollsAreAllSlowStillSeesWaitsEnd) {
  constexpr Microseconds kAllowanceUs = 250'000;
  SetFaults(
      {.stuck_handshake = 0x81,
       .host_stall = Faults::HostStall{.after_looks = 1, .length = 2'000, .every_look = true}});
  const Microseconds elapsed = Elapsed([] { EXPECT_EQ(SendCommand("1ST\r", kBase), 0); });
  EXPECT_GE(elapsed, 9'000 + kAllowanceUs);
  EXPECT_LE(elapsed, 9'000 + kAllowanceUs + 2 * 2'001);
}

TEST_F(LinkTest, MissedWindowEndsJustAfterNineMilliseconds) {
  SetFaults({.stuck_handshake = 0x81});
  const Microseconds elapsed = Elapsed([] { EXPECT_EQ(SendCommand("1ST\r", kBase), 0); });
  ExpectMissedWindow(elapsed);
  EXPECT_EQ(controller().Snapshot().port_writes, 0U);
}

TEST_F(LinkTest, ValuesOtherThanExactlyReadyAreNotReady) {
  for (const int shown : {0x81, 0xFF, 0x00, 0x01, 0xC0, 0x7F}) {
    controller().Reset();
    SetFaults({.stuck_handshake = static_cast<std::uint8_t>(shown)});
    EXPECT_EQ(SendCommand("1ST\r", kBase), 0) << "handshake " << shown;
    EXPECT_EQ(controller().Snapshot().port_writes, 0U) << "handshake " << shown;
  }
}

TEST_F(LinkTest, TimeOutBeforeTheThirdByteLeavesTwoDelivered) {
  SetFaults({.dies_after_bytes = 2});
  EXPECT_EQ(SendCommand("1ST\r", kBase), 0);
  EXPECT_EQ(controller().Snapshot().bytes_taken, 2U);
  EXPECT_TRUE(Received().empty());
  EXPECT_EQ(controller().Snapshot().protocol_errors, 0U);
}

TEST_F(LinkTest, UnacknowledgedStrobeGivesUpAfterTheBound) {
  SetFaults({.never_acknowledges_byte = 1});
  const Microseconds elapsed = Elapsed([] { EXPECT_EQ(SendCommand("1ST\r", kBase), 0); });
  EXPECT_GE(elapsed, kAcknowledgeBoundUs);
  EXPECT_LE(elapsed, kAcknowledgeBoundUs + 100);
  EXPECT_EQ(controller().Snapshot().bytes_taken, 1U);
}

TEST_F(LinkTest, ControllerThatNeverComesBackToReadyAfterTheLineFails) {
  SetFaults({.dies_after_bytes = 4});
  const Microseconds elapsed = Elapsed([] { EXPECT_EQ(SendCommand("1ST\r", kBase), 0); });
  EXPECT_EQ(Received(), Lines{"1ST\r"});
  EXPECT_GE(elapsed, kAcknowledgeBoundUs);
  EXPECT_LE(elapsed, kAcknowledgeBoundUs + 100);
}

// ---- Replies ----------------------------------------------------------------

constexpr std::uint8_t kUntouched = 0xAA;

struct ReplyBuffer {
  ReplyBuffer() { bytes.fill(kUntouched); }
  std::array<std::uint8_t, 80> bytes{};
  std::string_view Text(std::size_t length) const {
    return {reinterpret_cast<const char*>(bytes.data()), length};
  }
};

TEST_F(LinkTest, ReplyIsStoredUpToItsLineFeedAndNothingAfter) {
  controller().QueueReply("12\n");
  ASSERT_EQ(SendCommand("1TP\r", kBase), 1);
  ReplyBuffer buffer;
  const link::ReplyResult reply = ReadReply(buffer.bytes, kBase);
  EXPECT_EQ(reply.delivered, 1);
  EXPECT_EQ(reply.length, 3U);
  EXPECT_EQ(buffer.Text(3), "12\n");
  EXPECT_TRUE(std::all_of(buffer.bytes.begin() + 3, buffer.bytes.end(),
                          [](std::uint8_t byte) { return byte == kUntouched; }));
  EXPECT_EQ(controller().Snapshot().protocol_errors, 0U);
}

TEST_F(LinkTest, ReplyCostsFiveAccessesPerByteAndOneForReady) {
  controller().QueueReply("+250\r\n");
  ASSERT_EQ(SendCommand("1TP\r", kBase), 1);
  const std::uint64_t before = PortAccesses();
  ReplyBuffer buffer;
  EXPECT_EQ(ReadReply(buffer.bytes, kBase).delivered, 1);
  EXPECT_EQ(PortAccesses() - before, 5U * 6 + 1);
}

TEST_F(LinkTest, AnyValueFrom0x80UpSignalsAStandingReplyByte) {
  for (const int standing : {0x80, 0x81, 0xC0, 0xFE, 0xFF}) {
    controller().Reset();
    SetFaults({.reply_standing_value = static_cast<std::uint8_t>(standing)});
    controller().QueueReply("7\n");
    ASSERT_EQ(SendCommand("1TP\r", kBase), 1);
    ReplyBuffer buffer;
    const link::ReplyResult reply = ReadReply(buffer.bytes, kBase);
    EXPECT_EQ(reply.delivered, 1) << "standing " << standing;
    EXPECT_EQ(buffer.Text(reply.length), "7\n") << "standing " << standing;
  }
}

TEST_F(LinkTest, StandingValueBelow0x80IsNotAReplyByte) {
  SetFaults({.reply_standing_value = 0x7F});
  controller().QueueReply("7\n");
  ASSERT_EQ(SendCommand("1TP\r", kBase), 1);
  ReplyBuffer buffer;
  const Microseconds elapsed =
      Elapsed([&] { EXPECT_EQ(ReadReply(buffer.bytes, kBase).delivered, 0); });
  EXPECT_LE(elapsed, kAcknowledgeBoundUs + 100);
}

TEST_F(LinkTest, NoReplyWithinTheWindowFails) {
  ASSERT_EQ(SendCommand("1ST\r", kBase), 1);  // not a query: the controller has nothing to say
  ReplyBuffer buffer;
  const Microseconds elapsed =
      Elapsed([&] { EXPECT_EQ(ReadReply(buffer.bytes, kBase).delivered, 0); });
  ExpectMissedWindow(elapsed);
}

TEST_F(LinkTest, ReplyThatStopsKeepsWhatArrived) {
  SetFaults({.reply_stops_after = 2});
  controller().QueueReply("+250\r\n");
  ASSERT_EQ(SendCommand("1TP\r", kBase), 1);
  ReplyBuffer buffer;
  const link::ReplyResult reply = ReadReply(buffer.bytes, kBase);
  EXPECT_EQ(reply.delivered, 0);
  EXPECT_EQ(buffer.Text(reply.length), "+2");
}

TEST_F(LinkTest, OverlongReplyIsDrainedNeverOverrunsAndLeavesTheLinkInStep) {
  const std::string overlong = std::string(200, '5') + "\r\n";
  controller().QueueReply(overlong);
  ASSERT_EQ(SendCommand("1TP\r", kBase), 1);
  std::array<std::uint8_t, 100> guarded{};
  guarded.fill(kUntouched);
  const link::ReplyResult reply = ReadReply(std::span(guarded).first(80), kBase);
  EXPECT_EQ(reply.delivered, 0);
  EXPECT_EQ(reply.length, 80U);
  EXPECT_TRUE(std::all_of(guarded.begin() + 80, guarded.end(),
                          [](std::uint8_t byte) { return byte == kUntouched; }));

  controller().QueueReply("+1\r\n");
  EXPECT_EQ(SendCommand("2TP\r", kBase), 1);
  ReplyBuffer buffer;
  const link::ReplyResult next = ReadReply(buffer.bytes, kBase);
  EXPECT_EQ(next.delivered, 1);
  EXPECT_EQ(buffer.Text(next.length), "+1\r\n");
  EXPECT_EQ(controller().Snapshot().protocol_errors, 0U);
}

TEST_F(LinkTest, EndlessReplyIsCutAtTheReplyBound) {
  SetFaults({.endless_reply = true});
  controller().QueueReply("+");
  ASSERT_EQ(SendCommand("1TP\r", kBase), 1);
  ReplyBuffer buffer;
  const std::uint64_t before = PortAccesses();
  const link::ReplyResult reply = ReadReply(buffer.bytes, kBase);
  EXPECT_EQ(reply.delivered, 0);
  EXPECT_EQ(reply.length, 80U);
  EXPECT_EQ(PortAccesses() - before, 5U * link::REPLY_BOUND);
}

}  // namespace
}  // namespace orvex::testing
