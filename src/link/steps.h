// The handshake from a given step on: what the link's exchanges are made of,
// and what finishes a dead holder's exchange from wherever it stopped.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "link/exchange_record.h"
#include "link/link.h"
#include "port/platform.h"

namespace orvex::link {

// Command byte `index` from `from` on: Step::AwaitTaken once it was strobed,
// else from its readiness wait.
bool SendByteFrom(Step from, std::uint8_t byte, std::uint32_t index, const port::CardPorts& card,
                  ExchangeRecord& record);

// Bytes `first` on of `line`, each from its readiness wait.
bool SendBytesFrom(std::string_view line, std::uint32_t first, const port::CardPorts& card,
                   ExchangeRecord& record);

// After the line's last byte: READY again.
bool AwaitLineDone(const port::CardPorts& card, ExchangeRecord& record);

// Reply bytes `first` on, the first from `from` (Step::AwaitOffer, or
// Step::AwaitStanding once it was asked for), into `buffer` as far as it goes.
ReplyResult ReadReplyFrom(Step from, std::uint32_t first, std::span<std::uint8_t> buffer,
                          const port::CardPorts& card, ExchangeRecord& record);

// After the reply's line feed: READY again.
bool AwaitReplyDone(const port::CardPorts& card, ExchangeRecord& record);

}  // namespace orvex::link
