// The virtual controller on the real clock, as the shipped build runs by
// default: moves take as long as their speed and acceleration say however
// the host polls, and pauses really sleep. Margins are generous, for a loaded
// machine; the exact figures are measured in bench/real_clock_bench.cpp.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <thread>
#include <vector>

#include "orvexportio.h"
#include "virtual_bus.h"

namespace orvex::testing {
namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// 250 counts at 1000 a second, accelerating and braking at 50000: 0.27 s.
constexpr float kShortMove = 2.5F;
constexpr double kShortMoveSeconds = 0.27;

class RealClockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    controller().SetClock(sim::Clock::Real);
    controller().Reset();
  }
  static sim::VirtualController& controller() { return sim::TheController(); }
};

TEST_F(RealClockTest, AMoveWaitedForWithWSTakesItsProfileTime) {
  ASSERT_EQ(MA(1, kShortMove), 1);
  const auto start = Clock::now();
  ASSERT_EQ(WS(1), 1);
  const double took = SecondsSince(start);
  EXPECT_GT(took, kShortMoveSeconds - 0.01);
  EXPECT_LT(took, kShortMoveSeconds + 0.5);
  EXPECT_EQ(TP(1), kShortMove);
}

// A host that asks every 10 ms sees the move end just as late: the
// controller's time does not depend on how often it is asked.
TEST_F(RealClockTest, AMovePolledEvery10MsTakesItsProfileTime) {
  ASSERT_EQ(MA(2, kShortMove), 1);
  const auto start = Clock::now();
  int polls = 0;
  while (MT(2) == 0 && SecondsSince(start) < 5.0) {
    ++polls;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const double took = SecondsSince(start);
  EXPECT_GT(took, kShortMoveSeconds - 0.01);
  EXPECT_LT(took, kShortMoveSeconds + 0.5);
  EXPECT_GT(polls, 5);
  EXPECT_EQ(controller().Axis(1).position, 250.0);
}

TEST_F(RealClockTest, SetUpPausesTakeTheir50Ms) {
  const auto start = Clock::now();
  ASSERT_EQ(RT(2), 1);  // two pauses
  const double took = SecondsSince(start);
  EXPECT_GE(took, 0.100);
  EXPECT_LT(took, 0.100 + 0.5);
  const std::vector<sim::PauseRecord> pauses = controller().Pauses();
  ASSERT_EQ(pauses.size(), 2U);
  EXPECT_GE(pauses[1].started_at - pauses[0].started_at, 50'000U);
}

TEST_F(RealClockTest, TheClockAndTheAxesRunWhileNobodyTouchesThePorts) {
  ASSERT_EQ(MA(1, 20.0F), 1);  // 2.02 s
  const sim::Microseconds before = controller().Now();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const sim::Microseconds after = controller().Now();
  EXPECT_GE(after - before, 500'000U);
  EXPECT_LT(after - before, 1'500'000U);
  const sim::AxisState axis = controller().Axis(0);
  EXPECT_TRUE(axis.moving);
  EXPECT_EQ(axis.target, 2000.0);
  EXPECT_GT(axis.position, 400.0);   // 490 counts after 0.5 s
  EXPECT_LT(axis.position, 1600.0);  // and 1480 after 1.5 s
  ASSERT_EQ(ST(1), 1);
  EXPECT_FALSE(controller().Axis(0).moving);
}

TEST_F(RealClockTest, SwitchingClocksNeverTakesTimeBack) {
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const sim::Microseconds real = controller().Now();
  controller().SetClock(sim::Clock::Virtual);
  const sim::Microseconds virtual_time = controller().Now();
  EXPECT_GE(virtual_time, real);
  ASSERT_EQ(MA(1, 1.0F), 1);
  const sim::Microseconds after_a_line = controller().Now();
  EXPECT_GT(after_a_line, virtual_time);
  EXPECT_LT(after_a_line - virtual_time, 1'000U);  // a few dozen accesses of 1 us
  controller().SetClock(sim::Clock::Real);
  EXPECT_GE(controller().Now(), after_a_line);
}

// Host threads share the controller's one real time; lines from each arrive whole.
TEST_F(RealClockTest, ThreadsShareOneRealTime) {
  const auto host = [](signed char axis) {
    bool all_well = true;
    for (int round = 0; round < 3; ++round) {
      all_well &= MR(axis, 0.25F) == 1;
      all_well &= WS(axis) == 1;
      all_well &= TP(axis) != ORVEX_POSITION_ERROR;
    }
    return all_well;
  };
  const auto start = Clock::now();
  auto first = std::async(std::launch::async, host, static_cast<signed char>(1));
  auto second = std::async(std::launch::async, host, static_cast<signed char>(2));
  EXPECT_TRUE(first.get());
  EXPECT_TRUE(second.get());
  // Each thread's three moves of 25 counts take 0.045 s each, one after
  // another; the two threads' moves overlap.
  EXPECT_GT(SecondsSince(start), 3 * 0.045 - 0.01);
  EXPECT_EQ(controller().Snapshot().protocol_errors, 0U);
  EXPECT_EQ(controller().Axis(0).position, 75.0);
  EXPECT_EQ(controller().Axis(1).position, 75.0);
}

TEST(ClockFromEnvironment, VirtualOnlyWhenNamed) {
  const struct {
    const char* value;  // nullptr: unset
    sim::Clock expected;
  } cases[] = {{nullptr, sim::Clock::Real},
               {"virtual", sim::Clock::Virtual},
               {"real", sim::Clock::Real},
               {"", sim::Clock::Real},
               {"VIRTUAL ", sim::Clock::Real}};
  for (const auto& tested : cases) {
    if (tested.value == nullptr) {
      unsetenv(sim::kClockVariable);
    } else {
      setenv(sim::kClockVariable, tested.value, 1);
    }
    EXPECT_EQ(sim::ClockFromEnvironment(), tested.expected)
        << (tested.value == nullptr ? "unset" : tested.value);
  }
  unsetenv(sim::kClockVariable);
}

}  // namespace
}  // namespace orvex::testing
