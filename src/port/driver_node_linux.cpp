// Finding the driver's node with nothing but system calls and the stack: it
// runs on a card's first exchange, where the library allocates nothing.
#include "port/driver_node_linux.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <charconv>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <span>
#include <string_view>
#include <system_error>

namespace orvex::port {
namespace {

// The base a card's "base" file gives ("0x340\n"), or nothing.
bool ReadBase(const char* card_name, unsigned& base) {
  std::array<char, 320> path{};
  const int written =
      std::snprintf(path.data(), path.size(), "%s/%s/base", DRIVER_CLASS_FOLDER, card_name);
  if (written <= 0 || static_cast<std::size_t>(written) >= path.size()) return false;
  const int descriptor = open(path.data(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) return false;
  std::array<char, 32> text{};
  const ssize_t length = read(descriptor, text.data(), text.size() - 1);
  close(descriptor);
  if (length < 3) return false;
  const std::string_view shown(text.data(), static_cast<std::size_t>(length));
  if (!shown.starts_with("0x")) return false;
  const char* end = shown.data() + shown.size();
  const auto [stop, error] = std::from_chars(shown.data() + 2, end, base, 16);
  return error == std::errc{} && (stop == end || *stop == '\n');
}

bool IsCardName(const char* name) {
  return name[0] != '\0' && name[0] != '.';
}

}  // namespace

bool FindDriverNode(unsigned base, std::span<char> path) {
  const int folder = open(DRIVER_CLASS_FOLDER, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) return false;
  alignas(dirent64) std::array<char, 2048> entries{};
  bool found = false;
  ssize_t length = 0;
  while (!found && (length = getdents64(folder, entries.data(), entries.size())) > 0) {
    for (ssize_t offset = 0; !found && offset < length;) {
      const auto* entry = reinterpret_cast<const dirent64*>(entries.data() + offset);
      offset += entry->d_reclen;
      unsigned shown = 0;
      if (!IsCardName(entry->d_name) || !ReadBase(entry->d_name, shown) || shown != base) continue;
      const int written = std::snprintf(path.data(), path.size(), "/dev/%s", entry->d_name);
      found = written > 0 && static_cast<std::size_t>(written) < path.size();
    }
  }
  close(folder);
  return found;
}

}  // namespace orvex::port
