// SPDX-License-Identifier: GPL-2.0
/*
 * orvex_sim: simulated controller cards, for testing the orvex driver without
 * a card. Each one is offered through the orvex driver like a real card, as
 * the next /dev/orvexN, but its registers are played by orvex_sim_card.c
 * instead of the I/O bus. Loaded only when asked for.
 *
 * Under debugfs, orvex_sim/<base>/ holds, per card:
 *   transcript       the lines the card received, oldest first, one per line,
 *                    escaped (\r, \n, \\, \xHH; a line cut at the card's
 *                    capacity ends in \+); writing anything clears it
 *   ack_delay_us     how long the card takes to acknowledge each command byte
 *   bytes_taken, protocol_errors, unknown_commands   counters, read-only
 *   reset            writing anything makes the card idle, homed and quiet
 *   ports            the two registers as a file, offset 0 the data register
 *                    and 1 the handshake register, one access per byte read
 *                    or written: the card reached from user space without
 *                    the driver, as /dev/port reaches a real one
 */
#define pr_fmt(fmt) KBUILD_MODNAME ": " fmt

#include <linux/debugfs.h>
#include <linux/err.h>
#include <linux/fs.h>
#include <linux/module.h>
#include <linux/seq_file.h>
#include <linux/spinlock.h>
#include <linux/uaccess.h>
#include <linux/vmalloc.h>

#include "orvex_card.h"
#include "orvex_sim_card.h"
#include "pc_devices.h"

#define ORVEX_SIM_MAX_CARDS 4
#define ORVEX_SIM_TRANSCRIPT_LINES 4096

static unsigned int bases[ORVEX_SIM_MAX_CARDS] = { ORVEX_FACTORY_BASE };
static int base_count = 1;
module_param_array(bases, uint, &base_count, 0444);
MODULE_PARM_DESC(bases, "Bases at which to simulate cards (default 0x340)");

struct orvex_sim {
	spinlock_t lock; /* the card's state, against the driver and debugfs */
	struct orvex_sim_card card;
	struct orvex_card *offered;
	struct orvex_sim_line transcript[ORVEX_SIM_TRANSCRIPT_LINES];
};

static struct dentry *orvex_sim_root;
static struct orvex_sim *orvex_sims[ORVEX_SIM_MAX_CARDS];

/* ---- The registers, behind the driver's seam ------------------------------- */

static u8 orvex_sim_read_register(void *context, unsigned int offset)
{
	struct orvex_sim *sim = context;
	u8 value;

	spin_lock(&sim->lock);
	value = orvex_sim_read(&sim->card, offset, ktime_get_ns());
	spin_unlock(&sim->lock);
	return value;
}

static void orvex_sim_write_register(void *context, unsigned int offset, u8 value)
{
	struct orvex_sim *sim = context;

	spin_lock(&sim->lock);
	orvex_sim_write(&sim->card, offset, value, ktime_get_ns());
	spin_unlock(&sim->lock);
}

static const struct orvex_register_ops orvex_sim_ops = {
	.read = orvex_sim_read_register,
	.write = orvex_sim_write_register,
};

/* ---- debugfs ------------------------------------------------------------------ */

static void orvex_sim_show_line(struct seq_file *file, const struct orvex_sim_line *line)
{
	u32 at;

	for (at = 0; at < line->length; at++) {
		u8 byte = line->bytes[at];

		if (byte == '\r')
			seq_puts(file, "\\r");
		else if (byte == '\n')
			seq_puts(file, "\\n");
		else if (byte == '\\')
			seq_puts(file, "\\\\");
		else if (byte >= 0x20 && byte < 0x7F)
			seq_putc(file, byte);
		else
			seq_printf(file, "\\x%02x", byte);
	}
	if (line->overlong)
		seq_puts(file, "\\+");
	seq_putc(file, '\n');
}

static int orvex_sim_transcript_show(struct seq_file *file, void *unused)
{
	struct orvex_sim *sim = file->private;
	const struct orvex_sim_line *line;
	u32 index;

	spin_lock(&sim->lock);
	for (index = 0; (line = orvex_sim_line_at(&sim->card, index)); index++)
		orvex_sim_show_line(file, line);
	spin_unlock(&sim->lock);
	return 0;
}

static int orvex_sim_transcript_open(struct inode *inode, struct file *file)
{
	return single_open_size(file, orvex_sim_transcript_show, inode->i_private,
				ORVEX_SIM_TRANSCRIPT_LINES * 16);
}

static ssize_t orvex_sim_transcript_write(struct file *file, const char __user *text,
					  size_t length, loff_t *position)
{
	struct orvex_sim *sim = ((struct seq_file *)file->private_data)->private;

	spin_lock(&sim->lock);
	orvex_sim_clear_transcript(&sim->card);
	spin_unlock(&sim->lock);
	return (ssize_t)length;
}

static const struct file_operations orvex_sim_transcript_fops = {
	.owner = THIS_MODULE,
	.open = orvex_sim_transcript_open,
	.read = seq_read,
	.write = orvex_sim_transcript_write,
	.llseek = seq_lseek,
	.release = single_release,
};

static ssize_t orvex_sim_reset_write(struct file *file, const char __user *text, size_t length,
				     loff_t *position)
{
	struct orvex_sim *sim = file->private_data;

	spin_lock(&sim->lock);
	orvex_sim_reset(&sim->card);
	spin_unlock(&sim->lock);
	return (ssize_t)length;
}

static const struct file_operations orvex_sim_reset_fops = {
	.owner = THIS_MODULE,
	.open = simple_open,
	.write = orvex_sim_reset_write,
	.llseek = no_llseek,
};

/* The registers at offsets [*position, *position + length), one access each. */
static ssize_t orvex_sim_ports_read(struct file *file, char __user *text, size_t length,
				    loff_t *position)
{
	u8 values[ORVEX_REGISTER_COUNT];
	size_t at;

	if (*position < 0 || *position >= ORVEX_REGISTER_COUNT)
		return 0;
	length = min_t(size_t, length, ORVEX_REGISTER_COUNT - (size_t)*position);
	for (at = 0; at < length; at++)
		values[at] = orvex_sim_read_register(file->private_data,
						     (unsigned int)(*position + at));
	if (copy_to_user(text, values, length))
		return -EFAULT;
	*position += length;
	return (ssize_t)length;
}

static ssize_t orvex_sim_ports_write(struct file *file, const char __user *text, size_t length,
				     loff_t *position)
{
	u8 values[ORVEX_REGISTER_COUNT];
	size_t at;

	if (*position < 0 || *position >= ORVEX_REGISTER_COUNT)
		return 0;
	length = min_t(size_t, length, ORVEX_REGISTER_COUNT - (size_t)*position);
	if (copy_from_user(values, text, length))
		return -EFAULT;
	for (at = 0; at < length; at++)
		orvex_sim_write_register(file->private_data, (unsigned int)(*position + at),
					 values[at]);
	*position += length;
	return (ssize_t)length;
}

static const struct file_operations orvex_sim_ports_fops = {
	.owner = THIS_MODULE,
	.open = simple_open,
	.read = orvex_sim_ports_read,
	.write = orvex_sim_ports_write,
	.llseek = default_llseek,
};

static int orvex_sim_ack_delay_get(void *data, u64 *value)
{
	struct orvex_sim *sim = data;

	spin_lock(&sim->lock);
	*value = div_u64(sim->card.ack_delay_ns, NSEC_PER_USEC);
	spin_unlock(&sim->lock);
	return 0;
}

static int orvex_sim_ack_delay_set(void *data, u64 value)
{
	struct orvex_sim *sim = data;

	spin_lock(&sim->lock);
	sim->card.ack_delay_ns = value * NSEC_PER_USEC;
	spin_unlock(&sim->lock);
	return 0;
}
DEFINE_DEBUGFS_ATTRIBUTE(orvex_sim_ack_delay_fops, orvex_sim_ack_delay_get,
			 orvex_sim_ack_delay_set, "%llu\n");

#define ORVEX_SIM_COUNTER(name)                                                        \
	static int orvex_sim_##name##_get(void *data, u64 *value)                      \
	{                                                                              \
		struct orvex_sim *sim = data;                                          \
		spin_lock(&sim->lock);                                                 \
		*value = sim->card.name;                                               \
		spin_unlock(&sim->lock);                                               \
		return 0;                                                              \
	}                                                                              \
	DEFINE_DEBUGFS_ATTRIBUTE(orvex_sim_##name##_fops, orvex_sim_##name##_get, NULL, \
				 "%llu\n")

ORVEX_SIM_COUNTER(bytes_taken);
ORVEX_SIM_COUNTER(protocol_errors);
ORVEX_SIM_COUNTER(unknown_commands);

static void orvex_sim_add_files(struct orvex_sim *sim, unsigned long base)
{
	char name[16];
	struct dentry *directory;

	snprintf(name, sizeof(name), "0x%lx", base);
	directory = debugfs_create_dir(name, orvex_sim_root);
	debugfs_create_file("transcript", 0600, directory, sim, &orvex_sim_transcript_fops);
	debugfs_create_file("reset", 0200, directory, sim, &orvex_sim_reset_fops);
	debugfs_create_file("ports", 0600, directory, sim, &orvex_sim_ports_fops);
	debugfs_create_file_unsafe("ack_delay_us", 0600, directory, sim,
				   &orvex_sim_ack_delay_fops);
	debugfs_create_file_unsafe("bytes_taken", 0400, directory, sim,
				   &orvex_sim_bytes_taken_fops);
	debugfs_create_file_unsafe("protocol_errors", 0400, directory, sim,
				   &orvex_sim_protocol_errors_fops);
	debugfs_create_file_unsafe("unknown_commands", 0400, directory, sim,
				   &orvex_sim_unknown_commands_fops);
}

/* ---- The module --------------------------------------------------------------- */

static struct orvex_sim *orvex_sim_create(unsigned long base)
{
	struct orvex_sim *sim = vzalloc(sizeof(*sim));

	if (!sim)
		return NULL;
	spin_lock_init(&sim->lock);
	orvex_sim_init(&sim->card, sim->transcript, ORVEX_SIM_TRANSCRIPT_LINES);
	sim->offered = orvex_add_card(base, &orvex_sim_ops, sim, THIS_MODULE);
	if (IS_ERR(sim->offered)) {
		vfree(sim);
		return NULL;
	}
	orvex_sim_add_files(sim, base);
	return sim;
}

static void orvex_sim_remove_all(void)
{
	int index;

	for (index = 0; index < ORVEX_SIM_MAX_CARDS; index++) {
		if (orvex_sims[index])
			orvex_remove_card(orvex_sims[index]->offered);
	}
	debugfs_remove_recursive(orvex_sim_root);
	for (index = 0; index < ORVEX_SIM_MAX_CARDS; index++) {
		vfree(orvex_sims[index]);
		orvex_sims[index] = NULL;
	}
}

static int __init orvex_sim_module_init(void)
{
	int index, offered = 0;

	orvex_sim_root = debugfs_create_dir(KBUILD_MODNAME, NULL);
	for (index = 0; index < base_count; index++) {
		orvex_sims[index] = orvex_sim_create(bases[index]);
		if (orvex_sims[index])
			offered++;
	}
	if (offered == 0) {
		pr_warn("no simulated card could be offered\n");
		orvex_sim_remove_all();
		return -ENODEV;
	}
	return 0;
}

static void __exit orvex_sim_module_exit(void)
{
	orvex_sim_remove_all();
}

module_init(orvex_sim_module_init);
module_exit(orvex_sim_module_exit);

MODULE_DESCRIPTION("Simulated controller cards for testing the orvex driver");
MODULE_LICENSE("GPL");
