# The library's own routes to the registers on a real kernel, as root, with
# no driver loaded, against QEMU's empty bus (every read gives 0xFF): each
# line times out after the 9 ms window and nothing hangs, on the port
# instructions (ioperm) and, where ioperm is refused, on /dev/port.
. /lib/orvex/route_lib.sh
unload_all
ok=0

echo "  ioperm and the port instructions:"
$TEST time_outs || ok=1
strace -f -o /tmp/ioperm.trace -e trace=ioperm,openat $TEST time_outs > /dev/null
traced /tmp/ioperm.trace 'ioperm\(0x340, 0x2, 1\) += 0$' || ok=1
expect "no /dev/port on the ioperm route" not grep -q '"/dev/port"' /tmp/ioperm.trace || ok=1
says "route: ioperm (the driver is not loaded)" /bin/orvexctl --route || ok=1

echo "  /dev/port, ioperm refused:"
env LD_PRELOAD=$SHIM ORVEX_SHIM_REFUSE_IOPERM=1 $TEST time_outs || ok=1
strace -f -o /tmp/dev_port.trace -e trace=openat,pread64 \
  env LD_PRELOAD=$SHIM ORVEX_SHIM_REFUSE_IOPERM=1 $TEST time_outs > /dev/null
traced /tmp/dev_port.trace '"/dev/port", O_RDWR\|O_CLOEXEC\) += [0-9]+$' || ok=1
traced /tmp/dev_port.trace 'pread64\([0-9]+, "\\377", 1, 833\) += 1$' || ok=1
says "route: /dev/port (the driver is not loaded; ioperm: Operation not permitted)" \
  env LD_PRELOAD=$SHIM ORVEX_SHIM_REFUSE_IOPERM=1 /bin/orvexctl --route || ok=1
exit $ok
