#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <string>

#include "interrupt_notice.h"

namespace orvexctl {
namespace {

// The handler may only touch what is ready before the signal comes.
std::array<char, 512> notice_text{};
volatile sig_atomic_t notice_length = 0;
struct sigaction previous_action {};

void PrintNoticeAndEnd(int signal_number) {
  // write() and raise() are safe in a signal handler; the notice is best
  // effort, the ending is not.
  const ssize_t ignored =
      write(STDERR_FILENO, notice_text.data(), static_cast<std::size_t>(notice_length));
  static_cast<void>(ignored);
  signal(signal_number, SIG_DFL);
  raise(signal_number);
}

}  // namespace

InterruptNotice::InterruptNotice(const std::string& message) {
  const std::size_t length = std::min(message.size(), notice_text.size());
  std::copy_n(message.begin(), length, notice_text.begin());
  notice_length = static_cast<sig_atomic_t>(length);
  struct sigaction action {};
  action.sa_handler = PrintNoticeAndEnd;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &previous_action);
}

InterruptNotice::~InterruptNotice() {
  sigaction(SIGINT, &previous_action, nullptr);
}

}  // namespace orvexctl
