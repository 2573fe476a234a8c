#!/usr/bin/env bash
# The picture of a map trained on colours: 3,000 random colours, a 20 x 20
# map created with Mapsmith, trained with MapsmithTrain (when the build has
# it; otherwise the untrained map is drawn) and drawn with MapsmithView.
#
#   examples/colours/make-page.sh [BUILD_DIR [OUT_DIR]]
#
# BUILD_DIR holds the tools (default: build/ beside examples/), OUT_DIR
# receives colours.dat, untrained.net, colours.net (the trained map) and
# colours.svg (default: the current folder). The colours and the map's first weights are seeded, so the page is
# the same, byte for byte, on every machine; docs/images/colours.svg is this
# page.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)
out=${2:-.}
mkdir -p "$out"
cd "$out"

# The colours: red, green and blue from 0 to 1, drawn with the library's own
# generator (state = state * 22695477 + 1 modulo 2^32, value = bits 16 to 30)
# from seed 2026, in integer arithmetic only, so every shell writes the same
# bytes.
rows=3000
{
  printf '[FormatVersion = 1.0]\n\n[DataSet]\n[Rows = %d]\n[Inputs = 3]\n[ExpectedOutputs = 0]\n' "$rows"
  printf '[GeneratedOutputs = 0]\n[Error = 0]\n\n[Data]\n'
  state=2026
  for ((r = 0; r < rows; r++)); do
    line=""
    for c in 1 2 3; do
      state=$(((state * 22695477 + 1) & 0xFFFFFFFF))
      v=$(((state >> 16) & 0x7FFF))
      micro=$((v * 1000000 / 32767))
      printf -v part '%d.%06d ' $((micro / 1000000)) $((micro % 1000000))
      line+=$part
    done
    printf '%s\n' "${line% }"
  done
  printf '[~Data]\n\n[~DataSet]\n'
} > colours.dat

# Read from beside this script, so that OUT_DIR may be this folder too.
"$build/Mapsmith" "$here/colours.params"  # writes untrained.net here
if [[ -x "$build/MapsmithTrain" ]]; then
  "$build/MapsmithTrain" --quiet --map untrained.net --data colours.dat --out colours.net
else
  cp untrained.net colours.net
fi

"$build/MapsmithView" --map colours.net --data colours.dat --out colours.svg \
  --show colours,umatrix,planes,hits --names red,green,blue --title "A 20 x 20 map of 3,000 colours"
