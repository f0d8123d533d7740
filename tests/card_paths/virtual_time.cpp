// The library's clock readings and pauses on the controller's virtual clock,
// as the virtual-controller build has them, so its readiness window, its
// bounds and its pauses come out exactly however slowly the faulting port
// instructions run. Only calls made from the library under test are served
// so; the test program and everything else keep the real clock.
#include <dlfcn.h>
#include <pthread.h>
#include <time.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <type_traits>

#include "stand_in_state.h"
#include "virtual_bus.h"

namespace orvex::stand_in {
namespace {

constexpr const char* kSteadyClockNow = "_ZNSt6chrono3_V212steady_clock3nowEv";

// The C++ library returns the steady clock's reading in one integer register.
using SteadyTimePoint = std::chrono::steady_clock::time_point;
static_assert(sizeof(SteadyTimePoint) == sizeof(std::int64_t) &&
              std::is_trivially_copyable_v<SteadyTimePoint>);

// The library under test is any object that itself defines MA, whether the
// program was linked with it or loaded it later, as orvexctl does. The answer
// is kept, per thread, for the last object asked about, which is nearly
// always the one.
bool DefinesTheExports(const Dl_info& object) {
  void* handle = dlopen(object.dli_fname, RTLD_LAZY | RTLD_NOLOAD);
  if (handle == nullptr) return false;
  Dl_info definition{};
  const void* ma = dlsym(handle, "MA");
  const bool defines =
      ma != nullptr && dladdr(ma, &definition) != 0 && definition.dli_fbase == object.dli_fbase;
  dlclose(handle);
  return defines;
}

struct KnownObject {
  const void* base;
  bool under_test;
};

thread_local KnownObject last_object{nullptr, false};

bool CalledFromLibraryUnderTest(const void* return_address) {
  Dl_info caller{};
  if (dladdr(return_address, &caller) == 0 || caller.dli_fbase == nullptr) return false;
  if (last_object.base != caller.dli_fbase) {
    last_object = {caller.dli_fbase, DefinesTheExports(caller)};
  }
  return last_object.under_test;
}

std::int64_t VirtualNanoseconds() {
  return std::llround(sim::TheController().NowSeconds() * 1e9);
}

void VirtualPause(const timespec* length) {
  const double milliseconds =
      static_cast<double>(length->tv_sec) * 1e3 + static_cast<double>(length->tv_nsec) / 1e6;
  sim::TheController().Pause(static_cast<unsigned>(std::ceil(milliseconds)));
}

bool IsSteadyClock(clockid_t clock) {
  return clock == CLOCK_MONOTONIC || clock == CLOCK_MONOTONIC_RAW || clock == CLOCK_BOOTTIME;
}

}  // namespace
}  // namespace orvex::stand_in

using orvex::stand_in::CalledFromLibraryUnderTest;

// std::chrono::steady_clock::now(), by its symbol.
extern "C" std::int64_t OrvexSteadyClockNow() noexcept
    __asm__("_ZNSt6chrono3_V212steady_clock3nowEv");

extern "C" std::int64_t OrvexSteadyClockNow() noexcept {
  if (CalledFromLibraryUnderTest(__builtin_return_address(0))) {
    return orvex::stand_in::VirtualNanoseconds();
  }
  static const auto next = reinterpret_cast<std::int64_t (*)()>(
      orvex::stand_in::NextDefinition(orvex::stand_in::kSteadyClockNow));
  return next();
}

extern "C" {

int clock_gettime(clockid_t clock, timespec* now) noexcept {
  if (orvex::stand_in::IsSteadyClock(clock) &&
      CalledFromLibraryUnderTest(__builtin_return_address(0))) {
    const std::int64_t nanoseconds = orvex::stand_in::VirtualNanoseconds();
    now->tv_sec = nanoseconds / 1'000'000'000;
    now->tv_nsec = nanoseconds % 1'000'000'000;
    return 0;
  }
  static const auto next = reinterpret_cast<int (*)(clockid_t, timespec*)>(
      orvex::stand_in::NextDefinition("clock_gettime"));
  return next(clock, now);
}

// A wait for a lock until a deadline the library read on the virtual clock:
// as long a wait on the real one. The card's machine-wide lock waits so.
int pthread_mutex_clocklock(pthread_mutex_t* mutex, clockid_t clock,
                            const timespec* deadline) noexcept {
  static const auto next = reinterpret_cast<int (*)(pthread_mutex_t*, clockid_t, const timespec*)>(
      orvex::stand_in::NextDefinition("pthread_mutex_clocklock"));
  if (!orvex::stand_in::IsSteadyClock(clock) ||
      !CalledFromLibraryUnderTest(__builtin_return_address(0))) {
    return next(mutex, clock, deadline);
  }
  const std::int64_t remaining = std::int64_t{deadline->tv_sec} * 1'000'000'000 +
                                 deadline->tv_nsec - orvex::stand_in::VirtualNanoseconds();
  static const auto real_clock = reinterpret_cast<int (*)(clockid_t, timespec*)>(
      orvex::stand_in::NextDefinition("clock_gettime"));
  timespec now{};
  real_clock(CLOCK_MONOTONIC, &now);
  const std::int64_t until =
      std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec + (remaining > 0 ? remaining : 0);
  const timespec real_deadline{static_cast<time_t>(until / 1'000'000'000),
                               static_cast<long>(until % 1'000'000'000)};
  return next(mutex, CLOCK_MONOTONIC, &real_deadline);
}

int nanosleep(const timespec* length, timespec* remaining) {
  if (CalledFromLibraryUnderTest(__builtin_return_address(0))) {
    orvex::stand_in::VirtualPause(length);
    if (remaining != nullptr) *remaining = {};
    return 0;
  }
  static const auto next = reinterpret_cast<int (*)(const timespec*, timespec*)>(
      orvex::stand_in::NextDefinition("nanosleep"));
  return next(length, remaining);
}

int clock_nanosleep(clockid_t clock, int flags, const timespec* length, timespec* remaining) {
  if (flags == 0 && CalledFromLibraryUnderTest(__builtin_return_address(0))) {
    orvex::stand_in::VirtualPause(length);
    if (remaining != nullptr) *remaining = {};
    return 0;
  }
  static const auto next = reinterpret_cast<int (*)(clockid_t, int, const timespec*, timespec*)>(
      orvex::stand_in::NextDefinition("clock_nanosleep"));
  return next(clock, flags, length, remaining);
}

}  // extern "C"
