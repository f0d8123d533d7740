// No export allocates from the heap: this binary counts every operator new
// while an export runs.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "orvexportio.h"
#include "virtual_controller.h"

namespace {

std::atomic<bool> counting{false};
std::atomic<long> allocations{0};

void* CountedAllocation(std::size_t size) {
  if (counting) ++allocations;
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t size) {
  return CountedAllocation(size);
}
void* operator new[](std::size_t size) {
  return CountedAllocation(size);
}
void operator delete(void* memory) noexcept {
  std::free(memory);
}
void operator delete[](void* memory) noexcept {
  std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
  std::free(memory);
}
void operator delete[](void* memory, std::size_t) noexcept {
  std::free(memory);
}

namespace {

long AllocationsDuring(const std::function<void()>& call) {
  allocations = 0;
  counting = true;
  call();
  counting = false;
  return allocations;
}

struct ExportCall {
  const char* name;
  std::function<void()> call;
};

TEST(AllocationTest, NoExportAllocates) {
  // The counter itself must see an allocation when there is one.
  static void* volatile allocated = nullptr;
  ASSERT_EQ(AllocationsDuring([] { allocated = ::operator new(16); }), 1);
  ::operator delete(allocated);

  orvex::sim::TheController().Reset();
  const std::vector<ExportCall> calls = {
      {"RT", [] { RT(0); }},       {"OK", [] { OK(); }},         {"SV", [] { SV(0, 50.0F); }},
      {"MA", [] { MA(0, 2.5F); }}, {"MR", [] { MR(2, -1.0F); }}, {"TP", [] { TP(1); }},
      {"MT", [] { MT(0); }},       {"MT 7", [] { MT(7); }},      {"WS", [] { WS(0); }},
      {"ST", [] { ST(0); }},       {"DH", [] { DH(0); }},        {"GH", [] { GH(0); }},
  };
  for (const ExportCall& export_call : calls) {
    EXPECT_EQ(AllocationsDuring(export_call.call), 0) << export_call.name;
  }
  // And on the failure paths.
  orvex::sim::TheController().SetFaults({.stuck_handshake = 0xFF});
  for (const ExportCall& export_call : calls) {
    EXPECT_EQ(AllocationsDuring(export_call.call), 0) << export_call.name << " timing out";
  }
  orvex::sim::TheController().SetFaults({.overlong_replies = true});
  for (const ExportCall& export_call : calls) {
    EXPECT_EQ(AllocationsDuring(export_call.call), 0) << export_call.name << " overlong reply";
  }
}

}  // namespace
