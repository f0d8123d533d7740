/*
 * A port-I/O driver library for Windows with the virtual controller behind
 * it, built twice, as DlPortIO.dll and as inpout32.dll, to test
 * orvexportio.dll without the card. It exports the driver's two byte-access
 * functions, as the real libraries do, and, for the test side, the functions
 * of orvexportio_sim.h.
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

/* For the tests: the calling process ends at its `access`-th access to the
   first card from now, just after it (`after` not 0) or just before. */
void orvexsim_test_end_at_access(int access, int after);

#ifdef __cplusplus
}
#endif

#endif /* ORVEX_SIMULATED_DRIVER_H */
