# The exact lines of commands and queries reach the card from a member of
# group orvex; a user outside it is refused; malformed requests send nothing.
. /lib/orvex/guest_lib.sh
load_standard || exit 1
ok=0
for case in lines no_group bad_requests; do
  /bin/orvex_guest_test $case $SIM_BASE || ok=1
done
exit $ok
