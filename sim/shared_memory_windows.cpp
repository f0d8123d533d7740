#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "shared_memory.h"

namespace orvex::sim {
namespace {

// Two readings of when the machine started differ by the clocks' drift
// apart; one from before a restart differs by at least the restart's time.
constexpr std::uint64_t kSameStartWithin = 60;  // seconds

std::wstring Wide(const std::string& ascii) {
  return std::wstring(ascii.begin(), ascii.end());
}

std::wstring KernelName(std::string_view name, const char* suffix) {
  return Wide("Local\\" + SharedObjectName(name) + suffix);
}

std::wstring FilePath(std::string_view name) {
  wchar_t folder[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
  return std::wstring(folder, length) + Wide(SharedObjectName(name)) + L".bus";
}

std::string Failed(const char* step) {
  return std::string(step) + " failed with error " + std::to_string(GetLastError());
}

// When the machine started, in seconds since 1601: the time of day less the
// time since the start.
std::uint64_t BootStamp() {
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  const std::uint64_t now_seconds =
      ((std::uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime) / 10'000'000;
  return now_seconds - GetTickCount64() / 1000;
}

bool FromThisStart(const SharedBusState& state) {
  const std::uint64_t then = state.header.boot_stamp;
  const std::uint64_t now = BootStamp();
  return (then > now ? then - now : now - then) <= kSameStartWithin;
}

// Held while a process makes or checks the bus, so no process ever maps a
// half-made one.
class OpeningMutex {
 public:
  explicit OpeningMutex(std::string_view name)
      : mutex_(CreateMutexW(nullptr, FALSE, KernelName(name, "-opening").c_str())) {
    if (mutex_ != nullptr) (void)WaitForSingleObject(mutex_, INFINITE);
  }
  ~OpeningMutex() {
    if (mutex_ == nullptr) return;
    ReleaseMutex(mutex_);
    CloseHandle(mutex_);
  }
  bool Held() const { return mutex_ != nullptr; }

 private:
  const HANDLE mutex_;
};

std::uint64_t FileSize(HANDLE file) {
  LARGE_INTEGER size{};
  return GetFileSizeEx(file, &size) ? static_cast<std::uint64_t>(size.QuadPart) : 0;
}

// The file, mapped whole; it grows to the bus's size when it is new. The
// handles stay open for the life of the process, as the view does.
void* MapFile(HANDLE file, std::string_view name) {
  constexpr std::uint64_t size = sizeof(SharedBusState);
  const HANDLE mapping =
      CreateFileMappingW(file, nullptr, PAGE_READWRITE, static_cast<DWORD>(size >> 32),
                         static_cast<DWORD>(size & 0xFFFFFFFF), KernelName(name, "").c_str());
  if (mapping == nullptr) return nullptr;
  return MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, size);
}

}  // namespace

SharedBusState* MapSharedBus(std::string_view name, Clock clock, std::string& why) {
  const OpeningMutex opening(name);
  if (!opening.Held()) {
    why = Failed("CreateMutexW");
    return nullptr;
  }
  const HANDLE file = CreateFileW(FilePath(name).c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    why = Failed("CreateFileW");
    return nullptr;
  }
  // Empty: new, or its maker died before it grew.
  const std::uint64_t size = FileSize(file);
  if (size != 0 && size != sizeof(SharedBusState)) {
    CloseHandle(file);
    why = "it holds a virtual bus of another layout (another version of the library)";
    return nullptr;
  }
  void* memory = MapFile(file, name);
  if (memory == nullptr) {
    why = Failed("mapping the file");
    CloseHandle(file);
    return nullptr;
  }
  auto* state = static_cast<SharedBusState*>(memory);
  if (size == 0 || (IsSharedBusOfThisLayout(memory, size) && !FromThisStart(*state))) {
    FillNewSharedBus(memory, clock, BootStamp());
  } else if (!IsSharedBusOfThisLayout(memory, size)) {
    why = "it holds a virtual bus of another layout (another version of the library)";
    UnmapViewOfFile(memory);
    CloseHandle(file);
    return nullptr;
  }
  return state;
}

bool RemoveSharedBus(std::string_view name) {
  return DeleteFileW(FilePath(name).c_str()) != 0;
}

}  // namespace orvex::sim
