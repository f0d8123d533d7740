// The calling convention of the 32-bit DLL, checked at the machine level: a
// C caller pushes whole 32-bit argument slots and removes them itself, and
// only the low byte of the axis code's slot counts.
#include <bit>
#include <cstdint>
#include <string>

#include "host_harness.h"
#include "suites.h"

namespace orvex::wintest {
namespace {

struct SlotCall {
  int removed;           // bytes of arguments the function took off the stack
  std::uint32_t eax;     // an int result
  float x87_top = 0.0F;  // a float result
};

// Pushes two 32-bit argument slots as a C caller does, calls `function`, and
// notes how far the stack pointer moved before the caller removes them.
SlotCall CallWithTwoSlots(void (*function)(), std::uint32_t first, std::uint32_t second) {
  SlotCall call{};
  asm volatile(
      "movl %%esp, %%edi\n\t"
      "pushl %[second]\n\t"
      "pushl %[first]\n\t"
      "call *%[function]\n\t"
      "movl %%esp, %%ecx\n\t"
      "subl %%edi, %%ecx\n\t"
      "addl $8, %%ecx\n\t"
      "movl %%edi, %%esp\n\t"
      : "=a"(call.eax), "=c"(call.removed)
      : [function] "r"(function), [first] "r"(first), [second] "r"(second)
      : "edx", "edi", "memory", "cc");
  return call;
}

// The same for a function with a float result, which it leaves on the x87 stack.
SlotCall CallWithTwoSlotsForFloat(void (*function)(), std::uint32_t first, std::uint32_t second) {
  SlotCall call{};
  asm volatile(
      "movl %%esp, %%edi\n\t"
      "pushl %[second]\n\t"
      "pushl %[first]\n\t"
      "call *%[function]\n\t"
      "movl %%esp, %%ecx\n\t"
      "subl %%edi, %%ecx\n\t"
      "addl $8, %%ecx\n\t"
      "movl %%edi, %%esp\n\t"
      "fstps %[top]\n\t"
      : "=c"(call.removed), [top] "=m"(call.x87_top)
      : [function] "r"(function), [first] "r"(first), [second] "r"(second)
      : "eax", "edx", "edi", "memory", "cc");
  return call;
}

template <typename Function>
void (*Untyped(Function function))() {
  return reinterpret_cast<void (*)()>(function);
}

// Hosts push a whole 32-bit slot for the axis code, with anything in its upper
// bytes; only the low byte counts.
constexpr std::uint32_t kAxis3Slot = 0xABCD'0103;
constexpr std::uint32_t kAxis1Slot = 0x0000'0101;
const std::uint32_t kValueSlot = std::bit_cast<std::uint32_t>(2.5F);

void ExportsLeaveTheirArgumentsToTheCaller(Expect& expect) {
  const Library& library = TheLibrary();
  const struct {
    const char* name;
    void (*function)();
  } int_exports[] = {
      {"MA", Untyped(library.ma)}, {"MR", Untyped(library.mr)}, {"SV", Untyped(library.sv)},
      {"RT", Untyped(library.rt)}, {"ST", Untyped(library.st)}, {"WS", Untyped(library.ws)},
      {"DH", Untyped(library.dh)}, {"GH", Untyped(library.gh)}, {"MT", Untyped(library.mt)},
      {"OK", Untyped(library.ok)},
  };
  for (const auto& tested : int_exports) {
    FreshController();
    const SlotCall call = CallWithTwoSlots(tested.function, kAxis3Slot, kValueSlot);
    expect.Equal(call.removed, 0, std::string(tested.name) + " removed argument bytes");
    if (std::string(tested.name) != "MT" && std::string(tested.name) != "OK") {
      expect.Equal(call.eax, 3U, std::string(tested.name) + " with axis slot 0xABCD0103");
    }
  }
  FreshController();
  const SlotCall tp = CallWithTwoSlotsForFloat(Untyped(library.tp), kAxis3Slot, kValueSlot);
  expect.Equal(tp.removed, 0, "TP removed argument bytes");
  expect.Equal(tp.x87_top, ORVEX_POSITION_ERROR, "TP with axis slot 0xABCD0103");

  const Controller& controller = FreshController();
  expect.Equal(CallWithTwoSlots(Untyped(library.ma), kAxis1Slot, kValueSlot).eax, 1U,
               "MA with axis slot 0x101 and 2.5");
  expect.Equal(controller.Received(), Lines{"1PA 250\r"}, "MA with axis slot 0x101 lines");
}

const Case kCases[] = {
    {"ExportsLeaveTheirArgumentsToTheCaller", ExportsLeaveTheirArgumentsToTheCaller},
};

}  // namespace

Suite CallingConventionSuite() {
  return {"calling_convention", kCases};
}

}  // namespace orvex::wintest
