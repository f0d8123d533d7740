// Port access on Linux as the library for the card asks for it: ioperm() for
// the two registers, else /dev/port.
#pragma once

#include <filesystem>
#include <string>

namespace orvexctl {

struct LinuxPortAccess {
  int ioperm_error = 0;           // 0 when ioperm() granted 0x340..0x341, else its errno
  int dev_port_error = 0;         // 0 when /dev/port opened for reading and writing, else its errno
  bool holds_raw_io = false;      // CAP_SYS_RAWIO in the effective set
  std::string lockdown;           // "none", "integrity", "confidentiality"; empty when not known
  std::filesystem::path program;  // for the setcap advice
};

// Asks for access on the calling thread. A grant is kept, as the library keeps it.
LinuxPortAccess ProbeLinuxPortAccess();

std::string ExplainLinuxPortAccess(const LinuxPortAccess& access);

}  // namespace orvexctl
