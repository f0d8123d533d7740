// Where the stand-in's functions and the library under test are found.
#include <dlfcn.h>

#include <cstdlib>
#include <string>

#include "stand_in_state.h"

namespace orvex::stand_in {
namespace {

// Every function through which the stand-in takes the kernel's place.
constexpr const char* kInterposed[] = {
    "ioperm",        "pthread_create",  "open",
    "open64",        "openat",          "pread",
    "pwrite",        "close",           "nanosleep",
    "clock_gettime", "clock_nanosleep", "_ZNSt6chrono3_V212steady_clock3nowEv",
};

const void* ObjectBase(const void* address) {
  Dl_info info{};
  return address != nullptr && dladdr(address, &info) != 0 ? info.dli_fbase : nullptr;
}

}  // namespace

void* NextDefinition(const char* name) {
  void* next = dlsym(RTLD_NEXT, name);
  if (next == nullptr) {
    WriteToStandardError("kernel stand-in: no next definition of ");
    WriteToStandardError(name);
    WriteToStandardError("\n");
    std::abort();
  }
  return next;
}

bool Interposes(std::string& missing) {
  const void* own_base = ObjectBase(reinterpret_cast<const void*>(&NextDefinition));
  for (const char* name : kInterposed) {
    if (ObjectBase(dlsym(RTLD_DEFAULT, name)) != own_base) {
      missing = name;
      return false;
    }
  }
  return true;
}

std::string LibraryUnderTest() {
  Dl_info info{};
  const void* ma = dlsym(RTLD_DEFAULT, "MA");
  if (ma == nullptr || dladdr(ma, &info) == 0 || info.dli_fname == nullptr) return {};
  return info.dli_fname;
}

}  // namespace orvex::stand_in
