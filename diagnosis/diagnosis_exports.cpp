// The diagnosis behind a C function, for hosts in any language.
#include <algorithm>
#include <cstring>
#include <string>

#include "orvexportio_diagnosis.h"
#include "port_diagnosis.h"

namespace {

void CopyCut(const std::string& line, char* text, int capacity) {
  if (text == nullptr || capacity <= 0) return;
  const std::size_t kept = std::min(line.size(), static_cast<std::size_t>(capacity) - 1);
  std::memcpy(text, line.data(), kept);
  text[kept] = '\0';
}

template <typename Explain>
int Explained(Explain explain, char* text, int capacity) {
  try {
    const std::string line = explain();
    CopyCut(line, text, capacity);
    return static_cast<int>(line.size());
  } catch (...) {
    // Out of memory while composing the line: no cause to tell.
    CopyCut({}, text, capacity);
    return 0;
  }
}

}  // namespace

extern "C" {

int ORVEX_CALL orvexdiag_explain(char* text, int capacity) {
  return Explained(orvex::diagnosis::ExplainSilentController, text, capacity);
}

int ORVEX_CALL orvexdiag_explain_card(unsigned base, char* text, int capacity) {
  return Explained([base] { return orvex::diagnosis::ExplainSilentCard(base); }, text, capacity);
}

int ORVEX_CALL orvexdiag_route(char* text, int capacity) {
  return Explained(orvex::diagnosis::ExplainControllerRoute, text, capacity);
}

int ORVEX_CALL orvexdiag_route_card(unsigned base, char* text, int capacity) {
  return Explained([base] { return orvex::diagnosis::ExplainRoute(base); }, text, capacity);
}

}  // extern "C"
