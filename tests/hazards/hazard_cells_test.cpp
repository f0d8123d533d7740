// A host doing what hosts do to threads: cancelling them wherever they are,
// forking while they are inside a call, ending the process under them. Each
// cell runs in a process of its own with a time limit, so a hang fails that
// cell and not the run. Every cell checks that nothing hangs, that no line
// reached the controller torn, and that the next call works.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "hazard_bus.h"
#include "orvexportio.h"
#include "setup_lines.h"

namespace orvex::hazards {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// ---- Host threads -----------------------------------------------------------

// A host thread calling one round of exports again and again until told to
// stop, or cancelled.
struct HostThread {
  void (*round)() = nullptr;
  pthread_t id{};
  std::atomic<bool> stop = false;
  std::atomic<std::uint64_t> rounds = 0;
  std::atomic<bool> left = false;  // the thread has returned or been unwound
};

// Notes that the thread leaves, when it returns and when it is unwound.
class NoteLeaving {
 public:
  explicit NoteLeaving(std::atomic<bool>& left) : left_(left) {}
  ~NoteLeaving() { left_ = true; }
  NoteLeaving(const NoteLeaving&) = delete;
  NoteLeaving& operator=(const NoteLeaving&) = delete;

 private:
  std::atomic<bool>& left_;
};

void* RunRounds(void* argument) {
  auto* host = static_cast<HostThread*>(argument);
  const NoteLeaving leaving(host->left);
  while (!host->stop.load()) {
    host->round();
    ++host->rounds;
  }
  return nullptr;
}

using Hosts = std::vector<std::unique_ptr<HostThread>>;

HostThread& Start(Hosts& hosts, void (*round)()) {
  hosts.push_back(std::make_unique<HostThread>());
  HostThread& host = *hosts.back();
  host.round = round;
  if (pthread_create(&host.id, nullptr, RunRounds, &host) != 0) std::abort();
  return host;
}

bool JoinWithin(pthread_t thread, std::chrono::seconds limit) {
  timespec deadline{};
  clock_gettime(CLOCK_REALTIME, &deadline);
  deadline.tv_sec += static_cast<time_t>(limit.count());
  return pthread_timedjoin_np(thread, nullptr, &deadline) == 0;
}

bool CancelAndJoin(HostThread& host, std::chrono::seconds limit = 5s) {
  (void)pthread_cancel(host.id);
  return JoinWithin(host.id, limit);
}

bool StopAndJoin(HostThread& host, std::chrono::seconds limit = 10s) {
  host.stop = true;
  return JoinWithin(host.id, limit);
}

// Another thread's exports keep going: its round count moves on.
bool KeepsGoing(const HostThread& host) {
  const std::uint64_t before = host.rounds.load();
  const auto deadline = Clock::now() + 5s;
  while (host.rounds.load() < before + 2) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

void LinesRound() {
  (void)MT(1);
  (void)ST(2);
}

void QueriesRound() {
  (void)TP(1);
  (void)MT(1);
  (void)MA(2, 2.5F);
}

void StatusRound() {
  (void)MT(1);
}

void StopAxis2Round() {
  (void)ST(2);
}

void WaitRound() {
  (void)WS(1);
}

void SetUpAxis1Round() {
  (void)RT(1);
}

void SetUpBothRound() {
  (void)RT(0);
}

// ---- What every cell checks at its end --------------------------------------------

struct Failures {
  std::string text;
  void Add(bool well, const std::string& what) {
    if (!well) text += what + "; ";
  }
};

// A thread that never called the library before sends a line and a query.
void NextCallsWork(Failures& failures) {
  struct Results {
    int stop = -1;
    int answered = -1;
  } results;
  pthread_t thread{};
  auto body = [](void* argument) -> void* {
    auto* out = static_cast<Results*>(argument);
    out->stop = ST(2);
    out->answered = OK();
    return nullptr;
  };
  if (pthread_create(&thread, nullptr, body, &results) != 0) std::abort();
  if (!JoinWithin(thread, 10s)) {
    failures.Add(false, "the next call from another thread hangs");
    return;
  }
  failures.Add(results.stop == DeliveredResult(),
               "the next ST(2) returned " + std::to_string(results.stop));
  failures.Add(results.answered == (PositionsAnswered() ? 1 : 0),
               "the next OK() returned " + std::to_string(results.answered));
}

std::string Finish(Failures& failures) {
  NextCallsWork(failures);
  const std::string wire = WireProblems();
  failures.Add(wire.empty(), "on the wire: " + wire);
  return failures.text;
}

// ---- The cells ----------------------------------------------------------------------

std::string CancelWhileQueued() {
  Failures failures;
  Hosts hosts;
  for (int thread = 0; thread < 6; ++thread) Start(hosts, LinesRound);
  std::this_thread::sleep_for(20ms);
  for (std::size_t thread = 0; thread < 5; ++thread) {
    failures.Add(CancelAndJoin(*hosts[thread]), "a cancelled thread did not leave");
    failures.Add(KeepsGoing(*hosts[5]), "the remaining thread stopped getting turns");
    std::this_thread::sleep_for(3ms);
  }
  failures.Add(StopAndJoin(*hosts[5]), "the remaining thread did not end");
  return Finish(failures);
}

// A thread asleep in the queue while the thread at work carries its line is
// cancelled: the line still goes out whole, the cancelled thread leaves once
// it is out, and the other thread carries on. Where the controller cannot be
// watched (the empty bus, every line a 9 ms time-out, so waiters sleep and
// are carried) the cancellations fall at spread times.
std::string CancelWhileAnotherThreadCarriesTheLine() {
  Failures failures;
  Hosts hosts;
  HostThread& polling = Start(hosts, StatusRound);
  for (const auto delay : {1ms, 4ms, 9ms, 13ms, 20ms}) {
    HostThread& asking = Start(hosts, StopAxis2Round);
    const bool watched = CancelAskerWhenCarried(asking.id, asking.left, "2ST\r");
    if (!watched) {
      std::this_thread::sleep_for(delay);
      (void)pthread_cancel(asking.id);
    }
    failures.Add(JoinWithin(asking.id, 5s),
                 "a thread cancelled while its line was carried did not leave");
    if (watched) {
      const CarriedCancellation seen = StopCancellingAskers();
      failures.Add(seen.happened, "no line was carried for the cancelled thread");
      failures.Add(!seen.asker_left_during_exchange,
                   "the cancelled thread left while another thread still carried its line");
    }
    failures.Add(KeepsGoing(polling), "the carrying thread stopped getting turns");
  }
  failures.Add(StopAndJoin(polling), "the polling thread did not end");
  return Finish(failures);
}

std::string CancelInWaitForStop() {
  Failures failures;
  StartLongMove();
  Hosts hosts;
  HostThread& waiting = Start(hosts, WaitRound);
  HostThread& polling = Start(hosts, StatusRound);
  std::this_thread::sleep_for(30ms);
  failures.Add(CancelAndJoin(waiting), "the thread cancelled in WS did not leave");
  failures.Add(KeepsGoing(polling), "the polling thread stopped getting turns");
  failures.Add(StopAndJoin(polling), "the polling thread did not end");
  return Finish(failures);
}

// RT(1) on the controller: lines of well under a millisecond and 50 ms
// pauses, so 75 ms in falls into the second pause.
std::string CancelInSetUpPause() {
  Failures failures;
  Hosts hosts;
  HostThread& setting_up = Start(hosts, SetUpAxis1Round);
  HostThread& polling = Start(hosts, StatusRound);
  std::this_thread::sleep_for(75ms);
  const auto cancelled_at = Clock::now();
  failures.Add(CancelAndJoin(setting_up), "the thread cancelled in RT did not leave");
  failures.Add(Clock::now() - cancelled_at < 2s, "the thread cancelled in RT left late");
  failures.Add(KeepsGoing(polling), "the polling thread stopped getting turns");
  failures.Add(StopAndJoin(polling), "the polling thread did not end");
  return Finish(failures);
}

// Cancelled the moment the controller has taken RT's second line: the line's
// exchange ends, the thread leaves in the pause after it, nothing follows.
// On the empty bus the cancellation lands in the first line's window.
std::string CancelInSetUpLine() {
  Failures failures;
  const std::string& second_line = orvex::kAxis1SetupLines[1];
  const bool watched = CancelSenderOf(second_line.c_str());
  Hosts hosts;
  HostThread& setting_up = Start(hosts, SetUpAxis1Round);
  if (!watched) {
    std::this_thread::sleep_for(4ms);
    (void)pthread_cancel(setting_up.id);
  }
  failures.Add(JoinWithin(setting_up.id, 5s), "the thread cancelled in RT did not leave");
  if (watched) {
    (void)CancelSenderOf(nullptr);
    failures.Add(TimesReceived(orvex::kAxis1SetupLines[0].c_str()) == 1 &&
                     TimesReceived(second_line.c_str()) == 1,
                 "RT's first two lines did not arrive once each");
    failures.Add(TimesReceived(orvex::kAxis1SetupLines[2].c_str()) == 0,
                 "RT went on after its cancellation");
  }
  return Finish(failures);
}

// A thread alone on the bus, every access a cancellation point, cancelled at
// times that fall inside its exchanges; then, where the controller can be
// watched, cancelled between a query line and its reply.
std::string CancelInsideExchange() {
  Failures failures;
  for (const auto delay : {2ms, 5ms, 9ms, 14ms, 20ms}) {
    Hosts hosts;
    HostThread& querying = Start(hosts, QueriesRound);
    std::this_thread::sleep_for(delay);
    failures.Add(CancelAndJoin(querying), "a thread cancelled inside an exchange did not leave");
  }
  const int queries_before = TimesReceived("TS\r");
  if (CancelSenderOf("TS\r")) {
    Hosts hosts;
    HostThread& querying = Start(hosts, StatusRound);
    failures.Add(JoinWithin(querying.id, 5s), "a thread cancelled before its reply did not leave");
    (void)CancelSenderOf(nullptr);
    failures.Add(TimesReceived("TS\r") == queries_before + 1,
                 "the status query was not sent exactly once");
  }
  return Finish(failures);
}

// Every export, in the child of a fork made while other threads were inside
// calls, with the results this bus gives.
std::string EveryExportInForkChild() {
  Failures failures;
  const int delivered = DeliveredResult();
  failures.Add(SV(0, 5000.0F) == delivered, "SV");
  failures.Add(MA(2, 0.5F) == delivered, "MA");
  failures.Add(MR(2, -0.5F) == delivered, "MR");
  failures.Add(GH(2) == delivered, "GH");
  failures.Add(ST(0) == delivered, "ST");
  failures.Add(DH(0) == delivered, "DH");
  failures.Add((TP(1) != ORVEX_POSITION_ERROR) == PositionsAnswered(), "TP");
  failures.Add(OK() == (PositionsAnswered() ? 1 : 0), "OK");
  failures.Add(WS(0) == delivered, "WS");
  failures.Add(MT(0) == delivered, "MT");
  failures.Add(RT(2) == delivered, "RT");
  const std::string wire = WireProblems();
  failures.Add(wire.empty(), "on the wire: " + wire);
  return failures.text;
}

std::string ForkWithThreadsInside() {
  Failures failures;
  StartLongMove();
  Hosts hosts;
  HostThread& lines = Start(hosts, LinesRound);
  HostThread& waiting = Start(hosts, WaitRound);
  std::this_thread::sleep_for(30ms);
  const pid_t child = fork();
  if (child == 0) {
    const std::string child_failures = EveryExportInForkChild();
    if (!child_failures.empty()) std::fprintf(stderr, "in the child: %s\n", child_failures.c_str());
    _exit(child_failures.empty() ? 0 : 1);
  }
  int status = -1;
  const auto deadline = Clock::now() + 30s;
  while (waitpid(child, &status, WNOHANG) == 0) {
    if (Clock::now() > deadline) {
      kill(child, SIGKILL);
      (void)waitpid(child, &status, 0);
      failures.Add(false, "the child of the fork hangs");
      break;
    }
    std::this_thread::sleep_for(2ms);
  }
  failures.Add(WIFEXITED(status) && WEXITSTATUS(status) == 0, "the child's exports failed");
  failures.Add(KeepsGoing(lines), "the parent's threads stopped getting turns after the fork");
  waiting.stop = true;
  (void)ST(1);  // ends the WS in progress
  failures.Add(JoinWithin(waiting.id, 10s), "the parent's WS thread did not end");
  failures.Add(StopAndJoin(lines), "the parent's line thread did not end");
  return Finish(failures);
}

// Ends the process with exit() while `threads` threads are inside calls of
// every kind; the cell passes when the process ends with status 0 in time.
std::string ExitWithThreadsInside(int threads) {
  StartLongMove();
  auto& hosts = *new Hosts;  // never joined nor freed: they are still running at exit
  constexpr void (*kRounds[])() = {LinesRound, WaitRound, SetUpBothRound, QueriesRound};
  for (int thread = 0; thread < threads; ++thread) Start(hosts, kRounds[thread % 4]);
  std::this_thread::sleep_for(30ms);
  std::exit(0);
}

// ---- Running a cell in a process of its own -----------------------------------------

constexpr auto kCellLimit = 30s;

void RunCell(const std::function<std::string()>& cell) {
  std::fflush(nullptr);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    StartCell();
    const std::string failures = cell();
    if (!failures.empty()) std::fprintf(stderr, "%s\n", failures.c_str());
    std::fflush(nullptr);
    _exit(failures.empty() ? 0 : 1);
  }
  int status = -1;
  const auto deadline = Clock::now() + kCellLimit;
  bool hung = false;
  while (waitpid(child, &status, WNOHANG) == 0) {
    if (Clock::now() > deadline) {
      hung = true;
      kill(child, SIGKILL);
      (void)waitpid(child, &status, 0);
      break;
    }
    std::this_thread::sleep_for(5ms);
  }
  EXPECT_FALSE(hung) << "the cell's process hangs";
  EXPECT_TRUE(WIFEXITED(status)) << "the cell's process was killed by signal "
                                 << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  if (WIFEXITED(status)) {
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the cell failed (see above)";
  }
}

TEST(HostileHost, CancelWhileQueued) {
  RunCell(CancelWhileQueued);
}
TEST(HostileHost, CancelWhileAnotherThreadCarriesTheLine) {
  RunCell(CancelWhileAnotherThreadCarriesTheLine);
}
TEST(HostileHost, CancelInWaitForStop) {
  RunCell(CancelInWaitForStop);
}
TEST(HostileHost, CancelInSetUpPause) {
  RunCell(CancelInSetUpPause);
}
TEST(HostileHost, CancelInSetUpLine) {
  RunCell(CancelInSetUpLine);
}
TEST(HostileHost, CancelInsideExchange) {
  RunCell(CancelInsideExchange);
}
TEST(HostileHost, ForkWithThreadsInside) {
  RunCell(ForkWithThreadsInside);
}
TEST(HostileHost, ExitWithOneThreadInside) {
  RunCell([] { return ExitWithThreadsInside(1); });
}
TEST(HostileHost, ExitWithFourThreadsInside) {
  RunCell([] { return ExitWithThreadsInside(4); });
}
TEST(HostileHost, ExitWithSixteenThreadsInside) {
  RunCell([] { return ExitWithThreadsInside(16); });
}

}  // namespace
}  // namespace orvex::hazards
