// The port instructions, as a kernel that granted the port lets them run:
// here they fault (the processor refuses them to user code), and the SIGSEGV
// handler decodes the instruction at the saved instruction pointer, performs
// the access on the virtual controller and steps over it. A port instruction
// on a thread without the grant ends the process, as the kernel ends it; any
// other fault stays the crash it is.
#include <signal.h>
#include <ucontext.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

#include "stand_in_state.h"
#include "virtual_bus.h"

namespace orvex::stand_in {
namespace {

// General protection, the trap an unprivileged port instruction raises.
constexpr greg_t kGeneralProtectionTrap = 13;

struct PortInstruction {
  bool reads = false;
  std::uint16_t port = 0;
  greg_t length = 0;
  const char* text = "";
};

struct sigaction previous_action;

// The four forms the byte-wide instructions take: `in al, dx`, `out dx, al`,
// `in al, imm8`, `out imm8, al`.
bool Decode(const std::uint8_t* code, greg_t rdx, PortInstruction& decoded) {
  const auto dx = static_cast<std::uint16_t>(rdx & 0xFFFF);
  switch (code[0]) {
    case 0xEC:
      decoded = {true, dx, 1, "in al, dx"};
      return true;
    case 0xEE:
      decoded = {false, dx, 1, "out dx, al"};
      return true;
    case 0xE4:
      decoded = {true, code[1], 2, "in al, imm8"};
      return true;
    case 0xE6:
      decoded = {false, code[1], 2, "out imm8, al"};
      return true;
    default:
      return false;
  }
}

// Other port instructions: the word and double-word forms, the string forms,
// and any of them behind an operand-size or repeat prefix.
bool IsOtherPortInstruction(const std::uint8_t* code) {
  const bool prefixed = code[0] == 0x66 || code[0] == 0xF2 || code[0] == 0xF3;
  const std::uint8_t opcode = prefixed ? code[1] : code[0];
  const bool wide = opcode == 0xE5 || opcode == 0xE7 || opcode == 0xED || opcode == 0xEF;
  const bool string_form = opcode >= 0x6C && opcode <= 0x6F;
  const bool byte_form = opcode == 0xE4 || opcode == 0xE6 || opcode == 0xEC || opcode == 0xEE;
  return wide || string_form || (prefixed && byte_form);
}

void AppendHex(char*& out, std::uint64_t value, int digits) {
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) {
    *out++ = "0123456789abcdef"[(value >> shift) & 0xF];
  }
}

void Append(char*& out, const char* text) {
  while (*text != '\0') *out++ = *text++;
}

void AppendDecimal(char*& out, std::uint64_t value) {
  char digits[24];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (count > 0) *out++ = digits[--count];
}

// The kernel sends SIGSEGV, whose default action ends the process: the
// handler is taken away and the instruction faults again.
void KillAsTheKernelWould(const PortInstruction& instruction, greg_t rip) {
  char message[256];
  char* out = message;
  Append(out, "kernel stand-in: `");
  Append(out, instruction.text);
  Append(out, "` on port 0x");
  AppendHex(out, instruction.port, 4);
  Append(out, " at 0x");
  AppendHex(out, static_cast<std::uint64_t>(rip), 12);
  Append(out, " by thread ");
  AppendDecimal(out, static_cast<std::uint64_t>(ThisThread()));
  Append(out, ", which holds no ioperm grant for that port: killed, as the kernel kills it\n");
  *out = '\0';
  WriteToStandardError(message);
  signal(SIGSEGV, SIG_DFL);
}

// The fault is taken again under whatever handled SIGSEGV before.
void LeaveToThePreviousHandler() {
  sigaction(SIGSEGV, &previous_action, nullptr);
}

void Perform(const PortInstruction& instruction, greg_t& rax) {
  sim::VirtualBus& controller = sim::TheBus();
  if (instruction.reads) {
    const std::uint8_t value = controller.ReadPort(instruction.port);
    rax = static_cast<greg_t>((static_cast<std::uint64_t>(rax) & ~std::uint64_t{0xFF}) | value);
    CountAccess(AccessKind::InstructionRead);
  } else {
    controller.WritePort(instruction.port, static_cast<std::uint8_t>(rax & 0xFF));
    CountAccess(AccessKind::InstructionWrite);
  }
}

void OnSegmentationFault(int, siginfo_t* info, void* context) {
  auto& registers = static_cast<ucontext_t*>(context)->uc_mcontext.gregs;
  // Only a general-protection fault has an instruction worth reading at the
  // saved instruction pointer; other faults may have it pointing nowhere.
  if (info->si_code != SI_KERNEL || registers[REG_TRAPNO] != kGeneralProtectionTrap) {
    LeaveToThePreviousHandler();
    return;
  }
  greg_t& rip = registers[REG_RIP];
  const auto* code = reinterpret_cast<const std::uint8_t*>(rip);
  PortInstruction instruction;
  if (!Decode(code, registers[REG_RDX], instruction)) {
    if (IsOtherPortInstruction(code)) {
      WriteToStandardError("kernel stand-in: a port instruction it does not emulate\n");
    }
    LeaveToThePreviousHandler();
    return;
  }
  if (!ThreadHoldsGrant(instruction.port)) {
    KillAsTheKernelWould(instruction, rip);
    return;
  }
  Perform(instruction, registers[REG_RAX]);
  rip += instruction.length;
}

[[gnu::constructor]] void InstallHandler() {
  // Built now, not first in the handler, and on its exact virtual clock, so
  // that windows, bounds and pauses are checked to the microsecond.
  sim::TheController().SetClock(sim::Clock::Virtual);
  struct sigaction action {};
  action.sa_sigaction = OnSegmentationFault;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  sigaction(SIGSEGV, &action, &previous_action);
}

}  // namespace

void WriteToStandardError(const char* text) {
  (void)!write(STDERR_FILENO, text, std::strlen(text));
}

}  // namespace orvex::stand_in
