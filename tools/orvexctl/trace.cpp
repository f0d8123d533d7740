#include "trace.h"

#include <cstddef>
#include <cstdio>
#include <ostream>
#include <string>
#include <string_view>

namespace orvexctl {

std::string EscapedLine(std::string_view line) {
  std::string escaped;
  for (const char character : line) {
    const auto byte = static_cast<unsigned char>(character);
    if (character == '\r') {
      escaped += "\\r";
    } else if (character == '\n') {
      escaped += "\\n";
    } else if (character == '\\') {
      escaped += "\\\\";
    } else if (byte >= 0x20 && byte < 0x7F) {
      escaped += character;
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned>(byte));
      escaped += hex;
    }
  }
  return escaped;
}

void ORVEX_CALL TracePrinter::OnLine(const char* line, int length, double received_at,
                                     void* context) {
  if (line == nullptr || length < 0) return;
  static_cast<TracePrinter*>(context)->Receive(
      std::string_view(line, static_cast<std::size_t>(length)), received_at);
}

void TracePrinter::Receive(std::string_view line, double received_at) {
  if (run_length_ > 0 && line == last_line_) {
    ++run_length_;
    last_at_ = received_at;
    return;
  }
  Finish();
  Print(line, received_at, "");
  last_line_ = std::string(line);
  last_at_ = received_at;
  run_length_ = 1;
}

void TracePrinter::Finish() {
  if (run_length_ == 2) Print(last_line_, last_at_, "");
  if (run_length_ > 2) {
    Print(last_line_, last_at_, "  (the last of " + std::to_string(run_length_) + " in a row)");
  }
  run_length_ = 0;
  last_line_.clear();
}

void TracePrinter::Print(std::string_view line, double received_at, std::string_view note) {
  char time[32];
  std::snprintf(time, sizeof time, "%11.6f", received_at);
  out_ << "  [" << time << " s] " << EscapedLine(line) << note << '\n' << std::flush;
}

}  // namespace orvexctl
