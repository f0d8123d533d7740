# Every export's exact lines through the driver, from a member of group
# orvex who may use neither ioperm nor /dev/port: the library takes the
# driver's node, and the simulated card receives exactly what it sends.
. /lib/orvex/route_lib.sh
load_standard || exit 1
ok=0
node=/dev/$(node_for_base $SIM_BASE)
clear_card
$TEST as $MEMBER $TEST exports || ok=1
received_exactly <<'LINES' || ok=1
1FI11\r
1VA1000;AC50000\r
1FM03\r
1DH\r
2FI11\r
2VA1000;AC50000\r
2FM03\r
2DH\r
1VA1000\r
2VA1000\r
1PA 250\r
2PA 250\r
TS\r
TS\r
1TP\r
2TP\r
1TP\r
2PR -50\r
1ST\r
2ST\r
1PA 0\r
2DH\r
1PA -75\r
1FI11\r
1VA1000;AC50000\r
1FM3\r
1DH\r
2FI11\r
2VA1000;AC50000\r
2FM3\r
2DH\r
LINES
expect "no strobe out of turn" [ "$(cat "$(sim_file protocol_errors)")" = 0 ] || ok=1
says "route: driver $node" $TEST as $MEMBER /bin/orvexctl --route || ok=1

echo "  a card the driver offers that does not answer (0xFF): time-outs through the driver"
ORVEXPORTIO_BASE=$DEAD_BASE $TEST as $MEMBER $TEST time_outs || ok=1
exit $ok
