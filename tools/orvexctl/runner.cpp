#include "runner.h"

#include <array>
#include <charconv>
#include <ostream>
#include <span>
#include <string>
#include <system_error>

#include "exit_status.h"
#include "orvexportio.h"

namespace orvexctl {
namespace {

void PrintFailure(const Session& session, const Invocation& invocation, const Outcome& outcome) {
  session.err << "orvexctl: " << invocation.text << " failed: " << outcome.failure << '\n'
              << "orvexctl: likely cause: " << session.likely_cause() << '\n';
  if (session.route) session.err << "orvexctl: route: " << session.route() << '\n';
  session.err << std::flush;
}

}  // namespace

std::string FormatPosition(float position) {
  if (position == 0.0F) return "0";
  std::array<char, 64> text{};
  const auto [end, error] =
      std::to_chars(text.data(), text.data() + text.size(), position, std::chars_format::fixed);
  if (error != std::errc{}) return "?";
  return std::string(text.data(), end);
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
