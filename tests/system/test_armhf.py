"""The board build's recorder under emulation: the armhf vidrec (platform sim,
so the virtual board runs inside it) started with qemu-arm in the board
sandbox and judged from outside like the PC build: heartbeat and a command on
the serial cable, an MP4 recording on the SD card, publishing to the lan's
RTMP server, and "/get_Rec_Status" over the LAN.

What emulation cannot show: the armhf virtual encoder is the light one (x264
under qemu-arm is far below real time), so pictures are flat grey, bit rates
are not the channels' targets and nothing about picture content is checked;
timing is the emulator's, not the chip's. What it does show: the armhf
libraries (MP4, AAC, RTMP, HTTP) work in the program, the access units are
well-formed H.264 that decode, tracks and sizes are right, and no access unit
is lost between the encoder and the files: frame_num counts the pictures of
each GOP, so a picture the emulated board never captured leaves only a gap in
time, while one the recorder lost breaks the count."""
import os
import re
import shutil
import time

import pytest

from media_probe import decode_errors, ffprobe, flv_frame_nums, gop_breaks, record_tracks, stream
from test_recording import FRAME, GOP_PICTURES, PART, SD, check_recording, rec_status, storage_open, encoding
from test_rtmp import AUDIO_TAG, destination, request_ok, status_after, whole_tags

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
BUILD = os.environ.get("VIDREC_ARMHF_BUILD", os.path.join(ROOT, "build-armhf"))
VIDREC = os.path.join(BUILD, "dvr", "vidrec")
HEART = 0xBB


@pytest.fixture
def armhf_board(make_board):
    qemu = shutil.which("qemu-arm")
    if not (qemu and os.access(VIDREC, os.X_OK)):
        if os.environ.get("CI") == "true":
            pytest.fail("no qemu-arm or no armhf vidrec at " + VIDREC)
        pytest.skip("no qemu-arm or no armhf vidrec at " + VIDREC)
    # qemu-arm itself takes the board clock shim (it makes the guest's clock
    # calls); the guest, an armhf program, must not try to load it.
    b = make_board([qemu, "-L", "/", "-U", "LD_PRELOAD", "./vidrec"], start_program=False)
    shutil.copy(VIDREC, b.app_path("vidrec"))  # the build tree may be out of the board's sight
    b.start_program()
    return b


def test_armhf_recorder_records_publishes_and_answers_under_qemu(armhf_board):
    b = armhf_board
    first = b.serial.wait_frame(HEART, timeout=30)
    assert first is not None, "no heartbeat from the emulated recorder\n" + b.console_text()[-2000:]
    b.plug_disk(SD, size_mb=2048)
    assert b.serial.wait_frame(HEART, timeout=30, after=b.serial.mark(),
                               pred=lambda f: storage_open(f) and encoding(f)), \
        "the heartbeat never showed the SD card open and the encoder delivering"

    # Publishing (destination 103, on 102) and recording (96) at once.
    request_ok(b, 103, destination(0, b.rtmp_url()))
    mark = b.serial.mark()
    request_ok(b, 102, b"\x01\x00")
    assert status_after(b, mark, 1, 15) is not None, "no connect status 0x68 {0,1}"
    skipped0 = b.picture_counts()[1]
    live0 = b.picture_counts(1)[0]
    assert b.request(0x60, b"\x01").payload == b"\x00", "command 96 refused"
    assert b.serial.wait_frame(HEART, timeout=10, after=b.serial.mark(), pred=lambda f: rec_status(f) == 1)
    ip = b.wait_board_ip()
    assert ip, "the board got no address"
    reply = b.http_get("/get_Rec_Status")
    assert (reply.status, reply.body) == (200, b'{ "result": 1 }'), reply
    time.sleep(15)
    assert b.request(0x60, b"\x00").payload == b"\x00"
    assert b.serial.wait_frame(HEART, timeout=10, after=b.serial.mark(), pred=lambda f: rec_status(f) == 0), \
        "the recording did not close"
    skipped = b.picture_counts()[1] - skipped0
    live_made = b.picture_counts(1)[0] - live0
    mark = b.serial.mark()
    request_ok(b, 102, b"\x00\x00")
    assert status_after(b, mark, 0, 10) is not None, "no disconnect status 0x68 {0,0}"
    # One heartbeat a second all along; a single late one is the emulator's.
    beats = [f.t for f in b.serial.frames(HEART)]
    gaps = [beats[i + 1] - beats[i] for i in range(len(beats) - 1)]
    assert len(gaps) >= 15 and abs(len(gaps) - (beats[-1] - beats[0])) <= 1 and max(gaps) < 2, gaps
    stats = b.vb("venc-stats")
    print(stats)
    assert re.findall(r"dropped_ring (\d+)", stats) == ["0", "0"], "the recorder left the encoder's buffer full"

    # The MP4 on the SD card.
    names = [n for n in os.listdir(b.disk_dir(PART)) if n.endswith(".mp4")]
    assert len(names) == 1, names
    path = os.path.join(b.disk_dir(PART), names[0])
    _, _, vp, ap = record_tracks(path)
    assert vp[0] == (0.0, True), vp[0]
    # Sample times are the pictures' capture times: whole frame periods apart;
    # a longer step only where the emulated board skipped.
    missing = check_recording(path, [t for t, _ in vp], skipped)
    assert len(vp) + missing > 10 * 30 * 0.8, (len(vp), missing)
    # Audio runs beside the pictures, back to back: a gap only where the
    # emulated board's audio input dropped a frame, never one the recorder lost.
    board_drops = int(re.search(r"dropped (\d+)", b.vb("ai-stat")).group(1))
    a_gaps = [round((ap[i + 1][0] - ap[i][0]) * 48000) for i in range(len(ap) - 1)]
    a_gaps = [g for g in a_gaps if g != 1024]
    assert len(a_gaps) <= board_drops, (a_gaps, board_drops)
    assert abs(ap[0][0] - vp[0][0]) <= FRAME, (ap[0], vp[0])
    end = (ap[-1][0] + 1024 / 48000) - (vp[-1][0] + FRAME)
    assert -2 * FRAME <= end <= (2 + skipped) * FRAME, (ap[-1], vp[-1], skipped)
    assert decode_errors(path) == ""

    # What the lan's RTMP server recorded.
    files = b.rtmp_recordings()
    assert len(files) == 1, files
    flv, tags = whole_tags(files[0])
    try:
        info = ffprobe(flv)
        v, a = stream(info, "video"), stream(info, "audio")
        assert (v["codec_name"], v["width"], v["height"]) == ("h264", 1280, 720)
        assert (a["codec_name"], int(a["sample_rate"]), a["channels"]) == ("aac", 48000, 2)
        assert decode_errors(flv) == ""
    finally:
        os.unlink(flv)
    # Published from before the recording to after it: at least every live
    # picture the board made meanwhile.
    nums, bits = flv_frame_nums(tags)
    assert len(nums) >= live_made and nums[0] == 0, (len(nums), live_made)
    assert gop_breaks(nums, GOP_PICTURES, bits) == [], "live pictures lost by the recorder"
    assert sum(1 for kind, _, body in tags if kind == AUDIO_TAG and body[1] == 1) > 10 * 46
