// The kernel stand-in itself, before anything rests on it: grants per thread
// and inherited by new threads, the four port instruction forms, the end of
// a process that uses a port it was not granted, faults that stay crashes,
// and /dev/port within its access mode.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/io.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <thread>

#include "child_process.h"

namespace orvex::card_paths {
namespace {

constexpr std::uint16_t kData = 0x340;
constexpr std::uint16_t kHandshake = 0x341;
constexpr std::uint8_t kReady = 0x80;

std::uint8_t InFromDx(std::uint16_t port) {
  std::uint8_t value = 0;
  asm volatile("inb %w1, %b0" : "=a"(value) : "d"(port));
  return value;
}

void OutToDx(std::uint16_t port, std::uint8_t value) {
  asm volatile("outb %b0, %w1" : : "a"(value), "d"(port));
}

std::uint8_t InFromPort0x80() {
  std::uint8_t value = 0;
  asm volatile("inb $0x80, %b0" : "=a"(value));
  return value;
}

void OutToPort0x80(std::uint8_t value) {
  asm volatile("outb %b0, $0x80" : : "a"(value));
}

bool KilledWithMessageFor(const ChildOutcome& outcome, const std::string& port) {
  return KilledBySegmentationFault(outcome) &&
         outcome.error_output.find("on port " + port) != std::string::npos &&
         outcome.error_output.find("holds no ioperm grant") != std::string::npos;
}

TEST(KernelStandIn, PortInstructionWithoutAGrantEndsTheProcessWithAMessage) {
  const ChildOutcome outcome =
      RunInChild(PortRoute::Instructions, [] { (void)InFromDx(kHandshake); });
  EXPECT_TRUE(KilledWithMessageFor(outcome, "0x0341")) << outcome.error_output;
}

TEST(KernelStandIn, GrantCoversOnlyThePortsAsked) {
  const ChildOutcome outcome = RunInChild(PortRoute::Instructions, [] {
    ASSERT_EQ(ioperm(kData, 2, 1), 0);
    (void)InFromDx(kHandshake);
    OutToDx(0x342, 1);
  });
  EXPECT_TRUE(KilledWithMessageFor(outcome, "0x0342")) << outcome.error_output;
}

TEST(KernelStandIn, GrantTakenBackEndsTheNextAccess) {
  const ChildOutcome outcome = RunInChild(PortRoute::Instructions, [] {
    ASSERT_EQ(ioperm(kData, 2, 1), 0);
    (void)InFromDx(kHandshake);
    ASSERT_EQ(ioperm(kHandshake, 1, 0), 0);
    (void)InFromDx(kData);
    (void)InFromDx(kHandshake);
  });
  EXPECT_TRUE(KilledWithMessageFor(outcome, "0x0341")) << outcome.error_output;
}

TEST(KernelStandIn, NewThreadStartsWithItsCreatorsGrant) {
  ExpectPassed(RunInChild(PortRoute::Instructions, [] {
    ASSERT_EQ(ioperm(kData, 2, 1), 0);
    std::uint8_t seen = 0;
    std::thread([&] { seen = InFromDx(kHandshake); }).join();
    EXPECT_EQ(seen, kReady);
  }));
}

TEST(KernelStandIn, GrantOfAnotherThreadIsNotShared) {
  const ChildOutcome outcome = RunInChild(PortRoute::Instructions, [] {
    std::thread([] { ASSERT_EQ(ioperm(kData, 2, 1), 0); }).join();
    (void)InFromDx(kData);
  });
  EXPECT_TRUE(KilledWithMessageFor(outcome, "0x0340")) << outcome.error_output;
}

TEST(KernelStandIn, EveryByteFormReachesTheController) {
  ExpectPassed(RunInChild(PortRoute::Instructions, [] {
    ASSERT_EQ(ioperm(kData, 2, 1), 0);
    ASSERT_EQ(ioperm(0x80, 1, 1), 0);
    EXPECT_EQ(InFromDx(kHandshake), kReady);
    OutToDx(kData, 0x5A);
    EXPECT_EQ(InFromDx(kData), 0x5A);
    EXPECT_EQ(InFromPort0x80(), 0xFF);  // nothing answers there, and the card sees nothing
    OutToPort0x80(0x12);
    EXPECT_EQ(Controller().Snapshot().port_reads, 2U);
    EXPECT_EQ(Controller().Snapshot().port_writes, 1U);
    EXPECT_EQ(stand_in::Accesses().Instructions(), 5U);

    // A read replaces AL only.
    std::uint64_t rax = 0x1122'3344'5566'7700;
    asm volatile("inb %%dx, %%al" : "+a"(rax) : "d"(kHandshake));
    EXPECT_EQ(rax, 0x1122'3344'5566'7780U);
  }));
}

TEST(KernelStandIn, OtherFaultsStayCrashes) {
  const ChildOutcome outcome = RunInChild(PortRoute::Instructions, [] {
    ASSERT_EQ(ioperm(kData, 2, 1), 0);
    volatile int* volatile nowhere = nullptr;
    *nowhere = 1;
  });
  EXPECT_TRUE(KilledBySegmentationFault(outcome));
  EXPECT_EQ(outcome.error_output.find("kernel stand-in"), std::string::npos)
      << outcome.error_output;
}

TEST(KernelStandIn, WiderPortInstructionsAreNotEmulated) {
  const ChildOutcome outcome = RunInChild(PortRoute::Instructions, [] {
    ASSERT_EQ(ioperm(kData, 2, 1), 0);
    std::uint16_t word = 0;
    asm volatile("inw %w1, %w0" : "=a"(word) : "d"(kData));
  });
  EXPECT_TRUE(KilledBySegmentationFault(outcome));
  EXPECT_NE(outcome.error_output.find("does not emulate"), std::string::npos)
      << outcome.error_output;
}

TEST(KernelStandIn, DevPortRouteRefusesIoperm) {
  ExpectPassed(RunInChild(PortRoute::DevPort, [] {
    errno = 0;
    EXPECT_EQ(ioperm(kData, 2, 1), -1);
    EXPECT_EQ(errno, EPERM);
  }));
}

TEST(KernelStandIn, DevPortKeepsToItsAccessMode) {
  ExpectPassed(RunInChild(PortRoute::DevPort, [] {
    std::uint8_t byte = 0;
    const int read_only = open("/dev/port", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(read_only, 0);
    EXPECT_EQ(pread(read_only, &byte, 1, kHandshake), 1);
    EXPECT_EQ(byte, kReady);
    byte = 0x80;
    errno = 0;
    EXPECT_EQ(pwrite(read_only, &byte, 1, kHandshake), -1);
    EXPECT_EQ(errno, EBADF);
    EXPECT_EQ(close(read_only), 0);

    const int write_only = openat(AT_FDCWD, "/dev/port", O_WRONLY);
    ASSERT_GE(write_only, 0);
    byte = 0x33;
    EXPECT_EQ(pwrite(write_only, &byte, 1, kData), 1);
    errno = 0;
    EXPECT_EQ(pread(write_only, &byte, 1, kData), -1);
    EXPECT_EQ(errno, EBADF);
    EXPECT_EQ(close(write_only), 0);

    const int both = open64("/dev/port", O_RDWR);
    ASSERT_GE(both, 0);
    EXPECT_EQ(pread(both, &byte, 1, kData), 1);
    EXPECT_EQ(byte, 0x33);
    EXPECT_EQ(pread(both, &byte, 1, 0x10000), 0);  // past the last port
    EXPECT_EQ(close(both), 0);
    EXPECT_EQ(Controller().Snapshot().port_reads, 2U);
    EXPECT_EQ(Controller().Snapshot().port_writes, 1U);
    EXPECT_EQ(stand_in::Accesses().DevPort(), 3U);
    EXPECT_EQ(stand_in::DevPortOpens().size(), 3U);
  }));
}

TEST(KernelStandIn, ClosedDevPortDescriptorIsAnOrdinaryOneAgain) {
  ExpectPassed(RunInChild(PortRoute::DevPort, [] {
    const int port = open("/dev/port", O_RDWR);
    ASSERT_GE(port, 0);
    ASSERT_EQ(close(port), 0);
    int pipe_ends[2] = {-1, -1};
    ASSERT_EQ(pipe(pipe_ends), 0);
    std::uint8_t byte = 0;
    errno = 0;
    // The pipe may reuse the number; its reads are not port reads.
    EXPECT_EQ(pread(pipe_ends[0], &byte, 1, kData), -1);
    EXPECT_EQ(errno, ESPIPE);
    EXPECT_EQ(Controller().Snapshot().port_reads, 0U);
  }));
}

}  // namespace
}  // namespace orvex::card_paths
