# Neither module unloads while a node is open; both do once it is closed,
# and load again.
. /lib/orvex/guest_lib.sh
load_standard || exit 1
/bin/orvex_guest_test unload $SIM_BASE || exit 1
expect "both modules gone" not grep -q '^orvex' /proc/modules || exit 1
expect "no node left" [ ! -e /dev/orvex0 ] || exit 1
load_standard || exit 1
expect "the node is back" [ -n "$(node_for_base $SIM_BASE)" ]
