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

#include "card/pc_devices.h"

namespace orvex::diagnosis {

// One line naming the likely cause and what to do about it, for the
// platform this is built for, for the card the eleven functions drive: at
// 0x340, or where ORVEXPORTIO_BASE puts it, or, when that setting is refused,
// why.
std::string ExplainSilentController();

// The same for the card at `base`.
std::string ExplainSilentCard(unsigned base);

// A base written as in the controller's documents ("0x340").
std::string AddressText(unsigned base);

// The base of the eleven functions' card, written so; the factory base when
// ORVEXPORTIO_BASE is refused.
std::string ControllerAddressText();

// Why ORVEXPORTIO_BASE, as this process has it, keeps the eleven functions
// from every port; empty when it does not.
std::string BaseSettingRefusal();

// Whether the processes that drive the card at `base` are kept apart, and
// who holds it now.
struct CardSharing {
  const char* problem = nullptr;  // why they are not kept apart; nullptr when they are
  bool held = false;
  int process = 0;
  std::string program;
  double held_seconds = 0.0;
};

CardSharing ProbeCardSharing(unsigned base);

// What a holder that keeps the card for this long says about a time-out:
// it held up every other program's call, which gives up after a second.
inline constexpr double HOLD_THAT_STALLS_OTHERS = 1.0;

// The cause a holder or the missing record adds to `cause`, the line of the
// platform's own explanation.
std::string WithSharing(const CardSharing& sharing, unsigned base, const std::string& cause);

// Which way the library for the card reaches the card at `base` on this
// machine, and why the better ways are closed, in one line: "driver
// /dev/orvex0", "ioperm (the driver is not loaded)", "none: ...". Sends
// nothing to the card.
std::string ExplainRoute(unsigned base);

// The same for the card the eleven functions drive (as ExplainSilentController).
std::string ExplainControllerRoute();

// Linux: the kernel driver's offer of the card at a base.
struct DriverOffer {
  bool loaded = false;          // the driver is loaded (/sys/class/orvex is there)
  std::string node;             // its node for the card, "/dev/orvex0"; empty when it offers none
  int open_error = 0;           // 0 when the node opened for reading and writing, else its errno
  std::string group;            // the node's group, by name
  bool group_may_open = false;  // the node's mode lets that group read and write it
  bool in_group = false;        // this process is in that group
};

// Linux: the driver's node for the card, else ioperm() for the two
// registers, else /dev/port, else nothing (the bus reads as empty).
struct LinuxPortAccess {
  int ioperm_error = 0;           // 0 when ioperm() granted the registers, else its errno
  int dev_port_error = 0;         // 0 when /dev/port opened for reading and writing, else its errno
  bool holds_raw_io = false;      // CAP_SYS_RAWIO in the effective set
  std::string lockdown;           // "none", "integrity", "confidentiality"; empty when not known
  std::filesystem::path program;  // for the setcap advice
  unsigned base = ORVEX_FACTORY_BASE;  // the card asked for
  DriverOffer driver;
};

// Asks for access to the card at `base` on the calling thread. A grant is
// kept, as the library keeps it.
LinuxPortAccess ProbeLinuxPortAccess(unsigned base = ORVEX_FACTORY_BASE);

std::string ExplainLinuxPortAccess(const LinuxPortAccess& access);

enum class LinuxRoute { Driver, Ioperm, DevPort, None };

// The first way open, in the library's order.
LinuxRoute RouteOf(const LinuxPortAccess& access);

std::string ExplainLinuxRoute(const LinuxPortAccess& access);

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
  unsigned base = ORVEX_FACTORY_BASE;               // the card asked for
};

// The Machine field of a PE image's file header (0x14C x86, 0x8664 x64), read
// through the DOS header's pointer to it; nothing when `image` is not a PE image.
std::optional<std::uint16_t> PeMachine(std::istream& image);

// "32-bit (x86)", "64-bit (x64)", ...; "machine 0x1C4" for others.
std::string MachineName(std::uint16_t machine);

DriverLibraries ProbeDriverLibraries();

std::string ExplainDriverLibraries(const DriverLibraries& drivers);

std::string ExplainDriverLibraryRoute(const DriverLibraries& drivers);

}  // namespace orvex::diagnosis
