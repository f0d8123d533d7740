# Helpers for the guest test scripts: . /lib/orvex/guest_lib.sh

# Loads the driver (with its parameters) and nothing else.
load_driver() {
  insmod "${ORVEX_MODULE:-/modules/orvex.ko}" "$@" || return 1
  grant_group
}

# Loads the simulated card module (with its parameters).
load_sim() {
  insmod /modules/orvex_sim.ko "$@" || return 1
  grant_group
}

unload_all() {
  rmmod orvex_sim 2>/dev/null
  rmmod orvex 2>/dev/null
  return 0
}

# What the udev rule does on a host: the nodes to group orvex, mode 0660.
grant_group() {
  for node in /dev/orvex[0-9]*; do
    [ -e "$node" ] || continue
    chgrp 1000 "$node" && chmod 0660 "$node"
  done
}

# The node of the card at base $1, by its sysfs attribute.
node_for_base() {
  for attribute in /sys/class/orvex/orvex*/base; do
    [ -f "$attribute" ] || continue
    if [ "$(cat "$attribute")" = "$1" ]; then
      basename "$(dirname "$attribute")"
      return 0
    fi
  done
  return 1
}

expect() {  # DESCRIPTION COMMAND...
  description=$1
  shift
  if "$@"; then
    return 0
  fi
  echo "    failed: $description"
  return 1
}

# The bases the guest tests use: a simulated card, a base with nothing behind
# it (the bus reads 0xFF there), one on the first serial port and one below
# the ports open to cards, both to be refused.
SIM_BASE=0x340
DEAD_BASE=0x300
COM1_BASE=0x3f8
LOW_BASE=0x50

# The driver with the test bases and the simulated card, unless loaded.
load_standard() {
  grep -q '^orvex ' /proc/modules || load_driver bases=$DEAD_BASE,$COM1_BASE,$LOW_BASE || return 1
  grep -q '^orvex_sim ' /proc/modules || load_sim bases=$SIM_BASE || return 1
}

logged() {  # TEXT: the kernel log has TEXT
  dmesg | grep -qF "$1"
}

not() {  # COMMAND...: COMMAND fails
  ! "$@"
}
