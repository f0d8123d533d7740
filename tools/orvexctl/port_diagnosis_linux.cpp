// Why the card's ports are out of reach on Linux, or else that they are
// reachable and nothing answers there.
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/io.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>

#include "library_loader.h"
#include "port_diagnosis.h"
#include "port_diagnosis_linux.h"

namespace orvexctl {
namespace {

constexpr unsigned long kFirstPort = 0x340;
constexpr unsigned long kPortCount = 2;

int IopermError() {
  return ioperm(kFirstPort, kPortCount, 1) == 0 ? 0 : errno;
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

std::string Reason(int error) {
  return std::strerror(error);
}

std::string NoControllerAt(const std::string& path) {
  return "the ports are reachable (" + path +
         "), but no controller answered at 0x340: check that the card is in, powered and set "
         "to address 0x340, and that its cable is connected";
}

std::string DevPortState(int error) {
  return error == ENOENT ? "there is no /dev/port" : "/dev/port: " + Reason(error);
}

}  // namespace

LinuxPortAccess ProbeLinuxPortAccess() {
  LinuxPortAccess access;
  access.ioperm_error = IopermError();
  access.dev_port_error = DevPortError();
  access.holds_raw_io = HoldsRawIo();
  access.lockdown = LockdownMode();
  access.program = ExecutablePath();
  return access;
}

std::string ExplainLinuxPortAccess(const LinuxPortAccess& access) {
  if (access.ioperm_error == 0) return NoControllerAt("ioperm granted them");
  if (access.dev_port_error == 0) return NoControllerAt("through /dev/port");
  if (access.ioperm_error == ENOSYS && access.dev_port_error == ENOENT) {
    return "this kernel offers no port I/O: ioperm() is not implemented (a kernel without "
           "CONFIG_X86_IOPL_IOPERM, or not an x86 machine) and there is no /dev/port; run on "
           "an x86 kernel with port I/O";
  }
  const std::string refusals =
      "ioperm: " + Reason(access.ioperm_error) + "; " + DevPortState(access.dev_port_error);
  if (!access.lockdown.empty() && access.lockdown != "none") {
    return "kernel lockdown (" + access.lockdown + ") forbids port access, even to root (" +
           refusals +
           "); it usually comes with Secure Boot: boot without lockdown to reach "
           "the card";
  }
  if (!access.holds_raw_io) {
    return "this program may not reach the ports (" + refusals +
           "): run it as root, or grant it CAP_SYS_RAWIO with `sudo setcap cap_sys_rawio+ep " +
           access.program.string() + "`; a host program needs the same";
  }
  return "port access was refused although this program holds CAP_SYS_RAWIO (" + refusals +
         "): a security module or kernel lockdown may forbid it";
}

std::string ExplainSilentController() {
  return ExplainLinuxPortAccess(ProbeLinuxPortAccess());
}

}  // namespace orvexctl
