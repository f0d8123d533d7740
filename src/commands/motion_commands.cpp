// The motion commands: one line per addressed axis, nothing read back.
#include <cstdint>
#include <string_view>

#include "commands/axis.h"
#include "commands/command_line.h"
#include "commands/conversion.h"
#include "link/exchange.h"
#include "orvexportio.h"

namespace orvex::commands {
namespace {

bool Send(const CommandLine& line) {
  return link::SendLine(line.View());
}

// "1PA 250\r": the mnemonic, one space, the count in signed decimal.
bool SendPositionLine(signed char axis, std::string_view mnemonic, std::int32_t count) {
  return Send(CommandLine::ForAxis(axis).Text(mnemonic).Text(" ").Number(count).End());
}

// "1VA250\r": the mnemonic and the count's 32 bits in unsigned decimal.
bool SendSpeedLine(signed char axis, std::int32_t count) {
  return Send(
      CommandLine::ForAxis(axis).Text("VA").Number(static_cast<std::uint32_t>(count)).End());
}

// "1ST\r": the mnemonic alone.
bool SendBareLine(signed char axis, std::string_view mnemonic) {
  return Send(CommandLine::ForAxis(axis).Text(mnemonic).End());
}

// The exported result of sending each axis the argument addresses its line.
template <typename SendToAxis>
int SendToAxes(signed char argument, SendToAxis send_to_axis) {
  return ResultForAxisCode(argument,
                           [&](signed char axis) { return ForAddressedAxes(axis, send_to_axis); });
}

int SendPosition(signed char axis, std::string_view mnemonic, float value) {
  const std::int32_t count = ControllerCount(value);
  return SendToAxes(axis, [&](signed char one) { return SendPositionLine(one, mnemonic, count); });
}

int SendSpeed(signed char axis, float value) {
  const std::int32_t count = ControllerCount(value);
  return SendToAxes(axis, [&](signed char one) { return SendSpeedLine(one, count); });
}

int SendBare(signed char axis, std::string_view mnemonic) {
  return SendToAxes(axis, [&](signed char one) { return SendBareLine(one, mnemonic); });
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
