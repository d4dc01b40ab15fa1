#!/bin/sh
# kt5cufirm --discover's broadcast path: a pair of virtual interfaces in a
# network namespace this test makes itself, kt58sim's XPort listening on
# every address there. Nothing is asked address by address, so a unit found
# was found by the broadcast. Exit 77 (skipped) where the system allows no
# such namespace or no virtual interfaces.
set -u
sim=$1
console=$2
if ! unshare -rn true 2>/dev/null; then
    echo "this system allows no private network namespace: the broadcast path is not tested here"
    exit 77
fi
exec unshare -rn sh -s "$sim" "$console" <<'INSIDE'
sim=$1
console=$2
cd "$(mktemp -d)" || exit 1
ip link set lo up
if ! ip link add kt0 type veth peer name kt1 2>/dev/null; then
    echo "no virtual interfaces here: the broadcast path is not tested"
    exit 77
fi
ip addr add 10.77.0.1/24 broadcast + dev kt0
ip addr add 10.77.0.2/24 broadcast + dev kt1
ip link set kt0 up
ip link set kt1 up
"$sim" --xport --xport-address=0.0.0.0 --xport-byte21=8 > sim.log 2>&1 &
simPid=$!
trap 'kill $simPid 2>/dev/null; rm -f sim.log err.log; rmdir "$PWD" 2>/dev/null' EXIT
for i in 1 2 3 4 5 6 7 8 9 10; do
    grep -q "configuration port" sim.log 2>/dev/null && break
    sleep 0.2
done
out=$(KT5CUFIRM_TEST_WAITS=500,20 "$console" --discover --interface kt0 2>err.log)
status=$?
echo "$out"
cat err.log
[ $status -eq 0 ] || { echo "FAIL: status $status"; exit 1; }
echo "$out" | grep -Eq '^10\.77\.0\.[12] +[0-9]+ ms  8  possibly left switched' || { echo "FAIL: no unit found by the broadcast"; exit 1; }
lo=$(KT5CUFIRM_TEST_WAITS=500,20 "$console" --discover --interface lo 2>&1)
echo "$lo" | grep -q "no such interface with an IPv4 broadcast address" || { echo "FAIL: lo taken for broadcast: $lo"; exit 1; }
echo "PASS"
INSIDE
