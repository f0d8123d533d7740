#!/usr/bin/env bash
# Lays out the module's DKMS source tree: the driver's sources, Kbuild,
# dkms.conf and the library's table of bases, in FOLDER/orvex-VERSION
# (/usr/src by default, where dkms looks). Prints the tree's path.
#
#   driver/dkms_source.sh [FOLDER]
#   sudo dkms install orvex/VERSION      (or: dkms add, dkms build, ...)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
version=$(sed -n 's/^PACKAGE_VERSION="\(.*\)"$/\1/p' "$here/dkms.conf")
tree=${1:-/usr/src}/orvex-$version
rm -rf "$tree"
mkdir -p "$tree"
cp "$here"/orvex_abi.h "$here"/orvex_bases.[ch] "$here"/orvex_card.h "$here"/orvex_exchange.[ch] \
   "$here"/orvex_main.c "$here"/orvex_shim.h "$here"/Kbuild "$here"/Makefile "$here"/dkms.conf \
   "$here"/../src/card/pc_devices.h "$tree"/
echo "$tree"
