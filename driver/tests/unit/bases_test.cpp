// The bases the driver accepts: both registers within the ports open to
// add-in cards and on no standard device, from the library's own table.
#include <gtest/gtest.h>

#include <climits>
#include <ostream>
#include <string>

extern "C" {
#include "orvex_bases.h"
#include "pc_devices.h"
}

namespace {

struct BaseCase {
  unsigned long base;
  orvex_base_verdict verdict;
  const char* device;
};

void PrintTo(const BaseCase& tested, std::ostream* out) {
  *out << "0x" << std::hex << tested.base;
}

class BaseTest : public ::testing::TestWithParam<BaseCase> {};

std::string BaseName(const ::testing::TestParamInfo<BaseCase>& tested) {
  char name[32];
  std::snprintf(name, sizeof(name), "Base0x%lX", tested.param.base);
  return name;
}

TEST_P(BaseTest, IsJudged) {
  const char* device = "unset";
  EXPECT_EQ(orvex_judge_base(GetParam().base, &device), GetParam().verdict);
  EXPECT_STREQ(device, GetParam().device);
}

INSTANTIATE_TEST_SUITE_P(
    Bases, BaseTest,
    ::testing::Values(BaseCase{0xFF, ORVEX_BASE_OUT_OF_RANGE, nullptr},
                      BaseCase{0x100, ORVEX_BASE_ACCEPTED, nullptr},
                      BaseCase{0x16E, ORVEX_BASE_ACCEPTED, nullptr},
                      BaseCase{0x16F, ORVEX_BASE_ON_DEVICE, "the second IDE controller"},
                      BaseCase{0x177, ORVEX_BASE_ON_DEVICE, "the second IDE controller"},
                      BaseCase{0x178, ORVEX_BASE_ACCEPTED, nullptr},
                      BaseCase{0x300, ORVEX_BASE_ACCEPTED, nullptr},
                      BaseCase{0x340, ORVEX_BASE_ACCEPTED, nullptr},
                      // Where rows overlap, the first row hit names the device.
                      BaseCase{0x3F5, ORVEX_BASE_ON_DEVICE, "the floppy controller"},
                      BaseCase{0x3F8, ORVEX_BASE_ON_DEVICE, "the first serial port (COM1)"},
                      BaseCase{0x3FE, ORVEX_BASE_ON_DEVICE, "the first serial port (COM1)"},
                      BaseCase{0x3FF, ORVEX_BASE_OUT_OF_RANGE, nullptr},
                      BaseCase{0x400, ORVEX_BASE_OUT_OF_RANGE, nullptr},
                      BaseCase{ULONG_MAX, ORVEX_BASE_OUT_OF_RANGE, nullptr}),
    BaseName);

// Every device in the open range refuses a base on its first port, the base
// just below it (whose second register lands on it), and its last port.
TEST(BaseTableTest, EveryDeviceRefusesTheBasesThatTouchIt) {
  const orvex_pc_device devices[] = ORVEX_PC_DEVICES;
  for (const orvex_pc_device& row : devices) {
    if (row.first <= ORVEX_LOWEST_BASE) continue;
    for (const unsigned long base : {row.first - 1ul, static_cast<unsigned long>(row.first),
                                     static_cast<unsigned long>(row.last)}) {
      if (base > ORVEX_HIGHEST_BASE) continue;  // out of range before it is on a device
      const char* device = nullptr;
      EXPECT_EQ(orvex_judge_base(base, &device), ORVEX_BASE_ON_DEVICE)
          << row.name << " at 0x" << std::hex << base;
    }
  }
}

}  // namespace
