#!/usr/bin/env bash
# Debian packages of this PC for building vidrec and running it and its tests.
#   scripts/deps.sh board   what the virtual board needs: build vidrec, run the sandbox
#   scripts/deps.sh [all]   also the tests' tools and the armhf cross tools
# Only the PC's own architecture is installed: the board's libraries come from
# an armhf sysroot (scripts/sysroot.sh), never from multiarch packages.
set -euo pipefail
what=${1:-all}
BUILD=(
  cmake g++ pkg-config make libgtest-dev googletest libbenchmark-dev
  librtmp-dev libcivetweb-dev libavformat-dev libavcodec-dev libavutil-dev libswscale-dev
  libx264-dev libssl-dev zlib1g-dev
)
BOARD=(python3 nginx-light libnginx-mod-rtmp dnsmasq-base udhcpc ffmpeg socat iproute2 util-linux)
TESTS=(
  python3-pytest python3-serial python3-requests python3-websocket
  clang libclang-rt-14-dev strace wrk chromium chromium-driver python3-selenium
  g++-arm-linux-gnueabihf qemu-user mmdebstrap
)
case "$what" in
  board) PKGS=("${BUILD[@]}" "${BOARD[@]}") ;;
  all) PKGS=("${BUILD[@]}" "${BOARD[@]}" "${TESTS[@]}") ;;
  *) echo "usage: $0 [board|all]" >&2; exit 2 ;;
esac

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
missing=()
for p in "${PKGS[@]}"; do installed "$p" || missing+=("$p"); done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
log=$(mktemp)
trap 'rm -f "$log"' EXIT
# A mirror in the middle of a sync serves an index that does not match its
# Release file for a while: try again after a pause. An index that still does
# not load stops nothing by itself; what counts is whether the packages install.
for try in 1 2 3; do
  apt-get update -q >"$log" 2>&1 && break
  if [ "$try" -lt 3 ]; then sleep 15; continue; fi
  echo "apt-get update: some package indexes did not load (going on with the others):"
  grep -E '^(Err|E|W):' "$log" | sed 's/^/  /' || true
done
if ! apt-get install -y -q --no-install-recommends "${missing[@]}" >"$log" 2>&1; then
  echo "apt-get install failed:"
  grep -E '^(E|W):|has no installation candidate|Depends:|but it is not' "$log" | sed 's/^/  /' || tail -n 20 "$log"
  for p in "${missing[@]}"; do
    installed "$p" && continue
    cand=$(apt-cache policy "$p" 2>/dev/null | awk '/Candidate:/ {print $2}')
    echo "  not installed: $p (candidate: ${cand:-none})"
  done
  exit 1
fi
