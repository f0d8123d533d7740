// The calling convention of the 64-bit DLL. 64-bit Windows has a single one:
// the axis code arrives in the first integer register, the value in the
// second floating-point register, and the caller always removes what it put
// on the stack, so there are no argument bytes to count. What a host can
// still get wrong, and the DLL must cope with, is the rest of the axis code's
// register: a host that declares the axis as a 64-bit integer fills all of
// it, and only the low byte counts.
#include <cstdint>
#include <string>

#include "host_harness.h"
#include "suites.h"

namespace orvex::wintest {
namespace {

// The exports as a host sees them that declares the axis code 64 bits wide.
using WideIntExport = int (*)(std::uint64_t axis, float value);
using WideFloatExport = float (*)(std::uint64_t axis, float value);

template <typename Wide, typename Function>
Wide Widened(Function function) {
  return reinterpret_cast<Wide>(reinterpret_cast<void (*)()>(function));
}

constexpr std::uint64_t kAxis3Register = 0xFFFF'FFFF'ABCD'0103;
constexpr std::uint64_t kAxis1Register = 0x8000'0000'0000'0101;

void OnlyTheLowByteOfTheAxisRegisterCounts(Expect& expect) {
  const Library& library = TheLibrary();
  const struct {
    const char* name;
    WideIntExport function;
  } axis_exports[] = {
      {"MA", Widened<WideIntExport>(library.ma)}, {"MR", Widened<WideIntExport>(library.mr)},
      {"SV", Widened<WideIntExport>(library.sv)}, {"RT", Widened<WideIntExport>(library.rt)},
      {"ST", Widened<WideIntExport>(library.st)}, {"WS", Widened<WideIntExport>(library.ws)},
      {"DH", Widened<WideIntExport>(library.dh)}, {"GH", Widened<WideIntExport>(library.gh)},
  };
  for (const auto& tested : axis_exports) {
    const Controller& controller = FreshController();
    expect.Equal(tested.function(kAxis3Register, 2.5F), 3,
                 std::string(tested.name) + " with axis register 0xFFFFFFFFABCD0103");
    expect.Equal(controller.Received(), Lines{}, std::string(tested.name) + " lines");
  }

  FreshController();
  expect.Equal(Widened<WideFloatExport>(library.tp)(kAxis3Register, 2.5F), ORVEX_POSITION_ERROR,
               "TP with axis register 0xFFFFFFFFABCD0103");

  const Controller& controller = FreshController();
  expect.Equal(Widened<WideIntExport>(library.ma)(kAxis1Register, 2.5F), 1,
               "MA with axis register 0x8000000000000101 and 2.5");
  controller.QueueReply("+250\r\n");
  expect.Equal(Widened<WideFloatExport>(library.tp)(kAxis1Register, 0.0F), 2.5F,
               "TP with axis register 0x8000000000000101, reply +250");
  expect.Equal(controller.Received(), Lines{"1PA 250\r", "1TP\r"},
               "lines for axis register 0x8000000000000101");
}

const Case kCases[] = {
    {"OnlyTheLowByteOfTheAxisRegisterCounts", OnlyTheLowByteOfTheAxisRegisterCounts},
};

}  // namespace

Suite CallingConventionSuite() {
  return {"calling_convention", kCases};
}

}  // namespace orvex::wintest
