// Why no controller answered at the card's ports: found out on this machine,
// the way the library for the card reaches the ports, without asking that
// library. orvexctl links this; liborvexportio-diagnosis offers it to other
// hosts through orvexportio_diagnosis.h.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace orvex::diagnosis {

// One line naming the likely cause and what to do about it, for the
// platform this is built for.
std::string ExplainSilentController();

// The card's registers as the port layer knows them, written as in the
// controller's documents ("0x340").
std::string ControllerAddressText();

// Linux: ioperm() for the two registers, else /dev/port.
struct LinuxPortAccess {
  int ioperm_error = 0;           // 0 when ioperm() granted the registers, else its errno
  int dev_port_error = 0;         // 0 when /dev/port opened for reading and writing, else its errno
  bool holds_raw_io = false;      // CAP_SYS_RAWIO in the effective set
  std::string lockdown;           // "none", "integrity", "confidentiality"; empty when not known
  std::filesystem::path program;  // for the setcap advice
};

// Asks for access on the calling thread. A grant is kept, as the library keeps it.
LinuxPortAccess ProbeLinuxPortAccess();

std::string ExplainLinuxPortAccess(const LinuxPortAccess& access);

// Windows: the ports are reached through a port driver library.
struct DriverLibraries {
  std::vector<std::string> tried;     // the driver libraries of this bitness, in the order tried
  std::vector<std::string> loadable;  // those of them that loaded
};

DriverLibraries ProbeDriverLibraries();

std::string ExplainDriverLibraries(const DriverLibraries& drivers);

}  // namespace orvex::diagnosis
