// The cells on the virtual controller's build: its processes on one virtual
// card that they share by name, as processes on one machine share a card.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "process_cells.h"
#include "shared_bus.h"
#include "shared_memory.h"
#include "virtual_bus.h"

namespace orvex::processes {
namespace {

class SharedVirtualCard final : public Column {
 public:
  explicit SharedVirtualCard(std::string name) : name_(std::move(name)) {}
  void Join() const override {
    std::string why;
    if (!sim::ShareTheBus(name_, why)) ADD_FAILURE() << why;
  }

 private:
  std::string name_;
};

class SharedCardProcessesTest : public ::testing::Test {
 protected:
  void TearDown() override { (void)sim::RemoveSharedBus(name_); }

  static std::string FreshName() {
    static int made = 0;
    return "processes-" + std::to_string(getpid()) + "-" + std::to_string(++made);
  }

  const std::string name_ = FreshName();
  const SharedVirtualCard card_{name_};
};

TEST_F(SharedCardProcessesTest, CrowdsOfTwoFourAndEightProcessesNeverMixLines) {
  for (const int processes : {2, 4, 8}) {
    EXPECT_EQ(CrowdOnOneCard(card_, Records::Shared, processes), "") << processes << " processes";
  }
}

TEST_F(SharedCardProcessesTest, AProcessKilledAtAnyAccessHasItsExchangeFinishedWhole) {
  for (const Exchange& exchange : {Exchange{"1PA 250\r", false}, Exchange{"2TP\r", true}}) {
    EXPECT_EQ(KillAtEveryAccess(card_, Records::Shared, exchange), "") << exchange.line;
  }
}

TEST_F(SharedCardProcessesTest, AStoppedHolderHangsNobodyAndTearsNothing) {
  EXPECT_EQ(StoppedHolder(card_, Records::Shared), "");
}

TEST_F(SharedCardProcessesTest, AForkWaitsForTheLineInFlight) {
  EXPECT_EQ(ForkWithTheCardHeld(card_, Records::Shared), "");
}

// The same cells where the processes cannot have the card's record, as a
// library without one runs: lines mix and a dead process's line is torn.
TEST_F(SharedCardProcessesTest, WithoutTheRecordTheCellsFail) {
  EXPECT_NE(Quietly([&] { return CrowdOnOneCard(card_, Records::Unavailable, 8); }), "");
  EXPECT_NE(Quietly([&] {
              return KillAtEveryAccess(card_, Records::Unavailable, Exchange{"1PA 250\r", false});
            }),
            "");
  EXPECT_NE(Quietly([&] { return StoppedHolder(card_, Records::Unavailable); }), "");
}

}  // namespace
}  // namespace orvex::processes
