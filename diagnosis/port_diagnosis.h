// Why no controller answered at the card's ports: found out on this machine,
// the way the library for the card reaches the ports, without asking that
// library. orvexctl links this; liborvexportio-diagnosis offers it to other
// hosts through orvexportio_diagnosis.h.
#pragma once

#include <cstdint>
#include <filesystem>
#include <istream>
#include <optional>
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

// A file named like a driver library that did not load because it is built
// for another processor: a 64-bit DLL where a 32-bit program looks, or the
// other way round.
struct DriverOfOtherBitness {
  std::string name;       // as tried: "DlPortIO.dll"
  std::string path;       // where the loader found it
  std::uint16_t machine;  // its PE header's Machine field
};

struct DriverLibraries {
  std::vector<std::string> tried;     // the driver libraries of this bitness, in the order tried
  std::vector<std::string> loadable;  // those of them that loaded
  std::vector<DriverOfOtherBitness> other_bitness;  // of those that did not
  std::uint16_t own_machine = 0;                    // this program's Machine field
};

// The Machine field of a PE image's file header (0x14C x86, 0x8664 x64), read
// through the DOS header's pointer to it; nothing when `image` is not a PE image.
std::optional<std::uint16_t> PeMachine(std::istream& image);

// "32-bit (x86)", "64-bit (x64)", ...; "machine 0x1C4" for others.
std::string MachineName(std::uint16_t machine);

DriverLibraries ProbeDriverLibraries();

std::string ExplainDriverLibraries(const DriverLibraries& drivers);

}  // namespace orvex::diagnosis
