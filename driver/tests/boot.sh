#!/usr/bin/env bash
# Boots a test guest under QEMU (TCG) and says whether its tests passed,
# from what the guest printed and how QEMU ended.
#
#   boot.sh --kernel VMLINUZ --initrd INITRAMFS --log FILE [--timeout SECONDS]
#           [--append 'KERNEL ARGUMENTS']
#
# The guest's console goes to FILE and to standard output. Exits 0 when the
# guest reported that all its tests passed, 1 when it reported a failure,
# and 2 when it reported nothing (it did not boot or crashed) or QEMU had to
# be stopped at the time limit (300 s unless told). The guest's
# "orvex-figure:" lines are repeated at the end.
set -euo pipefail

kernel= initrd= log= limit=300 append=
while [ $# -gt 0 ]; do
  case "$1" in
    --kernel) kernel=$2 ;;
    --initrd) initrd=$2 ;;
    --log) log=$2 ;;
    --timeout) limit=$2 ;;
    --append) append=$2 ;;
    *) echo "boot.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift 2
done
for needed in "$kernel" "$initrd"; do
  [ -f "$needed" ] || { echo "boot.sh: no such file: '$needed'" >&2; exit 2; }
done
command -v qemu-system-x86_64 >/dev/null ||
  { echo "boot.sh: qemu-system-x86_64 is missing (install qemu-system-x86)" >&2; exit 2; }

# A soft lockup, an oops or a warning panics the guest, and a panic ends it.
arguments="console=ttyS0 panic=-1 oops=panic panic_on_warn=1 softlockup_panic=1"
arguments+=" quiet loglevel=4 $append"

started=$(date +%s)
status=0
timeout --kill-after=10 "$limit" \
  qemu-system-x86_64 -accel tcg -m 512M -smp 2 -nographic -no-reboot -nic none \
    -kernel "$kernel" -initrd "$initrd" -append "$arguments" \
    < /dev/null 2>&1 | tr -d '\r' | tee "$log" || status=$?
echo "boot.sh: the guest ran for $(( $(date +%s) - started )) s (status $status)"

grep -a '^orvex-figure:' "$log" || true
if [ $status -ne 0 ]; then
  # QEMU ends by itself when the guest powers off or panics (-no-reboot).
  echo "boot.sh: QEMU did not end by itself (status $status: stopped at the time limit?)" >&2
  exit 2
fi
if grep -aq '^ORVEX-GUEST-RESULT: PASS' "$log"; then
  exit 0
elif grep -aq '^ORVEX-GUEST-RESULT: FAIL' "$log"; then
  exit 1
fi
echo "boot.sh: the guest reported no result" >&2
exit 2
