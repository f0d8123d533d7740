/*
 * orvexportio-diagnosis: why no controller answers at the card's ports on
 * this machine, for hosts that want to tell their users (orvexctl and the
 * Python package use it).
 *
 * It looks at the machine the way the library for the card reaches the
 * ports, without calling that library: on Linux whether the kernel driver
 * offers the card and may be opened, whether ioperm() grants the registers
 * or /dev/port opens, the CAP_SYS_RAWIO capability and kernel lockdown; on
 * Windows whether a port driver library loads.
 */
#ifndef ORVEXPORTIO_DIAGNOSIS_H
#define ORVEXPORTIO_DIAGNOSIS_H

#include "orvexportio.h"

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Writes one line of text, without a line break, naming the likely cause
 * and what to do about it, into `text` as a NUL-terminated string cut to fit
 * `capacity` (nothing is written when `text` is NULL or `capacity` is not
 * positive). Returns the line's full length without the NUL, so a caller can
 * ask with capacity 0 first. On Linux a grant of the ports by ioperm() stays
 * with the calling thread, as it does when the library asks for it.
 */
ORVEX_API int ORVEX_CALL orvexdiag_explain(char* text, int capacity);

/*
 * The same for the card at `base` (a card of the card API, orvex_open). The
 * line above is for the card of the eleven functions: at 0x340, or where
 * ORVEXPORTIO_BASE puts it; when that variable names no base a card may sit
 * at, the line says so.
 */
ORVEX_API int ORVEX_CALL orvexdiag_explain_card(unsigned base, char* text, int capacity);

/*
 * Which way the library for the card reaches the card, and why the better
 * ways are closed, written as orvexdiag_explain writes its line; nothing is
 * sent to the card. On Linux the library takes the driver's node for the
 * card's base first (/dev/orvexN), then ioperm(), then /dev/port, and else
 * finds the bus empty: "driver /dev/orvex0", "ioperm (the driver is not
 * loaded)", "none, the bus reads as empty (...)". On Windows: the port driver
 * library that loads. The first function is for the card of the eleven
 * functions, the second for the card at `base`.
 */
ORVEX_API int ORVEX_CALL orvexdiag_route(char* text, int capacity);
ORVEX_API int ORVEX_CALL orvexdiag_route_card(unsigned base, char* text, int capacity);

#ifdef __cplusplus
}
#endif

#endif /* ORVEXPORTIO_DIAGNOSIS_H */
