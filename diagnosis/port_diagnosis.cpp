// The causes, told from what the probes found. They depend on nothing but
// the findings, so every platform's tests can check every cause.
#include "port_diagnosis.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <istream>
#include <optional>
#include <string>

#include "card/bases.h"

namespace orvex::diagnosis {
namespace {

std::string Reason(int error) {
  return std::strerror(error);
}

std::string NoControllerAnswered(unsigned base) {
  return "no controller answered at " + AddressText(base) +
         ": check that the card is in, powered and set to address " + AddressText(base) +
         ", and that its cable is connected";
}

std::string ReachableButSilent(const std::string& path, unsigned base) {
  return "the ports are reachable (" + path + "), but " + NoControllerAnswered(base);
}

const char* BaseVariableText() {
  const char* text = std::getenv(card::BASE_VARIABLE);
  return text == nullptr ? "" : text;
}

std::string DevPortState(int error) {
  return error == ENOENT ? "there is no /dev/port" : "/dev/port: " + Reason(error);
}

}  // namespace

std::string AddressText(unsigned base) {
  std::array<char, 16> digits{};
  const auto end = std::to_chars(digits.data(), digits.data() + digits.size(), base, 16).ptr;
  return "0x" + std::string(digits.data(), end);
}

std::string BaseSettingRefusal() {
  const char* text = BaseVariableText();
  const card::BaseSetting setting = card::ReadBaseSetting(std::getenv(card::BASE_VARIABLE));
  const std::string named = std::string(card::BASE_VARIABLE) + "=" + text;
  const std::string outcome =
      ": the library's eleven functions touch no port and report time-outs; set it to the base "
      "the card's switches select, such as 0x300, or unset it for 0x340";
  if (setting.reading == card::BaseSetting::Reading::NotABase) {
    return named + " is not a base written in hexadecimal with 0x" + outcome;
  }
  if (const char* conflict = card::BaseConflict(setting.base)) {
    return named + " puts the card's registers on " + conflict + outcome;
  }
  return {};
}

std::string ControllerAddressText() {
  const card::BaseSetting setting = card::ReadBaseSetting(std::getenv(card::BASE_VARIABLE));
  if (!BaseSettingRefusal().empty()) return AddressText(ORVEX_FACTORY_BASE);
  return AddressText(setting.base);
}

std::string ExplainSilentController() {
  const std::string refusal = BaseSettingRefusal();
  if (!refusal.empty()) return refusal;
  return ExplainSilentCard(card::ReadBaseSetting(std::getenv(card::BASE_VARIABLE)).base);
}

std::string WithSharing(const CardSharing& sharing, unsigned base, const std::string& cause) {
  if (sharing.held && sharing.held_seconds >= HOLD_THAT_STALLS_OTHERS) {
    std::array<char, 32> seconds{};
    std::snprintf(seconds.data(), seconds.size(), "%.1f", sharing.held_seconds);
    return "the card at " + AddressText(base) + " is held by process " +
           std::to_string(sharing.process) + " (" + sharing.program + ") for " + seconds.data() +
           " s: every other program's call gives up after a second while a program stopped in "
           "the middle of an exchange (a debugger, Ctrl-Z) keeps it; let that program run on, "
           "or end it";
  }
  if (sharing.problem == nullptr) return cause;
  return cause +
         "; other programs on this card are not kept apart from this one: " + sharing.problem;
}

namespace {

bool IsRefusal(int error) {
  return error == EACCES || error == EPERM;
}

bool OffersTheCard(const DriverOffer& driver) {
  return driver.loaded && !driver.node.empty();
}

bool LockedDown(const LinuxPortAccess& access) {
  return !access.lockdown.empty() && access.lockdown != "none";
}

// Why the driver does not carry the card's exchanges.
std::string DriverClosed(const DriverOffer& driver, unsigned base) {
  if (!driver.loaded) return "the driver is not loaded";
  if (driver.node.empty()) return "the driver offers no card at " + AddressText(base);
  if (IsRefusal(driver.open_error) && driver.group_may_open && !driver.in_group) {
    return "the driver is loaded but you are not in the group that may open " + driver.node + " (" +
           driver.group + ")";
  }
  if (IsRefusal(driver.open_error)) {
    return "the driver is loaded but " + driver.node +
           " is open to no group of yours (no udev rule gives group orvex access)";
  }
  return driver.node + ": " + Reason(driver.open_error);
}

std::string PortRefusals(const LinuxPortAccess& access) {
  return "ioperm: " + Reason(access.ioperm_error) + "; " + DevPortState(access.dev_port_error);
}

std::string LockdownText(const LinuxPortAccess& access) {
  return "kernel lockdown is on (`/sys/kernel/security/lockdown` says " + access.lockdown +
         "): port instructions and /dev/port are refused even for root";
}

// What to do when the driver cannot be opened although it offers the card.
std::string DriverAdvice(const DriverOffer& driver) {
  if (driver.group_may_open && !driver.in_group) {
    return "join it with `sudo usermod -aG " + driver.group +
           " \"$USER\"` and log in again, as every user of the card must";
  }
  return "install the driver's udev rule (60-orvex.rules) and join group orvex";
}

}  // namespace

LinuxRoute RouteOf(const LinuxPortAccess& access) {
  if (OffersTheCard(access.driver) && access.driver.open_error == 0) return LinuxRoute::Driver;
  if (access.ioperm_error == 0) return LinuxRoute::Ioperm;
  if (access.dev_port_error == 0) return LinuxRoute::DevPort;
  return LinuxRoute::None;
}

std::string ExplainLinuxRoute(const LinuxPortAccess& access) {
  const std::string driver_closed = DriverClosed(access.driver, access.base);
  switch (RouteOf(access)) {
    case LinuxRoute::Driver:
      return "driver " + access.driver.node;
    case LinuxRoute::Ioperm:
      return "ioperm (" + driver_closed + ")";
    case LinuxRoute::DevPort:
      return "/dev/port (" + driver_closed + "; ioperm: " + Reason(access.ioperm_error) + ")";
    case LinuxRoute::None:
      break;
  }
  const std::string ports_closed = LockedDown(access) ? LockdownText(access) : PortRefusals(access);
  return "none, the bus reads as empty (" + driver_closed + "; " + ports_closed + ")";
}

std::string ExplainLinuxPortAccess(const LinuxPortAccess& access) {
  switch (RouteOf(access)) {
    case LinuxRoute::Driver:
      return ReachableButSilent("the driver carries the exchanges, " + access.driver.node,
                                access.base);
    case LinuxRoute::Ioperm:
      return ReachableButSilent("ioperm granted them", access.base);
    case LinuxRoute::DevPort:
      return ReachableButSilent("through /dev/port", access.base);
    case LinuxRoute::None:
      break;
  }
  const std::string refusals = PortRefusals(access);
  if (OffersTheCard(access.driver)) {
    return DriverClosed(access.driver, access.base) + " (" + refusals +
           "): " + DriverAdvice(access.driver);
  }
  const std::string install_driver =
      access.driver.loaded
          ? "give the driver this card's base too (options orvex bases=" +
                AddressText(access.base) + " in /etc/modprobe.d/orvex.conf) and load it again"
          : "install the driver (driver/README.md), which reaches the card for the members of "
            "its group";
  if (access.ioperm_error == ENOSYS && access.dev_port_error == ENOENT) {
    return "this kernel offers no port I/O: ioperm() is not implemented (a kernel without "
           "CONFIG_X86_IOPL_IOPERM, or not an x86 machine) and there is no /dev/port; " +
           install_driver + ", or run on an x86 kernel with port I/O";
  }
  if (LockedDown(access)) {
    return LockdownText(access) + "; " + install_driver + " (" + refusals +
           "; lockdown usually comes with Secure Boot, under which the driver must be signed)";
  }
  if (!access.holds_raw_io) {
    return "this program may not reach the ports (" + refusals + "): " + install_driver +
           "; or run it as root, or grant it CAP_SYS_RAWIO with `sudo setcap cap_sys_rawio+ep " +
           access.program.string() + "`; a host program needs the same";
  }
  return "port access was refused although this program holds CAP_SYS_RAWIO (" + refusals +
         "): a security module or kernel lockdown may forbid it; " + install_driver;
}

std::string ExplainControllerRoute() {
  const std::string refusal = BaseSettingRefusal();
  if (!refusal.empty()) return "none (" + refusal + ")";
  return ExplainRoute(card::ReadBaseSetting(std::getenv(card::BASE_VARIABLE)).base);
}

namespace {

// "neither A nor B", from the names tried.
std::string ListedAsAlternatives(const std::vector<std::string>& names) {
  std::string listed;
  for (const std::string& name : names) {
    listed += listed.empty() ? "neither " : " nor ";
    listed += name;
  }
  return listed;
}

// "A or B", from the names tried.
std::string ListedAsChoices(const std::vector<std::string>& names) {
  std::string listed;
  for (std::size_t index = 0; index < names.size(); ++index) {
    if (index > 0) listed += index + 1 == names.size() ? " or " : ", ";
    listed += names[index];
  }
  return listed;
}

std::string OfOtherBitness(const DriverOfOtherBitness& found, const DriverLibraries& drivers) {
  const std::string own = MachineName(drivers.own_machine);
  return found.path + " is built for " + MachineName(found.machine) + " programs, and this is a " +
         own + " program, which cannot load it: install the port I/O driver's " + own +
         " library (" + ListedAsChoices(drivers.tried) + ") instead";
}

// A little-endian field of `width` bytes at `offset`, or nothing past the end.
std::optional<std::uint32_t> LittleEndianField(std::istream& image, std::streamoff offset,
                                               int width) {
  image.clear();
  if (!image.seekg(offset)) return std::nullopt;
  std::uint32_t value = 0;
  for (int index = 0; index < width; ++index) {
    const int byte = image.get();
    if (byte == std::istream::traits_type::eof()) return std::nullopt;
    value |= static_cast<std::uint32_t>(byte) << (8 * index);
  }
  return value;
}

}  // namespace

std::optional<std::uint16_t> PeMachine(std::istream& image) {
  constexpr std::uint32_t DOS_SIGNATURE = 0x5A4D;  // "MZ"
  constexpr std::uint32_t PE_SIGNATURE = 0x4550;   // "PE\0\0"
  constexpr std::streamoff PE_HEADER_POINTER = 0x3C;
  if (LittleEndianField(image, 0, 2) != DOS_SIGNATURE) return std::nullopt;
  const std::optional<std::uint32_t> pe_header = LittleEndianField(image, PE_HEADER_POINTER, 4);
  if (!pe_header) return std::nullopt;
  const auto signature_at = static_cast<std::streamoff>(*pe_header);
  if (LittleEndianField(image, signature_at, 4) != PE_SIGNATURE) return std::nullopt;
  const std::optional<std::uint32_t> machine = LittleEndianField(image, signature_at + 4, 2);
  if (!machine) return std::nullopt;
  return static_cast<std::uint16_t>(*machine);
}

std::string MachineName(std::uint16_t machine) {
  switch (machine) {
    case 0x14C:
      return "32-bit (x86)";
    case 0x8664:
      return "64-bit (x64)";
    case 0xAA64:
      return "ARM64";
    default:
      break;
  }
  std::array<char, 8> digits{};
  const auto end = std::to_chars(digits.data(), digits.data() + digits.size(), machine, 16).ptr;
  return "machine 0x" + std::string(digits.data(), end);
}

std::string ExplainDriverLibraries(const DriverLibraries& drivers) {
  if (drivers.loadable.empty()) {
    if (!drivers.other_bitness.empty())
      return OfOtherBitness(drivers.other_bitness.front(), drivers);
    return "no port driver library could be loaded (" + ListedAsAlternatives(drivers.tried) +
           "): install the port I/O driver, or put its DLL beside the program";
  }
  return "the port driver library " + drivers.loadable.front() + " loads, but " +
         NoControllerAnswered(drivers.base);
}

std::string ExplainDriverLibraryRoute(const DriverLibraries& drivers) {
  if (drivers.loadable.empty()) {
    return "none, the bus reads as empty (no port driver library loads: " +
           ListedAsAlternatives(drivers.tried) + ")";
  }
  return "port driver library " + drivers.loadable.front();
}

}  // namespace orvex::diagnosis
