#!/usr/bin/env bash
# Trains the frontal cascade models/mct4.cascade from ../shared/data in two rounds:
#   tools/train_cascade/train_frontal.sh [DATA] [OUT]
# Faces: every face source placed in the window by its eyes with the tracker's geometry (webfaces,
# lfw and utkface by their marked or fixed eyes, faces19 moved to it), mirrored and jittered; round 2
# adds the faces that round 1's cascade finds in the video clips and the UMIST folders (frames brought
# to the detector's size, boxes kept where neighbouring frames agree). Non-faces: windows of the
# face-free scenes of negatives and scenes that the real scanner passes through the stages so far.
# Fixed seeds throughout; 6 threads.
set -euo pipefail
cd "$(dirname "$0")/../.."
data=${1:-../shared/data}
out=${2:-models/mct4.cascade}
bin=${TRAIN_CASCADE:-build/bin/train_cascade}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
harvest=(); for d in "$data"/video/0?/? "$data"/umist/*; do harvest+=(--harvest "$d"); done
common=(--data "$data" --seed 19 --threads 6 --eye-faces webfaces --eye-faces lfw --eye-faces utkface
        --faces19-by-eyes --scenes negatives --scenes scenes --no-patches --negatives 20000)

"$bin" "${common[@]}" --out "$work/round1.cascade" --stages 14 --jitters 3 --hit-rate 0.998 --turn-jitter 8 \
    > "$work/round1.log"
"$bin" "${common[@]}" --out "$out" --stages 18 --jitters 3 --hit-rate 0.999 --turn-jitter 8 \
    --harvest-cascade "$work/round1.cascade" "${harvest[@]}" > "$work/round2.log"
tail -n 1 "$work/round2.log"
