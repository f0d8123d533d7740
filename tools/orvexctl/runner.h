// Running the commands against a loaded library and telling what came of them.
#pragma once

#include <functional>
#include <ostream>
#include <span>
#include <string>

#include "arguments.h"
#include "library.h"
#include "trace.h"

namespace orvexctl {

struct Outcome {
  bool succeeded = false;
  std::string result;   // the line printed on standard output
  std::string failure;  // what went wrong, when it did not succeed
  std::string cause;    // the cause, when the outcome knows it; else the session's likely cause
};

// A card opened through the card API, and the API to drive it.
struct CardSession {
  const CardExports& api;
  orvex_card* card = nullptr;
  // Why the processes that drive this card are not kept apart from each other.
  std::function<std::string()> why_not_shared;
};

// Calls the command's function through its adapter; for a 0 from MT that also
// calls OK, to tell axes that move from a controller that does not answer.
Outcome RunInvocation(const LibraryExports& library, const Invocation& invocation);

// The same through the card API on `card`.
Outcome RunOnCard(const CardSession& card, const Invocation& invocation);

// A position in caller units, to the nearest hundredth (the count it stands for):
// "15.83", not the float's 15.829999923706055.
std::string FormatPosition(float position);

struct Session {
  const LibraryExports& library;
  std::function<std::string()> likely_cause;  // asked once, after a failure
  std::ostream& out;
  std::ostream& err;
  TracePrinter* trace = nullptr;  // with --trace
  // How to call orvexctl on the same controller, for the advice after Ctrl-C
  // during ws: "orvexctl", or with its --library PATH; empty for the virtual
  // controller, which lives and ends in this process.
  std::string orvexctl_call;
  // The card the commands drive through the card API (--base); nullptr for
  // the eleven functions' card.
  const CardSession* card = nullptr;
  // The eleven functions' card through the card API, for what only that API
  // offers (holder); may be nullptr when no command needs it.
  const CardSession* default_card = nullptr;
  // How the library reaches the card, told after a failure; none for the
  // virtual controller.
  std::function<std::string()> route = {};
};

// Runs the invocations in order and prints each result. At the first failure
// it tells on `err` what failed, its likely cause and the route to the card,
// and stops. Ctrl-C during ws tells that the axes keep moving, and how to
// stop them. Returns the exit status.
int RunInvocations(const Session& session, std::span<const Invocation> invocations);

}  // namespace orvexctl
