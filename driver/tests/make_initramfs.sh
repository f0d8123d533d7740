#!/usr/bin/env bash
# Builds the initramfs of a test guest: busybox, an init script, and whatever
# the tests need, as a gzipped newc cpio archive.
#
#   make_initramfs.sh --output FILE --init SCRIPT [options]
#
#   --busybox PATH        the static busybox (default: the one on PATH)
#   --file HOST=GUEST     a file, copied as it is to GUEST
#   --program HOST=GUEST  an executable, with the shared libraries and the
#                         loader it needs (found with ldd) at their own paths
#   --module HOST         a kernel module, into /modules, without debug info
#   --module-as HOST=NAME a kernel module, into /modules/NAME
#   --test SCRIPT         a guest test script, into /tests; they run in the
#                         order given
#
# Every file belongs to root. The guest has users root, motion (uid 1000,
# in group orvex, gid 1000) and visitor (uid 1001, group visitor, gid 1001).
set -euo pipefail

output= init= busybox=$(command -v busybox || true)
files=() programs=() modules=() tests=()
while [ $# -gt 0 ]; do
  case "$1" in
    --output) output=$2 ;;
    --init) init=$2 ;;
    --busybox) busybox=$2 ;;
    --file) files+=("$2") ;;
    --program) programs+=("$2") ;;
    --module) modules+=("$2=$(basename "$2")") ;;
    --module-as) modules+=("$2") ;;
    --test) tests+=("$2") ;;
    *) echo "make_initramfs.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift 2
done
[ -n "$output" ] && [ -n "$init" ] || { echo "make_initramfs.sh: --output and --init are needed" >&2; exit 2; }
[ -x "$busybox" ] || { echo "make_initramfs.sh: no busybox (install busybox-static)" >&2; exit 1; }
ldd "$busybox" >/dev/null 2>&1 &&
  { echo "make_initramfs.sh: $busybox is not static (install busybox-static)" >&2; exit 1; }

root=$(mktemp -d "${output}.root.XXXXXX")
trap 'rm -rf "$root"' EXIT
chmod 0755 "$root"  # the guest's /, which mktemp made private

mkdir -p "$root"/{bin,sbin,dev,proc,sys,tmp,etc,modules,tests,lib/orvex,root}
cp "$busybox" "$root/bin/busybox"
install -m 0755 "$init" "$root/init"

cat > "$root/etc/passwd" <<'USERS'
root:x:0:0:root:/root:/bin/sh
motion:x:1000:1000:member of group orvex:/tmp:/bin/sh
visitor:x:1001:1001:outside group orvex:/tmp:/bin/sh
USERS
cat > "$root/etc/group" <<'GROUPS'
root:x:0:
orvex:x:1000:motion
visitor:x:1001:
GROUPS

place() {  # HOST GUEST
  mkdir -p "$root$(dirname "$2")"
  cp -L "$1" "$root$2"
}

for entry in "${files[@]}"; do
  place "${entry%%=*}" "${entry#*=}"
done

for entry in "${programs[@]}"; do
  host=${entry%%=*} guest=${entry#*=}
  place "$host" "$guest"
  chmod 0755 "$root$guest"
  # Each shared library at the path the loader looks for it, and the loader.
  ldd "$host" 2>/dev/null | grep -o '/[^ ]*' | while read -r library; do
    [ -e "$library" ] && place "$library" "$library"
  done || true
done

for entry in "${modules[@]}"; do
  host=${entry%%=*} guest=/modules/${entry#*=}
  place "$host" "$guest"
  strip --strip-debug "$root$guest" 2>/dev/null || true
done

count=0
for script in "${tests[@]}"; do
  count=$((count + 1))
  install -m 0755 "$script" "$root/tests/$(printf '%02d' $count)-$(basename "$script")"
done

(cd "$root" && find . | LC_ALL=C sort | "$busybox" cpio -o -H newc -R 0:0 2>/dev/null) |
  gzip -1 > "$output.part"
mv "$output.part" "$output"
