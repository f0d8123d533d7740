// Whether the card's machine-wide record can be had, and who holds the card:
// asked of the same record the library for the card shares.
#include "port/machine_wide.h"
#include "port/platform.h"
#include "port_diagnosis.h"

namespace orvex::diagnosis {

CardSharing ProbeCardSharing(unsigned base) {
  const port::CardPorts card(static_cast<port::PortAddress>(base));
  if (!port::CardRecordName(base, card.Sharing().name)) card.Sharing().name[0] = '\0';
  const port::CardHolder holder = port::HolderOf(card);
  CardSharing sharing;
  sharing.problem = port::SharingProblem(card);
  sharing.held = holder.held;
  sharing.process = holder.process;
  sharing.program = holder.program;
  sharing.held_seconds = holder.held_seconds;
  return sharing;
}

}  // namespace orvex::diagnosis
