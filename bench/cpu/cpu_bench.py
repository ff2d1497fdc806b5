#!/usr/bin/python3
"""vidrec's own CPU while it records 1080p30 and publishes 720p30 with audio on
the virtual board, per thread, against ffmpeg doing the same job in the same
run. See README.md."""
import argparse
import glob
import os
import struct
import sys
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "system"))
from board import TestBoard, sandbox  # noqa: E402

HEART, RTMP_STATUS = 0xBB, 0x68
SD, PART = "mmcblk0", "mmcblk0p1"


def find_vidrec():
    builds = [os.environ["VIDREC_BUILD"]] if os.environ.get("VIDREC_BUILD") else \
        [os.path.join(ROOT, "build"), os.path.join(ROOT, "build-ci")]
    for b in builds:
        p = os.path.join(b, "dvr", "vidrec")
        if os.access(p, os.X_OK):
            return p
    sys.exit("no vidrec in " + " or ".join(builds) + " (set VIDREC_BUILD)")


def run_ns(pid):
    """Nanoseconds on a CPU of each thread of pid: {tid: (name, ns)}."""
    out = {}
    for task in glob.glob("/proc/%d/task/*" % pid):
        try:
            with open(task + "/comm") as f:
                name = f.read().strip()
            with open(task + "/schedstat") as f:
                ns = int(f.read().split()[0])
        except (FileNotFoundError, ProcessLookupError, ValueError):
            continue
        out[int(os.path.basename(task))] = (name, ns)
    return out


def thread_shares(before, after, seconds):
    """Per thread name: share of one core (%) over the window; threads that
    came or went meanwhile count with what they ran inside it."""
    by_name = {}
    for tid, (name, ns) in after.items():
        used = ns - before.get(tid, (name, 0))[1]
        by_name[name] = by_name.get(name, 0) + used
    return {n: 100.0 * ns / 1e9 / seconds for n, ns in by_name.items()}


def request_ok(b, cmd, payload):
    r = b.request(cmd, payload)
    if r is None or r.payload[:1] != b"\x00":
        sys.exit("command %d refused: %r" % (cmd, r and r.payload[:4]))


def destination(index, url, user=b"bench"):
    url = url.encode()
    return bytes([index, len(user)]) + user.ljust(16, b"\0") + struct.pack("<H", len(url)) + url.ljust(768, b"\0")


def measure_vidrec(b, seconds):
    b.plug_disk(SD, size_mb=4096)
    if not b.serial.wait_frame(HEART, timeout=30, after=b.serial.mark(),
                               pred=lambda f: (f.payload[22] >> 5) & 3 == 2 and f.payload[21] & 0x80):
        sys.exit("the board never showed the SD card and the encoder")
    mark = b.serial.mark()
    request_ok(b, 103, destination(0, b.rtmp_url("bench")))
    request_ok(b, 102, b"\x01\x00")
    request_ok(b, 96, b"\x01")
    if not b.serial.wait_frame(RTMP_STATUS, timeout=20, after=mark, pred=lambda f: f.payload == b"\x00\x01"):
        sys.exit("publishing never connected")
    time.sleep(3)  # both files open, steady state
    pid = b.program_pid()
    t0, a = time.monotonic(), run_ns(pid)
    time.sleep(seconds)
    t1, z = time.monotonic(), run_ns(pid)
    shares = thread_shares(a, z, t1 - t0)
    request_ok(b, 96, b"\x00")
    request_ok(b, 102, b"\x00\x00")
    time.sleep(3)  # the close at the next key frame, the server's file complete
    return shares


def measure_ffmpeg(b, seconds):
    """One ffmpeg process taking what vidrec just recorded (1080p30 + AAC) and
    published (720p30 + AAC) in real time, writing an MP4 onto the same card
    and publishing to the same server, streams copied."""
    mp4 = sorted(glob.glob(os.path.join(b.disk_dir(PART), "video_*.mp4")), key=os.path.getsize)
    flv = b.rtmp_recordings()
    if not mp4 or not flv:
        sys.exit("no recording to replay (mp4 %d, flv %d)" % (len(mp4), len(flv)))
    card = "/vendor/" + PART
    board_mp4 = card + "/" + os.path.basename(mp4[-1])
    # The server's file is outside the board's root: give the board a copy.
    with open(flv[-1], "rb") as src, open(os.path.join(b.disk_dir(PART), "live.flv"), "wb") as dst:
        dst.write(src.read())
    argv = ["ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin",
            "-re", "-i", board_mp4, "-re", "-i", card + "/live.flv", "-t", str(seconds),
            "-map", "0:v", "-map", "0:a", "-c", "copy", "-f", "mp4", "-y", card + "/ref.mp4",
            "-map", "1:v", "-map", "1:a", "-c", "copy", "-f", "flv", b.rtmp_url("ref")]
    # Its CPU as the kernel accounts it to a waiting parent (all its threads).
    wrap = ("import resource, subprocess, sys, time\n"
            "t = time.monotonic(); r = subprocess.run(sys.argv[1:])\n"
            "u = resource.getrusage(resource.RUSAGE_CHILDREN)\n"
            "print(r.returncode, u.ru_utime + u.ru_stime, time.monotonic() - t)\n")
    r = b.exec(["python3", "-c", wrap] + argv, timeout=seconds + 60)
    try:
        code, cpu, wall = r.stdout.split()
    except ValueError:
        sys.exit("ffmpeg did not run: " + r.stdout + r.stderr)
    if int(code) != 0:
        sys.exit("ffmpeg failed: " + r.stderr[-800:])
    return 100.0 * float(cpu) / float(wall), float(wall)


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--seconds", type=float, default=20.0, help="measuring window (default 20)")
    args = ap.parse_args()
    ok, why = sandbox.available()
    if not ok:
        sys.exit("virtual board unavailable: " + why)
    b = TestBoard(program=find_vidrec())
    b.start()
    try:
        shares = measure_vidrec(b, args.seconds)
        ff, wall = measure_ffmpeg(b, args.seconds)
    finally:
        b.stop()
    own = {n: v for n, v in shares.items() if not n.startswith("vb-")}
    board = sum(v for n, v in shares.items() if n.startswith("vb-"))
    total = sum(own.values())
    print("vidrec threads, %% of one core over %.0f s (recording 1080p30, publishing 720p30, audio):" % args.seconds)
    for n, v in sorted(own.items(), key=lambda kv: -kv[1]):
        if v >= 0.005:
            print("  %-20s %6.2f" % (n, v))
    print("  %-20s %6.2f" % ("vidrec total", total))
    print("  %-20s %6.2f   (virtual board, not counted)" % ("vb-* threads", board))
    print("ffmpeg -re -c copy, same streams, MP4 + RTMP: %6.2f %% of one core over %.0f s" % (ff, wall))
    print("ratio vidrec / ffmpeg: %.2f" % (total / ff if ff > 0 else float("inf")))


if __name__ == "__main__":
    main()
