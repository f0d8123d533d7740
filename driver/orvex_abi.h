/* SPDX-License-Identifier: GPL-2.0 WITH Linux-syscall-note OR MIT */
/*
 * The user-space interface of the orvex driver: one character device per
 * controller card, /dev/orvex0, /dev/orvex1, ..., and one ioctl on it that
 * carries one whole exchange with the card. An exchange is a command line, or
 * a query line together with its reply line. The driver serialises the
 * exchanges of all processes, and an exchange once started always ends whole:
 * no line on the bus is ever torn, whatever happens to the process that asked
 * for it.
 *
 * Usable from C and C++ in user space and from the kernel.
 */
#ifndef ORVEX_ABI_H
#define ORVEX_ABI_H

#include <linux/ioctl.h>
#include <linux/types.h>

/* The most bytes a line may have, its carriage return included. */
#define ORVEX_LINE_MAX 79
/* The size of the line field: one more than the longest line, so that the
   structure keeps a natural alignment; the last byte is never sent. */
#define ORVEX_LINE_SIZE 80
/* The reply buffer: what fits here, line feed included, is delivered. */
#define ORVEX_REPLY_SIZE 80
/* The most reply bytes the driver takes from the card for one reply, line
   feed included; a longer reply is abandoned there. */
#define ORVEX_REPLY_BOUND 1024

/* flags: after the line, receive the card's reply line. */
#define ORVEX_EXCHANGE_QUERY 0x1u
#define ORVEX_EXCHANGE_FLAGS (ORVEX_EXCHANGE_QUERY)

/* outcome: what became of the exchange. */
enum orvex_outcome {
	/* The line went out whole and the card came back to READY; for a
	   query, a whole reply line that fits the buffer came too. */
	ORVEX_DELIVERED = 0,
	/* The card did not show READY within the 9 ms window before a command
	   byte; the bytes_sent bytes before it went out and stay sent. */
	ORVEX_READY_MISSED = 1,
	/* The card did not acknowledge a strobed command byte within 1 s, or
	   did not come back to READY within 1 s after the line; bytes_sent
	   tells how many bytes it had acknowledged. */
	ORVEX_ACK_MISSED = 2,
	/* The line went out whole but no whole reply was delivered: the card
	   offered no reply byte within the 9 ms window (no reply, or a reply
	   cut short), missed the 1 s bound within a byte, offered more than
	   ORVEX_REPLY_BOUND bytes, did not come back to READY within 1 s after
	   the line feed, or the reply was longer than the buffer (drained up to
	   its line feed all the same, so the card stays in step). */
	ORVEX_REPLY_NOT_DELIVERED = 3,
	/* Another exchange held the card for the whole 1 s this one waited for
	   it; nothing was sent. */
	ORVEX_CARD_BUSY = 4,
};

/*
 * One exchange. The caller fills the fields marked "in" and zeroes the rest;
 * the driver fills the fields marked "out". Every field has the same size and
 * offset for 32-bit and 64-bit callers (188 bytes, no padding).
 */
struct orvex_exchange {
	__u32 flags;          /* in: ORVEX_EXCHANGE_QUERY or 0; other bits are refused */
	__u32 line_length;    /* in: 0 to ORVEX_LINE_MAX. A line of one or more bytes
	                         ends with its only carriage return. An empty line
	                         sends nothing and only waits for READY. */
	__u8 line[ORVEX_LINE_SIZE]; /* in: the line's bytes */
	__u32 outcome;        /* out: an enum orvex_outcome */
	__u32 bytes_sent;     /* out: line bytes the card acknowledged */
	__u32 reply_length;   /* out: reply bytes stored in reply, line feed included;
	                         at most ORVEX_REPLY_SIZE */
	__u32 reply_received; /* out: reply bytes the card handed over, stored or not;
	                         at most ORVEX_REPLY_BOUND */
	__u32 reply_ended;    /* out: 1 when the reply's line feed came (the whole
	                         line came, though it may not have fitted), else 0 */
	__u8 reply[ORVEX_REPLY_SIZE]; /* out: the reply's first reply_length bytes;
	                                 no terminator is added */
};

/*
 * Carries one exchange. Returns 0 when the exchange was carried or the card
 * was busy (see outcome), or -1 with errno:
 *   EINVAL  a line longer than ORVEX_LINE_MAX, a non-empty line that does not
 *           end with its only carriage return, or unknown flags; nothing sent
 *   EFAULT  the structure could not be read (nothing sent) or written back
 *           (the exchange was carried)
 *   EINTR   a signal came while waiting for another exchange to end; nothing
 *           sent. A signal that comes once the line is on its way waits for
 *           the exchange to end.
 *   EBADF   the device was not opened for writing
 */
#define ORVEX_IOC_MAGIC 0xD9
#define ORVEX_IOC_EXCHANGE _IOWR(ORVEX_IOC_MAGIC, 1, struct orvex_exchange)

#endif /* ORVEX_ABI_H */
