// Port access on 32-bit Windows.
//
// Every access asks GetVersion which kind of system it runs on. NT-family
// systems keep the port instructions from user code, so there the byte goes
// through a port-I/O driver library: DlPortIO.dll, or where that is missing
// inpout32.dll, which exports the same two functions. The driver library is
// loaded on the first access that needs it, not with this DLL, so the DLL
// loads on every system, whether it needs the driver or not. Where neither
// library can be loaded the bus behaves as if empty: reads give 0xFF and
// writes go nowhere, so every export reports a time-out. The older systems
// (bit 31 of the version set) let the processor's port instructions run
// directly, on the port's low 16 bits.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdint>

#include "port/platform.h"

namespace orvex::port {
namespace {

constexpr DWORD NOT_NT_FAMILY = 0x80000000;
constexpr std::uint8_t EMPTY_BUS_BYTE = 0xFF;

// The driver library's functions: __stdcall, exported undecorated.
using DriverRead = unsigned char(__stdcall*)(unsigned long port);
using DriverWrite = void(__stdcall*)(unsigned long port, unsigned char value);

struct PortDriver {
  DriverRead read = nullptr;
  DriverWrite write = nullptr;
};

// Tried in this order; a library counts only when it has both functions.
constexpr const wchar_t* DRIVER_LIBRARIES[] = {L"DlPortIO.dll", L"inpout32.dll"};

template <typename Function>
Function DriverFunction(HMODULE library, const char* name) {
  // Through the generic function pointer type, which converts to any other.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
}

PortDriver LoadFirstDriver() {
  for (const wchar_t* name : DRIVER_LIBRARIES) {
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

std::uint8_t ReadPortByte(PortAddress port) {
  if (!IsNtFamily()) return ReadWithInstruction(BusAddress(port));
  const PortDriver& driver = Driver();
  if (driver.read == nullptr) return EMPTY_BUS_BYTE;
  return driver.read(static_cast<unsigned long>(port));
}

void WritePortByte(PortAddress port, std::uint8_t value) {
  if (!IsNtFamily()) {
    WriteWithInstruction(BusAddress(port), value);
    return;
  }
  const PortDriver& driver = Driver();
  if (driver.write != nullptr) driver.write(static_cast<unsigned long>(port), value);
}

}  // namespace orvex::port
