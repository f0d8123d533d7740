/*
 * The virtual controller's side of liborvexportio-sim, for host developers.
 *
 * liborvexportio-sim carries the same functions as the library for the card
 * (orvexportio.h), with a virtual controller behind the ports instead of the
 * card. These functions show what that controller received and what its
 * axes do, make it misbehave on demand, choose its clock, and record the bus
 * as a waveform. They exist only in the virtual-controller build. Every one
 * may be called from any thread; arguments and results are plain ints,
 * doubles and strings.
 *
 * Two clocks. By default the controller runs on the real clock: its time is
 * the machine's steady clock since the last orvexsim_reset (or since it was
 * loaded), a move takes as long as its speed and acceleration say however the
 * host polls, and RT's pauses take their 50 ms. A host behaves against it as
 * against the card. On the virtual clock every port access takes one
 * microsecond and every pause its own length, without sleeping: exact,
 * repeatable and faster than real time, for a host's own test suite. There
 * each host thread has a timeline of its own, and the controller's time is
 * the furthest any thread has got; a line that one thread carries for
 * another (see orvexportio.h) takes the carrying thread's time. Choose it
 * with orvexsim_set_clock, or before the library is loaded with the
 * environment variable ORVEXPORTIO_SIM_CLOCK=virtual ("real" or unset: the
 * real clock).
 *
 * Several processes can share one virtual bus, cards, axes and clock
 * included: see "One bus for several processes" below.
 *
 * Times below are on the bus's clock, in seconds.
 */
#ifndef ORVEXPORTIO_SIM_H
#define ORVEXPORTIO_SIM_H

#include "orvexportio.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- The bus and its cards ---------------------------------------------
   The virtual controller is a bus with cards on it: from the start one card,
   at the base of the eleven functions (0x340, or where ORVEXPORTIO_BASE puts
   it), and more at the bases a host adds, for the card API (orvex_open). An
   address no card decodes is an empty bus: it reads 0xFF and takes nothing,
   so a card opened where none was added times out as on a real bus. The
   clock is the bus's, one for every card.

   The functions below that act on one card come twice: as written here they
   act on the first card, and under the name orvexsim_card_<name>, with the
   card's base first, on any card (declared at the end of this header). */

/* Makes every card healthy and idle again, with the clock at zero, its axes
   at rest at zero, no faults, an empty list of received lines and no line
   callback. The choice of clock and a recording of the bus carry on. */
ORVEX_API void ORVEX_CALL orvexsim_reset(void);

/* Puts a card on the bus at `base` (its data register; the handshake
   register follows). Returns 1 when a card is there (added now, or before),
   0 when none may be: the base overlaps a standard PC device or leaves
   0x100-0x3FF (as orvex_base_conflict says), its registers overlap another
   card's, or the bus holds 16 cards already. A card stays on the bus for the
   life of the process. */
ORVEX_API int ORVEX_CALL orvexsim_add_card(unsigned base);

/* The base of the first card, the one of the eleven functions. */
ORVEX_API unsigned ORVEX_CALL orvexsim_first_card(void);

/* ---- One bus for several processes -----------------------------------------
   By default each process has a bus of its own. Processes that name the
   same shared bus drive one bus together instead: its cards (their
   handshake, faults, axes, received lines and counters), its clock and a
   recording of it are the same for all of them, so what one sends, every
   other sees, and a fault one sets acts on the others' calls. A process
   names it with the environment variable ORVEXPORTIO_SIM_SHARED=<name>, read
   when its bus is first used, or with orvexsim_share.

   A name is 1 to 32 letters, digits, '-' and '_'. The shared bus lives in
   named shared memory (/dev/shm/orvexportio-sim-<name> on Linux, the file
   %TEMP%\orvexportio-sim-<name>.bus on Windows), made by the first process
   that names it, with the clock that process chose (orvexsim_set_clock
   changes it for all), and the card of that process's eleven functions;
   each later process adds the card of its own eleven functions, when that is
   not the same. The bus outlives the processes: a later one finds the axes
   where the last left them, until the machine restarts. orvexsim_reset
   makes it as new; deleting its file removes it once no process uses it.

   What stays with each process: the line callback and the pause observer
   (a callback hears the lines that its own process's threads complete, and
   orvexsim_reset forgets only the calling process's), and, on the virtual
   clock, each thread's own timeline. A process that dies in the middle of an
   access holds up no other: the next to reach the card carries on with it as
   the dead one left it.

   When the variable names no shared bus that can be used (a name that is
   not one, no shared memory, or a bus made by another version of this
   library), the process keeps a bus of its own, after a line on standard
   error that says why. */

/* Moves this process onto the shared bus named `name`, made when there is
   none yet. Returns 1, or 0 when `name` is not a name, or the bus can be
   neither made nor opened, or is another version's (then the process keeps
   the bus it has). Threads still inside calls finish on the former bus;
   calls from then on go to the shared one, as does orvexsim_first_card. */
ORVEX_API int ORVEX_CALL orvexsim_share(const char* name);

/* ---- The clock --------------------------------------------------------- */

#define ORVEXSIM_CLOCK_REAL 0
#define ORVEXSIM_CLOCK_VIRTUAL 1

/* Runs the controller on `clock` (ORVEXSIM_CLOCK_REAL or
   ORVEXSIM_CLOCK_VIRTUAL) from now on; its time carries on from where it
   stands. Returns 1, or 0 for any other value, which changes nothing. */
ORVEX_API int ORVEX_CALL orvexsim_set_clock(int clock);

/* The clock the controller runs on: ORVEXSIM_CLOCK_REAL or ORVEXSIM_CLOCK_VIRTUAL. */
ORVEX_API int ORVEX_CALL orvexsim_clock(void);

/* The controller's time, in seconds since the last reset. */
ORVEX_API double ORVEX_CALL orvexsim_time(void);

/* ---- The axes -------------------------------------------------------------
   Axis 1 or 2, in controller units (the library's units times 100), as they
   stand at the controller's present time. */

/* Where the axis is; NaN for an axis other than 1 or 2. */
ORVEX_API double ORVEX_CALL orvexsim_axis_position(int axis);

/* Where the axis was last told to go (where it stands when it was stopped);
   NaN for an axis other than 1 or 2. */
ORVEX_API double ORVEX_CALL orvexsim_axis_target(int axis);

/* 1 while the axis moves, 0 when it stands, -1 for an axis other than 1 or 2. */
ORVEX_API int ORVEX_CALL orvexsim_axis_moving(int axis);

/* ---- Faults on demand -----------------------------------------------------
   Each function adds its fault to those already set; orvexsim_clear_faults
   and orvexsim_reset take them all away. Byte numbers count the command bytes
   the controller takes from the moment the fault is set: 0 is the next one.
   What the library reports then: a missed readiness window or an
   acknowledgement bound makes the export return 0 (TP: ORVEX_POSITION_ERROR). */

/* The controller goes silent: its handshake register reads 0x01 (neither
   READY nor a byte pending) and it ignores everything the host writes. */
ORVEX_API void ORVEX_CALL orvexsim_fault_silent(void);

/* The handshake register reads `value` (0 to 255) whatever happens. */
ORVEX_API void ORVEX_CALL orvexsim_fault_stuck_handshake(int value);

/* Before command byte `byte` the controller shows READY only `microseconds`
   after the host first looked for it (more than 9000: the library's
   readiness window runs out). */
ORVEX_API void ORVEX_CALL orvexsim_fault_readiness_delay(int byte, int microseconds);

/* The controller dies after taking `bytes` more command bytes: READY is never
   shown again. */
ORVEX_API void ORVEX_CALL orvexsim_fault_dies_after_bytes(int bytes);

/* The strobe of command byte `byte` is taken but never acknowledged. */
ORVEX_API void ORVEX_CALL orvexsim_fault_never_acknowledges_byte(int byte);

/* Replies are cut short: the controller stops offering a reply after `bytes`
   of it, before its line feed. */
ORVEX_API void ORVEX_CALL orvexsim_fault_reply_stops_after(int bytes);

/* Replies are garbled: every reply is replaced by NUL, 0x80, 0xFF, 0xC3, a
   carriage return and a line feed. */
ORVEX_API void ORVEX_CALL orvexsim_fault_garbled_reply(void);

/* Replies are overlong: each carries 300 extra '7's before its line feed,
   more than the library's reply buffer holds. */
ORVEX_API void ORVEX_CALL orvexsim_fault_overlong_reply(void);

/* Replies never end: after their first byte the controller keeps offering
   '9' and never a line feed. */
ORVEX_API void ORVEX_CALL orvexsim_fault_endless_reply(void);

/* Takes every fault away: the controller is healthy and idle again, giving up
   any line or reply in the middle of its transfer. Its clock, axes and
   received lines stay. */
ORVEX_API void ORVEX_CALL orvexsim_clear_faults(void);

/* The next query ("1TP", "2TP", "TS") is answered with these `length` bytes
   (at most 2048) instead of the controller's own answer. */
ORVEX_API void ORVEX_CALL orvexsim_queue_reply(const char* bytes, int length);

/* Command bytes taken since the reset. */
ORVEX_API int ORVEX_CALL orvexsim_bytes_taken(void);

/* Strobes and releases the controller saw out of turn since the reset. */
ORVEX_API int ORVEX_CALL orvexsim_protocol_errors(void);

/* ---- The bus as a waveform -----------------------------------------------
   orvexsim_record_vcd records every port access from now on into a Value
   Change Dump at `path` (times in nanoseconds on the controller's clock), as
   a logic analyser on the card would see the bus, and writes a GTKWave save
   file beside it (`path` with ".gtkw" in place of ".vcd") that lays the
   signals out. Signals: IOR and IOW, high while the host reads or writes a
   port; A0, the port address line (0 for the data register 0x340, 1 for the
   handshake register 0x341), and ADDR, the whole address; D0..D7 and D, the
   byte on the data lines; HS, the handshake register's value as last read or
   written. A poll reading the same value from the same register again and
   again shows as its first read only. It opens in GTKWave and PulseView.
   Returns 1, or 0 when a file cannot be written (then nothing records). A
   recording in progress is ended first. orvexsim_stop_vcd ends it and closes
   the file; so does unloading the library. */
ORVEX_API int ORVEX_CALL orvexsim_record_vcd(const char* path);
ORVEX_API void ORVEX_CALL orvexsim_stop_vcd(void);

/* How many entries of received lines the controller keeps (the most recent
   16384). An entry is a line, or a run of one line received again and again
   in a row (a host polling "TS" while it waits), kept once with its count
   (orvexsim_line_repeats), so that the lines between the polls stay. */
ORVEX_API int ORVEX_CALL orvexsim_line_count(void);

/*
 * Copies received entry `index` (0 is the oldest kept) into `text` as a
 * NUL-terminated string, carriage return included, cut to fit `capacity`,
 * and stores the virtual time at which its last byte arrived, in seconds,
 * into `*received_at` when that is not NULL. Returns the line's full length,
 * or -1 when there is no such line.
 */
ORVEX_API int ORVEX_CALL orvexsim_line(int index, char* text, int capacity, double* received_at);

/* How many times in a row entry `index` came (1 for a line that came once),
   storing the time its last one arrived, in seconds, into
   `*last_received_at` when that is not NULL (orvexsim_line gives the first
   one's); -1 when there is no such entry. */
ORVEX_API int ORVEX_CALL orvexsim_line_repeats(int index, double* last_received_at);

/*
 * Told about each line the moment the controller has taken its carriage
 * return: `line` holds it as received, carriage return included and
 * NUL-terminated, `length` its length, and `received_at` the virtual time of
 * its last byte in seconds (as orvexsim_line gives them). It runs on the
 * thread that sent the line, in the middle of that transfer and with the
 * controller locked, so it must not call back into the library, orvexsim_
 * functions included.
 */
typedef void(ORVEX_CALL* orvexsim_line_callback)(const char* line, int length, double received_at,
                                                 void* context);

/* Has `callback` called, with `context`, for every line received from now on;
   NULL stops the calls. orvexsim_reset forgets the callback. */
ORVEX_API void ORVEX_CALL orvexsim_set_line_callback(orvexsim_line_callback callback,
                                                     void* context);

/* ---- Any card, by its base ---------------------------------------------
   Each acts on the card at `base`, as the function of the same name without
   "card_" acts on the first card. Those that return nothing there return 1
   here, or 0 when no card is at `base`; the others give what theirs give, or
   -1 (NaN for the axes, 0 from orvexsim_card_record_vcd) when no card is
   there. orvexsim_card_reset makes the card alone as after orvexsim_reset,
   with the clock running on. */
ORVEX_API int ORVEX_CALL orvexsim_card_reset(unsigned base);
ORVEX_API int ORVEX_CALL orvexsim_card_line_count(unsigned base);
ORVEX_API int ORVEX_CALL orvexsim_card_line(unsigned base, int index, char* text, int capacity,
                                            double* received_at);
ORVEX_API int ORVEX_CALL orvexsim_card_line_repeats(unsigned base, int index,
                                                    double* last_received_at);
ORVEX_API int ORVEX_CALL orvexsim_card_set_line_callback(unsigned base,
                                                         orvexsim_line_callback callback,
                                                         void* context);
ORVEX_API double ORVEX_CALL orvexsim_card_axis_position(unsigned base, int axis);
ORVEX_API double ORVEX_CALL orvexsim_card_axis_target(unsigned base, int axis);
ORVEX_API int ORVEX_CALL orvexsim_card_axis_moving(unsigned base, int axis);
ORVEX_API int ORVEX_CALL orvexsim_card_fault_silent(unsigned base);
ORVEX_API int ORVEX_CALL orvexsim_card_fault_stuck_handshake(unsigned base, int value);
ORVEX_API int ORVEX_CALL orvexsim_card_fault_readiness_delay(unsigned base, int byte,
                                                             int microseconds);
ORVEX_API int ORVEX_CALL orvexsim_card_fault_dies_after_bytes(unsigned base, int bytes);
ORVEX_API int ORVEX_CALL orvexsim_card_fault_never_acknowledges_byte(unsigned base, int byte);
ORVEX_API int ORVEX_CALL orvexsim_card_fault_reply_stops_after(unsigned base, int bytes);
ORVEX_API int ORVEX_CALL orvexsim_card_fault_garbled_reply(unsigned base);
ORVEX_API int ORVEX_CALL orvexsim_card_fault_overlong_reply(unsigned base);
ORVEX_API int ORVEX_CALL orvexsim_card_fault_endless_reply(unsigned base);
ORVEX_API int ORVEX_CALL orvexsim_card_clear_faults(unsigned base);
ORVEX_API int ORVEX_CALL orvexsim_card_queue_reply(unsigned base, const char* bytes, int length);
ORVEX_API int ORVEX_CALL orvexsim_card_bytes_taken(unsigned base);
ORVEX_API int ORVEX_CALL orvexsim_card_protocol_errors(unsigned base);
ORVEX_API int ORVEX_CALL orvexsim_card_record_vcd(unsigned base, const char* path);
ORVEX_API int ORVEX_CALL orvexsim_card_stop_vcd(unsigned base);

#ifdef __cplusplus
}
#endif

#endif /* ORVEXPORTIO_SIM_H */
