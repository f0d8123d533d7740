/* SPDX-License-Identifier: GPL-2.0 */
/*
 * A simulated controller card, written from the controller's side of the
 * byte handshake: the registers as the card shows them to the host, the lines
 * it takes, and the answers it gives. Nothing here locks or sleeps; time
 * comes in with each register access, so the same code runs in the kernel
 * (behind the orvex_sim module) and in the unit tests on a fake clock.
 */
#ifndef ORVEX_SIM_CARD_H
#define ORVEX_SIM_CARD_H

#include "orvex_shim.h"

/* The bytes of a received line the card keeps; longer lines are marked. */
#define ORVEX_SIM_LINE_CAPACITY 96
#define ORVEX_SIM_REPLY_CAPACITY 32
#define ORVEX_SIM_AXES 2
/* The status byte: bit 0 while axis 1 moves, bit 1 while axis 2 moves, on
   top of 0x40 so that it never reads as a line feed. */
#define ORVEX_SIM_STATUS_BASE 0x40

struct orvex_sim_line {
	u8 bytes[ORVEX_SIM_LINE_CAPACITY];
	u32 length;
	bool overlong;
};

/* An axis moving at constant speed ("VA", counts per second) from where it
   was told to move towards its target. */
struct orvex_sim_axis {
	s64 origin;
	s64 target;
	u64 speed;
	u64 acceleration; /* "AC": kept, not used by the constant-speed motion */
	u64 started_ns;
	bool moving;
};

enum orvex_sim_phase {
	ORVEX_SIM_IDLE,           /* shows READY */
	ORVEX_SIM_STROBED,        /* a command byte strobed: acknowledged once the delay is over */
	ORVEX_SIM_LINE_DONE,      /* READY for one look after a query, then the reply is offered */
	ORVEX_SIM_REPLY_OFFERED,  /* shows PENDING: a reply byte waits to be asked for */
	ORVEX_SIM_REPLY_STANDING, /* the reply byte stands on the data register */
};

struct orvex_sim_card {
	/* How long the card takes to acknowledge each strobed command byte. */
	u64 ack_delay_ns;

	enum orvex_sim_phase phase;
	u8 data;
	u64 strobed_at_ns;
	struct orvex_sim_line receiving; /* the line being received */
	u8 reply[ORVEX_SIM_REPLY_CAPACITY];
	u32 reply_length;
	u32 reply_offered;
	struct orvex_sim_axis axes[ORVEX_SIM_AXES];

	/* The lines received, oldest first, in a ring the owner provides. */
	struct orvex_sim_line *transcript;
	u32 transcript_capacity;
	u32 lines_received;

	u64 bytes_taken;
	u64 protocol_errors; /* strobes and releases out of turn */
	u64 unknown_commands;
};

#ifdef __cplusplus
extern "C" {
#endif

void orvex_sim_init(struct orvex_sim_card *card, struct orvex_sim_line *transcript,
		    u32 transcript_capacity);
/* Idle, axes at home, empty transcript, counters at zero, no delay. */
void orvex_sim_reset(struct orvex_sim_card *card);
void orvex_sim_clear_transcript(struct orvex_sim_card *card);

u8 orvex_sim_read(struct orvex_sim_card *card, unsigned int offset, u64 now_ns);
void orvex_sim_write(struct orvex_sim_card *card, unsigned int offset, u8 value, u64 now_ns);

u32 orvex_sim_kept_lines(const struct orvex_sim_card *card);
/* Line `index` of those kept, 0 the oldest; NULL past the last. */
const struct orvex_sim_line *orvex_sim_line_at(const struct orvex_sim_card *card, u32 index);
s64 orvex_sim_position(struct orvex_sim_card *card, unsigned int axis, u64 now_ns);

#ifdef __cplusplus
}
#endif

#endif /* ORVEX_SIM_CARD_H */
