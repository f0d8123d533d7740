/*
 * The virtual controller's side of liborvexportio-sim, for host developers.
 *
 * liborvexportio-sim carries the same functions as the library for the card
 * (orvexportio.h), with a virtual controller behind the ports instead of the
 * card. These functions show what that controller received. They exist only
 * in the virtual-controller build.
 *
 * The controller runs on a virtual clock: every port access takes one
 * microsecond of it and every pause its own length.
 */
#ifndef ORVEXPORTIO_SIM_H
#define ORVEXPORTIO_SIM_H

#include "orvexportio.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Makes the controller healthy and idle again, with its clock at zero, its
   axes at rest at zero, an empty list of received lines and no line
   callback. */
ORVEX_API void ORVEX_CALL orvexsim_reset(void);

/* How many received lines the controller keeps (the most recent 16384). */
ORVEX_API int ORVEX_CALL orvexsim_line_count(void);

/*
 * Copies received line `index` (0 is the oldest kept) into `text` as a
 * NUL-terminated string, carriage return included, cut to fit `capacity`,
 * and stores the virtual time at which its last byte arrived, in seconds,
 * into `*received_at` when that is not NULL. Returns the line's full length,
 * or -1 when there is no such line.
 */
ORVEX_API int ORVEX_CALL orvexsim_line(int index, char* text, int capacity, double* received_at);

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

#ifdef __cplusplus
}
#endif

#endif /* ORVEXPORTIO_SIM_H */
