#include "bus_recorder.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

namespace orvex::sim {
namespace {

constexpr std::size_t kFileBuffer = std::size_t{1} << 20;

// One-character identifiers of the signals in the dump.
constexpr char kIor = '+';
constexpr char kIow = ',';
constexpr char kA0 = '-';
constexpr char kAddress = '.';
constexpr char kData = ')';
constexpr char kHandshake = '*';
constexpr char kFirstDataLine = '!';  // D0 is '!', D7 is '('

constexpr std::string_view kScope = "isa_bus";

char DataLine(int line) {
  return static_cast<char>(kFirstDataLine + line);
}

std::string Binary(unsigned value, int bits) {
  std::string text = "b";
  for (int bit = bits - 1; bit >= 0; --bit) text += ((value >> bit) & 1U) != 0 ? '1' : '0';
  return text;
}

// The same, without touching the heap: written into `out`.
void BinaryInto(char* out, unsigned value, int bits) {
  *out++ = 'b';
  for (int bit = bits - 1; bit >= 0; --bit) *out++ = ((value >> bit) & 1U) != 0 ? '1' : '0';
  *out = '\0';
}

std::string TodayInUtc() {
  using namespace std::chrono;
  const year_month_day today{floor<days>(system_clock::now())};
  std::array<char, 16> text{};
  std::snprintf(text.data(), text.size(), "%04d-%02u-%02u", static_cast<int>(today.year()),
                static_cast<unsigned>(today.month()), static_cast<unsigned>(today.day()));
  return text.data();
}

std::string Header(std::uint16_t data_register) {
  std::string text;
  text += "$date " + TodayInUtc() + " $end\n";
  text += "$version orvexportio virtual controller $end\n";
  text +=
      "$comment the host's port accesses to the controller; times on the controller's clock "
      "$end\n";
  text += "$timescale 1 ns $end\n";
  text += "$scope module " + std::string(kScope) + " $end\n";
  text += std::string("$var wire 1 ") + kIor + " IOR $end\n";
  text += std::string("$var wire 1 ") + kIow + " IOW $end\n";
  text += std::string("$var wire 1 ") + kA0 + " A0 $end\n";
  text += std::string("$var wire 16 ") + kAddress + " ADDR [15:0] $end\n";
  text += std::string("$var wire 8 ") + kData + " D [7:0] $end\n";
  for (int line = 0; line < 8; ++line) {
    text +=
        "$var wire 1 " + std::string(1, DataLine(line)) + " D" + std::to_string(line) + " $end\n";
  }
  text += std::string("$var reg 8 ") + kHandshake + " HS [7:0] $end\n";
  text += "$upscope $end\n$enddefinitions $end\n";
  text += "#0\n$dumpvars\n";
  text += std::string("0") + kIor + "\n0" + kIow + "\n0" + kA0 + "\n";
  text += Binary(data_register, 16) + " " + kAddress + "\n";
  text += Binary(0, 8) + " " + kData + "\n";
  for (int line = 0; line < 8; ++line) text += "0" + std::string(1, DataLine(line)) + "\n";
  text += Binary(0, 8) + " " + kHandshake + "\n";
  text += "$end\n";
  return text;
}

std::string SaveFile(const std::string& vcd_path) {
  const std::string dump = std::filesystem::absolute(vcd_path).string();
  const std::string scope(kScope);
  std::string text;
  text += "[dumpfile] \"" + dump + "\"\n";
  text += "[timestart] 0\n";
  text += "[treeopen] " + scope + ".\n";
  text += "[signals_width] 160\n";
  text += "-Host strobes\n@28\n" + scope + ".IOR\n" + scope + ".IOW\n" + scope + ".A0\n";
  text += "@22\n" + scope + ".ADDR[15:0]\n";
  text += "-Data lines\n@22\n" + scope + ".D[7:0]\n@28\n";
  for (int line = 0; line < 8; ++line) text += scope + ".D" + std::to_string(line) + "\n";
  text += "-Handshake register\n@22\n" + scope + ".HS[7:0]\n";
  return text;
}

bool WriteWhole(const std::string& path, const std::string& text) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  return std::fclose(file) == 0 && written;
}

}  // namespace

BusRecorder::BusRecorder() : own_state_(std::make_unique<RecorderState>()), state_(*own_state_) {}

BusRecorder::BusRecorder(RecorderState& state) : state_(state) {}

BusRecorder::~BusRecorder() {
  if (own_state_) {
    Stop();
  } else {
    file_.Close();
  }
}

std::string BusRecorder::SaveFilePath(const std::string& vcd_path) {
  std::filesystem::path path(vcd_path);
  if (path.extension() == ".vcd") return path.replace_extension(".gtkw").string();
  return vcd_path + ".gtkw";
}

// Every process opens the file by this path, whatever its working folder.
bool BusRecorder::Start(const std::string& vcd_path, std::uint16_t data_register,
                        std::uint16_t handshake_register, std::uint64_t size_limit) {
  Stop();
  if (vcd_path.empty()) return false;
  std::error_code error;
  const std::string absolute = std::filesystem::absolute(vcd_path, error).string();
  if (error || absolute.size() >= RecorderState::kPathCapacity) return false;
  if (!WriteWhole(SaveFilePath(vcd_path), SaveFile(vcd_path))) return false;
  if (!file_.Open(absolute.c_str(), true)) return false;
  if (own_state_) buffer_ = std::make_unique<char[]>(kFileBuffer);
  buffered_ = 0;
  state_.path.fill('\0');
  std::copy(absolute.begin(), absolute.end(), state_.path.begin());
  file_generation_ = ++state_.generation;
  state_.recording = 1;
  state_.handshake_register = handshake_register;
  state_.size_limit = size_limit;
  state_.written = 0;
  state_.offset = 0;
  state_.strobe_rose = 0;
  state_.strobe_high = 0;
  state_.any_cycle = 0;
  state_.last_address = data_register;
  state_.handshake_value = 0;
  const std::string header = Header(data_register);
  Write(header.data(), header.size());
  return true;
}

void BusRecorder::Stop() {
  if (FileOfThePresentRecording()) EndStrobe(state_.strobe_rose + kStrobeWidth);
  Close();
}

void BusRecorder::Close() {
  Flush();
  file_.Close();
  buffer_.reset();
  state_.recording = 0;
}

// Whether this process has the present recording's file open, opening it
// when the recording is new to it; a file of an ended recording is closed.
bool BusRecorder::FileOfThePresentRecording() {
  if (!Recording()) {
    file_.Close();
    return false;
  }
  if (file_generation_ == state_.generation) return file_.IsOpen();
  file_generation_ = state_.generation;
  return file_.Open(state_.path.data(), false);
}

void BusRecorder::ClockRestarted() {
  if (!Recording()) return;
  // The first cycle after the restart comes one strobe width after the last.
  state_.offset = state_.strobe_rose + 2 * kStrobeWidth;
}

bool BusRecorder::IsRepeatedPoll(BusDirection direction, std::uint16_t address,
                                 std::uint8_t value) const {
  return state_.any_cycle != 0 && direction == BusDirection::Read &&
         static_cast<BusDirection>(state_.last_direction) == BusDirection::Read &&
         address == state_.last_address && value == state_.last_value;
}

void BusRecorder::EndStrobe(std::uint64_t at) {
  if (state_.strobe_high == 0) return;
  std::array<char, 48> text{};
  const char strobe =
      static_cast<BusDirection>(state_.last_direction) == BusDirection::Read ? kIor : kIow;
  const int used = std::snprintf(text.data(), text.size(), "#%llu\n0%c\n",
                                 static_cast<unsigned long long>(at), strobe);
  Write(text.data(), static_cast<std::size_t>(used));
  state_.strobe_high = 0;
}

void BusRecorder::Access(std::uint64_t nanoseconds, BusDirection direction, std::uint16_t address,
                         std::uint8_t value) {
  if (!FileOfThePresentRecording() || IsRepeatedPoll(direction, address, value)) return;
  const bool any_cycle = state_.any_cycle != 0;
  // Cycles never overlap: one starts at least two nanoseconds after the last
  // strobe rose, so that strobe can fall in between.
  std::uint64_t start = state_.offset + nanoseconds;
  // The first comes after the initial values at time 0.
  start = std::max(start, any_cycle ? state_.strobe_rose + 2 : 1);
  EndStrobe(std::min(state_.strobe_rose + kStrobeWidth, start - 1));
  if (!Recording()) return;

  std::array<char, 256> text{};
  int used =
      std::snprintf(text.data(), text.size(), "#%llu\n", static_cast<unsigned long long>(start));
  const auto append = [&](const char* format, auto... values) {
    used += std::snprintf(text.data() + used, text.size() - static_cast<std::size_t>(used), format,
                          values...);
  };
  std::array<char, 24> bits{};
  if (!any_cycle || address != state_.last_address) {
    append("%c%c\n", address == state_.handshake_register ? '1' : '0', kA0);
    BinaryInto(bits.data(), address, 16);
    append("%s %c\n", bits.data(), kAddress);
  }
  const std::uint8_t previous = any_cycle ? state_.last_value : 0;
  if (!any_cycle || value != previous) {
    BinaryInto(bits.data(), value, 8);
    append("%s %c\n", bits.data(), kData);
    for (int line = 0; line < 8; ++line) {
      const unsigned bit = (value >> line) & 1U;
      if (any_cycle && bit == ((previous >> line) & 1U)) continue;
      append("%c%c\n", bit != 0 ? '1' : '0', DataLine(line));
    }
  }
  if (address == state_.handshake_register && value != state_.handshake_value) {
    BinaryInto(bits.data(), value, 8);
    append("%s %c\n", bits.data(), kHandshake);
    state_.handshake_value = value;
  }
  append("#%llu\n1%c\n", static_cast<unsigned long long>(start + 1),
         direction == BusDirection::Read ? kIor : kIow);
  Write(text.data(), static_cast<std::size_t>(used));
  if (!Recording()) return;

  state_.strobe_rose = start + 1;
  state_.strobe_high = 1;
  state_.any_cycle = 1;
  state_.last_direction = static_cast<std::uint8_t>(direction);
  state_.last_address = address;
  state_.last_value = value;
}

// Past the size limit the recording ends with a comment that says why.
void BusRecorder::Write(const char* text, std::size_t length) {
  if (!Recording()) return;
  static constexpr std::string_view kFull = "$comment the recording ends here: size limit $end\n";
  if (state_.written + length + kFull.size() > state_.size_limit) {
    Emit(kFull.data(), kFull.size());
    Close();
    return;
  }
  Emit(text, length);
  state_.written += length;
}

// Into the buffer of a recorder of the process's own; else straight to the file.
void BusRecorder::Emit(const char* text, std::size_t length) {
  if (!buffer_) {
    (void)file_.Append(text, length);
    return;
  }
  if (buffered_ + length > kFileBuffer) Flush();
  if (length > kFileBuffer) {
    (void)file_.Append(text, length);
    return;
  }
  std::copy_n(text, length, buffer_.get() + buffered_);
  buffered_ += length;
}

void BusRecorder::Flush() {
  if (buffered_ > 0) (void)file_.Append(buffer_.get(), buffered_);
  buffered_ = 0;
}

}  // namespace orvex::sim
