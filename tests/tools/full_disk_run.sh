#!/bin/sh
# Run inside a private mount namespace (unshare -m): ten virtual handsets write their
# records onto a small tmpfs that fills and empties twice during the run: once as the
# channels start, with one page left (so a record is cut short), and once more before
# they end, emptied only while the run waits for the disk at its end.
# Leaves results.jsonl, stdout, stderr and status in OUT.
# Usage: full_disk_run.sh CLI OS.kx4 CSC.csc OUT
set -u
cli=$1 os=$2 csc=$3 out=$4
disk=$out/disk
mkdir -p "$disk"
# Nothing mounted here may reach the host's namespace.
mount --make-rprivate / || exit 3
mount -t tmpfs -o size=512k tmpfs "$disk" || exit 3
results=$disk/results.jsonl

# Polls, as the run is another process: 30 s at most.
wait_for() {
  tries=0
  until eval "$1"; do
    tries=$((tries + 1))
    [ "$tries" -gt 300 ] && return 1
    sleep 0.1
  done
}
said() { [ "$(grep -c "$1" "$out/stderr")" -ge "$2" ]; }

# All but one page is taken before the run: five records fit, the sixth is cut.
dd if=/dev/zero of="$disk/filler" bs=4096 count=127 2>/dev/null
"$cli" --virtual-handsets 10 --link-mbps 8 --results "$results" AUTO_DLOAD "$os" "$csc" \
  >"$out/stdout" 2>"$out/stderr" &
run=$!
wait_for 'said "no space left on device" 1'
sleep 1
rm -f "$disk/filler"
# The waiting records are written while the channels still run, by the retry, as no
# channel has ended to write a record after them; then the disk fills up.
wait_for 'said "waiting records written" 1'
if grep -q '"end"' "$results"; then echo late >"$out/retry"; else echo running >"$out/retry"; fi
dd if=/dev/zero of="$disk/filler" bs=4096 2>/dev/null
wait_for 'said "waiting up to" 1'
rm -f "$disk/filler"
wait "$run"
echo $? >"$out/status"
cp "$results" "$out/results.jsonl"
umount "$disk"
