# Helpers for the library's guest scripts: . /lib/orvex/route_lib.sh
. /lib/orvex/guest_lib.sh

TEST=/bin/library_guest_test
MEMBER="1000 1000"    # motion, in group orvex
OUTSIDER="1001 1001"  # visitor, in no group with the card
SHIM=/lib/orvex/route_shim.so

# The self-check's guest brings a library with a deliberate fault, which
# then stands in for the sound one beneath the test program.
FAULTY=/lib/orvex/faulty/liborvexportio.so.1
[ -e "$FAULTY" ] && export LD_PRELOAD=$FAULTY

# Shared memory, where a host keeps the cards' machine-wide records.
[ -d /dev/shm ] || { mkdir -p /dev/shm && mount -t tmpfs tmpfs /dev/shm; }

sim_file() {  # FILE: the simulated card's debugfs FILE
  echo "/sys/kernel/debug/orvex_sim/$SIM_BASE/$1"
}

clear_card() {
  echo 1 > "$(sim_file reset)"
}

# COMMAND... prints TEXT (on standard output or error); shows all it printed
# when it does not.
says() {  # TEXT COMMAND...
  text=$1
  shift
  said=$("$@" 2>&1)
  if printf '%s\n' "$said" | grep -qF -- "$text"; then
    return 0
  fi
  echo "    failed: $* did not say: $text"
  printf '%s\n' "$said" | sed 's/^/      /'
  return 1
}

# The card received exactly the lines on standard input, in order.
received_exactly() {
  cat > /tmp/expected
  if transcript=$(cat "$(sim_file transcript)") && [ "$transcript" = "$(cat /tmp/expected)" ]; then
    return 0
  fi
  echo "    failed: the card did not receive exactly the lines expected; it received:"
  printf '%s\n' "$transcript" | sed 's/^/      /'
  return 1
}

# The strace file has a line matching the extended regular expression.
traced() {  # FILE PATTERN
  if grep -qE -- "$2" "$1"; then
    return 0
  fi
  echo "    failed: no system call matching $2 in $1:"
  sed 's/^/      /' "$1" | head -n 20
  return 1
}
