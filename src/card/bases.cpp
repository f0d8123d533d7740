#include "card/bases.h"

#include <cstddef>

#include "card/pc_devices.h"

namespace orvex::card {
namespace {

constexpr orvex_pc_device PC_DEVICES[] = ORVEX_PC_DEVICES;

constexpr const char* OUT_OF_RANGE =
    "outside 0x100-0x3FE, the ports the bus leaves to add-in cards";

const orvex_pc_device* DeviceHitBy(unsigned base) {
  const unsigned last = base + ORVEX_REGISTER_COUNT - 1;
  for (const orvex_pc_device& device : PC_DEVICES) {
    if (base <= device.last && last >= device.first) return &device;
  }
  return nullptr;
}

int HexDigit(char character) {
  if (character >= '0' && character <= '9') return character - '0';
  if (character >= 'a' && character <= 'f') return character - 'a' + 10;
  if (character >= 'A' && character <= 'F') return character - 'A' + 10;
  return -1;
}

constexpr std::size_t MOST_HEX_DIGITS = 4;

}  // namespace

BaseVerdict JudgeBase(unsigned base) {
  if (DeviceHitBy(base) != nullptr) return BaseVerdict::HitsDevice;
  if (base < ORVEX_LOWEST_BASE || base > ORVEX_HIGHEST_BASE) return BaseVerdict::OutOfRange;
  return BaseVerdict::Fine;
}

const char* BaseConflict(unsigned base) {
  if (const orvex_pc_device* device = DeviceHitBy(base)) return device->name;
  if (JudgeBase(base) == BaseVerdict::OutOfRange) return OUT_OF_RANGE;
  return nullptr;
}

BaseSetting ReadBaseSetting(const char* text) {
  if (text == nullptr) return {BaseSetting::Reading::Unset, ORVEX_FACTORY_BASE};
  const BaseSetting not_a_base{BaseSetting::Reading::NotABase, 0};
  if (text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) return not_a_base;
  unsigned base = 0;
  std::size_t digits = 0;
  for (const char* at = text + 2; *at != '\0'; ++at, ++digits) {
    const int digit = HexDigit(*at);
    if (digit < 0 || digits == MOST_HEX_DIGITS) return not_a_base;
    base = base * 16 + static_cast<unsigned>(digit);
  }
  if (digits == 0) return not_a_base;
  return {BaseSetting::Reading::Base, base};
}

}  // namespace orvex::card
