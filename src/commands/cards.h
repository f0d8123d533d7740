// The cards the exports drive: the one of the eleven functions, and those a
// host opens by base.
#pragma once

#include "commands/axis.h"
#include "link/card.h"

namespace orvex::commands {

// The card the eleven functions drive: at 0x340, or where ORVEXPORTIO_BASE
// put it when the library was loaded. nullptr when the setting names no base
// a card may sit at (or no room could be made): the eleven then report
// time-outs without touching any port.
link::Card* CardOfTheEleven();

// The base of the eleven's card, into `base`, and ORVEX_SUCCESS; or why the
// setting was refused, with the value refused (0 when it was no number).
int BaseOfTheEleven(unsigned& base);

// The card at `base`, shared by every caller that asks for that base; nullptr
// with the reason in `error` (an ORVEX_ERROR_ code) when no card may sit
// there or no room could be made.
link::Card* OpenCard(unsigned base, int& error);

// An exported result: 1 or 0 for `command` on the addressed axes of the
// eleven's card, with a card that cannot be reached reporting 0, having
// touched no port; an axis code that addresses no axis comes back as itself.
template <typename Command>
int OnElevensCard(signed char axis, Command command) {
  link::Card* card = CardOfTheEleven();
  return ResultForAxisCode(
      axis, [&](signed char addressed) { return card != nullptr && command(*card, addressed); });
}

}  // namespace orvex::commands
