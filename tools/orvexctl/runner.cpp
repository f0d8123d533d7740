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

Outcome Succeeded(std::string result) {
  return {true, std::move(result), {}};
}

Outcome Failed(std::string result, std::string failure) {
  return {false, std::move(result), std::move(failure)};
}

Outcome Unexpected(int result) {
  return Failed("unexpected result " + std::to_string(result),
                "the library returned " + std::to_string(result) + ", which it never should here");
}

Outcome LineDelivered(int result) {
  if (result == 1) return Succeeded("delivered");
  if (result == 0) {
    return Failed("time-out", "a line was not delivered: the controller did not take it in time");
  }
  return Unexpected(result);
}

Outcome SetupStarted(int result) {
  if (result == 1) return Succeeded("delivered");
  if (result == 0) {
    return Failed("time-out",
                  "the first set-up line was not delivered: the controller did not take it in "
                  "time");
  }
  return Unexpected(result);
}

Outcome Position(float position) {
  if (position == ORVEX_POSITION_ERROR) {
    return Failed("no position",
                  "the controller did not answer the position query with a number in time");
  }
  return Succeeded(FormatPosition(position));
}

Outcome Answered(int result) {
  if (result == 1) return Succeeded("answered");
  return Failed("no answer", "no controller answered the axis-1 position query");
}

// MT's 0 stands both for a moving axis and for a failed exchange; a
// controller that still answers the position query is taken to be moving.
Outcome DoneOrMoving(const LibraryExports& library, int result) {
  if (result == 1) return Succeeded("done");
  if (result != 0) return Unexpected(result);
  if (library.OK() == 1) return Succeeded("moving");
  return Failed("no answer", "no controller answered the status query");
}

Outcome Waited(int result) {
  if (result == 1) return Succeeded("done");
  if (result == 0) {
    return Failed("no answer", "the controller stopped answering the status query for a second");
  }
  return Unexpected(result);
}

void PrintFailure(const Session& session, const Invocation& invocation, const Outcome& outcome) {
  session.err << "orvexctl: " << invocation.text << " failed: " << outcome.failure << '\n'
              << "orvexctl: likely cause: " << session.likely_cause() << '\n'
              << std::flush;
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
  const signed char axis = invocation.axis;
  const float value = invocation.value;
  switch (invocation.command->function) {
    case Export::MA:
      return LineDelivered(library.MA(axis, value));
    case Export::MR:
      return LineDelivered(library.MR(axis, value));
    case Export::SV:
      return LineDelivered(library.SV(axis, value));
    case Export::ST:
      return LineDelivered(library.ST(axis));
    case Export::DH:
      return LineDelivered(library.DH(axis));
    case Export::GH:
      return LineDelivered(library.GH(axis));
    case Export::TP:
      return Position(library.TP(axis));
    case Export::OK:
      return Answered(library.OK());
    case Export::MT:
      return DoneOrMoving(library, library.MT(axis));
    case Export::WS:
      return Waited(library.WS(axis));
    case Export::RT:
      return SetupStarted(library.RT(axis));
  }
  return Unexpected(-1);
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
