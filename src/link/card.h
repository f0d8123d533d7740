// One card as the link drives it: where its registers sit, and the turns the
// threads of this process take at them. Passed down from the exports with
// every line.
#pragma once

#include <atomic>

#include "link/exchange_record.h"
#include "link/register_lock.h"
#include "port/platform.h"

namespace orvex::link {

// On cache lines of its own, so that threads driving two cards at once share
// nothing.
class alignas(64) Card {
 public:
  explicit Card(unsigned base) : ports_(static_cast<port::PortAddress>(base)) {}
  Card(const Card&) = delete;
  Card& operator=(const Card&) = delete;

  unsigned Base() const { return static_cast<unsigned>(ports_.Base()); }
  const port::CardPorts& Ports() const { return ports_; }
  RegisterQueue& Queue() { return queue_; }
  // Where the exchange in flight is noted while no other process shares the
  // card.
  ExchangeRecord& OwnRecord() { return own_record_; }
  // Names the card's machine-wide record once, when it is first needed (by
  // then a virtual controller's build knows whether its bus is shared).
  void NameRecordOnce() {
    if (record_named_.load(std::memory_order_acquire)) return;
    const port::HeldQueueLock held(queue_.lock);
    if (record_named_.load(std::memory_order_relaxed)) return;
    if (!port::MachineWideName(ports_, ports_.Sharing().name)) ports_.Sharing().name[0] = '\0';
    record_named_.store(true, std::memory_order_release);
  }

 private:
  friend class CardList;
  port::CardPorts ports_;
  RegisterQueue queue_;
  ExchangeRecord own_record_{};
  std::atomic<bool> record_named_{false};  // set under the queue's lock
  Card* next_ = nullptr;  // in the list of every card of the process
};

// The card at `base`, made on first use and kept for the life of the
// process: every caller asking for one base gets the same card, and so one
// queue. nullptr when no room could be made for it. The base must be one a
// card may sit at (card/bases.h); nothing here looks at it.
Card* CardAt(unsigned base);

}  // namespace orvex::link
