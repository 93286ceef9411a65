# vorlax-fill end to end on loop-device ext4 file systems whose speed the
# test sets with the kernel's block-I/O throttle (tests/tools/fill_e2e.py):
# the phases, the cliff and the dip it must find, Ctrl-C and SIGTERM, a disk
# that fills up, refusals. Skips with the reason where root, loop devices
# or the throttle are missing. Then --latency and --json on such a device:
# steady runs and an injected stall (tests/tools/latency_e2e.py). About two
# and a half minutes.
set -euo pipefail
source scripts/lib.sh
need_packages cmake make g++ python3 python3-numpy python3-matplotlib e2fsprogs util-linux mount

cmake -S . -B build/test -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/test -j "$(jobs)" --target vorlax vorlax-read
export VORLAX_EXE="$PWD/build/test/vorlax"

/usr/bin/python3 -B -m unittest discover -v -s tests/tools -p fill_e2e.py 2>&1 | tail -n 40
status=${PIPESTATUS[0]}
/usr/bin/python3 -B -m unittest discover -v -s tests/tools -p latency_e2e.py 2>&1 | tail -n 20
[ "${PIPESTATUS[0]}" -eq 0 ] || status=1
# Nothing left attached or mounted by the test (a detach may take a moment to show).
for _ in 1 2 3 4 5 6 7 8 9 10; do
    losetup -a | grep -q -e "vorlax-fill-e2e-" -e "vorlax-latency-e2e-" || break
    sleep 0.5
done
! losetup -a | grep -q -e "vorlax-fill-e2e-" -e "vorlax-latency-e2e-" ||
    { echo "a loop device of the test is still attached"; losetup -a; exit 1; }
! ls -d /dev/shm/vorlax-fill-e2e-* /dev/shm/vorlax-latency-e2e-* 2>/dev/null ||
    { echo "the test left its scratch folder"; exit 1; }
exit "$status"
