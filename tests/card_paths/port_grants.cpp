// ioperm() as the kernel offers it: a grant belongs to the thread that asked,
// and a new thread starts with a copy of its creator's grants.
#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <sys/io.h>
#include <unistd.h>

#include <atomic>
#include <bitset>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "stand_in_state.h"

namespace orvex::stand_in {
namespace {

constexpr unsigned long kPortCount = 0x10000;
using Grants = std::bitset<kPortCount>;

thread_local Grants thread_grants;

std::atomic<PortRoute> route = PortRoute::Instructions;

std::atomic<std::uint64_t> access_counts[4];

struct Records {
  std::mutex mutex;
  std::vector<IopermCall> ioperm_calls;
  std::vector<DevPortOpen> dev_port_opens;
};

Records& TheRecords() {
  static Records records;
  return records;
}

PortRoute RouteFromEnvironment() {
  const char* chosen = std::getenv("ORVEX_STAND_IN_ROUTE");
  if (chosen != nullptr && std::string_view(chosen) == "dev-port") return PortRoute::DevPort;
  return PortRoute::Instructions;
}

[[gnu::constructor]] void ChooseRouteFromEnvironment() {
  route = RouteFromEnvironment();
}

// The card's machine-wide record, in a folder of this process's own: its
// controller is its own, and so are the lines in flight on it. A test that
// runs several processes on one controller names one folder for all of them.
[[gnu::constructor]] void KeepRecordsToThisProcess() {
  if (std::getenv("ORVEXPORTIO_RECORD_DIR") != nullptr) return;
  char folder[] = "/tmp/orvex-stand-in-XXXXXX";
  if (mkdtemp(folder) != nullptr) setenv("ORVEXPORTIO_RECORD_DIR", folder, 1);
}

bool GrantIoperm(unsigned long from, unsigned long count, int turn_on) {
  if (route == PortRoute::DevPort) {
    errno = EPERM;
    return false;
  }
  if (from >= kPortCount || count > kPortCount - from) {
    errno = EINVAL;
    return false;
  }
  for (unsigned long port = from; port < from + count; ++port) thread_grants[port] = turn_on != 0;
  return true;
}

// What a new thread needs to start as its creator's copy.
struct ThreadStart {
  void* (*routine)(void*);
  void* argument;
  Grants grants;
};

void* StartWithCreatorsGrants(void* start) {
  std::unique_ptr<ThreadStart> owned(static_cast<ThreadStart*>(start));
  thread_grants = owned->grants;
  void* (*const routine)(void*) = owned->routine;
  void* const argument = owned->argument;
  owned.reset();
  return routine(argument);
}

}  // namespace

bool ThreadHoldsGrant(std::uint16_t port) {
  return thread_grants[port];
}

void CountAccess(AccessKind kind) {
  access_counts[static_cast<int>(kind)].fetch_add(1, std::memory_order_relaxed);
}

void RecordDevPortOpen(int flags) {
  Records& records = TheRecords();
  const std::lock_guard lock(records.mutex);
  records.dev_port_opens.push_back({ThisThread(), flags});
}

void UseRoute(PortRoute chosen) {
  route = chosen;
}

PortRoute Route() {
  return route;
}

std::vector<IopermCall> IopermCalls() {
  Records& records = TheRecords();
  const std::lock_guard lock(records.mutex);
  return records.ioperm_calls;
}

std::vector<DevPortOpen> DevPortOpens() {
  Records& records = TheRecords();
  const std::lock_guard lock(records.mutex);
  return records.dev_port_opens;
}

AccessCounts Accesses() {
  return {access_counts[0].load(), access_counts[1].load(), access_counts[2].load(),
          access_counts[3].load()};
}

void ClearRecords() {
  Records& records = TheRecords();
  const std::lock_guard lock(records.mutex);
  records.ioperm_calls.clear();
  records.dev_port_opens.clear();
  for (auto& count : access_counts) count = 0;
}

pid_t ThisThread() {
  return gettid();
}

}  // namespace orvex::stand_in

using orvex::stand_in::IopermCall;

extern "C" {

int ioperm(unsigned long from, unsigned long count, int turn_on) noexcept {
  const bool granted = orvex::stand_in::GrantIoperm(from, count, turn_on);
  const int error = errno;
  {
    auto& records = orvex::stand_in::TheRecords();
    const std::lock_guard lock(records.mutex);
    records.ioperm_calls.push_back(
        IopermCall{orvex::stand_in::ThisThread(), from, count, turn_on, granted});
  }
  errno = error;
  return granted ? 0 : -1;
}

int pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*routine)(void*),
                   void* argument) noexcept {
  using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
  static const auto next_create =
      reinterpret_cast<Create>(orvex::stand_in::NextDefinition("pthread_create"));
  auto* start = new orvex::stand_in::ThreadStart{routine, argument, orvex::stand_in::thread_grants};
  const int result =
      next_create(thread, attributes, &orvex::stand_in::StartWithCreatorsGrants, start);
  if (result != 0) delete start;
  return result;
}

}  // extern "C"
