// Host threads on the card's paths: each thread asks ioperm() for exactly
// the two registers, once, on its first access (a thread whose lines another
// thread carried makes none); threads that never had a
// grant, and threads born of a thread that had one, all reach the
// controller; lines from several threads never interleave.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "child_process.h"
#include "line_grammar.h"
#include "orvexportio.h"

namespace orvex::card_paths {
namespace {

constexpr unsigned long kDataRegister = 0x340;

// Sends three lines, one of them a query, and notes the thread's id.
void ThreeExchanges(int thread, std::vector<pid_t>& threads, std::mutex& mutex, bool& all_well) {
  const bool well = MA(1, static_cast<float>(thread)) == 1 && ST(2) == 1 && OK() == 1;
  const std::lock_guard lock(mutex);
  threads.push_back(stand_in::ThisThread());
  all_well = all_well && well;
}

// A thread whose lines another thread carried never touched the ports, and
// asks for nothing; a thread that did asks once.
// Returns the threads that asked.
std::set<pid_t> ExpectAtMostOneIopermPerThread(const std::vector<pid_t>& threads, PortRoute route) {
  const std::vector<stand_in::IopermCall> calls = stand_in::IopermCalls();
  EXPECT_GE(calls.size(), 1U) << "ioperm() calls";
  std::set<pid_t> asking;
  for (const stand_in::IopermCall& call : calls) {
    EXPECT_TRUE(asking.insert(call.thread).second) << "a thread asked twice";
    EXPECT_EQ(call.from, kDataRegister);
    EXPECT_EQ(call.count, 2U);
    EXPECT_EQ(call.turn_on, 1);
    EXPECT_EQ(call.granted, route == PortRoute::Instructions);
  }
  EXPECT_TRUE(std::includes(threads.begin(), threads.end(), asking.begin(), asking.end()))
      << "a thread that made no call asked";
  return asking;
}

class CardThreadsTest : public CardPathTest {};

TEST_P(CardThreadsTest, EachThreadAsksForTheTwoRegistersOnceAtMost) {
  const PortRoute route = GetParam();
  InChild([route] {
    constexpr int kThreads = 4;
    std::vector<pid_t> threads;
    std::mutex mutex;
    bool all_well = true;
    std::vector<std::thread> running;
    for (int thread = 0; thread < kThreads; ++thread) {
      running.emplace_back(ThreeExchanges, thread, std::ref(threads), std::ref(mutex),
                           std::ref(all_well));
    }
    for (std::thread& thread : running) thread.join();
    EXPECT_TRUE(all_well);
    std::sort(threads.begin(), threads.end());
    (void)ExpectAtMostOneIopermPerThread(threads, route);
    EXPECT_EQ(Controller().Snapshot().lines_kept, 3U * kThreads);
    ExpectEveryAccessBy(route);
    // /dev/port is opened once for the process, for reading and writing.
    const std::vector<stand_in::DevPortOpen> opens = stand_in::DevPortOpens();
    ASSERT_EQ(opens.size(), route == PortRoute::DevPort ? 1U : 0U);
    for (const auto& open : opens) EXPECT_EQ(open.flags & O_ACCMODE, O_RDWR);
  });
}

// One after another: the main thread first, then a thread it starts (which
// starts with the main thread's grant), then a thread that thread starts,
// then one started by a thread that never asked for anything.
TEST_P(CardThreadsTest, FreshThreadsEachReachTheController) {
  const PortRoute route = GetParam();
  InChild([route] {
    std::vector<pid_t> threads;
    std::mutex mutex;
    bool all_well = true;
    ThreeExchanges(0, threads, mutex, all_well);
    std::thread child([&] {
      ThreeExchanges(1, threads, mutex, all_well);
      std::thread grandchild(ThreeExchanges, 2, std::ref(threads), std::ref(mutex),
                             std::ref(all_well));
      grandchild.join();
    });
    child.join();
    std::thread idle([&] {
      std::thread born_of_idle(ThreeExchanges, 3, std::ref(threads), std::ref(mutex),
                               std::ref(all_well));
      born_of_idle.join();
    });
    idle.join();
    EXPECT_TRUE(all_well);
    std::sort(threads.begin(), threads.end());
    // Alone on the bus, each thread sends its own lines: each asks once.
    EXPECT_EQ(ExpectAtMostOneIopermPerThread(threads, route),
              std::set<pid_t>(threads.begin(), threads.end()));
    EXPECT_EQ(Controller().LineTexts(),
              (Lines{"1PA 0\r", "2ST\r", "1TP\r", "1PA 100\r", "2ST\r", "1TP\r", "1PA 200\r",
                     "2ST\r", "1TP\r", "1PA 300\r", "2ST\r", "1TP\r"}));
    ExpectEveryAccessBy(route);
  });
}

// Two cards, one after the other on two threads, so that each thread sends
// its own lines (nobody waits, so nobody carries): each thread asks once per
// card, for exactly that card's two registers, and each line reaches its card.
TEST_P(CardThreadsTest, EachThreadAsksOncePerCardForExactlyItsRegisters) {
  const PortRoute route = GetParam();
  InChild([route] {
    constexpr unsigned kSecondBase = 0x300;
    ASSERT_NE(sim::TheBus().AddCard(kSecondBase), nullptr);
    orvex_card* first = orvex_open(kDataRegister, nullptr);
    orvex_card* second = orvex_open(kSecondBase, nullptr);
    std::vector<pid_t> threads;
    for (int thread = 0; thread < 2; ++thread) {
      std::thread([&] {
        EXPECT_EQ(orvex_st(first, 1), ORVEX_SUCCESS);
        EXPECT_EQ(orvex_st(second, 2), ORVEX_SUCCESS);
        EXPECT_EQ(orvex_dh(first, 2), ORVEX_SUCCESS);
        EXPECT_EQ(orvex_dh(second, 1), ORVEX_SUCCESS);
        threads.push_back(stand_in::ThisThread());
      }).join();
    }
    std::multiset<std::pair<pid_t, unsigned long>> asked;
    for (const stand_in::IopermCall& call : stand_in::IopermCalls()) {
      EXPECT_EQ(call.count, 2U);
      EXPECT_EQ(call.granted, route == PortRoute::Instructions);
      asked.insert({call.thread, call.from});
    }
    const std::multiset<std::pair<pid_t, unsigned long>> expected = {{threads[0], kDataRegister},
                                                                     {threads[0], kSecondBase},
                                                                     {threads[1], kDataRegister},
                                                                     {threads[1], kSecondBase}};
    EXPECT_EQ(asked, expected);
    EXPECT_EQ(Controller().LineTexts(), (Lines{"1ST\r", "2DH\r", "1ST\r", "2DH\r"}));
    EXPECT_EQ(sim::TheBus().CardAt(kSecondBase)->LineTexts(),
              (Lines{"2ST\r", "1DH\r", "2ST\r", "1DH\r"}));
  });
}

bool HostLoop(int thread, int rounds) {
  bool all_well = true;
  for (int round = 0; round < rounds; ++round) {
    const auto step = static_cast<float>(thread * 10 + round % 7);
    all_well &= MA(1, step) == 1 && MR(2, -step) == 1;
    all_well &= SV(0, 5000.0F) == 1;
    all_well &= TP(1) != ORVEX_POSITION_ERROR;
    all_well &= OK() == 1;
    const int done = MT(0);
    all_well &= done == 0 || done == 1;
    all_well &= ST(0) == 1 && DH(static_cast<signed char>(round % 3)) == 1;
  }
  return all_well;
}

TEST_P(CardThreadsTest, LinesFromSeveralThreadsNeverInterleave) {
  const PortRoute route = GetParam();
  InChild([route] {
    constexpr int kThreads = 4;
    constexpr int kRounds = 15;
    std::atomic<std::uint64_t> lines = 0;
    std::atomic<std::uint64_t> malformed = 0;
    Controller().SetLineObserver([&](const sim::ReceivedLine& line) {
      ++lines;
      if (!IsWellFormedLine(std::string(line.Text()))) ++malformed;
    });
    std::vector<std::thread> hosts;
    std::atomic<int> hosts_well = 0;
    for (int thread = 0; thread < kThreads; ++thread) {
      hosts.emplace_back([&, thread] { hosts_well += HostLoop(thread, kRounds) ? 1 : 0; });
    }
    for (std::thread& host : hosts) host.join();
    Controller().SetLineObserver(nullptr);
    EXPECT_EQ(hosts_well, kThreads);
    EXPECT_GE(lines, std::uint64_t{kThreads * kRounds * 9});
    EXPECT_EQ(malformed, 0U);
    EXPECT_EQ(Controller().Snapshot().protocol_errors, 0U);
    EXPECT_EQ(Controller().Snapshot().unknown_commands, 0U);
    EXPECT_EQ(stand_in::IopermCalls().size(), std::size_t{kThreads});
    ExpectEveryAccessBy(route);
  });
}

INSTANTIATE_TEST_SUITE_P(Routes, CardThreadsTest,
                         ::testing::Values(PortRoute::Instructions, PortRoute::DevPort),
                         RouteTestName);

}  // namespace
}  // namespace orvex::card_paths
