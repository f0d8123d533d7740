// The builds that reach their cards only through the registers: the Windows
// build, the virtual controller's, and the seams of the tests, benchmarks and
// fuzzing. The link runs every handshake itself.
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "port/platform.h"

namespace orvex::port {

std::optional<CarriedExchange> CarryWholeExchange(const CardPorts& /*card*/,
                                                  std::string_view /*line*/, bool /*query*/,
                                                  std::span<std::uint8_t> /*reply*/) {
  return std::nullopt;
}

bool CarriesWholeExchanges(const CardPorts& /*card*/) {
  return false;
}

}  // namespace orvex::port
