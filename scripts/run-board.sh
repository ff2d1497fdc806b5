#!/usr/bin/env bash
# Run vidrec on the virtual board (needs root: namespaces and mounts).
#   scripts/run-board.sh [--http-port 8080] [--rtmp-port 1935] [--static] [--keep]
#                        [--web-root DIR] [--sd-mb 4096] [PROGRAM]
# PROGRAM defaults to $VIDREC_BUILD/dvr/vidrec (VIDREC_BUILD defaults to build).
# Prints where the web page, the RTMP stream and recordings, the serial console
# and the board's control socket are; Ctrl-C tears the board down.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
if [ "$(id -u)" -ne 0 ]; then
  echo "run-board.sh: the virtual board needs root" >&2
  exit 1
fi
opts=()
prog=""
while [ $# -gt 0 ]; do
  case "$1" in
    --http-port|--rtmp-port|--web-root|--sd-mb) opts+=("$1" "$2"); shift 2 ;;
    --static|--keep) opts+=("$1"); shift ;;
    -h|--help) sed -n '2,7p' "$0"; exit 0 ;;
    -*) echo "run-board.sh: unknown option $1" >&2; exit 2 ;;
    *) prog=$1; shift ;;
  esac
done
if [ -z "$prog" ]; then
  build=${VIDREC_BUILD:-$here/build}
  prog=$build/dvr/vidrec
  [ -x "$prog" ] || prog=$build/vidrec
fi
# The PC's packages the board needs (only those: nothing of armhf).
bash "$here/scripts/deps.sh" board || { echo "run-board.sh: the packages above are missing" >&2; exit 1; }
if [ ! -x "$prog" ] && [ -z "${VIDREC_BUILD:-}" ]; then
  # First run on a fresh machine: build.
  cmake -S "$here" -B "$here/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$here/build" -j"$(nproc)" --target vidrec
  prog=$here/build/dvr/vidrec
fi
if [ ! -x "$prog" ]; then
  echo "run-board.sh: no program at $prog (build first: cmake --build build)" >&2
  exit 1
fi
exec /usr/bin/python3 "$here/sim/sandbox/sandbox.py" run "${opts[@]}" "$prog"
