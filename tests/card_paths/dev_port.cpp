// /dev/port as the kernel offers it: a descriptor whose reads and writes at
// offset = port reach the ports one byte after another, within the access
// mode it was opened with. Whichever of the open functions the library uses
// is served; the descriptor itself is a real one (onto /dev/null), so its
// number is the process's and close() works on it as on any other.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstring>

#include "stand_in_state.h"
#include "virtual_bus.h"

namespace orvex::stand_in {
namespace {

constexpr off_t kPortCount = 0x10000;
constexpr int kNotDevPort = -1;
constexpr std::size_t kDescriptorCapacity = 4096;

// One more than the access mode each open /dev/port descriptor was opened
// with; 0 for every other descriptor.
std::array<std::atomic<int>, kDescriptorCapacity> open_modes{};

bool IsDevPort(const char* path) {
  return path != nullptr && std::strcmp(path, "/dev/port") == 0;
}

int ModeOf(int descriptor) {
  if (descriptor < 0 || static_cast<std::size_t>(descriptor) >= kDescriptorCapacity) {
    return kNotDevPort;
  }
  return open_modes[static_cast<std::size_t>(descriptor)] - 1;
}

template <typename Function>
Function Next(const char* name) {
  return reinterpret_cast<Function>(NextDefinition(name));
}

int OpenDevPort(int flags) {
  const int mode = flags & O_ACCMODE;
  if (mode == O_ACCMODE) {
    errno = EINVAL;
    return -1;
  }
  using Open = int (*)(const char*, int, ...);
  static const auto next_open = Next<Open>("open");
  const int descriptor = next_open("/dev/null", mode | (flags & O_CLOEXEC));
  if (descriptor < 0) return descriptor;
  if (static_cast<std::size_t>(descriptor) >= kDescriptorCapacity) {
    Next<int (*)(int)>("close")(descriptor);
    errno = EMFILE;
    return -1;
  }
  open_modes[static_cast<std::size_t>(descriptor)] = mode + 1;
  RecordDevPortOpen(flags);
  return descriptor;
}

ssize_t ReadPorts(int mode, void* buffer, std::size_t count, off_t offset) {
  if (mode == O_WRONLY) {
    errno = EBADF;
    return -1;
  }
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  ssize_t done = 0;
  for (off_t port = offset; port >= 0 && port < kPortCount && done < static_cast<ssize_t>(count);
       ++port, ++done) {
    bytes[done] = sim::TheBus().ReadPort(static_cast<std::uint16_t>(port));
    CountAccess(AccessKind::DevPortRead);
  }
  return done;
}

ssize_t WritePorts(int mode, const void* buffer, std::size_t count, off_t offset) {
  if (mode == O_RDONLY) {
    errno = EBADF;
    return -1;
  }
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  ssize_t done = 0;
  for (off_t port = offset; port >= 0 && port < kPortCount && done < static_cast<ssize_t>(count);
       ++port, ++done) {
    sim::TheBus().WritePort(static_cast<std::uint16_t>(port), bytes[done]);
    CountAccess(AccessKind::DevPortWrite);
  }
  return done;
}

mode_t CreationMode(int flags, va_list& rest) {
  if ((flags & O_CREAT) == 0 && (flags & O_TMPFILE) != O_TMPFILE) return 0;
  return static_cast<mode_t>(va_arg(rest, unsigned int));
}

}  // namespace
}  // namespace orvex::stand_in

using orvex::stand_in::CreationMode;
using orvex::stand_in::IsDevPort;
using orvex::stand_in::ModeOf;
using orvex::stand_in::Next;
using orvex::stand_in::OpenDevPort;

extern "C" {

// open64, openat64 and the fortified forms are the same functions on 64-bit
// systems; each is served, whichever the library was built to call.
int open(const char* path, int flags, ...) {
  va_list rest;
  va_start(rest, flags);
  const mode_t mode = CreationMode(flags, rest);
  va_end(rest);
  if (IsDevPort(path)) return OpenDevPort(flags);
  static const auto next = Next<int (*)(const char*, int, ...)>("open");
  return next(path, flags, mode);
}

int open64(const char* path, int flags, ...) {
  va_list rest;
  va_start(rest, flags);
  const mode_t mode = CreationMode(flags, rest);
  va_end(rest);
  if (IsDevPort(path)) return OpenDevPort(flags);
  static const auto next = Next<int (*)(const char*, int, ...)>("open64");
  return next(path, flags, mode);
}

int openat(int directory, const char* path, int flags, ...) {
  va_list rest;
  va_start(rest, flags);
  const mode_t mode = CreationMode(flags, rest);
  va_end(rest);
  if (IsDevPort(path)) return OpenDevPort(flags);
  static const auto next = Next<int (*)(int, const char*, int, ...)>("openat");
  return next(directory, path, flags, mode);
}

int openat64(int directory, const char* path, int flags, ...) {
  va_list rest;
  va_start(rest, flags);
  const mode_t mode = CreationMode(flags, rest);
  va_end(rest);
  if (IsDevPort(path)) return OpenDevPort(flags);
  static const auto next = Next<int (*)(int, const char*, int, ...)>("openat64");
  return next(directory, path, flags, mode);
}

int __open_2(const char* path, int flags) {
  if (IsDevPort(path)) return OpenDevPort(flags);
  static const auto next = Next<int (*)(const char*, int)>("__open_2");
  return next(path, flags);
}

int __open64_2(const char* path, int flags) {
  if (IsDevPort(path)) return OpenDevPort(flags);
  static const auto next = Next<int (*)(const char*, int)>("__open64_2");
  return next(path, flags);
}

int __openat_2(int directory, const char* path, int flags) {
  if (IsDevPort(path)) return OpenDevPort(flags);
  static const auto next = Next<int (*)(int, const char*, int)>("__openat_2");
  return next(directory, path, flags);
}

ssize_t pread(int descriptor, void* buffer, size_t count, off_t offset) {
  const int mode = ModeOf(descriptor);
  if (mode != orvex::stand_in::kNotDevPort) {
    return orvex::stand_in::ReadPorts(mode, buffer, count, offset);
  }
  static const auto next = Next<ssize_t (*)(int, void*, size_t, off_t)>("pread");
  return next(descriptor, buffer, count, offset);
}

ssize_t pread64(int descriptor, void* buffer, size_t count, off_t offset) {
  return pread(descriptor, buffer, count, offset);
}

ssize_t pwrite(int descriptor, const void* buffer, size_t count, off_t offset) {
  const int mode = ModeOf(descriptor);
  if (mode != orvex::stand_in::kNotDevPort) {
    return orvex::stand_in::WritePorts(mode, buffer, count, offset);
  }
  static const auto next = Next<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite");
  return next(descriptor, buffer, count, offset);
}

ssize_t pwrite64(int descriptor, const void* buffer, size_t count, off_t offset) {
  return pwrite(descriptor, buffer, count, offset);
}

int close(int descriptor) {
  if (ModeOf(descriptor) != orvex::stand_in::kNotDevPort) {
    orvex::stand_in::open_modes[static_cast<std::size_t>(descriptor)] = 0;
  }
  static const auto next = Next<int (*)(int)>("close");
  return next(descriptor);
}

}  // extern "C"
