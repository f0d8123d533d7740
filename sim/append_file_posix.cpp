#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>

#include "append_file.h"

namespace orvex::sim {

bool AppendFile::Open(const char* path, bool empty_first) {
  Close();
  const int flags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | (empty_first ? O_TRUNC : 0);
  const int descriptor = ::open(path, flags, 0666);
  if (descriptor < 0) return false;
  handle_ = descriptor;
  return true;
}

bool AppendFile::Append(const char* bytes, std::size_t length) {
  if (!IsOpen()) return false;
  while (length > 0) {
    const ssize_t written = ::write(static_cast<int>(handle_), bytes, length);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes += written;
    length -= static_cast<std::size_t>(written);
  }
  return true;
}

void AppendFile::Close() {
  if (!IsOpen()) return;
  ::close(static_cast<int>(handle_));
  handle_ = kClosed;
}

}  // namespace orvex::sim
