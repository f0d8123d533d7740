// The lines RT sends, in order, for axis 1, axis 2 and both axes, written
// once for every test that expects them.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace orvex {

inline const std::vector<std::string> kAxis1SetupLines = {"1FI11\r", "1VA1000;AC50000\r", "1FM3\r",
                                                          "1DH\r"};

inline const std::vector<std::string> kAxis2SetupLines = {"2FI11\r", "2VA1000;AC50000\r", "2FM3\r",
                                                          "2DH\r"};

inline const std::vector<std::string> kBothAxesSetupLines = {
    "1FI11\r", "1VA1000;AC50000\r", "1FM03\r", "1DH\r",
    "2FI11\r", "2VA1000;AC50000\r", "2FM03\r", "2DH\r"};

// The first `count` lines of a set-up sequence: those sent before a failure.
inline std::vector<std::string> FirstLines(const std::vector<std::string>& lines,
                                           std::size_t count) {
  return {lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(count)};
}

// `lines` with `between` sent between each two of them.
inline std::vector<std::string> Interleaved(const std::vector<std::string>& lines,
                                            const std::string& between) {
  std::vector<std::string> interleaved;
  for (const std::string& line : lines) {
    if (!interleaved.empty()) interleaved.push_back(between);
    interleaved.push_back(line);
  }
  return interleaved;
}

// `first`, then `then`.
inline std::vector<std::string> Followed(std::vector<std::string> first,
                                         const std::vector<std::string>& then) {
  first.insert(first.end(), then.begin(), then.end());
  return first;
}

}  // namespace orvex
