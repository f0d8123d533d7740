// The orvexsim_ functions a host developer calls: the received lines, and the
// line callback that a trace is built on.
#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "link/link.h"
#include "orvexportio.h"
#include "orvexportio_sim.h"
#include "setup_lines.h"
#include "virtual_controller_fixture.h"

namespace orvex::testing {
namespace {

struct Announced {
  std::string text;
  int length;
  double received_at;
  bool terminated;  // a NUL stood right after the line
};

void Record(const char* line, int length, double received_at, void* context) {
  auto* announced = static_cast<std::vector<Announced>*>(context);
  const auto size = static_cast<std::size_t>(length);
  announced->push_back({std::string(line, size), length, received_at, line[size] == '\0'});
}

class SimExportsTest : public VirtualControllerTest {
 protected:
  void SetUp() override {
    VirtualControllerTest::SetUp();
    orvexsim_set_line_callback(Record, &announced_);
  }
  void TearDown() override { orvexsim_set_line_callback(nullptr, nullptr); }

  std::vector<std::string> AnnouncedTexts() const {
    std::vector<std::string> texts;
    for (const Announced& line : announced_) texts.push_back(line.text);
    return texts;
  }

  std::vector<Announced> announced_;
};

TEST_F(SimExportsTest, CallbackAnnouncesEachLineAsTheTranscriptKeepsIt) {
  ASSERT_EQ(RT(2), 1);
  ASSERT_EQ(MA(0, 2.5F), 1);
  ASSERT_NE(TP(1), ORVEX_POSITION_ERROR);
  const Lines expected = Followed(kAxis2SetupLines, {"1PA 250\r", "2PA 250\r", "1TP\r"});
  EXPECT_EQ(AnnouncedTexts(), expected);
  ASSERT_EQ(orvexsim_line_count(), static_cast<int>(expected.size()));
  for (int index = 0; index < orvexsim_line_count(); ++index) {
    std::array<char, 80> text{};
    double received_at = -1.0;
    const int length =
        orvexsim_line(index, text.data(), static_cast<int>(text.size()), &received_at);
    const Announced& line = announced_[static_cast<std::size_t>(index)];
    SCOPED_TRACE(line.text);
    EXPECT_EQ(line.length, length);
    EXPECT_EQ(line.text, std::string(text.data()));
    EXPECT_EQ(line.received_at, received_at);
    EXPECT_TRUE(line.terminated);
  }
  // RT's 50 ms pause after its second line shows in the times.
  EXPECT_LT(announced_[1].received_at - announced_[0].received_at, 0.001);
  EXPECT_GE(announced_[2].received_at - announced_[1].received_at, 0.050);
}

TEST_F(SimExportsTest, LineCutOffByATimeOutIsNotAnnounced) {
  SetFaults({.dies_after_bytes = 2});
  EXPECT_EQ(ST(1), 0);
  EXPECT_TRUE(announced_.empty());
}

TEST_F(SimExportsTest, OverlongLineIsAnnouncedAsKeptAndStillTerminated) {
  const std::string line = std::string(70, 'X') + "\r";
  ASSERT_EQ(link::SendCommand(line, port::CardPorts{0x340}), 1);
  ASSERT_EQ(announced_.size(), 1U);
  EXPECT_EQ(announced_[0].length, static_cast<int>(sim::ReceivedLine::kCapacity));
  EXPECT_EQ(announced_[0].text, line.substr(0, sim::ReceivedLine::kCapacity));
  EXPECT_TRUE(announced_[0].terminated);
}

TEST_F(SimExportsTest, NullCallbackOrResetStopsTheCalls) {
  ASSERT_EQ(DH(1), 1);
  orvexsim_set_line_callback(nullptr, &announced_);
  ASSERT_EQ(DH(2), 1);
  EXPECT_EQ(AnnouncedTexts(), Lines{"1DH\r"});

  orvexsim_set_line_callback(Record, &announced_);
  orvexsim_reset();
  ASSERT_EQ(DH(2), 1);
  EXPECT_EQ(AnnouncedTexts(), Lines{"1DH\r"});
}

TEST_F(SimExportsTest, LineCopiesAreCutToTheCallersBuffer) {
  ASSERT_EQ(MA(1, -2.5F), 1);
  std::array<char, 5> text{'#', '#', '#', '#', '#'};
  double received_at = -1.0;
  EXPECT_EQ(orvexsim_line(0, text.data(), 4, &received_at), 9);  // "1PA -250\r"
  EXPECT_EQ(std::string(text.data()), "1PA");
  EXPECT_EQ(text[4], '#');
  EXPECT_GT(received_at, 0.0);
  EXPECT_EQ(orvexsim_line(0, nullptr, 0, nullptr), 9);
  EXPECT_EQ(orvexsim_line(1, text.data(), 4, nullptr), -1);
  EXPECT_EQ(orvexsim_line(-1, text.data(), 4, nullptr), -1);
}

}  // namespace
}  // namespace orvex::testing
