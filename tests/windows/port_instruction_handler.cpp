#include "port_instruction_handler.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdint>

namespace orvex::wintest {
namespace {

using DriverRead = unsigned char(__stdcall*)(unsigned long port);
using DriverWrite = void(__stdcall*)(unsigned long port, unsigned char value);

DriverRead controller_read = nullptr;
DriverWrite controller_write = nullptr;
volatile LONG reads = 0;
volatile LONG writes = 0;

struct PortInstruction {
  bool reads = false;
  std::uint16_t port = 0;
  DWORD length = 0;
};

// The four byte-wide forms: `in al, dx`, `out dx, al`, `in al, imm8`,
// `out imm8, al`.
bool Decode(const std::uint8_t* code, DWORD edx, PortInstruction& decoded) {
  const auto dx = static_cast<std::uint16_t>(edx & 0xFFFF);
  switch (code[0]) {
    case 0xEC:
      decoded = {true, dx, 1};
      return true;
    case 0xEE:
      decoded = {false, dx, 1};
      return true;
    case 0xE4:
      decoded = {true, code[1], 2};
      return true;
    case 0xE6:
      decoded = {false, code[1], 2};
      return true;
    default:
      return false;
  }
}

LONG CALLBACK OnException(EXCEPTION_POINTERS* exception) {
  if (exception->ExceptionRecord->ExceptionCode != EXCEPTION_PRIV_INSTRUCTION) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  CONTEXT& context = *exception->ContextRecord;
  PortInstruction instruction;
  if (!Decode(reinterpret_cast<const std::uint8_t*>(context.Eip), context.Edx, instruction)) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  if (instruction.reads) {
    context.Eax = (context.Eax & ~DWORD{0xFF}) | controller_read(instruction.port);
    InterlockedIncrement(&reads);
  } else {
    controller_write(instruction.port, static_cast<unsigned char>(context.Eax & 0xFF));
    InterlockedIncrement(&writes);
  }
  context.Eip += instruction.length;
  return EXCEPTION_CONTINUE_EXECUTION;
}

template <typename Function>
Function Find(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

}  // namespace

bool InstallPortInstructionHandler(const wchar_t* controller_library) {
  const HMODULE module = LoadLibraryW(controller_library);
  if (module == nullptr) return false;
  controller_read = Find<DriverRead>(module, "DlPortReadPortUchar");
  controller_write = Find<DriverWrite>(module, "DlPortWritePortUchar");
  if (controller_read == nullptr || controller_write == nullptr) return false;
  return AddVectoredExceptionHandler(1, OnException) != nullptr;
}

PortInstructionCounts PortInstructions() {
  return {reads, writes};
}

void ClearPortInstructions() {
  InterlockedExchange(&reads, 0);
  InterlockedExchange(&writes, 0);
}

}  // namespace orvex::wintest
