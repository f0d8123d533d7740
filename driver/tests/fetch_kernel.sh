#!/usr/bin/env bash
# Brings Debian's kernel image for the installed kernel headers into a folder,
# unpacked, not installed, once: a later call finds it there.
#
#   fetch_kernel.sh RELEASE FOLDER      e.g. 6.1.0-57-amd64 build/driver/kernel
#
# Leaves FOLDER/vmlinuz.
set -euo pipefail
release=$1 folder=$2
mkdir -p "$folder"
if [ -f "$folder/vmlinuz" ]; then
  echo "fetch_kernel.sh: linux-image-$release is here already"
  exit 0
fi
cd "$folder"
rm -rf unpacked ./*.deb
download() {
  # apt's download user cannot write into a build tree it does not own; as
  # root apt says so and downloads all the same.
  apt-get download "linux-image-$release" 2>&1 | grep -v 'unsandboxed' >&2 || true
  ls linux-image-"$release"_*.deb 2>/dev/null | head -n 1
}
package=$(download)
if [ -z "$package" ] && [ "$(id -u)" -eq 0 ]; then
  # A machine whose package lists are missing or old.
  apt-get update -q >/dev/null 2>&1 || true
  package=$(download)
fi
[ -n "$package" ] || {
  echo "fetch_kernel.sh: could not download linux-image-$release. The archive keeps only the" \
       "current kernel: bring linux-headers-amd64 up to date (apt-get update && apt-get" \
       "install linux-headers-amd64) and configure again." >&2
  exit 1
}
dpkg -x "$package" unpacked
cp "unpacked/boot/vmlinuz-$release" vmlinuz.part
rm -rf unpacked "$package"
mv vmlinuz.part vmlinuz
echo "fetch_kernel.sh: $release unpacked"
