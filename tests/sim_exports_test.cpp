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

namespace orvex::testing {
namespace {

// On the real clock a wait polls "TS" tens of thousands of times: the run is
// one entry with its count, and the lines before it stay in the transcript.
TEST_F(SimExportsTest, ARunOfPollsIsOneEntryAndTheCommandsStay) {
  controller().SetClock(sim::Clock::Real);
  ASSERT_EQ(SV(1, 10.0F), 1);  // 1000 counts a second
  ASSERT_EQ(MR(1, 3.0F), 1);   // 300 counts: some 0.3 s of waiting
  ASSERT_EQ(WS(1), 1);
  ASSERT_EQ(ST(2), 1);
  controller().SetClock(sim::Clock::Virtual);
  std::vector<std::string> entries;
  for (int index = 0; index < orvexsim_line_count(); ++index) {
    std::array<char, 32> text{};
    ASSERT_GT(orvexsim_line(index, text.data(), static_cast<int>(text.size()), nullptr), 0);
    entries.emplace_back(text.data());
  }
  EXPECT_EQ(entries, (std::vector<std::string>{"1VA1000\r", "1PR 300\r", "TS\r", "2ST\r"}));
  double first = 0.0;
  double last = 0.0;
  ASSERT_GT(orvexsim_line(2, nullptr, 0, &first), 0);
  const int polls = orvexsim_line_repeats(2, &last);
  EXPECT_GT(polls, 100);
  EXPECT_GT(last - first, 0.2);
  EXPECT_EQ(orvexsim_line_repeats(0, nullptr), 1);
  EXPECT_EQ(orvexsim_line_repeats(4, nullptr), -1);
  EXPECT_EQ(announced_.size(), static_cast<std::size_t>(polls) + 3) << "the callback hears each";
}

}  // namespace
}  // namespace orvex::testing
