"""MP4 recording on the virtual board, switched on and off from the serial
cable as the host does (command 96), judged from the SD card's files: a
minute's recording read by ffprobe, a recording cut short by a killed
program, whose ".tmp" file and side index must agree sample by sample, and
recordings across a profile change and a restart while a close is pending,
which must each decode whole, as must those around a failed write of
pictures made of two slices."""
import errno
import os
import re
import signal
import subprocess
import time

import pytest

import media_probe
from media_probe import (all_boxes, boxes, decode_errors, find_box, gop_breaks, header_times, mp4_frame_nums,
                         nal_units, probe_h264, read_side, record_tracks, whole_pictures)

HEART = 0xBB
REC = 0x60
REC_ERROR = 0xE1
SD = "mmcblk0"
PART = "mmcblk0p1"
FRAME = 1 / 30.0
GOP = 1.0  # the record stream's key-frame interval: 30 pictures, a second at 30 fps
GOP_PICTURES = 30


def check_gaps(times, skipped):
    """Judges the capture times of a recording's pictures by what the board
    itself skipped over the window they were taken in (b.picture_counts()):
    when this machine holds the virtual board back it skips picture slots,
    which a chip never does. No picture doubled, every step whole frame
    periods, and no more periods missing than the board skipped: the file
    holds every picture the board made between its first and last. Returns
    the number missing."""
    steps = [times[i + 1] - times[i] for i in range(len(times) - 1)]
    assert min(steps) > 0.5 * FRAME, "two pictures %.4f s apart" % min(steps)
    off = [s for s in steps if abs(s / FRAME - round(s / FRAME)) > 0.1]
    assert not off, "steps of no whole frame period: %s" % off[:5]
    missing = sum(round(s / FRAME) - 1 for s in steps)
    print("%d pictures, %d slots missing between them, %d skipped by the board" % (len(times), missing, skipped))
    assert missing <= skipped, "%d pictures missing, the board skipped %d: the recorder lost %d" % (
        missing, skipped, missing - skipped)
    return missing


def check_recording(path, times, skipped):
    """check_gaps() for an MP4's pictures, and the encoder's count of them
    (frame_num) unbroken: exact however much the board skipped. Returns the
    number of slots missing. The file must begin at a key picture and decode
    picture for picture."""
    assert whole_pictures(path) == len(times)
    nums, bits = mp4_frame_nums(path)
    assert len(nums) == len(times) and nums[0] == 0, (len(nums), len(times), nums[:1])
    assert gop_breaks(nums, GOP_PICTURES, bits) == [], "pictures lost by the recorder"
    return check_gaps(times, skipped)


def rec_status(frame):
    return (frame.payload[21] >> 3) & 3


def storage_open(frame):
    return (frame.payload[22] >> 5) & 3 == 2


def encoding(frame):
    return bool(frame.payload[21] & 0x80)


@pytest.fixture
def sd_board(board):
    """A running recorder with an SD card of room enough (the recorder stops
    when 512 MB or less are free) and its encoder delivering."""
    board.plug_disk(SD, size_mb=2048)
    assert board.serial.wait_frame(HEART, timeout=30, after=board.serial.mark(),
                                   pred=lambda f: storage_open(f) and encoding(f)), \
        "the heartbeat never showed the SD card open and the encoder delivering"
    return board


def switch_recording(b, on):
    r = b.request(REC, bytes([1 if on else 0]))
    assert r is not None, "no reply to command 96"
    assert r.payload == b"\x00", "command 96 refused: %s" % r.payload.hex()
    return time.monotonic()


def wait_status(b, status, timeout=5):
    f = b.serial.wait_frame(HEART, timeout=timeout, after=b.serial.mark(), pred=lambda f: rec_status(f) == status)
    assert f is not None, "heartbeat never showed recording status %d" % status
    return f


def files(b):
    d = b.disk_dir(PART)
    return sorted(n for n in os.listdir(d) if n != "lost+found")


def test_minute_recording_plays_with_aligned_tracks_and_leaves_no_temporaries(sd_board):
    b = sd_board
    t_board = b.board_time()
    skipped0 = b.picture_counts()[1]
    t_on = switch_recording(b, True)
    wait_status(b, 1)
    time.sleep(60 - (time.monotonic() - t_on))
    t_off = switch_recording(b, False)
    wait_status(b, 0)  # closed and renamed
    span = t_off - t_on
    skipped = b.picture_counts()[1] - skipped0

    names = files(b)
    assert len(names) == 1 and re.fullmatch(r"video_\d{14}\.mp4", names[0]), names
    # Named from the board's local time when it was opened.
    stamp = time.mktime(time.strptime(names[0][6:20], "%Y%m%d%H%M%S"))
    assert t_board - 2 <= stamp <= t_board + 3, (names[0], time.ctime(t_board))
    path = os.path.join(b.disk_dir(PART), names[0])

    v, a, vp, ap = record_tracks(path)
    assert vp[0] == (0.0, True), "the first sample is not a key frame at 0: %s" % (vp[0],)
    # No lost or doubled pictures: the time stamps advance one frame at a
    # time but where the board skipped.
    missing = check_recording(path, [t for t, _ in vp], skipped)
    keys = [i for i, (_, k) in enumerate(vp) if k]
    assert all(keys[i + 1] - keys[i] == GOP_PICTURES for i in range(len(keys) - 1)), keys[:5]

    v_dur = float(v["duration"])
    a_dur = float(a["duration"])
    # Duration is what the samples and the slots the board skipped cover,
    # within one frame.
    assert abs(v_dur - (len(vp) + missing) * FRAME) <= FRAME, (v_dur, len(vp), missing)
    assert abs(a_dur - len(ap) * 1024 / 48000) <= FRAME, (a_dur, len(ap))
    # The span the host asked for, give or take the key frames it starts and
    # ends at (a GOP of pictures: a second and the slots the board skipped).
    slack = GOP + FRAME + skipped * FRAME
    assert span - slack <= v_dur <= span + slack, (v_dur, span, skipped)
    # Audio and video cover the same time within a video frame.
    a_start, v_start = ap[0][0], vp[0][0]
    assert abs(a_start - v_start) <= FRAME, (a_start, v_start)
    # Audio runs to the key frame that ends the file; slots the board skipped
    # before it leave the last picture that much earlier.
    a_end = ap[-1][0] + 1024 / 48000
    v_end = vp[-1][0] + FRAME
    assert -FRAME <= a_end - v_end <= FRAME + skipped * FRAME, (a_end, v_end, skipped)
    assert -FRAME <= a_dur - v_dur <= FRAME + skipped * FRAME, (a_dur, v_dur, skipped)

    # Movie clock 90 kHz, track clocks 90 kHz and 48 kHz, no creation times.
    with open(path, "rb") as f:
        data = f.read()
    mvhd = find_box(data, "moov/mvhd")
    assert mvhd and header_times(data, mvhd[0]) == (0, 0, 90000)
    mdhds = [header_times(data, s) for s, _ in all_boxes(data, "moov/trak/mdia/mdhd")]
    assert sorted(mdhds) == [(0, 0, 48000), (0, 0, 90000)], mdhds

    # The pictures decode: the start, and the audio throughout.
    assert decode_errors(path, seconds=3) == ""
    assert decode_errors(path, extra=["-vn"]) == ""


def test_killed_recorder_leaves_tmp_file_and_side_index_matching_its_samples(sd_board):
    b = sd_board
    skipped0 = b.picture_counts()[1]
    t_on = switch_recording(b, True)
    wait_status(b, 1)
    time.sleep(4)
    pid = b.program_pid()
    assert pid
    skipped = b.picture_counts()[1] - skipped0
    os.kill(pid, signal.SIGKILL)
    assert b.wait_program_exit(timeout=10) == "signal 9"
    recorded = time.monotonic() - t_on

    d = b.disk_dir(PART)
    names = files(b)
    mp4s = [n for n in names if re.fullmatch(r"video_\d{14}\.mp4\.tmp", n)]
    sides = [n for n in names if re.fullmatch(r"video_\d{14}\.tmp", n)]
    assert len(mp4s) == 1 and len(sides) == 1 and len(names) == 2, names

    sps, pps, recs = read_side(os.path.join(d, sides[0]))
    assert recs, "no sample in the side index"
    assert recs[0][:3] == (1, 1, 0), "the first sample is not a key video frame: %s" % (recs[0],)
    assert all(r[0] in (1, 2) and r[2] == 0 for r in recs), "bad type or reserved bytes"
    video = [r for r in recs if r[0] == 1]
    audio = [r for r in recs if r[0] == 2]
    assert [r[4] for r in video] == list(range(1, len(video) + 1))
    assert [r[4] for r in audio] == list(range(1, len(audio) + 1))
    assert all(r[1] == 2 for r in audio), "AAC records carry the frames' key flag 2"
    # About what four seconds give, less what passed before the first key
    # frame and the slots the board skipped.
    assert (recorded - GOP - 0.5) * 30 - skipped <= len(video) <= (recorded + 0.5) * 30, (len(video), recorded, skipped)
    assert abs(len(audio) * 1024 / 48000 - len(video) * FRAME) < 0.3 + skipped * FRAME, (len(audio), len(video))

    # The sample data follows the mdat header in writing order: walk it with
    # the index's sizes.
    with open(os.path.join(d, mp4s[0]), "rb") as f:
        data = f.read()
    # An open recording's mdat has no size yet (0: to the end of the file).
    mdat = [(k, s) for k, s, _ in boxes(data) if k == "mdat"]
    assert mdat, "no mdat box in the open recording"
    pos = mdat[0][1]
    first_units = None
    for typ, key, _, size, _ in recs:
        sample = data[pos:pos + size]
        assert len(sample) == size, "the file ends before the indexed sample at %d" % pos
        if typ == 1:
            units = nal_units(sample)  # raises when sizes and data disagree
            kinds = {u[0] & 0x1F for u in units}
            assert kinds <= {1, 5, 6, 9}, kinds
            assert (5 in kinds) == bool(key), "key flag %d for NAL types %s" % (key, kinds)
            if first_units is None:
                first_units = units
        pos += size
    # At most the one sample written before its record was appended.
    rest = data[pos:]
    if rest:
        try:
            nal_units(rest)
        except ValueError:
            assert len(rest) < 2048, "%d bytes after the indexed samples" % len(rest)

    # The stored parameter sets describe the recorded pictures.
    assert sps[0] & 0x1F == 7 and pps[0] & 0x1F == 8
    vs, errors = probe_h264([sps, pps] + first_units)
    assert (vs["width"], vs["height"]) == (1920, 1080)
    assert int(vs["nb_read_frames"]) == 1 and errors == ""



def test_profile_change_and_restart_during_a_close_leave_files_that_decode_whole(sd_board):
    b = sd_board
    switch_recording(b, True)
    wait_status(b, 1)
    time.sleep(3)
    # Profile 0 for the record stream: the encoder is rebuilt with other
    # parameter sets while the file is open.
    r = b.request(50, bytes([0, 0]))
    assert r is not None and r.payload == b"\x00", r
    time.sleep(4)
    # Off, and on again the moment the closed file is renamed (its close is
    # still flushing the card).
    switch_recording(b, False)
    end = time.monotonic() + 5
    while time.monotonic() < end and sum(n.endswith(".mp4") for n in files(b)) < 2:
        time.sleep(0.01)
    switch_recording(b, True)
    beat = wait_status(b, 1)
    assert beat.payload[21] & 0x02, "recording switched on but the heartbeat says off"
    time.sleep(3)
    switch_recording(b, False)
    wait_status(b, 0)

    names = files(b)
    assert len(names) == 3 and all(re.fullmatch(r"video_\d{14}(_\d+)?\.mp4", n) for n in names), names
    profiles = []
    for n in names:
        path = os.path.join(b.disk_dir(PART), n)
        assert decode_errors(path) == "", n
        whole_pictures(path)
        v = media_probe.stream(media_probe.ffprobe(path), "video")
        assert (v["width"], v["height"]) == (1920, 1080), n
        assert int(v["nb_frames"]) >= 30, (n, v["nb_frames"])
        profiles.append(v["profile"])
    assert profiles[0] == "High" and "Baseline" in profiles[1] and profiles[2] == profiles[1], profiles


def stopped(frame):
    """Recording idle and no stop waiting for its key frame."""
    return rec_status(frame) == 0 and not frame.payload[21] & 0x40


def test_quick_on_off_pairs_and_a_start_mid_gop_leave_only_files_that_decode_whole(sd_board):
    b = sd_board
    # Four quick pairs: most stops come before any key picture, and a file
    # that would hold no picture must not be left behind.
    for _ in range(4):
        switch_recording(b, True)
        switch_recording(b, False)
    assert b.serial.wait_frame(HEART, timeout=5, after=b.serial.mark(), pred=stopped), "recording never stopped"
    # On, and on again inside a GOP: the second file begins at a key picture.
    switch_recording(b, True)
    wait_status(b, 1)
    time.sleep(GOP * 1.5)
    switch_recording(b, True)
    time.sleep(GOP * 2.5)
    switch_recording(b, False)
    assert b.serial.wait_frame(HEART, timeout=5, after=b.serial.mark(), pred=stopped), "recording never stopped"

    names = files(b)
    assert all(re.fullmatch(r"video_\d{14}(_\d+)?\.mp4", n) for n in names), names
    counts = [whole_pictures(os.path.join(b.disk_dir(PART), n)) for n in names]
    # The last two: the first start to the second, the second to the stop.
    assert len(counts) >= 2 and counts[-1] >= 2 * GOP_PICTURES, counts


def test_card_filled_by_another_writer_leaves_only_whole_or_recoverable_files(sd_board):
    b = sd_board
    switch_recording(b, True)
    wait_status(b, 1)
    time.sleep(2 * GOP)
    d = b.disk_dir(PART)
    fd = os.open(os.path.join(d, "fill"), os.O_WRONLY | os.O_CREAT)
    try:
        while os.write(fd, bytes(1 << 20)):
            pass
    except OSError as e:
        assert e.errno == errno.ENOSPC, e
    finally:
        os.close(fd)
    assert b.serial.wait_frame(HEART, timeout=10, after=b.serial.mark(), pred=stopped), "recording never stopped"
    names = [n for n in files(b) if n != "fill"]
    assert names, "nothing recorded"
    for n in names:
        path = os.path.join(d, n)
        assert os.path.getsize(path) > 0, "empty %s among %s" % (n, names)
        if n.endswith(".mp4.tmp"):
            assert n[:-len(".mp4.tmp")] + ".tmp" in names, "%s without its side index: %s" % (n, names)
        elif n.endswith(".mp4"):
            whole_pictures(path)
        else:
            assert n[:-len(".tmp")] + ".mp4.tmp" in names, "side index %s of no recording: %s" % (n, names)


def program_fd_path(pid, name):
    """How the program's open file `name` is named in /proc, as strace
    matches it (the board's mounts seen from this machine)."""
    for fd in os.listdir("/proc/%d/fd" % pid):
        try:
            link = os.readlink("/proc/%d/fd/%s" % (pid, fd))
        except OSError:
            continue
        if link.endswith("/" + name):
            return link
    raise AssertionError("%s is not open in the program" % name)


def test_failed_write_of_two_slice_pictures_goes_on_in_a_file_that_begins_at_a_whole_key_picture(sd_board):
    b = sd_board
    # Pictures of two slices, as a chip may make them: one sample, two frames.
    assert b.vb("venc-slices 0 2") == "slices 2"
    switch_recording(b, True)
    wait_status(b, 1)
    time.sleep(GOP)
    pid = b.program_pid()
    first = [n for n in files(b) if n.endswith(".mp4.tmp")]
    assert len(first) == 1, files(b)
    # strace, on every thread, fails the third write to the open file as a
    # full card would; the card keeps room for the next file.
    mark = b.serial.mark()
    tracer = subprocess.Popen(["strace", "-f", "-qq", "-o", "/dev/null", "-e", "trace=write",
                               "-e", "inject=write:error=ENOSPC:when=3", "-P", program_fd_path(pid, first[0]),
                               "-p", str(pid)], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    try:
        reported = b.serial.wait_frame(REC_ERROR, timeout=10, after=mark)
    finally:
        tracer.send_signal(signal.SIGINT)
        tracer.wait(timeout=10)
    assert reported is not None, "no error report: %s" % tracer.stderr.read()
    time.sleep(2 * GOP + 0.5)
    switch_recording(b, False)
    assert b.serial.wait_frame(HEART, timeout=5, after=b.serial.mark(), pred=stopped), "recording never stopped"
    # Reported once, as a failed write (not a failed creation: 36).
    assert [f.payload for f in b.serial.frames(REC_ERROR)] == [bytes([22])]

    # The failed file may keep its temporary name and side index; every
    # finished file decodes whole, the new one (last) for a couple of GOPs.
    stem = first[0][:-len(".mp4.tmp")]
    names = files(b)
    done = [n for n in names if n not in (first[0], stem + ".tmp")]
    assert all(n.endswith(".mp4") for n in done) and done and done[-1] != stem + ".mp4", names
    for n in done:
        path = os.path.join(b.disk_dir(PART), n)
        assert decode_errors(path) == "", n
        pictures = whole_pictures(path)
        assert len(mp4_frame_nums(path)[0]) == 2 * pictures, "%s: not two slices a picture" % n
    assert pictures >= 2 * GOP_PICTURES, "%d pictures in the new file" % pictures
