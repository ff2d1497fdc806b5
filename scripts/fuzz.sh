#!/usr/bin/env bash
# Bounded fuzzing of the control link's frame parser and router and of the
# storage monitor's partition-list reader, under ASan and UBSan.
# FUZZ_SECONDS (default 60) bounds the run; exits non-zero on any finding.
set -euo pipefail
cd "$(dirname "$0")/.."
SECS=${FUZZ_SECONDS:-60}
OUT=${FUZZ_DIR:-build-fuzz}
mkdir -p "$OUT/corpus"
M=internal/myfunc
clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$M" -Isdk/interface/include \
  tests/fuzz/link_fuzz.cpp "$M/uart_proto.cpp" "$M/usb_detect.cpp" "$M/proto_cmd_default.cpp" \
  "$M/uart_net_default.cpp" "$M/bag_queue.cpp" "$M/user_setting.cpp" "$M/file_util.cpp" \
  -lpthread -o "$OUT/link_fuzz"
# Seeds: a reply-wanted frame, a relayed versioned frame, a partition list.
printf '\x05\xa5\x6c\x15\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x09\x29\x02\xae' >"$OUT/corpus/seed1"
printf 'P   8        0    7818240 sda\n   8        1    7817216 sda1\n' >"$OUT/corpus/seed2"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  "$OUT/link_fuzz" -max_total_time="$SECS" -max_len=8192 -timeout=10 -rss_limit_mb=2048 \
  -artifact_prefix="$OUT/" "$OUT/corpus"
