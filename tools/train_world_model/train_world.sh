#!/usr/bin/env bash
# Trains the world model models/world6-64x80-dctmod2-gmm.model from ../shared/data:
#   tools/train_world_model/train_world.sh [DATA] [OUT] [CASCADE]
# Faces are cut as the running system cuts them, with the shipped frontal cascade: the UMIST people
# at full and half size, the annotated faces of cmu-newtest, and 800 pictures of each of lfw, utkface
# and webfaces brought to a webcam's size and sharpness first (eyes 18 to 36 pixels apart in a 320x240
# camera or in a 160x120 one whose frames the scaler doubles), each with its mirror image. The video
# persons, on which every choice is measured, are never in training. One thread, fixed seed: the same
# bytes on every run.
set -euo pipefail
cd "$(dirname "$0")/../.."
data=${1:-../shared/data}
out=${2:-models/world6-64x80-dctmod2-gmm.model}
cascade=${3:-models/mct4.cascade}
bin=${TRAIN_WORLD_MODEL:-build/bin/train_world_model}
"$bin" --cascade "$cascade" --data "$data" --sets umist,cmu-newtest,lfw,utkface,webfaces --scales 1,0.5 \
    --pictures 800 --webcam-eyes 18,36 --min-source-eyes 12 --gaussians 512 --floor 0.2 --iterations 15 \
    --seed 1 --out "$out"
