// Port access on x86 Linux, for a card the kernel driver does not carry
// (driver_route_linux.cpp: the driver's node comes first).
//
// The processor's port instructions are used on a thread that ioperm() has
// granted the card's two registers; a grant belongs to the calling thread
// only, so each thread asks once per card, on its first access to that card,
// for exactly that card's registers. Where ioperm() is refused (no
// CAP_SYS_RAWIO, kernel lockdown, no port I/O in the kernel) the byte goes
// through /dev/port instead, at the same address; where that cannot be opened
// either, the bus behaves as if empty: reads give 0xFF and writes go nowhere.
// A port instruction never runs on a thread without the grant for that card,
// since that would kill the host with SIGSEGV.
#include <fcntl.h>
#include <sys/io.h>
#include <unistd.h>

#include <cstdint>
#include <new>
#include <span>

#include "card/pc_devices.h"
#include "port/machine_wide.h"
#include "port/platform.h"

namespace orvex::port {
namespace {

constexpr std::uint8_t EMPTY_BUS_BYTE = 0xFF;
// Bases run up to 0x3FE; one entry per possible base keeps the look-up a
// bit test.
constexpr unsigned BASE_SLOTS = 0x400;
constexpr unsigned BITS_PER_WORD = 64;
constexpr unsigned GRANT_WORDS = BASE_SLOTS / BITS_PER_WORD;

// What this thread learnt from ioperm(), a pair of bits per base: asked, and
// granted. initial-exec keeps the per-access check a load from the thread
// block.
struct ThreadGrants {
  std::uint64_t asked[GRANT_WORDS];
  std::uint64_t granted[GRANT_WORDS];
};

thread_local ThreadGrants thread_grants __attribute__((tls_model("initial-exec"))) = {};

std::uint16_t BusAddress(PortAddress port) {
  return static_cast<std::uint16_t>(port & 0xFFFF);
}

std::uint64_t Bit(unsigned base) {
  return std::uint64_t{1} << (base % BITS_PER_WORD);
}

// Asks once per thread and card, for exactly the card's two registers.
bool ThreadMayUseInstructions(const CardPorts& card) {
  const auto base = static_cast<unsigned>(card.Base());
  if (base >= BASE_SLOTS) return false;
  const unsigned word = base / BITS_PER_WORD;
  if ((thread_grants.asked[word] & Bit(base)) == 0) {
    thread_grants.asked[word] |= Bit(base);
    if (ioperm(base, ORVEX_REGISTER_COUNT, 1) == 0) thread_grants.granted[word] |= Bit(base);
  }
  return (thread_grants.granted[word] & Bit(base)) != 0;
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

std::uint8_t ReadPortByte(const CardPorts& card, Register which) {
  const std::uint16_t address = BusAddress(card.Address(which));
  if (ThreadMayUseInstructions(card)) return inb(address);
  return SharedDevPort().Read(address);
}

void WritePortByte(const CardPorts& card, Register which, std::uint8_t value) {
  const std::uint16_t address = BusAddress(card.Address(which));
  if (ThreadMayUseInstructions(card)) {
    outb(value, address);
    return;
  }
  SharedDevPort().Write(address, value);
}

bool MachineWideName(const CardPorts& card, std::span<char> name) {
  return CardRecordName(static_cast<unsigned>(card.Base()), name);
}

}  // namespace orvex::port
