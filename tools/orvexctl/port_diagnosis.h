// Why no controller answered at 0x340: found out on this machine, the way the
// library for the card reaches the ports, without asking the library.
#pragma once

#include <string>

namespace orvexctl {

// One line naming the likely cause and what to do about it.
std::string ExplainSilentController();

}  // namespace orvexctl
