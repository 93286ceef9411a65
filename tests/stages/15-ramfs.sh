# The unit and end-to-end tests once more with ramfs over /dev/shm, in a
# private mount namespace: like a kernel whose tmpfs refuses O_DIRECT (tmpfs
# takes it from Linux 6.6 on), so a test that writes unbuffered files on
# /dev/shm fails on every machine, not only on an older kernel. Reuses the
# native stage's build.
set -euo pipefail
source scripts/lib.sh
need_packages cmake make g++ libgtest-dev libgmock-dev util-linux

if ! unshare -m true 2>/dev/null; then
    echo "SKIPPED: unshare -m is not permitted here ($(unshare -m true 2>&1 | tail -1)); needs root or CAP_SYS_ADMIN"
    exit 0
fi
if ! unshare -m sh -c 'mount -t ramfs ramfs /dev/shm' 2>/dev/null; then
    echo "SKIPPED: cannot mount ramfs over /dev/shm in a private mount namespace"
    exit 0
fi

cmake -S . -B build/test -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/test -j "$(jobs)"
# MPI has its own stage; the rest runs as in the native stage.
unshare -m sh -c "mount -t ramfs ramfs /dev/shm && \
    ctest --test-dir build/test --output-on-failure -j $(jobs) -LE mpi"
