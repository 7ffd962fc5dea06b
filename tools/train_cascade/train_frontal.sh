#!/usr/bin/env bash
# Trains the frontal cascade models/mct4.cascade from ../shared/data:
#   tools/train_cascade/train_frontal.sh [DATA] [OUT]
# Faces: every face source placed in the window by its eyes with the tracker's geometry (webfaces by
# its marked eyes, lfw and utkface by their alignment, faces19 moved there), mirrored, each in three
# random variants (shift, scale 0.82 to 1.22, turn up to 8 degrees). Non-faces: windows of the scenes
# of negatives and scenes (five sizes, quarter turns, mirrored) that the real scanner passes through
# the stages trained so far. Early stages may grow to three times their usual size, so that each
# still halves the non-faces. Fixed seed: the same bytes on every run, whatever the threads.
set -euo pipefail
cd "$(dirname "$0")/../.."
data=${1:-../shared/data}
out=${2:-models/mct4.cascade}
bin=${TRAIN_CASCADE:-build/bin/train_cascade}
threads=${THREADS:-6}
log=$(mktemp)
trap 'rm -f "$log"' EXIT
"$bin" --data "$data" --out "$out" --seed 19 --threads "$threads" --stages 14 --hit-rate 0.998 --negatives 30000 \
    --eye-faces webfaces --eye-faces lfw --eye-faces utkface --faces19-by-eyes --no-patches \
    --scenes negatives --scenes scenes --scene-scales 1,1.5,2,2.5,3 \
    --jitters 3 --scale-jitter 0.82 1.22 --turn-jitter 8 --stage-caps 3 > "$log"
tail -n 1 "$log"
