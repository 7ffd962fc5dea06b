#!/usr/bin/env bash
# Trains the frontal cascade models/mct4.cascade from ../shared/data in three rounds:
#   tools/train_cascade/train_frontal.sh [DATA] [OUT]
# Round 1 learns from faces19 alone; rounds 2 and 3 add the faces that the previous round's cascade
# finds in the video clips and in the UMIST folders (frames brought to the detector's size, boxes
# kept where neighbouring frames agree), so that the cascade learns the webcam's faces where the
# detector itself puts them. Fixed seeds throughout.
set -euo pipefail
cd "$(dirname "$0")/../.."
data=${1:-../shared/data}
out=${2:-models/mct4.cascade}
bin=${TRAIN_CASCADE:-build/bin/train_cascade}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
harvest=(); for d in "$data"/video/0?/? "$data"/umist/*; do harvest+=(--harvest "$d"); done

"$bin" --data "$data" --out "$work/round1.cascade" --seed 19 --threads 6 --stages 8 > "$work/round1.log"
"$bin" --data "$data" --out "$work/round2.cascade" --seed 19 --threads 6 --stages 10 \
    --harvest-cascade "$work/round1.cascade" "${harvest[@]}" > "$work/round2.log"
"$bin" --data "$data" --out "$out" --seed 19 --threads 6 --stages 12 --hit-rate 0.9997 \
    --harvest-cascade "$work/round2.cascade" "${harvest[@]}" > "$work/round3.log"
tail -n 1 "$work/round3.log"
