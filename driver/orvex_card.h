/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Inside the kernel: how a module offers a card through the orvex driver.
 * The driver itself offers the cards on the real ports; the simulated card
 * module offers cards whose registers it plays itself, through the same seam.
 */
#ifndef ORVEX_CARD_H
#define ORVEX_CARD_H

#include <linux/module.h>

#include "orvex_exchange.h"

struct orvex_card;

/*
 * Offers a card whose registers `ops` reach (called with `context`) as the
 * next free /dev/orvexN. The base is checked as for a real card: a refused
 * base is logged and an ERR_PTR comes back. An open node holds a reference on
 * `owner`, the module whose ops these are, so that module cannot go while the
 * node is open.
 */
struct orvex_card *orvex_add_card(unsigned long base, const struct orvex_register_ops *ops,
				  void *context, struct module *owner);

/* Takes the card's node away; called by its owner only when unloading. */
void orvex_remove_card(struct orvex_card *card);

#endif /* ORVEX_CARD_H */
