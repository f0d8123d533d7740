#!/usr/bin/env bash
# Builds the modules with Kbuild from a copy of their sources, so that Kbuild
# writes into the build tree and not the source tree.
#
#   build_module.sh SOURCE_DIR PC_DEVICES_H KERNEL_BUILD_DIR WORK_DIR [FAULT]
#
# SOURCE_DIR is driver/, PC_DEVICES_H the library's table of bases. With
# FAULT, the copy is given a deliberate fault first (break_module.sh), so
# that the harness can show it catches it. Extra make variables come from
# ORVEX_MAKE_FLAGS (e.g. "ORVEX_SIM=1 ORVEX_WERROR=1").
set -euo pipefail
source_dir=$1 pc_devices=$2 kernel_dir=$3 work=$4 fault=${5:-}
[ -d "$kernel_dir" ] || {
  echo "build_module.sh: no kernel build tree at '$kernel_dir' (install linux-headers-amd64)" >&2
  exit 1
}
mkdir -p "$work"
# Only changed sources are copied; what Kbuild made stays, so a rebuild with
# nothing changed does nothing.
for source in "$source_dir"/*.c "$source_dir"/*.h "$source_dir"/Kbuild "$pc_devices"; do
  cmp -s "$source" "$work/$(basename "$source")" || cp "$source" "$work/"
done
if [ -n "$fault" ]; then
  "$(dirname "$0")/break_module.sh" "$fault" "$work"
fi
status=0
# A make of its own, not a job of the caller's: CMake's make hands down no
# job server to a custom command.
# shellcheck disable=SC2086
env -u MAKEFLAGS -u MFLAGS make -s -j2 -C "$kernel_dir" M="$(cd "$work" && pwd)" \
  ${ORVEX_MAKE_FLAGS:-} modules \
  > "$work/kbuild.log" 2>&1 || status=$?
grep -v 'Skipping BTF generation' "$work/kbuild.log" || true
exit $status
