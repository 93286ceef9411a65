#!/bin/sh
# Configuring for a system other than Linux and Windows (FreeBSD here, with
# the host's compiler) must fail at once, with the one line that names the
# systems VORLAX builds for. Usage: other_system_test.sh CMAKE SOURCE_DIR
cmake=$1
source_dir=$2
build_dir=$(mktemp -d) || exit 1
trap 'rm -rf "$build_dir"' EXIT
if output=$("$cmake" -S "$source_dir" -B "$build_dir" -DCMAKE_SYSTEM_NAME=FreeBSD 2>&1); then
    echo "configuring for FreeBSD succeeded; it should stop"
    exit 1
fi
expected="VORLAX builds for Linux and Windows only, not for FreeBSD"
if ! printf '%s\n' "$output" | grep -qF "$expected"; then
    printf '%s\n' "$output" | tail -n 20
    echo "the configure failed without the line: $expected"
    exit 1
fi
echo "refused: $expected"
