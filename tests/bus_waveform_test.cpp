// The bus as a waveform: orvexsim_record_vcd's Value Change Dump decoded by
// sigrok-cli's parallel decoder, as a logic analyser's user would, and read
// back line by line to check it is well-formed.
//
// Debian's sigrok-cli 0.7.2 (libsigrok 0.5) reads only one-bit signals and
// stops at the first vector value, so it is given the dump without its vector
// lines. It aborts at exit after printing its output: it is judged by that.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bus_recorder.h"
#include "orvexportio.h"
#include "orvexportio_sim.h"
#include "virtual_controller_fixture.h"

namespace orvex::testing {
namespace {

namespace fs = std::filesystem;

std::string ReadWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteWhole(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string Output(const std::string& command) {
  std::string output;
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return output;
  std::array<char, 4096> chunk{};
  for (std::size_t got; (got = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0;) {
    output.append(chunk.data(), got);
  }
  pclose(pipe);
  return output;
}

// The dump without its vector value lines, for libsigrok 0.5.
std::string OneBitSignalsOnly(const std::string& vcd) {
  std::istringstream lines(vcd);
  std::string kept;
  for (std::string line; std::getline(lines, line);) {
    if (!line.starts_with("b")) kept += line + "\n";
  }
  return kept;
}

// The items sigrok's parallel decoder reads off `data_lines` at each rising
// edge of `clock`, as numbers. The decoder reports an item at the next edge,
// so the last edge's item never shows.
std::vector<unsigned> Decoded(const fs::path& vcd, const std::string& clock,
                              const std::vector<std::string>& data_lines) {
  const fs::path wires = fs::path(vcd).replace_extension(".wires.vcd");
  WriteWhole(wires, OneBitSignalsOnly(ReadWhole(vcd)));
  std::string decoder = "parallel:clk=" + clock;
  for (std::size_t line = 0; line < data_lines.size(); ++line) {
    decoder += ":d" + std::to_string(line) + "=" + data_lines[line];
  }
  // Sampled every 100 ns, idle stretches compressed: a strobe is high for
  // 500 ns on the virtual clock, so none is lost, and decoding takes seconds.
  const std::string output =
      Output("timeout 60 " SIGROK_CLI " -I vcd:downsample=100:compress=1000 -i '" + wires.string() +
             "' -P " + decoder + " -A parallel=items 2>/dev/null");
  std::vector<unsigned> items;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    const std::string prefix = "parallel-1: ";
    if (!line.starts_with(prefix)) continue;
    items.push_back(static_cast<unsigned>(std::stoul(line.substr(prefix.size()), nullptr, 16)));
  }
  return items;
}

// The bytes the host wrote to the data register (A0 low), in order: the
// decoder read twice off the write strobe, once for the data lines and once
// for the address line.
std::string BytesWrittenToTheDataRegister(const fs::path& vcd) {
  const std::vector<unsigned> bytes =
      Decoded(vcd, "IOW", {"D0", "D1", "D2", "D3", "D4", "D5", "D6", "D7"});
  const std::vector<unsigned> a0 = Decoded(vcd, "IOW", {"A0"});
  std::string written;
  if (bytes.size() != a0.size()) return "(the two decodings differ in length)";
  for (std::size_t index = 0; index < bytes.size(); ++index) {
    if (a0[index] == 0) written += static_cast<char>(bytes[index]);
  }
  return written;
}

// ---- Well-formedness --------------------------------------------------------------

struct Signal {
  int width;
  std::string name;
};

// Checks the dump's header and body; the first fault found, or nothing.
// Returns the signals declared and the last time stamp through the pointers.
std::optional<std::string> CheckWellFormed(const std::string& vcd,
                                           std::map<std::string, Signal>* declared = nullptr,
                                           unsigned long long* last_time = nullptr) {
  std::istringstream lines(vcd);
  std::map<std::string, Signal> signals;
  bool timescale = false;
  bool definitions_ended = false;
  std::optional<unsigned long long> time;
  std::map<std::string, char> strobes;  // IOR, IOW: present level
  int line_number = 0;
  for (std::string line; std::getline(lines, line);) {
    ++line_number;
    const std::string where = "line " + std::to_string(line_number) + " '" + line + "': ";
    std::istringstream words(line);
    std::string first;
    words >> first;
    if (!definitions_ended) {
      if (line == "$timescale 1 ns $end") timescale = true;
      if (first == "$var") {
        std::string kind, id, name, end;
        int width = 0;
        words >> kind >> width >> id >> name;
        if (signals.contains(id)) return where + "identifier declared twice";
        if (width < 1) return where + "no width";
        signals[id] = {width, name};
      }
      if (line == "$enddefinitions $end") definitions_ended = true;
      continue;
    }
    if (line.empty() || line == "$dumpvars" || line == "$end") continue;
    if (line.starts_with("$comment ") && line.ends_with(" $end")) continue;
    if (line.front() == '#') {
      const unsigned long long stamp = std::stoull(line.substr(1));
      if (time && stamp <= *time) return where + "time stamp does not increase";
      time = stamp;
      continue;
    }
    if (!time) return where + "value before the first time stamp";
    if (line.front() == 'b') {
      std::string bits = first.substr(1), id;
      words >> id;
      if (!signals.contains(id)) return where + "undeclared identifier";
      if (static_cast<int>(bits.size()) != signals[id].width) return where + "wrong width";
      if (bits.find_first_not_of("01") != std::string::npos) return where + "not a binary value";
      continue;
    }
    const std::string id = line.substr(1);
    if ((line.front() != '0' && line.front() != '1') || !signals.contains(id)) {
      return where + "not a one-bit value change of a declared signal";
    }
    if (signals[id].width != 1) return where + "one-bit value for a vector";
    const std::string& name = signals[id].name;
    if (name == "IOR" || name == "IOW") {
      if (strobes[name] == line.front()) return where + "strobe changes to the level it has";
      strobes[name] = line.front();
      if (strobes["IOR"] == '1' && strobes["IOW"] == '1') return where + "both strobes high";
    }
  }
  if (!timescale) return std::string("no 1 ns time scale");
  if (!definitions_ended) return std::string("no end of definitions");
  if (declared != nullptr) *declared = signals;
  if (last_time != nullptr) *last_time = time.value_or(0);
  return std::nullopt;
}

class BusWaveformTest : public VirtualControllerTest {
 protected:
  void SetUp() override {
    VirtualControllerTest::SetUp();
    folder_ =
        fs::temp_directory_path() /
        ("orvex_waveform_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
         "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(folder_);
  }
  void TearDown() override {
    orvexsim_stop_vcd();
    controller().SetClock(sim::Clock::Virtual);  // for a test that left it on the real clock
    fs::remove_all(folder_);
  }

  static std::string ReceivedBytes() {
    std::string bytes;
    for (const std::string& line : Received()) bytes += line;
    return bytes;
  }

  // A session with lines of every kind and replies: set-up, moves, queries, a wait.
  static void RunSession() {
    ASSERT_EQ(RT(0), 1);
    ASSERT_EQ(MA(1, 2.5F), 1);
    ASSERT_EQ(MR(2, -0.75F), 1);
    ASSERT_NE(TP(1), ORVEX_POSITION_ERROR);
    ASSERT_EQ(WS(0), 1);
    ASSERT_EQ(SV(0, 25.0F), 1);
    ASSERT_EQ(OK(), 1);
  }

  fs::path folder_;
};

TEST_F(BusWaveformTest, DecodedWritesToTheDataRegisterAreExactlyTheLinesReceived) {
  const fs::path vcd = folder_ / "session.vcd";
  ASSERT_EQ(orvexsim_record_vcd(vcd.c_str()), 1);
  RunSession();
  orvexsim_stop_vcd();
  ASSERT_FALSE(ReceivedBytes().empty());
  EXPECT_EQ(BytesWrittenToTheDataRegister(vcd), ReceivedBytes());
}

// The check above can fail: one data line's change taken out of the file
// (D0 of the very first byte, '1' of "1FI11\r") corrupts the decoded bytes.
TEST_F(BusWaveformTest, ADataLineTakenOutOfTheFileShowsInTheDecodedBytes) {
  const fs::path vcd = folder_ / "broken.vcd";
  ASSERT_EQ(orvexsim_record_vcd(vcd.c_str()), 1);
  ASSERT_EQ(RT(1), 1);
  orvexsim_stop_vcd();
  std::string text = ReadWhole(vcd);
  const std::size_t body = text.find("$end\n#");
  const std::size_t first_rise = text.find("\n1!\n", body);
  ASSERT_NE(first_rise, std::string::npos);
  text.replace(first_rise, 4, "\n0!\n");
  WriteWhole(vcd, text);
  const std::string decoded = BytesWrittenToTheDataRegister(vcd);
  EXPECT_NE(decoded, ReceivedBytes());
  EXPECT_EQ(decoded.substr(0, 2), "0F");  // '1' is 0x31, without D0 0x30
}

TEST_F(BusWaveformTest, HeaderSignalsAndTimeStampsAreWellFormed) {
  const fs::path vcd = folder_ / "session.vcd";
  ASSERT_EQ(orvexsim_record_vcd(vcd.c_str()), 1);
  RunSession();
  const double ended = static_cast<double>(controller().Now()) * 1000.0;
  orvexsim_stop_vcd();
  std::map<std::string, Signal> signals;
  unsigned long long last = 0;
  EXPECT_EQ(CheckWellFormed(ReadWhole(vcd), &signals, &last), std::nullopt);
  std::map<std::string, int> widths;
  for (const auto& [id, signal] : signals) widths[signal.name] = signal.width;
  const std::map<std::string, int> expected = {
      {"IOR", 1}, {"IOW", 1}, {"A0", 1}, {"ADDR", 16}, {"D", 8},  {"D0", 1}, {"D1", 1},
      {"D2", 1},  {"D3", 1},  {"D4", 1}, {"D5", 1},    {"D6", 1}, {"D7", 1}, {"HS", 8}};
  EXPECT_EQ(widths, expected);
  // Time stamps are the controller's clock in nanoseconds: the last strobe
  // falls within a microsecond of the controller's time at the end.
  EXPECT_NEAR(static_cast<double>(last), ended, 1000.0);
  EXPECT_GT(ended, 0.1e9);  // RT's pauses alone take 0.2 s
}

// On the real clock, with two host threads, cycles still never overlap and
// time stamps still increase.
TEST_F(BusWaveformTest, RealClockRecordingFromTwoThreadsIsWellFormed) {
  controller().SetClock(sim::Clock::Real);
  const fs::path vcd = folder_ / "real.vcd";
  ASSERT_EQ(orvexsim_record_vcd(vcd.c_str()), 1);
  const auto host = [](signed char axis) {
    bool all_well = true;
    for (int round = 0; round < 5; ++round) {
      all_well &= MR(axis, 0.01F) == 1;
      all_well &= TP(axis) != ORVEX_POSITION_ERROR;
    }
    return all_well;
  };
  std::thread first(host, static_cast<signed char>(1));
  const bool second_well = host(2);
  first.join();
  orvexsim_stop_vcd();
  EXPECT_TRUE(second_well);
  unsigned long long last = 0;
  EXPECT_EQ(CheckWellFormed(ReadWhole(vcd), nullptr, &last), std::nullopt);
  EXPECT_GT(last, 0U);
  EXPECT_EQ(Received().size(), 20U);
}

// The checker itself catches what it looks for.
TEST(VcdCheck, FindsEachFaultInADeliberatelyBrokenDump) {
  const std::string header =
      "$timescale 1 ns $end\n$scope module isa_bus $end\n$var wire 1 + IOR $end\n"
      "$var wire 1 , IOW $end\n$var wire 8 ) D [7:0] $end\n$upscope $end\n"
      "$enddefinitions $end\n#0\n$dumpvars\n0+\n0,\nb00000000 )\n$end\n";
  EXPECT_EQ(CheckWellFormed(header + "#5\n1,\n#6\n0,\n"), std::nullopt);
  const std::pair<std::string, std::string> broken[] = {
      {"#5\n1,\n#5\n0,\n", "time stamp does not increase"},
      {"#5\n1,\n#4\n0,\n", "time stamp does not increase"},
      {"#5\n1?\n", "not a one-bit value change of a declared signal"},
      {"#5\nb0101 )\n", "wrong width"},
      {"#5\n1)\n", "one-bit value for a vector"},
      {"#5\n1,\n#6\n1,\n", "strobe changes to the level it has"},
      {"#5\n1,\n1+\n", "both strobes high"},
  };
  for (const auto& [body, fault] : broken) {
    const std::optional<std::string> found = CheckWellFormed(header + body);
    ASSERT_TRUE(found.has_value()) << body;
    EXPECT_NE(found->find(fault), std::string::npos) << *found;
  }
  EXPECT_EQ(CheckWellFormed("$timescale 1 ps $end\n$enddefinitions $end\n"), "no 1 ns time scale");
}

TEST_F(BusWaveformTest, TimeStampsKeepIncreasingAcrossAReset) {
  const fs::path vcd = folder_ / "reset.vcd";
  ASSERT_EQ(orvexsim_record_vcd(vcd.c_str()), 1);
  ASSERT_EQ(MA(1, 1.0F), 1);
  orvexsim_reset();
  ASSERT_EQ(MA(2, 2.0F), 1);
  orvexsim_stop_vcd();
  EXPECT_EQ(CheckWellFormed(ReadWhole(vcd)), std::nullopt);
  EXPECT_EQ(BytesWrittenToTheDataRegister(vcd), "1PA 100\r2PA 200\r");
}

TEST_F(BusWaveformTest, SaveFileBesideItLaysOutEverySignal) {
  const fs::path vcd = folder_ / "layout.vcd";
  ASSERT_EQ(orvexsim_record_vcd(vcd.c_str()), 1);
  orvexsim_stop_vcd();
  const std::string save = ReadWhole(folder_ / "layout.gtkw");
  EXPECT_NE(save.find("[dumpfile] \"" + fs::absolute(vcd).string() + "\""), std::string::npos);
  for (const char* signal : {"IOR", "IOW", "A0", "ADDR[15:0]", "D[7:0]", "D0", "D7", "HS[7:0]"}) {
    EXPECT_NE(save.find(std::string("isa_bus.") + signal + "\n"), std::string::npos) << signal;
  }
}

TEST_F(BusWaveformTest, AFileThatCannotBeWrittenIsRefused) {
  EXPECT_EQ(orvexsim_record_vcd((folder_ / "no" / "such" / "folder.vcd").c_str()), 0);
  EXPECT_EQ(orvexsim_record_vcd(nullptr), 0);
  EXPECT_EQ(orvexsim_record_vcd(""), 0);
  EXPECT_EQ(MA(1, 1.0F), 1);  // nothing records, nothing breaks
}

// A host polling without pause fills the file fast: the recording ends by
// itself at its size limit, with a comment, and the file stays well-formed.
TEST(BusRecorder, RecordingEndsAtItsSizeLimit) {
  const fs::path vcd = fs::temp_directory_path() / "orvex_waveform_limit.vcd";
  constexpr std::uint64_t kLimit = 64 * 1024;
  sim::BusRecorder recorder;
  ASSERT_TRUE(recorder.Start(vcd.string(), 0x340, 0x341, kLimit));
  for (std::uint64_t access = 0; access < 100'000 && recorder.Recording(); ++access) {
    recorder.Access(access * 1000, sim::BusDirection::Write, 0x340,
                    static_cast<std::uint8_t>(access));
  }
  EXPECT_FALSE(recorder.Recording());
  const std::string text = ReadWhole(vcd);
  EXPECT_LE(text.size(), kLimit);
  EXPECT_GT(text.size(), kLimit - 256);
  EXPECT_TRUE(text.ends_with("$comment the recording ends here: size limit $end\n"));
  EXPECT_EQ(CheckWellFormed(text), std::nullopt);
  fs::remove(vcd);
  fs::remove(fs::path(vcd).replace_extension(".gtkw"));
}

TEST(OrvexctlWaveform, SimulateWithVcdRecordsTheLinesItSends) {
  const fs::path folder = fs::temp_directory_path() / "orvex_waveform_orvexctl";
  fs::create_directories(folder);
  const fs::path vcd = folder / "orvexctl.vcd";
  const std::string output =
      Output(std::string("timeout 60 ") + ORVEXCTL_PROGRAM + " --simulate --fast --vcd '" +
             vcd.string() + "' ma 1 2.5 st 2 tp 1 2>&1");
  EXPECT_EQ(output, "delivered\ndelivered\n0\n");
  EXPECT_TRUE(fs::exists(folder / "orvexctl.gtkw"));
  EXPECT_EQ(CheckWellFormed(ReadWhole(vcd)), std::nullopt);
  EXPECT_EQ(BytesWrittenToTheDataRegister(vcd), "1PA 250\r2ST\r1TP\r");
  fs::remove_all(folder);
}

}  // namespace
}  // namespace orvex::testing
