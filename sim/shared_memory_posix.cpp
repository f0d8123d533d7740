#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "shared_memory.h"

namespace orvex::sim {
namespace {

// Where Linux keeps the shared memory objects, which link(2) needs to see
// as files.
constexpr std::string_view kObjectFolder = "/dev/shm";
constexpr int kAttempts = 4;

std::string ObjectName(std::string_view name) {
  return "/" + SharedObjectName(name);
}

std::string FileOf(const std::string& object) {
  return std::string(kObjectFolder) + object;
}

std::string Failed(const char* step) {
  return std::string(step) + ": " + std::strerror(errno);
}

// A temporary name no other creator uses: this process's id and a count.
std::string TemporaryName(const std::string& object) {
  static std::atomic<unsigned> made{0};
  return object + ".new-" + std::to_string(::getpid()) + "-" + std::to_string(++made);
}

void* MapWhole(int descriptor) {
  void* memory =
      ::mmap(nullptr, sizeof(SharedBusState), PROT_READ | PROT_WRITE, MAP_SHARED, descriptor, 0);
  return memory == MAP_FAILED ? nullptr : memory;
}

// The bus published under `object`: it was whole when published, so only
// its layout remains to be judged.
SharedBusState* MapPublished(int descriptor, std::string& why) {
  struct stat status {};
  if (::fstat(descriptor, &status) != 0) {
    why = Failed("fstat");
    return nullptr;
  }
  const auto size = static_cast<std::uint64_t>(status.st_size);
  void* memory = size == sizeof(SharedBusState) ? MapWhole(descriptor) : nullptr;
  if (memory != nullptr && IsSharedBusOfThisLayout(memory, size)) {
    return static_cast<SharedBusState*>(memory);
  }
  if (memory != nullptr) ::munmap(memory, sizeof(SharedBusState));
  why = "it holds a virtual bus of another layout (another version of the library)";
  return nullptr;
}

enum class Creation { Made, Lost, Failed };

// Fills a bus under a temporary name, then publishes it under `object`
// with link(2), which never replaces a bus another creator published first.
Creation CreateAndPublish(const std::string& object, Clock clock, SharedBusState*& made,
                          std::string& why) {
  const std::string temporary = TemporaryName(object);
  const int descriptor = ::shm_open(temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (descriptor < 0) {
    why = Failed("shm_open");
    return Creation::Failed;
  }
  void* memory = nullptr;
  if (::ftruncate(descriptor, sizeof(SharedBusState)) == 0) memory = MapWhole(descriptor);
  if (memory == nullptr) why = Failed("ftruncate or mmap");
  ::close(descriptor);
  Creation outcome = Creation::Failed;
  if (memory != nullptr) {
    FillNewSharedBus(memory, clock, 0);
    if (::link(FileOf(temporary).c_str(), FileOf(object).c_str()) == 0) {
      outcome = Creation::Made;
    } else {
      outcome = errno == EEXIST ? Creation::Lost : Creation::Failed;
      if (outcome == Creation::Failed) why = Failed("link");
      ::munmap(memory, sizeof(SharedBusState));
      memory = nullptr;
    }
  }
  ::shm_unlink(temporary.c_str());
  made = static_cast<SharedBusState*>(memory);
  return outcome;
}

}  // namespace

SharedBusState* MapSharedBus(std::string_view name, Clock clock, std::string& why) {
  const std::string object = ObjectName(name);
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    const int descriptor = ::shm_open(object.c_str(), O_RDWR | O_CLOEXEC, 0);
    if (descriptor >= 0) {
      SharedBusState* state = MapPublished(descriptor, why);
      ::close(descriptor);
      return state;
    }
    if (errno != ENOENT) {
      why = Failed("shm_open");
      return nullptr;
    }
    SharedBusState* made = nullptr;
    const Creation creation = CreateAndPublish(object, clock, made, why);
    if (creation != Creation::Lost) return made;
    // Another process published its bus first (and someone may have removed
    // it since): open what is there now.
  }
  why = "it was made and removed again, over and over";
  return nullptr;
}

bool RemoveSharedBus(std::string_view name) {
  return ::shm_unlink(ObjectName(name).c_str()) == 0;
}

}  // namespace orvex::sim
