// SPDX-License-Identifier: GPL-2.0
/*
 * The host's side of the card's byte handshake.
 *
 * A command byte: wait up to the handshake window for READY, put the byte on
 * the data register, strobe, wait up to the acknowledgement bound for the
 * acknowledgement (PENDING), release. After the line's last byte the card has
 * the acknowledgement bound to come back to READY.
 *
 * A reply byte: wait up to the handshake window for the offer (PENDING),
 * strobe, wait up to the acknowledgement bound for the byte to stand (0x80 to
 * 0xFF), read the data register, release. A line feed ends the reply, after
 * which the card has the acknowledgement bound to come back to READY.
 */
#include "orvex_exchange.h"

enum orvex_match { ORVEX_EXACTLY, ORVEX_AT_LEAST };

static bool orvex_accepts(u8 shown, enum orvex_match match, u8 wanted)
{
	return match == ORVEX_EXACTLY ? shown == wanted : shown >= wanted;
}

static u8 orvex_read(const struct orvex_port *port, unsigned int offset)
{
	return port->ops->read(port->context, offset);
}

static void orvex_write(const struct orvex_port *port, unsigned int offset, u8 value)
{
	port->ops->write(port->context, offset, value);
}

/*
 * A gap between two clock readings longer than any look takes means this task
 * was not running (preempted, or overslept a nap): that time is not held
 * against the card, up to what is left of the allowance. Returns what it gave.
 */
static u64 orvex_give_back_stall(u64 gap, u64 allowance)
{
	if (gap <= ORVEX_HOST_STALL_NS)
		return 0;
	return gap < allowance ? gap : allowance;
}

/* The sleep between two looks, once the busy poll is over: see
   ORVEX_SHORT_NAPS_NS. */
static void orvex_nap_between_looks(u64 waited, u64 remaining)
{
	if (waited < ORVEX_SHORT_NAPS_NS || remaining <= ORVEX_LONG_NAP_MAX_US * 1000ull)
		orvex_nap(ORVEX_SHORT_NAP_MIN_US, ORVEX_SHORT_NAP_MAX_US);
	else
		orvex_nap(ORVEX_LONG_NAP_MIN_US, ORVEX_LONG_NAP_MAX_US);
}

/*
 * Looks at the handshake register until it shows what is wanted or `limit`
 * has passed. A clock reading is taken just before each look, the first one
 * also starting the wait; a look counts only when its reading lies before the
 * deadline, so a value seen at the very edge is a miss. The first
 * ORVEX_BUSY_POLL_NS are polled without pause, then each look follows a
 * sleep, so that a slow or dead card never holds the processor for long.
 */
static bool orvex_await_handshake(const struct orvex_port *port, u64 limit,
				  enum orvex_match match, u8 wanted)
{
	u64 now = orvex_clock_ns();
	const u64 started = now;
	u64 deadline = now + limit;
	u64 allowance = ORVEX_STALL_ALLOWANCE_NS;

	for (;;) {
		u64 previous, given;

		if (orvex_accepts(orvex_read(port, ORVEX_HANDSHAKE_REGISTER), match, wanted) ||
		    now >= deadline)
			return now < deadline;
		previous = now;
		if (now - started >= ORVEX_BUSY_POLL_NS)
			orvex_nap_between_looks(now - started, deadline - now);
		now = orvex_clock_ns();
		given = orvex_give_back_stall(now - previous, allowance);
		deadline += given;
		allowance -= given;
	}
}

static u32 orvex_send_byte(const struct orvex_port *port, u8 byte)
{
	if (!orvex_await_handshake(port, ORVEX_HANDSHAKE_WINDOW_NS, ORVEX_EXACTLY,
				   ORVEX_SHOWS_READY))
		return ORVEX_READY_MISSED;
	orvex_write(port, ORVEX_DATA_REGISTER, byte);
	orvex_write(port, ORVEX_HANDSHAKE_REGISTER, ORVEX_STROBE);
	if (!orvex_await_handshake(port, ORVEX_ACKNOWLEDGE_BOUND_NS, ORVEX_EXACTLY,
				   ORVEX_SHOWS_PENDING))
		return ORVEX_ACK_MISSED;
	orvex_write(port, ORVEX_HANDSHAKE_REGISTER, ORVEX_RELEASE);
	return ORVEX_DELIVERED;
}

static void orvex_send_line(const struct orvex_port *port, struct orvex_exchange *exchange)
{
	u32 sent;

	for (sent = 0; sent < exchange->line_length; sent++) {
		u32 outcome = orvex_send_byte(port, exchange->line[sent]);

		if (outcome != ORVEX_DELIVERED) {
			exchange->outcome = outcome;
			return;
		}
		exchange->bytes_sent = sent + 1;
		orvex_yield();
	}
	if (!orvex_await_handshake(port, ORVEX_ACKNOWLEDGE_BOUND_NS, ORVEX_EXACTLY,
				   ORVEX_SHOWS_READY))
		exchange->outcome = ORVEX_ACK_MISSED;
}

/* The reply byte, or -1 when the card missed the window or the bound. */
static int orvex_receive_byte(const struct orvex_port *port)
{
	u8 byte;

	if (!orvex_await_handshake(port, ORVEX_HANDSHAKE_WINDOW_NS, ORVEX_EXACTLY,
				   ORVEX_SHOWS_PENDING))
		return -1;
	orvex_write(port, ORVEX_HANDSHAKE_REGISTER, ORVEX_STROBE);
	if (!orvex_await_handshake(port, ORVEX_ACKNOWLEDGE_BOUND_NS, ORVEX_AT_LEAST,
				   ORVEX_REPLY_STANDS))
		return -1;
	byte = orvex_read(port, ORVEX_DATA_REGISTER);
	orvex_write(port, ORVEX_HANDSHAKE_REGISTER, ORVEX_RELEASE);
	return byte;
}

/*
 * A reply longer than the buffer is still taken up to its line feed (or the
 * reply bound), so that the card ends its reply and stays in step with the
 * host; only what fits is stored, and the reply is not delivered.
 */
static void orvex_receive_reply(const struct orvex_port *port, struct orvex_exchange *exchange)
{
	u32 received = 0;
	bool ended = false;
	bool back_to_ready = false;

	while (!ended && received < ORVEX_REPLY_BOUND) {
		int byte = orvex_receive_byte(port);

		if (byte < 0)
			break;
		if (received < ORVEX_REPLY_SIZE)
			exchange->reply[received] = (u8)byte;
		received++;
		ended = byte == ORVEX_LINE_FEED;
		orvex_yield();
	}
	exchange->reply_received = received;
	exchange->reply_length = received < ORVEX_REPLY_SIZE ? received : ORVEX_REPLY_SIZE;
	exchange->reply_ended = ended;
	if (ended)
		back_to_ready = orvex_await_handshake(port, ORVEX_ACKNOWLEDGE_BOUND_NS,
						      ORVEX_EXACTLY, ORVEX_SHOWS_READY);
	if (!back_to_ready || received > ORVEX_REPLY_SIZE)
		exchange->outcome = ORVEX_REPLY_NOT_DELIVERED;
}

int orvex_check_exchange(const struct orvex_exchange *exchange)
{
	u32 length = exchange->line_length;

	if (exchange->flags & ~ORVEX_EXCHANGE_FLAGS)
		return -EINVAL;
	if (length > ORVEX_LINE_MAX)
		return -EINVAL;
	if (length == 0)
		return 0;
	/* One exchange carries one line: it ends with its carriage return, and
	   has no other, so that no exchange can leave a line half finished on
	   the card for the next one to end. */
	if (exchange->line[length - 1] != ORVEX_CARRIAGE_RETURN)
		return -EINVAL;
	if (memchr(exchange->line, ORVEX_CARRIAGE_RETURN, length - 1))
		return -EINVAL;
	return 0;
}

void orvex_carry_exchange(const struct orvex_port *port, struct orvex_exchange *exchange)
{
	exchange->outcome = ORVEX_DELIVERED;
	exchange->bytes_sent = 0;
	exchange->reply_length = 0;
	exchange->reply_received = 0;
	exchange->reply_ended = 0;
	memset(exchange->reply, 0, sizeof(exchange->reply));

	orvex_send_line(port, exchange);
	if (exchange->outcome == ORVEX_DELIVERED && (exchange->flags & ORVEX_EXCHANGE_QUERY))
		orvex_receive_reply(port, exchange);
}
