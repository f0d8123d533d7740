/* SPDX-License-Identifier: GPL-2.0 */
/* Whether a card may sit at a base: the same check the library makes. */
#ifndef ORVEX_BASES_H
#define ORVEX_BASES_H

enum orvex_base_verdict {
	ORVEX_BASE_ACCEPTED,
	/* a register lies outside ORVEX_LOWEST_BASE..0x3FF */
	ORVEX_BASE_OUT_OF_RANGE,
	/* a register lies on a standard PC device's ports */
	ORVEX_BASE_ON_DEVICE,
};

#ifdef __cplusplus
extern "C" {
#endif

/* For ORVEX_BASE_ON_DEVICE, *device names the first device hit. */
enum orvex_base_verdict orvex_judge_base(unsigned long base, const char **device);

#ifdef __cplusplus
}
#endif

#endif /* ORVEX_BASES_H */
