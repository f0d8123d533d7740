// The simulated port-I/O driver library: the driver's two functions onto the
// one virtual controller, and the test side's fault settings.
#include "simulated_driver.h"

#include <cstdint>
#include <string_view>

#include "virtual_controller.h"

using orvex::sim::Faults;
using orvex::sim::TheController;

namespace {

constexpr unsigned long kHighestPort = 0xFFFF;
constexpr unsigned char kEmptyBus = 0xFF;

template <typename Setting, typename Value>
void SetOnlyFault(Setting Faults::*fault, Value value) {
  Faults faults;
  faults.*fault = value;
  TheController().SetFaults(faults);
}

std::uint64_t Count(int value) {
  return value < 0 ? 0U : static_cast<std::uint64_t>(value);
}

}  // namespace

extern "C" {

// No I/O port lies above 0xFFFF: such an address reads as an empty bus.
unsigned char __stdcall DlPortReadPortUchar(unsigned long port) {
  if (port > kHighestPort) return kEmptyBus;
  return TheController().ReadPort(static_cast<std::uint16_t>(port));
}

void __stdcall DlPortWritePortUchar(unsigned long port, unsigned char value) {
  if (port <= kHighestPort) TheController().WritePort(static_cast<std::uint16_t>(port), value);
}

void ORVEX_CALL orvexsim_fault_stuck_handshake(int value) {
  SetOnlyFault(&Faults::stuck_handshake, static_cast<std::uint8_t>(value));
}

void ORVEX_CALL orvexsim_fault_dies_after_bytes(int bytes) {
  SetOnlyFault(&Faults::dies_after_bytes, Count(bytes));
}

void ORVEX_CALL orvexsim_fault_readiness_delay(int byte, int microseconds) {
  SetOnlyFault(&Faults::readiness_delay, Faults::ReadinessDelay{Count(byte), Count(microseconds)});
}

void ORVEX_CALL orvexsim_fault_never_acknowledges_byte(int byte) {
  SetOnlyFault(&Faults::never_acknowledges_byte, Count(byte));
}

void ORVEX_CALL orvexsim_fault_reply_stops_after(int bytes) {
  SetOnlyFault(&Faults::reply_stops_after, static_cast<std::size_t>(Count(bytes)));
}

void ORVEX_CALL orvexsim_fault_endless_reply(void) {
  SetOnlyFault(&Faults::endless_reply, true);
}

void ORVEX_CALL orvexsim_queue_reply(const char* bytes, int length) {
  TheController().QueueReply(std::string_view(bytes, static_cast<std::size_t>(Count(length))));
}

int ORVEX_CALL orvexsim_bytes_taken(void) {
  return static_cast<int>(TheController().BytesTaken());
}

int ORVEX_CALL orvexsim_protocol_errors(void) {
  return static_cast<int>(TheController().ProtocolErrors());
}

}  // extern "C"
