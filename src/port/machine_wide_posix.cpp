// A card's machine-wide record on Linux: a file in shared memory (/dev/shm,
// or the folder ORVEXPORTIO_RECORD_DIR names) holding a robust,
// process-shared mutex (PTHREAD_PROCESS_SHARED with PTHREAD_MUTEX_ROBUST: the
// kernel hands a dead owner's mutex to the next locker with EOWNERDEAD) and
// the holder's identity beside the payload.
//
// Creation is race-free: a process that finds no record makes one under a
// name of its own, fills it in, and publishes it with link(2), which fails
// when another process published first; then it opens that one. So every
// record that can be opened is whole.
//
// Who may take part: the record is made readable and writable by its maker
// and by the group "orvex" where that group exists (the group a driver gives
// the card's device nodes), never by others. A record that others may write,
// or that belongs to neither root nor this user nor that group, is not used:
// its payload could otherwise make this process send a line it never meant.
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>

#include "port/machine_wide.h"
#include "port/platform.h"

namespace orvex::port {
namespace {

constexpr std::uint32_t RECORD_MAGIC = 0x4F525643;  // "ORVC"
constexpr std::uint32_t RECORD_VERSION = 2;
constexpr const char* RECORD_DIR_VARIABLE = "ORVEXPORTIO_RECORD_DIR";
constexpr const char* DEFAULT_RECORD_DIR = "/dev/shm";
constexpr const char* SHARING_GROUP = "orvex";
constexpr mode_t RECORD_MODE = 0660;
constexpr std::size_t PATH_CAPACITY = 512;

// The file's layout. Everything but the mutex is plain data of fixed width.
struct Record {
  std::atomic<std::uint32_t> magic;  // written before the record is published
  std::uint32_t version;
  std::uint32_t size;
  std::uint32_t reserved;
  pthread_mutex_t mutex;
  std::atomic<std::int32_t> holder_process;  // 0 while nobody holds the card
  std::atomic<std::int64_t> held_since_ns;   // on CLOCK_MONOTONIC_COARSE
  char holder_program[16];
  std::atomic<std::int32_t> holder_processor;
  std::atomic<std::uint64_t> claim;            // 0, or the waiter owed the next turn
  std::atomic<std::int64_t> claim_renewed_ns;  // on CLOCK_MONOTONIC
  alignas(16) unsigned char payload[SHARED_PAYLOAD_BYTES];
};

static_assert(std::atomic<std::int64_t>::is_always_lock_free &&
                  std::atomic<std::uint32_t>::is_always_lock_free,
              "the record's atomics must work across processes");

// Why a card is not shared, as CardSharing::problem keeps it.
enum Problem : int {
  NONE = 0,
  CANNOT_OPEN,
  STRANGERS_RECORD,
  OTHER_LAYOUT,
  CANNOT_LOCK,
  NO_NAME,
};

constexpr std::array<const char*, 6> PROBLEM_TEXTS = {
    nullptr,
    "its record could not be made or opened in shared memory (/dev/shm, or the folder "
    "ORVEXPORTIO_RECORD_DIR names)",
    "its record may be written by others than its maker and the group orvex, and is not used",
    "its record was made by another version of the library",
    "its record's lock is broken",
    "no other process can reach this card",
};

std::int64_t MonotonicNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

// When a hold began, noted at every hold: the coarse clock (a tick of a few
// milliseconds) costs a fraction of the precise one and tells "held for
// 5.2 s" as well. It also tells two holds of one process apart: a hold that
// outlasted a wait of a second began ticks before any later one.
std::int64_t CoarseMonotonicNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

// How a waiter waits: spin-then-park, the technique of an adaptive mutex.
// A holder on another processor lets the card go within a line's time, and
// a waiter that watches the holder's word takes it at once. Between watches
// it naps on a timer, never asleep on the lock itself: a sleeper there would
// cost the releasing holder a wake-up across processors (an interrupt; in a
// virtual machine a trip through the hypervisor) at every line, and nobody
// needs waking when nobody sleeps on the lock.
//
// Napping alone would let the processes that happen to be awake take turns
// while a napping one waits out its bound. So a waiter that has waited too
// long claims the next turn, as a mutex's starvation mode hands the lock to
// the waiter at the head of its queue: every other process, the releasing
// holder included, leaves the card to the claimant, and of the waiters that
// claim, the one that has waited longest is owed it. A claim its claimant
// does not renew (stopped, dead) lapses, and the others go on.
constexpr std::int64_t WATCH_NANOSECONDS = 100'000;
constexpr int LOOKS_BETWEEN_CLOCK_READS = 64;
constexpr std::int64_t FIRST_NAP_NANOSECONDS = 200'000;
constexpr std::int64_t LONGEST_NAP_NANOSECONDS = 1'000'000;
constexpr std::int64_t YOUNG_HOLD_NANOSECONDS = 10'000'000;
constexpr std::int64_t CLAIM_AFTER_NANOSECONDS = 2'000'000;
constexpr std::int64_t CLAIM_LAPSES_AFTER_NANOSECONDS = 5'000'000;

static_assert(CLAIM_LAPSES_AFTER_NANOSECONDS > WATCH_NANOSECONDS + LONGEST_NAP_NANOSECONDS,
              "a claimant renews its claim between a watch and a nap");

// Tells the processor this is a busy-wait loop (x86 PAUSE): the loop does
// not flood the memory bus and gives a sibling hyper-thread its turn.
inline void BusyWaitHint() {
#if defined(__i386__) || defined(__x86_64__)
  __builtin_ia32_pause();
#endif
}

void Nap(std::int64_t nanoseconds) {
  const timespec pause{0, static_cast<long>(nanoseconds)};
  nanosleep(&pause, nullptr);
}

const char* RecordDir() {
  const char* chosen = std::getenv(RECORD_DIR_VARIABLE);
  return chosen != nullptr && chosen[0] != '\0' ? chosen : DEFAULT_RECORD_DIR;
}

bool SharingGroup(gid_t& group) {
  std::array<char, 1024> buffer{};
  struct group* found = nullptr;
  struct group entry {};
  if (getgrnam_r(SHARING_GROUP, &entry, buffer.data(), buffer.size(), &found) != 0 ||
      found == nullptr) {
    return false;
  }
  group = entry.gr_gid;
  return true;
}

// Root's, this user's, or the sharing group's, and written by nobody else.
bool IsTrusted(const struct stat& status) {
  if ((status.st_mode & S_IWOTH) != 0) return false;
  if (status.st_uid == 0 || status.st_uid == geteuid()) return true;
  gid_t group = 0;
  return SharingGroup(group) && status.st_gid == group;
}

bool InitialiseMutex(pthread_mutex_t& mutex) {
  pthread_mutexattr_t attributes;
  if (pthread_mutexattr_init(&attributes) != 0) return false;
  const bool made = pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED) == 0 &&
                    pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST) == 0 &&
                    pthread_mutex_init(&mutex, &attributes) == 0;
  (void)pthread_mutexattr_destroy(&attributes);
  return made;
}

Record* Map(int descriptor) {
  void* mapped = mmap(nullptr, sizeof(Record), PROT_READ | PROT_WRITE, MAP_SHARED, descriptor, 0);
  return mapped == MAP_FAILED ? nullptr : static_cast<Record*>(mapped);
}

// Makes a whole record under a name of this process's own and publishes it at
// `path`. False when another process published first (or nothing could be
// made): the caller opens what is there.
bool Publish(const char* path) {
  std::array<char, PATH_CAPACITY + 32> draft{};
  static std::atomic<unsigned> drafts{0};
  if (std::snprintf(draft.data(), draft.size(), "%.*s.%d.%u", static_cast<int>(PATH_CAPACITY), path,
                    static_cast<int>(getpid()), drafts.fetch_add(1)) < 0) {
    return false;
  }
  const int descriptor =
      open(draft.data(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, RECORD_MODE);
  if (descriptor < 0) return false;
  gid_t group = 0;
  if (SharingGroup(group)) (void)!fchown(descriptor, static_cast<uid_t>(-1), group);
  (void)fchmod(descriptor, RECORD_MODE);  // whatever the umask
  Record* record = ftruncate(descriptor, sizeof(Record)) == 0 ? Map(descriptor) : nullptr;
  close(descriptor);
  bool published = false;
  if (record != nullptr && InitialiseMutex(record->mutex)) {
    record->version = RECORD_VERSION;
    record->size = sizeof(Record);
    record->magic.store(RECORD_MAGIC, std::memory_order_release);
    published = link(draft.data(), path) == 0;
  }
  if (record != nullptr) munmap(record, sizeof(Record));
  unlink(draft.data());
  return published;
}

// Opens the record at `path`; nullptr with the problem when it is not one to use.
Record* OpenRecord(const char* path, Problem& problem) {
  int descriptor = open(path, O_RDWR | O_CLOEXEC | O_NOFOLLOW);
  if (descriptor < 0 && errno == ENOENT) {
    (void)Publish(path);
    descriptor = open(path, O_RDWR | O_CLOEXEC | O_NOFOLLOW);
  }
  problem = CANNOT_OPEN;
  if (descriptor < 0) return nullptr;
  struct stat status {};
  Record* record = nullptr;
  if (fstat(descriptor, &status) != 0) {
    problem = CANNOT_OPEN;
  } else if (!IsTrusted(status)) {
    problem = STRANGERS_RECORD;
  } else if (status.st_size != static_cast<off_t>(sizeof(Record))) {
    problem = OTHER_LAYOUT;
  } else {
    record = Map(descriptor);
  }
  close(descriptor);
  if (record == nullptr) return nullptr;
  if (record->magic.load(std::memory_order_acquire) != RECORD_MAGIC ||
      record->version != RECORD_VERSION || record->size != sizeof(Record)) {
    munmap(record, sizeof(Record));
    problem = OTHER_LAYOUT;
    return nullptr;
  }
  problem = NONE;
  return record;
}

// The card's record, opened on its first use and kept for the life of the
// process; nullptr when the card is not shared. Two threads that open it at
// once both map it; the first to note it keeps its mapping.
Record* RecordOf(const CardPorts& card) {
  CardSharing& sharing = card.Sharing();
  if (void* record = sharing.record.load(std::memory_order_acquire)) {
    return static_cast<Record*>(record);
  }
  if (sharing.problem.load(std::memory_order_acquire) != NONE) return nullptr;
  const char* name = sharing.name;
  if (name[0] == '\0') {
    sharing.problem.store(NO_NAME, std::memory_order_release);
    return nullptr;
  }
  std::array<char, PATH_CAPACITY> path{};
  std::snprintf(path.data(), path.size(), "%s/orvexportio-%s", RecordDir(), name);
  Problem problem = NONE;
  Record* record = OpenRecord(path.data(), problem);
  if (record == nullptr) {
    sharing.problem.store(problem, std::memory_order_release);
    return nullptr;
  }
  void* expected = nullptr;
  if (!sharing.record.compare_exchange_strong(expected, record, std::memory_order_acq_rel)) {
    munmap(record, sizeof(Record));
    return static_cast<Record*>(expected);
  }
  return record;
}

// getpid() is a system call each time: asked once per process and card.
std::int32_t ThisProcess(CardSharing& sharing) {
  std::int32_t process = sharing.process.load(std::memory_order_relaxed);
  if (process == 0) {
    process = static_cast<std::int32_t>(getpid());
    sharing.process.store(process, std::memory_order_relaxed);
  }
  return process;
}

void NoteHolder(Record& record, CardSharing& sharing) {
  std::strncpy(record.holder_program, program_invocation_short_name,
               sizeof(record.holder_program) - 1);
  record.held_since_ns.store(CoarseMonotonicNanoseconds(), std::memory_order_relaxed);
  record.holder_processor.store(sched_getcpu(), std::memory_order_relaxed);
  record.holder_process.store(ThisProcess(sharing), std::memory_order_release);
}

bool ProcessIsThere(std::int32_t process) {
  return kill(static_cast<pid_t>(process), 0) == 0 || errno != ESRCH;
}

// A claim in one word, so that it changes whole: the process's id, and
// since when it waits, in milliseconds on the steady clock (the low 32 bits:
// they wrap after 49 days, and are compared as a difference).
struct Claim {
  std::int32_t process = 0;
  std::uint32_t waiting_since_ms = 0;

  static Claim Of(std::uint64_t word) {
    return {static_cast<std::int32_t>(word & 0xFFFF'FFFFU), static_cast<std::uint32_t>(word >> 32)};
  }
  std::uint64_t Word() const {
    return (std::uint64_t{waiting_since_ms} << 32) | static_cast<std::uint32_t>(process);
  }
  bool WaitedLongerThan(const Claim& other) const {
    return static_cast<std::int32_t>(waiting_since_ms - other.waiting_since_ms) < 0;
  }
};

bool ClaimLapsed(const Record& record, std::int64_t now) {
  return now - record.claim_renewed_ns.load(std::memory_order_relaxed) >=
         CLAIM_LAPSES_AFTER_NANOSECONDS;
}

// Whether this process may try the lock now: no claim stands, or it is this
// process's own, or its claimant has let it lapse.
bool MayTry(const Record& record, std::int32_t self) {
  const std::uint64_t word = record.claim.load(std::memory_order_acquire);
  if (word == 0 || Claim::Of(word).process == self) return true;
  return ClaimLapsed(record, MonotonicNanoseconds());
}

// Claims the next turn for this process, waiting since `began`, or renews
// its claim. The waiter that has waited longest is owed the turn (first
// come, first served among the waiters that waited too long): a claim of
// one that waited longer, and renews it, stands.
void ClaimNextTurn(Record& record, std::int32_t self, std::int64_t began, std::int64_t now) {
  const Claim mine{self, static_cast<std::uint32_t>(began / 1'000'000)};
  std::uint64_t word = record.claim.load(std::memory_order_acquire);
  for (;;) {
    if (word != 0 && word != mine.Word() && !ClaimLapsed(record, now) &&
        !mine.WaitedLongerThan(Claim::Of(word))) {
      return;
    }
    record.claim_renewed_ns.store(now, std::memory_order_relaxed);
    if (word == mine.Word() ||
        record.claim.compare_exchange_weak(word, mine.Word(), std::memory_order_acq_rel)) {
      return;
    }
  }
}

void LetClaimGo(Record& record, std::int32_t self) {
  std::uint64_t word = record.claim.load(std::memory_order_acquire);
  if (word != 0 && Claim::Of(word).process == self) {
    (void)record.claim.compare_exchange_strong(word, 0, std::memory_order_acq_rel);
  }
}

// A hold of a few lines' time at most: one held for longer is stopped, or
// drives a slow controller, and is not about to end.
bool HoldIsYoung(const Record& record) {
  return CoarseMonotonicNanoseconds() - record.held_since_ns.load(std::memory_order_relaxed) <
         YOUNG_HOLD_NANOSECONDS;
}

// Whether the holder is about to let the card go, as far as a waiter can
// tell: it runs on another processor (one on this processor cannot run
// while this waiter watches) and its hold is young.
bool WorthWatching(const Record& record) {
  return record.holder_processor.load(std::memory_order_relaxed) != sched_getcpu() &&
         HoldIsYoung(record);
}

// Watches the holder's word for one watch and tries the lock whenever it
// reads free. True with the try's outcome once the lock was tried and not
// found busy. Only reads between tries, so the holder keeps its cache line.
bool TakenWhileWatching(Record& record, std::int32_t self, int& outcome) {
  const std::int64_t until = MonotonicNanoseconds() + WATCH_NANOSECONDS;
  do {
    for (int look = 0; look < LOOKS_BETWEEN_CLOCK_READS; ++look) {
      if (record.holder_process.load(std::memory_order_relaxed) == 0 && MayTry(record, self)) {
        outcome = pthread_mutex_trylock(&record.mutex);
        if (outcome != EBUSY) return true;
      }
      BusyWaitHint();
    }
  } while (MonotonicNanoseconds() < until);
  return false;
}

// Waits for the lock for at most `seconds`, on the steady clock: 0 or
// EOWNERDEAD once it is this thread's, ETIMEDOUT, or the lock's error. Only
// ever tries the lock, never sleeps on it, so ThreadSanitizer, which follows
// a try-lock's outcomes (EOWNERDEAD included), follows this one too.
int WaitForCard(Record& record, std::int32_t self, double seconds) {
  const std::int64_t began = MonotonicNanoseconds();
  const std::int64_t deadline = began + static_cast<std::int64_t>(seconds * 1e9);
  std::int64_t nap = FIRST_NAP_NANOSECONDS;
  for (;;) {
    int outcome = EBUSY;
    if (WorthWatching(record) && TakenWhileWatching(record, self, outcome)) return outcome;
    // A holder that died leaves its word set: the lock tells.
    if (MayTry(record, self)) {
      outcome = pthread_mutex_trylock(&record.mutex);
      if (outcome != EBUSY) return outcome;
    }
    const std::int64_t now = MonotonicNanoseconds();
    if (now >= deadline) return ETIMEDOUT;
    if (now - began >= CLAIM_AFTER_NANOSECONDS) {
      // The card waits for its claimant, which does not nap while the hold
      // is young: it lets a holder on its own processor run, and watches.
      ClaimNextTurn(record, self, began, now);
      nap = FIRST_NAP_NANOSECONDS;
      if (HoldIsYoung(record)) {
        (void)sched_yield();
        continue;
      }
    }
    Nap(std::min(nap, deadline - now));
    nap = std::min(nap * 2, LONGEST_NAP_NANOSECONDS);
  }
}

}  // namespace

MachineHold HoldCard(const CardPorts& card, double wait_seconds) {
  Record* record = RecordOf(card);
  if (record == nullptr) return MachineHold::NotShared;
  CardSharing& sharing = card.Sharing();
  const std::int32_t self = ThisProcess(sharing);
  int outcome = MayTry(*record, self) ? pthread_mutex_trylock(&record->mutex) : EBUSY;
  if (outcome == EBUSY) {
    if (sharing.GaveUpTo(record->holder_process.load(std::memory_order_acquire),
                         record->held_since_ns.load(std::memory_order_relaxed))) {
      return MachineHold::HeldElsewhere;
    }
    outcome = WaitForCard(*record, self, wait_seconds);
    LetClaimGo(*record, self);
    if (outcome == ETIMEDOUT) {
      sharing.NoteGaveUp(record->holder_process.load(std::memory_order_acquire),
                         record->held_since_ns.load(std::memory_order_relaxed));
      return MachineHold::HeldElsewhere;
    }
  }
  const bool from_the_dead = outcome == EOWNERDEAD;
  if (from_the_dead) outcome = pthread_mutex_consistent(&record->mutex);
  if (outcome != 0) {
    sharing.problem.store(CANNOT_LOCK, std::memory_order_release);
    return MachineHold::NotShared;
  }
  NoteHolder(*record, sharing);
  return from_the_dead ? MachineHold::TakenFromTheDead : MachineHold::Taken;
}

void ReleaseCard(const CardPorts& card) {
  Record* record = static_cast<Record*>(card.Sharing().record.load(std::memory_order_acquire));
  if (record == nullptr) return;
  record->holder_process.store(0, std::memory_order_release);
  (void)pthread_mutex_unlock(&record->mutex);
}

void ForgetProcessAfterFork(const CardPorts& card) {
  card.Sharing().process.store(0, std::memory_order_relaxed);
}

std::span<unsigned char> SharedPayload(const CardPorts& card) {
  Record* record = static_cast<Record*>(card.Sharing().record.load(std::memory_order_acquire));
  if (record == nullptr) return {};
  return record->payload;
}

CardHolder HolderOf(const CardPorts& card) {
  CardHolder holder;
  const Record* record = RecordOf(card);
  if (record == nullptr) return holder;
  holder.process = record->holder_process.load(std::memory_order_acquire);
  // A holder that died is no longer there to hold anything: the next
  // exchange finishes its line.
  holder.held = holder.process != 0 && ProcessIsThere(holder.process);
  if (!holder.held) return holder;
  std::memcpy(holder.program, record->holder_program, sizeof(holder.program) - 1);
  const std::int64_t since = record->held_since_ns.load(std::memory_order_relaxed);
  holder.held_seconds = static_cast<double>(CoarseMonotonicNanoseconds() - since) / 1e9;
  return holder;
}

const char* SharingProblem(const CardPorts& card) {
  return card.Sharing().ProblemText(PROBLEM_TEXTS);
}

}  // namespace orvex::port
