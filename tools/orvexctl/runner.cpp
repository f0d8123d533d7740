#include "runner.h"

#include <ostream>
#include <span>
#include <string>

#include "exit_status.h"
#include "orvexportio.h"
#include "values.h"

namespace orvexctl {
namespace {

void PrintFailure(const Session& session, const Invocation& invocation, const Outcome& outcome) {
  session.err << "orvexctl: " << invocation.text << " failed: " << outcome.failure << '\n'
              << "orvexctl: likely cause: " << session.likely_cause() << '\n'
              << std::flush;
}

}  // namespace

std::string FormatPosition(float position) {
  return UnitsText(NearestCount(position));
}

Outcome RunInvocation(const LibraryExports& library, const Invocation& invocation) {
  return invocation.command->call(library, invocation);
}

int RunInvocations(const Session& session, std::span<const Invocation> invocations) {
  for (const Invocation& invocation : invocations) {
    if (session.trace != nullptr) session.out << "# " << invocation.text << '\n' << std::flush;
    const Outcome outcome = RunInvocation(session.library, invocation);
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
