// The card column of the hostile-host cells: liborvexportio as shipped, with
// port access taken away (no ioperm), and /dev/port, which this machine does
// not have, answered by the read end of a pipe. Every port access of the
// library then is a pread or pwrite, cancellation points both, that fails:
// the bus reads as empty, and every line times out after its window.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>

#include "hazard_bus.h"
#include "raw_io_capability.h"

namespace orvex::hazards {
namespace {

int dev_port_stand_in = -1;

}  // namespace

// The cell's own folder of records, in the one the test is given: cells run
// side by side, and a cell that ends a process in the middle of a line leaves
// that line to the card's next holder, which must be of the same cell.
void KeepRecordsOfTheCellApart() {
  const char* given = std::getenv("ORVEXPORTIO_RECORD_DIR");
  std::string folder = std::string(given != nullptr ? given : "/tmp") + "/cell-XXXXXX";
  if (mkdtemp(folder.data()) != nullptr) setenv("ORVEXPORTIO_RECORD_DIR", folder.c_str(), 1);
}

void StartCell() {
  KeepRecordsOfTheCellApart();
  (void)testing::DropRawIoCapability();
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) == 0) dev_port_stand_in = ends[0];
}

int DeliveredResult() {
  return 0;
}

bool PositionsAnswered() {
  return false;
}

void StartLongMove() {}

bool CancelSenderOf(const char* /*line*/) {
  return false;
}

bool CancelAskerWhenCarried(pthread_t /*asker*/, const std::atomic<bool>& /*asker_left*/,
                            const char* /*line*/) {
  return false;
}

CarriedCancellation StopCancellingAskers() {
  return {};
}

int TimesReceived(const char* /*line*/) {
  return -1;
}

std::string WireProblems() {
  return {};
}

}  // namespace orvex::hazards

// The library's open("/dev/port") lands here, before the C library's.
extern "C" __attribute__((visibility("default"))) int open(const char* path, int flags, ...) {
  if (std::strcmp(path, "/dev/port") == 0 && orvex::hazards::dev_port_stand_in >= 0) {
    return dup(orvex::hazards::dev_port_stand_in);
  }
  mode_t mode = 0;
  if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {
    va_list arguments;
    va_start(arguments, flags);
    mode = static_cast<mode_t>(va_arg(arguments, int));
    va_end(arguments);
  }
  using Open = int (*)(const char*, int, ...);
  static const auto next_open = reinterpret_cast<Open>(dlsym(RTLD_NEXT, "open"));
  return next_open(path, flags, mode);
}
