// What this Linux machine allows a program that wants the card's ports.
#include <fcntl.h>
#include <grp.h>
#include <linux/capability.h>
#include <sys/io.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "card/pc_devices.h"
#include "port/driver_node_linux.h"
#include "port_diagnosis.h"

namespace orvex::diagnosis {
namespace {

int IopermError(unsigned base) {
  return ioperm(base, ORVEX_REGISTER_COUNT, 1) == 0 ? 0 : errno;
}

int DevPortError() {
  const int descriptor = open("/dev/port", O_RDWR | O_CLOEXEC);
  if (descriptor < 0) return errno;
  close(descriptor);
  return 0;
}

bool HoldsRawIo() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
  if (syscall(SYS_capget, &header, data) != 0) return false;
  return (data[CAP_TO_INDEX(CAP_SYS_RAWIO)].effective & CAP_TO_MASK(CAP_SYS_RAWIO)) != 0;
}

// The bracketed word of /sys/kernel/security/lockdown ("none [integrity] confidentiality").
std::string LockdownMode() {
  std::ifstream file("/sys/kernel/security/lockdown");
  std::string modes;
  std::getline(file, modes);
  const auto open = modes.find('[');
  const auto close = modes.find(']', open);
  if (open == std::string::npos || close == std::string::npos) return {};
  return modes.substr(open + 1, close - open - 1);
}

std::string GroupName(gid_t group) {
  std::array<char, 1024> buffer{};
  struct group entry {};
  struct group* found = nullptr;
  if (getgrgid_r(group, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
    return "group " + std::to_string(group);
  }
  return entry.gr_name;
}

bool InGroup(gid_t group) {
  if (getegid() == group) return true;
  const int count = getgroups(0, nullptr);
  if (count <= 0) return false;
  std::vector<gid_t> groups(static_cast<std::size_t>(count));
  const int listed = getgroups(count, groups.data());
  return listed > 0 &&
         std::find(groups.begin(), groups.begin() + listed, group) != groups.begin() + listed;
}

// The driver's node for the card, found and opened as the library does, and
// whose group may open it.
DriverOffer ProbeDriver(unsigned base) {
  DriverOffer driver;
  struct stat status {};
  driver.loaded = stat(port::DRIVER_CLASS_FOLDER, &status) == 0;
  std::array<char, 300> path{};
  if (!driver.loaded || !port::FindDriverNode(base, path)) return driver;
  driver.node = path.data();
  const int node = open(path.data(), O_RDWR | O_CLOEXEC);
  driver.open_error = node < 0 ? errno : 0;
  if (node >= 0) close(node);
  if (stat(path.data(), &status) == 0) {
    driver.group = GroupName(status.st_gid);
    driver.group_may_open = (status.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    driver.in_group = InGroup(status.st_gid);
  }
  return driver;
}

// The program that would need the capability: the host process itself.
std::filesystem::path RunningProgram() {
  std::error_code error;
  return std::filesystem::read_symlink("/proc/self/exe", error);
}

}  // namespace

LinuxPortAccess ProbeLinuxPortAccess(unsigned base) {
  LinuxPortAccess access;
  access.base = base;
  access.ioperm_error = IopermError(base);
  access.dev_port_error = DevPortError();
  access.holds_raw_io = HoldsRawIo();
  access.lockdown = LockdownMode();
  access.program = RunningProgram();
  access.driver = ProbeDriver(base);
  return access;
}

std::string ExplainSilentCard(unsigned base) {
  const LinuxPortAccess access = ProbeLinuxPortAccess(base);
  // The kernel keeps apart the processes on a card the driver carries.
  if (RouteOf(access) == LinuxRoute::Driver) return ExplainLinuxPortAccess(access);
  return WithSharing(ProbeCardSharing(base), base, ExplainLinuxPortAccess(access));
}

std::string ExplainRoute(unsigned base) {
  return ExplainLinuxRoute(ProbeLinuxPortAccess(base));
}

}  // namespace orvex::diagnosis
