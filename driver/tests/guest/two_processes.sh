# Two processes at once never mix their lines.
. /lib/orvex/guest_lib.sh
load_standard || exit 1
/bin/orvex_guest_test two_processes $SIM_BASE
