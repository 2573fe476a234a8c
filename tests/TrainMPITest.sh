#!/usr/bin/env bash
# MapsmithTrainMPI under mpirun, against MapsmithTrain --mode batch: on 1, 2
# and 3 processes the trained map and the quality lines must be the same
# bytes, for every initialisation and with threads, torus and bubble; a
# process that cannot open its rows ends every process with one message and
# status 1, leaving an existing output as it was; online training is a usage
# error.
#
#   tests/TrainMPITest.sh BUILD_DIR [MPIRUN]
#
# BUILD_DIR holds Mapsmith, MapsmithTrain and MapsmithTrainMPI; MPIRUN is the
# launcher (default: mpirun).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
mpirun=${2:-mpirun}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# Open MPI refuses root unless told, and may have fewer slots than processes.
export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1
launch() {
  local np=$1
  shift
  if "$mpirun" --version 2>/dev/null | grep -q 'Open MPI'; then
    "$mpirun" --allow-run-as-root --oversubscribe -np "$np" "$@"
  else
    "$mpirun" -np "$np" "$@"
  fi
}
fail() {
  echo "TrainMPITest: $*" >&2
  exit 1
}

cp "$here/../examples/train/shades.dat" "$here/../examples/train/shades.params" .
"$build/Mapsmith" shades.params  # shades.net, 12 x 10, seeded

variants=(
  "--epochs 8"
  "--epochs 6 --init linear"
  "--epochs 6 --init sample --seed 5"
  "--epochs 5 --threads 2 --torus --neighbourhood bubble --radius 3"
)
for options in "${variants[@]}"; do
  # shellcheck disable=SC2086
  "$build/MapsmithTrain" --quiet --mode batch --map shades.net --data shades.dat --out single.net $options > single.txt
  for np in 1 2 3; do
    # shellcheck disable=SC2086
    launch "$np" "$build/MapsmithTrainMPI" --map shades.net --data shades.dat --out "mpi$np.net" $options > "mpi$np.txt"
    cmp single.net "mpi$np.net" || fail "$np processes, $options: another map than MapsmithTrain's"
    cmp single.txt "mpi$np.txt" || fail "$np processes, $options: other quality lines than MapsmithTrain's"
  done
  echo "same bytes on 1, 2 and 3 processes: $options"
done

# Process 1 runs in a folder without the rows.
mkdir p0 p1
cp shades.dat shades.net p0/
cp shades.net p1/
echo old > p0/out.net
status=0
launch 2 sh -c "cd p\$OMPI_COMM_WORLD_RANK\$PMI_RANK && exec '$build/MapsmithTrainMPI' --map shades.net --data shades.dat --out out.net" \
  > failed.txt 2> failed.err || status=$?
[[ $status -ne 0 ]] || fail "a process without its rows: status 0"
grep -q '^MapsmithTrainMPI: shades.dat: cannot open: No such file or directory (process 1 on ' failed.err ||
  fail "a process without its rows: $(cat failed.err)"
[[ $(grep -c '^MapsmithTrainMPI:' failed.err) -eq 1 ]] || fail "more than one message: $(cat failed.err)"
[[ $(cat p0/out.net) == old ]] || fail "a failed run changed the output"
echo "a process without its rows ends the run with one message"

status=0
launch 2 "$build/MapsmithTrainMPI" --mode online --map shades.net --data shades.dat --out online.net \
  2> online.err || status=$?
[[ $status -ne 0 && ! -e online.net ]] || fail "online training was not refused"
grep -q '^MapsmithTrainMPI: option --mode online is not for processes spread over machines' online.err ||
  fail "online: $(cat online.err)"
echo "online training is refused"
