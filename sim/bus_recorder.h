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
// Its state (RecorderState) is plain data: the process's own, or a card's in
// a bus shared between processes (shared_bus.h). Then one recording holds
// every process's accesses to the card: each process opens the file for
// appending itself, when its first access after the start finds the
// recording going, and writes each access straight through, so a cycle is in
// the file before the card's lock passes to another process. A recorder of
// the process's own buffers its writes instead.
//
// Not thread-safe: its owner serialises the calls (in a shared bus, under the
// card's lock, across processes too).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "append_file.h"

namespace orvex::sim {

enum class BusDirection : std::uint8_t { Read, Write };

// A recording's state: plain data of fixed widths (card_state.h says why).
struct RecorderState {
  static constexpr std::size_t kPathCapacity = 4096;

  // Counts the recordings started, so each process knows whether the file it
  // has open is the present one's.
  std::uint64_t generation = 0;
  std::uint64_t size_limit = 0;
  std::uint64_t written = 0;
  std::uint64_t offset = 0;       // added to the controller's clock
  std::uint64_t strobe_rose = 0;  // of the last cycle
  std::uint16_t handshake_register = 0;
  std::uint16_t last_address = 0;
  std::uint8_t recording = 0;
  std::uint8_t strobe_high = 0;
  std::uint8_t last_direction = 0;  // a BusDirection
  std::uint8_t last_value = 0;
  std::uint8_t handshake_value = 0;  // as HS shows it
  std::uint8_t any_cycle = 0;
  std::array<std::uint8_t, 6> padding{};
  std::array<char, kPathCapacity> path{};  // absolute, NUL-terminated
};

class BusRecorder {
 public:
  static constexpr std::uint64_t kStrobeWidth = 500;                     // nanoseconds
  static constexpr std::uint64_t kSizeLimit = std::uint64_t{256} << 20;  // bytes

  // A recorder of the process's own.
  BusRecorder();
  // The process's part of the recorder whose state is `state`, in a bus
  // shared between processes.
  explicit BusRecorder(RecorderState& state);
  BusRecorder(const BusRecorder&) = delete;
  BusRecorder& operator=(const BusRecorder&) = delete;
  // Ends a recording of the process's own; a shared one goes on.
  ~BusRecorder();

  // Starts a recording into `vcd_path` and writes the save file beside it
  // (its name with ".gtkw" in place of ".vcd"). False, and no recording, when
  // either file cannot be written.
  bool Start(const std::string& vcd_path, std::uint16_t data_register,
             std::uint16_t handshake_register, std::uint64_t size_limit = kSizeLimit);
  // Ends the recording and closes its file.
  void Stop();
  bool Recording() const { return state_.recording != 0; }

  // One port access, at `nanoseconds` on the controller's clock.
  void Access(std::uint64_t nanoseconds, BusDirection direction, std::uint16_t address,
              std::uint8_t value);
  // The controller's clock starts over from 0: later cycles follow the last one.
  void ClockRestarted();

  // The save file written beside `vcd_path`.
  static std::string SaveFilePath(const std::string& vcd_path);

 private:
  bool IsRepeatedPoll(BusDirection direction, std::uint16_t address, std::uint8_t value) const;
  bool FileOfThePresentRecording();
  void EndStrobe(std::uint64_t at_most);
  void Write(const char* text, std::size_t length);
  void Emit(const char* text, std::size_t length);
  void Flush();
  void Close();

  std::unique_ptr<RecorderState> own_state_;
  RecorderState& state_;
  // This process's file, of recording `file_generation_`.
  AppendFile file_;
  std::uint64_t file_generation_ = 0;
  // Only a recorder of the process's own buffers.
  std::unique_ptr<char[]> buffer_;
  std::size_t buffered_ = 0;
};

}  // namespace orvex::sim
