#include <pthread.h>

#include <cerrno>
#include <memory>
#include <new>
#include <string>

#include "shared_lock.h"

namespace orvex::sim {
namespace {

static_assert(sizeof(pthread_mutex_t) <= sizeof(SharedLockStorage::bytes) &&
              alignof(pthread_mutex_t) <= alignof(SharedLockStorage));

pthread_mutex_t* MutexIn(SharedLockStorage& storage) {
  return std::launder(reinterpret_cast<pthread_mutex_t*>(storage.bytes.data()));
}

// A robust process-shared mutex in the shared segment.
class RobustMutex final : public StateLock {
 public:
  explicit RobustMutex(pthread_mutex_t* mutex) : mutex_(mutex) {}

  // EOWNERDEAD: the holder died, in the middle of an access perhaps. The
  // lock is ours; marking it consistent keeps it usable for everyone after.
  void lock() override {
    if (pthread_mutex_lock(mutex_) == EOWNERDEAD) pthread_mutex_consistent(mutex_);
  }
  void unlock() override { pthread_mutex_unlock(mutex_); }

 private:
  pthread_mutex_t* const mutex_;
};

}  // namespace

void PrepareSharedLock(SharedLockStorage& storage) {
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
  pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
  pthread_mutex_init(new (storage.bytes.data()) pthread_mutex_t, &attributes);
  pthread_mutexattr_destroy(&attributes);
}

std::unique_ptr<StateLock> OpenSharedLock(SharedLockStorage& storage, const std::string&) {
  return std::make_unique<RobustMutex>(MutexIn(storage));
}

}  // namespace orvex::sim
