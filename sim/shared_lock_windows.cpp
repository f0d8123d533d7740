#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <memory>
#include <string>

#include "shared_lock.h"

namespace orvex::sim {
namespace {

// A named mutex, one kernel object for every process that opens the name.
class NamedMutex final : public StateLock {
 public:
  explicit NamedMutex(HANDLE mutex) : mutex_(mutex) {}
  ~NamedMutex() override { CloseHandle(mutex_); }

  // WAIT_ABANDONED: the holder died, in the middle of an access perhaps.
  // The mutex is ours all the same, and stays usable.
  void lock() override { (void)WaitForSingleObject(mutex_, INFINITE); }
  void unlock() override { ReleaseMutex(mutex_); }

 private:
  const HANDLE mutex_;
};

}  // namespace

// The mutex is a kernel object: nothing of it lives in the segment.
void PrepareSharedLock(SharedLockStorage&) {}

std::unique_ptr<StateLock> OpenSharedLock(SharedLockStorage&, const std::string& name) {
  const std::string full = "Local\\" + name;
  const std::wstring wide(full.begin(), full.end());  // the names are ASCII
  const HANDLE mutex = CreateMutexW(nullptr, FALSE, wide.c_str());
  if (mutex == nullptr) return nullptr;
  return std::make_unique<NamedMutex>(mutex);
}

}  // namespace orvex::sim
