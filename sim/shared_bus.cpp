#include "shared_bus.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "shared_lock.h"

namespace orvex::sim {
namespace {

bool IsNameCharacter(char character) {
  return (character >= 'a' && character <= 'z') || (character >= 'A' && character <= 'Z') ||
         (character >= '0' && character <= '9') || character == '-' || character == '_';
}

}  // namespace

bool IsSharedBusName(std::string_view name) {
  return !name.empty() && name.size() <= kLongestSharedBusName &&
         std::all_of(name.begin(), name.end(), IsNameCharacter);
}

std::string SharedObjectName(std::string_view name) {
  return "orvexportio-sim-" + std::string(name);
}

bool IsSharedBusOfThisLayout(const void* bytes, std::uint64_t size) {
  if (size != sizeof(SharedBusState)) return false;
  SharedBusHeader header;
  std::memcpy(&header, bytes, sizeof header);
  return header.magic == SharedBusHeader::kMagic && header.version == SharedBusHeader::kVersion &&
         header.size == sizeof(SharedBusState);
}

// Only the parts before the slots are written: the slots' pages stay
// untouched, so an unused slot costs no memory.
void FillNewSharedBus(void* memory, Clock clock, std::uint64_t boot_stamp) {
  auto* state = static_cast<SharedBusState*>(memory);
  PrepareSharedLock(state->bus_lock);
  VirtualClock::StartShared(state->clock, clock);
  state->card_count = 0;
  for (SharedCardSlot& slot : state->slots) PrepareSharedLock(slot.lock);
  SharedBusHeader header;
  header.magic = SharedBusHeader::kMagic;
  header.version = SharedBusHeader::kVersion;
  header.size = sizeof(SharedBusState);
  header.boot_stamp = boot_stamp;
  std::memcpy(&state->header, &header, sizeof header);
}

}  // namespace orvex::sim
