#include "runner.h"

#include <optional>
#include <ostream>
#include <span>
#include <string>

#include "exit_status.h"
#include "interrupt_notice.h"
#include "orvexportio.h"
#include "values.h"

namespace orvexctl {
namespace {

void PrintFailure(const Session& session, const Invocation& invocation, const Outcome& outcome) {
  const std::string cause = outcome.cause.empty() ? session.likely_cause() : outcome.cause;
  session.err << "orvexctl: " << invocation.text << " failed: " << outcome.failure << '\n'
              << "orvexctl: likely cause: " << cause << '\n';
  if (session.route) session.err << "orvexctl: route: " << session.route() << '\n';
  session.err << std::flush;
}

// Through the card API on the card given with --base, or, for a command the
// eleven functions lack, on theirs; else through the eleven.
Outcome Run(const Session& session, const Invocation& invocation) {
  const CardSession* card = session.card != nullptr ? session.card : session.default_card;
  if (session.card != nullptr || invocation.command->call == nullptr) {
    if (card == nullptr) return {false, "no card", "no card was opened for this command", {}};
    return RunOnCard(*card, invocation);
  }
  return RunInvocation(session.library, invocation);
}

// WS blocks until the axes are at rest; Ctrl-C ends orvexctl, not the motion.
bool WaitsForRest(const Invocation& invocation) {
  return invocation.command->function == "WS";
}

std::string InterruptedWaitNotice(const Session& session, const Invocation& invocation) {
  const std::string head = "orvexctl: " + invocation.text + " interrupted: ";
  if (session.orvexctl_call.empty()) {
    return head + "the virtual controller ends with orvexctl, and its axes with it\n";
  }
  const std::string stop = session.orvexctl_call + " st " + std::to_string(invocation.axis);
  if (invocation.axis == 0) {
    return head + "the axes keep moving to their targets; stop them with: " + stop + "\n";
  }
  return head + "axis " + std::to_string(invocation.axis) +
         " keeps moving to its target; stop it with: " + stop + "\n";
}

}  // namespace

std::string FormatPosition(float position) {
  return UnitsText(NearestCount(position));
}

Outcome RunInvocation(const LibraryExports& library, const Invocation& invocation) {
  return invocation.command->call(library, invocation);
}

Outcome RunOnCard(const CardSession& card, const Invocation& invocation) {
  return invocation.command->card_call(card, invocation);
}

int RunInvocations(const Session& session, std::span<const Invocation> invocations) {
  for (const Invocation& invocation : invocations) {
    // Armed before the trace announces the command, so that whoever sees
    // "# ws" knows Ctrl-C gets the notice.
    std::optional<InterruptNotice> notice;
    if (WaitsForRest(invocation)) notice.emplace(InterruptedWaitNotice(session, invocation));
    if (session.trace != nullptr) session.out << "# " << invocation.text << '\n' << std::flush;
    const Outcome outcome = Run(session, invocation);
    if (session.trace != nullptr) session.trace->Finish();
    session.out << outcome.result << '\n' << std::flush;
    if (!outcome.succeeded) {
      PrintFailure(session, invocation, outcome);
      return kCommandFailed;
    }
  }
  return kAllDone;
}

}  // namespace orvexctl
