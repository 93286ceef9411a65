# vorlax-mpi: installs OpenMPI, builds the program with MPI and runs its
# tests (the pure parts, then runs of 1 to 3 ranks under mpiexec, a rank
# that falls short and a rank that is killed), then runs across three hosts
# simulated on this machine, and under Slurm on a cluster of three nodes
# simulated there too; and --seconds: two ranks on loop devices throttled to
# different rates (the stonewall and wear-out figures, a rank whose disk
# fills and a rank killed during the wear-out) and srun of a timed run on
# the simulated cluster.
set -euo pipefail
source scripts/lib.sh
need_packages cmake make g++ libgtest-dev libgmock-dev openmpi-bin libopenmpi-dev iproute2 util-linux python3 \
    e2fsprogs mount python3-jsonschema
# Slurm for tests/mpi-hosts/slurm.sh; recommends left out, as need_packages does.
need_packages slurmd slurmctld slurm-client munge

# OpenMPI refuses to start as root without these two.
export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1
cmake -S . -B build/test -DCMAKE_BUILD_TYPE=Release -DVORLAX_MPI=ON >/dev/null
cmake --build build/test -j "$(jobs)" --target vorlax-mpi mpi_unit_tests mpi_writers_tests mpi_e2e_tests
# One at a time: the runs of 3 ranks already take both cores.
ctest --test-dir build/test --output-on-failure -L mpi
# The run record of 2 ranks, validated against its schema.
cmake --build build/test -j "$(jobs)" --target vorlax
VORLAX_EXE="$PWD/build/test/vorlax" VORLAX_MPI_EXE="$PWD/build/test/vorlax-mpi" \
    /usr/bin/python3 -B -m unittest discover -s tests/tools -p "test_record*.py" -k mpi
# The stonewall with wear-out on two throttled loop devices; skips with the
# reason where root, loop devices or the throttle are missing.
VORLAX_MPI_EXE="$PWD/build/test/vorlax-mpi" \
    /usr/bin/python3 -B -m unittest discover -v -s tests/tools -p stonewall_e2e.py -k Stonewall
! losetup -a | grep -q "vorlax-stonewall" || { echo "a loop device of the stonewall test is still attached"; exit 1; }
# Network and UTS namespaces on a bridge; each case skips with its reason
# where they cannot be made.
tests/mpi-hosts/run.sh build/test/vorlax-mpi
# scripts/simulate-slurm: srun --mpi=pmix, a node without its folder and
# sbatch of docs/vorlax-mpi.sbatch; each case skips with its reason where
# Slurm or namespaces are missing.
tests/mpi-hosts/slurm.sh build/test/vorlax-mpi
