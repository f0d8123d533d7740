/*
 * A port-I/O driver library for Windows with the virtual controller behind
 * it, built twice, as DlPortIO.dll and as inpout32.dll, to test
 * orvexportio.dll without the card. It exports the driver's two byte-access
 * functions, as the real libraries do, and, for the test side, the functions
 * of orvexportio_sim.h and the ones below.
 *
 * Every fault function replaces the controller's faults with the one it names.
 */
#ifndef ORVEX_SIMULATED_DRIVER_H
#define ORVEX_SIMULATED_DRIVER_H

#include "orvexportio_sim.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The driver's side: one byte in from, or out to, an I/O port. */
unsigned char __stdcall DlPortReadPortUchar(unsigned long port);
void __stdcall DlPortWritePortUchar(unsigned long port, unsigned char value);

/* The handshake register reads `value` whatever happens. */
void ORVEX_CALL orvexsim_fault_stuck_handshake(int value);

/* Once `bytes` command bytes were taken, READY is never shown again. */
void ORVEX_CALL orvexsim_fault_dies_after_bytes(int bytes);

/* READY is withheld before command byte `byte` (0 is the first after the
   reset) for `microseconds` of the controller's clock, which advances one
   microsecond per port access. */
void ORVEX_CALL orvexsim_fault_readiness_delay(int byte, int microseconds);

/* The strobe of command byte `byte` is taken but never acknowledged. */
void ORVEX_CALL orvexsim_fault_never_acknowledges_byte(int byte);

/* The controller stops offering a reply after `bytes` of it. */
void ORVEX_CALL orvexsim_fault_reply_stops_after(int bytes);

/* Replies never end: after their first byte the controller keeps offering
   '9' and never a line feed. */
void ORVEX_CALL orvexsim_fault_endless_reply(void);

/* The next query is answered with these bytes instead of the controller's
   own answer. */
void ORVEX_CALL orvexsim_queue_reply(const char* bytes, int length);

/* Command bytes taken since the reset. */
int ORVEX_CALL orvexsim_bytes_taken(void);

/* Strobes and releases the controller saw out of turn since the reset. */
int ORVEX_CALL orvexsim_protocol_errors(void);

#ifdef __cplusplus
}
#endif

#endif /* ORVEX_SIMULATED_DRIVER_H */
