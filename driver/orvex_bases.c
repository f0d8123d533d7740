// SPDX-License-Identifier: GPL-2.0
/*
 * A card's two registers, base and base + 1, must both lie in the ports the
 * bus leaves to add-in cards and on none of the standard PC devices. The
 * table is the library's own, included rather than copied, so the driver and
 * the library refuse the same bases.
 */
#include "orvex_shim.h"
#include "orvex_bases.h"
#include "pc_devices.h"

static const struct orvex_pc_device orvex_pc_devices[] = ORVEX_PC_DEVICES;

enum orvex_base_verdict orvex_judge_base(unsigned long base, const char **device)
{
	unsigned long last;
	size_t row;

	*device = NULL;
	if (base < ORVEX_LOWEST_BASE || base > ORVEX_HIGHEST_BASE)
		return ORVEX_BASE_OUT_OF_RANGE;
	last = base + ORVEX_REGISTER_COUNT - 1;
	for (row = 0; row < sizeof(orvex_pc_devices) / sizeof(orvex_pc_devices[0]); row++) {
		if (base <= orvex_pc_devices[row].last && last >= orvex_pc_devices[row].first) {
			*device = orvex_pc_devices[row].name;
			return ORVEX_BASE_ON_DEVICE;
		}
	}
	return ORVEX_BASE_ACCEPTED;
}
