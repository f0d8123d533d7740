# A process killed while its line is half sent: the line arrives whole.
. /lib/orvex/guest_lib.sh
load_standard || exit 1
/bin/orvex_guest_test kill_mid_line $SIM_BASE
