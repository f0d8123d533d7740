#!/usr/bin/env bash
# Shows that the guest tests catch a broken driver: builds the module with
# each deliberate fault (break_module.sh) and runs, for each, the guest test
# that must catch it; passes only when exactly those tests fail.
#
#   self_check.sh DRIVER_DIR PC_DEVICES_H KERNEL_BUILD_DIR WORK_DIR VMLINUZ
#                 [make_initramfs.sh options for the rest of the guest]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
driver=$1 pc_devices=$2 kernel_dir=$3 work=$4 kernel=$5
shift 5
faults=(signals_mid_line no_lock)
options=()
for fault in "${faults[@]}"; do
  ORVEX_MAKE_FLAGS= "$here/build_module.sh" "$driver" "$pc_devices" "$kernel_dir" \
    "$work/$fault" "$fault"
  options+=(--module-as "$work/$fault/orvex.ko=$fault/orvex.ko"
            --test "$here/guest/selfcheck_$fault.sh"
            --expect-failure "selfcheck_$fault.sh")
done
exec "$here/run_guest.sh" "$work/guest" "$kernel" "${options[@]}" "$@"
