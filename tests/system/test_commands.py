"""Control requests from the host on the serial cable, judged from outside the
board: the exact reply frames, the heartbeat, the saved settings file across a
restart, recordings on a plugged disk (ffprobe), the board clock, the
destination store and RTMP server, and the board's network files.

One board serves the whole module; the tests run in file order and each leaves
the board in a state the next one states at its start."""
import glob
import json
import os
import re
import struct
import subprocess
import time

import pytest

from board import TestBoard, build_frame
from media_probe import decode_errors, whole_pictures

HEART = 0xBB
OWN = 0xE0
# Saved settings at start: check id, rc modes 0 0, bit-rate indexes 0 1,
# input mode 5 (24 fps) with profile 0, storage slot 1 (first USB disk).
START_PARA = bytes([0x5A, 0xA5, 0, 0, 0, 1, 0x05, 1])
DEFAULT_PARA = bytes([0x5A, 0xA5, 0, 0, 1, 2, 0x23, 0])
# Heartbeat bits that other threads own: input signal (byte 20 bit 7) and
# Ethernet link (byte 23 bit 3).
DYNAMIC = {20: 0x80, 23: 0x08}
STEP = 10485760  # bit/s per bit-rate index step of stream 0


@pytest.fixture(scope="module")
def b(sandbox_available, vidrec_path):
    board = TestBoard(program=vidrec_path, files={"userpara": START_PARA})
    board.start()
    try:
        assert board.serial.wait_frame(HEART, timeout=10), "no heartbeat"
        yield board
        # A sanitizer build reports faults on the console and may carry on.
        text = board.console_text()
        assert "runtime error:" not in text and "Sanitizer" not in text, text[-3000:]
    finally:
        board.stop()


def ask(b, cmd, payload=b"", want=None, dev_id=0x31, reserve=bytes(range(1, 10))):
    """Sends a request and returns the reply payload; with `want`, the whole
    reply frame must be exactly the request's header with byte 4 0xE0 and
    that payload."""
    # By device id too: the recorder's own device frames share command numbers
    # with requests (0x67 echoes a stored destination).
    mark = b.serial.mark()
    b.send_frame(cmd, payload, dev_id=dev_id, reserve=reserve)
    r = b.serial.wait_frame(cmd, 3, after=mark, pred=lambda f: f.dev_type == OWN and f.dev_id == dev_id)
    assert r is not None, "no reply to command %d" % cmd
    if want is not None:
        exp = build_frame(cmd, want, dev_type=OWN, dev_id=dev_id, reserve=reserve)
        assert r.raw == exp, "command %d: %s != %s" % (cmd, r.raw.hex(), exp.hex())
    return r.payload


def record(frame):
    assert frame.length == 45 and frame.payload[0] == 0
    rec = bytearray(frame.payload[1:])
    for i, m in DYNAMIC.items():
        rec[i] &= ~m & 0xFF
    return bytes(rec)


def next_beat(b, pred=lambda r: True, timeout=3.0):
    f = b.serial.wait_frame(HEART, timeout=timeout, after=b.serial.mark(), pred=lambda f: pred(record(f)))
    return record(f) if f else None


def bits(rec, byte, shift, width):
    return (rec[byte] >> shift) & ((1 << width) - 1)


def app_file(b, rel):
    with open(b.app_path(rel), "rb") as f:
        return f.read()


def ffprobe(path):
    out = subprocess.run(["ffprobe", "-v", "error", "-show_streams", "-show_format", "-of", "json", path],
                         capture_output=True, text=True, timeout=30)
    assert out.returncode == 0, out.stderr
    return json.loads(out.stdout)


def recordings(b, part="sda1"):
    return sorted(glob.glob(os.path.join(b.disk_dir(part), "*")))


def wait_files(b, pred, timeout, part="sda1"):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        names = recordings(b, part)
        if pred(names):
            return names
        time.sleep(0.1)
    return recordings(b, part)


def board_mac(b):
    r = b.exec(["ip", "-o", "link", "show", "eth0"])
    m = re.search(r"link/ether ([0-9a-f:]{17})", r.stdout)
    assert m, r.stdout + r.stderr
    return bytes(int(x, 16) for x in m.group(1).split(":"))


def test_heartbeat_carries_the_settings_read_at_start(b):
    f = b.serial.wait_frame(HEART, timeout=3, after=b.serial.mark())
    assert f is not None
    assert (f.length, f.dev_type, f.dev_id, f.if_type, f.reserve, f.version) == (45, OWN, 0, 0, bytes(9), 0)
    assert record(f) == struct.pack("<HBBHHII", 0x0910, 0x26, 0, 0, 0, 0, 0) + bytes([
        0, 0,        # rate-control modes start at 0
        0, 1,        # bit-rate indexes from the file
        0,           # not recording
        1 << 3,      # storage slot 1, no disk
        0x05,        # input mode 5, profile 0
        0,           # destination index 0
    ])


def test_identity_status_and_silent_commands(b):
    assert b.wait_board_ip(20), "no address from DHCP"
    mark = b.console_mark()
    ask(b, 5, b"", want=b"\x00")
    assert b.wait_console(r"UART TEST SET IP\.", timeout=2, start=mark)
    ask(b, 14, b"\x12\x34", want=b"")
    assert b.wait_console(r"CMD_READ_ENGLISH_FLAG\. 12 34", timeout=2, start=mark)
    ask(b, 32, want=b"\x00\x10\x09")
    ask(b, 33, want=b"\x00\x26")
    for c in (37, 51, 98, 120):
        ask(b, c, b"\x01\x02", want=b"")
    for c in (112, 113):
        ask(b, c, want=b"\x00")
    ask(b, 97, want=b"\x00\x00")
    # The input signal the heartbeat carries is the one the command reports.
    f = b.serial.wait_frame(HEART, timeout=3, after=b.serial.mark())
    ask(b, 83, want=bytes([0, f.payload[1 + 20] >> 7]))

    mac = board_mac(b)
    ask(b, 255, want=b"\x00EnCoder\x2d\x26\x2d" + mac[2:6])

    ip = bytes(int(x) for x in b.board_ip().split("."))
    net = ask(b, 36)
    assert len(net) == 29 and net[0] == 0
    assert net[2:6] == ip
    assert net[6:10] == bytes([255, 255, 255, 0])
    assert net[14:20] == mac
    assert net[28] == 1  # the board runs DHCP

    # Commands below 5 and unknown ones: error 1. Byte 4 zero: no answer at
    # all; nor for 187, the heartbeat's own command, from the host.
    for c in (0, 4, 6, 200):
        ask(b, c, b"\x01", want=b"\x01")
    mark = b.serial.mark()
    b.send_frame(32, dev_type=0)
    b.send_frame(HEART, dev_type=1)
    ask(b, 33, want=b"\x00\x26")  # answered after the two ahead of it were handled
    assert [f.cmd for f in b.serial.frames()[mark:] if f.dev_type == OWN and f.cmd != HEART] == [33]


def test_live_settings_change_heartbeat_but_not_the_file(b):
    saved = app_file(b, "userpara")
    assert saved == START_PARA
    before = next_beat(b)
    ask(b, 48, b"\x01\x01", want=b"\x00")   # rc mode of stream 1
    ask(b, 99, b"\x03", want=b"\x00")       # bit 0 only
    ask(b, 100, b"\x01", want=b"\x00")
    mark = b.console_mark()
    ask(b, 107, b"\x00\x0d", want=b"\x00")  # 13 & 7 = 5
    assert b.wait_console(r"0  d \n", timeout=2, start=mark)
    ask(b, 114, b"\x00\x02", want=b"")      # rotation, no error byte
    rec = next_beat(b, lambda r: r[17] == 1 and bits(r, 23, 0, 3) == 5)
    assert rec is not None, "changes not in the heartbeat"
    assert rec[16:18] == b"\x00\x01"
    assert bits(rec, 21, 0, 2) == 0b11      # bitstream, savestream
    assert bits(rec, 22, 6, 2) == 2
    # Nothing else moved.
    changed = [i for i in range(24) if rec[i] != before[i]]
    assert set(changed) <= {17, 21, 22, 23}, changed
    assert app_file(b, "userpara") == saved
    ask(b, 48, b"\x01\x00", want=b"\x00")
    ask(b, 99, b"\x00", want=b"\x00")
    ask(b, 100, b"\x00", want=b"\x00")


def test_bad_requests_change_nothing(b):
    before = next_beat(b)
    para = app_file(b, "userpara")
    cases = [
        # short: fewer payload bytes than the command reads -> 2
        (49, b"\x00", b"\x02"), (25, b"", b"\x02"), (84, b"\x21\x03", b"\x02"),
        (96, b"", b"\x02"), (102, b"\x01", b"\x02"), (103, bytes(100), b"\x02"),
        (34, bytes(26), b"\x02"), (35, b"\x0a\x01", b"\x02"),
        # out of range -> 3
        (48, b"\x02\x05", b"\x03"), (49, b"\x09\x05", b"\x03"), (50, b"\x02\x01", b"\x03"),
        (25, b"\x04", b"\x03"), (25, b"\x0f", b"\x03"),
        (102, b"\x02\x00", b"\x03"), (102, b"\x01\x14", b"\x03"),
        (103, bytes([9]) + bytes(787), b"\x03"),
    ]
    for cmd, payload, err in cases:
        ask(b, cmd, payload, want=err)
    # Oversized: a length beyond 1056 is never a frame; the next one is answered.
    mark = b.serial.mark()
    b.serial_write(build_frame(49, b"\x00\x07" + bytes(1036), length=1057))
    ask(b, 33, want=b"\x00\x26")
    assert [f.cmd for f in b.serial.frames()[mark:] if f.cmd != HEART] == [33]
    after = next_beat(b)
    assert after == before
    assert app_file(b, "userpara") == para
    assert not os.path.exists(b.app_path("url/9"))


def test_storage_queries_follow_the_selected_disk(b):
    # No disk yet: error 2 with zero sizes; recording cannot start.
    ask(b, 80, want=b"\x02" + bytes(6))
    ask(b, 81, want=b"\x02\x00\x00")
    ask(b, 82, want=b"\x02\x00\x00")
    ask(b, 96, b"\x01", want=b"\x02")
    assert bits(next_beat(b), 20, 1, 1) == 0
    # A big disk in slot 2: sizes are the low 16 bits of the MB counts.
    b.plug_disk("sdb", size_mb=70000, removable=False)
    b.plug_disk("sda", size_mb=2048)
    assert next_beat(b, lambda r: struct.unpack_from("<I", r, 8)[0] == 2048, timeout=8), "sda not seen"
    ask(b, 80, want=b"\x00" + struct.pack("<HHH", 2048, 0, 2048))
    ask(b, 81, want=b"\x00\x00\x00")
    ask(b, 82, want=b"\x00" + struct.pack("<H", 2048))
    with open(os.path.join(b.disk_dir("sda1"), "fill"), "wb") as f:
        f.write(bytes(100 << 20))
    try:
        ask(b, 80, want=b"\x00" + struct.pack("<HHH", 2048, 100, 1948))
        ask(b, 81, want=b"\x00" + struct.pack("<H", 100))
        ask(b, 82, want=b"\x00" + struct.pack("<H", 1948))
    finally:
        os.unlink(os.path.join(b.disk_dir("sda1"), "fill"))
    # Slot 2 chosen: saved at once, and the queries turn to that disk.
    ask(b, 79, b"\x02", want=b"\x00")
    assert app_file(b, "userpara") == START_PARA[:7] + b"\x02"
    assert next_beat(b, lambda r: struct.unpack_from("<I", r, 8)[0] == 70000, timeout=8), "sdb not seen"
    # Sizes above 65535 MB read as 65535, never wrapped.
    ask(b, 80, want=b"\x00" + struct.pack("<HHH", 0xFFFF, 0, 0xFFFF))
    ask(b, 82, want=b"\x00" + struct.pack("<H", 0xFFFF))
    ask(b, 79, b"\x05", want=b"\x00")  # 5 & 3 = 1: back to sda
    assert app_file(b, "userpara") == START_PARA
    assert next_beat(b, lambda r: struct.unpack_from("<I", r, 8)[0] == 2048, timeout=8)


def probe_streams(path):
    info = ffprobe(path)
    kinds = {s["codec_type"]: s for s in info["streams"]}
    assert set(kinds) == {"video", "audio"}, info["streams"]
    assert kinds["video"]["codec_name"] == "h264"
    assert kinds["audio"]["codec_name"] == "aac"
    return kinds, float(info["format"]["duration"])


def video_rate(v):
    """Bit rate of the video track at its nominal frame rate: bits per picture
    times pictures per second. The encoder's rate control spends the set rate
    as a budget per picture; when the virtual board runs slower than real
    time (sanitizer builds) fewer pictures arrive per second and the plain
    bits per second fall by that factor, the budget per picture does not."""
    num, den = (int(x) for x in v["r_frame_rate"].split("/"))
    bits = int(v["bit_rate"]) * float(v["duration"])
    return bits / int(v["nb_frames"]) * num / den


def test_recording_started_paused_resumed_stopped_is_one_playable_mp4(b):
    assert recordings(b) == []
    ask(b, 96, b"\x01", want=b"\x00")
    assert next_beat(b, lambda r: bits(r, 20, 3, 2) == 1), "not recording"
    ask(b, 97, want=b"\x00\x01")
    time.sleep(3)
    ask(b, 101, b"\x01", want=b"\x00")
    ask(b, 97, want=b"\x00\x02")
    rec = next_beat(b)
    assert bits(rec, 20, 3, 2) == 2 and bits(rec, 20, 5, 1) == 1
    time.sleep(3)
    ask(b, 101, b"\x00", want=b"\x00")
    ask(b, 97, want=b"\x00\x01")
    time.sleep(3)
    t_off = time.monotonic()
    ask(b, 96, b"\x00", want=b"\x00")
    names = wait_files(b, lambda n: n and all(x.endswith(".mp4") for x in n), 5)
    assert time.monotonic() - t_off < 2.5, "stop waited more than a GOP"  # GOP is one second
    assert next_beat(b, lambda r: bits(r, 20, 1, 1) == 0 and bits(r, 20, 3, 2) == 0)
    ask(b, 97, want=b"\x00\x00")
    assert len(names) == 1 and re.search(r"/video_\d{14}\.mp4$", names[0]), names
    kinds, dur = probe_streams(names[0])
    # 3 s + 3 s recorded; the start waits for a key frame and the stop acts at
    # the next one (GOP 1 s); the 3 s pause leaves no time in the file.
    assert 4.5 <= dur <= 7.6, dur
    v = kinds["video"]
    assert (v["width"], v["height"]) == (1920, 1080)
    rate = video_rate(v)
    # Index 0: 10485760 bit/s (see the next test for the tolerance).
    assert abs(rate - STEP) <= 0.15 * STEP, rate
    assert decode_errors(names[0]) == ""
    whole_pictures(names[0])


def test_board_clock_is_set_and_this_machine_untouched(b):
    here = time.time()
    ask(b, 84, bytes([0x21, 0x03, 0x15, 0x00, 0x10, 0x30, 0x00]), want=b"\x00\x01")
    want = time.mktime((2021, 3, 15, 10, 30, 0, 0, 0, 0))
    assert abs(b.board_time() - want) < 2.0, b.board_time() - want
    assert abs(time.time() - here) < 2.0
    assert abs(b.clock_offset_ns() / 1e9 - (want - here)) < 2.0
    r = b.exec(["date", "+%Y-%m-%d %H:%M"])
    assert r.stdout.strip() == "2021-03-15 10:30", r.stdout


def test_bit_rate_index_sets_next_recording_rate(b):
    before = set(recordings(b))
    ask(b, 49, b"\x00\x01", want=b"\x00")
    # Saved at once: bit-rate index 1 for stream 0.
    assert app_file(b, "userpara") == START_PARA[:4] + b"\x01\x01" + START_PARA[6:]
    assert next_beat(b, lambda r: r[18:20] == b"\x01\x01")
    ask(b, 96, b"\x01", want=b"\x00")
    assert next_beat(b, lambda r: bits(r, 20, 3, 2) == 1)
    time.sleep(5)
    ask(b, 96, b"\x00", want=b"\x00")
    names = wait_files(b, lambda n: len(n) == len(before) + 1 and all(x.endswith(".mp4") for x in n), 5)
    new = sorted(set(names) - before)
    assert len(new) == 1, names
    # Named after the board clock set by the previous test.
    assert os.path.basename(new[0]).startswith("video_20210315103"), new[0]
    kinds, dur = probe_streams(new[0])
    rate = video_rate(kinds["video"])
    # The encoder's rate control holds the average within its one-second
    # buffer; over about five seconds that is within +-20 %, and in practice
    # within a few percent. +-15 % still tells index 1 (2 steps) from 0 or 2.
    assert abs(rate - 2 * STEP) <= 0.15 * 2 * STEP, rate
    ask(b, 49, b"\x00\x00", want=b"\x00")


def test_saved_settings_survive_a_restart(b):
    ask(b, 50, b"\x00\x06", want=b"\x00")  # profile 6 & 3 = 2, not written yet
    assert app_file(b, "userpara") == START_PARA
    ask(b, 49, b"\x01\x07", want=b"\x00")  # stream 1 index 7: saved, with the profile
    assert app_file(b, "userpara") == bytes([0x5A, 0xA5, 0, 0, 0, 7, 0x25, 1])
    ask(b, 114, b"\x00\x01", want=b"")
    ask(b, 48, b"\x00\x01", want=b"\x00")
    mark = b.console_mark()
    ask(b, 25, b"\x02", want=b"\x00")      # 1080p25
    assert b.wait_console(r"reso  2  \n", timeout=2, start=mark)
    expect = bytes([0x5A, 0xA5, 0, 0, 0, 7, 0x22, 1])
    assert app_file(b, "userpara") == expect
    # The encoders run at the new mode's rate.
    end = time.monotonic() + 10
    while "fps 25/1" not in b.vb("venc-stats 0") and time.monotonic() < end:
        time.sleep(0.2)
    assert "fps 25/1" in b.vb("venc-stats 0")

    b.stop_program()
    b.start_program()
    rec = next_beat(b, timeout=10)
    assert rec is not None
    assert app_file(b, "userpara") == expect
    assert rec[16:18] == b"\x00\x00"        # rc modes are never saved
    assert rec[18:20] == b"\x00\x07"
    assert bits(rec, 22, 0, 4) == 2 and bits(rec, 22, 4, 2) == 2
    assert bits(rec, 21, 3, 2) == 1
    # Same mode again: nothing is rebuilt or written.
    os.utime(b.app_path("userpara"), (0, 0))
    ask(b, 25, b"\x02", want=b"\x00")
    assert os.stat(b.app_path("userpara")).st_mtime == 0


def test_changes_that_cannot_be_saved_are_answered_as_save_failures(b):
    saved = app_file(b, "userpara")
    path = b.app_path("userpara")
    os.remove(path)
    os.mkdir(path)  # the settings file can no longer be written
    try:
        # Applied at once (the heartbeat shows them) but not saved: 19, the
        # code of a file that cannot be created.
        ask(b, 49, b"\x00\x03", want=bytes([19]))
        assert next_beat(b, lambda r: r[18] == 3)
        ask(b, 25, b"\x03", want=bytes([19]))
        assert next_beat(b, lambda r: bits(r, 22, 0, 4) == 3, timeout=10)
    finally:
        os.rmdir(path)
        with open(path, "wb") as f:
            f.write(saved)
    ask(b, 49, bytes([0, saved[4]]), want=b"\x00")
    ask(b, 25, bytes([saved[6] & 15]), want=b"\x00")
    assert app_file(b, "userpara") == saved


def test_destinations_stored_read_and_published(b):
    url = b.rtmp_url("cmdsys").encode()
    rec = bytearray(788)
    rec[0] = 2
    rec[1] = 4
    rec[2:6] = b"user"
    struct.pack_into("<H", rec, 18, len(url))
    rec[20:20 + len(url)] = url
    mark = b.serial.mark()
    ask(b, 103, bytes(rec), want=b"\x00")
    echo = b.serial.wait_frame(0x67, timeout=2, after=mark, pred=lambda f: f.dev_id == 0)
    assert echo is not None and echo.payload == b"\x00" + bytes(rec)
    assert app_file(b, "url/2") == bytes(rec)
    ask(b, 106, b"\x02", want=b"\x00" + bytes(rec))
    ask(b, 106, b"\x05", want=bytes([20]) + bytes(rec))  # no file: the live record stays
    ask(b, 102, b"\x01\x05", want=bytes([20]))
    assert bits(next_beat(b), 21, 2, 1) == 0
    ask(b, 102, b"\x01\x02", want=b"\x00")
    assert next_beat(b, lambda r: bits(r, 21, 2, 1) == 1)
    path = b.wait_rtmp_recording(min_bytes=20000, timeout=15)
    assert path and "cmdsys" in os.path.basename(path), b.rtmp_recordings()
    ask(b, 102, b"\x00\x00", want=b"\x00")
    assert next_beat(b, lambda r: bits(r, 21, 2, 1) == 0)


def test_network_commands_change_board_files_and_mac(b):
    ask(b, 35, bytes([10, 1, 1, 53]), want=b"\x00")
    with open(b.path("/etc/resolv.conf")) as f:
        lines = f.read().splitlines()
    assert len(lines) == 2 and lines[0] == "nameserver 10.1.1.53", lines
    fixed = bytes(int(x) for x in lines[1].split()[1].split("."))
    net = ask(b, 36)
    assert net[20:28] == bytes([10, 1, 1, 53]) + fixed
    old = board_mac(b)
    rec = bytearray(27)
    rec[13:19] = bytes([0x11, 0x22, 0x01, 0x02, 0x03, 0x04])
    ask(b, 34, bytes(rec), want=b"\x00\x01")
    assert board_mac(b) == bytes([0x48, 0x49, 1, 2, 3, 4]) != old
    rec[18] = 9
    ask(b, 34, bytes(rec), want=b"\x00\x01")  # only the first of the run acts
    assert board_mac(b) == bytes([0x48, 0x49, 1, 2, 3, 4])


def test_factory_reset_writes_defaults_and_keeps_live_settings(b):
    live = next_beat(b)
    ask(b, 11, b"\x00", want=b"\x00")
    assert app_file(b, "userpara") == DEFAULT_PARA
    for i in range(8):
        data = app_file(b, "url/%d" % i)
        assert len(data) == 788 and data[0] == i
        assert data[1:6] == b"\x04NULL" and data[18:25] == b"\x04\x00NULL\x00"
        assert data[6:18] == bytes(12) and data[25:] == bytes(763)
    assert next_beat(b) == live
