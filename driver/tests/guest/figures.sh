# System calls and time per line, through the driver and in user space.
. /lib/orvex/guest_lib.sh
load_standard || exit 1
/bin/orvex_guest_test figures $SIM_BASE
