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

/* An uninterruptible sleep of `shortest_us` to `longest_us`: a signal must not
   cut a wait inside an exchange short. */
static inline void orvex_nap(unsigned int shortest_us, unsigned int longest_us)
{
	usleep_range(shortest_us, longest_us);
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
void orvex_nap(unsigned int shortest_us, unsigned int longest_us);
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
