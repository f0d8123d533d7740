# A user outside group orvex may not open the driver's node, nor use ioperm
# or /dev/port: the library finds the bus empty and reports time-outs, the
# card receives nothing, and the diagnosis names the group.
. /lib/orvex/route_lib.sh
load_standard || exit 1
ok=0
node=/dev/$(node_for_base $SIM_BASE)
clear_card
$TEST as $OUTSIDER $TEST time_outs || ok=1
received_exactly < /dev/null || ok=1
refused="the driver is loaded but you are not in the group that may open $node (orvex)"
says "orvexctl: likely cause: $refused" $TEST as $OUTSIDER /bin/orvexctl ok || ok=1
says "route: none, the bus reads as empty ($refused; ioperm: Operation not permitted; /dev/port: " \
  $TEST as $OUTSIDER /bin/orvexctl --route || ok=1
exit $ok
