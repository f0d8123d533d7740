#!/usr/bin/env bash
# The DKMS source tree holds all the module needs: built from it alone, as
# dkms builds it, with the project's version.
#
#   check_dkms_tree.sh DKMS_SOURCE_SH FOLDER PROJECT_VERSION KERNEL_BUILD_DIR
set -euo pipefail
tree=$("$1" "$2")
grep -qx "PACKAGE_VERSION=\"$3\"" "$tree/dkms.conf" ||
  { echo "check_dkms_tree.sh: dkms.conf does not carry version $3" >&2; exit 1; }
make -s -C "$4" M="$tree" modules 2>&1 | grep -v 'Skipping BTF generation' || true
[ -f "$tree/orvex.ko" ] || { echo "check_dkms_tree.sh: the tree did not build orvex.ko" >&2; exit 1; }
echo "check_dkms_tree.sh: $tree builds orvex.ko"
