# The whole test suite (unit and end to end, the latter running the
# instrumented program) under AddressSanitizer with UndefinedBehaviorSanitizer,
# then under ThreadSanitizer. Any finding stops the program with its own exit
# status (86 or 66, never the program's 0, 1 or 2) and fails its test.
set -euo pipefail
source scripts/lib.sh
need_packages cmake make g++ libgtest-dev libgmock-dev libasan8 libubsan1 libtsan2 util-linux

# Builds the suite in build/<name> with the given sanitizer flags and runs it.
sanitized_suite() {
    local name=$1 flags=$2
    echo "--- $name: $flags"
    cmake -S . -B "build/$name" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_FLAGS="$flags -fno-omit-frame-pointer" \
        -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
    cmake --build "build/$name" -j "$(jobs)"
    ctest --test-dir "build/$name" --output-on-failure -j "$(jobs)"
}

export ASAN_OPTIONS=halt_on_error=1:exitcode=86:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=halt_on_error=1:exitcode=86:print_stacktrace=1
sanitized_suite asan "-fsanitize=address,undefined -fno-sanitize-recover=all"

export TSAN_OPTIONS=halt_on_error=1:exitcode=66:second_deadlock_stack=1
sanitized_suite tsan "-fsanitize=thread"
