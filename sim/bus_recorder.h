// The bus between host and controller as a logic analyser on the card would
// see it, written as a Value Change Dump (VCD) with a GTKWave save file
// beside it that lays the signals out.
//
// Every port access becomes one bus cycle: the address (A0 and ADDR) and the
// byte on the data lines (D0..D7 and the vector D) change first, then the
// host's strobe (IOR for a read, IOW for a write) rises one nanosecond later
// and falls again before the next cycle, at most kStrobeWidth after it rose.
// HS holds the handshake register's value as last read or written. A poll
// that reads the same register and the same value again and again shows as
// its first read only. A host that polls without pause fills tens of
// megabytes a second, so a recording ends by itself once its file reaches a
// size limit, with a comment saying so at its end.
//
// Not thread-safe: its owner serialises the calls.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace orvex::sim {

enum class BusDirection : std::uint8_t { Read, Write };

class BusRecorder {
 public:
  static constexpr std::uint64_t kStrobeWidth = 500;                     // nanoseconds
  static constexpr std::uint64_t kSizeLimit = std::uint64_t{256} << 20;  // bytes

  BusRecorder() = default;
  BusRecorder(const BusRecorder&) = delete;
  BusRecorder& operator=(const BusRecorder&) = delete;
  ~BusRecorder();

  // Starts a recording into `vcd_path` and writes the save file beside it
  // (its name with ".gtkw" in place of ".vcd"). False, and no recording, when
  // either file cannot be written.
  bool Start(const std::string& vcd_path, std::uint16_t data_register,
             std::uint16_t handshake_register, std::uint64_t size_limit = kSizeLimit);
  // Ends the recording and closes its file.
  void Stop();
  bool Recording() const { return file_ != nullptr; }

  // One port access, at `nanoseconds` on the controller's clock.
  void Access(std::uint64_t nanoseconds, BusDirection direction, std::uint16_t address,
              std::uint8_t value);
  // The controller's clock starts over from 0: later cycles follow the last one.
  void ClockRestarted();

  // The save file written beside `vcd_path`.
  static std::string SaveFilePath(const std::string& vcd_path);

 private:
  bool IsRepeatedPoll(BusDirection direction, std::uint16_t address, std::uint8_t value) const;
  void EndStrobe(std::uint64_t at_most);
  void Write(const char* text, std::size_t length);
  void Close();

  std::FILE* file_ = nullptr;
  std::unique_ptr<char[]> buffer_;
  std::uint16_t handshake_register_ = 0;
  std::uint64_t size_limit_ = kSizeLimit;
  std::uint64_t written_ = 0;
  std::uint64_t offset_ = 0;       // added to the controller's clock
  std::uint64_t strobe_rose_ = 0;  // of the last cycle
  bool strobe_high_ = false;
  BusDirection last_direction_ = BusDirection::Write;
  std::uint16_t last_address_ = 0;
  std::uint8_t last_value_ = 0;
  std::uint8_t handshake_value_ = 0;  // as HS shows it
  bool any_cycle_ = false;
};

}  // namespace orvex::sim
