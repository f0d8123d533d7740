// Where a card may sit, and the setting that moves the eleven functions to
// another base. Shared by the library, its diagnosis and the virtual bus, so
// all judge a base alike; header-only, as each of them links it on its own.
#pragma once

#include <cstddef>

#include "card/pc_devices.h"

namespace orvex::card {
namespace detail {

inline constexpr orvex_pc_device PC_DEVICES[] = ORVEX_PC_DEVICES;

inline constexpr const char* OUT_OF_RANGE =
    "outside 0x100-0x3FE, the ports the bus leaves to add-in cards";

inline constexpr std::size_t MOST_HEX_DIGITS = 4;

inline const orvex_pc_device* DeviceHitBy(unsigned base) {
  const unsigned last = base + ORVEX_REGISTER_COUNT - 1;
  for (const orvex_pc_device& device : PC_DEVICES) {
    if (base <= device.last && last >= device.first) return &device;
  }
  return nullptr;
}

inline int HexDigit(char character) {
  if (character >= '0' && character <= '9') return character - '0';
  if (character >= 'a' && character <= 'f') return character - 'a' + 10;
  if (character >= 'A' && character <= 'F') return character - 'A' + 10;
  return -1;
}

}  // namespace detail

// Why a card's registers (base and base + 1) may not sit at `base`: the
// standard PC device they would overlap, or that they would leave the ports
// left to add-in cards.
enum class BaseVerdict {
  Fine,
  HitsDevice,  // BaseConflict names the device
  OutOfRange,  // not within 0x100-0x3FF
};

inline BaseVerdict JudgeBase(unsigned base) {
  if (detail::DeviceHitBy(base) != nullptr) return BaseVerdict::HitsDevice;
  if (base < ORVEX_LOWEST_BASE || base > ORVEX_HIGHEST_BASE) return BaseVerdict::OutOfRange;
  return BaseVerdict::Fine;
}

// The device a card at `base` would overlap, or the range it would leave, as
// a static text; nullptr when a card may sit there.
inline const char* BaseConflict(unsigned base) {
  if (const orvex_pc_device* device = detail::DeviceHitBy(base)) return device->name;
  if (JudgeBase(base) == BaseVerdict::OutOfRange) return detail::OUT_OF_RANGE;
  return nullptr;
}

// The environment variable that moves the eleven functions to another base.
inline constexpr const char* BASE_VARIABLE = "ORVEXPORTIO_BASE";

// What the variable says.
struct BaseSetting {
  enum class Reading { Unset, Base, NotABase };
  Reading reading = Reading::Unset;
  unsigned base = 0;  // the base read (the factory base when unset; 0 when not a number)
};

// Reads the variable's text (nullptr when unset): "0x" or "0X" and one to
// four hexadecimal digits. Decimal is not taken, so that "300" cannot reach
// 0x12C when 0x300 was meant.
inline BaseSetting ReadBaseSetting(const char* text) {
  if (text == nullptr) return {BaseSetting::Reading::Unset, ORVEX_FACTORY_BASE};
  const BaseSetting not_a_base{BaseSetting::Reading::NotABase, 0};
  if (text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) return not_a_base;
  unsigned base = 0;
  std::size_t digits = 0;
  for (const char* at = text + 2; *at != '\0'; ++at, ++digits) {
    const int digit = detail::HexDigit(*at);
    if (digit < 0 || digits == detail::MOST_HEX_DIGITS) return not_a_base;
    base = base * 16 + static_cast<unsigned>(digit);
  }
  if (digits == 0) return not_a_base;
  return {BaseSetting::Reading::Base, base};
}

}  // namespace orvex::card
