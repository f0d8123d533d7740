# While another process holds the card past the driver's one-second bound,
# the library reports a time-out and sends nothing; a signal that cuts the
# wait short is a time-out too, not a second wait.
. /lib/orvex/route_lib.sh
load_standard || exit 1
ok=0
clear_card
echo 600000 > "$(sim_file ack_delay_us)"  # "1PA 250\r" holds the card for 4.8 s
$TEST lines 1 > /dev/null &
holder=$!
waited=0
while [ "$(cat "$(sim_file bytes_taken)")" = 0 ] && [ $waited -lt 50 ]; do
  sleep 0.1
  waited=$((waited + 1))
done
$TEST busy || ok=1
$TEST interrupted || ok=1
wait $holder || { echo "    failed: the holder's line did not go through"; ok=1; }
echo 0 > "$(sim_file ack_delay_us)"
received_exactly <<'LINES' || ok=1
1PA 250\r
LINES
exit $ok
