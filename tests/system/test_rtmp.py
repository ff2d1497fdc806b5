"""RTMP publishing of the live stream from the virtual board to the lan's RTMP
server, switched on from the serial cable as the host does (destination by
command 103, publishing by command 102): what the server recorded, the
status frames the host sees, and a server that goes away and comes back
while a recording runs."""
import os
import signal
import socket
import statistics
import struct
import subprocess
import tempfile
import threading
import time

import pytest

from media_probe import (decode_errors, ffprobe, flv_frame_nums, flv_tags, gop_breaks, packet_times, stream,
                         whole_pictures)
from test_recording import GOP_PICTURES, check_recording

HEART = 0xBB
SD = "mmcblk0"
PART = "mmcblk0p1"
RTMP_STATUS = 0x68
ERROR = 0xEE
FRAME = 1 / 30.0

VIDEO_TAG, AUDIO_TAG = 9, 8


def destination(index, url, user=b"user"):
    url = url.encode()
    return bytes([index, len(user)]) + user.ljust(16, b"\0") + struct.pack("<H", len(url)) + url.ljust(768, b"\0")


def heart_pred(fn):
    return lambda f: fn(f.payload)


def rtmp_on(payload):
    return bool(payload[22] & 0x04)


def request_ok(b, cmd, payload):
    r = b.request(cmd, payload)
    assert r is not None, "no reply to command %d" % cmd
    assert r.payload[0] == 0, "command %d refused: %s" % (cmd, r.payload[:4].hex())
    return r


def status_after(b, mark, value, timeout):
    return b.serial.wait_frame(RTMP_STATUS, timeout=timeout, after=mark, pred=lambda f: f.payload == bytes([0, value]))


def nginx_pid(b):
    with open(os.path.join(b.dir, "lan", "nginx.pid")) as f:
        return int(f.read())


def start_nginx(b):
    """The lan's RTMP server again, as the board's set-up starts it."""
    lan = os.path.join(b.dir, "lan")
    b.lan_popen(["nginx", "-p", lan, "-c", os.path.join(lan, "nginx.conf"), "-e", os.path.join(lan, "nginx-error.log")],
                stdout=open(os.devnull, "wb"), stderr=open(os.path.join(lan, "nginx.out"), "ab"))
    end = time.monotonic() + 10
    while time.monotonic() < end:
        if os.path.exists(os.path.join(lan, "nginx.pid")) and _port_open(b):
            return
        time.sleep(0.05)
    raise AssertionError("the RTMP server did not come back")


def _port_open(b):
    import socket

    def probe():
        with socket.socket() as s:
            s.settimeout(0.5)
            return s.connect_ex(("192.168.1.1", 1935)) == 0
    return b.in_lan(probe)


def whole_tags(path):
    """The FLV file cut after its last whole tag (the server may be writing)."""
    with open(path, "rb") as f:
        raw = f.read()
    tags = flv_tags(path)
    end = 13 + sum(11 + len(body) + 4 for _, _, body in tags)
    fd, out = tempfile.mkstemp(suffix=".flv")
    os.write(fd, raw[:end])
    os.close(fd)
    return out, tags


def check_stream_start(tags):
    """A connection's stream starts with both sequence headers and a key frame,
    and no audio frame goes before that picture."""
    video = [(ts, body) for kind, ts, body in tags if kind == VIDEO_TAG]
    audio = [(ts, body) for kind, ts, body in tags if kind == AUDIO_TAG]
    assert video[0][1][:2] == b"\x17\x00", "the first video tag is not an AVC sequence header"
    first_pic = next(body for _, body in video if body[1] == 1)
    assert first_pic[0] == 0x17, "the first picture is not a key frame"
    at = next(i for i, (kind, _, body) in enumerate(tags) if kind == VIDEO_TAG and body[1] == 1)
    early = [body[:2] for kind, _, body in tags[:at] if kind == AUDIO_TAG]
    assert early in ([], [b"\xaf\x00"]), "audio before the first picture"
    assert audio[0][1][:4] == b"\xaf\x00\x11\x90", "the first audio tag is not the AAC-LC 48 kHz stereo header"
    avc = video[0][1]
    # avcC of the live stream: version 1, 4-byte lengths, one SPS, one PPS.
    assert avc[5] == 1 and avc[9] == 0xFF and avc[10] == 0xE1


def av_skews(tags, window=2000):
    """Per window of stream time where neither track has a gap: the median of
    each AAC frame's time less that of the picture sent before it. Frames go
    out in the order they were made, so this stays put while both clocks
    follow capture time."""
    v, runs, gap = None, {}, set()
    for kind, ts, body in tags:
        if body[1] != 1:
            continue
        if kind == VIDEO_TAG:
            if v is not None and ts - v > 100:
                gap.update(range(v // window, ts // window + 1))
            v = ts
        elif v is not None:
            runs.setdefault(ts // window, []).append(ts - v)
    return [statistics.median(d) for w, d in sorted(runs.items()) if w not in gap and len(d) > 40]


def check_av(tags):
    """Audio sits within a frame of video and keeps its place to within half
    a frame from the first third of the stream to the last (each window, with
    the board's own latency jitter, within two)."""
    skews = av_skews(tags)
    n = max(1, len(skews) // 3)
    assert len(skews) >= 3, skews
    assert abs(statistics.median(skews)) <= FRAME * 1000, skews
    assert abs(statistics.median(skews[-n:]) - statistics.median(skews[:n])) <= FRAME * 500, skews
    assert all(abs(k - statistics.median(skews)) <= FRAME * 2000 for k in skews), skews


def check_clocks(tags, seconds, skipped):
    """Clocks from the capture time of the first picture: a picture step is
    whole frame periods (more than one only where the board skipped slots,
    b.picture_counts(1)), AAC frames 21/22 ms apart, the video clock keeps
    pace with the time published, and audio keeps its place against video."""
    vts = [ts for kind, ts, body in tags if kind == VIDEO_TAG and body[1] == 1]
    ats = [ts for kind, ts, body in tags if kind == AUDIO_TAG and body[1] == 1]
    assert vts[0] == 0, vts[:3]
    slots = [round((vts[i + 1] - vts[i]) / (FRAME * 1000)) for i in range(len(vts) - 1)]
    assert all(abs(vts[i + 1] - vts[i] - k * FRAME * 1000) < 1.5 for i, k in enumerate(slots)), "off the frame grid"
    assert sum(k - 1 for k in slots) <= skipped, (sum(k - 1 for k in slots), skipped)
    asteps = {ats[i + 1] - ats[i] for i in range(len(ats) - 1)}
    assert asteps <= {21, 22}, sorted(asteps)
    # Nothing dropped on the way: every picture encoded is there (the
    # encoder numbers them; a key frame every 30).
    nums, bits = flv_frame_nums(tags)
    assert gop_breaks(nums, GOP_PICTURES, bits) == [], "pictures lost by the publisher"
    assert -1.5 < vts[-1] / 1000 - seconds < 1.5, (vts[-1], seconds, skipped)
    check_av(tags)
    return vts, ats


@pytest.fixture
def live_board(board):
    board.plug_disk(SD, size_mb=2048)
    assert board.serial.wait_frame(HEART, timeout=30, pred=lambda f: f.payload[21] & 0x80
                                   and (f.payload[22] >> 5) & 3 == 2), "encoder or SD card not ready"
    return board


def test_publish_survives_a_server_restart_and_a_parallel_recording_loses_nothing(live_board):
    b = live_board
    mark = b.serial.mark()
    request_ok(b, 103, destination(0, b.rtmp_url()))
    echo = b.serial.wait_frame(0x67, timeout=3, after=mark)
    assert echo is not None and echo.payload == b"\x00" + destination(0, b.rtmp_url())

    live0 = b.picture_counts(1)[1]
    mark = b.serial.mark()
    request_ok(b, 102, b"\x01\x00")
    up = status_after(b, mark, 1, 10)
    assert up is not None, "no connect status 0x68 {0,1}"
    t_up = up.t
    assert [f for f in b.serial.frames()[mark:] if f.cmd == ERROR] == [], "error frames on a good connection"

    time.sleep(20)
    # A recording runs across the outage.
    rec0 = b.picture_counts(0)[1]
    assert b.request(0x60, b"\x01").payload == b"\x00"
    time.sleep(10)
    first = b.rtmp_recordings()
    assert len(first) == 1, first
    published = time.monotonic() - t_up
    live_skipped = b.picture_counts(1)[1] - live0

    # The server goes away.
    mark = b.serial.mark()
    os.kill(nginx_pid(b), signal.SIGTERM)
    down = status_after(b, mark, 0, 10)
    assert down is not None, "no disconnect status 0x68 {0,0}"
    # The failed send (26), then the two failed connection attempts (24),
    # after which publishing is off.
    off = b.serial.wait_frame(HEART, timeout=10, after=mark, pred=lambda f: not rtmp_on(f.payload))
    assert off is not None, "publishing never switched off"
    errors = [f.payload[0] for f in b.serial.frames()[mark:] if f.cmd == ERROR and f.t <= off.t]
    assert errors[:1] == [26] and errors.count(24) == 2, errors
    assert b.program_running()

    path, tags = whole_tags(first[0])
    try:
        info = ffprobe(path)
    finally:
        os.unlink(path)
    v, a = stream(info, "video"), stream(info, "audio")
    assert (v["codec_name"], v["width"], v["height"]) == ("h264", 1280, 720)
    assert (a["codec_name"], int(a["sample_rate"]), a["channels"]) == ("aac", 48000, 2)
    check_stream_start(tags)
    check_clocks(tags, published, live_skipped)

    # The server comes back; the host switches publishing on again.
    start_nginx(b)
    live0 = b.picture_counts(1)[1]
    mark = b.serial.mark()
    request_ok(b, 102, b"\x01\x00")
    again = status_after(b, mark, 1, 10)
    assert again is not None, "no connect status after the server came back"
    time.sleep(6)
    published = time.monotonic() - again.t
    live_skipped = b.picture_counts(1)[1] - live0
    mark = b.serial.mark()
    request_ok(b, 102, b"\x00\x00")
    assert status_after(b, mark, 0, 5) is not None, "no disconnect status after switching publishing off"
    time.sleep(1)
    assert [f.payload for f in b.serial.frames()[mark:] if f.cmd == ERROR] == [], "errors after switching off"
    assert b.request(0x60, b"\x00").payload == b"\x00"
    assert b.serial.wait_frame(HEART, timeout=5, after=b.serial.mark(),
                               pred=lambda f: (f.payload[21] >> 3) & 3 == 0), "recording did not close"
    rec_skipped = b.picture_counts(0)[1] - rec0

    files = b.rtmp_recordings()
    assert len(files) == 2, files
    path, tags = whole_tags(files[1])
    try:
        info = ffprobe(path)
    finally:
        os.unlink(path)
    assert stream(info, "video")["width"] == 1280
    check_stream_start(tags)
    check_clocks(tags, published, live_skipped)

    # The recording lost no picture while the publisher failed and reconnected.
    mp4 = [n for n in os.listdir(b.disk_dir(PART)) if n.endswith(".mp4")]
    assert len(mp4) == 1, mp4
    path = os.path.join(b.disk_dir(PART), mp4[0])
    info = ffprobe(path, packets=True)
    vs = stream(info, "video")
    vp = packet_times(info, vs["index"])
    missing = check_recording(path, [t for t, _ in vp], rec_skipped)
    duration = float(vs["duration"])
    assert abs(len(vp) + missing - duration * 30) <= 1, (len(vp), duration)
    assert duration > 15


def in_board_net(b, *argv):
    subprocess.run(["ip", "netns", "exec", b.board_ns] + list(argv), check=True, capture_output=True)


def test_live_clocks_follow_capture_time_through_a_stall_and_a_rate_change(live_board):
    b = live_board
    request_ok(b, 103, destination(0, b.rtmp_url()))
    mark = b.serial.mark()
    request_ok(b, 102, b"\x01\x00")
    up = status_after(b, mark, 1, 10)
    assert up is not None, "no connect status 0x68 {0,1}"
    time.sleep(6)
    # A 1 Mbit/s uplink under the 3 Mbit/s stream, with a small send buffer:
    # the stream list fills and drops video to key pictures, audio while full.
    console = b.console_mark()
    in_board_net(b, "sysctl", "-w", "net.ipv4.tcp_wmem=4096 16384 65536")
    in_board_net(b, "tc", "qdisc", "add", "dev", "eth0", "root", "tbf", "rate", "1mbit", "burst", "32kbit",
                 "latency", "500ms")
    time.sleep(12)
    in_board_net(b, "tc", "qdisc", "del", "dev", "eth0", "root")
    assert b.wait_console(r"frame list full: \d+ frames dropped", timeout=10, start=console), "the list never dropped"
    time.sleep(6)
    r = b.request(25, b"\x01", timeout=10)  # input mode 1080p50 while publishing
    assert r is not None and r.payload[0] == 0, r
    time.sleep(8)
    published = time.monotonic() - up.t
    mark = b.serial.mark()
    request_ok(b, 102, b"\x00\x00")
    assert status_after(b, mark, 0, 5) is not None

    tags = flv_tags(b.rtmp_recordings()[0])
    check_stream_start(tags)
    vts = [ts for kind, ts, body in tags if kind == VIDEO_TAG and body[1] == 1]
    ats = [ts for kind, ts, body in tags if kind == AUDIO_TAG and body[1] == 1]
    # Both clocks kept pace with capture time over the drops and the new rate,
    # and audio with video, window by window.
    check_av(tags)
    assert -1.5 < vts[-1] / 1000 - published < 1.5, (vts[-1], published)
    assert abs(ats[-1] - vts[-1]) < 500, (ats[-1], vts[-1])
    assert statistics.mode(vts[i + 1] - vts[i] for i in range(len(vts) - 100, len(vts) - 1)) == 20, "not 50 fps"


def test_a_request_while_connecting_and_a_destination_switch_give_whole_streams(live_board):
    b = live_board
    # The gateway drops what is sent to an address beyond it: a connect there
    # gets no answer at all.
    request_ok(b, 103, destination(0, "rtmp://10.255.0.1:1935/live/void"))
    request_ok(b, 103, destination(1, b.rtmp_url("first")))
    request_ok(b, 103, destination(2, b.rtmp_url("second")))
    mark = b.serial.mark()
    t0 = time.monotonic()
    request_ok(b, 102, b"\x01\x00")
    time.sleep(1)
    request_ok(b, 102, b"\x01\x01")  # the host corrects the destination while connecting
    up = status_after(b, mark, 1, 15)
    assert up is not None, "the request made while connecting was lost"
    errors = [(f.payload[0], f.t - t0) for f in b.serial.frames()[mark:] if f.cmd == ERROR]
    assert [e for e, _ in errors] == [24] and errors[0][1] < 7, errors
    time.sleep(4)
    mark = b.serial.mark()
    request_ok(b, 102, b"\x01\x02")  # another destination while publishing
    time.sleep(6)
    request_ok(b, 102, b"\x00\x00")
    assert status_after(b, mark, 0, 5) is not None
    time.sleep(1)
    assert [f.payload for f in b.serial.frames()[mark:] if f.cmd == ERROR] == [], "errors on a switch"
    files = b.rtmp_recordings()
    assert [os.path.basename(p).split("-")[0] for p in files] == ["first", "second"], files
    check_stream_start(flv_tags(files[1]))
    assert whole_pictures(files[1]) > 100
    assert decode_errors(files[1]) == ""


class PingOnlyServer:
    """In lan: on its first connection completes the RTMP handshake, then only
    sends a ping request every 2 s and never answers; later connections it
    closes at once. Keeps when each connection was accepted and closed."""
    PING = bytes([2, 0, 0, 0, 0, 0, 6, 4, 0, 0, 0, 0, 0, 6, 0, 0, 0, 0])  # user control, event 6

    def __init__(self, b, port):
        self.sock = b.in_lan(socket.create_server, ("192.168.1.1", port))
        self.conns = []  # [accepted, closed or None]
        self.cond = threading.Condition()
        threading.Thread(target=self._serve, daemon=True).start()

    def _serve(self):
        while True:
            try:
                c, _ = self.sock.accept()
            except OSError:
                return
            with self.cond:
                self.conns.append([time.monotonic(), None])
            with c:
                if len(self.conns) == 1:
                    self._ping_only(c)
            with self.cond:
                self.conns[-1][1] = time.monotonic()
                self.cond.notify_all()

    def _ping_only(self, c):
        try:
            c1 = c.recv(1537, socket.MSG_WAITALL)[1:]
            c.sendall(b"\x03" + bytes(1536) + c1)  # S0, S1 (time 0, zero bytes), S2 echoes C1
            c.settimeout(2)
            while True:  # C2, the connect command and pongs go unanswered
                try:
                    if not c.recv(4096):
                        return
                except socket.timeout:
                    c.sendall(self.PING)
        except OSError:
            return

    def wait(self, pred, timeout):
        with self.cond:
            self.cond.wait_for(lambda: pred(self.conns), timeout)
            return [list(t) for t in self.conns]


def test_an_attempt_against_a_server_that_only_pings_ends_within_the_receive_time_out(live_board):
    b = live_board
    server = PingOnlyServer(b, 1936)
    try:
        request_ok(b, 103, destination(0, "rtmp://192.168.1.1:1936/live/ping"))
        mark = b.serial.mark()
        request_ok(b, 102, b"\x01\x00")
        conns = server.wait(lambda cs: cs and cs[0][1] is not None, 40)
        assert conns and conns[0][1] is not None, "the attempt was still open after 40 s: %s" % conns
        accepted, closed = conns[0]
        off = b.serial.wait_frame(HEART, timeout=10, after=mark, pred=lambda f: not rtmp_on(f.payload))
        assert off is not None, "publishing never switched off"
    finally:
        server.sock.close()
    # The first attempt waited for the replies to connect for its 30 s and no
    # longer; the second found the server closing at once.
    errors = [(f.payload[0], f.t) for f in b.serial.frames()[mark:] if f.cmd == ERROR and f.t <= off.t]
    assert [e for e, _ in errors] == [25, 24], errors
    assert 28 < closed - accepted < 33, closed - accepted
    assert errors[0][1] - accepted < 33, errors[0][1] - accepted
    assert len(server.wait(lambda cs: len(cs) == 2, 0)) == 2
