// What Ctrl-C tells the user while orvexctl waits on the controller.
#pragma once

#include <string>

namespace orvexctl {

// While one lives, Ctrl-C first prints `message` on standard error and then
// ends orvexctl as Ctrl-C always does. One at a time.
class InterruptNotice {
 public:
  explicit InterruptNotice(const std::string& message);
  ~InterruptNotice();
  InterruptNotice(const InterruptNotice&) = delete;
  InterruptNotice& operator=(const InterruptNotice&) = delete;
};

}  // namespace orvexctl
