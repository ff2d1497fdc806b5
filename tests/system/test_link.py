"""The serial control link and the storage monitor on the virtual board, judged
from the serial cable and the board's disks: the heartbeat, replies to requests,
damaged frames, bursts, and disks plugged into the fake partition list."""
import struct
import time

import pytest

from board import build_frame

HEART = 0xBB

# Saved settings: check id, rc modes 0 0, bit-rate indexes 3 4,
# input mode 5 | profile 1 << 4 | rotation 2 << 6, storage slot.
def userpara(slot):
    return bytes([0x5A, 0xA5, 0, 0, 3, 4, 0x95, slot])


# Bits of the heartbeat that other threads own and change at run time: the
# encoder's input state (byte 20 bit 7) and the Ethernet link (byte 23 bit 3).
DYNAMIC = {20: 0x80, 23: 0x08}


def settings_of(frame):
    """The 24-byte settings record of a heartbeat, with the run-time status
    bits of other threads cleared."""
    assert frame.length == 45 and frame.dev_type == 0xE0 and frame.dev_id == 0
    assert frame.if_type == 0 and frame.reserve == bytes(9)
    assert frame.payload[0] == 0
    rec = bytearray(frame.payload[1:])
    for i, m in DYNAMIC.items():
        rec[i] &= ~m & 0xFF
    return bytes(rec)


def expected_settings(slot, total=0, free=0):
    status = 2 if total else 0
    return struct.pack("<HBBHHII", 0x0910, 0x26, 0, 0, 0, total, free) + bytes([
        0, 0,                               # live rate-control modes start at 0
        3, 4,                               # bit-rate indexes from the file
        0,                                  # not recording
        (slot << 3) | (status << 5),        # storage choice and status
        0x15,                               # input mode 5, profile 1 (rotation not taken)
        0,                                  # destination index 0
    ])


def wait_heart(b, pred, timeout):
    return b.serial.wait_frame(HEART, timeout=timeout, after=b.serial.mark(),
                               pred=lambda f: pred(settings_of(f)))


@pytest.fixture
def vidrec_board(make_board, vidrec_path):
    def make(slot=0, **files):
        f = {"userpara": userpara(slot)}
        f.update(files)
        return make_board(vidrec_path, files=f)
    return make


def test_fresh_board_beats_every_second_with_its_live_settings(vidrec_board):
    b = vidrec_board()
    first = b.serial.wait_frame(HEART, timeout=10)
    assert first is not None, "no heartbeat"
    time.sleep(12)
    beats = [f for f in b.serial.frames(HEART) if f.t >= first.t]
    assert len(beats) >= 11
    gaps = [beats[i + 1].t - beats[i].t for i in range(len(beats) - 1)]
    assert all(abs(g - 1.0) <= 0.05 for g in gaps), gaps
    for f in beats:
        assert settings_of(f) == expected_settings(0)


def test_request_gets_reply_and_damaged_frames_do_not_hide_the_next(vidrec_board):
    b = vidrec_board()
    assert b.serial.wait_frame(HEART, timeout=10)
    reserve = bytes(range(0x30, 0x39))
    r = b.request(0x01, b"\x07", dev_id=0x42, if_type=0x05, reserve=reserve)
    assert r is not None, "no reply"
    # Error 1 for a command below 5; the header is echoed.
    assert (r.dev_type, r.dev_id, r.if_type, r.reserve, r.payload, r.version) == \
        (0xE0, 0x42, 0x05, reserve, b"\x01", 0)

    mark = b.serial.mark()
    good = build_frame(0x02, b"\x01\x02", dev_id=0x77)
    bad = [
        build_frame(0x02, b"\x01\x02", dev_id=0x11, csum=0x1234),
        build_frame(0x02, b"\x01\x02", dev_id=0x12, tail=0xAF),
        build_frame(0x02, b"", dev_id=0x13, length=19),
        build_frame(0x02, bytes(1040), dev_id=0x14, length=1057),
        build_frame(0x02, b"", dev_id=0x15, dev_type=0),   # valid, but wants no reply
    ]
    b.serial_write(b"".join(bad) + good)
    r = b.serial.wait_frame(0x02, timeout=3, after=mark)
    assert r is not None and r.dev_id == 0x77
    time.sleep(0.3)
    assert [f.dev_id for f in b.serial.frames(0x02)[-1:]] == [0x77]
    assert not [f for f in b.serial.frames(0x02) if f.dev_id in (0x11, 0x12, 0x13, 0x14, 0x15)]

    # A frame cut short, then the line goes quiet: the next frame is answered.
    mark = b.serial.mark()
    b.serial_write(build_frame(0x03, bytes(30), dev_id=0x21)[:25])
    time.sleep(0.3)
    b.serial_write(build_frame(0x03, b"", dev_id=0x22))
    r = b.serial.wait_frame(0x03, timeout=3, after=mark)
    assert r is not None and r.dev_id == 0x22

    # Noise that looks like a header of 512 bytes does not swallow the
    # requests behind it.
    mark = b.serial.mark()
    b.serial_write(bytes([0xA5, 0x6C, 0x00, 0x02, 1, 2, 3, 4, 5, 6]) +
                   b"".join(build_frame(97, dev_id=i) for i in range(8)))
    b.serial.wait_frame(97, timeout=3, after=mark, pred=lambda f: f.dev_id == 7)
    assert [f.dev_id for f in b.serial.frames(97)] == list(range(8))

    # A repeated first header byte does not cost the frame.
    mark = b.serial.mark()
    b.serial_write(b"\xa5" + build_frame(0x04, b"", dev_id=0x23))
    r = b.serial.wait_frame(0x04, timeout=3, after=mark)
    assert r is not None and r.dev_id == 0x23


def test_burst_of_thirty_frames_is_answered_completely(vidrec_board):
    b = vidrec_board()
    assert b.serial.wait_frame(HEART, timeout=10)
    mark = b.serial.mark()
    # Shortest frames: they arrive five times faster than one per loop cycle.
    b.serial_write(b"".join(build_frame(0x02, b"", dev_id=i) for i in range(30)))
    end = time.monotonic() + 5
    while time.monotonic() < end:
        got = [f.dev_id for f in b.serial.frames(0x02)]
        if len(got) >= 30:
            break
        time.sleep(0.05)
    assert [f.dev_id for f in b.serial.frames(0x02)] == list(range(30))
    assert len(b.serial.frames(0x02)) - mark <= 30


def test_relayed_update_command_pauses_heartbeat_until_resumed(vidrec_board):
    b = vidrec_board()
    assert b.serial.wait_frame(HEART, timeout=10)
    b.send_frame(0x40, if_type=1)
    time.sleep(1.2)  # a beat may have been on its way
    mark = b.serial.mark()
    assert b.serial.wait_frame(HEART, timeout=2.5, after=mark) is None
    b.send_frame(0x49, if_type=1)
    assert b.serial.wait_frame(HEART, timeout=2, after=mark) is not None


@pytest.mark.parametrize("slot, disks", [
    (0, [("mmcblk0", 24, True)]),
    (1, [("sda", 48, True), ("sdb", 80, False)]),
    (2, [("sda", 48, True), ("sdb", 80, False)]),
])
def test_disk_in_its_slot_gives_heartbeat_its_exact_size(vidrec_board, slot, disks):
    b = vidrec_board(slot)
    assert wait_heart(b, lambda s: s == expected_settings(slot), 10), "no heartbeat without storage"
    for name, mb, removable in disks:
        b.plug_disk(name, size_mb=mb, removable=removable)
    size = {0: 24, 1: 48, 2: 80}[slot]
    f = wait_heart(b, lambda s: s == expected_settings(slot, size, size), 8)
    assert f is not None, b.console_text()[-2000:]
    if slot:
        # The other disk may have come after the monitor's pass (every 2 s).
        assert b.wait_console(r"Shell Cmd : \./insert\.sh sda1", timeout=5)
        assert b.wait_console(r"Shell Cmd : \./insert\.sh sdb1", timeout=5)
        assert b.mounted("/vendor/sda1") and b.mounted("/vendor/sdb1")
        # The disk in the other slot leaves; this one stays.
        other = "sdb" if slot == 1 else "sda"
        mark = b.console_mark()
        b.unplug_disk(other)
        assert b.wait_console(r"Shell Cmd : \./remove\.sh %s1" % other, timeout=5, start=mark)
        time.sleep(1.5)
        assert not b.mounted("/vendor/%s1" % other)
        assert wait_heart(b, lambda s: s == expected_settings(slot, size, size), 3)
        mine = "sda" if slot == 1 else "sdb"
        mark = b.console_mark()
        b.unplug_disk(mine)
        assert b.wait_console(r"Shell Cmd : \./remove\.sh %s1" % mine, timeout=5, start=mark)
        assert wait_heart(b, lambda s: s == expected_settings(slot), 4)
        assert not b.mounted("/vendor/%s1" % mine)


def test_usb_disk_plugged_and_unplugged_runs_the_scripts(vidrec_board):
    b = vidrec_board(1)
    assert b.serial.wait_frame(HEART, timeout=10)
    b.plug_disk("sda", size_mb=40)
    assert wait_heart(b, lambda s: s == expected_settings(1, 40, 40), 8)
    assert b.console_text().count("./insert.sh sda1") == 1
    # Space used on the disk shows in the next beats.
    with open(b.disk_dir("sda1") + "/fill", "wb") as fh:
        fh.write(bytes(5 * 1024 * 1024))
    assert wait_heart(b, lambda s: s == expected_settings(1, 40, 35), 4)
    b.unplug_disk("sda")
    assert wait_heart(b, lambda s: s == expected_settings(1), 6)
    assert b.console_text().count("./remove.sh sda1") == 1
    time.sleep(2.5)  # one more poll: the scripts ran once each
    assert b.console_text().count("./insert.sh sda1") == 1
    assert b.console_text().count("./remove.sh sda1") == 1


def test_failed_mount_is_never_reported_as_storage(vidrec_board):
    failing = "#!/bin/sh\necho cannot mount $1\nmkdir -p /vendor/$1\nexit 1\n"
    b = vidrec_board(1, **{"insert.sh": failing})
    assert b.serial.wait_frame(HEART, timeout=10)
    b.plug_disk("sda", size_mb=40)
    assert b.wait_console(r"cannot mount sda1", timeout=6)
    mark = b.serial.mark()
    time.sleep(2.2)
    beats = b.serial.frames(HEART)[mark:]
    assert len(beats) >= 2
    # The plain directory on the root file system is not a disk: 0 MB, absent.
    assert all(settings_of(f) == expected_settings(1) for f in beats)


def test_setting_the_wall_clock_does_not_stop_the_heartbeat(vidrec_board):
    b = vidrec_board()
    assert b.serial.wait_frame(HEART, timeout=10)
    for when in ("@946684800", "@4102444800"):  # years back, then years ahead
        # Gaps are measured from the last beat before the clock moved.
        mark = b.serial.mark()
        r = b.exec(["date", "-s", when])
        assert r.returncode == 0, r.stderr
        time.sleep(3.1)
        frames = b.serial.frames()
        beats = [f for f in frames[:mark] if f.cmd == HEART][-1:] + \
            [f for f in frames[mark:] if f.cmd == HEART]
        assert len(beats) >= 4, "heartbeat stopped after date -s %s" % when
        gaps = [beats[i + 1].t - beats[i].t for i in range(len(beats) - 1)]
        assert all(abs(g - 1.0) <= 0.05 for g in gaps), gaps
    assert abs(b.clock_offset_ns()) > 10**9  # the board clock really moved
