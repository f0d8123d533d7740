/*
 * orvexportio: drives the two-axis motion controller at I/O ports 0x340 (data)
 * and 0x341 (handshake).
 *
 * Every function carries one or more short ASCII command lines to the
 * controller byte by byte. Before each byte the controller has 9 ms to show
 * that it is ready; when it does not, the function gives up and reports a
 * time-out. Nothing is retried and nothing is logged.
 *
 * Axis codes: 1 is axis 1, 2 is axis 2, 0 is both (axis 1 first). Only the
 * low byte of the argument slot is read, taken as signed, so a caller that
 * passes 257 through an int-typed prototype reaches axis 1. Values are given
 * in caller units; the library sends them multiplied by 100 (controller
 * units) and reads positions back divided by 100.
 *
 * Results of the int functions: 1 when every line was delivered (or the
 * answer is yes), 0 on a time-out (or no). For an axis code the function does
 * not serve, the motion functions send nothing and return the axis code
 * itself, widened from its low byte (3 returns 3, 0xFF returns -1).
 *
 * Threads: the functions may be called from several threads at once. Each
 * line (a query line together with its reply) holds the controller's
 * registers on its own, in the order the threads asked, so lines never mix on
 * the wire; WS lets other lines through between its polls, and RT between
 * its lines and during its pauses. The thread whose turn it is may also
 * carry the lines of threads queued behind it, in their order, before its
 * own call returns: it starts none later than 2 ms after its own line ended,
 * and at most 64. A thread whose line was carried returns that line's
 * result as if it had sent it itself. What a host may rely on:
 *
 * - Cancellation (POSIX threads, deferred): every function is a cancellation
 *   point before each of its lines, while it waits for its turn at the
 *   registers, and in RT's pauses. A line once started is never cut short:
 *   cancellation waits until its exchange is over and the controller is idle
 *   again, and then takes effect at the next of those points (or at the
 *   host's own). A thread cancelled while it waits for its turn gives the
 *   turn up; the other threads carry on. If another thread is already
 *   carrying its line, it leaves once that line is over. Asynchronous cancellation is not
 *   safe during a call.
 * - fork(): allowed while other threads are inside calls. The fork waits for
 *   the line in flight, if any, to end; in the child the registers are free
 *   and every function can be called.
 * - Ending the process: exit(), returning from main() or (on Windows)
 *   ExitProcess may happen while other threads are inside calls; the library
 *   waits for none of them. Those threads end wherever they are, possibly in
 *   the middle of a line. On Linux the library, once loaded, stays loaded:
 *   dlclose leaves it in place, so a thread still inside a call carries on.
 *   On Windows FreeLibrary is safe once no thread is inside a call; under a
 *   thread that is inside one it is not.
 * - A thread ended from outside while inside a call without unwinding its
 *   stack (TerminateThread on Windows, or a signal handler that leaves the
 *   thread with longjmp or pthread_exit) may leave the registers held for
 *   good, and every later call of every thread waits forever. That cannot be
 *   made safe; do not do it.
 * - On Windows no function is a cancellation point.
 *
 * Processes: each line also holds its card machine-wide. Every process on
 * the machine that drives the card through this library, 32-bit or 64-bit,
 * whatever route it takes to the ports, waits its turn, so the lines of
 * different processes never mix on the wire either. What a host may rely on:
 *
 * - A process that dies in the middle of a line (killed, crashed, ended from
 *   the Task Manager) leaves the line noted, down to the step of the byte
 *   handshake, in the card's machine-wide record; the next process to take
 *   the card finishes it exactly (the rest of the line, or the rest of its
 *   reply, taken and dropped) before it sends its own. The controller cannot
 *   abandon a partial line, so the dead process's line arrives whole, once.
 *   The same holds for a host killed and started again.
 * - A process stopped in the middle of a line (a debugger, Ctrl-Z) keeps the
 *   card. A call of another process that waits for it gives up after a
 *   second and reports a time-out having sent nothing (0; TP returns
 *   ORVEX_POSITION_ERROR); calls queued behind it in that process give up at
 *   once while the same hold lasts. When the stopped process runs on, both
 *   carry on, and nothing is torn. orvex_card_holder names the holder, and
 *   the diagnosis (orvexportio_diagnosis.h) explains such a time-out.
 * - The record lives in shared memory, made on the card's first use: on
 *   Linux the file /dev/shm/orvexportio-card-0x340 (for the card at 0x340;
 *   the environment variable ORVEXPORTIO_RECORD_DIR names another folder),
 *   readable and writable by its maker and the group "orvex", and used only
 *   while no one else may write it; on Windows named objects of the user's
 *   session. Where it cannot be had, the library works as before without it:
 *   processes are not kept apart, and the diagnosis says so.
 */
#ifndef ORVEXPORTIO_H
#define ORVEXPORTIO_H

#if defined(_WIN32)
#define ORVEX_CALL __cdecl
#define ORVEX_API
#else
#define ORVEX_CALL
#define ORVEX_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*
 * The version of this header and of the library built with it. The major
 * version changes only when an export does.
 */
#define ORVEX_VERSION_MAJOR 1
#define ORVEX_VERSION_MINOR 1
#define ORVEX_VERSION_PATCH 0
#define ORVEX_VERSION "1.1.0"

/* TP's failure result: 1e10, exactly representable in single precision. */
#define ORVEX_POSITION_ERROR 1e10f

/* Controller units (counts) per caller unit: values are sent multiplied by
   it, positions read back divided by it. */
#define ORVEX_COUNTS_PER_UNIT 100

/* WS gives up once no status exchange has succeeded for this many seconds. */
#define ORVEX_STATUS_SILENCE_SECONDS 1.0

/* The most bytes of a reply line the library keeps, line feed included. */
#define ORVEX_REPLY_CAPACITY 80

/* The speed RT sets ("VA1000"), in counts per second: 10 caller units. */
#define ORVEX_SETUP_SPEED_COUNTS 1000

/*
 * MA: move to an absolute target. Sends "1PA <count>\r" and/or
 * "2PA <count>\r", count = target * 100 truncated toward zero (signed
 * decimal, low 32 bits of the 64-bit product; NaN, infinities and products
 * beyond the 64-bit range give 0). With axis code 0 a time-out on the axis-1
 * line means the axis-2 line is not sent.
 */
ORVEX_API int ORVEX_CALL MA(signed char axis, float target);

/* MR: move by a relative distance. Sends "1PR <count>\r" / "2PR <count>\r" as MA does. */
ORVEX_API int ORVEX_CALL MR(signed char axis, float distance);

/*
 * SV: set the speed. Sends "1VA<count>\r" / "2VA<count>\r" with the count
 * written as an unsigned 32-bit decimal (no space): -1.0 sends 4294967196.
 */
ORVEX_API int ORVEX_CALL SV(signed char axis, float speed);

/* ST: stop. Sends "1ST\r" / "2ST\r". */
ORVEX_API int ORVEX_CALL ST(signed char axis);

/* DH: define the present position as home (zero). Sends "1DH\r" / "2DH\r". */
ORVEX_API int ORVEX_CALL DH(signed char axis);

/* GH: go home, the same as MA(axis, 0). */
ORVEX_API int ORVEX_CALL GH(signed char axis);

/*
 * TP: the position of axis 1 or 2 in caller units. Sends "1TP\r" or "2TP\r",
 * keeps only '+', '-', '.' and the digits of the reply line, reads them as
 * "%f" does and divides by 100: a reply "+12.5" gives 0.125. Returns
 * ORVEX_POSITION_ERROR when the controller does not answer in time or the
 * reply holds no number, and for any axis code other than 1 and 2 (nothing
 * is sent then).
 */
ORVEX_API float ORVEX_CALL TP(signed char axis);

/*
 * OK: 1 when the controller answers the axis-1 position query with a number,
 * else 0. A position that happens to equal 1e10 still counts as an answer.
 */
ORVEX_API int ORVEX_CALL OK(void);

/*
 * MT: sends "TS\r" and reads the status byte (bit 0: axis 1 moving, bit 1:
 * axis 2 moving). Returns 1 when the addressed axes are all at rest, 0 while
 * one moves or when the exchange failed. For an axis code other than 0, 1
 * and 2 it returns the first four reply bytes as a little-endian integer
 * (missing bytes as zero), or 0 when the exchange failed.
 */
ORVEX_API int ORVEX_CALL MT(signed char axis);

/*
 * WS: waits until the addressed axes are at rest, asking "TS\r" again and
 * again, and returns 1. As long as the controller answers, it waits however
 * long the motion takes; once no status exchange has succeeded for about a
 * second it gives up and returns 0. An axis code other than 0, 1 and 2 sends
 * nothing and is returned as the result.
 */
ORVEX_API int ORVEX_CALL WS(signed char axis);

/*
 * RT: the set-up sequence after power-up, for one axis or both. For each axis
 * it sends "FI11", "VA1000;AC50000", "FM3" ("FM03" when both axes are set
 * up) and "DH", behind the axis digit, with 50 ms pauses between most of
 * them: 150 ms in all for axis 1, 100 ms for axis 2 and 300 ms for both.
 * Returns the outcome of the first line: 0 when it timed out (nothing
 * follows), else 1, even when a later line timed out and stopped the
 * sequence there. An axis code other than 0, 1 and 2 sends nothing, does not
 * pause, and is returned as the result.
 */
ORVEX_API int ORVEX_CALL RT(signed char axis);

/* ==== Several cards: the card API =========================================
 *
 * The eleven functions above drive one card: the one at 0x340, or at the base
 * the environment variable ORVEXPORTIO_BASE names (see orvex_default_base).
 * The functions below drive any card by a handle, which a host opens by the
 * card's base address, the port its switches select for the data register
 * (the handshake register follows it). They send exactly the lines the
 * eleven send, and check what they are given first: an axis code, a value or
 * a card they cannot take is refused with an error and nothing is sent.
 *
 * Every function may be called from several threads at once, on one card or
 * on several, with the guarantees of the thread paragraph at the top of this
 * header. Lines to one card take turns; two cards never wait for each other.
 */

/* A card, as orvex_open gives it. Handles opened for the same base are the
   same card: they share its turns at the registers. */
typedef struct orvex_card orvex_card;

/* What the card functions return: ORVEX_SUCCESS, or one of the errors below.
   orvex_error_message tells each in words. */
#define ORVEX_SUCCESS 0
/* The controller missed a readiness window or an acknowledgement bound; the
   bytes sent before stay sent. */
#define ORVEX_ERROR_TIMEOUT (-1)
/* Refused, nothing sent: an axis code the function does not take (0, 1 or 2;
   for orvex_tp 1 or 2). */
#define ORVEX_ERROR_AXIS (-2)
/* Refused, nothing sent: a value that is not finite, whose count (value times
   100, truncated toward zero) does not fit the controller's signed 32-bit
   count, a negative speed, or a speed above zero that is less than one count. */
#define ORVEX_ERROR_VALUE (-3)
/* Refused: no card may sit at this base, as both its registers must lie in
   0x100-0x3FF, where the bus leaves room for add-in cards. */
#define ORVEX_ERROR_BASE_RANGE (-4)
/* Refused: the card's registers would overlap a standard PC device;
   orvex_base_conflict names it. */
#define ORVEX_ERROR_BASE_DEVICE (-5)
/* ORVEXPORTIO_BASE is set but is not a base written in hexadecimal with 0x,
   such as 0x300. */
#define ORVEX_ERROR_BASE_SETTING (-6)
/* Refused: no card was given (NULL). */
#define ORVEX_ERROR_CARD (-7)
/* The controller answered, but not with what was asked for (orvex_tp: a reply
   without a number). */
#define ORVEX_ERROR_REPLY (-8)
/* The library could not make room for another card. */
#define ORVEX_ERROR_MEMORY (-9)
/* Other processes that drive the card are not kept apart from this one: the
   card's machine-wide record could not be made or opened (see the
   diagnosis, orvexportio_diagnosis.h). The functions still work. */
#define ORVEX_ERROR_NOT_SHARED (-10)

/* A sentence on `error` (one of the values above), for a person to read;
   "unknown error" for any other value. The text is static. */
ORVEX_API const char* ORVEX_CALL orvex_error_message(int error);

/* NULL when a card may sit at `base`; otherwise what its registers would hit,
   as a static text: "outside 0x100-0x3FE, ..." or a standard PC device,
   such as "the first serial port (COM1)". */
ORVEX_API const char* ORVEX_CALL orvex_base_conflict(unsigned base);

/* The base the eleven functions use, stored into *base: 0x340, or the value
   of ORVEXPORTIO_BASE as it was when the library was loaded. Returns
   ORVEX_SUCCESS, or why the eleven reach no card: ORVEX_ERROR_BASE_SETTING,
   ORVEX_ERROR_BASE_RANGE or ORVEX_ERROR_BASE_DEVICE (then *base holds the
   refused value, or 0 when it was not a number); they then touch no port and
   report time-outs. `base` may be NULL. */
ORVEX_API int ORVEX_CALL orvex_default_base(unsigned* base);

/* Opens the card at `base` and returns its handle, or NULL with the reason in
   *error (ORVEX_ERROR_BASE_RANGE, ORVEX_ERROR_BASE_DEVICE or
   ORVEX_ERROR_MEMORY); `error` may be NULL. Opening touches no port: the
   first function that sends a line finds out whether a controller answers.
   Close every handle with orvex_close. */
ORVEX_API orvex_card* ORVEX_CALL orvex_open(unsigned base, int* error);

/* Gives up a handle. Another handle to the same card keeps working. A handle
   must not be used after it was closed, and not closed while another thread
   is inside a call with it. NULL is ignored. */
ORVEX_API void ORVEX_CALL orvex_close(orvex_card* card);

/* The count the library sends for `value`: value times 100, computed
   exactly and truncated toward zero (so 0.29f, 0.28999999..., gives 28),
   stored into *count; ORVEX_ERROR_VALUE for a value that is not finite or
   whose count lies beyond the signed 64-bit range. */
ORVEX_API int ORVEX_CALL orvex_count_of(float value, long long* count);

/* The single-precision value for which the library sends exactly `count`,
   the one nearest count / 100, stored into *value: for a user who types 0.29
   and means 29 counts. Every count within 131072 units has one; beyond, the
   floats lie farther apart than a count, and a count between two of them has
   none: then ORVEX_ERROR_VALUE, and *value holds the nearest float below it,
   whose count orvex_count_of gives. */
ORVEX_API int ORVEX_CALL orvex_value_for_count(long long count, float* value);

/* The card's base address; 0 for NULL. */
ORVEX_API unsigned ORVEX_CALL orvex_card_base(const orvex_card* card);

/* MA, MR, SV, ST, DH and GH on `card`: the same lines, with axis codes 0
   (both axes, axis 1 first, axis 2 only when axis 1 went through), 1 or 2.
   ORVEX_SUCCESS when every line was delivered. */
ORVEX_API int ORVEX_CALL orvex_ma(orvex_card* card, int axis, float target);
ORVEX_API int ORVEX_CALL orvex_mr(orvex_card* card, int axis, float distance);
ORVEX_API int ORVEX_CALL orvex_sv(orvex_card* card, int axis, float speed);
ORVEX_API int ORVEX_CALL orvex_st(orvex_card* card, int axis);
ORVEX_API int ORVEX_CALL orvex_dh(orvex_card* card, int axis);
ORVEX_API int ORVEX_CALL orvex_gh(orvex_card* card, int axis);

/* TP on `card`, axis 1 or 2: stores the position, in caller units, into
   *position and returns ORVEX_SUCCESS; ORVEX_ERROR_REPLY when the reply held
   no number, ORVEX_ERROR_VALUE (nothing sent) when `position` is NULL. */
ORVEX_API int ORVEX_CALL orvex_tp(orvex_card* card, int axis, float* position);

/* OK on `card`: ORVEX_SUCCESS when axis 1 answers its position query with a
   number, ORVEX_ERROR_REPLY when it answers without one. */
ORVEX_API int ORVEX_CALL orvex_ok(orvex_card* card);

/* MT on `card`, axis codes 0, 1 or 2: stores 1 into *at_rest when the
   addressed axes are at rest, 0 while one moves, and returns ORVEX_SUCCESS;
   ORVEX_ERROR_VALUE (nothing sent) when `at_rest` is NULL. */
ORVEX_API int ORVEX_CALL orvex_mt(orvex_card* card, int axis, int* at_rest);

/* WS on `card`: ORVEX_SUCCESS once the addressed axes are at rest;
   ORVEX_ERROR_TIMEOUT once no status exchange has succeeded for a second. */
ORVEX_API int ORVEX_CALL orvex_ws(orvex_card* card, int axis);

/* RT on `card`: ORVEX_SUCCESS when the first line went through (a later
   line that times out stops the sequence there, as with RT). */
ORVEX_API int ORVEX_CALL orvex_rt(orvex_card* card, int axis);

/* Who holds the card at this moment: the process in the middle of an
   exchange with it, on this machine. */
typedef struct orvex_holder {
  int process;       /* its process id; 0 when no process holds the card */
  char program[16];  /* its program's name, NUL-terminated */
  double seconds;    /* for how long it has held the card */
  char line[80];     /* the line in flight, NUL-terminated, "" when none */
} orvex_holder;

/* Fills in *holder (which must not be NULL) and returns ORVEX_SUCCESS;
   ORVEX_ERROR_NOT_SHARED when the card's machine-wide record cannot be had
   (*holder then says nobody). A process held up in the middle of an exchange
   (stopped in a debugger, or with Ctrl-Z) keeps every other process's calls
   on the card timing out; this names it. A card the Linux kernel driver
   carries has no record: the kernel keeps the processes apart and ends every
   exchange it starts, so ORVEX_SUCCESS names nobody there. */
ORVEX_API int ORVEX_CALL orvex_card_holder(orvex_card* card, orvex_holder* holder);

#ifdef __cplusplus
}
#endif

#endif /* ORVEXPORTIO_H */
