#include <windows.h>

#include <algorithm>
#include <array>
#include <string>

#include "interrupt_notice.h"

namespace orvexctl {
namespace {

std::array<char, 512> notice_text{};
DWORD notice_length = 0;

// Runs on a thread of its own; returning FALSE passes the event on to the
// default handler, which ends the process.
BOOL WINAPI PrintNotice(DWORD event) {
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), notice_text.data(), notice_length, &written, nullptr);
  }
  return FALSE;
}

}  // namespace

InterruptNotice::InterruptNotice(const std::string& message) {
  const std::size_t length = std::min(message.size(), notice_text.size());
  std::copy_n(message.begin(), length, notice_text.begin());
  notice_length = static_cast<DWORD>(length);
  SetConsoleCtrlHandler(PrintNotice, TRUE);
}

InterruptNotice::~InterruptNotice() {
  SetConsoleCtrlHandler(PrintNotice, FALSE);
}

}  // namespace orvexctl
