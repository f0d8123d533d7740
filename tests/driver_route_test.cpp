// The kernel driver's route as the link sees it: the request the library
// puts into the ioctl, and each outcome the driver can give, told as the
// library's own handshake tells it (a time-out, an unanswered query, the
// bytes stored). The route itself runs in a booted kernel (tests/kernel/).
#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "port/driver_exchange_linux.h"

namespace orvex::port {
namespace {

TEST(DriverRoute, RequestCarriesTheLineAndWhetherAReplyFollows) {
  orvex_exchange request{};
  std::memset(&request, 0xAA, sizeof(request));  // nothing of a former request stays
  ASSERT_TRUE(DriverRequest("2TP\r", true, request));
  EXPECT_EQ(request.flags, ORVEX_EXCHANGE_QUERY);
  EXPECT_EQ(request.line_length, 4U);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(request.line), 5), std::string("2TP\r\0", 5));
  EXPECT_EQ(request.outcome, 0U);
  EXPECT_EQ(request.reply_length, 0U);

  ASSERT_TRUE(DriverRequest(std::string(ORVEX_LINE_MAX, 'A'), false, request));
  EXPECT_EQ(request.flags, 0U);
  EXPECT_EQ(request.line_length, static_cast<__u32>(ORVEX_LINE_MAX));
  EXPECT_FALSE(DriverRequest(std::string(ORVEX_LINE_MAX + 1, 'A'), false, request));
}

struct OutcomeCase {
  const char* name;
  int status;  // the ioctl's return
  bool query;
  std::uint32_t outcome;
  std::uint32_t reply_length;  // as the driver fills it in
  std::size_t buffer;          // the link's reply buffer
  bool delivered;
  std::size_t stored;
};

TEST(DriverRoute, EachOutcomeIsTheHandshakesOwn) {
  const OutcomeCase cases[] = {
      {"command delivered", 0, false, ORVEX_DELIVERED, 0, 0, true, 0},
      {"no READY in the window", 0, false, ORVEX_READY_MISSED, 0, 0, false, 0},
      {"no acknowledgement", 0, false, ORVEX_ACK_MISSED, 0, 0, false, 0},
      {"card busy for the whole bound", 0, true, ORVEX_CARD_BUSY, 0, 80, false, 0},
      {"an outcome this library does not know", 0, false, 5, 0, 0, false, 0},
      {"interrupted while waiting (EINTR)", -1, true, ORVEX_DELIVERED, 6, 80, false, 0},
      {"query answered", 0, true, ORVEX_DELIVERED, 6, 80, true, 6},
      {"reply fills the buffer", 0, true, ORVEX_DELIVERED, 80, 80, true, 80},
      {"reply one past a smaller buffer", 0, true, ORVEX_DELIVERED, 7, 6, false, 6},
      {"reply cut short", 0, true, ORVEX_REPLY_NOT_DELIVERED, 3, 80, false, 3},
      {"a length past the driver's buffer", 0, true, ORVEX_REPLY_NOT_DELIVERED, 4000, 80, false,
       80},
  };
  for (const OutcomeCase& outcome : cases) {
    SCOPED_TRACE(outcome.name);
    orvex_exchange exchange{};
    ASSERT_TRUE(DriverRequest(outcome.query ? "1TP\r" : "1ST\r", outcome.query, exchange));
    exchange.outcome = outcome.outcome;
    exchange.reply_length = outcome.reply_length;
    for (std::size_t index = 0; index < ORVEX_REPLY_SIZE; ++index) {
      exchange.reply[index] = static_cast<std::uint8_t>(index + 1);
    }
    std::array<std::uint8_t, ORVEX_REPLY_SIZE + 1> reply{};
    const CarriedExchange carried =
        DriverOutcome(outcome.status, exchange, std::span(reply).first(outcome.buffer));
    EXPECT_EQ(carried.delivered, outcome.delivered);
    EXPECT_EQ(carried.reply_length, outcome.stored);
    for (std::size_t index = 0; index < outcome.stored; ++index) {
      EXPECT_EQ(reply[index], index + 1) << index;
    }
    EXPECT_EQ(reply[outcome.stored], 0) << "a byte stored past the reply";
  }
}

}  // namespace
}  // namespace orvex::port
