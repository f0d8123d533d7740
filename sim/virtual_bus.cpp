#include "virtual_bus.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>

#include "card/bases.h"
#include "card/pc_devices.h"

namespace orvex::sim {
namespace {

constexpr Microseconds kEmptyBusAccessCost = VirtualController::kPortAccessCost;

bool Overlap(std::uint16_t base, const VirtualController& card) {
  return card.Decodes(base) || card.Decodes(static_cast<std::uint16_t>(base + 1));
}

// Where the eleven functions look for their card, judged as the library
// judges it; the factory base when the setting names no base.
std::uint16_t ElevensBase() {
  const card::BaseSetting setting = card::ReadBaseSetting(std::getenv(card::BASE_VARIABLE));
  if (setting.reading == card::BaseSetting::Reading::NotABase ||
      card::JudgeBase(setting.base) != card::BaseVerdict::Fine) {
    return ORVEX_FACTORY_BASE;
  }
  return static_cast<std::uint16_t>(setting.base);
}

}  // namespace

VirtualBus::VirtualBus(Clock clock) : clock_(clock) {}

VirtualController* VirtualBus::CardDecoding(std::uint16_t address) const {
  for (const auto& slot : cards_) {
    VirtualController* card = slot.load(std::memory_order_acquire);
    if (card == nullptr) return nullptr;
    if (card->Decodes(address)) return card;
  }
  return nullptr;
}

std::uint8_t VirtualBus::ReadPort(std::uint16_t address) {
  if (VirtualController* card = CardDecoding(address)) return card->ReadPort(address);
  clock_.Spend(kEmptyBusAccessCost);
  return kEmptyBus;
}

void VirtualBus::WritePort(std::uint16_t address, std::uint8_t value) {
  if (VirtualController* card = CardDecoding(address)) {
    card->WritePort(address, value);
    return;
  }
  clock_.Spend(kEmptyBusAccessCost);
}

VirtualController* VirtualBus::CardAt(std::uint16_t base) const {
  for (const auto& slot : cards_) {
    VirtualController* card = slot.load(std::memory_order_acquire);
    if (card == nullptr) return nullptr;
    if (card->Base() == base) return card;
  }
  return nullptr;
}

// Cards are only ever added, each into the first free slot, so a reader that
// meets an empty slot has seen every card.
VirtualController* VirtualBus::AddCard(std::uint16_t base) {
  if (card::JudgeBase(base) != card::BaseVerdict::Fine) return nullptr;
  const std::lock_guard lock(adding_);
  for (auto& slot : cards_) {
    VirtualController* card = slot.load(std::memory_order_acquire);
    if (card == nullptr) {
      card = new (std::nothrow) VirtualController(base, clock_);
      slot.store(card, std::memory_order_release);
      return card;
    }
    if (card->Base() == base) return card;
    if (Overlap(base, *card)) return nullptr;
  }
  return nullptr;
}

void VirtualBus::Reset() {
  clock_.Restart();
  for (const auto& slot : cards_) {
    VirtualController* card = slot.load(std::memory_order_acquire);
    if (card == nullptr) return;
    card->ResetCard();
  }
}

// Never destroyed: a host may end its process while other threads are still
// inside calls that use the bus.
VirtualBus& TheBus() {
  alignas(VirtualBus) static unsigned char storage[sizeof(VirtualBus)];
  static VirtualBus* const bus = [] {
    auto* made = new (storage) VirtualBus(ClockFromEnvironment());
    (void)made->AddCard(ElevensBase());
    return made;
  }();
  return *bus;
}

VirtualController& TheController() {
  static VirtualController* const card = TheBus().CardAt(ElevensBase());
  return *card;
}

}  // namespace orvex::sim
