#!/usr/bin/env bash
# Trains the multi-view model directory models/multiview from ../shared/data with train_cascade:
#   tools/train_cascade/train_multiview.sh [DATA] [OUT]
# The top-level cascade covers all nine views, each router its plane's views, each tree node one view;
# the in-plane tree's frontal node is the shipped frontal cascade. Nodes are chained: a node that
# rejects a window hands it to the next view's node. Faces are harvested with models/mct4.cascade.
set -euo pipefail
cd "$(dirname "$0")/../.."
data=${1:-../shared/data}
out=${2:-models/multiview}
bin=${TRAIN_CASCADE:-build/bin/train_cascade}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

harvest=(); for d in "$data"/video/0?/? "$data"/umist/*; do harvest+=(--harvest "$d"); done
turned=(); for d in "$data"/umist/*; do turned+=(--turned "$d"); done
common=(--data "$data" --threads "${THREADS:-4}" --harvest-cascade models/mct4.cascade "${harvest[@]}" "${turned[@]}")
train() { local name=$1; shift; "$bin" "${common[@]}" --out "$work/$name.cascade" "$@" > "$work/$name.log"; }

# The pictures placed by their eyes join faces19 and the harvested faces in the top-level cascade and
# the in-plane views (turned with ipRotate for views 1 to 4).
eyes=(--eye-faces webfaces --eye-faces lfw --eye-faces utkface --faces19-by-eyes)
train toplevel --stages 9 --negatives 12000 --jitters 3 --view 0 --view 1 --view 2 --view 3 --view 4 --view 5 --view 6 --view 7 --view 8 "${eyes[@]}"
train inplane-router --stages 4 --negatives 8000 --jitters 4 --view 0 --view 1 --view 2 --view 3 --view 4
train outplane-router --stages 4 --negatives 8000 --jitters 4 --view 5 --view 6 --view 7 --view 8
for v in 1 2 3 4; do train view$v --stages 4 --negatives 8000 --jitters 4 --view $v "${eyes[@]}"; done
for v in 5 6 7 8; do train view$v --stages 3 --negatives 8000 --jitters 4 --view $v; done

mkdir -p "$out"
cp models/mct4.cascade "$out/view0.cascade"
for name in toplevel inplane-router outplane-router view1 view2 view3 view4 view5 view6 view7 view8; do
  cp "$work/$name.cascade" "$out/$name.cascade"
done
# Thresholds chosen on ../shared/data/cmu-newtest with bench/detection_accuracy --multiview.
cat > "$out/pyramid-cascade.model" <<'M'
toplevel_model toplevel.cascade
toplevel_threshold 0.035
inplane_router_model inplane-router.cascade
inplane_router_threshold 0
outplane_router_model outplane-router.cascade
outplane_router_threshold 0
inplane_list inplane.list
inplane_connect inplane.connect
outplane_list outplane.list
outplane_connect outplane.connect
M
names=(frontal inplane+22.5 inplane-22.5 inplane+45 inplane-45 outplane+22.5 outplane-22.5 outplane+45 outplane-45)
list() {  # list FIRST_VIEW COUNT
  echo "n_models $2"
  for ((i = 0; i < $2; i++)); do
    v=$(($1 + i)); t=0.3; [ $v -eq 0 ] && t=0.022
    printf 'model[%d] view%d.cascade\nthreshold[%d] %s\nname[%d] %s\nid[%d] %d\n' $i $v $i $t $i "${names[$v]}" $i $v
  done
}
chain() {  # an n x n connect table: model i+1 is the right child of model i
  echo "$1 $1"
  for ((i = 0; i < $1; i++)); do
    row=(); for ((j = 0; j < $1; j++)); do [ $j -eq $((i + 1)) ] && row+=(R) || row+=(x); done
    echo "${row[*]}"
  done
}
list 0 5 > "$out/inplane.list"
list 5 4 > "$out/outplane.list"
chain 5 > "$out/inplane.connect"
chain 4 > "$out/outplane.connect"
echo "wrote $out"
