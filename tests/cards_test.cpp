// Several cards: the card API on two virtual cards at once, what it refuses
// before anything is sent, and how two cards keep out of each other's way.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <future>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "orvexportio.h"
#include "virtual_bus.h"
#include "virtual_controller_fixture.h"

namespace orvex::testing {
namespace {

constexpr unsigned kFirstBase = 0x340;
constexpr unsigned kSecondBase = 0x300;

class CardsTest : public VirtualControllerTest {
 protected:
  void SetUp() override {
    sim::VirtualBus& bus = sim::TheBus();
    second_ = bus.AddCard(kSecondBase);
    ASSERT_NE(second_, nullptr);
    bus.Reset();
    first_card_ = orvex_open(kFirstBase, nullptr);
    second_card_ = orvex_open(kSecondBase, nullptr);
    ASSERT_NE(first_card_, nullptr);
    ASSERT_NE(second_card_, nullptr);
  }
  void TearDown() override {
    orvex_close(first_card_);
    orvex_close(second_card_);
  }

  sim::VirtualController* second_ = nullptr;
  orvex_card* first_card_ = nullptr;
  orvex_card* second_card_ = nullptr;
};

// Sends "<axis>PA <n>00" for n = 1..count on `card`, each delivered.
bool SendNumberedMoves(orvex_card* card, int axis, int count) {
  for (int number = 1; number <= count; ++number) {
    if (orvex_ma(card, axis, static_cast<float>(number)) != ORVEX_SUCCESS) return false;
  }
  return true;
}

// The numbers of the "<axis>PA <n>00" lines, in the order received.
std::vector<int> NumbersOf(const Lines& lines, char axis) {
  std::vector<int> numbers;
  const std::string prefix = std::string(1, axis) + "PA ";
  for (const std::string& line : lines) {
    if (line.rfind(prefix, 0) == 0) numbers.push_back(std::stoi(line.substr(prefix.size())) / 100);
  }
  return numbers;
}

TEST_F(CardsTest, EachLineReachesItsOwnCardInOrderFromSeveralThreads) {
  constexpr int kLines = 200;
  std::vector<std::future<bool>> senders;
  for (orvex_card* card : {first_card_, second_card_}) {
    for (int axis : {1, 2}) {
      senders.push_back(std::async(std::launch::async, SendNumberedMoves, card, axis, kLines));
    }
  }
  for (auto& sender : senders) EXPECT_TRUE(sender.get());
  std::vector<int> expected;
  for (int number = 1; number <= kLines; ++number) expected.push_back(number);
  for (const sim::VirtualController* card :
       std::vector<const sim::VirtualController*>{&controller(), second_}) {
    SCOPED_TRACE(card->Base());
    const Lines received = card->LineTexts();
    EXPECT_EQ(received.size(), 2U * kLines);
    EXPECT_EQ(NumbersOf(received, '1'), expected);
    EXPECT_EQ(NumbersOf(received, '2'), expected);
    EXPECT_EQ(card->Snapshot().protocol_errors, 0U);
  }
  EXPECT_EQ(orvex_card_base(second_card_), kSecondBase);
  EXPECT_EQ(orvex_open(kSecondBase, nullptr), second_card_);  // one card, one queue
}

// A card whose line is held in the middle (its controller stuck inside the
// line's last byte) keeps its own registers, and nobody else's: the other
// card's lines go through meanwhile. Were the two cards one queue, they
// would wait for the held line, and this test would run into its bound.
TEST_F(CardsTest, AHeldCardDoesNotHoldTheOther) {
  std::promise<void> held;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  second_->SetLineObserver([&held, released](const sim::ReceivedLine&) {
    held.set_value();
    released.wait();
  });
  auto stuck = std::async(std::launch::async, [this] { return orvex_st(second_card_, 1); });
  held.get_future().wait();
  auto other =
      std::async(std::launch::async, [this] { return SendNumberedMoves(first_card_, 1, 50); });
  const bool went_through = other.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
  release.set_value();
  EXPECT_TRUE(went_through);
  EXPECT_TRUE(other.get());
  EXPECT_EQ(stuck.get(), ORVEX_SUCCESS);
  second_->SetLineObserver(nullptr);
}

// A silent card times out on its own time: the other card's lines take what
// they always take.
TEST_F(CardsTest, ASilentCardTimesOutWhileTheOtherAnswers) {
  second_->SetFaults({.silent = true});
  EXPECT_EQ(orvex_st(second_card_, 0), ORVEX_ERROR_TIMEOUT);
  EXPECT_EQ(orvex_ws(second_card_, 1), ORVEX_ERROR_TIMEOUT);
  EXPECT_EQ(orvex_st(first_card_, 0), ORVEX_SUCCESS);
  EXPECT_EQ(Received(), (Lines{"1ST\r", "2ST\r"}));
  EXPECT_TRUE(second_->LineTexts().empty());
}

struct BaseCase {
  unsigned base;
  int error;
  const char* names;  // what the refusal names, or "" for an accepted base
};

TEST(CardBases, OpenOnlyWhereAnAddInCardMaySit) {
  const BaseCase cases[] = {
      {0x100, ORVEX_SUCCESS, ""},
      {0x0FF, ORVEX_ERROR_BASE_DEVICE, "maths coprocessor"},
      {0x0E0, ORVEX_ERROR_BASE_RANGE, "outside 0x100-0x3FE"},
      {0x060, ORVEX_ERROR_BASE_DEVICE, "keyboard controller"},
      {0x1EE, ORVEX_SUCCESS, ""},
      {0x1EF, ORVEX_ERROR_BASE_DEVICE, "first IDE controller"},
      {0x1F8, ORVEX_SUCCESS, ""},
      {0x201, ORVEX_ERROR_BASE_DEVICE, "game port"},
      {0x378, ORVEX_ERROR_BASE_DEVICE, "first parallel port (LPT1)"},
      {0x3C4, ORVEX_ERROR_BASE_DEVICE, "VGA"},
      {0x3F8, ORVEX_ERROR_BASE_DEVICE, "first serial port (COM1)"},
      {0x2F7, ORVEX_ERROR_BASE_DEVICE, "second serial port (COM2)"},
      {0x2F6, ORVEX_SUCCESS, ""},
      {0x400, ORVEX_ERROR_BASE_RANGE, "outside 0x100-0x3FE"},
      {0x10340, ORVEX_ERROR_BASE_RANGE, "outside"},
  };
  for (const BaseCase& tested : cases) {
    SCOPED_TRACE(std::to_string(tested.base));
    int error = 12345;
    orvex_card* card = orvex_open(tested.base, &error);
    EXPECT_EQ(error, tested.error);
    EXPECT_EQ(card != nullptr, tested.error == ORVEX_SUCCESS);
    const char* conflict = orvex_base_conflict(tested.base);
    if (tested.error == ORVEX_SUCCESS) {
      EXPECT_EQ(conflict, nullptr);
    } else {
      ASSERT_NE(conflict, nullptr);
      EXPECT_NE(std::string(conflict).find(tested.names), std::string::npos) << conflict;
      EXPECT_NE(std::string(orvex_error_message(error)), "unknown error");
    }
    orvex_close(card);
  }
}

// Every value, axis code or card the card API refuses: nothing is sent.
TEST_F(CardsTest, RefusesWhatItCannotSendAndSendsNothing) {
  constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
  constexpr float kInfinity = std::numeric_limits<float>::infinity();
  float position = 0.0F;
  int at_rest = 0;
  struct Refusal {
    const char* name;
    int result;
    int error;
  };
  const Refusal refusals[] = {
      {"NaN target", orvex_ma(first_card_, 1, kNaN), ORVEX_ERROR_VALUE},
      {"infinite distance", orvex_mr(first_card_, 2, -kInfinity), ORVEX_ERROR_VALUE},
      {"count above 2^31 - 1", orvex_ma(first_card_, 1, 21474838.0F), ORVEX_ERROR_VALUE},
      {"count below -2^31", orvex_mr(first_card_, 1, -21474838.0F), ORVEX_ERROR_VALUE},
      {"negative speed", orvex_sv(first_card_, 1, -0.5F), ORVEX_ERROR_VALUE},
      {"speed below one count", orvex_sv(first_card_, 0, 0.009F), ORVEX_ERROR_VALUE},
      {"axis 3", orvex_st(first_card_, 3), ORVEX_ERROR_AXIS},
      {"axis 257", orvex_dh(first_card_, 257), ORVEX_ERROR_AXIS},
      {"axis -1", orvex_rt(first_card_, -1), ORVEX_ERROR_AXIS},
      {"position of both axes", orvex_tp(first_card_, 0, &position), ORVEX_ERROR_AXIS},
      {"position nowhere to go", orvex_tp(first_card_, 1, nullptr), ORVEX_ERROR_VALUE},
      {"status nowhere to go", orvex_mt(first_card_, 1, nullptr), ORVEX_ERROR_VALUE},
      {"no card", orvex_gh(nullptr, 1), ORVEX_ERROR_CARD},
      {"no card to wait on", orvex_ws(nullptr, 0), ORVEX_ERROR_CARD},
  };
  for (const Refusal& refusal : refusals) EXPECT_EQ(refusal.result, refusal.error) << refusal.name;
  EXPECT_EQ(PortAccesses(), 0U);
  // The largest counts that fit, and a speed of zero, do go out.
  EXPECT_EQ(orvex_ma(first_card_, 1, 21474836.0F), ORVEX_SUCCESS);
  EXPECT_EQ(orvex_mr(first_card_, 2, -21474836.0F), ORVEX_SUCCESS);
  EXPECT_EQ(orvex_sv(first_card_, 1, 0.0F), ORVEX_SUCCESS);
  EXPECT_EQ(orvex_sv(first_card_, 2, 0.02F), ORVEX_SUCCESS);  // 1.99999996 counts: 1
  EXPECT_EQ(orvex_mt(first_card_, 0, &at_rest), ORVEX_SUCCESS);
  EXPECT_EQ(Received(),
            (Lines{"1PA 2147483600\r", "2PR -2147483600\r", "1VA0\r", "2VA1\r", "TS\r"}));
}

// The checked functions send what the eleven send, and tell a time-out from
// a reply without a number.
TEST_F(CardsTest, ResultsTellDeliveredFromTimeOutFromNoNumber) {
  float position = 0.0F;
  ASSERT_EQ(orvex_ma(second_card_, 1, 2.5F), ORVEX_SUCCESS);
  ASSERT_EQ(orvex_ws(second_card_, 1), ORVEX_SUCCESS);
  EXPECT_EQ(orvex_tp(second_card_, 1, &position), ORVEX_SUCCESS);
  EXPECT_FLOAT_EQ(position, 2.5F);
  second_->QueueReply("no number\r\n");
  EXPECT_EQ(orvex_tp(second_card_, 2, &position), ORVEX_ERROR_REPLY);
  second_->QueueReply("\r\n");
  EXPECT_EQ(orvex_ok(second_card_), ORVEX_ERROR_REPLY);
  second_->SetFaults({.silent = true});
  EXPECT_EQ(orvex_tp(second_card_, 1, &position), ORVEX_ERROR_TIMEOUT);
  EXPECT_EQ(orvex_ok(second_card_), ORVEX_ERROR_TIMEOUT);
  Lines received = second_->LineTexts();
  ASSERT_GE(received.size(), 5U);
  EXPECT_EQ(received.front(), "1PA 250\r");
  EXPECT_EQ(Lines(received.end() - 4, received.end()), (Lines{"TS\r", "1TP\r", "2TP\r", "1TP\r"}))
      << "a silent controller takes nothing";
}

}  // namespace
}  // namespace orvex::testing
