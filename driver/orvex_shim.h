/* SPDX-License-Identifier: GPL-2.0 */
/*
 * What the card logic (the exchange, the base check, the simulated card)
 * needs from around it, so that the same C files build in the kernel and in
 * user space: fixed-size integers, the monotonic clock, a short sleep and a
 * point at which to let other tasks run. In the kernel these are the kernel's
 * own; in user space the test program defines the clock, the sleep and the
 * yield, on a fake clock.
 */
#ifndef ORVEX_SHIM_H
#define ORVEX_SHIM_H

/* The nap between two looks at a card that is slow to answer, once the short
   busy poll is over: long enough to give the processor away, short enough to
   see a 9 ms window through many looks. */
#define ORVEX_NAP_MIN_US 20
#define ORVEX_NAP_MAX_US 50

#ifdef __KERNEL__

#include <linux/delay.h>
#include <linux/errno.h>
#include <linux/kernel.h>
#include <linux/ktime.h>
#include <linux/math64.h>
#include <linux/sched.h>
#include <linux/string.h>
#include <linux/types.h>

static inline u64 orvex_clock_ns(void)
{
	return ktime_get_ns();
}

/* An uninterruptible sleep: a signal must not cut a wait inside an exchange
   short. */
static inline void orvex_nap(void)
{
	usleep_range(ORVEX_NAP_MIN_US, ORVEX_NAP_MAX_US);
}

static inline void orvex_yield(void)
{
	cond_resched();
}

static inline u64 orvex_div_u64(u64 dividend, u64 divisor)
{
	return div64_u64(dividend, divisor);
}

#else /* user space */

#include <errno.h>
#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

typedef uint8_t u8;
typedef uint32_t u32;
typedef uint64_t u64;
typedef int64_t s64;

#ifdef __cplusplus
extern "C" {
#endif

u64 orvex_clock_ns(void);
void orvex_nap(void);
void orvex_yield(void);

#ifdef __cplusplus
}
#endif

static inline u64 orvex_div_u64(u64 dividend, u64 divisor)
{
	return dividend / divisor;
}

#endif /* __KERNEL__ */

#endif /* ORVEX_SHIM_H */
