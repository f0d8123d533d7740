// A card's machine-wide record on Windows: a file (in the user's folder for
// temporary files, or the folder ORVEXPORTIO_RECORD_DIR names) mapped into
// every process that drives the card, holding the holder's identity beside
// the payload, and a named mutex that keeps the processes apart. A mutex
// whose owner ended without releasing it is handed to the next waiter as
// abandoned (WAIT_ABANDONED). The record is a file, not memory of the paging
// file, so that it outlives a holder killed while no other process had it
// open: the next process still finds the line that holder left in flight.
// A record from before the machine restarted is idle again (its start is
// noted).
//
// The mutex lives in the session's namespace (Local\): every process of one
// logged-on user's session that drives the card takes part, 32-bit and
// 64-bit alike, since the record holds only plain data of fixed width. A
// service in another session is not kept apart from them.
//
// A new file is all zero, which is an idle record; its version is written by
// the first process that takes the lock.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <span>
#include <string>

#include "port/machine_wide.h"
#include "port/platform.h"

namespace orvex::port {
namespace {

constexpr std::uint32_t RECORD_MAGIC = 0x4F525657;  // "ORVW"
constexpr std::uint32_t RECORD_VERSION = 1;
constexpr std::size_t NAME_CAPACITY = 64;

// The mapping's layout: fixed-width plain data, the same for both bitnesses.
struct Record {
  std::uint32_t magic;  // 0 until the first holder writes it
  std::uint32_t version;
  std::uint32_t size;
  std::int32_t holder_process;  // 0 while nobody holds the card
  std::int64_t held_since_ms;   // GetTickCount64
  std::uint64_t boot_stamp;     // when the machine started, as BootStamp gives it
  char holder_program[16];
  alignas(16) unsigned char payload[SHARED_PAYLOAD_BYTES];
};

static_assert(sizeof(Record) == 48 + SHARED_PAYLOAD_BYTES &&
                  offsetof(Record, held_since_ms) == 16 && offsetof(Record, payload) == 48,
              "one layout for both bitnesses");

// Two readings of when the machine started differ by the clocks' drift;
// one from before a restart differs by at least the restart's time.
constexpr std::uint64_t SAME_START_WITHIN = 60;  // seconds

// When the machine started, in seconds since 1601: the time of day less the
// time since the start.
std::uint64_t BootStamp() {
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  const std::uint64_t now_seconds =
      ((std::uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime) / 10'000'000;
  return now_seconds - GetTickCount64() / 1000;
}

bool FromThisStart(const Record& record) {
  const std::uint64_t now = BootStamp();
  const std::uint64_t then = record.boot_stamp;
  return (then > now ? then - now : now - then) <= SAME_START_WITHIN;
}

// The record's file: in ORVEXPORTIO_RECORD_DIR, else the user's folder for
// temporary files.
std::wstring RecordPath(const char* name) {
  std::wstring path;
  std::array<char, MAX_PATH> chosen{};
  const DWORD length = GetEnvironmentVariableA("ORVEXPORTIO_RECORD_DIR", chosen.data(), MAX_PATH);
  if (length > 0 && length < MAX_PATH) {
    for (DWORD index = 0; index < length; ++index) path += static_cast<wchar_t>(chosen[index]);
    path += L'\\';
  } else {
    std::array<wchar_t, MAX_PATH + 1> temporary{};
    path.assign(temporary.data(), GetTempPathW(MAX_PATH + 1, temporary.data()));
  }
  path += L"orvexportio-";
  for (const char* at = name; *at != '\0'; ++at) path += static_cast<wchar_t>(*at);
  return path + L".record";
}

enum Problem : int {
  NONE = 0,
  CANNOT_OPEN,
  OTHER_LAYOUT,
  CANNOT_LOCK,
  NO_NAME,
};

constexpr std::array<const char*, 5> PROBLEM_TEXTS = {
    nullptr,
    "its record (a file in the folder for temporary files, or ORVEXPORTIO_RECORD_DIR, and a "
    "mutex of this session) could not be made or opened",
    "its record was made by another version of the library",
    "its record's lock could not be taken",
    "no other process can reach this card",
};

std::atomic_ref<std::int32_t> HolderProcess(Record& record) {
  return std::atomic_ref(record.holder_process);
}

std::atomic_ref<std::int64_t> HeldSince(Record& record) {
  return std::atomic_ref(record.held_since_ms);
}

void WideName(const char* prefix, const char* name, const char* suffix,
              std::array<wchar_t, NAME_CAPACITY * 2>& wide) {
  std::array<char, NAME_CAPACITY * 2> narrow{};
  std::snprintf(narrow.data(), narrow.size(), "%s%s%s", prefix, name, suffix);
  for (std::size_t index = 0; index < narrow.size(); ++index) {
    wide[index] = static_cast<wchar_t>(narrow[index]);
  }
}

// This process's program name, without folder and extension.
void ProgramName(char (&program)[16]) {
  std::array<char, MAX_PATH> path{};
  const DWORD length = GetModuleFileNameA(nullptr, path.data(), MAX_PATH);
  const char* start = path.data();
  for (DWORD index = 0; index < length; ++index) {
    if (path[index] == '\\' || path[index] == '/') start = path.data() + index + 1;
  }
  std::size_t kept = 0;
  while (kept + 1 < sizeof(program) && start[kept] != '\0' && start[kept] != '.') {
    program[kept] = start[kept];
    ++kept;
  }
  program[kept] = '\0';
}

Record* RecordOf(const CardPorts& card) {
  CardSharing& sharing = card.Sharing();
  if (void* record = sharing.record.load(std::memory_order_acquire)) {
    return static_cast<Record*>(record);
  }
  if (sharing.problem.load(std::memory_order_acquire) != NONE) return nullptr;
  const char* name = sharing.name;
  if (name[0] == '\0') {
    sharing.problem.store(NO_NAME, std::memory_order_release);
    return nullptr;
  }
  std::array<wchar_t, NAME_CAPACITY * 2> mapping_name{};
  std::array<wchar_t, NAME_CAPACITY * 2> mutex_name{};
  WideName("Local\\orvexportio-", name, "", mapping_name);
  WideName("Local\\orvexportio-", name, "-lock", mutex_name);
  HANDLE mutex = CreateMutexW(nullptr, FALSE, mutex_name.data());
  const HANDLE file = CreateFileW(RecordPath(name).c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  HANDLE mapping = file != INVALID_HANDLE_VALUE
                       ? CreateFileMappingW(file, nullptr, PAGE_READWRITE, 0, sizeof(Record),
                                            mapping_name.data())
                       : nullptr;
  void* view = mapping != nullptr
                   ? MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(Record))
                   : nullptr;
  // The view keeps the mapping and the file; their handles are not needed.
  if (mapping != nullptr) CloseHandle(mapping);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  if (mutex == nullptr || view == nullptr) {
    if (mutex != nullptr) CloseHandle(mutex);
    if (view != nullptr) UnmapViewOfFile(view);
    sharing.problem.store(CANNOT_OPEN, std::memory_order_release);
    return nullptr;
  }
  void* expected = nullptr;
  if (!sharing.lock.compare_exchange_strong(expected, mutex, std::memory_order_acq_rel)) {
    CloseHandle(mutex);
  }
  expected = nullptr;
  if (!sharing.record.compare_exchange_strong(expected, view, std::memory_order_acq_rel)) {
    UnmapViewOfFile(view);
    return static_cast<Record*>(expected);
  }
  return static_cast<Record*>(view);
}

// With the lock held: a record of this layout, written so by the first holder.
bool HasThisLayout(Record& record) {
  if (record.magic == 0 || (record.magic == RECORD_MAGIC && !FromThisStart(record))) {
    // New, or from before the machine restarted: nothing is in flight.
    std::fill(std::begin(record.payload), std::end(record.payload), 0);
    record.boot_stamp = BootStamp();
    record.version = RECORD_VERSION;
    record.size = sizeof(Record);
    record.magic = RECORD_MAGIC;
  }
  return record.magic == RECORD_MAGIC && record.version == RECORD_VERSION &&
         record.size == sizeof(Record);
}

void NoteHolder(Record& record) {
  ProgramName(record.holder_program);
  HeldSince(record).store(static_cast<std::int64_t>(GetTickCount64()), std::memory_order_relaxed);
  HolderProcess(record).store(static_cast<std::int32_t>(GetCurrentProcessId()),
                              std::memory_order_release);
}

bool ProcessIsThere(std::int32_t process) {
  const HANDLE handle = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(process));
  if (handle == nullptr) return GetLastError() != ERROR_INVALID_PARAMETER;  // no such process
  const bool running = WaitForSingleObject(handle, 0) == WAIT_TIMEOUT;
  CloseHandle(handle);
  return running;
}

}  // namespace

MachineHold HoldCard(const CardPorts& card, double wait_seconds) {
  Record* record = RecordOf(card);
  if (record == nullptr) return MachineHold::NotShared;
  CardSharing& sharing = card.Sharing();
  HANDLE mutex = sharing.lock.load(std::memory_order_acquire);
  DWORD outcome = WaitForSingleObject(mutex, 0);
  if (outcome == WAIT_TIMEOUT) {
    if (sharing.GaveUpTo(HolderProcess(*record).load(std::memory_order_acquire),
                         HeldSince(*record).load(std::memory_order_relaxed))) {
      return MachineHold::HeldElsewhere;
    }
    outcome = WaitForSingleObject(mutex, static_cast<DWORD>(wait_seconds * 1000.0));
    if (outcome == WAIT_TIMEOUT) {
      sharing.NoteGaveUp(HolderProcess(*record).load(std::memory_order_acquire),
                         HeldSince(*record).load(std::memory_order_relaxed));
      return MachineHold::HeldElsewhere;
    }
  }
  if (outcome != WAIT_OBJECT_0 && outcome != WAIT_ABANDONED) {
    sharing.problem.store(CANNOT_LOCK, std::memory_order_release);
    return MachineHold::NotShared;
  }
  if (!HasThisLayout(*record)) {
    ReleaseMutex(mutex);
    sharing.problem.store(OTHER_LAYOUT, std::memory_order_release);
    return MachineHold::NotShared;
  }
  NoteHolder(*record);
  return outcome == WAIT_ABANDONED ? MachineHold::TakenFromTheDead : MachineHold::Taken;
}

void ReleaseCard(const CardPorts& card) {
  CardSharing& sharing = card.Sharing();
  auto* record = static_cast<Record*>(sharing.record.load(std::memory_order_acquire));
  if (record == nullptr) return;
  HolderProcess(*record).store(0, std::memory_order_release);
  ReleaseMutex(sharing.lock.load(std::memory_order_acquire));
}

// Windows has no fork, and its process id costs no system call.
void ForgetProcessAfterFork(const CardPorts&) {}

std::span<unsigned char> SharedPayload(const CardPorts& card) {
  auto* record = static_cast<Record*>(card.Sharing().record.load(std::memory_order_acquire));
  if (record == nullptr) return {};
  return record->payload;
}

CardHolder HolderOf(const CardPorts& card) {
  CardHolder holder;
  Record* record = RecordOf(card);
  if (record == nullptr) return holder;
  holder.process = HolderProcess(*record).load(std::memory_order_acquire);
  // A holder that ended is no longer there to hold anything: the next
  // exchange finishes its line.
  holder.held = holder.process != 0 && ProcessIsThere(holder.process);
  if (!holder.held) return holder;
  std::memcpy(holder.program, record->holder_program, sizeof(holder.program) - 1);
  const std::int64_t since = HeldSince(*record).load(std::memory_order_relaxed);
  holder.held_seconds =
      static_cast<double>(static_cast<std::int64_t>(GetTickCount64()) - since) / 1000.0;
  return holder;
}

const char* SharingProblem(const CardPorts& card) {
  return card.Sharing().ProblemText(PROBLEM_TEXTS);
}

}  // namespace orvex::port
