# Waiting for a held card: bounded at 1 s (card busy), interruptible (EINTR).
. /lib/orvex/guest_lib.sh
load_standard || exit 1
/bin/orvex_guest_test busy $SIM_BASE
