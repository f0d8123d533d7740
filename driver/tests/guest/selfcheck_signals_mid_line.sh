# Self-check: against a module that gives up mid-line on a fatal signal, the
# kill test must fail.
. /lib/orvex/guest_lib.sh
unload_all
ORVEX_MODULE=/modules/signals_mid_line/orvex.ko load_driver bases=$DEAD_BASE || exit 1
load_sim bases=$SIM_BASE || exit 1
/bin/orvex_guest_test kill_mid_line $SIM_BASE
status=$?
unload_all
exit $status
