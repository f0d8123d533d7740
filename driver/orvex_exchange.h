/* SPDX-License-Identifier: GPL-2.0 */
/*
 * One exchange with a controller card: a command line carried byte by byte
 * over the strobe/acknowledge handshake, and for a query the reply line
 * brought back the same way. The registers are reached through an ops table,
 * so that the same logic drives the real ports, the simulated card and the
 * fake card of the unit tests.
 */
#ifndef ORVEX_EXCHANGE_H
#define ORVEX_EXCHANGE_H

#include "orvex_shim.h"
#include "orvex_abi.h"

/* The card's registers, as offsets from its base. */
#define ORVEX_DATA_REGISTER 0u
#define ORVEX_HANDSHAKE_REGISTER 1u

/* Handshake register values. */
#define ORVEX_SHOWS_READY 0x80   /* read: the card is idle */
#define ORVEX_SHOWS_PENDING 0x00 /* read: a command byte taken, or a reply byte offered */
#define ORVEX_REPLY_STANDS 0x80  /* read, 0x80 to 0xFF: the asked-for reply byte stands */
#define ORVEX_STROBE 0x80        /* write: take the command byte / offer the reply byte */
#define ORVEX_RELEASE 0x00       /* write: done with this byte */

#define ORVEX_CARRIAGE_RETURN 0x0D
#define ORVEX_LINE_FEED 0x0A

/* How long the card has to show readiness before each byte. */
#define ORVEX_HANDSHAKE_WINDOW_NS 9000000ull
/* How long it has to acknowledge a strobe, to put a requested reply byte
   out, and to come back to READY after a line. */
#define ORVEX_ACKNOWLEDGE_BOUND_NS 1000000000ull
/* A longer gap between two clock readings of one wait means this task was
   not running; that time is given back to the card, up to the allowance. */
#define ORVEX_HOST_STALL_NS 1000000ull
#define ORVEX_STALL_ALLOWANCE_NS 250000000ull
/* How long a wait polls without pause before it naps between looks. */
#define ORVEX_BUSY_POLL_NS 30000ull
/* Naps between looks: short ones for the first millisecond of a wait and its
   last moments, so a card that answers soon is seen soon and a look still
   falls close to the deadline; longer ones in between, so that a card that
   takes its time costs the processor little. */
#define ORVEX_SHORT_NAPS_NS 1000000ull
#define ORVEX_SHORT_NAP_MIN_US 20u
#define ORVEX_SHORT_NAP_MAX_US 50u
#define ORVEX_LONG_NAP_MIN_US 200u
#define ORVEX_LONG_NAP_MAX_US 400u

struct orvex_register_ops {
	u8 (*read)(void *context, unsigned int offset);
	void (*write)(void *context, unsigned int offset, u8 value);
};

struct orvex_port {
	const struct orvex_register_ops *ops;
	void *context;
};

#ifdef __cplusplus
extern "C" {
#endif

/* 0 when the request is well formed, -EINVAL when not (see orvex_abi.h). */
int orvex_check_exchange(const struct orvex_exchange *exchange);

/* Carries a checked exchange and fills its outcome fields. It returns only
   once the exchange has ended, one way or another: nothing in it looks at
   signals. */
void orvex_carry_exchange(const struct orvex_port *port, struct orvex_exchange *exchange);

#ifdef __cplusplus
}
#endif

#endif /* ORVEX_EXCHANGE_H */
