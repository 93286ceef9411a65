# The Windows programs: cross-built with mingw-w64 (32-bit vorlax.exe, the
# main one, and the 64-bit one), the .zip that CPack makes of the 32-bit one
# and its contents, their unit tests and the end-to-end cases run under Wine,
# and the same inputs checked to give the same stdout as the Linux program.
set -euo pipefail
source scripts/lib.sh

# Wine's 32-bit half comes from the i386 architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "adding the i386 architecture for wine32"
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo dpkg --add-architecture i386
    unset VORLAX_APT_UPDATED  # the package lists must be read again
fi
need_packages cmake make g++ file unzip libgtest-dev googletest python3 python3-jsonschema bsdutils \
    g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 wine wine32 wine64

for bits in 32 64; do
    # The toolchain file counts only when the build folder is first made.
    toolchain=()
    [ -f build/win$bits/CMakeCache.txt ] || toolchain=(-DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw$bits.cmake)
    cmake -S . -B build/win$bits "${toolchain[@]}" >/dev/null
    cmake --build build/win$bits -j "$(jobs)"
done
# The end-to-end test driver is a Linux program; it starts the .exe under Wine.
cmake -S . -B build/test -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/test -j "$(jobs)" --target e2e_tests vorlax vorlax-read

check_file_type() {
    local description
    description=$(file -b "$1")
    echo "$1: $description"
    [[ "$description" == "$2"* ]] || { echo "expected: $2"; return 1; }
}
for program in vorlax vorlax-read; do
    check_file_type "build/win32/$program.exe" "PE32 executable (console) Intel 80386"
    check_file_type "build/win64/$program.exe" "PE32+ executable (console) x86-64"
    # Statically linked runtimes: nothing beyond what every Windows has.
    dlls=$(i686-w64-mingw32-objdump -p "build/win32/$program.exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' |
        sort -u | tr '\n' ' ')
    echo "build/win32/$program.exe imports: $dlls"
    [ "$dlls" = "kernel32.dll msvcrt.dll " ] || { echo "unexpected DLLs"; exit 1; }
done

echo "--- the .zip: CPack with the mingw toolchain"
(cd build/win32 && rm -f ./*.zip && cpack -G ZIP >/dev/null)
zip=$(ls build/win32/vorlax-*-win32.zip)
unzip -l "$zip"
zip_dir=$(mktemp -d)
unzip -q "$zip" -d "$zip_dir"
# The README's pages and pictures sit in docs/ beside it, so that its links work.
readme_pages=$(grep -oE 'docs/[a-z_-]+\.(md|svg)' README.md | sort -u | sed 's|^|./|' | tr '\n' ' ')
expected_files=$(printf '%s\n' ./LICENSE ./README.md $readme_pages ./vorlax-read.exe ./vorlax.exe | sort | tr '\n' ' ')
[ "$(cd "$zip_dir" && find . -type f | sort | tr '\n' ' ')" = "$expected_files" ] ||
    { echo "$zip should hold vorlax.exe, vorlax-read.exe, README.md, LICENSE and $readme_pages and nothing else"
      rm -rf "$zip_dir"; exit 1; }
for page in $readme_pages; do
    cmp -s "$zip_dir/$page" "$page" || { echo "$zip: $page differs from the source"; rm -rf "$zip_dir"; exit 1; }
done
for program in vorlax vorlax-read; do
    check_file_type "$zip_dir/$program.exe" "PE32 executable (console) Intel 80386" || { rm -rf "$zip_dir"; exit 1; }
done
cmp -s "$zip_dir/LICENSE" LICENSE && cmp -s "$zip_dir/README.md" README.md ||
    { echo "$zip: LICENSE or README.md differs from the source"; rm -rf "$zip_dir"; exit 1; }
rm -rf "$zip_dir"
echo "$(basename "$zip"): the 32-bit vorlax.exe and vorlax-read.exe, README.md, its pages and LICENSE"
# The 64-bit build's package says so in its name.
(cd build/win64 && rm -f ./*.zip && cpack -G ZIP >/dev/null)
ls build/win64/vorlax-*-win64.zip >/dev/null || { echo "build/win64: no vorlax-*-win64.zip"; ls build/win64/*.zip; exit 1; }
[[ "$(unzip -Z1 build/win64/vorlax-*-win64.zip)" == *docs/sample-run.svg* ]] ||
    { echo "the 64-bit .zip lacks the README's pictures"; exit 1; }

# Wine runs the 32-bit program with its 32-bit loader, an i386 Linux program.
# Some kernels (virtual machines without 32-bit support) refuse those with
# "Exec format error"; there the Wine tests run the 64-bit program, which
# shares every line of source with the 32-bit one.
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
    bits=32 wine_bin=/usr/lib/wine/wine
else
    echo "NOTE: this machine cannot run 32-bit programs ($(/usr/lib/wine/wine --version 2>&1 | tail -1));"
    echo "NOTE: the Wine tests run the 64-bit vorlax.exe; the 32-bit one is built and checked above."
    bits=64 wine_bin=/usr/lib/wine/wine64
fi
exe=build/win$bits/vorlax.exe
# A Wine prefix of our own, and one wineserver kept running for all tests
# (each program start then takes about half a second instead of three).
export WINEPREFIX="$PWD/build/wineprefix$bits" WINEARCH=win$bits WINELOADER=$wine_bin
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
stop_wineserver() { wineserver -k 2>/dev/null || true; }
trap stop_wineserver EXIT
mkdir -p "$WINEPREFIX"
stop_wineserver  # one left by an interrupted run
wineserver -p >/dev/null 2>&1 </dev/null
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "creating the Wine prefix $WINEPREFIX (once)"
    "$wine_bin" wineboot --init >/dev/null 2>&1 </dev/null
fi
# Start Wine's own services now, so they do not hold the tests' pipes open.
"$wine_bin" cmd /c exit 0 >/dev/null 2>&1 </dev/null || true

echo "--- Windows unit tests under Wine"
"$wine_bin" "build/win$bits/tests/windows/unit_tests.exe"

echo "--- end-to-end cases against $exe under Wine"
# The table of cases shared by both systems, and vorlax-read's (found beside
# vorlax.exe); the other end-to-end suites (notes on memory-backed folders,
# faults through Linux limits) are Linux's. One case runs the program on a
# pty from script (bsdutils), where Wine gives it a console: its lines are
# checked whole there, where WriteConsoleW writes them.
VORLAX_TARGET_SYSTEM=windows VORLAX_WRAPPER="$wine_bin" VORLAX_EXE="$PWD/$exe" build/test/tests/e2e_tests \
    --gtest_filter='CommandLine.*:Run.*:ReadBack.*'

echo "--- the same inputs give the same stdout and exit status on both systems"
# Progress lines carry the elapsed time, so each stands as one placeholder:
# their count must match, and the rest byte for byte once CR LF is read as LF.
# The help speaks of each system's paths and commands: there only its usage
# line and exit status must match.
root=$PWD
compare_dir=$(mktemp -d)
trap 'rm -rf "$compare_dir"; stop_wineserver' EXIT
stable_stdout() {
    case "$args" in
        --help | -\? | /h | -help) tr -d '\r' <"$1" | head -n 1 ;;
        *) tr -d '\r' <"$1" | sed -e 's/^.* MB \(written\|read\), .*$/<progress line>/' ;;
    esac
}
set -f  # the arguments below are words, not patterns
same=0
for program in vorlax vorlax-read; do
    for args in "" "--help" "--version" "-?" "/h" "-help" "-v" "/V" "-x" "U p 64 1 1 extra" \
        "x $compare_dir/missing/p 12abc 2 word" "B $compare_dir/missing/p 32768 99 63"; do
        cd "$compare_dir"
        # shellcheck disable=SC2086 # the words of args are the arguments
        linux_status=0; "$root/build/test/$program" $args >linux.out 2>/dev/null || linux_status=$?
        # shellcheck disable=SC2086
        windows_status=0; "$wine_bin" "$root/build/win$bits/$program.exe" $args >windows.out 2>/dev/null ||
            windows_status=$?
        cd "$root"
        if [ "$linux_status" != "$windows_status" ] ||
            ! cmp -s <(stable_stdout "$compare_dir/linux.out") <(stable_stdout "$compare_dir/windows.out"); then
            echo "differs for $program '$args': exit status $linux_status on Linux, $windows_status on Windows"
            diff <(stable_stdout "$compare_dir/linux.out") <(stable_stdout "$compare_dir/windows.out") || true
            exit 1
        fi
        same=$((same + 1))
    done
done
set +f
echo "same stdout and exit status for $same command lines"

echo "--- --latency and --json under Wine: the two lines in place and a record the schema takes"
for program in vorlax vorlax-read; do
    (cd "$compare_dir" && "$wine_bin" "$root/build/win$bits/$program.exe" --latency --json=r.json B run 1024 1 1 \
        >record.out 2>/dev/null)
    tr -d '\r' <"$compare_dir/record.out" | tail -n 3 | cut -c1-18 | tr '\n' '|' |
        grep -qx -e 'latency per block:|no stalls of 100 m|DONE!|' -e 'latency per block:|stalls of 100 ms o|DONE!|' ||
        { echo "$program.exe: no latency lines before DONE!"; cat "$compare_dir/record.out"; exit 1; }
    /usr/bin/python3 -c '
import json, sys, jsonschema
with open(sys.argv[1]) as schema, open(sys.argv[2]) as record:
    run = json.load(record)
    jsonschema.Draft7Validator(json.load(schema)).validate(run)
assert run["program"] == sys.argv[3] and run["machine"]["system"] == "Windows" and run["latency"]["blocks"] == 1024
' docs/record.schema.json "$compare_dir/r.json" "$program"
done
echo "the records of vorlax.exe and vorlax-read.exe hold to docs/record.schema.json"
