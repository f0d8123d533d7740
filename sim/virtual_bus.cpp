#include "virtual_bus.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "card/bases.h"
#include "card/pc_devices.h"
#include "shared_lock.h"
#include "shared_memory.h"

namespace orvex::sim {
namespace {

constexpr Microseconds kEmptyBusAccessCost = VirtualController::kPortAccessCost;

bool Overlap(std::uint16_t base, const VirtualController& card) {
  return card.Decodes(base) || card.Decodes(static_cast<std::uint16_t>(base + 1));
}

std::atomic_ref<std::uint32_t> Atomic(std::uint32_t& value) {
  return std::atomic_ref<std::uint32_t>(value);
}

// The name of each lock of a shared bus.
std::string LockName(std::string_view bus, const std::string& lock) {
  return SharedObjectName(bus) + "-" + lock;
}

}  // namespace

VirtualBus::VirtualBus(Clock clock)
    : adding_(std::make_unique<ProcessLock>()), clock_(clock), card_count_(own_card_count_) {}

VirtualBus::VirtualBus(Shared shared)
    : shared_(&shared.state),
      shared_name_(std::move(shared.name)),
      adding_(std::move(shared.bus_lock)),
      clock_(shared.state.clock, *adding_),
      card_count_(shared.state.card_count) {}

std::unique_ptr<VirtualBus> VirtualBus::OnShared(SharedBusState& shared, std::string_view name) {
  std::unique_ptr<StateLock> bus_lock = OpenSharedLock(shared.bus_lock, LockName(name, "bus"));
  if (!bus_lock) return nullptr;
  std::unique_ptr<VirtualBus> bus(
      new VirtualBus(Shared{shared, std::string(name), std::move(bus_lock)}));
  for (std::size_t slot = 0; slot < kMostCards; ++slot) {
    SharedCardSlot& card = shared.slots[slot];
    std::unique_ptr<StateLock> lock =
        OpenSharedLock(card.lock, LockName(name, "card" + std::to_string(slot)));
    if (!lock) return nullptr;
    bus->cards_[slot].store(new VirtualController(card.Card(), std::move(lock), bus->clock_),
                            std::memory_order_release);
  }
  return bus;
}

std::uint32_t VirtualBus::CardCount() const {
  return Atomic(card_count_).load(std::memory_order_acquire);
}

VirtualController* VirtualBus::CardDecoding(std::uint16_t address) const {
  const std::uint32_t count = CardCount();
  for (std::uint32_t slot = 0; slot < count; ++slot) {
    VirtualController* card = cards_[slot].load(std::memory_order_acquire);
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
  const std::uint32_t count = CardCount();
  for (std::uint32_t slot = 0; slot < count; ++slot) {
    VirtualController* card = cards_[slot].load(std::memory_order_acquire);
    if (card->Base() == base) return card;
  }
  return nullptr;
}

// A shared bus's slot gets its card's state made in place; a bus of the
// process's own makes the card.
VirtualController* VirtualBus::PutCardInSlot(std::size_t slot, std::uint16_t base) {
  if (shared_ != nullptr) {
    new (shared_->slots[slot].card.data()) CardState(base);
    return cards_[slot].load(std::memory_order_acquire);
  }
  auto* card = new (std::nothrow) VirtualController(base, clock_);
  cards_[slot].store(card, std::memory_order_release);
  return card;
}

// Cards are only ever added, each into the first free slot, and counted
// once in place, so a reader sees whole cards only.
VirtualController* VirtualBus::AddCard(std::uint16_t base) {
  if (card::JudgeBase(base) != card::BaseVerdict::Fine) return nullptr;
  const std::lock_guard lock(*adding_);
  const std::uint32_t count = CardCount();
  for (std::uint32_t slot = 0; slot < count; ++slot) {
    VirtualController* card = cards_[slot].load(std::memory_order_acquire);
    if (card->Base() == base) return card;
    if (Overlap(base, *card)) return nullptr;
  }
  if (count == kMostCards) return nullptr;
  VirtualController* card = PutCardInSlot(count, base);
  if (card != nullptr) Atomic(card_count_).store(count + 1, std::memory_order_release);
  return card;
}

void VirtualBus::Reset() {
  clock_.Restart();
  const std::uint32_t count = CardCount();
  for (std::uint32_t slot = 0; slot < count; ++slot) {
    cards_[slot].load(std::memory_order_acquire)->ResetCard();
  }
}

// ---- The bus behind the ports -------------------------------------------------

namespace {

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

// A bus with the eleven functions' card on it. Made once per bus and never
// destroyed: a host may end its process while other threads are still
// inside calls that use the bus.
struct Installed {
  VirtualBus* bus;
  VirtualController* eleven_card;
};

std::atomic<const Installed*> installed_bus{nullptr};

const Installed* Install(VirtualBus* bus) {
  VirtualController* card = bus->AddCard(ElevensBase());
  if (card == nullptr) return nullptr;
  return new Installed{bus, card};
}

// The shared buses this process has mapped, by name, so that sharing a name
// twice gives the same bus.
std::mutex sharing;
std::vector<const Installed*>& SharedBuses() {
  static auto* const buses = new std::vector<const Installed*>;
  return *buses;
}

// Under `sharing`.
const Installed* InstallShared(std::string_view name, std::string& why) {
  if (!IsSharedBusName(name)) {
    why = "not a name for a shared virtual bus (1 to 32 letters, digits, - and _)";
    return nullptr;
  }
  for (const Installed* bus : SharedBuses()) {
    if (bus->bus->SharedName() == name) return bus;
  }
  SharedBusState* state = MapSharedBus(name, ClockFromEnvironment(), why);
  if (state == nullptr) return nullptr;
  std::unique_ptr<VirtualBus> bus = VirtualBus::OnShared(*state, name);
  if (!bus) {
    why = "its locks cannot be opened";
    return nullptr;
  }
  const Installed* installed = Install(bus.get());
  if (installed == nullptr) {
    why = "a card there overlaps the eleven functions' card, or it holds 16 cards already";
    return nullptr;
  }
  (void)bus.release();
  SharedBuses().push_back(installed);
  return installed;
}

// The bus of first use: the one the environment asks to share, or one of the
// process's own.
const Installed* InstallFirst() {
  if (const char* name = std::getenv(kSharedBusVariable); name != nullptr && *name != '\0') {
    const std::lock_guard lock(sharing);
    std::string why;
    if (const Installed* shared = InstallShared(name, why)) return shared;
    std::fprintf(stderr,
                 "orvexportio-sim: %s=%s: no shared virtual bus by that name: %s; "
                 "this process has a virtual bus of its own\n",
                 kSharedBusVariable, name, why.c_str());
  }
  alignas(VirtualBus) static unsigned char storage[sizeof(VirtualBus)];
  return Install(new (storage) VirtualBus(ClockFromEnvironment()));
}

const Installed& TheInstalledBus() {
  if (const Installed* bus = installed_bus.load(std::memory_order_acquire)) return *bus;
  static const Installed* const first = [] {
    const Installed* bus = InstallFirst();
    const Installed* none = nullptr;
    installed_bus.compare_exchange_strong(none, bus, std::memory_order_acq_rel);
    return bus;
  }();
  (void)first;
  return *installed_bus.load(std::memory_order_acquire);
}

}  // namespace

VirtualBus& TheBus() {
  return *TheInstalledBus().bus;
}

VirtualController& TheController() {
  return *TheInstalledBus().eleven_card;
}

bool ShareTheBus(std::string_view name, std::string& why) {
  (void)TheInstalledBus();  // the environment's choice comes first
  const std::lock_guard lock(sharing);
  const Installed* shared = InstallShared(name, why);
  if (shared == nullptr) return false;
  installed_bus.store(shared, std::memory_order_release);
  return true;
}

}  // namespace orvex::sim
