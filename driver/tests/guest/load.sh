# The driver offers a node for each base it accepts, with its base in sysfs,
# and refuses, naming the device, a base on the first serial port.
. /lib/orvex/guest_lib.sh
load_standard || exit 1
ok=0
for base in $DEAD_BASE $SIM_BASE; do
  node=$(node_for_base $base)
  expect "a node for base $base" [ -n "$node" ] || ok=1
  expect "/dev/$node exists" [ -c "/dev/$node" ] || ok=1
  echo "    /dev/$node: base $(cat /sys/class/orvex/$node/base)"
done
expect "no node for $COM1_BASE" not node_for_base $COM1_BASE || ok=1
expect "no node for $LOW_BASE" not node_for_base $LOW_BASE || ok=1
attribute=/sys/class/orvex/$(node_for_base $SIM_BASE)/base
expect "the base reads 0x340 and a line feed" \
  [ "$(cat $attribute)" = 0x340 -a "$(wc -c < $attribute)" -eq 6 ] || ok=1
expect "the refusal of $COM1_BASE names the device" \
  logged "orvex: base $COM1_BASE refused: its registers overlap the first serial port (COM1)" || ok=1
expect "the refusal of $LOW_BASE names the range" \
  logged "orvex: base $LOW_BASE refused: both registers must lie within 0x100-0x3ff" || ok=1
expect "the ports of $DEAD_BASE are claimed" grep -q '0300-0301 : orvex' /proc/ioports || ok=1
expect "the ports of $COM1_BASE are not" not grep -q '03f8-03f9 : orvex' /proc/ioports || ok=1
exit $ok
