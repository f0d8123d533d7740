// The platform touch points for the fuzz target, driven by the fuzz input.
#include "fuzzed_bus.h"

#include <cstdint>
#include <span>
#include <string_view>

#include "port/platform.h"

namespace orvex::fuzz {
namespace {

constexpr std::uint16_t kDataRegister = 0x340;
constexpr std::uint16_t kHandshakeRegister = 0x341;
// Every character any command line of the library holds.
constexpr std::string_view kLineCharacters = "0123456789ACDFHIMPRSTV -;\r";

std::span<const std::uint8_t> script_;
BusRecord record_;

bool Exhausted() {
  return record_.consumed >= script_.size();
}

std::uint8_t NextScriptByte() {
  return script_[record_.consumed++];
}

void Tick() {
  record_.now += Exhausted() ? kQuietAccessCost : kAccessCost;
}

std::uint8_t ShowHandshake() {
  if (Exhausted()) return kQuietValue;
  const std::uint8_t shown = NextScriptByte();
  if (shown != kClockJump) return shown;
  record_.now += kClockJumpLength;
  return kQuietValue;
}

void CheckHostWrite(std::uint16_t address, std::uint8_t value) {
  const bool handshake_ok = value == 0x80 || value == 0x00;
  const bool data_ok = kLineCharacters.find(static_cast<char>(value)) != std::string_view::npos;
  if (address == kHandshakeRegister && !handshake_ok) record_.host_misbehaved = true;
  if (address == kDataRegister && !data_ok) record_.host_misbehaved = true;
  if (address != kHandshakeRegister && address != kDataRegister) record_.host_misbehaved = true;
}

}  // namespace

void StartBus(std::span<const std::uint8_t> script) {
  script_ = script;
  record_ = BusRecord{};
}

const BusRecord& Bus() {
  return record_;
}

}  // namespace orvex::fuzz

namespace orvex::port {

std::uint8_t ReadPortByte(const CardPorts& card, Register which) {
  const auto address = static_cast<std::uint16_t>(card.Address(which) & 0xFFFF);
  std::uint8_t value = 0xFF;
  if (address == 0x341) value = fuzz::ShowHandshake();
  if (address == 0x340) value = fuzz::Exhausted() ? 0xFF : fuzz::NextScriptByte();
  fuzz::Tick();
  return value;
}

void WritePortByte(const CardPorts& card, Register which, std::uint8_t value) {
  fuzz::CheckHostWrite(static_cast<std::uint16_t>(card.Address(which) & 0xFFFF), value);
  fuzz::Tick();
}

bool MachineWideName(const CardPorts& /*card*/, std::span<char> /*name*/) {
  return false;
}

double SteadyClockSeconds() {
  return static_cast<double>(fuzz::Bus().now) / 1e6;
}

void PauseMilliseconds(unsigned milliseconds) {
  fuzz::record_.now += milliseconds * 1000ULL;
}

}  // namespace orvex::port
