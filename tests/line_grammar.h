// Every line the library sends, and nothing else: the grammar the tests that
// look for torn or mixed lines match each received line against. The set-up
// lines come from setup_lines.h.
#pragma once

#include <regex>
#include <set>
#include <string>

#include "setup_lines.h"

namespace orvex {

namespace detail {

// "FI11|VA1000;AC50000|FM3|FM03|DH": the set-up lines without axis digit and
// carriage return.
inline std::string SetupMnemonics() {
  std::set<std::string> mnemonics;
  for (const auto* lines : {&kAxis1SetupLines, &kBothAxesSetupLines}) {
    for (const std::string& line : *lines) mnemonics.insert(line.substr(1, line.size() - 2));
  }
  std::string alternatives;
  for (const std::string& mnemonic : mnemonics) {
    alternatives += (alternatives.empty() ? "" : "|") + mnemonic;
  }
  return alternatives;
}

}  // namespace detail

inline bool IsWellFormedLine(const std::string& line) {
  static const std::regex kLine("[12]P[AR] -?[0-9]+\r|[12]VA[0-9]+\r|[12](ST|DH|TP|" +
                                detail::SetupMnemonics() + ")\r|TS\r");
  return std::regex_match(line, kLine);
}

}  // namespace orvex
