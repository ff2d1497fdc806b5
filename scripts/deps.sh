#!/usr/bin/env bash
# Debian packages for building vidrec and running all of its tests.
set -euo pipefail
PKGS=(
  cmake g++ pkg-config make libgtest-dev googletest libbenchmark-dev
  g++-arm-linux-gnueabihf qemu-user
  librtmp-dev libcivetweb-dev libavformat-dev libavcodec-dev libavutil-dev libswscale-dev
  libx264-dev libssl-dev zlib1g-dev
  python3 python3-pytest python3-serial python3-requests python3-websocket
  nginx-light libnginx-mod-rtmp dnsmasq-base udhcpc ffmpeg socat iproute2 util-linux
  clang libclang-rt-14-dev strace wrk chromium chromium-driver python3-selenium
  # The board build's libraries, installed beside the PC's (multiarch); the
  # armhf tests run against them under qemu-arm.
  libavformat-dev:armhf libavcodec-dev:armhf librtmp-dev:armhf libcivetweb-dev:armhf libstdc++6:armhf
)
dpkg --print-foreign-architectures | grep -qx armhf || dpkg --add-architecture armhf
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
