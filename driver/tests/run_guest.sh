#!/usr/bin/env bash
# Runs guest test scripts in a freshly built initramfs under QEMU.
#
#   run_guest.sh WORK_DIR VMLINUZ [--expect-failure SCRIPT]... [--timeout S]
#                [--append 'KERNEL ARGUMENTS']
#                [make_initramfs.sh options: --program, --file, --module,
#                 --module-as, --test ...]
#
# Passes when the guest reports that all its scripts passed; with
# --expect-failure, only when exactly the scripts named failed (a harness
# self-check: the scripts must catch a deliberate fault), and all others
# passed.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$1 kernel=$2
shift 2
expected=() options=() limit=300 append=
while [ $# -gt 0 ]; do
  case "$1" in
    --expect-failure) expected+=("$2") ;;
    --timeout) limit=$2 ;;
    --append) append=$2 ;;
    *) options+=("$1" "$2") ;;
  esac
  shift 2
done
[ -f "$kernel" ] || { echo "run_guest.sh: no kernel image at $kernel" >&2; exit 1; }

mkdir -p "$work"
"$here/make_initramfs.sh" --output "$work/initramfs.gz" --init "$here/guest_init.sh" \
  --file "$here/guest_lib.sh=/lib/orvex/guest_lib.sh" "${options[@]}"
status=0
"$here/boot.sh" --kernel "$kernel" --initrd "$work/initramfs.gz" --log "$work/console.log" \
  --timeout "$limit" --append "$append" || status=$?

if [ ${#expected[@]} -eq 0 ]; then
  exit $status
fi
if [ $status -ne 1 ]; then
  echo "run_guest.sh: the guest did not report failing tests (status $status)" >&2
  exit 1
fi
for script in "${expected[@]}"; do
  if ! grep -aq "^orvex-guest: FAIL [0-9]*-$script\$" "$work/console.log"; then
    echo "run_guest.sh: $script did not fail: it cannot catch its fault" >&2
    exit 1
  fi
done
unexpected=$(grep -a '^orvex-guest: FAIL ' "$work/console.log" | grep -v -F -f <(
  for script in "${expected[@]}"; do echo "-$script"; done) || true)
if [ -n "$unexpected" ]; then
  echo "run_guest.sh: failed besides: $unexpected" >&2
  exit 1
fi
echo "run_guest.sh: ${expected[*]} failed against the faults, as they must"
