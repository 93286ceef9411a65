# The side-by-side benchmark runs end to end on one small write cell and one
# read cell (tmpfs, buffered, 1024 KB, 1 thread, one run per tool) and prints
# its table.
set -euo pipefail
source scripts/lib.sh
need_packages python3

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
before=$(ls -d /dev/shm/vorlax-bench-* 2>/dev/null || true)
vorlax=()
[ -x build/test/vorlax ] && [ -x build/test/vorlax-read ] && vorlax=(--vorlax build/test/vorlax)
bench/compare --targets /dev/shm --modes B --blocks 1024 --read-blocks 1024 --threads 1 --runs 1 "${vorlax[@]}" \
    --out "$out/results.md" >"$out/stdout"

# One row per tool, each with a figure, and the start-up table.
for tool in vorlax fio dd vorlax-read fio-read; do
    grep -Eq "^\| /dev/shm \| B \| 1024 \| 1 \| $tool \| 1 \| [0-9]+ \| [0-9]+ \|" "$out/results.md" ||
        { echo "no figures for $tool:"; cat "$out/results.md"; exit 1; }
done
grep -Eq '^\| /dev/shm \| [0-9.]+ \| [0-9.]+ \|' "$out/results.md" || { echo "no start-up figures"; exit 1; }
cmp -s "$out/stdout" <(cat "$out/results.md") || { echo "stdout differs from the table file"; exit 1; }
after=$(ls -d /dev/shm/vorlax-bench-* 2>/dev/null || true)
[ "$after" = "$before" ] || { echo "scratch folder left behind: $after"; exit 1; }
echo "bench smoke: ok"
