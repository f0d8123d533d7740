// The kernel driver's device node for a card. The driver lists each card it
// offers under /sys/class/orvex/<name>/, its base in the file "base"
// ("0x340"), and its node is /dev/<name>. The library and the diagnosis both
// find the node this way.
#pragma once

#include <span>

namespace orvex::port {

inline constexpr const char* DRIVER_CLASS_FOLDER = "/sys/class/orvex";

// Writes the path of the driver's node for the card at `base` into `path`,
// NUL-terminated; false when the driver is not loaded or offers no card at
// that base, or the path does not fit. Allocates nothing.
bool FindDriverNode(unsigned base, std::span<char> path);

}  // namespace orvex::port
