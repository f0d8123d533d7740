// A holder that dies at any port access of an exchange leaves the exchange
// in its record; the next holder finishes it exactly: the controller takes
// the line whole, once, drops nothing of a reply it owes, and takes the next
// holder's line after it. The host dies here in the middle of the link, at
// every access of a command line and of a query in turn, just before the
// access or just after it (dying_host_bus.cpp).
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "dying_host_bus.h"
#include "link/exchange_record.h"
#include "link/finish_exchange.h"
#include "link/link.h"
#include "port/platform.h"
#include "virtual_bus.h"

namespace orvex::testing {
namespace {

using Lines = std::vector<std::string>;

const port::CardPorts kCard{0x340};

struct Exchange {
  const char* line;
  bool query;
};

// The exchange as the link makes it, noted in `record`.
void RunExchange(const Exchange& exchange, link::ExchangeRecord& record) {
  record.Begin(exchange.line, exchange.query);
  std::array<std::uint8_t, 80> reply{};
  if (link::SendCommand(exchange.line, kCard, record) && exchange.query) {
    (void)link::ReadReply(reply, kCard, record);
  }
  record.End();
}

std::uint64_t Accesses() {
  return sim::TheController().Snapshot().PortAccesses();
}

// How many port accesses the exchange takes when nobody dies.
std::uint64_t AccessesOf(const Exchange& exchange) {
  sim::TheBus().Reset();
  link::ExchangeRecord record{};
  RunExchange(exchange, record);
  return Accesses();
}

class FinishExchangeTest : public ::testing::TestWithParam<Exchange> {
 protected:
  static void SetUpTestSuite() { sim::TheController().SetClock(sim::Clock::Virtual); }
};

TEST_P(FinishExchangeTest, TheNextHolderFinishesTheLineWhereverTheHolderDied) {
  const Exchange exchange = GetParam();
  const std::uint64_t total = AccessesOf(exchange);
  ASSERT_GT(total, 20U);
  for (std::uint64_t at = 1; at <= total; ++at) {
    for (const bool made : {false, true}) {
      SCOPED_TRACE("died " + std::string(made ? "after" : "before") + " access " +
                   std::to_string(at) + " of " + std::to_string(total));
      sim::TheBus().Reset();
      link::ExchangeRecord record{};
      PlanDeath(at, made);
      EXPECT_THROW(RunExchange(exchange, record), HostDied);
      CancelDeath();
      link::FinishExchange(record, kCard);
      EXPECT_EQ(record.At().step, link::Step::Idle);
      EXPECT_TRUE(link::SendCommand("2ST\r", kCard)) << "the next holder's line";
      EXPECT_EQ(sim::TheController().LineTexts(), (Lines{exchange.line, "2ST\r"}));
      // A reply's line feed released just before the holder died cannot be
      // told from one still standing: the release is given again, which the
      // virtual controller counts as one out of turn. Nothing else may be.
      EXPECT_LE(sim::TheController().Snapshot().protocol_errors, 1U);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Exchanges, FinishExchangeTest,
                         ::testing::Values(Exchange{"1PA 250\r", false}, Exchange{"2TP\r", true},
                                           Exchange{"TS\r", true}),
                         [](const ::testing::TestParamInfo<Exchange>& param_info) {
                           return param_info.param.query
                                      ? "Query" + std::to_string(param_info.index)
                                      : std::string("CommandLine");
                         });

// Nothing in flight: nothing is sent.
TEST(FinishExchange, AnIdleRecordSendsNothing) {
  sim::TheBus().Reset();
  link::ExchangeRecord record{};
  link::FinishExchange(record, kCard);
  EXPECT_EQ(Accesses(), 0U);
}

}  // namespace
}  // namespace orvex::testing
