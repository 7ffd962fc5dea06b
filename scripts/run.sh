#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds, and runs the system's main job: the tray program
# "Tarvelo" (build/bin/Tarvelo), with build/bin as its working folder.
# Without a webcam, a replay camera plays a clip of the shipped video data (../shared/data/video);
# without a display, the program runs on a virtual one (xvfb-run) and its logs are shown as they grow.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo

# The password check's PAM service "tarvelo" (README, "The PAM service"): installed when this script
# may write /etc/pam.d (root, or sudo without a password); otherwise the one command that does it.
# A different file already there is the administrator's and stays.
pam_file=platform/pam/tarvelo pam_target=/etc/pam.d/tarvelo
if ! cmp -s "$pam_file" "$pam_target"; then
  if [ -e "$pam_target" ]; then
    echo "Note: $pam_target differs from the shipped $pam_file and is left as it is."
  elif [ "$(id -u)" = 0 ]; then
    install -m 0644 "$pam_file" "$pam_target" && echo "Installed the PAM service: $pam_target"
  elif command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
    sudo -n install -m 0644 "$pam_file" "$pam_target" && echo "Installed the PAM service: $pam_target"
  else
    echo "The PAM service \"tarvelo\" is not installed (the system's \"other\" policy checks passwords meanwhile)."
    echo "To install it, run once as root:  install -m 0644 $(pwd)/$pam_file $pam_target"
  fi
fi
data=${TARVELO_DATA:-$(cd .. && pwd)/shared/data}
bin=$(pwd)/build/bin

if [ -z "${TARVELO_REPLAY_CAMERAS:-}" ] && ! ls /dev/video* >/dev/null 2>&1 && [ -d "$data/video/00/1" ]; then
  echo "Replay Camera | $data/video/00/1 | rate=15 sizes=320x240" >"$bin/replay_cameras.txt"
  export TARVELO_REPLAY_CAMERAS="$bin/replay_cameras.txt"
  echo "No webcam found: using the replay camera 'Replay Camera' over $data/video/00/1"
fi

cd "$bin"
if [ -z "${DISPLAY:-}" ]; then
  # Nobody sees the virtual screen: what the program does shows in its logs, followed here.
  echo "No DISPLAY: Tarvelo runs on a virtual X server (xvfb-run) that no screen shows."
  echo "Working folder: $bin (the settings and the face model go to ${HOME:-~}/.Tarvelo)"
  echo "Following its logs as they grow: Tarvelo.log (the tray program) and Tarvelo_unlock.log (the unlock"
  echo "screen, once a lock starts). Ctrl+C ends the program."
  touch Tarvelo.log Tarvelo_unlock.log
  tail -n 0 -F Tarvelo.log Tarvelo_unlock.log &
  follower=$!
  trap 'sleep 0.2; kill "$follower" 2>/dev/null || true' EXIT
  status=0
  xvfb-run -a ./Tarvelo "$@" || status=$?
  echo "Tarvelo ended with status $status"
  exit "$status"
fi
exec ./Tarvelo "$@"
