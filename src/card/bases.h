// Where a card may sit, and the setting that moves the eleven functions to
// another base. Shared by the library and its diagnosis, so both judge a
// base alike.
#pragma once

namespace orvex::card {

// Why a card's registers (base and base + 1) may not sit at `base`: the
// standard PC device they would overlap, or that they would leave the ports
// left to add-in cards.
enum class BaseVerdict {
  Fine,
  HitsDevice,  // BaseConflict names the device
  OutOfRange,  // not within 0x100-0x3FF
};

BaseVerdict JudgeBase(unsigned base);

// The device a card at `base` would overlap, or the range it would leave, as
// a static text; nullptr when a card may sit there.
const char* BaseConflict(unsigned base);

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
BaseSetting ReadBaseSetting(const char* text);

}  // namespace orvex::card
