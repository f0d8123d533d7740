#!/bin/busybox sh
# The test guest's first process: mounts what the tests need, runs each
# script in /tests in order under a time limit, checks the kernel log, says
# on the console whether all passed, and powers the guest off.
/bin/busybox --install -s /bin
export PATH=/bin:/sbin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t debugfs debugfs /sys/kernel/debug
# /tmp is the initramfs's own (already in memory), not a tmpfs over it: a
# build tree under /tmp puts the host's libraries there, at their own paths.
mkdir -p /tmp && chmod 1777 /tmp
dmesg -n 1

echo "orvex-guest: up after $(cut -d' ' -f1 /proc/uptime) s"
failures=0
count=0
for test in /tests/*; do
  [ -f "$test" ] || continue
  name=$(basename "$test")
  count=$((count + 1))
  echo "orvex-guest: RUN $name"
  started=$(cut -d' ' -f1 /proc/uptime)
  if timeout 120 sh "$test"; then
    echo "orvex-guest: PASS $name ($(cut -d' ' -f1 /proc/uptime) s, from $started)"
  else
    echo "orvex-guest: FAIL $name"
    failures=$((failures + 1))
  fi
done

# However slow or dead the card, the kernel must have had nothing to say.
if dmesg | grep -E 'soft lockup|hung_task|blocked for more than|BUG:|WARNING:|Oops|Call Trace'; then
  echo "orvex-guest: FAIL kernel-log"
  failures=$((failures + 1))
fi

if [ "$count" -gt 0 ] && [ "$failures" -eq 0 ]; then
  echo "orvex-guest: all $count test scripts passed"
  echo "ORVEX-GUEST-RESULT: PASS"
else
  echo "orvex-guest: the kernel log's last lines:"
  dmesg | tail -n 40
  echo "orvex-guest: $failures of $count test scripts failed"
  echo "ORVEX-GUEST-RESULT: FAIL"
fi
sync
poweroff -f
