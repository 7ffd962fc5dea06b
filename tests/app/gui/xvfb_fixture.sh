#!/usr/bin/env bash
# xvfb_fixture.sh start|stop <folder>: one X server for all GUI tests of a ctest run, so that the
# test processes do not each start their own. The display is written to <folder>/xvfb.display.
set -euo pipefail
dir=$2
case $1 in
start)
  mkdir -p "$dir"
  if [ -f "$dir/xvfb.pid" ] && kill -0 "$(cat "$dir/xvfb.pid")" 2>/dev/null; then exit 0; fi
  rm -f "$dir/xvfb.display"
  exec 3>"$dir/xvfb.display.tmp"
  setsid Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp >"$dir/xvfb.log" 2>&1 3>&3 &
  echo $! >"$dir/xvfb.pid"
  exec 3>&-
  for _ in $(seq 100); do
    if [ -s "$dir/xvfb.display.tmp" ]; then
      mv "$dir/xvfb.display.tmp" "$dir/xvfb.display"
      echo "Xvfb on :$(cat "$dir/xvfb.display")"
      exit 0
    fi
    sleep 0.1
  done
  echo "Xvfb did not start" >&2
  exit 1
  ;;
stop)
  if [ -f "$dir/xvfb.pid" ]; then
    pid=$(cat "$dir/xvfb.pid")
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    rm -f "$dir/xvfb.pid" "$dir/xvfb.display"
  fi
  ;;
esac
