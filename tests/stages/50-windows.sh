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
    # 4 GB of address space under a 64-bit Windows, and the system's memory figures uncut.
    i686-w64-mingw32-objdump -p "build/win32/$program.exe" | grep -c "large address aware" >/dev/null ||
        { echo "build/win32/$program.exe is not large-address-aware"; exit 1; }
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
# Beside the programs and LICENSE, the README and every file it or a page
# in the .zip links to, where the link expects it, each as in the source.
(cd "$zip_dir" && find . -type f ! -name '*.exe' ! -name LICENSE | sort) >"$zip_dir.files"
missing_links=$(cd "$zip_dir" && for page in $(find . -name '*.md'); do
    grep -oE '\]\([^)#: ]+' "$page" | cut -c3- | grep -v '/$' | while read -r link; do
        [ -f "$(dirname "$page")/$link" ] || echo "$page -> $link"
    done
done; true)
[ -z "$missing_links" ] && grep -qx ./README.md "$zip_dir.files" && grep -qx ./docs/report-sample.png "$zip_dir.files" ||
    { echo "$zip lacks what its pages link to:"; echo "$missing_links"; rm -rf "$zip_dir" "$zip_dir.files"; exit 1; }
while read -r file; do
    cmp -s "$zip_dir/$file" "$file" || { echo "$zip: $file differs from the source"; rm -rf "$zip_dir" "$zip_dir.files"; exit 1; }
done <"$zip_dir.files"
rm -f "$zip_dir.files"
readme_pages="$(find "$zip_dir/docs" -type f | wc -l) linked files"
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
ls "$compare_dir"/*.BIN "$compare_dir"/-* 2>/dev/null && { echo "a refused command line wrote a file"; exit 1; }

echo "--- under Wine, refused before the banner with exit 2 and why, nothing written"
# A relative prefix of 252 characters (in short names) fits MAX_PATH alone,
# not with the current folder before it; 249 + _00.BIN passes 255 for one name.
set -f
long_prefix="$(printf 'folder_%02d\\' $(seq 25))pp" long_name="\\\\?\\Z:\\tmp\\$(printf 'n%.0s' $(seq 249))"
while IFS='%' read -r args wanted; do
    status=0
    # shellcheck disable=SC2086 # the words of args are the arguments
    (cd "$compare_dir" && "$wine_bin" "$root/$exe" $args >out 2>err) || status=$?
    if [ "$status" != 2 ] || ! tr -d '\r' <"$compare_dir/err" | grep -qF -- "$wanted" ||
        [ -n "$(cd "$compare_dir" && find . -name '*.BIN')" ]; then
        echo "'$args': exit status $status, wanted 2 and '$wanted'"; cat "$compare_dir/err"; exit 1
    fi
done <<EOF
B a?b 64 1 1%holds ?, which no file name may hold here
B a|b<c|d 64 1 1%holds | <, which no file name may hold here
B C:\\x:y* 64 1 1%holds : *, which
B $long_prefix 64 1 1%characters, past this system's limit of 259 for a whole path; use a shorter path
B $long_name 64 1 1%gives test file names of 256 characters, past this system's limit of 255 for one name
--json Q:\\x.json B run 64 1 1%drive Q: does not exist: give a path on a drive that exists
B --help%"--help" after the mode would be the path prefix: options go before the mode
B /? 64%"/?" after the mode would be the path prefix: options go before the mode
EOF
set +f

echo "--- the folder note's suggestion, typed in cmd as shown, writes inside the folder"
cp "$exe" "build/win$bits/vorlax-read.exe" "$compare_dir/"
for folder in bench "my bench"; do
    mkdir -p "$compare_dir/$folder"
    # vorlax-read gives the same note and writes nothing; then vorlax runs
    # the suggestion through cmd, into a FIFO only a file inside the folder
    # reaches. Each command line is a batch file's, as typed in cmd.
    printf 'vorlax-read.exe B "%s" 64 1 1\r\n' "$folder" >"$compare_dir/note.bat"
    (cd "$compare_dir" && "$wine_bin" cmd /c note.bat >/dev/null 2>err) || true
    suggestion=$(tr -d '\r' <"$compare_dir/err" | sed -n 's/^.*inside it, end the path with .* (\(.*\))$/\1/p')
    [ -n "$suggestion" ] || { echo "no suggestion for '$folder'"; cat "$compare_dir/err"; exit 1; }
    mkfifo "$compare_dir/$folder/_00.BIN"
    cat "$compare_dir/$folder/_00.BIN" >/dev/null &
    drain=$!
    status=0
    printf 'vorlax.exe --seconds 1 B %s 64 1 1\r\n' "$suggestion" >"$compare_dir/inside.bat"
    (cd "$compare_dir" && timeout 60 "$wine_bin" cmd /c inside.bat >/dev/null 2>err) || status=$?
    sleep 0.2
    if kill -0 "$drain" 2>/dev/null; then kill "$drain"; status="$status, the FIFO in the folder never opened"; fi
    wait "$drain" 2>/dev/null || true
    [ "$status" = 0 ] && [ -z "$(cd "$compare_dir" && find . -maxdepth 1 -name '*.BIN')" ] ||
        { echo "cmd /c vorlax.exe ... $suggestion: exit status $status"; cat "$compare_dir/err"; exit 1; }
    echo "'$folder': $suggestion writes inside it"
done

echo "--- the 32-bit program sees the machine's memory: the page-cache note"
if [ "$bits" = 32 ]; then
    mkfifo "$compare_dir/cache_00.BIN"
    cat "$compare_dir/cache_00.BIN" >/dev/null &
    drain=$!
    (cd "$compare_dir" && "$wine_bin" "$root/$exe" --seconds 1 B cache 64 1 3 >/dev/null 2>err) || true
    wait "$drain"
    tr -d '\r' <"$compare_dir/err" | grep -q "page cache" ||
        { echo "vorlax.exe (32-bit): no page-cache note for 3 GB"; cat "$compare_dir/err"; exit 1; }
    echo "vorlax.exe (32-bit) gives the page-cache note for 3 GB"
fi

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
