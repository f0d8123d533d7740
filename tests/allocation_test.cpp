// No export allocates from the heap: this binary counts every operator new
// (allocation_counter.cpp), and the count may not move while an export runs.
// The benchmarks' allocations_per_call rely on the same counter.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "allocation_counter.h"
#include "orvexportio.h"
#include "virtual_bus.h"

namespace {

using orvex::testing::HeapAllocations;

long AllocationsDuring(const std::function<void()>& call) {
  const std::uint64_t before = HeapAllocations();
  call();
  return static_cast<long>(HeapAllocations() - before);
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

// The counter sees every form of operator new.
TEST(AllocationCounter, CountsEveryOperatorNew) {
  const std::uint64_t before = HeapAllocations();
  void* single = ::operator new(sizeof(int));
  void* array = ::operator new[](4 * sizeof(int));
  const std::uint64_t allocations = HeapAllocations() - before;
  ::operator delete(single);
  ::operator delete[](array);
  EXPECT_EQ(allocations, 2U);
}

}  // namespace
