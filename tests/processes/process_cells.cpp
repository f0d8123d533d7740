#include "process_cells.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "orvexportio.h"
#include "virtual_bus.h"

namespace orvex::processes {

std::string Quietly(const std::function<std::string()>& cell) {
  std::fflush(nullptr);
  const int kept_out = dup(STDOUT_FILENO);
  const int kept_error = dup(STDERR_FILENO);
  const int nowhere = open("/dev/null", O_WRONLY | O_CLOEXEC);
  dup2(nowhere, STDOUT_FILENO);
  dup2(nowhere, STDERR_FILENO);
  const std::string told = cell();
  std::fflush(nullptr);
  dup2(kept_out, STDOUT_FILENO);
  dup2(kept_error, STDERR_FILENO);
  for (const int descriptor : {kept_out, kept_error, nowhere}) close(descriptor);
  return told;
}

namespace {

using Lines = std::vector<std::string>;
using Death = sim::VirtualController::Death;
using SteadyClock = std::chrono::steady_clock;

constexpr unsigned kCardBase = 0x340;

// What went wrong in a cell, line by line.
class Problems {
 public:
  void Add(const std::string& problem) { text_ += problem + "\n"; }
  template <typename Value>
  void ExpectEqual(const Value& seen, const Value& wanted, const std::string& what) {
    if (seen == wanted) return;
    std::ostringstream told;
    told << what << ": " << ::testing::PrintToString(seen) << ", not "
         << ::testing::PrintToString(wanted);
    Add(told.str());
  }
  void ExpectPassed(const Ended& ended, const std::string& what) {
    if (!ended.Passed()) Add(what + " ended with " + ended.Told());
  }
  const std::string& Text() const { return text_; }

 private:
  std::string text_;
};

// The machine-wide records of the cell's processes: in a folder of the cell's
// own, or nowhere to be had.
void UseRecords(Records records) {
  if (records == Records::Unavailable) {
    setenv("ORVEXPORTIO_RECORD_DIR", "/nonexistent/orvexportio-records", 1);
    return;
  }
  char folder[] = "/tmp/orvex-records-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  setenv("ORVEXPORTIO_RECORD_DIR", folder, 1);
}

// The test's own process onto the shared card, reset, on `clock`.
sim::VirtualController& FreshCard(const Column& column, Records records, sim::Clock clock) {
  UseRecords(records);
  column.Join();
  // The test's own process takes the card once, as a host does before it
  // forks: what it notes of itself (its process id) must not pass to its
  // children.
  (void)OK();
  sim::VirtualController& card = sim::TheController();
  card.Reset();
  card.SetClock(clock);
  return card;
}

// Every process's host stall on every look at the handshake register: a
// line takes long enough, on the real clock, that processes overlap.
void SlowEveryLook(sim::VirtualController& card, sim::Microseconds stall) {
  sim::Faults slow;
  slow.host_stall = sim::Faults::HostStall{.after_looks = 1, .length = stall, .every_look = true};
  card.SetFaults(slow);
}

// The process the card's record shows as its holder, 0 for none.
int HolderShown() {
  orvex_card* card = orvex_open(kCardBase, nullptr);
  orvex_holder held{};
  (void)orvex_card_holder(card, &held);
  orvex_close(card);
  return held.process;
}

// The call that sends the exchange.
int Call(const Exchange& exchange) {
  if (!exchange.query) return MA(1, 2.5F);
  return TP(2) == ORVEX_POSITION_ERROR ? 0 : 1;
}

std::string MoveLine(int count) {
  return "1PA " + std::to_string(count) + "\r";
}

// A process that calls MA(2, 1.0) on the card, held by a stopped process, and is
// itself stopped a while into its wait.
pid_t StartStoppedWaiter(const Column& column) {
  constexpr auto kIntoTheWait = std::chrono::milliseconds(100);
  int joined[2];
  if (pipe(joined) != 0) return -1;
  const pid_t waiter = StartChild([&] {
    column.Join();
    (void)!write(joined[1], "j", 1);
    (void)MA(2, 1.0F);
  });
  close(joined[1]);
  char told = 0;
  (void)!read(joined[0], &told, 1);
  close(joined[0]);
  std::this_thread::sleep_for(kIntoTheWait);
  kill(waiter, SIGSTOP);
  (void)Wait(waiter, true);
  return waiter;
}

}  // namespace

std::string CrowdOnOneCard(const Column& column, Records records, int processes) {
  constexpr int kRounds = 3;
  Problems problems;
  sim::VirtualController& card = FreshCard(column, records, sim::Clock::Real);
  SlowEveryLook(card, 100);
  int barrier[2];
  if (pipe(barrier) != 0) return "no pipe";
  std::vector<pid_t> children;
  for (int process = 0; process < processes; ++process) {
    children.push_back(StartChild([&, process] {
      close(barrier[1]);
      column.Join();
      char released = 0;
      (void)!read(barrier[0], &released, 1);
      for (int round = 0; round < kRounds; ++round) {
        EXPECT_EQ(MA(1, static_cast<float>(process * 10 + round)), 1);
        EXPECT_NE(TP(1), ORVEX_POSITION_ERROR);
      }
    }));
  }
  close(barrier[0]);
  close(barrier[1]);  // releases them all at once
  for (const pid_t child : children) problems.ExpectPassed(Wait(child), "a crowd's process");
  std::map<std::string, int> wanted;
  for (int process = 0; process < processes; ++process) {
    for (int round = 0; round < kRounds; ++round) ++wanted[MoveLine((process * 10 + round) * 100)];
  }
  wanted["1TP\r"] = processes * kRounds;
  std::map<std::string, int> received;
  for (const std::string& line : card.LineTexts()) ++received[line];
  problems.ExpectEqual(received, wanted, "lines received");
  problems.ExpectEqual(card.Snapshot().protocol_errors, std::uint64_t{0}, "protocol errors");
  return problems.Text();
}

std::string KillAtEveryAccess(const Column& column, Records records, const Exchange& exchange) {
  Problems problems;
  sim::VirtualController& card = FreshCard(column, records, sim::Clock::Virtual);
  problems.ExpectPassed(Wait(StartChild([&] {
                          column.Join();
                          EXPECT_EQ(Call(exchange), 1);
                        })),
                        "the measuring process");
  const std::uint64_t accesses = card.Snapshot().PortAccesses();
  // A reply's line feed released just before the death cannot be told from
  // one still standing: its release is given again, which the virtual
  // controller counts as one out of turn.
  const std::uint64_t errors_allowed = exchange.query ? 1 : 0;
  for (const Death moment : {Death::BeforeAccess, Death::AfterAccess}) {
    for (std::uint64_t access = 1; access <= accesses; ++access) {
      const std::string at = std::string(moment == Death::BeforeAccess ? "before" : "after") +
                             " access " + std::to_string(access) + ": ";
      card.Reset();
      card.SetClock(sim::Clock::Virtual);
      const Ended killed = Wait(StartChild([&] {
        column.Join();
        sim::TheController().SetDeathAtAccess(access, moment);
        (void)Call(exchange);
        ADD_FAILURE() << "lived on";
      }));
      if (!killed.Killed()) problems.Add(at + "the process to kill ended with " + killed.Told());
      if (records == Records::Shared && access == accesses) {
        problems.ExpectEqual(HolderShown(), 0, at + "the holder shown, dead");
      }
      problems.ExpectPassed(Wait(StartChild([&] {
                              column.Join();
                              EXPECT_EQ(DH(2), 1);
                            })),
                            at + "the next process");
      problems.ExpectEqual(card.LineTexts(), Lines{exchange.line, "2DH\r"}, at + "lines");
      if (card.Snapshot().protocol_errors > errors_allowed) {
        problems.Add(at + std::to_string(card.Snapshot().protocol_errors) + " protocol errors");
      }
    }
  }
  return problems.Text();
}

std::string StoppedHolder(const Column& column, Records records) {
  constexpr std::uint64_t kStopsBeforeAccess = 10;  // the release of the line's second byte
  Problems problems;
  sim::VirtualController& card = FreshCard(column, records, sim::Clock::Real);
  const pid_t holder = StartChild([&] {
    column.Join();
    sim::TheController().SetDeathAtAccess(kStopsBeforeAccess, Death::StoppedBeforeAccess);
    EXPECT_EQ(MA(1, 2.5F), 1);
  });
  const Ended stopped = Wait(holder, true);
  if (!stopped.Stopped()) return "the holder did not stop: " + stopped.Told();
  const std::uint64_t bytes_taken = card.Snapshot().bytes_taken;
  // A waiter stopped in its wait, long enough into it to have claimed the
  // next turn: its claim must not hold the others up once the card is free.
  const pid_t stopped_waiter = StartStoppedWaiter(column);
  problems.ExpectPassed(Wait(StartChild([&] {
                          column.Join();
                          const SteadyClock::time_point start = SteadyClock::now();
                          EXPECT_EQ(MA(2, 1.0F), 0) << "sent nothing, gave up";
                          const SteadyClock::duration waited = SteadyClock::now() - start;
                          EXPECT_GE(waited, std::chrono::milliseconds(900));
                          EXPECT_LE(waited, std::chrono::seconds(10));
                          const SteadyClock::time_point again = SteadyClock::now();
                          EXPECT_EQ(TP(2), ORVEX_POSITION_ERROR) << "the same hold";
                          EXPECT_LE(SteadyClock::now() - again, std::chrono::milliseconds(500));
                          orvex_card* shared = orvex_open(kCardBase, nullptr);
                          orvex_holder held{};
                          EXPECT_EQ(orvex_card_holder(shared, &held), ORVEX_SUCCESS);
                          EXPECT_EQ(held.process, holder);
                          EXPECT_STREQ(held.line, "1PA 250\r");
                          EXPECT_GE(held.seconds, 0.9);
                        })),
                        "the process that waited");
  problems.ExpectEqual(card.Snapshot().bytes_taken, bytes_taken, "bytes taken while stopped");
  kill(holder, SIGCONT);
  problems.ExpectPassed(Wait(holder), "the holder, run on");
  problems.ExpectPassed(Wait(StartChild([&] {
                          column.Join();
                          EXPECT_EQ(DH(2), 1);
                        })),
                        "the next process");
  kill(stopped_waiter, SIGCONT);
  (void)Wait(stopped_waiter);  // its call went through once it ran on, or gave up
  Lines lines = card.LineTexts();
  if (lines.size() == 3 && lines.back() == "2PA 100\r") lines.pop_back();
  problems.ExpectEqual(lines, Lines{"1PA 250\r", "2DH\r"}, "lines");
  problems.ExpectEqual(card.Snapshot().protocol_errors, std::uint64_t{0}, "protocol errors");
  return problems.Text();
}

std::string ForkWithTheCardHeld(const Column& column, Records records) {
  Problems problems;
  sim::VirtualController& card = FreshCard(column, records, sim::Clock::Real);
  // A line takes some 150 ms: the fork comes while it is in flight, even on a
  // busy machine.
  SlowEveryLook(card, 8000);
  problems.ExpectPassed(Wait(StartChild([&] {
                          column.Join();
                          std::atomic<bool> moved{false};
                          std::thread mover([&moved] {
                            EXPECT_EQ(MA(1, 2.5F), 1);
                            moved = true;
                          });
                          while (sim::TheController().Snapshot().bytes_taken == 0) {
                            std::this_thread::sleep_for(std::chrono::microseconds(200));
                          }
                          const pid_t forked = StartChild([] { EXPECT_EQ(DH(2), 1); });
                          // Not yet moved: the fork came with the line in flight. A
                          // machine too busy to fork in time lets the line end first;
                          // ThreadSanitizer then counts the ended, unjoined mover as
                          // leaked in the child, which says nothing of the library.
                          const bool forked_in_flight = !moved;
                          mover.join();
                          const Ended child = Wait(forked);
                          if (forked_in_flight) {
                            EXPECT_TRUE(child.Passed()) << child.Told();
                          }
                        })),
                        "the forking process");
  problems.ExpectEqual(card.LineTexts(), Lines{"1PA 250\r", "2DH\r"}, "lines");
  problems.ExpectEqual(card.Snapshot().protocol_errors, std::uint64_t{0}, "protocol errors");
  return problems.Text();
}

}  // namespace orvex::processes
