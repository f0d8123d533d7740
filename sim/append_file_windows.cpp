#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "append_file.h"

namespace orvex::sim {
namespace {

HANDLE AsHandle(std::intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

constexpr DWORD kShareWithEveryone = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Empties the file, creating it: CREATE_ALWAYS needs write access, which an
// appending handle lacks.
bool Empty(const char* path) {
  const HANDLE file = CreateFileA(path, GENERIC_WRITE, kShareWithEveryone, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

}  // namespace

bool AppendFile::Open(const char* path, bool empty_first) {
  Close();
  if (empty_first && !Empty(path)) return false;
  // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end.
  const HANDLE file = CreateFileA(path, FILE_APPEND_DATA, kShareWithEveryone, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  handle_ = reinterpret_cast<std::intptr_t>(file);
  return true;
}

bool AppendFile::Append(const char* bytes, std::size_t length) {
  if (!IsOpen()) return false;
  while (length > 0) {
    const DWORD chunk = length > 0x40000000 ? 0x40000000 : static_cast<DWORD>(length);
    DWORD written = 0;
    if (!WriteFile(AsHandle(handle_), bytes, chunk, &written, nullptr) || written == 0)
      return false;
    bytes += written;
    length -= written;
  }
  return true;
}

void AppendFile::Close() {
  if (!IsOpen()) return;
  CloseHandle(AsHandle(handle_));
  handle_ = kClosed;
}

}  // namespace orvex::sim
