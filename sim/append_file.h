// A file that this process appends to, for recordings of the bus: each write
// lands at the file's end, whatever other processes wrote to it meanwhile
// (O_APPEND; FILE_APPEND_DATA on Windows). Opening and writing take nothing
// from the heap, so a process may open one in the middle of a port access.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orvex::sim {

class AppendFile {
 public:
  AppendFile() = default;
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;
  ~AppendFile() { Close(); }

  // Opens `path` for appending, creating it, or emptying it first when
  // `empty_first`; closes any file open before. False when it cannot.
  bool Open(const char* path, bool empty_first);
  // All of it, or false.
  bool Append(const char* bytes, std::size_t length);
  void Close();
  bool IsOpen() const { return handle_ != kClosed; }

 private:
  static constexpr std::intptr_t kClosed = -1;
  std::intptr_t handle_ = kClosed;  // a descriptor, or a HANDLE on Windows
};

}  // namespace orvex::sim
