#!/usr/bin/env bash
# Bounded fuzzing under ASan and UBSan of: the control link's frame parser and
# router with the storage monitor's partition-list reader (link_fuzz), the
# command handler (cmd_fuzz) and the UDP relay's datagram handling and pacer
# (udp_fuzz), the 3A's IQ file loader with the ISP root it is given (iq_fuzz),
# the 3A control path from the agents and plug-ins to the algorithms'
# conversions (api_fuzz), the web control's form, JSON and page handling
# (web_fuzz) and the readers of address texts, name servers, the stored
# static record and the route table (net_fuzz). FUZZ_SECONDS bounds each run
# (default 50, and 30 for the two small web and network targets); exits
# non-zero on any finding.
set -euo pipefail
cd "$(dirname "$0")/.."
SECS=${FUZZ_SECONDS:-50}
SECS_SMALL=${FUZZ_SECONDS:-30}
OUT=${FUZZ_DIR:-build-fuzz}
M=internal/myfunc
F=tests/fuzz
CXX="clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined"
INC="-I$M -Idvr -Isdk/interface/include -Isdk/interface/src/common -Isdk/interface/src/cam_os_wrapper -Iinternal/common -Iinternal/venc -Iinternal/hdmi -I$F"
mkdir -p "$OUT"/corpus "$OUT"/corpus_cmd "$OUT"/corpus_udp "$OUT"/corpus_iq "$OUT"/corpus_api "$OUT"/corpus_web \
  "$OUT"/corpus_net

$CXX $INC $F/link_fuzz.cpp $F/route_stubs.cpp "$M/uart_proto.cpp" "$M/usb_detect.cpp" "$M/bag_queue.cpp" \
  "$M/user_setting.cpp" "$M/file_util.cpp" -lpthread -o "$OUT/link_fuzz"
# The command handler with its real settings, network, storage and destination
# code; the pipeline, RTMP connection and muxer state are stand-ins.
RECORDER="$M/proto_cmd.cpp $M/uart_proto.cpp $M/udp_relay.cpp $M/user_setting.cpp $M/file_util.cpp \
  $M/bag_queue.cpp $M/net_config.cpp $M/net_if.cpp $M/usb_detect.cpp $M/frame_list.cpp $M/h264_sps.cpp \
  dvr/rtmp_publish.cpp $F/fuzz_stubs.cpp"
for t in cmd_fuzz udp_fuzz; do
  # shellcheck disable=SC2086
  $CXX $INC $F/$t.cpp $RECORDER -lpthread -o "$OUT/$t"
done
# The web control's handlers over the same recorder code; the network readers alone.
# shellcheck disable=SC2086
$CXX $INC $F/web_fuzz.cpp $RECORDER dvr/web_control.cpp dvr/web_form.cpp dvr/web_ssi.cpp dvr/web_cpu.cpp \
  dvr/web_server.cpp -lcivetweb -lpthread -o "$OUT/web_fuzz"
$CXX $INC $F/net_fuzz.cpp "$M/net_config.cpp" "$M/net_if.cpp" "$M/user_setting.cpp" "$M/file_util.cpp" -lpthread \
  -o "$OUT/net_fuzz"

# The 3A: the loader alone with the IQ table; the whole control path with
# every algorithm's sources (the driver below is a stand-in).
S=sdk/interface/src
INC3A="-Isdk/interface/include -I$S/common -I$S/cam_os_wrapper -I$S/cus3a -I$S/ispalgo -I$S/isp -Itools/iqfile"
for k in ae awb af; do INC3A="$INC3A -I$S/ispalgo/$k"; done
# shellcheck disable=SC2086
$CXX $INC3A $F/iq_fuzz.cpp $S/cus3a/cus3a_iqfile.cpp $S/ispalgo/iq_cfg.cpp $S/ispalgo/iq_table.cpp \
  $S/cam_os_wrapper/cam_os_wrapper.cpp -lpthread -o "$OUT/iq_fuzz"
# shellcheck disable=SC2086
$CXX $INC3A -DIQ_REFERENCE_TEXT="\"$PWD/tools/iqfile/ref/iqfile0.txt\"" $F/api_fuzz.cpp $S/cus3a/*.cpp \
  $S/ispalgo/*.cpp $S/ispalgo/*/*.cpp $S/isp/mi_isp_iqapi.cpp $S/cam_os_wrapper/cam_os_wrapper.cpp \
  tools/iqfile/iq_text.cpp -lpthread -o "$OUT/api_fuzz"

# Seeds: a reply-wanted frame, a relayed versioned frame, a partition list.
printf '\x05\xa5\x6c\x15\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x09\x29\x02\xae' >"$OUT/corpus/seed1"
printf 'P   8        0    7818240 sda\n   8        1    7817216 sda1\n' >"$OUT/corpus/seed2"
# Command seeds: flags, command, payload.
printf '\x02\x31\x00\x05' >"$OUT/corpus_cmd/bitrate"
printf '\x02\x66\x01\x02' >"$OUT/corpus_cmd/rtmp"
printf '\x02\x6a\x03' >"$OUT/corpus_cmd/read_url"
printf '\x00\x0b' >"$OUT/corpus_cmd/reset_static"
printf '\x02\x54\x21\x03\x15\x00\x10\x30\x00' >"$OUT/corpus_cmd/clock"
{ printf '\x02\x67\x03\x04user'; head -c 782 /dev/zero; } >"$OUT/corpus_cmd/store_url"
# Datagram seeds: paced kinds on their ports with passes, a flood, others.
printf '\x0c\x00\x15\x00\x2c\x00\x04\x00\x02\x05abcdefghijklmnopqrstuvwxy' >"$OUT/corpus_udp/mix"
printf '\xe8\x00\xf0\x00\x04\x00\x05\x00' >"$OUT/corpus_udp/flood"
# IQ seeds: an all-zero file of the right length in the target's directory
# (its sum is right), a root record without a terminating NUL.
{ printf '\x03'; head -c 39135 /dev/zero; } >"$OUT/corpus_iq/zero"
{ printf '\x00'; head -c 64 /dev/zero | tr '\0' 'r'; head -c 100 /dev/zero; } >"$OUT/corpus_iq/long_root"
# Control seeds: direction, id - 0x1400 (16 bits), length, dev/chn, record.
{ printf '\x00\x05\x08\x03\x00\x00'; printf '\x01\x02\x03'; } >"$OUT/corpus_api/af_yparam"
{ printf '\x01\x02\x00\x3c\x02\x00'; head -c 572 /dev/zero; } >"$OUT/corpus_api/ae_info"
{ printf '\x00\x0f\x10\x48\x00\x00\x03'; head -c 71 /dev/zero; } >"$OUT/corpus_api/awb_cali"
{ printf '\x02\x05\x04\x04\x00\x00'; head -c 4 /dev/zero; } >"$OUT/corpus_api/agent"
# Web seeds: selector (form path, load, status, page), then the body.
printf '\x00setting1=192.168.7.20&setting2=255.255.0.0&setting3=192.168.7.1&setting4=192.168.7.2&IpAcquIndex=0' \
  >"$OUT/corpus_web/save"
printf '\x03UserName=cam&StreamAddr=rtmp%%3A%%2F%%2Fh%%2Flive' >"$OUT/corpus_web/stream"
printf '\x06cpu  10 0 10 80 0 0 0 0 0 0\ncpu0 1 2 3 4\n' >"$OUT/corpus_web/load"
printf '\x08<p><!--#call setting1 --> <!--#call UserName --></p>' >"$OUT/corpus_web/page"
# Network seeds: selector (address text, name servers, stored record, routes), then the text.
printf '\x00192.168.001.010' >"$OUT/corpus_net/addr"
printf '\x01search lan\nnameserver 10.0.0.1\nnameserver 192.168.100.1005\n' >"$OUT/corpus_net/dns"
printf '\x02\xaa\xc0\xa8\x01\x14\xff\xff\xff\x00\xc0\xa8\x01\x01' >"$OUT/corpus_net/record"
printf '\x03Iface\tDestination\tGateway\tFlags\neth0\t00000000\t0101A8C0\t0003\n' >"$OUT/corpus_net/route"

run() {
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    "$@" -max_total_time="$SECS" -timeout=10 -rss_limit_mb=2048 -artifact_prefix="$OUT/"
}
run "$OUT/link_fuzz" -max_len=8192 "$OUT/corpus"
run "$OUT/udp_fuzz" -max_len=8192 "$OUT/corpus_udp"
# The 3A prints a line for most requests: the targets' own stderr is closed
# (the fuzzer's and the sanitizers' reports still come through).
run "$OUT/iq_fuzz" -max_len=40000 -close_fd_mask=2 "$OUT/corpus_iq"
run "$OUT/api_fuzz" -max_len=36000 -close_fd_mask=2 "$OUT/corpus_api"
SECS=$SECS_SMALL run "$OUT/web_fuzz" -max_len=9000 "$OUT/corpus_web"
SECS=$SECS_SMALL run "$OUT/net_fuzz" -max_len=4096 "$OUT/corpus_net"
# The MAC, static-address and clock commands act only in a private network
# namespace without CAP_SYS_TIME; elsewhere the target leaves them out.
# Its files go in a short scratch directory of its own, wherever the clone lies.
CMD_FUZZ_DIR=$(mktemp -d /tmp/cmd_fuzz.XXXXXX)
export CMD_FUZZ_DIR
trap 'rm -rf "$CMD_FUZZ_DIR"' EXIT
if [ "$(id -u)" = 0 ] && unshare -n true 2>/dev/null; then
  run unshare -n setpriv --bounding-set=-sys_time -- "$OUT/cmd_fuzz" -max_len=1100 "$OUT/corpus_cmd"
else
  run "$OUT/cmd_fuzz" -max_len=1100 "$OUT/corpus_cmd"
fi
