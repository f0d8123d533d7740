// SPDX-License-Identifier: GPL-2.0
/*
 * orvex: the character devices for two-axis motion controller cards on the
 * PC I/O bus. Each card has a data register at its base and a handshake
 * register after it; /dev/orvexN carries whole exchanges with card N through
 * one ioctl (orvex_abi.h), serialised between all processes.
 */
#define pr_fmt(fmt) KBUILD_MODNAME ": " fmt

#include <linux/cdev.h>
#include <linux/device.h>
#include <linux/err.h>
#include <linux/fs.h>
#include <linux/io.h>
#include <linux/ioport.h>
#include <linux/list.h>
#include <linux/module.h>
#include <linux/mutex.h>
#include <linux/sched.h>
#include <linux/sched/signal.h>
#include <linux/slab.h>
#include <linux/spinlock.h>
#include <linux/uaccess.h>
#include <linux/version.h>

#include "orvex_abi.h"
#include "orvex_bases.h"
#include "orvex_card.h"
#include "orvex_exchange.h"
#include "pc_devices.h"

#define ORVEX_MAX_CARDS 8
/* How long an exchange waits for the card while another exchange holds it. */
#define ORVEX_CLAIM_BOUND HZ

static unsigned int bases[ORVEX_MAX_CARDS] = { ORVEX_FACTORY_BASE };
static int base_count = 1;
module_param_array(bases, uint, &base_count, 0444);
MODULE_PARM_DESC(bases, "Bases of the cards on the I/O bus, e.g. 0x340,0x300 (default 0x340)");

/* A task waiting for the card, on the card's queue. */
struct orvex_waiter {
	struct list_head node;
	struct task_struct *task;
	bool granted;
};

struct orvex_card {
	unsigned long base;
	unsigned int index;
	struct orvex_port port;
	struct module *owner;
	struct device *device;
	bool holds_region;

	/* The exchange lock: held, and the tasks waiting for it in order. */
	spinlock_t lock;
	bool held;
	struct list_head waiters;
};

static struct class *orvex_class;
static dev_t orvex_first_devt;
static struct cdev orvex_cdev;
static DEFINE_MUTEX(orvex_cards_lock);
static struct orvex_card *orvex_cards[ORVEX_MAX_CARDS];

/* ---- The real ports: their context is the card's base -------------------- */

static u8 orvex_port_read(void *context, unsigned int offset)
{
	return inb((unsigned long)context + offset);
}

static void orvex_port_write(void *context, unsigned int offset, u8 value)
{
	outb(value, (unsigned long)context + offset);
}

static const struct orvex_register_ops orvex_port_ops = {
	.read = orvex_port_read,
	.write = orvex_port_write,
};

/* ---- The exchange lock ---------------------------------------------------------
 *
 * A FIFO hand-off lock, built as the kernel's semaphores are: the holder hands
 * the card straight to the longest waiter, so that a process sending line
 * after line cannot take it back before the others. Its wait is interruptible
 * and bounded at once, which neither mutexes nor semaphores offer together.
 */

/* Not inlined, so that a task waiting here shows orvex_claim_card in
   /proc/PID/wchan. */
static noinline int orvex_claim_card(struct orvex_card *card)
{
	struct orvex_waiter waiter = { .task = current, .granted = false };
	long remaining = ORVEX_CLAIM_BOUND;
	int status = 0;

	spin_lock(&card->lock);
	if (!card->held) {
		card->held = true;
		spin_unlock(&card->lock);
		return 0;
	}
	list_add_tail(&waiter.node, &card->waiters);
	for (;;) {
		set_current_state(TASK_INTERRUPTIBLE);
		spin_unlock(&card->lock);
		remaining = schedule_timeout(remaining);
		spin_lock(&card->lock);
		/* A card handed over is kept, whatever else happened meanwhile. */
		if (waiter.granted)
			break;
		if (signal_pending(current)) {
			status = -EINTR;
			break;
		}
		if (remaining == 0) {
			status = -EBUSY;
			break;
		}
	}
	if (!waiter.granted)
		list_del(&waiter.node);
	__set_current_state(TASK_RUNNING);
	spin_unlock(&card->lock);
	return status;
}

static void orvex_release_card(struct orvex_card *card)
{
	struct orvex_waiter *next;

	spin_lock(&card->lock);
	next = list_first_entry_or_null(&card->waiters, struct orvex_waiter, node);
	if (next) {
		list_del(&next->node);
		next->granted = true;
		wake_up_process(next->task);
	} else {
		card->held = false;
	}
	spin_unlock(&card->lock);
}

/* ---- The character device ------------------------------------------------------ */

static int orvex_open(struct inode *inode, struct file *file)
{
	unsigned int index = iminor(inode);
	struct orvex_card *card = NULL;

	mutex_lock(&orvex_cards_lock);
	if (index < ORVEX_MAX_CARDS)
		card = orvex_cards[index];
	/* The module behind the card's registers stays while the node is open. */
	if (card && !try_module_get(card->owner))
		card = NULL;
	mutex_unlock(&orvex_cards_lock);
	if (!card)
		return -ENXIO;
	file->private_data = card;
	return nonseekable_open(inode, file);
}

static int orvex_release(struct inode *inode, struct file *file)
{
	struct orvex_card *card = file->private_data;

	module_put(card->owner);
	return 0;
}

static void orvex_report_busy(struct orvex_exchange *exchange)
{
	exchange->outcome = ORVEX_CARD_BUSY;
	exchange->bytes_sent = 0;
	exchange->reply_length = 0;
	exchange->reply_received = 0;
	exchange->reply_ended = 0;
	memset(exchange->reply, 0, sizeof(exchange->reply));
}

/*
 * Once the card is claimed the exchange runs to its end: nothing in it looks
 * at signals, and its sleeps are uninterruptible, so a process killed while
 * its line is on the bus still has the line finished, or its reply drained,
 * before it dies.
 */
static long orvex_ioctl(struct file *file, unsigned int command, unsigned long argument)
{
	struct orvex_card *card = file->private_data;
	struct orvex_exchange __user *user_exchange = (void __user *)argument;
	struct orvex_exchange exchange;
	int status;

	if (command != ORVEX_IOC_EXCHANGE)
		return -ENOTTY;
	if (!(file->f_mode & FMODE_WRITE))
		return -EBADF;
	if (copy_from_user(&exchange, user_exchange, sizeof(exchange)))
		return -EFAULT;
	status = orvex_check_exchange(&exchange);
	if (status)
		return status;

	status = orvex_claim_card(card);
	if (status == -EBUSY) {
		orvex_report_busy(&exchange);
	} else if (status) {
		return status;
	} else {
		orvex_carry_exchange(&card->port, &exchange);
		orvex_release_card(card);
	}

	if (copy_to_user(user_exchange, &exchange, sizeof(exchange)))
		return -EFAULT;
	return 0;
}

static const struct file_operations orvex_fops = {
	.owner = THIS_MODULE,
	.open = orvex_open,
	.release = orvex_release,
	.unlocked_ioctl = orvex_ioctl,
	.compat_ioctl = compat_ptr_ioctl,
	.llseek = no_llseek,
};

static ssize_t base_show(struct device *device, struct device_attribute *attribute, char *text)
{
	struct orvex_card *card = dev_get_drvdata(device);

	return sysfs_emit(text, "0x%lx\n", card->base);
}
static DEVICE_ATTR_RO(base);

static struct attribute *orvex_card_attrs[] = {
	&dev_attr_base.attr,
	NULL,
};
ATTRIBUTE_GROUPS(orvex_card);

/* ---- Cards ----------------------------------------------------------------------- */

static bool orvex_base_allowed(unsigned long base)
{
	const char *device;

	switch (orvex_judge_base(base, &device)) {
	case ORVEX_BASE_ACCEPTED:
		return true;
	case ORVEX_BASE_OUT_OF_RANGE:
		pr_warn("base 0x%lx refused: both registers must lie within 0x%x-0x3ff\n", base,
			ORVEX_LOWEST_BASE);
		return false;
	case ORVEX_BASE_ON_DEVICE:
	default:
		pr_warn("base 0x%lx refused: its registers overlap %s\n", base, device);
		return false;
	}
}

/* The first free slot, or -1; a base already offered is refused. Called with
   orvex_cards_lock held. */
static int orvex_free_slot(unsigned long base)
{
	int index, free = -1;

	for (index = 0; index < ORVEX_MAX_CARDS; index++) {
		if (orvex_cards[index] && orvex_cards[index]->base == base) {
			pr_warn("base 0x%lx refused: a card is offered there already\n", base);
			return -1;
		}
		if (!orvex_cards[index] && free < 0)
			free = index;
	}
	if (free < 0)
		pr_warn("base 0x%lx refused: no room for more than %d cards\n", base,
			ORVEX_MAX_CARDS);
	return free;
}

static struct orvex_card *orvex_offer_card(unsigned long base,
					   const struct orvex_register_ops *ops,
					   void *context, struct module *owner)
{
	struct orvex_card *card = kzalloc(sizeof(*card), GFP_KERNEL);
	struct device *device;
	int index;

	if (!card)
		return ERR_PTR(-ENOMEM);
	card->base = base;
	card->port.ops = ops;
	card->port.context = context;
	card->owner = owner;
	spin_lock_init(&card->lock);
	INIT_LIST_HEAD(&card->waiters);

	mutex_lock(&orvex_cards_lock);
	index = orvex_free_slot(base);
	if (index < 0) {
		mutex_unlock(&orvex_cards_lock);
		kfree(card);
		return ERR_PTR(-EBUSY);
	}
	card->index = (unsigned int)index;
	orvex_cards[index] = card;
	device = device_create_with_groups(orvex_class, NULL,
					   MKDEV(MAJOR(orvex_first_devt), index), card,
					   orvex_card_groups, "orvex%d", index);
	if (IS_ERR(device)) {
		orvex_cards[index] = NULL;
		mutex_unlock(&orvex_cards_lock);
		kfree(card);
		return ERR_CAST(device);
	}
	card->device = device;
	mutex_unlock(&orvex_cards_lock);
	pr_info("orvex%d: card at 0x%lx\n", index, base);
	return card;
}

struct orvex_card *orvex_add_card(unsigned long base, const struct orvex_register_ops *ops,
				  void *context, struct module *owner)
{
	if (!orvex_base_allowed(base))
		return ERR_PTR(-EINVAL);
	return orvex_offer_card(base, ops, context, owner);
}
EXPORT_SYMBOL_GPL(orvex_add_card);

void orvex_remove_card(struct orvex_card *card)
{
	mutex_lock(&orvex_cards_lock);
	orvex_cards[card->index] = NULL;
	mutex_unlock(&orvex_cards_lock);
	device_destroy(orvex_class, MKDEV(MAJOR(orvex_first_devt), card->index));
	if (card->holds_region)
		release_region(card->base, ORVEX_REGISTER_COUNT);
	kfree(card);
}
EXPORT_SYMBOL_GPL(orvex_remove_card);

static void orvex_add_port_card(unsigned long base)
{
	struct orvex_card *card;

	if (!orvex_base_allowed(base))
		return;
	if (!request_region(base, ORVEX_REGISTER_COUNT, KBUILD_MODNAME)) {
		pr_warn("base 0x%lx refused: its ports are taken already (see /proc/ioports)\n",
			base);
		return;
	}
	card = orvex_offer_card(base, &orvex_port_ops, (void *)base, THIS_MODULE);
	if (IS_ERR(card)) {
		release_region(base, ORVEX_REGISTER_COUNT);
		return;
	}
	card->holds_region = true;
}

static void orvex_remove_all_cards(void)
{
	int index;

	for (index = 0; index < ORVEX_MAX_CARDS; index++) {
		if (orvex_cards[index])
			orvex_remove_card(orvex_cards[index]);
	}
}

static struct class *orvex_create_class(void)
{
#if LINUX_VERSION_CODE >= KERNEL_VERSION(6, 4, 0)
	return class_create(KBUILD_MODNAME);
#else
	return class_create(THIS_MODULE, KBUILD_MODNAME);
#endif
}

static int __init orvex_init(void)
{
	int status, index;

	status = alloc_chrdev_region(&orvex_first_devt, 0, ORVEX_MAX_CARDS, KBUILD_MODNAME);
	if (status)
		return status;
	orvex_class = orvex_create_class();
	if (IS_ERR(orvex_class)) {
		status = PTR_ERR(orvex_class);
		goto free_region;
	}
	cdev_init(&orvex_cdev, &orvex_fops);
	orvex_cdev.owner = THIS_MODULE;
	status = cdev_add(&orvex_cdev, orvex_first_devt, ORVEX_MAX_CARDS);
	if (status)
		goto destroy_class;
	for (index = 0; index < base_count; index++)
		orvex_add_port_card(bases[index]);
	return 0;

destroy_class:
	class_destroy(orvex_class);
free_region:
	unregister_chrdev_region(orvex_first_devt, ORVEX_MAX_CARDS);
	return status;
}

static void __exit orvex_exit(void)
{
	orvex_remove_all_cards();
	cdev_del(&orvex_cdev);
	class_destroy(orvex_class);
	unregister_chrdev_region(orvex_first_devt, ORVEX_MAX_CARDS);
}

module_init(orvex_init);
module_exit(orvex_exit);

MODULE_DESCRIPTION("Two-axis motion controller cards on the PC I/O bus");
MODULE_LICENSE("GPL");
