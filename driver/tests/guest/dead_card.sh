# No card at the base: the exchange ends after the 9 ms window.
. /lib/orvex/guest_lib.sh
load_standard || exit 1
/bin/orvex_guest_test dead_card $DEAD_BASE
