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

#ifdef __cplusplus
}
#endif

#endif /* ORVEXPORTIO_H */
