# System calls and time per line through the library, on the simulated card:
# through the driver, and through the library's own handshake on the same
# card. The port instructions cannot reach a card that lives in the kernel,
# so the handshake goes the library's /dev/port route, onto the card's
# registers file (its debugfs "ports": one access per system call, as on
# /dev/port), with the driver hidden from the library.
. /lib/orvex/route_lib.sh
load_standard || exit 1
ok=0
handshake="env LD_PRELOAD=$SHIM ORVEX_SHIM_REFUSE_IOPERM=1 ORVEX_SHIM_HIDE_DRIVER=1
  ORVEX_SHIM_PORTS=$(sim_file ports)@$SIM_BASE"

calls() {  # COUNT COMMAND...: the system calls of COMMAND lines COUNT
  count=$1
  shift
  strace -f -c -o /tmp/calls "$@" $TEST lines "$count" > /dev/null
  awk '$NF == "total" { print $4 }' /tmp/calls
}

per_line() {  # LINES COMMAND...: system calls per line, from LINES lines more
  more=$1
  shift
  first=$(calls "$more" "$@")
  second=$(calls $((2 * more)) "$@")
  awk "BEGIN { printf \"%.2f\", ($second - $first) / $more }"
}

seconds_per_line() {  # COMMAND...
  clear_card
  "$@" $TEST lines 500 | tee /dev/stderr | sed -n 's/.*seconds per line \([0-9.]*\)/\1/p'
}

clear_card
# Each system call stops the traced process: a few lines suffice.
driver_calls=$(per_line 20 env)
handshake_calls=$(per_line 20 $handshake)
clock=$(cat /sys/devices/system/clocksource/clocksource0/current_clocksource)
echo "orvex-figure: library, system calls per line (1PA 250): driver $driver_calls, own handshake $handshake_calls (clock source $clock)"
expect "one system call per line through the driver" [ "$driver_calls" = 1.00 ] || ok=1

driver_seconds=$(seconds_per_line env)
handshake_seconds=$(seconds_per_line $handshake)
echo "orvex-figure: library, time per line: own handshake / driver = $(awk "BEGIN { printf \"%.1f\", $handshake_seconds / $driver_seconds }")"
echo "orvex-figure: (guest clock, TCG: driver $(awk "BEGIN { printf \"%.0f\", $driver_seconds * 1e6 }") us, own handshake $(awk "BEGIN { printf \"%.0f\", $handshake_seconds * 1e6 }") us per line)"
expect "no strobe out of turn" [ "$(cat "$(sim_file protocol_errors)")" = 0 ] || ok=1
exit $ok
