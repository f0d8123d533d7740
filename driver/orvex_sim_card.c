// SPDX-License-Identifier: GPL-2.0
/*
 * The simulated card's handshake, from the controller's side. The card shows
 * READY (0x80) when idle. A strobe (0x80 written) takes the byte on the data
 * register; the card acknowledges it (shows 0x00) once its acknowledgement
 * delay is over, and keeps it when the host releases (0x00 written). A
 * carriage return ends the line, which the card then carries out. After a
 * query it shows READY for one look, the end of the line, and then offers its
 * reply byte by byte: PENDING (0x00) while a byte waits, and once the host
 * strobes, the byte on the data register and 0x80 or above on the handshake
 * register until the host releases it.
 */
#include "orvex_sim_card.h"
#include "orvex_exchange.h"

/* Positions and arguments beyond this many counts are not taken, so that the
   motion arithmetic stays within 64 bits. */
#define ORVEX_SIM_LARGEST_VALUE 1000000000000ll
#define ORVEX_SIM_FASTEST 1000000000ull
#define ORVEX_SIM_DEFAULT_SPEED 1000ull
#define ORVEX_SIM_DEFAULT_ACCELERATION 50000ull
#define ORVEX_SIM_EMPTY_BUS 0xFF

/* ---- Motion ------------------------------------------------------------- */

static s64 orvex_sim_clamp(s64 value)
{
	if (value > ORVEX_SIM_LARGEST_VALUE)
		return ORVEX_SIM_LARGEST_VALUE;
	if (value < -ORVEX_SIM_LARGEST_VALUE)
		return -ORVEX_SIM_LARGEST_VALUE;
	return value;
}

/* Where the axis stands at `now`; an axis that has got there stops. */
static s64 orvex_sim_axis_at(struct orvex_sim_axis *axis, u64 now)
{
	u64 distance, travel_us, elapsed_us, travelled;

	if (!axis->moving)
		return axis->target;
	distance = (u64)(axis->target > axis->origin ? axis->target - axis->origin
						     : axis->origin - axis->target);
	travel_us = orvex_div_u64(distance * 1000000ull, axis->speed);
	elapsed_us = orvex_div_u64(now - axis->started_ns, 1000);
	if (elapsed_us >= travel_us) {
		axis->origin = axis->target;
		axis->moving = false;
		return axis->target;
	}
	travelled = orvex_div_u64(axis->speed * elapsed_us, 1000000ull);
	return axis->target > axis->origin ? axis->origin + (s64)travelled
					   : axis->origin - (s64)travelled;
}

/* Starts the rest of the move afresh from where the axis stands now. */
static void orvex_sim_axis_move_to(struct orvex_sim_axis *axis, s64 target, u64 now)
{
	axis->origin = orvex_sim_axis_at(axis, now);
	axis->target = orvex_sim_clamp(target);
	axis->started_ns = now;
	axis->moving = axis->origin != axis->target;
}

static void orvex_sim_axis_stop(struct orvex_sim_axis *axis, u64 now)
{
	axis->target = orvex_sim_axis_at(axis, now);
	axis->origin = axis->target;
	axis->moving = false;
}

static void orvex_sim_axis_set_speed(struct orvex_sim_axis *axis, s64 speed, u64 now)
{
	u64 magnitude = (u64)(speed < 0 ? -speed : speed);

	if (axis->moving)
		orvex_sim_axis_move_to(axis, axis->target, now);
	if (magnitude < 1)
		magnitude = 1;
	axis->speed = magnitude < ORVEX_SIM_FASTEST ? magnitude : ORVEX_SIM_FASTEST;
}

static void orvex_sim_axis_reset(struct orvex_sim_axis *axis)
{
	memset(axis, 0, sizeof(*axis));
	axis->speed = ORVEX_SIM_DEFAULT_SPEED;
	axis->acceleration = ORVEX_SIM_DEFAULT_ACCELERATION;
}

/* ---- The command interpreter --------------------------------------------- */

/* A number after a mnemonic: optional spaces, an optional sign, digits. */
static bool orvex_sim_parse_number(const u8 *text, u32 length, s64 *value)
{
	u32 at = 0;
	u32 digits = 0;
	bool negative = false;
	s64 magnitude = 0;

	while (at < length && text[at] == ' ')
		at++;
	if (at < length && (text[at] == '+' || text[at] == '-')) {
		negative = text[at] == '-';
		at++;
	}
	for (; at < length; at++, digits++) {
		if (text[at] < '0' || text[at] > '9')
			return false;
		magnitude = magnitude * 10 + (text[at] - '0');
		if (magnitude > ORVEX_SIM_LARGEST_VALUE)
			return false;
	}
	*value = negative ? -magnitude : magnitude;
	return digits > 0;
}

static u32 orvex_sim_answer_position(struct orvex_sim_card *card, unsigned int axis, u64 now)
{
	long long counts = orvex_sim_axis_at(&card->axes[axis], now);
	int length = snprintf((char *)card->reply, sizeof(card->reply), "%+lld\r\n", counts);

	return length > 0 ? (u32)length : 0;
}

static bool orvex_sim_axis_moving(struct orvex_sim_axis *axis, u64 now)
{
	orvex_sim_axis_at(axis, now);
	return axis->moving;
}

static u32 orvex_sim_answer_status(struct orvex_sim_card *card, u64 now)
{
	u8 status = ORVEX_SIM_STATUS_BASE;

	if (orvex_sim_axis_moving(&card->axes[0], now))
		status |= 0x01;
	if (orvex_sim_axis_moving(&card->axes[1], now))
		status |= 0x02;
	card->reply[0] = status;
	card->reply[1] = ORVEX_CARRIAGE_RETURN;
	card->reply[2] = ORVEX_LINE_FEED;
	return 3;
}

static bool orvex_sim_is(const u8 *command, u32 length, const char *mnemonic)
{
	return length >= 2 && command[0] == mnemonic[0] && command[1] == mnemonic[1];
}

/* Moves or sets up an axis; false for a command the card does not know. */
static bool orvex_sim_drive_axis(struct orvex_sim_axis *axis, const u8 *command, u32 length,
				 u64 now)
{
	s64 value = 0;
	bool has_value = length >= 2 && orvex_sim_parse_number(command + 2, length - 2, &value);

	if (orvex_sim_is(command, length, "ST"))
		orvex_sim_axis_stop(axis, now);
	else if (orvex_sim_is(command, length, "DH")) {
		orvex_sim_axis_stop(axis, now);
		axis->origin = 0;
		axis->target = 0;
	} else if (orvex_sim_is(command, length, "FI") || orvex_sim_is(command, length, "FM"))
		; /* accepted: the simulated axes have no motor settings */
	else if (!has_value)
		return false;
	else if (orvex_sim_is(command, length, "PA"))
		orvex_sim_axis_move_to(axis, value, now);
	else if (orvex_sim_is(command, length, "PR"))
		orvex_sim_axis_move_to(axis, axis->target + value, now);
	else if (orvex_sim_is(command, length, "VA"))
		orvex_sim_axis_set_speed(axis, value, now);
	else if (orvex_sim_is(command, length, "AC"))
		axis->acceleration = (u64)(value < 0 ? -value : value);
	else
		return false;
	return true;
}

/* One command of a line; returns the length of its answer, 0 for none. */
static u32 orvex_sim_execute(struct orvex_sim_card *card, int axis, const u8 *command,
			     u32 length, u64 now)
{
	if (axis < 0 && orvex_sim_is(command, length, "TS"))
		return orvex_sim_answer_status(card, now);
	if (axis >= 0 && orvex_sim_is(command, length, "TP"))
		return orvex_sim_answer_position(card, (unsigned int)axis, now);
	if (axis < 0 || !orvex_sim_drive_axis(&card->axes[axis], command, length, now))
		card->unknown_commands++;
	return 0;
}

/* A line without its carriage return: an optional axis digit, then commands
   separated by semicolons. The last answer given is the reply. */
static u32 orvex_sim_carry_out(struct orvex_sim_card *card, const u8 *line, u32 length, u64 now)
{
	int axis = -1;
	u32 answer = 0;

	if (length > 0 && (line[0] == '1' || line[0] == '2')) {
		axis = line[0] - '1';
		line++;
		length--;
	}
	while (length > 0) {
		const u8 *separator = memchr(line, ';', length);
		u32 command_length = separator ? (u32)(separator - line) : length;
		u32 this_answer = orvex_sim_execute(card, axis, line, command_length, now);

		if (this_answer > 0)
			answer = this_answer;
		if (!separator)
			break;
		line += command_length + 1;
		length -= command_length + 1;
	}
	return answer;
}

/* ---- The handshake -------------------------------------------------------- */

static void orvex_sim_record_line(struct orvex_sim_card *card)
{
	card->transcript[card->lines_received % card->transcript_capacity] = card->receiving;
	card->lines_received++;
}

static void orvex_sim_complete_line(struct orvex_sim_card *card, u64 now)
{
	u32 length = card->receiving.length;

	orvex_sim_record_line(card);
	if (length > 0 && card->receiving.bytes[length - 1] == ORVEX_CARRIAGE_RETURN)
		length--;
	card->reply_length = orvex_sim_carry_out(card, card->receiving.bytes, length, now);
	card->reply_offered = 0;
	memset(&card->receiving, 0, sizeof(card->receiving));
	card->phase = card->reply_length > 0 ? ORVEX_SIM_LINE_DONE : ORVEX_SIM_IDLE;
}

static void orvex_sim_take_byte(struct orvex_sim_card *card, u64 now)
{
	card->bytes_taken++;
	card->phase = ORVEX_SIM_IDLE;
	if (card->receiving.length < ORVEX_SIM_LINE_CAPACITY)
		card->receiving.bytes[card->receiving.length++] = card->data;
	else
		card->receiving.overlong = true;
	if (card->data == ORVEX_CARRIAGE_RETURN)
		orvex_sim_complete_line(card, now);
}

static bool orvex_sim_acknowledged(const struct orvex_sim_card *card, u64 now)
{
	return now - card->strobed_at_ns >= card->ack_delay_ns;
}

static void orvex_sim_strobe(struct orvex_sim_card *card, u64 now)
{
	if (card->phase == ORVEX_SIM_IDLE) {
		card->strobed_at_ns = now;
		card->phase = ORVEX_SIM_STROBED;
	} else if (card->phase == ORVEX_SIM_REPLY_OFFERED) {
		card->data = card->reply[card->reply_offered];
		card->phase = ORVEX_SIM_REPLY_STANDING;
	} else {
		card->protocol_errors++;
	}
}

static void orvex_sim_release(struct orvex_sim_card *card, u64 now)
{
	if (card->phase == ORVEX_SIM_STROBED && orvex_sim_acknowledged(card, now)) {
		orvex_sim_take_byte(card, now);
	} else if (card->phase == ORVEX_SIM_REPLY_STANDING) {
		card->reply_offered++;
		card->phase = card->reply_offered < card->reply_length ? ORVEX_SIM_REPLY_OFFERED
								       : ORVEX_SIM_IDLE;
	} else {
		card->protocol_errors++;
	}
}

static u8 orvex_sim_handshake_shows(struct orvex_sim_card *card, u64 now)
{
	switch (card->phase) {
	case ORVEX_SIM_STROBED:
		/* Until acknowledged, the strobe still stands on the register. */
		return orvex_sim_acknowledged(card, now) ? ORVEX_SHOWS_PENDING : ORVEX_STROBE;
	case ORVEX_SIM_LINE_DONE:
		card->phase = ORVEX_SIM_REPLY_OFFERED;
		return ORVEX_SHOWS_READY;
	case ORVEX_SIM_REPLY_OFFERED:
		return ORVEX_SHOWS_PENDING;
	case ORVEX_SIM_REPLY_STANDING:
		/* Any value from 0x80 up says the byte stands; this card's vary. */
		return (u8)(ORVEX_REPLY_STANDS | card->data);
	case ORVEX_SIM_IDLE:
	default:
		return ORVEX_SHOWS_READY;
	}
}

u8 orvex_sim_read(struct orvex_sim_card *card, unsigned int offset, u64 now_ns)
{
	if (offset == ORVEX_DATA_REGISTER)
		return card->data;
	if (offset == ORVEX_HANDSHAKE_REGISTER)
		return orvex_sim_handshake_shows(card, now_ns);
	return ORVEX_SIM_EMPTY_BUS;
}

void orvex_sim_write(struct orvex_sim_card *card, unsigned int offset, u8 value, u64 now_ns)
{
	if (offset == ORVEX_DATA_REGISTER) {
		if (card->phase != ORVEX_SIM_REPLY_STANDING)
			card->data = value;
	} else if (offset == ORVEX_HANDSHAKE_REGISTER) {
		if (value == ORVEX_STROBE)
			orvex_sim_strobe(card, now_ns);
		else if (value == ORVEX_RELEASE)
			orvex_sim_release(card, now_ns);
		else
			card->protocol_errors++;
	}
}

/* ---- The test side ---------------------------------------------------------- */

void orvex_sim_init(struct orvex_sim_card *card, struct orvex_sim_line *transcript,
		    u32 transcript_capacity)
{
	memset(card, 0, sizeof(*card));
	card->transcript = transcript;
	card->transcript_capacity = transcript_capacity;
	orvex_sim_reset(card);
}

void orvex_sim_reset(struct orvex_sim_card *card)
{
	unsigned int axis;

	card->ack_delay_ns = 0;
	card->phase = ORVEX_SIM_IDLE;
	card->data = 0;
	card->reply_length = 0;
	card->reply_offered = 0;
	memset(&card->receiving, 0, sizeof(card->receiving));
	for (axis = 0; axis < ORVEX_SIM_AXES; axis++)
		orvex_sim_axis_reset(&card->axes[axis]);
	card->bytes_taken = 0;
	card->protocol_errors = 0;
	card->unknown_commands = 0;
	orvex_sim_clear_transcript(card);
}

void orvex_sim_clear_transcript(struct orvex_sim_card *card)
{
	card->lines_received = 0;
}

u32 orvex_sim_kept_lines(const struct orvex_sim_card *card)
{
	return card->lines_received < card->transcript_capacity ? (u32)card->lines_received
								: card->transcript_capacity;
}

const struct orvex_sim_line *orvex_sim_line_at(const struct orvex_sim_card *card, u32 index)
{
	u32 kept = orvex_sim_kept_lines(card);

	if (index >= kept)
		return NULL;
	return &card->transcript[(u32)(card->lines_received - kept + index) %
				 card->transcript_capacity];
}

s64 orvex_sim_position(struct orvex_sim_card *card, unsigned int axis, u64 now_ns)
{
	return orvex_sim_axis_at(&card->axes[axis % ORVEX_SIM_AXES], now_ns);
}
