// The cells of several processes on one card (tests/processes) on the card's
// own paths: the unmodified library for the card in every process, beneath
// the kernel stand-in, whose controller the processes share by name as they
// would share the card's two registers, on each route to the ports.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "child_process.h"
#include "process_cells.h"
#include "shared_bus.h"
#include "shared_memory.h"
#include "virtual_bus.h"

namespace orvex::card_paths {
namespace {

using processes::Exchange;
using processes::Records;

class SharedStandInCard final : public processes::Column {
 public:
  SharedStandInCard() : name_("card-paths-" + std::to_string(getpid())) {}
  ~SharedStandInCard() override { (void)sim::RemoveSharedBus(name_); }
  SharedStandInCard(const SharedStandInCard&) = delete;
  SharedStandInCard& operator=(const SharedStandInCard&) = delete;

  void Join() const override {
    std::string why;
    if (!sim::ShareTheBus(name_, why)) ADD_FAILURE() << why;
  }

 private:
  std::string name_;
};

class CardProcessesTest : public CardPathTest {};

TEST_P(CardProcessesTest, EightProcessesNeverMixLines) {
  InChild([] { EXPECT_EQ(CrowdOnOneCard(SharedStandInCard(), Records::Shared, 8), ""); });
}

TEST_P(CardProcessesTest, AProcessKilledAtAnyAccessHasItsExchangeFinishedWhole) {
  InChild([] {
    const SharedStandInCard card;
    for (const Exchange& exchange : {Exchange{"1PA 250\r", false}, Exchange{"2TP\r", true}}) {
      EXPECT_EQ(KillAtEveryAccess(card, Records::Shared, exchange), "") << exchange.line;
    }
  });
}

TEST_P(CardProcessesTest, AStoppedHolderHangsNobodyAndTearsNothing) {
  InChild([] { EXPECT_EQ(StoppedHolder(SharedStandInCard(), Records::Shared), ""); });
}

TEST_P(CardProcessesTest, AForkWaitsForTheLineInFlight) {
  InChild([] { EXPECT_EQ(ForkWithTheCardHeld(SharedStandInCard(), Records::Shared), ""); });
}

// Where the processes cannot have the card's record, as a library without
// one runs, the cells that keep processes apart fail.
TEST_P(CardProcessesTest, WithoutTheRecordTheCellsFail) {
  InChild([] {
    const SharedStandInCard card;
    EXPECT_NE(processes::Quietly([&] {
                return KillAtEveryAccess(card, Records::Unavailable, Exchange{"1PA 250\r", false});
              }),
              "");
    EXPECT_NE(processes::Quietly([&] { return StoppedHolder(card, Records::Unavailable); }), "");
  });
}

INSTANTIATE_TEST_SUITE_P(Routes, CardProcessesTest,
                         ::testing::Values(PortRoute::Instructions, PortRoute::DevPort),
                         RouteTestName);

}  // namespace
}  // namespace orvex::card_paths
