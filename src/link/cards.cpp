// Every card of the process, in one list: found by base, and held together
// across fork().
#include <new>

#include "link/card.h"
#include "link/register_lock.h"
#include "port/machine_wide.h"
#include "port/threads.h"

namespace orvex::link {

// The list is only ever added to: a card lives as long as the process, so a
// thread still inside a call at exit or unloading has its card.
class CardList {
 public:
  Card* Find(unsigned base) const {
    for (Card* card = first_; card != nullptr; card = card->next_) {
      if (card->Base() == base) return card;
    }
    return nullptr;
  }

  void Add(Card& card) {
    card.next_ = first_;
    first_ = &card;
  }

  template <typename Action>
  void ForEach(Action action) const {
    for (Card* card = first_; card != nullptr; card = card->next_) action(*card);
  }

  port::QueueLock& Lock() { return lock_; }

 private:
  port::QueueLock lock_;
  Card* first_ = nullptr;
};

namespace {

// Never destroyed, as the cards in it are not.
CardList& Cards() {
  alignas(CardList) static unsigned char storage[sizeof(CardList)];
  static CardList* const cards = new (storage) CardList;
  return *cards;
}

// fork(): the forking thread holds every card's registers, once the
// exchange in flight on each is over, so that no line is cut in two between
// the processes, and the list, so that the child gets a consistent copy.
port::CancellationState cancellation_during_fork = 0;

void BeforeFork() {
  cancellation_during_fork = port::HoldOffCancellation();
  CardList& cards = Cards();
  cards.Lock().Lock();
  cards.ForEach([](Card& card) { HoldForFork(card.Queue()); });
}

void AfterForkInParent() {
  CardList& cards = Cards();
  cards.ForEach([](Card& card) { ReleaseAfterForkInParent(card.Queue()); });
  cards.Lock().Unlock();
  port::RestoreCancellation(cancellation_during_fork);
}

void AfterForkInChild() {
  CardList& cards = Cards();
  cards.ForEach([](Card& card) {
    ReleaseAfterForkInChild(card.Queue());
    port::ForgetProcessAfterFork(card.Ports());
  });
  cards.Lock().Unlock();
  port::RestoreCancellation(cancellation_during_fork);
}

void WatchForks() {
  static const bool watching =
      (port::CallAroundFork(BeforeFork, AfterForkInParent, AfterForkInChild), true);
  (void)watching;
}

}  // namespace

Card* CardAt(unsigned base) {
  WatchForks();
  CardList& cards = Cards();
  const port::HeldQueueLock held(cards.Lock());
  if (Card* card = cards.Find(base)) return card;
  Card* card = new (std::nothrow) Card(base);
  if (card != nullptr) cards.Add(*card);
  return card;
}

}  // namespace orvex::link
