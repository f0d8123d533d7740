// The exchange logic of the driver, in user space on a fake clock against a
// scripted card: the bytes on the wire, and both sides of every bound.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "fake_card.h"
#include "fake_clock.h"

namespace orvex::driver_test {
namespace {

// The ABI's layout is fixed: the same for 32-bit and 64-bit callers, with
// no padding.
static_assert(sizeof(orvex_exchange) == 188);
static_assert(offsetof(orvex_exchange, line) == 8);
static_assert(offsetof(orvex_exchange, outcome) == 88);
static_assert(offsetof(orvex_exchange, reply_ended) == 104);
static_assert(offsetof(orvex_exchange, reply) == 108);

constexpr std::uint64_t kWindow = ORVEX_HANDSHAKE_WINDOW_NS;
constexpr std::uint64_t kBound = ORVEX_ACKNOWLEDGE_BOUND_NS;
constexpr std::uint64_t kLook = 1'000;  // the fake clock's cost of a reading
constexpr std::uint64_t kMillisecond = 1'000'000;

orvex_exchange Request(std::string_view line, bool query) {
  orvex_exchange request{};
  request.flags = query ? ORVEX_EXCHANGE_QUERY : 0;
  request.line_length = static_cast<std::uint32_t>(line.size());
  std::memcpy(request.line, line.data(), line.size());
  return request;
}

std::string ReplyOf(const orvex_exchange& exchange) {
  return {reinterpret_cast<const char*>(exchange.reply), exchange.reply_length};
}

template <typename Case>
std::string CaseName(const ::testing::TestParamInfo<Case>& tested) {
  return tested.param.name;
}

class ExchangeTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetClock(); }

  orvex_exchange Carry(std::string_view line, bool query = false) {
    orvex_exchange exchange = Request(line, query);
    EXPECT_EQ(orvex_check_exchange(&exchange), 0);
    const orvex_port port = card.Port();
    const std::uint64_t started = Clock().now;
    orvex_carry_exchange(&port, &exchange);
    took = Clock().now - started;
    return exchange;
  }

  FakeCard card;
  std::uint64_t took = 0;
};

TEST_F(ExchangeTest, ACommandGoesOutAsDataStrobeReleaseForEachByte) {
  const std::string line = "1PA 250\r";
  const orvex_exchange sent = Carry(line);

  std::vector<Write> expected;
  for (const char byte : line) {
    for (const Write& write : CommandByteWrites(static_cast<std::uint8_t>(byte)))
      expected.push_back(write);
  }
  EXPECT_EQ(card.writes, expected);
  EXPECT_EQ(card.taken, line);
  EXPECT_EQ(sent.outcome, ORVEX_DELIVERED);
  EXPECT_EQ(sent.bytes_sent, line.size());
  EXPECT_EQ(card.protocol_errors, 0);
  EXPECT_EQ(Clock().yields, line.size()) << "other tasks may run between two bytes";
}

TEST_F(ExchangeTest, AQueryBringsItsReplyLineBack) {
  card.reply = "+250\r\n";
  const orvex_exchange answered = Carry("1TP\r", true);

  std::vector<Write> expected;
  for (const char byte : std::string("1TP\r"))
    for (const Write& write : CommandByteWrites(static_cast<std::uint8_t>(byte)))
      expected.push_back(write);
  for (std::size_t byte = 0; byte < card.reply.size(); ++byte)
    for (const Write& write : ReplyByteWrites()) expected.push_back(write);
  EXPECT_EQ(card.writes, expected);
  EXPECT_EQ(answered.outcome, ORVEX_DELIVERED);
  EXPECT_EQ(ReplyOf(answered), "+250\r\n");
  EXPECT_EQ(answered.reply_received, 6u);
  EXPECT_EQ(answered.reply_ended, 1u);
  EXPECT_EQ(card.reply_bytes_left(), 0u);
  EXPECT_EQ(card.protocol_errors, 0);
}

// ---- The bounds of a command line, each hit a look before and as it ends ----

struct CommandCase {
  const char* name;
  std::function<void(FakeCard&)> arrange;
  std::uint32_t outcome;
  std::uint32_t bytes_sent;
};

void PrintTo(const CommandCase& tested, std::ostream* out) {
  *out << tested.name;
}

class CommandBoundTest : public ExchangeTest, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(CommandBoundTest, EndsAsTheCardAllows) {
  GetParam().arrange(card);
  const std::string line = "1ST\r";
  const orvex_exchange sent = Carry(line);
  EXPECT_EQ(sent.outcome, GetParam().outcome);
  EXPECT_EQ(sent.bytes_sent, GetParam().bytes_sent);
  // The bytes sent before a miss stay sent; no byte after it goes out.
  EXPECT_EQ(card.taken, line.substr(0, GetParam().bytes_sent));
  EXPECT_EQ(card.protocol_errors, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Bounds, CommandBoundTest,
    ::testing::Values(
        CommandCase{"ReadyALookBeforeTheWindowEnds",
                    [](FakeCard& card) { card.ready_delay[0] = kWindow - kLook; }, ORVEX_DELIVERED,
                    4},
        CommandCase{"ReadyAsTheWindowEnds", [](FakeCard& card) { card.ready_delay[0] = kWindow; },
                    ORVEX_READY_MISSED, 0},
        CommandCase{"ReadyBeforeTheThirdByteAsTheWindowEnds",
                    [](FakeCard& card) { card.ready_delay[2] = kWindow; }, ORVEX_READY_MISSED, 2},
        CommandCase{"AcknowledgedALookBeforeTheBound",
                    [](FakeCard& card) { card.acknowledge_delay[1] = kBound - kLook; },
                    ORVEX_DELIVERED, 4},
        CommandCase{"AcknowledgedAsTheBoundEnds",
                    [](FakeCard& card) { card.acknowledge_delay[1] = kBound; }, ORVEX_ACK_MISSED,
                    1},
        CommandCase{"BackToReadyALookBeforeTheBound",
                    [](FakeCard& card) { card.ready_delay[4] = kBound - kLook; }, ORVEX_DELIVERED,
                    4},
        CommandCase{"BackToReadyAsTheBoundEnds",
                    [](FakeCard& card) { card.ready_delay[4] = kBound; }, ORVEX_ACK_MISSED, 4},
        // Only exactly 0x80 is READY; a dead bus reads 0xFF.
        CommandCase{"HandshakeStuckAt0x81", [](FakeCard& card) { card.stuck = 0x81; },
                    ORVEX_READY_MISSED, 0},
        CommandCase{"HandshakeStuckAt0xFF", [](FakeCard& card) { card.stuck = 0xFF; },
                    ORVEX_READY_MISSED, 0},
        CommandCase{"HandshakeStuckAt0x7F", [](FakeCard& card) { card.stuck = 0x7F; },
                    ORVEX_READY_MISSED, 0}),
    CaseName<CommandCase>);

TEST_F(ExchangeTest, ADeadCardEndsTheExchangeWhenTheWindowEnds) {
  card.stuck = 0xFF;
  const orvex_exchange sent = Carry("1TP\r", true);
  EXPECT_EQ(sent.outcome, ORVEX_READY_MISSED);
  EXPECT_GE(took, kWindow);
  EXPECT_LE(took, kWindow + 2 * kLook);
  EXPECT_TRUE(card.writes.empty());
}

// ---- Replies -----------------------------------------------------------------------

struct ReplyCase {
  const char* name;
  std::function<void(FakeCard&)> arrange;
  std::uint32_t outcome;
  std::uint32_t received;
  std::uint32_t ended;
  std::size_t left_on_card;
};

void PrintTo(const ReplyCase& tested, std::ostream* out) {
  *out << tested.name;
}

class ReplyTest : public ExchangeTest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(ReplyTest, IsTakenAsFarAsTheCardAndTheBoundsAllow) {
  card.reply = "+250\r\n";
  GetParam().arrange(card);
  const orvex_exchange answered = Carry("1TP\r", true);
  EXPECT_EQ(answered.outcome, GetParam().outcome);
  EXPECT_EQ(answered.bytes_sent, 4u);
  EXPECT_EQ(answered.reply_received, GetParam().received);
  EXPECT_EQ(answered.reply_ended, GetParam().ended);
  const std::size_t stored = std::min<std::size_t>(GetParam().received, ORVEX_REPLY_SIZE);
  EXPECT_EQ(ReplyOf(answered), card.reply.substr(0, stored));
  EXPECT_EQ(card.reply_bytes_left(), GetParam().left_on_card);
  EXPECT_EQ(card.protocol_errors, 0);
}

std::string ReplyOfLength(std::size_t length) {
  return std::string(length - 2, '7') + "\r\n";
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ReplyTest,
    ::testing::Values(
        ReplyCase{"EightyBytesFit", [](FakeCard& card) { card.reply = ReplyOfLength(80); },
                  ORVEX_DELIVERED, 80, 1, 0},
        // Drained to its line feed, so the card ends its reply, but not delivered.
        ReplyCase{"EightyOneBytesDoNot", [](FakeCard& card) { card.reply = ReplyOfLength(81); },
                  ORVEX_REPLY_NOT_DELIVERED, 81, 1, 0},
        ReplyCase{"ReplyBoundReachedWithTheLineFeed",
                  [](FakeCard& card) { card.reply = ReplyOfLength(ORVEX_REPLY_BOUND); },
                  ORVEX_REPLY_NOT_DELIVERED, ORVEX_REPLY_BOUND, 1, 0},
        ReplyCase{"ReplyBoundReachedBeforeTheLineFeed",
                  [](FakeCard& card) { card.reply = ReplyOfLength(ORVEX_REPLY_BOUND + 1); },
                  ORVEX_REPLY_NOT_DELIVERED, ORVEX_REPLY_BOUND, 0, 1},
        ReplyCase{"NoLineFeed", [](FakeCard& card) { card.reply = "+25"; },
                  ORVEX_REPLY_NOT_DELIVERED, 3, 0, 0},
        ReplyCase{"NoReply", [](FakeCard& card) { card.reply = ""; }, ORVEX_REPLY_NOT_DELIVERED, 0,
                  0, 0},
        ReplyCase{"OfferedALookBeforeTheWindowEnds",
                  [](FakeCard& card) { card.offer_delay[0] = kWindow - kLook; }, ORVEX_DELIVERED, 6,
                  1, 0},
        ReplyCase{"OfferedAsTheWindowEnds", [](FakeCard& card) { card.offer_delay[0] = kWindow; },
                  ORVEX_REPLY_NOT_DELIVERED, 0, 0, 6},
        ReplyCase{"ThirdByteOfferedAsTheWindowEnds",
                  [](FakeCard& card) { card.offer_delay[2] = kWindow; }, ORVEX_REPLY_NOT_DELIVERED,
                  2, 0, 4},
        ReplyCase{"StandingALookBeforeTheBound",
                  [](FakeCard& card) { card.standing_delay[0] = kBound - kLook; }, ORVEX_DELIVERED,
                  6, 1, 0},
        ReplyCase{"StandingAsTheBoundEnds", [](FakeCard& card) { card.standing_delay[0] = kBound; },
                  ORVEX_REPLY_NOT_DELIVERED, 0, 0, 6},
        ReplyCase{"BackToReadyALookBeforeTheBound",
                  [](FakeCard& card) { card.ready_after_reply = kBound - kLook; }, ORVEX_DELIVERED,
                  6, 1, 0},
        ReplyCase{"BackToReadyAsTheBoundEnds",
                  [](FakeCard& card) { card.ready_after_reply = kBound; },
                  ORVEX_REPLY_NOT_DELIVERED, 6, 1, 0},
        // Any value from 0x80 up says the reply byte stands.
        ReplyCase{"StandingShownAs0xFF", [](FakeCard& card) { card.standing_value = 0xFF; },
                  ORVEX_DELIVERED, 6, 1, 0},
        ReplyCase{"StandingShownAs0xA5", [](FakeCard& card) { card.standing_value = 0xA5; },
                  ORVEX_DELIVERED, 6, 1, 0},
        ReplyCase{"StandingShownAs0x7F", [](FakeCard& card) { card.standing_value = 0x7F; },
                  ORVEX_REPLY_NOT_DELIVERED, 0, 0, 6}),
    CaseName<ReplyCase>);

// ---- Empty lines ---------------------------------------------------------------------

TEST_F(ExchangeTest, AnEmptyLineSendsNothingAndWaitsForReady) {
  card.ready_delay[0] = kBound - kLook;
  EXPECT_EQ(Carry("").outcome, ORVEX_DELIVERED);
  EXPECT_TRUE(card.writes.empty());
  card = FakeCard{};
  card.ready_delay[0] = kBound;
  EXPECT_EQ(Carry("").outcome, ORVEX_ACK_MISSED);
  EXPECT_TRUE(card.writes.empty());
}

// ---- The processor is given away while the card is slow ----------------------------

TEST_F(ExchangeTest, NapsBetweenLooksOnceTheBusyPollIsOver) {
  card.stuck = 0xFF;
  Carry("1\r");
  EXPECT_LE(Clock().most_readings_between_naps, ORVEX_BUSY_POLL_NS / kLook + 2);
  EXPECT_GE(Clock().naps, (kWindow - ORVEX_BUSY_POLL_NS) / kLook - 2);
  // Longer naps once a millisecond has passed, short ones again at the end.
  const std::uint64_t long_naps =
      (kWindow - ORVEX_SHORT_NAPS_NS - ORVEX_LONG_NAP_MAX_US * 1000) / kLook;
  EXPECT_GE(Clock().long_naps, long_naps - 2);
  EXPECT_LE(Clock().long_naps, long_naps + 2);
  EXPECT_EQ(Clock().last_nap_longest_us, ORVEX_SHORT_NAP_MAX_US);
}

TEST_F(ExchangeTest, ATaskStallIsNotHeldAgainstTheCard) {
  // The first nap oversleeps by 5 ms: READY 12 ms after the first look is
  // still within the window, moved out by the stall.
  Clock().nap_length = [](std::uint64_t nap) { return nap == 0 ? 5 * kMillisecond : 0; };
  card.ready_delay[0] = 12 * kMillisecond;
  EXPECT_EQ(Carry("1\r").outcome, ORVEX_DELIVERED);
}

TEST_F(ExchangeTest, StallsAreGivenBackUpToTheAllowance) {
  Clock().nap_length = [](std::uint64_t) { return 2 * kMillisecond; };
  card.stuck = 0xFF;
  EXPECT_EQ(Carry("1\r").outcome, ORVEX_READY_MISSED);
  EXPECT_GE(took, kWindow + ORVEX_STALL_ALLOWANCE_NS);
  EXPECT_LE(took, kWindow + ORVEX_STALL_ALLOWANCE_NS + 2 * kMillisecond + 2 * kLook);
}

// ---- Requests ------------------------------------------------------------------------

struct RequestCase {
  const char* name;
  std::uint32_t flags;
  std::uint32_t length;
  std::string line;
  int verdict;
};

void PrintTo(const RequestCase& tested, std::ostream* out) {
  *out << tested.name;
}

class RequestTest : public ::testing::TestWithParam<RequestCase> {};

TEST_P(RequestTest, IsCheckedBeforeAnythingIsSent) {
  orvex_exchange request{};
  request.flags = GetParam().flags;
  request.line_length = GetParam().length;
  std::memset(request.line, 'x', sizeof(request.line));
  std::memcpy(request.line, GetParam().line.data(), GetParam().line.size());
  EXPECT_EQ(orvex_check_exchange(&request), GetParam().verdict);
}

const std::string kLongest = std::string(ORVEX_LINE_MAX - 1, '5') + "\r";

INSTANTIATE_TEST_SUITE_P(
    Requests, RequestTest,
    ::testing::Values(RequestCase{"Empty", 0, 0, "", 0},
                      RequestCase{"Longest", 0, ORVEX_LINE_MAX, kLongest, 0},
                      RequestCase{"OneTooLong", 0, ORVEX_LINE_MAX + 1, kLongest + "\r", -EINVAL},
                      RequestCase{"LengthBeyondTheField", 0, 0xFFFFFFFF, "", -EINVAL},
                      RequestCase{"NoCarriageReturn", 0, 3, "1PA", -EINVAL},
                      RequestCase{"TwoLines", 0, 4, "1\r2\r", -EINVAL},
                      RequestCase{"Query", ORVEX_EXCHANGE_QUERY, 4, "1TP\r", 0},
                      RequestCase{"UnknownFlag", 0x2, 4, "1TP\r", -EINVAL},
                      RequestCase{"EveryFlag", 0xFFFFFFFF, 4, "1TP\r", -EINVAL}),
    CaseName<RequestCase>);

}  // namespace
}  // namespace orvex::driver_test
