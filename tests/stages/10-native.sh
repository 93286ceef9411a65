# The native build with its unit and end-to-end tests (CTest + GoogleTest).
set -euo pipefail
source scripts/lib.sh
need_packages cmake make g++ libgtest-dev libgmock-dev

cmake -S . -B build/test -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/test -j "$(jobs)"
ctest --test-dir build/test --output-on-failure -j "$(jobs)"
# vorlax --seconds on a loop-device ext4 held by the block-I/O throttle
# (tests/tools/stonewall_e2e.py); skips with the reason where root, loop
# devices or the throttle are missing.
need_packages python3 e2fsprogs util-linux mount
VORLAX_EXE="$PWD/build/test/vorlax" /usr/bin/python3 -B -m unittest discover -v -s tests/tools -p stonewall_e2e.py -k Seconds
! losetup -a | grep -q "vorlax-stonewall" || { echo "a loop device of the stonewall test is still attached"; exit 1; }
