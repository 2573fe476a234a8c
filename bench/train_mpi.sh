#!/usr/bin/env bash
# One batch epoch of 100,000 rows x 64 inputs on a 50 x 50 map, with
# MapsmithTrainMPI on 1 and 2 processes and MapsmithTrain on 1 and 2 threads.
# A run's fixed costs (reading, checking, writing) are taken out: the time of
# an epoch is the difference of an 11-epoch and a 1-epoch run, over 10. Each
# figure is the median of three.
#
#   bench/train_mpi.sh BUILD_DIR [MPIRUN]
#
# BUILD_DIR must hold Mapsmith, MapsmithTrain and MapsmithTrainMPI (a Release
# build with -DMAPSMITH_MPI=ON). Takes a few minutes; run it on a quiet machine.
set -euo pipefail

build=$(cd "$1" && pwd)
mpirun=${2:-mpirun}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1
launch=("$mpirun")
"$mpirun" --version 2>/dev/null | grep -q 'Open MPI' && launch+=(--allow-run-as-root --oversubscribe --bind-to none)

# The rows: 64 values from 0 to 1, from a fixed seed.
awk 'BEGIN {
  srand(1);
  printf "[FormatVersion = 1.0]\n[DataSet]\n[Rows = 100000]\n[Inputs = 64]\n[ExpectedOutputs = 0]\n";
  printf "[GeneratedOutputs = 0]\n[Error = 0]\n[Data]\n";
  for (r = 0; r < 100000; r++) {
    line = "";
    for (j = 0; j < 64; j++) line = line sprintf("%.6f ", rand());
    print line;
  }
  printf "[~Data]\n[~DataSet]\n";
}' > rows.dat
printf 'Inputs = 64\nDimensions = 2\nMapDim = 50 50\nMinWeight = 0\nMaxWeight = 1\nSeed = 1\nFileName = map.net\n' > map.params
"$build/Mapsmith" map.params

seconds() {
  local start end
  start=$(date +%s.%N)
  "$@" > /dev/null
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}
median() { printf '%s\n' "$@" | sort -g | sed -n 2p; }
# The median time of one epoch of the command "$@" (given --epochs last).
epoch() {
  local runs=()
  for _ in 1 2 3; do
    local long short
    long=$(seconds "$@" 11)
    short=$(seconds "$@" 1)
    runs+=("$(echo "($long - $short) / 10" | bc -l)")
  done
  median "${runs[@]}"
}

train=(--quiet --map map.net --data rows.dat --out out.net --epochs)
one=$(epoch "${launch[@]}" -np 1 "$build/MapsmithTrainMPI" "${train[@]}")
two=$(epoch "${launch[@]}" -np 2 "$build/MapsmithTrainMPI" "${train[@]}")
threads1=$(epoch "$build/MapsmithTrain" --mode batch --threads 1 "${train[@]}")
threads2=$(epoch "$build/MapsmithTrain" --mode batch --threads 2 "${train[@]}")
printf 'MapsmithTrainMPI -np 1: %.3f s per epoch\n' "$one"
printf 'MapsmithTrainMPI -np 2: %.3f s per epoch (%.2fx)\n' "$two" "$(echo "$one / $two" | bc -l)"
printf 'MapsmithTrain --threads 1: %.3f s per epoch\n' "$threads1"
printf 'MapsmithTrain --threads 2: %.3f s per epoch (%.2fx)\n' "$threads2" "$(echo "$threads1 / $threads2" | bc -l)"
