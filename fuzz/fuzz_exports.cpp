// Fuzz target: one export call against a controller that does whatever the
// input says. Input: export selector, axis code, a float value (4 bytes),
// then the script of the bus.
//
// Invariants: no memory error or undefined behaviour (the sanitizers watch),
// the host writes only what command lines and the handshake hold, every export
// returns within a bounded time, and every result lies in its allowed set.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

#include "fuzzed_bus.h"
#include "orvexportio.h"

namespace {

using orvex::fuzz::Microseconds;

constexpr std::size_t kHeaderSize = 6;
// Once the script runs out: one acknowledgement bound, one silence bound for
// WS, the pauses of RT, and a missed window or two.
constexpr Microseconds kQuietEnding = 3'500'000;
// What one script byte can cost at the most: a clock jump and an access.
constexpr Microseconds kMostPerScriptByte =
    orvex::fuzz::kClockJumpLength + orvex::fuzz::kAccessCost;

void Require(bool holds) {
  if (!holds) std::abort();
}

bool AddressesAnAxis(signed char axis) {
  return axis >= 0 && axis <= 2;
}

bool IsFlag(int result) {
  return result == 0 || result == 1;
}

// Motion commands, RT and WS: a flag for axis codes 0 to 2, else the code.
void RequireFlagOrCode(int result, signed char axis) {
  Require(AddressesAnAxis(axis) ? IsFlag(result) : result == axis);
}

void CallExport(std::uint8_t selector, signed char axis, float value) {
  switch (selector % 11) {
    case 0:
      RequireFlagOrCode(MA(axis, value), axis);
      break;
    case 1:
      RequireFlagOrCode(MR(axis, value), axis);
      break;
    case 2:
      RequireFlagOrCode(SV(axis, value), axis);
      break;
    case 3:
      RequireFlagOrCode(ST(axis), axis);
      break;
    case 4:
      RequireFlagOrCode(DH(axis), axis);
      break;
    case 5:
      RequireFlagOrCode(GH(axis), axis);
      break;
    case 6:
      RequireFlagOrCode(RT(axis), axis);
      break;
    case 7:
      RequireFlagOrCode(WS(axis), axis);
      break;
    case 8: {
      const float position = TP(axis);
      Require(!std::isnan(position));
      Require(axis == 1 || axis == 2 || position == ORVEX_POSITION_ERROR);
      break;
    }
    case 9:
      Require(IsFlag(OK()));
      break;
    default: {
      const int status = MT(axis);
      Require(!AddressesAnAxis(axis) || IsFlag(status));
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kHeaderSize) return 0;
  const auto axis = static_cast<signed char>(data[1]);
  float value = 0.0F;
  std::memcpy(&value, data + 2, sizeof value);
  orvex::fuzz::StartBus(std::span(data + kHeaderSize, size - kHeaderSize));

  CallExport(data[0], axis, value);

  const orvex::fuzz::BusRecord& bus = orvex::fuzz::Bus();
  Require(!bus.host_misbehaved);
  Require(bus.now <= bus.consumed * kMostPerScriptByte + kQuietEnding);
  return 0;
}
