# The native build with its unit and end-to-end tests (CTest + GoogleTest).
set -euo pipefail
source scripts/lib.sh
need_packages cmake make g++ libgtest-dev libgmock-dev

cmake -S . -B build/test -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/test -j "$(jobs)"
ctest --test-dir build/test --output-on-failure -j "$(jobs)"
