#include "link/register_lock.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace orvex::link {
namespace {

// A ticket lock: each exchange draws a number and waits until it is served.
class TicketQueue {
 public:
  void Enter() {
    std::unique_lock lock(mutex_);
    const std::uint64_t ticket = next_ticket_++;
    turn_.wait(lock, [&] { return now_serving_ == ticket; });
  }

  void Leave() {
    {
      const std::lock_guard lock(mutex_);
      ++now_serving_;
    }
    turn_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable turn_;
  std::uint64_t next_ticket_ = 0;
  std::uint64_t now_serving_ = 0;
};

TicketQueue& RegisterQueue() {
  static TicketQueue queue;
  return queue;
}

}  // namespace

RegisterLock::RegisterLock() {
  RegisterQueue().Enter();
}

RegisterLock::~RegisterLock() {
  RegisterQueue().Leave();
}

}  // namespace orvex::link
