# Booted with lockdown=integrity: the kernel refuses ioperm and /dev/port
# even to root, the library reports time-outs, and the diagnosis says why.
. /lib/orvex/route_lib.sh
mount -t securityfs securityfs /sys/kernel/security 2>/dev/null
ok=0
expect "lockdown is on" grep -q '\[integrity\]' /sys/kernel/security/lockdown || exit 1
$TEST time_outs || ok=1
strace -f -o /tmp/lockdown.trace -e trace=ioperm,openat $TEST time_outs > /dev/null
traced /tmp/lockdown.trace 'ioperm\(0x340, 0x2, 1\) += -1 EPERM' || ok=1
traced /tmp/lockdown.trace '"/dev/port", O_RDWR\|O_CLOEXEC\) += -1 EPERM' || ok=1
locked="kernel lockdown is on (\`/sys/kernel/security/lockdown\` says integrity): port instructions and /dev/port are refused even for root"
says "orvexctl: likely cause: $locked; install the driver" /bin/orvexctl ok || ok=1
says "route: none, the bus reads as empty (the driver is not loaded; $locked)" \
  /bin/orvexctl --route || ok=1
exit $ok
