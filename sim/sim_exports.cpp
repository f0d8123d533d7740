// The host developer's view of the virtual controller, exported as C.
#include <algorithm>
#include <array>
#include <cstddef>
#include <optional>

#include "orvexportio_sim.h"
#include "virtual_controller.h"

using orvex::sim::Microseconds;
using orvex::sim::ReceivedLine;
using orvex::sim::TheController;

namespace {

double Seconds(Microseconds time) {
  return static_cast<double>(time) / 1e6;
}

}  // namespace

extern "C" {

void ORVEX_CALL orvexsim_reset(void) {
  TheController().Reset();
}

int ORVEX_CALL orvexsim_line_count(void) {
  return static_cast<int>(TheController().LineCount());
}

int ORVEX_CALL orvexsim_line(int index, char* text, int capacity, double* received_at) {
  if (index < 0) return -1;
  const std::optional<ReceivedLine> line = TheController().LineAt(static_cast<std::size_t>(index));
  if (!line) return -1;
  if (text != nullptr && capacity > 0) {
    const std::size_t copied = std::min(line->length, static_cast<std::size_t>(capacity) - 1);
    std::copy_n(line->bytes.begin(), copied, text);
    text[copied] = '\0';
  }
  if (received_at != nullptr) *received_at = Seconds(line->completed_at);
  return static_cast<int>(line->length);
}

void ORVEX_CALL orvexsim_set_line_callback(orvexsim_line_callback callback, void* context) {
  if (callback == nullptr) {
    TheController().SetLineObserver(nullptr);
    return;
  }
  TheController().SetLineObserver([callback, context](const ReceivedLine& line) {
    std::array<char, ReceivedLine::kCapacity + 1> text{};
    std::copy_n(line.bytes.begin(), line.length, text.begin());
    callback(text.data(), static_cast<int>(line.length), Seconds(line.completed_at), context);
  });
}

}  // extern "C"
