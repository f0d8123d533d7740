// The queries through their exports, against the virtual controller's own
// answers and against scripted replies.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "orvexportio.h"
#include "virtual_controller_fixture.h"

namespace orvex::testing {
namespace {

constexpr float kPositionError = ORVEX_POSITION_ERROR;

// What TP gives for a reply whose number parses as `counts`.
float CallerUnits(float counts) {
  return static_cast<float>(static_cast<double>(counts) / 100.0);
}

class QueriesTest : public VirtualControllerTest {};

struct PositionReplyCase {
  std::string reply;
  float expected;
};

TEST_F(QueriesTest, PositionRepliesAreFilteredAndParsed) {
  const PositionReplyCase cases[] = {
      {"+12.5\r\n", 0.125F},
      {"A1.5B2\n", CallerUnits(1.52F)},
      {"-250\r\n", -2.5F},
      {"1.2.3\n", CallerUnits(1.2F)},
      {" + 3 0 0 mm\r\n", 3.0F},
      {std::string("12\0"
                   "34\n",
                   6),
       CallerUnits(12.0F)},  // a NUL ends the text
      {"\xB1"
       "5\xFF"
       "0\n",
       0.5F},  // bytes above 0x7F are dropped
      {"no digit\r\n", kPositionError},
      {"+-5\n", kPositionError},
      {"-\n", kPositionError},
      {".\n", kPositionError},
      {"\n", kPositionError},
  };
  for (const PositionReplyCase& position : cases) {
    controller().QueueReply(position.reply);
    EXPECT_EQ(TP(1), position.expected) << '"' << position.reply << '"';
  }
  EXPECT_EQ(Received(), Lines(std::size(cases), "1TP\r"));
  EXPECT_EQ(controller().Snapshot().protocol_errors, 0U);
}

TEST_F(QueriesTest, PositionOfEachAxisComesFromItsOwnQuery) {
  controller().QueueReply("+250\r\n");
  EXPECT_EQ(TP(2), 2.5F);
  EXPECT_EQ(Received(), Lines{"2TP\r"});
}

TEST_F(QueriesTest, PositionWithoutAnAxisSendsNothing) {
  for (const int axis : {0, 3, -1, 127, -128}) {
    EXPECT_EQ(TP(static_cast<signed char>(axis)), kPositionError) << axis;
  }
  EXPECT_EQ(PortAccesses(), 0U);
}

TEST_F(QueriesTest, PositionQueryThatTimesOutGivesTheErrorValue) {
  SetFaults({.stuck_handshake = 0xFF});
  EXPECT_EQ(TP(1), kPositionError);
  controller().Reset();
  SetFaults({.reply_stops_after = 0});
  EXPECT_EQ(TP(1), kPositionError);
  controller().Reset();
  SetFaults({.reply_stops_after = 3});
  controller().QueueReply("+2500\r\n");
  EXPECT_EQ(TP(1), kPositionError);  // "+25" arrived, but no line feed
}

TEST_F(QueriesTest, OverlongPositionReplyFailsAndTheNextQueryWorks) {
  controller().QueueReply(std::string(300, '1') + "\r\n");
  EXPECT_EQ(TP(1), kPositionError);
  ASSERT_EQ(MA(1, 0.0F), 1);
  EXPECT_EQ(TP(1), 0.0F);
  EXPECT_EQ(controller().Snapshot().protocol_errors, 0U);
}

TEST_F(QueriesTest, LinkCheckAsksAxisOneOnly) {
  EXPECT_EQ(OK(), 1);
  controller().QueueReply("?\r\n");
  EXPECT_EQ(OK(), 0);
  SetFaults({.reply_stops_after = 0});
  EXPECT_EQ(OK(), 0);
  EXPECT_EQ(Received(), (Lines{"1TP\r", "1TP\r", "1TP\r"}));
  controller().ClearFaults();
  EXPECT_EQ(TP(2), 0.0F);  // axis 2 answers, which OK never asks
}

TEST_F(QueriesTest, LinkCheckTakesAPositionOfExactlyTheErrorValueAsAnAnswer) {
  controller().QueueReply("+1000000000000\r\n");
  EXPECT_EQ(TP(1), kPositionError);
  controller().QueueReply("+1000000000000\r\n");
  EXPECT_EQ(OK(), 1);
}

struct StatusCase {
  std::string reply;
  signed char axis;
  int expected;
};

TEST_F(QueriesTest, StatusBitsOfTheAddressedAxes) {
  const StatusCase cases[] = {
      {"\x40\r\n", 0, 1},
      {"\x40\r\n", 1, 1},
      {"\x40\r\n", 2, 1},
      {"\x41\r\n", 0, 0},
      {"\x41\r\n", 1, 0},
      {"\x41\r\n", 2, 1},
      {"\x42\r\n", 0, 0},
      {"\x42\r\n", 1, 1},
      {"\x42\r\n", 2, 0},
      {"\x43\r\n", 0, 0},
      {"\x43\r\n", 1, 0},
      {"\x43\r\n", 2, 0},
      {"\x02\n", 1, 1},
      {"\x02\n", 0, 0},
      {"\xFC\n", 0, 1},
      // A reply that is only a line feed: status 0x0A, bit 1 set.
      {"\n", 1, 1},
      {"\n", 2, 0},
      {"\n", 0, 0},
  };
  for (const StatusCase& status : cases) {
    controller().QueueReply(status.reply);
    EXPECT_EQ(MT(status.axis), status.expected)
        << "status " << int{static_cast<std::uint8_t>(status.reply[0])} << " axis "
        << int{status.axis};
  }
  EXPECT_EQ(Received(), Lines(std::size(cases), "TS\r"));
}

TEST_F(QueriesTest, StatusWithoutAnAxisGivesTheFirstFourReplyBytes) {
  const StatusCase cases[] = {
      {"\x41\x42\x43\x44\r\n", 7, 0x44434241},
      {"\x41\x42\x43\n", 7, 0x0A434241},
      {"\x41\n", 3, 0x00000A41},
      {"\n", -1, 0x0000000A},
      {"\xFF\xFF\xFF\xFF\n", 100, -1},
  };
  for (const StatusCase& status : cases) {
    controller().QueueReply(status.reply);
    EXPECT_EQ(MT(status.axis), status.expected) << int{status.axis};
  }
  EXPECT_EQ(Received(), Lines(std::size(cases), "TS\r"));
}

TEST_F(QueriesTest, StatusExchangeThatFailsReadsAsNotDone) {
  for (const int axis : {0, 1, 2, 7}) {
    controller().Reset();
    SetFaults({.reply_stops_after = 0});
    EXPECT_EQ(MT(static_cast<signed char>(axis)), 0) << axis;
    controller().Reset();
    SetFaults({.stuck_handshake = 0x81});
    EXPECT_EQ(MT(static_cast<signed char>(axis)), 0) << axis;
  }
}

TEST_F(QueriesTest, WaitPollsUntilTheMovingAxisArrives) {
  ASSERT_EQ(MA(1, 2.5F), 1);
  const sim::Microseconds start = controller().Now();
  EXPECT_EQ(WS(1), 1);
  const sim::Microseconds waited = controller().Now() - start;
  // 250 units at 1000 units/s, accelerating and braking at 50000 units/s^2.
  EXPECT_GE(waited, 270'000U);
  EXPECT_LE(waited, 272'000U);
  const std::size_t polls = Received().size() - 1;
  EXPECT_GT(polls, 1'000U);
  EXPECT_EQ(controller().Axis(0).position, 250.0);
  EXPECT_EQ(TP(1), 2.5F);
}

TEST_F(QueriesTest, WaitOnTheOtherAxisDoesNotWaitForTheMovingOne) {
  ASSERT_EQ(MA(1, 2.5F), 1);
  EXPECT_EQ(WS(2), 1);
  EXPECT_EQ(Received(), (Lines{"1PA 250\r", "TS\r"}));
  EXPECT_TRUE(controller().Axis(0).moving);
  EXPECT_EQ(WS(0), 1);
  EXPECT_FALSE(controller().Axis(0).moving);
}

TEST_F(QueriesTest, WaitOutlastsTheSilenceBoundWhileTheControllerAnswers) {
  ASSERT_EQ(SV(2, 10.0F), 1);  // 1000 units/s
  ASSERT_EQ(MR(2, 30.0F), 1);  // 3000 units: about three seconds
  const sim::Microseconds start = controller().Now();
  EXPECT_EQ(WS(0), 1);
  EXPECT_GT(controller().Now() - start, 3'000'000U);
  EXPECT_EQ(TP(2), 30.0F);
}

TEST_F(QueriesTest, WaitGivesUpOnASilentControllerAfterAboutASecond) {
  const std::uint64_t move_bytes = std::string("1PA 10000\r").size();
  const sim::Faults silent[] = {{.stuck_handshake = 0xFF},
                                {.reply_stops_after = 0},
                                {.never_acknowledges_byte = move_bytes + 1}};
  for (const sim::Faults& fault : silent) {
    controller().Reset();
    ASSERT_EQ(MA(1, 100.0F), 1);
    ASSERT_EQ(controller().Snapshot().bytes_taken, move_bytes);
    SetFaults(fault);
    const sim::Microseconds start = controller().Now();
    EXPECT_EQ(WS(1), 0);
    const sim::Microseconds waited = controller().Now() - start;
    EXPECT_GE(waited, 1'000'000U);
    EXPECT_LE(waited, 2'100'000U);  // the last exchange may itself run a whole bound
  }
}

TEST_F(QueriesTest, WaitWithoutAnAxisSendsNothing) {
  EXPECT_EQ(WS(3), 3);
  EXPECT_EQ(WS(-2), -2);
  EXPECT_EQ(PortAccesses(), 0U);
}

}  // namespace
}  // namespace orvex::testing
