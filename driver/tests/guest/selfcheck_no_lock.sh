# Self-check: against a module that does not serialise exchanges, the test
# of two processes at once must fail.
. /lib/orvex/guest_lib.sh
unload_all
ORVEX_MODULE=/modules/no_lock/orvex.ko load_driver bases=$DEAD_BASE || exit 1
load_sim bases=$SIM_BASE || exit 1
/bin/orvex_guest_test two_processes $SIM_BASE
status=$?
unload_all
exit $status
