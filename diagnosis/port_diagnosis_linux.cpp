// What this Linux machine allows a program that wants the card's ports.
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/io.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>

#include "card/pc_devices.h"
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
  return access;
}

std::string ExplainSilentCard(unsigned base) {
  return WithSharing(ProbeCardSharing(base), base,
                     ExplainLinuxPortAccess(ProbeLinuxPortAccess(base)));
}

}  // namespace orvex::diagnosis
