// Port access on Windows, 32-bit and 64-bit.
//
// Every access asks GetVersion which kind of system it runs on. NT-family
// systems keep the port instructions from user code, so there the byte goes
// through a port-I/O driver library: the first of this bitness's list
// (driver_libraries.h) that loads and exports the two functions. The driver
// library is loaded on the first access that needs it, not with this DLL, so
// the DLL loads on every system, whether it needs the driver or not. Where no
// library can be loaded the bus behaves as if empty: reads give 0xFF and
// writes go nowhere, so every export reports a time-out. The older systems
// (bit 31 of the version set), which only 32-bit processes can run on, let
// the processor's port instructions run directly, on the port's low 16 bits.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdint>
#include <span>

#include "port/driver_libraries.h"
#include "port/machine_wide.h"
#include "port/platform.h"

namespace orvex::port {
namespace {

constexpr DWORD NOT_NT_FAMILY = 0x80000000;
constexpr std::uint8_t EMPTY_BUS_BYTE = 0xFF;

// The driver library's functions: __stdcall, exported undecorated (64-bit
// Windows has one calling convention and ignores the keyword).
using DriverRead = unsigned char(__stdcall*)(unsigned long port);
using DriverWrite = void(__stdcall*)(unsigned long port, unsigned char value);

struct PortDriver {
  DriverRead read = nullptr;
  DriverWrite write = nullptr;
};

template <typename Function>
Function DriverFunction(HMODULE library, const char* name) {
  // Through the generic function pointer type, which converts to any other.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
}

// A library counts only when it has both functions.
PortDriver LoadFirstDriver() {
  for (const wchar_t* name : DriverLibraryNames()) {
    const HMODULE library = LoadLibraryW(name);
    if (library == nullptr) continue;
    const PortDriver driver{DriverFunction<DriverRead>(library, "DlPortReadPortUchar"),
                            DriverFunction<DriverWrite>(library, "DlPortWritePortUchar")};
    if (driver.read != nullptr && driver.write != nullptr) return driver;
    FreeLibrary(library);
  }
  return {};
}

// Loaded once, by the first access that needs it, and kept until the process
// ends. The outcome is kept too: a driver installed later is seen after a
// restart of the host.
const PortDriver& Driver() {
  static const PortDriver driver = LoadFirstDriver();
  return driver;
}

bool IsNtFamily() {
  return (GetVersion() & NOT_NT_FAMILY) == 0;
}

bool UsesPortInstructions() {
  return !IsNtFamily() && CanRunOnWindows9x();
}

std::uint16_t BusAddress(PortAddress port) {
  return static_cast<std::uint16_t>(port & 0xFFFF);
}

std::uint8_t ReadWithInstruction(std::uint16_t address) {
  std::uint8_t value = 0;
  asm volatile("inb %w1, %b0" : "=a"(value) : "Nd"(address));
  return value;
}

void WriteWithInstruction(std::uint16_t address, std::uint8_t value) {
  asm volatile("outb %b0, %w1" : : "a"(value), "Nd"(address));
}

}  // namespace

std::uint8_t ReadPortByte(const CardPorts& card, Register which) {
  const PortAddress port = card.Address(which);
  if (UsesPortInstructions()) return ReadWithInstruction(BusAddress(port));
  const PortDriver& driver = Driver();
  if (driver.read == nullptr) return EMPTY_BUS_BYTE;
  return driver.read(static_cast<unsigned long>(port));
}

void WritePortByte(const CardPorts& card, Register which, std::uint8_t value) {
  const PortAddress port = card.Address(which);
  if (UsesPortInstructions()) {
    WriteWithInstruction(BusAddress(port), value);
    return;
  }
  const PortDriver& driver = Driver();
  if (driver.write != nullptr) driver.write(static_cast<unsigned long>(port), value);
}

bool MachineWideName(const CardPorts& card, std::span<char> name) {
  return CardRecordName(static_cast<unsigned>(card.Base()), name);
}

}  // namespace orvex::port
