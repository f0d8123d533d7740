// A command line built in place, on the stack of the call that sends it.
#pragma once

#include <array>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace orvex::commands {

class CommandLine {
 public:
  // Starts a line with the axis digit ('1' or '2').
  static CommandLine ForAxis(signed char axis) {
    CommandLine line;
    line.chars_[0] = static_cast<char>('0' + axis);
    line.length_ = 1;
    return line;
  }

  CommandLine& Text(std::string_view text) {
    for (const char character : text) Put(character);
    return *this;
  }

  CommandLine& Number(std::int32_t value) { return Digits(value); }
  CommandLine& Number(std::uint32_t value) { return Digits(value); }

  // Ends the line with its carriage return.
  CommandLine& End() {
    Put('\r');
    return *this;
  }

  std::string_view View() const { return {chars_.data(), length_}; }

 private:
  // Room for the longest line ("1VA1000;AC50000\r", or a count of 11
  // characters) with plenty to spare; nothing is ever written beyond it.
  static constexpr std::size_t CAPACITY = 32;

  template <typename Integer>
  CommandLine& Digits(Integer value) {
    const auto result = std::to_chars(chars_.data() + length_, chars_.data() + CAPACITY, value);
    if (result.ec == std::errc{}) length_ = static_cast<std::size_t>(result.ptr - chars_.data());
    return *this;
  }

  void Put(char character) {
    if (length_ < CAPACITY) chars_[length_++] = character;
  }

  std::array<char, CAPACITY> chars_{};
  std::size_t length_ = 0;
};

}  // namespace orvex::commands
