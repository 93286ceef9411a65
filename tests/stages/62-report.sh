# vorlax-report in a real browser: the pages of a run, a fill, a sweep, two
# comparisons (the runs', of 1024 KB and 64 KB blocks, compare no block
# times) and the report.html that a real vorlax-fill and vorlax-sweep
# leave load in headless Chromium with no console error and no
# request outside the file, hold their headline figures, and show charts
# with ink in a 1280x900 screenshot, with scripts on and off
# (tests/tools/report_browser.py, over the DevTools protocol). The runs are
# real vorlax runs where vorlax writes --json records (into a FIFO drained
# at about 300 MB/s, so that they have progress lines), else the records of
# tests/tools/report_records.py. A truncated record gives one line and
# exit 2. Skips with the reason where Chromium cannot start.
set -euo pipefail
source scripts/lib.sh
need_packages cmake make g++ python3 python3-numpy python3-matplotlib python3-pil python3-websocket chromium

scratch_base=/dev/shm
[ -d "$scratch_base" ] || scratch_base="${TMPDIR:-/tmp}"
scratch=$(mktemp -d "$scratch_base/vorlax-report-XXXXXX")
# vorlax-fill refuses memory-backed folders: its fill of 1 GB goes to a disk.
disk=$(mktemp -d "${TMPDIR:-/var/tmp}/vorlax-report-disk-XXXXXX")
drain=""
cleanup() {
    [ -z "$drain" ] || kill "$drain" 2>/dev/null || true
    rm -rf "$scratch" "$disk"
}
trap cleanup EXIT

cmake -S . -B build/test -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/test -j "$(jobs)" --target vorlax vorlax-read
vorlax="$PWD/build/test/vorlax"
report=tools/vorlax-report

/usr/bin/python3 -B tests/tools/report_records.py "$scratch" >/dev/null

# One real run of 1 GB in blocks of $2 KB into a FIFO read at about 300 MB/s;
# fails when this vorlax writes no record.
real_run() {
    local name=$1 block_kb=$2
    mkfifo "$scratch/${name}_00.BIN"
    /usr/bin/python3 - "$scratch/${name}_00.BIN" <<'EOF' &
import sys, time
with open(sys.argv[1], "rb", buffering=0) as fifo:
    while True:
        start, got = time.monotonic(), 0
        while got < 30 << 20:
            block = fifo.read(1 << 20)
            if not block:
                sys.exit(0)
            got += len(block)
        time.sleep(max(0.0, 0.1 - (time.monotonic() - start)))
EOF
    drain=$!
    "$vorlax" --json "$scratch/$name.json" B "$scratch/$name" "$block_kb" 1 1 >/dev/null 2>&1 || true
    # A vorlax that refused the option never opened the FIFO: release its reader.
    if kill -0 "$drain" 2>/dev/null; then timeout 10 sh -c ': >"$1"' sh "$scratch/${name}_00.BIN" || true; fi
    wait "$drain" || true
    drain=""
    rm -f "$scratch/${name}_00.BIN"
    [ -s "$scratch/$name.json" ]
}

if real_run real-a 1024 && real_run real-b 64; then
    echo "--- real runs: vorlax --json into a FIFO read at about 300 MB/s"
    run_a="$scratch/real-a.json" run_b="$scratch/real-b.json"
else
    echo "--- this vorlax writes no --json record: the run pages use tests/tools/report_records.py's records"
    run_a="$scratch/run.json" run_b="$scratch/run-b.json"
fi
# The headline figure of a record: its MB/s as the page writes it (cut, as vorlax prints it).
figure() {
    /usr/bin/python3 -c 'import json, sys; print("{:,d} MB/s".format(int(json.load(open(sys.argv[1]))["mb_s"])))' "$1"
}

"$report" "$run_a" -o "$scratch/run.html" >/dev/null
"$report" "$scratch/fill.json" -o "$scratch/fill.html" >/dev/null
"$report" "$scratch/results.json" -o "$scratch/sweep.html" >/dev/null
"$report" "$run_a" "$run_b" -o "$scratch/runs.html" >/dev/null
"$report" "$scratch/results.json" "$scratch/results-b.json" -o "$scratch/sweeps.html" >/dev/null

echo "--- vorlax-fill (1 GB on $disk) and vorlax-sweep --quick leave report.html"
tools/vorlax-fill --size 1 --read --vorlax "$vorlax" --out "$scratch/fill-out" "$disk" >/dev/null
# Older kernels refuse O_DIRECT on tmpfs: the sweep's unbuffered cells go to the disk there.
sweep_base=$scratch
if ! dd if=/dev/zero of="$scratch/direct-probe" bs=4096 count=1 oflag=direct status=none 2>/dev/null; then
    sweep_base=$disk
fi
rm -f "$scratch/direct-probe"
mkdir "$sweep_base/target"
tools/vorlax-sweep --quick --vorlax "$vorlax" -o "$scratch/sweep-out" "$sweep_base/target" >/dev/null

echo "--- the pages in headless Chromium, scripts on and off"
status=0
/usr/bin/python3 -B tests/tools/report_browser.py \
    "$scratch/run.html" "$(figure "$run_a")" "Settings and machine" -- \
    "$scratch/fill.html" "the fast phase ended at" "every byte read back and checked: pass" -- \
    "$scratch/sweep.html" "the fastest write 912 MB/s" $'875\u2013948' -- \
    "$scratch/runs.html" "$(figure "$run_a")" "$(figure "$run_b")" "not compared: block sizes differ" -- \
    "$scratch/sweeps.html" "faster" "U 1024K x2 write" -- \
    "$scratch/fill-out/report.html" "fill of $disk" "every byte read back and checked: pass" -- \
    "$scratch/sweep-out/report.html" "sweep of $sweep_base/target" ": 4 cells" || status=$?
if [ "$status" -eq 77 ]; then
    echo "SKIP: the browser checks (chromium cannot start here)"
elif [ "$status" -ne 0 ]; then
    exit "$status"
fi

echo "--- a truncated record: one line, exit 2, no page"
head -c 300 "$run_a" >"$scratch/truncated.json"
set +e
"$report" "$scratch/truncated.json" -o "$scratch/bad.html" >/dev/null 2>"$scratch/bad.err"
bad_status=$?
set -e
[ "$bad_status" -eq 2 ] || { echo "exit $bad_status, not 2"; cat "$scratch/bad.err"; exit 1; }
[ "$(wc -l <"$scratch/bad.err")" -eq 1 ] || { echo "not one line:"; cat "$scratch/bad.err"; exit 1; }
[ ! -e "$scratch/bad.html" ] || { echo "a page was written for a truncated record"; exit 1; }
cat "$scratch/bad.err"
