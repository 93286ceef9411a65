# Fuzzes the command-line parser with libFuzzer for a bounded time, starting
# from the seed corpus in fuzz/corpus, and prints how many inputs it tried.
# New inputs go to a scratch folder, so the repository is left unchanged.
set -euo pipefail
source scripts/lib.sh
need_packages clang libclang-rt-14-dev

fuzz_seconds=${VORLAX_FUZZ_SECONDS:-60}
mkdir -p build/fuzz
clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -Isrc \
    fuzz/parse_settings_fuzz.cpp src/settings/settings.cpp src/notes/argument_notes.cpp \
    src/settings/command_options.cpp \
    src/test_file/test_file.cpp src/output/output.cpp \
    src/platform/platform_linux.cpp \
    src/platform/platform_linux_guard.cpp src/platform/platform_linux_process.cpp \
    -pthread -o build/fuzz/parse_settings_fuzz

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
build/fuzz/parse_settings_fuzz -max_total_time="$fuzz_seconds" -max_len=8192 -print_final_stats=1 \
    -artifact_prefix="$work/" "$work" fuzz/corpus >"$work/log" 2>&1 || status=$?
executed=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log")
if [ $status -ne 0 ]; then
    tail -n 40 "$work/log"
    for crash in "$work"/crash-* "$work"/leak-* "$work"/timeout-*; do
        [ -e "$crash" ] && { echo "input that broke it:"; od -c "$crash" | head -20; }
    done
    echo "fuzzing FAILED after ${executed:-?} inputs"
    exit 1
fi
echo "fuzzing: ${executed} inputs tried in ${fuzz_seconds} s, $(ls "$work" | grep -vc "^log$") new inputs kept"
