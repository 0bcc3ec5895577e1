#!/bin/sh
# Run inside a private mount namespace (unshare -m): ten virtual handsets write their
# records onto a small tmpfs that is filled to its last page during the run, then emptied.
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

# Polls, as the run is another process: 60 s at most.
wait_for() {
  tries=0
  until eval "$1"; do
    tries=$((tries + 1))
    [ "$tries" -gt 600 ] && return 1
    sleep 0.1
  done
}

"$cli" --virtual-handsets 10 --link-mbps 16 --results "$results" AUTO_DLOAD "$os" "$csc" \
  >"$out/stdout" 2>"$out/stderr" &
run=$!
# Every channel has its running record: the disk fills before any ends.
wait_for '[ "$(wc -l <"$results" 2>/dev/null || echo 0)" -ge 10 ]'
dd if=/dev/zero of="$disk/filler" bs=4096 2>/dev/null
# The operator has been told; the disk empties while the run goes on or waits at its end.
wait_for 'grep -q "no space left on device" "$out/stderr"'
sleep 1
rm -f "$disk/filler"
wait "$run"
echo $? >"$out/status"
cp "$results" "$out/results.jsonl"
umount "$disk"
