#include "commands/cards.h"

#include <cstdlib>

#include "card/bases.h"
#include "link/card.h"
#include "orvexportio.h"

namespace orvex::commands {
namespace {

// ORVEXPORTIO_BASE, read once, when the library is loaded: a host cannot
// move the eleven in the middle of its run.
const card::BaseSetting ELEVENS_SETTING = card::ReadBaseSetting(std::getenv(card::BASE_VARIABLE));

int Refusal(card::BaseVerdict verdict) {
  switch (verdict) {
    case card::BaseVerdict::Fine:
      return ORVEX_SUCCESS;
    case card::BaseVerdict::HitsDevice:
      return ORVEX_ERROR_BASE_DEVICE;
    case card::BaseVerdict::OutOfRange:
      return ORVEX_ERROR_BASE_RANGE;
  }
  return ORVEX_ERROR_BASE_RANGE;
}

link::Card* MakeElevensCard() {
  unsigned base = 0;
  if (BaseOfTheEleven(base) != ORVEX_SUCCESS) return nullptr;
  int error = ORVEX_SUCCESS;
  return OpenCard(base, error);
}

// Made when the library is loaded, so that no call of the eleven allocates.
link::Card* const ELEVENS_CARD = MakeElevensCard();

}  // namespace

int BaseOfTheEleven(unsigned& base) {
  base = ELEVENS_SETTING.base;
  if (ELEVENS_SETTING.reading == card::BaseSetting::Reading::NotABase) {
    return ORVEX_ERROR_BASE_SETTING;
  }
  return Refusal(card::JudgeBase(base));
}

link::Card* CardOfTheEleven() {
  return ELEVENS_CARD;
}

link::Card* OpenCard(unsigned base, int& error) {
  error = Refusal(card::JudgeBase(base));
  if (error != ORVEX_SUCCESS) return nullptr;
  link::Card* card = link::CardAt(base);
  if (card == nullptr) error = ORVEX_ERROR_MEMORY;
  return card;
}

}  // namespace orvex::commands
