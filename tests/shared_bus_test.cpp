// One virtual bus shared by several processes: each case runs its processes
// as children of its own, one after another or released together, each with
// a time limit, on a bus of a name no other case uses.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "children.h"
#include "orvexportio.h"
#include "program_runs.h"
#include "shared_bus.h"
#include "shared_lock.h"
#include "shared_memory.h"
#include "virtual_bus.h"

namespace orvex::testing {
namespace {

namespace fs = std::filesystem;
using sim::TheController;
using Lines = std::vector<std::string>;
using Death = sim::VirtualController::Death;
using processes::Ended;
using processes::StartChild;
using processes::Wait;

constexpr unsigned kTimeLimit = 20;  // seconds, for a child that should take well under one

// `body` in a child; its failed expectations show in its output and make
// it exit 1.
Ended InChild(const std::function<void()>& body, unsigned seconds = kTimeLimit) {
  return Wait(StartChild(body, seconds));
}

void ExpectPassed(const Ended& ended, const char* what) {
  EXPECT_TRUE(ended.Passed()) << what << ": status " << ended.status
                              << (ended.OutOfTime() ? " (time limit: wedged)" : "");
}

class SharedBusTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { setenv(sim::kClockVariable, "virtual", 1); }

  void SetUp() override {
    static int made = 0;
    name_ = "test-" + std::to_string(getpid()) + "-" + std::to_string(++made);
  }
  void TearDown() override { (void)sim::RemoveSharedBus(name_); }

  // In a child: onto the bus of this case.
  void Share() const {
    std::string why;
    ASSERT_TRUE(sim::ShareTheBus(name_, why)) << why;
  }

  std::string name_;
};

// The bytes a recording shows written to the data register 0x340, in order.
std::string DataRegisterWrites(const fs::path& vcd) {
  std::ifstream file(vcd);
  std::string line;
  std::string written;
  unsigned long address = 0;
  unsigned long data = 0;
  while (std::getline(file, line)) {
    if (line.starts_with("b") && line.ends_with(" ."))
      address = std::stoul(line.substr(1), nullptr, 2);
    if (line.starts_with("b") && line.ends_with(" )"))
      data = std::stoul(line.substr(1), nullptr, 2);
    if (line == "1," && address == 0x340) written += static_cast<char>(data);
  }
  return written;
}

// What one process sends the next one sees: its lines, its axes, its faults,
// and one recording holds both processes' accesses.
TEST_F(SharedBusTest, ProcessesOneAfterAnotherDriveOneCard) {
  const fs::path vcd = fs::temp_directory_path() / (name_ + ".vcd");
  ExpectPassed(InChild([&] {
                 Share();
                 ASSERT_TRUE(TheController().RecordBus(vcd.string()));
                 EXPECT_EQ(MA(1, 2.5F), 1);
               }),
               "the first");
  ExpectPassed(InChild([&] {
                 Share();
                 EXPECT_EQ(TheController().LineTexts(), Lines{"1PA 250\r"});
                 EXPECT_EQ(TheController().Axis(0).target, 250.0);
                 EXPECT_EQ(MA(2, -1.0F), 1);
                 TheController().SetFaults({.silent = true});
               }),
               "the second");
  ExpectPassed(
      InChild([&] {
        Share();
        EXPECT_EQ(DH(1), 0);  // the second's fault holds
        TheController().ClearFaults();
        EXPECT_EQ(DH(1), 1);
        TheController().StopRecordingBus();
        EXPECT_EQ(TheController().LineTexts(), (Lines{"1PA 250\r", "2PA -100\r", "1DH\r"}));
      }),
      "the third");
  EXPECT_EQ(DataRegisterWrites(vcd), "1PA 250\r2PA -100\r1DH\r");
  fs::remove(vcd);
  fs::remove(fs::path(vcd).replace_extension(".gtkw"));
}

// A process killed at its third access to the card, holding the card's lock
// as it dies: the next process counts the accesses that happened, takes the
// lock, finishes the dead process's line and sends its own.
TEST_F(SharedBusTest, ProcessKilledAtAnAccessLeavesTheCardUsable) {
  struct Case {
    Death moment;
    std::uint64_t accesses_made;
  };
  for (const Case& death : {Case{Death::BeforeAccess, 2}, Case{Death::AfterAccess, 3}}) {
    SCOPED_TRACE(death.accesses_made);
    ExpectPassed(InChild([&] {
                   Share();
                   TheController().Reset();
                 }),
                 "the resetter");
    const Ended killed = InChild([&] {
      Share();
      TheController().SetDeathAtAccess(3, death.moment);
      (void)MA(1, 2.5F);
      ADD_FAILURE() << "lived past its third access";
    });
    EXPECT_TRUE(killed.Killed()) << "status " << killed.status;
    ExpectPassed(InChild([&] {
                   Share();
                   EXPECT_EQ(TheController().Snapshot().PortAccesses(), death.accesses_made);
                   // The library finishes the dead process's line before its own.
                   EXPECT_EQ(DH(2), 1);
                   EXPECT_EQ(TheController().LineTexts(), (Lines{"1PA 250\r", "2DH\r"}));
                 }),
                 "the next");
  }
}

// A lock that a killed holder left behind: the next child either takes it
// or runs into its time limit.
Ended TakeAfterHolderKilled(sim::StateLock& lock) {
  const Ended holder = InChild([&] {
    lock.lock();
    raise(SIGKILL);
  });
  EXPECT_TRUE(holder.Killed());
  return InChild([&] { lock.lock(); }, 2);
}

// The harness of the case above tells a wedge: a process-shared mutex that
// is not robust stays locked by the dead, and the taker runs out of time.
TEST(SharedLock, ARobustMutexOutlivesItsHolderWhereAPlainOneWedges) {
  void* memory = mmap(nullptr, 2 * sizeof(sim::SharedLockStorage), PROT_READ | PROT_WRITE,
                      MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(memory, MAP_FAILED);
  auto* storage = static_cast<sim::SharedLockStorage*>(memory);
  sim::PrepareSharedLock(storage[0]);
  const auto robust = sim::OpenSharedLock(storage[0], "robust");
  EXPECT_TRUE(TakeAfterHolderKilled(*robust).Passed());

  // The broken variant: process-shared, not robust.
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
  auto* plain = reinterpret_cast<pthread_mutex_t*>(storage[1].bytes.data());
  pthread_mutex_init(plain, &attributes);
  struct PlainLock final : sim::StateLock {
    explicit PlainLock(pthread_mutex_t* plain_mutex) : mutex(plain_mutex) {}
    void lock() override { pthread_mutex_lock(mutex); }
    void unlock() override { pthread_mutex_unlock(mutex); }
    pthread_mutex_t* mutex;
  } wedging(plain);
  EXPECT_TRUE(TakeAfterHolderKilled(wedging).OutOfTime());
  munmap(memory, 2 * sizeof(sim::SharedLockStorage));
}

std::vector<std::string> TemporaryObjectsOf(const std::string& name) {
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator("/dev/shm")) {
    const std::string file = entry.path().filename().string();
    if (file.starts_with(sim::SharedObjectName(name) + ".")) left.push_back(file);
  }
  return left;
}

// Processes released together all find one bus, whoever made it: each one's
// card is on it, and no half-made bus is left behind.
TEST_F(SharedBusTest, ProcessesStartingTogetherMakeOneBus) {
  constexpr int kProcesses = 4;
  int gate[2];
  ASSERT_EQ(pipe(gate), 0);
  std::vector<pid_t> children;
  for (int process = 0; process < kProcesses; ++process) {
    children.push_back(StartChild(
        [&, process] {
          close(gate[1]);
          char ignored;
          (void)read(gate[0], &ignored, 1);  // until the parent closes its end
          Share();
          EXPECT_NE(sim::TheBus().AddCard(static_cast<std::uint16_t>(0x100 + 2 * process)),
                    nullptr);
        },
        kTimeLimit));
  }
  close(gate[0]);
  close(gate[1]);
  for (const pid_t child : children) ExpectPassed(Wait(child), "a starter");
  ExpectPassed(
      InChild([&] {
        Share();
        for (int process = 0; process < kProcesses; ++process) {
          EXPECT_NE(sim::TheBus().CardAt(static_cast<std::uint16_t>(0x100 + 2 * process)), nullptr)
              << process;
        }
      }),
      "the checker");
  EXPECT_EQ(TemporaryObjectsOf(name_), std::vector<std::string>{});
}

// Puts `size` bytes under the bus's name, with `header` at their start.
void PlantSegment(const std::string& name, std::size_t size, const sim::SharedBusHeader& header) {
  const std::string object = "/" + sim::SharedObjectName(name);
  const int descriptor = shm_open(object.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(descriptor, 0);
  ASSERT_EQ(ftruncate(descriptor, static_cast<off_t>(size)), 0);
  ASSERT_EQ(pwrite(descriptor, &header, sizeof header, 0), static_cast<ssize_t>(sizeof header));
  close(descriptor);
}

sim::SharedBusHeader HeaderOfThisLayout() {
  sim::SharedBusHeader header;
  header.magic = sim::SharedBusHeader::kMagic;
  header.version = sim::SharedBusHeader::kVersion;
  header.size = sizeof(sim::SharedBusState);
  return header;
}

// A segment of another layout is refused, and the process keeps its own bus;
// one of this layout is taken.
TEST_F(SharedBusTest, OnlyABusOfThisLayoutIsTaken) {
  struct Case {
    const char* what;
    std::size_t size;
    sim::SharedBusHeader header;
    bool taken;
  };
  sim::SharedBusHeader older = HeaderOfThisLayout();
  older.version = sim::SharedBusHeader::kVersion - 1;
  sim::SharedBusHeader bigger = HeaderOfThisLayout();
  bigger.size += 8;
  sim::SharedBusHeader foreign = HeaderOfThisLayout();
  foreign.magic = 0;
  const Case cases[] = {
      {"another size", 4096, HeaderOfThisLayout(), false},
      {"an older version", sizeof(sim::SharedBusState), older, false},
      {"a header of another size", sizeof(sim::SharedBusState), bigger, false},
      {"not a bus", sizeof(sim::SharedBusState), foreign, false},
      {"this layout", sizeof(sim::SharedBusState), HeaderOfThisLayout(), true},
  };
  for (const Case& planted : cases) {
    SCOPED_TRACE(planted.what);
    PlantSegment(name_, planted.size, planted.header);
    ExpectPassed(InChild([&] {
                   std::string why;
                   EXPECT_EQ(sim::ShareTheBus(name_, why), planted.taken) << why;
                   EXPECT_EQ(sim::TheBus().SharedName(), planted.taken ? name_ : "");
                   if (!planted.taken) {
                     EXPECT_NE(why.find("another layout"), std::string::npos);
                   }
                 }),
                 planted.what);
  }
}

TEST(SharedBusName, LettersDigitsDashAndUnderscoreUpToThirtyTwo) {
  for (const std::string& name : Lines{"a", "Bench-2_x", std::string(32, 'n')}) {
    EXPECT_TRUE(sim::IsSharedBusName(name)) << name;
  }
  for (const std::string& name :
       Lines{"", std::string(33, 'n'), "a/b", "../x", "a b", "a.b", "a\\b", "caf\xC3\xA9"}) {
    EXPECT_FALSE(sim::IsSharedBusName(name)) << name;
  }
  std::string why;
  EXPECT_FALSE(sim::ShareTheBus("a/b", why));
  EXPECT_NE(why.find("not a name"), std::string::npos) << why;
}

// ---- orvexctl, as a user runs it in a shell ------------------------------------

// orvexctl with `arguments`, the environment this test runs in and
// `variables` on top, on the real clock, killed after 60 s.
Finished Orvexctl(const std::vector<std::string>& variables,
                  const std::vector<std::string>& arguments) {
  std::vector<std::string> words = {"60", ORVEXCTL_PROGRAM};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<std::string> environment = {std::string(sim::kClockVariable) + "="};
  environment.insert(environment.end(), variables.begin(), variables.end());
  const std::vector<std::string> inherited = EnvironmentWithout(sim::kClockVariable);
  environment.insert(environment.end(), inherited.begin(), inherited.end());
  return RunProgram("timeout", words, environment);
}

// Successive runs see the axes where the last left them; a run on another
// name, or on none, sees a controller of its own.
TEST_F(SharedBusTest, SuccessiveOrvexctlRunsSeeTheSameAxes) {
  const std::string shared = std::string(sim::kSharedBusVariable) + "=" + name_;
  const Finished move = Orvexctl({shared}, {"--simulate", "ma", "1", "2.5"});
  EXPECT_EQ(move.status, 0) << move.err;
  EXPECT_EQ(move.out, "delivered\n");
  const Finished look = Orvexctl({shared}, {"--simulate", "ws", "1", "tp", "1"});
  EXPECT_EQ(look.status, 0) << look.err;
  EXPECT_EQ(look.out, "done\n2.5\n");
  EXPECT_EQ(look.err, "");
  EXPECT_EQ(Orvexctl({}, {"--simulate", "tp", "1"}).out, "0\n");
}

// The variable names a bus that cannot be had: the run says why on standard
// error, and goes on with a controller of its own.
TEST_F(SharedBusTest, OrvexctlOnABusItCannotHaveSaysWhyAndGoesOn) {
  PlantSegment(name_, 4096, HeaderOfThisLayout());
  struct Case {
    std::string name;
    std::string why;
  };
  const Case cases[] = {
      {name_, "it holds a virtual bus of another layout (another version of the library)"},
      {"no/such", "not a name for a shared virtual bus (1 to 32 letters, digits, - and _)"},
  };
  for (const Case& refused : cases) {
    const Finished run = Orvexctl({std::string(sim::kSharedBusVariable) + "=" + refused.name},
                                  {"--simulate", "tp", "1"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "0\n");
    EXPECT_EQ(run.err, "orvexportio-sim: ORVEXPORTIO_SIM_SHARED=" + refused.name +
                           ": no shared virtual bus by that name: " + refused.why +
                           "; this process has a virtual bus of its own\n");
  }
}

}  // namespace
}  // namespace orvex::testing
