// Several host threads at once: lines never mix on the wire, every query gets
// its own reply, and a poll loop lets other lines through.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <future>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "orvexportio.h"
#include "virtual_controller_fixture.h"

namespace orvex::testing {
namespace {

// Every line this library sends, and nothing else.
bool IsWellFormedLine(const std::string& line) {
  static const std::regex kLine(
      "[12]P[AR] -?[0-9]+\r|[12]VA[0-9]+\r|[12](ST|DH|TP|FI11|FM3|FM03|VA1000;AC50000)\r|TS\r");
  return std::regex_match(line, kLine);
}

// The reply to "TS" as MT with an axis code of none of the axes returns it:
// the status byte on 0x40, a carriage return and a line feed.
bool IsStatusWord(int word) {
  return (static_cast<unsigned>(word) & ~0x3U) == 0x000A0D40U;
}

class ThreadsTest : public VirtualControllerTest {};

// Axis 1 only ever goes to positive places and axis 2 to negative ones (DH
// stops an axis and calls that zero), so a position read with the other
// axis's reply, or a status read with a position reply, shows.
bool HostLoop(int thread, int rounds) {
  bool all_well = true;
  const auto one = static_cast<signed char>(1);
  const auto two = static_cast<signed char>(2);
  for (int round = 0; round < rounds; ++round) {
    const auto step = static_cast<float>(thread + round % 5);
    all_well &= SV(0, 5000.0F) == 1;
    all_well &= MA(1, step) == 1 && MA(2, -step) == 1;
    all_well &= MR(1, 0.5F) == 1 && MR(2, -0.5F) == 1;
    const float position1 = TP(one);
    const float position2 = TP(two);
    all_well &= position1 >= 0.0F && position1 != ORVEX_POSITION_ERROR;
    all_well &= position2 <= 0.0F;
    all_well &= OK() == 1;
    all_well &= IsStatusWord(MT(7));
    const int done = MT(0);
    all_well &= done == 0 || done == 1;
    all_well &= WS(static_cast<signed char>(round % 3)) == 1;
    all_well &= ST(0) == 1;
    all_well &= (round % 4 == 0 ? DH(static_cast<signed char>(thread % 3)) : GH(0)) == 1;
    if (round % 8 == 0) all_well &= RT(static_cast<signed char>(thread % 3)) == 1;
  }
  return all_well;
}

TEST_F(ThreadsTest, LinesFromManyThreadsNeverMix) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 20;
  std::uint64_t lines = 0;
  std::vector<std::string> malformed;
  controller().SetLineObserver([&](const sim::ReceivedLine& line) {
    ++lines;
    if (!IsWellFormedLine(std::string(line.Text())) && malformed.size() < 10) {
      malformed.emplace_back(line.Text());
    }
  });
  std::vector<std::future<bool>> hosts;
  for (int thread = 0; thread < kThreads; ++thread) {
    hosts.push_back(std::async(std::launch::async, HostLoop, thread, kRounds));
  }
  for (std::future<bool>& host : hosts) EXPECT_TRUE(host.get());
  controller().SetLineObserver(nullptr);

  EXPECT_GT(lines, std::uint64_t{kThreads * kRounds * 14});
  EXPECT_EQ(malformed, Lines{});
  EXPECT_EQ(controller().Snapshot().protocol_errors, 0U);
  EXPECT_EQ(controller().Snapshot().unknown_commands, 0U);
}

TEST_F(ThreadsTest, StopFromAnotherThreadEndsAWait) {
  ASSERT_EQ(MA(1, 1000.0F), 1);  // 100000 units at 1000 units/s: 100 s of virtual time
  auto waiting = std::async(std::launch::async, [] { return WS(1); });
  while (controller().Snapshot().lines_kept < 50) std::this_thread::yield();  // WS is polling
  EXPECT_EQ(ST(1), 1);
  ASSERT_EQ(waiting.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  EXPECT_EQ(waiting.get(), 1);
  EXPECT_FALSE(controller().Axis(0).moving);
  EXPECT_LT(controller().Now(), 10'000'000U);
  const std::vector<std::string> lines = Received();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "1ST\r"), 1);
  EXPECT_EQ(lines.back(), "TS\r");
}

TEST_F(ThreadsTest, SetUpSequenceLetsOtherLinesThroughDuringItsPauses) {
  std::atomic<int> stops_during_pauses = 0;
  controller().SetPauseObserver([&] {
    // The pausing thread waits here while another thread sends a line; that
    // line can only get through if the registers are free during the pause.
    auto stop = std::async(std::launch::async, [] { return ST(2); });
    if (stop.wait_for(std::chrono::seconds(10)) == std::future_status::ready && stop.get() == 1) {
      ++stops_during_pauses;
    }
  });
  EXPECT_EQ(RT(1), 1);
  controller().SetPauseObserver(nullptr);
  EXPECT_EQ(stops_during_pauses, 3);
  EXPECT_EQ(Received(),
            (Lines{"1FI11\r", "2ST\r", "1VA1000;AC50000\r", "2ST\r", "1FM3\r", "2ST\r", "1DH\r"}));
}

}  // namespace
}  // namespace orvex::testing
