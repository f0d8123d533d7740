// The kernel driver's route to a card on Linux: where the driver offers the
// card (driver/README.md), each exchange is one ioctl on its node, and the
// kernel keeps the processes of the machine apart and ends whole every
// exchange it starts. The node is looked for and opened on the card's first
// exchange; where there is none, or this process may not open it, the card
// is reached through its registers (port_linux.cpp) for the life of the
// process.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "port/driver_exchange_linux.h"
#include "port/driver_node_linux.h"
#include "port/platform.h"

namespace orvex::port {
namespace {

int OpenDriverNode(unsigned base) {
  std::array<char, 300> path{};
  if (!FindDriverNode(base, path)) return CardRoute::NO_NODE;
  const int node = open(path.data(), O_RDWR | O_CLOEXEC);
  return node < 0 ? CardRoute::NO_NODE : node;
}

// The card's node, or NO_NODE. Two threads that choose at once both look;
// the first to note its choice keeps it.
int NodeOf(const CardPorts& card) {
  CardRoute& route = card.Route();
  const int chosen = route.node.load(std::memory_order_acquire);
  if (chosen != CardRoute::NOT_CHOSEN) return chosen;
  const int node = OpenDriverNode(static_cast<unsigned>(card.Base()));
  int expected = CardRoute::NOT_CHOSEN;
  if (route.node.compare_exchange_strong(expected, node, std::memory_order_acq_rel)) return node;
  if (node >= 0) close(node);
  return expected;
}

}  // namespace

std::optional<CarriedExchange> CarryWholeExchange(const CardPorts& card, std::string_view line,
                                                  bool query, std::span<std::uint8_t> reply) {
  const int node = NodeOf(card);
  if (node < 0) return std::nullopt;
  orvex_exchange exchange{};
  if (!DriverRequest(line, query, exchange)) return CarriedExchange{};
  const int status = ioctl(node, ORVEX_IOC_EXCHANGE, &exchange);
  return DriverOutcome(status, exchange, reply);
}

bool CarriesWholeExchanges(const CardPorts& card) {
  return NodeOf(card) >= 0;
}

}  // namespace orvex::port
