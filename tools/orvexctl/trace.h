// --trace: the lines the virtual controller receives, printed as they arrive.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>

#include "orvexportio.h"

namespace orvexctl {

// A received line made readable: control characters and bytes outside
// printable ASCII written as escapes ("1PA 250\r").
std::string EscapedLine(std::string_view line);

// Prints each line with its virtual time. A run of identical lines (a wait
// polling the status) prints its first line at once and its last, with the
// length of the run, when the run ends.
class TracePrinter {
 public:
  explicit TracePrinter(std::ostream& out) : out_(out) {}

  // For orvexsim_set_line_callback, with the printer as the context.
  static void ORVEX_CALL OnLine(const char* line, int length, double received_at, void* context);

  void Receive(std::string_view line, double received_at);
  // Ends the present run; called whenever a command has returned.
  void Finish();

 private:
  void Print(std::string_view line, double received_at, std::string_view note);

  std::ostream& out_;
  std::string last_line_;
  double last_at_ = 0.0;
  std::size_t run_length_ = 0;  // arrivals of last_line_ in a row, the printed first included
};

}  // namespace orvexctl
