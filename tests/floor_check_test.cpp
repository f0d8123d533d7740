// The exact check behind the benchmark figures, independent of machine and
// load. On the virtual controller and its virtual clock, every export moves
// its bytes in exactly the protocol's fewest port accesses: five per byte
// either way, one look for READY after each line.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

#include "access_floor.h"
#include "orvexportio.h"
#include "virtual_controller_fixture.h"

namespace orvex::testing {
namespace {

constexpr std::string_view kPositionReply = "+250\r\n";
constexpr std::string_view kStatusReply = "@\r\n";  // 0x40: both axes at rest

struct ExportCase {
  const char* name;
  int (*call)();
  int expected_result;
  std::size_t replies;       // reply lines the call reads back
  std::size_t reply_length;  // bytes of each, line feed included
};

std::ostream& operator<<(std::ostream& out, const ExportCase& export_case) {
  return out << export_case.name;
}

const ExportCase kExportCases[] = {
    {"MA_both", [] { return MA(0, 2.5F); }, 1, 0, 0},
    {"MR_both", [] { return MR(0, -0.019F); }, 1, 0, 0},
    {"SV_both", [] { return SV(0, -1.0F); }, 1, 0, 0},
    {"ST_both", [] { return ST(0); }, 1, 0, 0},
    {"DH_both", [] { return DH(0); }, 1, 0, 0},
    {"GH_both", [] { return GH(0); }, 1, 0, 0},
    {"TP_axis1", [] { return TP(1) == 2.5F ? 1 : 0; }, 1, 1, kPositionReply.size()},
    {"TP_axis2", [] { return TP(2) == 2.5F ? 1 : 0; }, 1, 1, kPositionReply.size()},
    {"OK", [] { return OK(); }, 1, 1, kPositionReply.size()},
    {"MT_both", [] { return MT(0); }, 1, 1, kStatusReply.size()},
    {"WS_both", [] { return WS(0); }, 1, 1, kStatusReply.size()},
    {"RT_axis1", [] { return RT(1); }, 1, 0, 0},
    {"RT_axis2", [] { return RT(2); }, 1, 0, 0},
    {"RT_both", [] { return RT(0); }, 1, 0, 0},
};

class ExportFloorTest : public VirtualControllerTest,
                        public ::testing::WithParamInterface<ExportCase> {
 protected:
  void SetUp() override {
    VirtualControllerTest::SetUp();
    if (GetParam().replies > 0) {
      controller().QueueReply(GetParam().reply_length == kStatusReply.size() ? kStatusReply
                                                                             : kPositionReply);
    }
  }
};

TEST_P(ExportFloorTest, MovesItsBytesInTheFewestPortAccesses) {
  ASSERT_EQ(GetParam().call(), GetParam().expected_result);
  ASSERT_EQ(controller().Snapshot().protocol_errors, 0U);
  const std::uint64_t reply_bytes = GetParam().replies * GetParam().reply_length;
  const std::uint64_t bytes = controller().Snapshot().bytes_taken + reply_bytes;
  const std::uint64_t lines = controller().Snapshot().lines_kept + GetParam().replies;
  EXPECT_EQ(PortAccesses(), ProtocolFloor(bytes, lines));
}

INSTANTIATE_TEST_SUITE_P(EveryExport, ExportFloorTest, ::testing::ValuesIn(kExportCases),
                         [](const ::testing::TestParamInfo<ExportCase>& param_info) {
                           return std::string(param_info.param.name);
                         });

}  // namespace
}  // namespace orvex::testing
