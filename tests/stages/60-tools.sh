# The tools and the install: vorlax-plot, vorlax-sweep and vorlax-fill (Python tests and
# a quick sweep), the man pages, and the .debs (vorlax, vorlax-tools and,
# where the build has it, vorlax-mpi) checked by lintian and installed
# into this machine (CPack needs dpkg-shlibdeps from dpkg-dev and
# the file utility for it).
set -euo pipefail
source scripts/lib.sh
need_packages cmake make g++ python3 python3-matplotlib python3-numpy python3-jsonschema groff-base man-db dpkg-dev file lintian

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
scratch_base=/dev/shm
[ -d "$scratch_base" ] || scratch_base="${TMPDIR:-/tmp}"
scratch=$(mktemp -d "$scratch_base/vorlax-tools-XXXXXX")
package_installed_here=""
cleanup() {
    rm -rf "$scratch"
    # shellcheck disable=SC2086
    if [ -n "$package_installed_here" ]; then $sudo dpkg -r $package_installed_here >/dev/null || true; fi
}
trap cleanup EXIT

cmake -S . -B build/test -DCMAKE_BUILD_TYPE=Release >/dev/null
# The sweep reads back with vorlax-read where the build has it.
targets=(vorlax)
if cmake --build build/test --target help | grep '^\.\.\. vorlax-read$' >/dev/null; then targets+=(vorlax-read); fi
cmake --build build/test -j "$(jobs)" --target "${targets[@]}"
export VORLAX_EXE="$PWD/build/test/vorlax"

echo "--- tool tests (python: /usr/bin/python3)"
/usr/bin/python3 -B -m unittest discover -s tests/tools

# The quick sweep has unbuffered runs: older kernels refuse O_DIRECT on
# tmpfs, so it runs on a disk there.
sweep_base=$scratch
if ! dd if=/dev/zero of="$scratch/direct-probe" bs=4096 count=1 oflag=direct status=none 2>/dev/null; then
    sweep_base=$(mktemp -d "${TMPDIR:-/var/tmp}/vorlax-sweep-XXXXXX")
    trap 'cleanup; rm -rf "$sweep_base"' EXIT
fi
rm -f "$scratch/direct-probe"
echo "--- vorlax-sweep --quick on $sweep_base"
mkdir "$sweep_base/target"
start=$(date +%s)
tools/vorlax-sweep --quick --vorlax "$VORLAX_EXE" -o "$scratch/sweep" "$sweep_base/target" >/dev/null
echo "quick sweep took $(( $(date +%s) - start )) s"
for made in results.md results.csv results.json report.html results.svg; do
    [ -s "$scratch/sweep/$made" ] || { echo "vorlax-sweep left no $made"; exit 1; }
done
[ "$(wc -l < "$scratch/sweep/results.csv")" -eq 5 ] || { echo "expected 4 rows:"; cat "$scratch/sweep/results.csv"; exit 1; }
[ -z "$(ls -A "$sweep_base/target")" ] || { echo "vorlax-sweep left test files"; exit 1; }

echo "--- .debs: build, man pages, lintian"
cmake -S . -B build/package -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build/package -j "$(jobs)"
(cd build/package && rm -f ./*.deb && cpack -G DEB >/dev/null)
version=$(sed -n 's/^project(vorlax VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

# The pages as installed: the version put in, and no warning when rendered.
for page in build/package/man/*.1; do
    head -n 1 "$page" | grep -q " $version\"" || { echo "$page: no version $version on its .TH line"; exit 1; }
    ! grep -n "@[A-Z_]*@" "$page" || { echo "$page: a placeholder is left"; exit 1; }
    warnings=$( { groff -ww -man -Tutf8 -z "$page"; MANWIDTH=80 man --warnings -l "$page" >/dev/null; } 2>&1)
    [ -z "$warnings" ] || { echo "$page:"; echo "$warnings"; exit 1; }
done
for page in man/*.1; do
    [ -s "build/package/man/$(basename "$page").gz" ] || { echo "$page: not built into build/package/man"; exit 1; }
done
changelog_version=$(sed -n '1s/^vorlax (\([^)]*\)).*/\1/p' cmake/debian/changelog)
[ "$changelog_version" = "$version" ] ||
    { echo "cmake/debian/changelog: the latest entry is $changelog_version, the project $version"; exit 1; }

# The build folder holds the tools beside the programs, as the README's build leaves them.
for tool in vorlax-plot vorlax-sweep vorlax-fill vorlax-report; do
    build/package/$tool --help >/dev/null || { echo "build/package/$tool does not run"; exit 1; }
done

packages=(vorlax vorlax-tools)
[ -x build/package/vorlax-mpi ] && packages+=(vorlax-mpi)
declare -A deb
for package in "${packages[@]}"; do
    deb[$package]=$(ls build/package/"${package}_${version}"_*.deb 2>/dev/null || true)
    [ -s "${deb[$package]}" ] || { echo "cpack made no build/package/${package}_${version}_*.deb"; exit 1; }
    # Errors and warnings fail the stage.
    lintian_status=0
    lintian --fail-on error,warning --display-level ">=warning" "${deb[$package]}" >"$scratch/lintian.log" 2>&1 ||
        lintian_status=$?
    grep -v "running with root privileges" "$scratch/lintian.log" || true
    [ "$lintian_status" -eq 0 ] || { echo "lintian found faults in ${deb[$package]} (status $lintian_status)"; exit 1; }
done
echo "lintian: no errors or warnings in ${packages[*]}"

# What goes where: no Python for vorlax; each page with its program; the
# README's links resolve in vorlax's doc folder.
contents() { dpkg-deb -c "${deb[$1]}" | awk '{print $6}' | sed 's|^\./|/|'; }
depends=$(dpkg-deb -f "${deb[vorlax]}" Depends)
! grep -qi python <<<"$depends" || { echo "vorlax depends on Python: $depends"; exit 1; }
for needed in python3 python3-numpy python3-matplotlib "vorlax (= $version)"; do
    grep -qF "$needed" <<<"$(dpkg-deb -f "${deb[vorlax-tools]}" Depends)" ||
        { echo "vorlax-tools does not depend on $needed"; exit 1; }
done
declare -A owner=([vorlax]=vorlax [vorlax-read]=vorlax [vorlax-plot]=vorlax-tools [vorlax-sweep]=vorlax-tools
                  [vorlax-fill]=vorlax-tools [vorlax-report]=vorlax-tools [vorlax-mpi]=vorlax-mpi)
for program in "${!owner[@]}"; do
    expected=${owner[$program]}
    [ -n "${deb[$expected]:-}" ] || expected=""  # no vorlax-mpi package: its page is in none
    for path in /usr/bin/$program /usr/share/man/man1/$program.1.gz; do
        for package in "${packages[@]}"; do
            holds=no wanted=no
            contents "$package" | grep -qx "$path" && holds=yes
            [ "$package" = "$expected" ] && wanted=yes
            [ "$holds" = "$wanted" ] || { echo "$package: holds $path: $holds, should: $wanted"; exit 1; }
        done
    done
done
if [ -n "${deb[vorlax-mpi]:-}" ]; then
    grep -q libopenmpi <<<"$(dpkg-deb -f "${deb[vorlax-mpi]}" Depends)" ||
        { echo "vorlax-mpi does not depend on Open MPI's library"; exit 1; }
fi
doc=/usr/share/doc/vorlax
for link in $(grep -o '](\([^)#:]*\))' README.md | sed 's/^](\(.*\))$/\1/' | sort -u); do
    contents vorlax | grep -qx "$doc/$link" || { echo "the README's link $link is not in $doc"; exit 1; }
done

echo "--- .debs: dpkg -i, what they answer, dpkg -r"
if dpkg-query -W -f='${Status}' vorlax 2>/dev/null | grep -q 'install ok installed'; then
    echo "vorlax is installed here already: leaving the packages alone"
    exit 0
fi
# vorlax-mpi is installed only where Open MPI's library is.
installing=(vorlax vorlax-tools)
if [ -n "${deb[vorlax-mpi]:-}" ] && dpkg-query -W -f='${Status}' libopenmpi3 2>/dev/null | grep -q 'ok installed'; then
    installing+=(vorlax-mpi)
fi
debs=()
for package in "${installing[@]}"; do debs+=("${deb[$package]}"); done
# Another apt or dpkg on this machine may hold the lock for a while.
for attempt in $(seq 1 30); do
    if $sudo dpkg -i "${debs[@]}" >"$scratch/dpkg.log" 2>&1; then break; fi
    grep -q "lock" "$scratch/dpkg.log" || { cat "$scratch/dpkg.log"; exit 1; }
    [ "$attempt" -lt 30 ] || { echo "dpkg lock held for a minute"; exit 1; }
    sleep 2
done
package_installed_here="${installing[*]}"
[ "$(/usr/bin/vorlax --version)" = "vorlax (VORLAX) $version" ]
/usr/bin/vorlax --version
[ "$(man -w vorlax)" = /usr/share/man/man1/vorlax.1.gz ]
man vorlax | grep -q "vorlax $version" || { echo "man vorlax does not show version $version"; exit 1; }
if [[ " ${installing[*]} " == *" vorlax-mpi "* ]]; then
    [ "$(/usr/bin/vorlax-mpi --version)" = "vorlax-mpi (VORLAX) $version" ]
fi
# The run writes into a FIFO that is held until its first progress line is
# out, so the log has a line to draw however fast this machine is.
mkfifo "$scratch/sink_00.BIN"
exec 3<>"$scratch/sink_00.BIN"
/usr/bin/vorlax B "$scratch/sink" 1024 >"$scratch/installed.log" 2>/dev/null &
run=$!
for _ in $(seq 600); do grep -q " MB written, " "$scratch/installed.log" && break; sleep 0.1; done
cat <&3 >/dev/null &
drain=$!
wait "$run" || { echo "the installed vorlax failed:"; cat "$scratch/installed.log"; exit 1; }
kill "$drain"
exec 3<&-
/usr/bin/vorlax-plot "$scratch/installed.log" -o "$scratch/installed.png"
/usr/bin/vorlax-sweep --help >/dev/null
/usr/bin/vorlax-fill --help >/dev/null
/usr/bin/vorlax-report --help >/dev/null
/usr/bin/vorlax-plot --phases "$scratch/installed.log" -o "$scratch/phases.svg" >/dev/null
$sudo dpkg -r "${installing[@]}" >/dev/null
package_installed_here=""
for package in "${installing[@]}"; do
    if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        echo "dpkg -r left $package installed"
        exit 1
    fi
done
echo "installed, answered and removed: ${installing[*]}"
