#!/usr/bin/env bash
# Run vidrec on the virtual board (needs root: namespaces and mounts).
#   scripts/run-board.sh [--http-port 8080] [--rtmp-port 1935] [--static] [--keep]
#                        [--web-root DIR] [--sd-mb 4096] [--iq-file FILE] [PROGRAM]
# PROGRAM defaults to $VIDREC_BUILD/dvr/vidrec (VIDREC_BUILD defaults to build),
# the IQ file in "/config/iqfile" to $VIDREC_BUILD/iqfile/iqfile0.bin (the
# virtual sensor's, from tools/iqfile/ref/iqfile0.txt).
# Prints where the web page, the RTMP stream and recordings, the serial console
# and the board's control socket are; Ctrl-C tears the board down.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
opts=()
prog=""
iq=""
value_of() {  # option, the arguments after it
  if [ $# -lt 2 ] || [ -z "$2" ]; then
    echo "run-board.sh: $1 needs a value (see --help)" >&2
    exit 2
  fi
}
while [ $# -gt 0 ]; do
  case "$1" in
    --http-port|--rtmp-port|--web-root|--sd-mb) value_of "$@"; opts+=("$1" "$2"); shift 2 ;;
    --iq-file) value_of "$@"; iq=$2; shift 2 ;;
    --static|--keep) opts+=("$1"); shift ;;
    -h|--help) sed -n '2,9p' "$0"; exit 0 ;;
    -*) echo "run-board.sh: unknown option $1" >&2; exit 2 ;;
    *) prog=$1; shift ;;
  esac
done
if [ "$(id -u)" -ne 0 ]; then
  echo "run-board.sh: the virtual board needs root" >&2
  exit 1
fi
build=${VIDREC_BUILD:-$here/build}
if [ -z "$prog" ]; then
  prog=$build/dvr/vidrec
  [ -x "$prog" ] || prog=$build/vidrec
fi
# The PC's packages the board needs (only those: nothing of armhf).
bash "$here/scripts/deps.sh" board || { echo "run-board.sh: the packages above are missing" >&2; exit 1; }
if [ ! -x "$prog" ] && [ -z "${VIDREC_BUILD:-}" ]; then
  # First run on a fresh machine: build vidrec (its IQ file below).
  cmake -S "$here" -B "$here/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$here/build" -j"$(nproc)" --target vidrec
  prog=$here/build/dvr/vidrec
fi
if [ ! -x "$prog" ]; then
  echo "run-board.sh: no program at $prog (build first: cmake --build build)" >&2
  exit 1
fi
if [ -z "$iq" ]; then
  # A board comes with its sensor's tuning file: the build's reference one.
  iq=$build/iqfile/iqfile0.bin
  if [ ! -f "$iq" ] && [ -f "$build/CMakeCache.txt" ]; then
    cmake --build "$build" -j"$(nproc)" --target reference_iqfile || true  # the hint below says what to do
  fi
  if [ ! -f "$iq" ]; then
    echo "run-board.sh: the board needs an IQ file and there is none at $iq:" >&2
    echo "  give one with --iq-file FILE, or build the reference one:" >&2
    if [ ! -f "$build/CMakeCache.txt" ]; then
      echo "  cmake -S $here -B $build && cmake --build $build --target reference_iqfile" >&2
    else
      echo "  cmake --build $build --target reference_iqfile" >&2
    fi
    exit 1
  fi
elif [ ! -f "$iq" ]; then
  echo "run-board.sh: no IQ file at $iq" >&2
  exit 1
fi
exec /usr/bin/python3 "$here/sim/sandbox/sandbox.py" run "${opts[@]}" --iq-file "$iq" "$prog"
