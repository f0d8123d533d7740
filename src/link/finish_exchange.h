// Finishing the exchange a dead holder left on a card.
#pragma once

#include "link/exchange_record.h"
#include "port/platform.h"

namespace orvex::link {

// Takes the exchange in `record` from the step its holder noted last to its
// end: the rest of the line, then, for a query, the rest of the reply, taken
// and dropped. The noted step was about to be taken, or was taken just
// before the holder died; where the two leave the controller in different
// states, a look at the handshake register tells which, so no byte goes out
// twice and none is lost. The record is idle afterwards.
void FinishExchange(ExchangeRecord& record, const port::CardPorts& card);

}  // namespace orvex::link
