# vorlax-mpi: installs OpenMPI, builds the program with MPI and runs its
# tests (the pure parts, then runs of 1 to 3 ranks under mpiexec, a rank
# that falls short and a rank that is killed), then runs across three hosts
# simulated on this machine, and under Slurm on a cluster of three nodes
# simulated there too.
set -euo pipefail
source scripts/lib.sh
need_packages cmake make g++ libgtest-dev libgmock-dev openmpi-bin libopenmpi-dev iproute2 util-linux
# Slurm for tests/mpi-hosts/slurm.sh; recommends left out, as need_packages does.
need_packages slurmd slurmctld slurm-client munge

# OpenMPI refuses to start as root without these two.
export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1
cmake -S . -B build/test -DCMAKE_BUILD_TYPE=Release -DVORLAX_MPI=ON >/dev/null
cmake --build build/test -j "$(jobs)" --target vorlax-mpi mpi_unit_tests mpi_writers_tests mpi_e2e_tests
# One at a time: the runs of 3 ranks already take both cores.
ctest --test-dir build/test --output-on-failure -L mpi
# Network and UTS namespaces on a bridge; each case skips with its reason
# where they cannot be made.
tests/mpi-hosts/run.sh build/test/vorlax-mpi
# scripts/simulate-slurm: srun --mpi=pmix, a node without its folder and
# sbatch of docs/vorlax-mpi.sbatch; each case skips with its reason where
# Slurm or namespaces are missing.
tests/mpi-hosts/slurm.sh build/test/vorlax-mpi
