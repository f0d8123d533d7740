// The motion commands: one line per addressed axis, nothing read back.
#include "commands/motion_commands.h"

#include <cstdint>
#include <string_view>

#include "commands/axis.h"
#include "commands/cards.h"
#include "commands/command_line.h"
#include "commands/conversion.h"
#include "link/exchange.h"
#include "orvexportio.h"

namespace orvex::commands {
namespace {

bool Send(link::Card& card, const CommandLine& line) {
  return link::SendLine(card, line.View());
}

}  // namespace

bool SendPositionLines(link::Card& card, signed char axis, std::string_view mnemonic,
                       std::int32_t count) {
  return ForAddressedAxes(axis, [&](signed char one) {
    return Send(card, CommandLine::ForAxis(one).Text(mnemonic).Text(" ").Number(count).End());
  });
}

bool SendSpeedLines(link::Card& card, signed char axis, std::int32_t count) {
  return ForAddressedAxes(axis, [&](signed char one) {
    return Send(
        card, CommandLine::ForAxis(one).Text("VA").Number(static_cast<std::uint32_t>(count)).End());
  });
}

bool SendBareLines(link::Card& card, signed char axis, std::string_view mnemonic) {
  return ForAddressedAxes(axis, [&](signed char one) {
    return Send(card, CommandLine::ForAxis(one).Text(mnemonic).End());
  });
}

namespace {

int SendPosition(signed char axis, std::string_view mnemonic, float value) {
  const std::int32_t count = ControllerCount(value);
  return OnElevensCard(axis, [&](link::Card& card, signed char addressed) {
    return SendPositionLines(card, addressed, mnemonic, count);
  });
}

int SendSpeed(signed char axis, float value) {
  const std::int32_t count = ControllerCount(value);
  return OnElevensCard(axis, [&](link::Card& card, signed char addressed) {
    return SendSpeedLines(card, addressed, count);
  });
}

int SendBare(signed char axis, std::string_view mnemonic) {
  return OnElevensCard(axis, [&](link::Card& card, signed char addressed) {
    return SendBareLines(card, addressed, mnemonic);
  });
}

}  // namespace
}  // namespace orvex::commands

using orvex::commands::SendBare;
using orvex::commands::SendPosition;
using orvex::commands::SendSpeed;

extern "C" {

int ORVEX_CALL MA(signed char axis, float target) {
  return SendPosition(axis, "PA", target);
}

int ORVEX_CALL MR(signed char axis, float distance) {
  return SendPosition(axis, "PR", distance);
}

int ORVEX_CALL SV(signed char axis, float speed) {
  return SendSpeed(axis, speed);
}

int ORVEX_CALL ST(signed char axis) {
  return SendBare(axis, "ST");
}

int ORVEX_CALL DH(signed char axis) {
  return SendBare(axis, "DH");
}

int ORVEX_CALL GH(signed char axis) {
  return MA(axis, 0.0F);
}

}  // extern "C"
