// The card's record is named by its base: every process of the machine that
// reaches the card's registers, through whatever route, shares it.
#include <cstddef>
#include <cstdio>
#include <span>

#include "port/machine_wide.h"

namespace orvex::port {

bool CardRecordName(unsigned base, std::span<char> name) {
  const int written = std::snprintf(name.data(), name.size(), "card-0x%x", base);
  return written > 0 && static_cast<std::size_t>(written) < name.size();
}

}  // namespace orvex::port
