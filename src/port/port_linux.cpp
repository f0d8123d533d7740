// Port access on x86 Linux.
//
// The processor's port instructions are used on a thread that ioperm() has
// granted the controller's registers; the grant belongs to the calling thread
// only, so each thread asks once, on its first access. Where ioperm() is
// refused (no CAP_SYS_RAWIO, kernel lockdown, no port I/O in the kernel) the
// byte goes through /dev/port instead; where that cannot be opened either, the
// bus behaves as if empty: reads give 0xFF and writes go nowhere. A port
// instruction never runs on a thread without the grant, since that would kill
// the host with SIGSEGV.
#include <fcntl.h>
#include <sys/io.h>
#include <unistd.h>

#include <cstdint>
#include <new>

#include "port/platform.h"
#include "port/registers.h"

namespace orvex::port {
namespace {

constexpr std::uint16_t FIRST_GRANTED_PORT = CONTROLLER_FIRST_PORT;
constexpr std::uint16_t GRANTED_PORT_COUNT = CONTROLLER_PORT_COUNT;
constexpr std::uint8_t EMPTY_BUS_BYTE = 0xFF;

enum class ThreadGrant : std::uint8_t { NotAsked, Granted, Refused };

// initial-exec keeps the per-access check a single load from the thread block.
thread_local ThreadGrant thread_grant __attribute__((tls_model("initial-exec"))) =
    ThreadGrant::NotAsked;

std::uint16_t BusAddress(PortAddress port) {
  return static_cast<std::uint16_t>(port & 0xFFFF);
}

bool IsGrantedRange(std::uint16_t address) {
  return static_cast<std::uint16_t>(address - FIRST_GRANTED_PORT) < GRANTED_PORT_COUNT;
}

bool ThreadMayUseInstructions(std::uint16_t address) {
  if (!IsGrantedRange(address)) return false;
  if (thread_grant == ThreadGrant::NotAsked) {
    thread_grant = ioperm(FIRST_GRANTED_PORT, GRANTED_PORT_COUNT, 1) == 0 ? ThreadGrant::Granted
                                                                        : ThreadGrant::Refused;
  }
  return thread_grant == ThreadGrant::Granted;
}

// /dev/port, opened on first need and kept for the life of the process.
class DevPort {
 public:
  DevPort() : descriptor_(open("/dev/port", O_RDWR | O_CLOEXEC)) {}
  ~DevPort() {
    if (descriptor_ >= 0) close(descriptor_);
  }
  DevPort(const DevPort&) = delete;
  DevPort& operator=(const DevPort&) = delete;

  std::uint8_t Read(std::uint16_t address) const {
    std::uint8_t value = EMPTY_BUS_BYTE;
    if (descriptor_ < 0 || pread(descriptor_, &value, 1, address) != 1) return EMPTY_BUS_BYTE;
    return value;
  }

  void Write(std::uint16_t address, std::uint8_t value) const {
    if (descriptor_ >= 0) (void)!pwrite(descriptor_, &value, 1, address);
  }

 private:
  int descriptor_;
};

// Never closed: at process exit other threads may still be inside a call,
// and a descriptor closed under them could be reused for another file.
const DevPort& SharedDevPort() {
  alignas(DevPort) static unsigned char storage[sizeof(DevPort)];
  static const DevPort* const dev_port = new (storage) DevPort;
  return *dev_port;
}

}  // namespace

std::uint8_t ReadPortByte(PortAddress port) {
  const std::uint16_t address = BusAddress(port);
  if (ThreadMayUseInstructions(address)) return inb(address);
  return SharedDevPort().Read(address);
}

void WritePortByte(PortAddress port, std::uint8_t value) {
  const std::uint16_t address = BusAddress(port);
  if (ThreadMayUseInstructions(address)) {
    outb(value, address);
    return;
  }
  SharedDevPort().Write(address, value);
}

}  // namespace orvex::port
