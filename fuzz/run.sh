#!/usr/bin/env bash
# Runs one fuzz target on its seeds for a while:
#
#   fuzz/run.sh TARGET [SECONDS]
#
# TARGET is a fuzz program's name, with or without its "fuzz_" prefix
# (fuzz/fuzz_data_set_file.cpp: data_set_file). The fuzz build (build-fuzz/,
# clang with libFuzzer, ASan and UBSan) is configured when it is missing and
# the target is brought up to date. The run starts from the seeds in
# fuzz/seeds/NAME (when there are any) and the corpus that earlier runs left
# in fuzz/corpus-NAME/, uses fuzz/NAME.dict when there is one, keeps to 2 GiB
# of memory (1 GiB for one allocation) and lasts SECONDS (default 600). New
# inputs go into fuzz/corpus-NAME/, findings into build-fuzz/findings-NAME/.
# Exits 0 when the run ends without a finding, else non-zero (libFuzzer's
# status).
set -euo pipefail

if (($# < 1 || $# > 2)) || [[ ! ${2:-600} =~ ^[0-9]+$ ]]; then
  echo "usage: fuzz/run.sh TARGET [SECONDS]" >&2
  exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
name=${1#fuzz_}
target=fuzz_$name
seconds=${2:-600}
if [[ ! -f $root/fuzz/$target.cpp ]]; then
  echo "fuzz/run.sh: no fuzz target $target (fuzz/$target.cpp)" >&2
  exit 2
fi

build=$root/build-fuzz
if [[ ! -f $build/CMakeCache.txt ]]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DMAPSMITH_FUZZ=ON >/dev/null
fi
cmake --build "$build" --target "$target" -j2 >/dev/null

corpus=$root/fuzz/corpus-$name
findings=$build/findings-$name
mkdir -p "$corpus" "$findings"
args=(-rss_limit_mb=2048 -malloc_limit_mb=1024 -max_total_time="$seconds" -artifact_prefix="$findings/")
[[ -f $root/fuzz/$name.dict ]] && args+=(-dict="$root/fuzz/$name.dict")
dirs=("$corpus")
[[ -d $root/fuzz/seeds/$name ]] && dirs+=("$root/fuzz/seeds/$name")

echo "fuzz/run.sh: $target for $seconds s; findings go to $findings/"
exec "$build/fuzz/$target" "${args[@]}" "${dirs[@]}"
