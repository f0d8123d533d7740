// The platform seam of the window benchmarks: a bus with nothing on it, read
// as cheaply as a port read can be (one counter increment), and the real
// steady clock and pause (src/port/clock_posix.cpp).
#include <cstdint>
#include <cstdio>
#include <span>

#include "empty_bus.h"
#include "port/platform.h"

namespace orvex::bench {
namespace {

constexpr std::uint8_t kEmptyBus = 0xFF;

std::uint64_t reads = 0;

}  // namespace

std::uint64_t EmptyBusReads() {
  return reads;
}

}  // namespace orvex::bench

namespace orvex::port {

std::uint8_t ReadPortByte(const CardPorts& /*card*/, Register /*which*/) {
  ++bench::reads;
  return bench::kEmptyBus;
}

void WritePortByte(const CardPorts& /*card*/, Register /*which*/, std::uint8_t /*value*/) {}

bool MachineWideName(const CardPorts& /*card*/, std::span<char> /*name*/) {
  return false;
}

}  // namespace orvex::port
