# Root may take every route; the library takes the driver's node first, and
# never asks for the ports while the driver carries the card.
. /lib/orvex/route_lib.sh
load_standard || exit 1
ok=0
node=/dev/$(node_for_base $SIM_BASE)
clear_card
strace -f -o /tmp/order.trace -e trace=ioperm,openat,ioctl $TEST lines 3
received_exactly <<'LINES' || ok=1
1PA 250\r
1PA 250\r
1PA 250\r
LINES
traced /tmp/order.trace "\"$node\", O_RDWR\\|O_CLOEXEC\\) += [0-9]+$" || ok=1
expect "three lines, three ioctls" [ "$(grep -c 'ioctl(.*0xd9, 0x1' /tmp/order.trace)" = 3 ] || ok=1
expect "no ioperm while the driver carries the card" not grep -q 'ioperm(' /tmp/order.trace || ok=1
says "route: driver $node" /bin/orvexctl --route || ok=1
says "route: ioperm (the driver offers no card at 0x360)" env ORVEXPORTIO_BASE=0x360 \
  /bin/orvexctl --route || ok=1
exit $ok
