#!/usr/bin/env bash
# Gives a copy of the driver's sources one deliberate fault, for the harness
# self-check: the guest tests must fail against the module built from it.
#
#   break_module.sh FAULT FOLDER
#
#   signals_mid_line  the exchange gives up between two bytes when the process
#                     has a fatal signal, leaving the line torn on the card
#   no_lock           exchanges are not serialised
#
# Each change is made by pattern and must be seen to apply: a patch that did
# nothing would let the self-check fail for the wrong reason.
set -euo pipefail
fault=$1 folder=$2

patch_file() {  # FILE PERL-SUBSTITUTION
  local file=$folder/$1 before
  before=$(cat "$file")
  perl -0pi -e "$2" "$file"
  if [ "$before" = "$(cat "$file")" ]; then
    echo "break_module.sh: the $fault patch did not apply to $1; bring it up to date" >&2
    exit 1
  fi
}

case "$fault" in
  signals_mid_line)
    patch_file orvex_exchange.c \
      's/^(\s*)orvex_yield\(\);/$1if (fatal_signal_pending(current))\n$1\treturn;\n$1orvex_yield();/mg;
       s/^/#include <linux\/sched\/signal.h>\n/'
    ;;
  no_lock)
    patch_file orvex_main.c \
      's/status = orvex_claim_card\(card\);/status = 0;/; s/\n(\s*)orvex_release_card\(card\);/\n$1;/'
    ;;
  *)
    echo "break_module.sh: unknown fault '$fault'" >&2
    exit 2
    ;;
esac
echo "break_module.sh: $fault put into the copy in $folder"
