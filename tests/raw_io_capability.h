// Taking port access away from a test's child process before it touches a
// port, so that no test ever reaches a real one.
#pragma once

#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace orvex::testing {

// Drops CAP_SYS_RAWIO from this process for good: afterwards ioperm() and
// opening /dev/port are refused. Returns false when the drop failed.
inline bool DropRawIoCapability() {
  (void)prctl(PR_CAPBSET_DROP, CAP_SYS_RAWIO, 0, 0, 0);  // refused without CAP_SETPCAP: fine
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
  if (syscall(SYS_capget, &header, data) != 0) return false;
  const unsigned index = CAP_TO_INDEX(CAP_SYS_RAWIO);
  const unsigned mask = CAP_TO_MASK(CAP_SYS_RAWIO);
  data[index].effective &= ~mask;
  data[index].permitted &= ~mask;
  data[index].inheritable &= ~mask;
  return syscall(SYS_capset, &header, data) == 0;
}

}  // namespace orvex::testing
