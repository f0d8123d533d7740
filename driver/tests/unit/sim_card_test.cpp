// The simulated card of orvex_sim, driven by the driver's own exchange logic
// on the fake clock: what it answers, what it keeps, how it slows down.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fake_clock.h"

extern "C" {
#include "orvex_exchange.h"
#include "orvex_sim_card.h"
}

namespace orvex::driver_test {
namespace {

constexpr std::uint64_t kMillisecond = 1'000'000;

class SimCardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetClock();
    orvex_sim_init(&card, transcript.data(), static_cast<std::uint32_t>(transcript.size()));
  }

  static std::uint8_t Read(void* context, unsigned offset) {
    return orvex_sim_read(static_cast<orvex_sim_card*>(context), offset, Clock().now);
  }
  static void Write(void* context, unsigned offset, std::uint8_t value) {
    orvex_sim_write(static_cast<orvex_sim_card*>(context), offset, value, Clock().now);
  }

  orvex_exchange Carry(std::string_view line, bool query = false) {
    static const orvex_register_ops ops = {.read = &Read, .write = &Write};
    const orvex_port port = {.ops = &ops, .context = &card};
    orvex_exchange exchange{};
    exchange.flags = query ? ORVEX_EXCHANGE_QUERY : 0;
    exchange.line_length = static_cast<std::uint32_t>(line.size());
    std::memcpy(exchange.line, line.data(), line.size());
    orvex_carry_exchange(&port, &exchange);
    return exchange;
  }

  std::string Ask(std::string_view line) {
    const orvex_exchange answered = Carry(line, true);
    EXPECT_EQ(answered.outcome, ORVEX_DELIVERED) << line;
    return {reinterpret_cast<const char*>(answered.reply), answered.reply_length};
  }

  void Tell(std::string_view line) { EXPECT_EQ(Carry(line).outcome, ORVEX_DELIVERED) << line; }

  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    for (std::uint32_t index = 0; const orvex_sim_line* line = orvex_sim_line_at(&card, index);
         ++index)
      lines.emplace_back(reinterpret_cast<const char*>(line->bytes), line->length);
    return lines;
  }

  std::vector<orvex_sim_line> transcript = std::vector<orvex_sim_line>(10);
  orvex_sim_card card{};
};

TEST_F(SimCardTest, TakesASetUpAndAMoveAndAnswersStatusAndPosition) {
  const std::vector<std::string> setup = {"1FI11\r", "1VA1000;AC50000\r", "1FM3\r", "1DH\r",
                                          "1PA 250\r"};
  for (const std::string& line : setup) Tell(line);
  EXPECT_EQ(Ask("TS\r"), "A\r\n");    // 0x41: axis 1 moves
  Clock().now += 250 * kMillisecond;  // 250 counts at 1000 a second
  EXPECT_EQ(Ask("TS\r"), "@\r\n");
  EXPECT_EQ(Ask("1TP\r"), "+250\r\n");
  EXPECT_EQ(Ask("2TP\r"), "+0\r\n");

  std::vector<std::string> expected = setup;
  expected.insert(expected.end(), {"TS\r", "TS\r", "1TP\r", "2TP\r"});
  EXPECT_EQ(Lines(), expected);
  EXPECT_EQ(card.unknown_commands, 0u);
  EXPECT_EQ(card.protocol_errors, 0u);
}

TEST_F(SimCardTest, MovesAtItsSpeedStopsAndHomes) {
  Tell("2VA 100\r");
  Tell("2PR -50\r");
  Clock().now += 250 * kMillisecond;
  EXPECT_EQ(Ask("2TP\r"), "-25\r\n");
  Tell("2ST\r");
  Clock().now += 1000 * kMillisecond;
  EXPECT_EQ(Ask("2TP\r"), "-25\r\n");
  EXPECT_EQ(Ask("TS\r"), "@\r\n");
  Tell("2DH\r");
  EXPECT_EQ(Ask("2TP\r"), "+0\r\n");
}

TEST_F(SimCardTest, CountsWhatItDoesNotKnowAndAnswersNothing) {
  for (const char* line : {"1XX 5\r", "TP\r", "3PA 5\r", "1PA\r", "1PA 5x\r"}) {
    const orvex_exchange answered = Carry(line, true);
    EXPECT_EQ(answered.outcome, ORVEX_REPLY_NOT_DELIVERED) << line;
    EXPECT_EQ(answered.reply_received, 0u) << line;
  }
  EXPECT_EQ(card.unknown_commands, 5u);
}

TEST_F(SimCardTest, AcknowledgesEachByteAfterItsDelay) {
  card.ack_delay_ns = 2 * kMillisecond;
  const std::uint64_t started = Clock().now;
  Tell("1ST\r");
  EXPECT_GE(Clock().now - started, 4 * 2 * kMillisecond);

  card.ack_delay_ns = ORVEX_ACKNOWLEDGE_BOUND_NS + kMillisecond;
  const orvex_exchange slow = Carry("1ST\r");
  EXPECT_EQ(slow.outcome, ORVEX_ACK_MISSED);
  EXPECT_EQ(slow.bytes_sent, 0u);
}

TEST_F(SimCardTest, KeepsItsLatestLinesInOrderUntilCleared) {
  for (int line = 0; line < 12; ++line) Tell(std::to_string(line) + "\r");
  EXPECT_EQ(Lines(), (std::vector<std::string>{"2\r", "3\r", "4\r", "5\r", "6\r", "7\r", "8\r",
                                               "9\r", "10\r", "11\r"}));
  orvex_sim_clear_transcript(&card);
  EXPECT_TRUE(Lines().empty());
  Tell("1ST\r");
  EXPECT_EQ(Lines(), std::vector<std::string>{"1ST\r"});
}

TEST_F(SimCardTest, CountsStrobesAndReleasesOutOfTurn) {
  orvex_sim_write(&card, ORVEX_HANDSHAKE_REGISTER, ORVEX_RELEASE, Clock().now);  // nothing strobed
  orvex_sim_write(&card, ORVEX_HANDSHAKE_REGISTER, 0x55, Clock().now);           // no such value
  orvex_sim_write(&card, ORVEX_HANDSHAKE_REGISTER, ORVEX_STROBE, Clock().now);
  orvex_sim_write(&card, ORVEX_HANDSHAKE_REGISTER, ORVEX_STROBE, Clock().now);  // strobed twice
  EXPECT_EQ(card.protocol_errors, 3u);
}

TEST_F(SimCardTest, MarksALineLongerThanItKeeps) {
  for (int byte = 0; byte < ORVEX_SIM_LINE_CAPACITY + 4; ++byte) {
    orvex_sim_write(&card, ORVEX_DATA_REGISTER, byte + 1 < ORVEX_SIM_LINE_CAPACITY + 4 ? 'x' : '\r',
                    Clock().now);
    orvex_sim_write(&card, ORVEX_HANDSHAKE_REGISTER, ORVEX_STROBE, Clock().now);
    orvex_sim_write(&card, ORVEX_HANDSHAKE_REGISTER, ORVEX_RELEASE, Clock().now);
  }
  ASSERT_EQ(orvex_sim_kept_lines(&card), 1u);
  EXPECT_TRUE(orvex_sim_line_at(&card, 0)->overlong);
  EXPECT_EQ(orvex_sim_line_at(&card, 0)->length,
            static_cast<std::uint32_t>(ORVEX_SIM_LINE_CAPACITY));
}

}  // namespace
}  // namespace orvex::driver_test
