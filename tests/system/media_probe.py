"""Readers for what the recorder writes, used by the recording and RTMP system
tests: ffprobe of a file, MP4 boxes, the side index of an open recording,
FLV tags and H.264 length-prefixed samples."""
import json
import os
import re
import struct
import subprocess
import tempfile

SIDE_HEAD = 82  # sps[64], sps length, pps[16], pps length
SIDE_REC = 12   # type, key flag, 2 zero bytes, u32 size, u32 per-track index


def ffprobe(path, packets=False):
    """ffprobe's streams (and packets) of a file as a dict; raises on failure."""
    argv = ["ffprobe", "-v", "error", "-of", "json", "-show_streams", "-show_format"]
    if packets:
        argv.append("-show_packets")
    p = subprocess.run(argv + [path], capture_output=True, text=True, timeout=120)
    if p.returncode != 0:
        raise AssertionError("ffprobe cannot read %s: %s" % (path, p.stderr.strip()))
    return json.loads(p.stdout)


def stream(info, kind):
    found = [s for s in info["streams"] if s["codec_type"] == kind]
    assert len(found) == 1, "expected one %s stream, found %d" % (kind, len(found))
    return found[0]


def packet_times(info, index):
    """(pts seconds, key) of one stream's packets, in file order."""
    return [(float(p["pts_time"]), "K" in p.get("flags", ""))
            for p in info["packets"] if p["stream_index"] == index]


def record_tracks(path):
    """A recording's video and audio streams and their (pts, key) packets,
    after checking they are H.264 1920x1080 and AAC-LC 48 kHz stereo."""
    info = ffprobe(path, packets=True)
    v, a = stream(info, "video"), stream(info, "audio")
    assert (v["codec_name"], v["width"], v["height"]) == ("h264", 1920, 1080)
    assert (a["codec_name"], a.get("profile"), int(a["sample_rate"]), a["channels"]) == ("aac", "LC", 48000, 2)
    return v, a, packet_times(info, v["index"]), packet_times(info, a["index"])


# Decoded frames keep their own time stamps: the recorder's SPS timing (one
# tick a frame, rate not fixed) reads as half the rate to ffmpeg, which would
# otherwise put two frames on one output tick wherever a picture is missing.
PASS_TIMES = ["-fps_mode", "passthrough", "-enc_time_base", "-1"]


# The H.264 decoder reports what it concealed (a slice missing, a damaged
# one) at info level, below "-v error": decodes run at info level with each
# line tagged, and faults() keeps the errors and those reports.
DECODE_LOG = ["-hide_banner", "-loglevel", "level+info"]


def faults(log):
    """The lines of an ffmpeg/ffprobe log (run with DECODE_LOG) that tell of
    damage: errors and concealment."""
    return "\n".join(line for line in log.splitlines()
                     if re.search(r"\[(error|fatal|panic)\]", line) or "concealing" in line)


def decode_errors(path, seconds=None, extra=()):
    """What ffmpeg reports while decoding the file, concealed errors included
    (empty when it decodes cleanly)."""
    argv = ["ffmpeg"] + DECODE_LOG + ["-nostats", "-nostdin", "-i", path]
    if seconds:
        argv += ["-t", str(seconds)]
    argv += list(extra) + PASS_TIMES + ["-f", "null", "-"]
    p = subprocess.run(argv, capture_output=True, text=True, timeout=120)
    bad = faults(p.stderr)
    return bad if p.returncode == 0 else "exit %d: %s" % (p.returncode, bad or p.stderr.strip()[-2000:])


def whole_pictures(path):
    """Checks that a recording begins at a key picture and decodes picture
    for picture: as many pictures decoded as it holds video samples (a file
    that starts with P pictures decodes fewer, or decodes them from nothing),
    none of them concealed in part."""
    info = ffprobe(path, packets=True)
    v = stream(info, "video")
    packets = packet_times(info, v["index"])
    assert packets, "%s: no video sample" % path
    assert packets[0][1], "%s: the first video sample is not a key picture" % path
    p = subprocess.run(["ffprobe"] + DECODE_LOG + ["-count_frames", "-select_streams", "v", "-show_entries",
                                                   "stream=nb_read_frames", "-of", "csv=p=0", path],
                       capture_output=True, text=True, timeout=300)
    assert p.returncode == 0, p.stderr
    assert faults(p.stderr) == "", "%s: %s" % (path, faults(p.stderr))
    decoded = int(p.stdout.strip().split(",")[0])
    assert decoded == len(packets), "%s: %d pictures decoded of %d samples" % (path, decoded, len(packets))
    return len(packets)


# ---- MP4 boxes ------------------------------------------------------------------
def boxes(data, start=0, end=None):
    """(type, payload start, box end) of the boxes in data[start:end]."""
    end = len(data) if end is None else end
    out = []
    i = start
    while i + 8 <= end:
        size, kind = struct.unpack_from(">I4s", data, i)
        head = 8
        if size == 1:
            size = struct.unpack_from(">Q", data, i + 8)[0]
            head = 16
        elif size == 0:
            size = end - i
        if size < head:
            break
        out.append((kind.decode("latin-1"), i + head, min(i + size, end)))
        i += size
    return out


def find_box(data, path, start=0, end=None):
    """Payload range of the first box along path ("moov/trak/mdia/mdhd"), or None."""
    for part in path.split("/"):
        hit = [b for b in boxes(data, start, end) if b[0] == part]
        if not hit:
            return None
        _, start, end = hit[0]
    return start, end


def all_boxes(data, path, start=0, end=None):
    parts = path.split("/")
    found = [(s, e) for k, s, e in boxes(data, start, end) if k == parts[0]]
    if len(parts) == 1:
        return found
    out = []
    for s, e in found:
        out += all_boxes(data, "/".join(parts[1:]), s, e)
    return out


def header_times(data, start):
    """(creation, modification, timescale) of an mvhd or mdhd payload."""
    version = data[start]
    if version == 1:
        return struct.unpack_from(">QQI", data, start + 4)
    return struct.unpack_from(">III", data, start + 4)


# ---- side index ---------------------------------------------------------------------
def read_side(path):
    """(sps, pps, [(type, key, reserved, size, index)]) of a side index file."""
    with open(path, "rb") as f:
        raw = f.read()
    assert len(raw) >= SIDE_HEAD, "side file shorter than its SPS/PPS record"
    assert (len(raw) - SIDE_HEAD) % SIDE_REC == 0, "side file ends inside a record (%d bytes)" % len(raw)
    sps_len, pps_len = raw[64], raw[81]
    assert 4 <= sps_len <= 64 and 1 <= pps_len <= 16, (sps_len, pps_len)
    sps, pps = raw[:sps_len], raw[65:65 + pps_len]
    recs = [struct.unpack_from("<BBHII", raw, i) for i in range(SIDE_HEAD, len(raw), SIDE_REC)]
    return sps, pps, recs


# ---- H.264 -----------------------------------------------------------------------------
def nal_units(sample):
    """NAL units of a sample of 4-byte length-prefixed units; raises when the
    lengths do not fill the sample exactly."""
    out = []
    i = 0
    while i < len(sample):
        if i + 4 > len(sample):
            raise ValueError("length prefix cut at %d of %d" % (i, len(sample)))
        n = struct.unpack_from(">I", sample, i)[0]
        if n == 0 or i + 4 + n > len(sample):
            raise ValueError("NAL unit of %d bytes at %d overruns %d" % (n, i, len(sample)))
        out.append(sample[i + 4:i + 4 + n])
        i += 4 + n
    return out


def annexb(units):
    return b"".join(b"\0\0\0\1" + u for u in units)


def probe_h264(units):
    """ffprobe's video stream of an Annex B stream made of these NAL units,
    and ffmpeg's decode errors for it."""
    fd, path = tempfile.mkstemp(suffix=".h264")
    try:
        os.write(fd, annexb(units))
        os.close(fd)
        p = subprocess.run(["ffprobe", "-v", "error", "-of", "json", "-show_streams", "-count_frames",
                            "-f", "h264", path], capture_output=True, text=True, timeout=60)
        assert p.returncode == 0, p.stderr
        return json.loads(p.stdout)["streams"][0], decode_errors(path)
    finally:
        os.unlink(path)


class _Bits:
    """Exp-Golomb reader over a NAL unit's payload (emulation prevention removed)."""

    def __init__(self, nal):
        rbsp = bytearray()
        zeros = 0
        for b in nal[1:]:
            if zeros >= 2 and b == 3:
                zeros = 0
                continue
            rbsp.append(b)
            zeros = zeros + 1 if b == 0 else 0
        self.data, self.pos = bytes(rbsp), 0

    def u(self, n):
        v = 0
        for _ in range(n):
            v = v << 1 | (self.data[self.pos >> 3] >> (7 - (self.pos & 7))) & 1
            self.pos += 1
        return v

    def ue(self):
        n = 0
        while self.u(1) == 0:
            n += 1
        return (1 << n) - 1 + self.u(n)


def frame_num_bits(sps):
    """Width of frame_num in the slices of this SPS (one without scaling lists)."""
    r = _Bits(sps)
    profile = r.u(8)
    r.u(16)
    r.ue()
    if profile in (100, 110, 122, 244, 44, 83, 86, 118, 128):
        if r.ue() == 3:
            r.u(1)
        r.ue()
        r.ue()
        r.u(1)
        assert r.u(1) == 0, "SPS with scaling lists"
    return r.ue() + 4


def frame_nums(units, bits):
    """frame_num of every slice (NAL type 1 or 5) among these NAL units."""
    out = []
    for u in units:
        if u[0] & 0x1F in (1, 5):
            r = _Bits(u)
            r.ue()
            r.ue()
            r.ue()
            out.append(r.u(bits))
    return out


def mp4_frame_nums(path):
    """(frame_num of every slice of an MP4's video track in sample order, its
    width in bits)."""
    fd, out = tempfile.mkstemp(suffix=".h264")
    os.close(fd)
    try:
        subprocess.run(["ffmpeg", "-v", "error", "-nostdin", "-y", "-i", path, "-map", "0:v", "-c", "copy",
                        "-bsf:v", "h264_mp4toannexb", "-f", "h264", out], check=True, timeout=120)
        with open(out, "rb") as f:
            data = f.read()
    finally:
        os.unlink(out)
    units = [u.lstrip(b"\0") for u in data.split(b"\0\0\1") if u.strip(b"\0")]
    bits = frame_num_bits(next(u for u in units if u[0] & 0x1F == 7))
    return frame_nums(units, bits), bits


def gop_breaks(nums, gop, bits):
    """Places where frame_num does not count on. The encoder numbers every
    picture it encodes, from 0 at each key frame (one every `gop` pictures)
    and modulo 2^bits, so a picture the board never made leaves the count
    whole and one lost after the encoder breaks it."""
    out = []
    k = 0  # the picture's place in its GOP; the first is a key frame
    for i, n in enumerate(nums):
        if n != k % (1 << bits):
            out.append((i, nums[i - 1] if i else None, n))
            k += (n - k) % (1 << bits)  # count on from the first place n may have
        k = (k + 1) % gop
    return out


# ---- FLV ---------------------------------------------------------------------------
def flv_frame_nums(tags):
    """(frame_num of every slice in an FLV's video tags, its width in bits),
    read with the SPS of the AVC sequence header."""
    avc = next(body for kind, _, body in tags if kind == 9 and body[1] == 0)
    bits = frame_num_bits(avc[13:13 + int.from_bytes(avc[11:13], "big")])
    nums = []
    for kind, _, body in tags:
        if kind == 9 and body[1] == 1:
            nums += frame_nums(nal_units(body[5:]), bits)
    return nums, bits


def flv_tags(path):
    """(type, timestamp ms, body) of every tag of an FLV file."""
    with open(path, "rb") as f:
        raw = f.read()
    assert raw[:3] == b"FLV", "not an FLV file"
    i = struct.unpack_from(">I", raw, 5)[0] + 4
    tags = []
    while i + 11 <= len(raw):
        kind = raw[i] & 0x1F
        size = int.from_bytes(raw[i + 1:i + 4], "big")
        ts = int.from_bytes(raw[i + 4:i + 7], "big") | (raw[i + 7] << 24)
        if i + 11 + size > len(raw):
            break  # the server is still writing this tag
        tags.append((kind, ts, raw[i + 11:i + 11 + size]))
        i += 11 + size + 4
    return tags
