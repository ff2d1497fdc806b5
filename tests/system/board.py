"""Fixture library for system tests on the virtual board.

Fixtures (conftest.py)
----------------------
board            a started TestBoard running vidrec ($VIDREC_BUILD/vidrec, default
                 build-ci, else build); torn down after the test.
empty_board      a started TestBoard with no program (exec commands in it).
make_board       factory: make_board(program=None|path|argv, **Board options) ->
                 started TestBoard; every board made is torn down after the test.
                 Options: env={}, files={"userpara": b"...", "DHCP_flag": "0"} (into
                 "/customer/app"; None deletes), iqfiles={"iqfile0.bin": b"..."}
                 (default: the build's reference IQ file of the virtual sensor),
                 web_root=dir, start_program=True, keep=False, stop_grace=3.0.
vidrec_path      path of the vidrec binary (skips when absent outside CI).
All of them skip when not root or namespaces are unavailable.

TestBoard (sim/sandbox/sandbox.py Board plus test helpers)
------------------------------------------------------------
Life and program
  b.id, b.dir (board directory), b.board_ns / b.lan_ns (netns names),
  b.init_pid (board init's pid here), b.vb_root ($VB_ROOT), b.ctl_path
  b.console_text() -> str                 all the program printed (stdout+stderr)
  b.console_mark() -> int                 offset for wait_console(start=...)
  b.wait_console(regex, timeout=10, start=0) -> re.Match | None
  b.program_running() -> bool; b.program_pid() -> host pid | None
  b.program_exit() -> "exit N" | "signal N" | None
  b.wait_program_exit(timeout=10) -> same as program_exit() or None
  b.stop_program(timeout=10) -> exit text (TERM, KILL after stop_grace)
  b.start_program()                        start it again (same console)
  b.host_pid(board_pid) -> host pid
  b.stop()                                 full teardown (fixtures do it)
Inside the board / lan
  b.exec(argv | "shell text", timeout=30, input=None, check=False)
      -> CompletedProcess (text stdout/stderr); runs in the board's root, cwd
      "/customer/app", no CAP_SYS_TIME, board clock
  b.popen(argv | "shell text", **Popen kw) -> Popen (background, in the board)
  b.kill(popen, sig=SIGKILL) -> exit status; ends the command inside the board
      (use it rather than popen.kill(), which would only end the nsenter)
  b.path("/board/path") -> host path through the board's root (private mounts too)
  b.app_path("userpara") -> host path in "/customer/app"; b.write_app_file(rel, data)
  b.lan_exec(argv, timeout=30, check=False) -> CompletedProcess (in lan)
  b.lan_popen(argv, **kw) -> Popen (in lan; ended at teardown)
  b.in_lan(fn, *args) -> fn's result, run in a thread inside lan
  b.in_board_net(fn, *args) -> same in the board's network namespace
Network
  LAN_IP "192.168.1.1" (gateway, DHCP, DNS, RTMP server), BOARD_STATIC_IP
  "192.168.1.239" (the default static address), DHCP range .100-.199
  b.board_ip() -> str | None; b.wait_board_ip(timeout=20, route=False) -> str | None; b.board_gateway()
  b.leases() -> dnsmasq lease lines
  b.link(up: bool, wait=5)                 plug / unplug the network cable; returns once
                                           eth0 in the board shows it
  b.udp_socket(port=0) -> socket bound in lan (0.0.0.0:port)
  b.udp_send(data, port, host=None, sock=None)  from lan to the board (default board_ip());
      sock: a udp_socket() to send from (to get the answer on it)
  b.mcast_socket(port=57030, group="239.10.10.222") -> socket in lan joined to the group
  b.recv(sock, timeout=2) -> (data, addr) | None
  b.http(method, path, body=None, headers=None, port=80, timeout=5, host=None)
      -> HttpReply(status, headers: dict lower-case, body: bytes); from lan
  b.http_get(path, **kw), b.http_post_form(path, {field: value}, **kw)
  b.forward_tcp(local_port, host_or_callable, port) -> forwarder (.port)
RTMP server
  b.rtmp_url(stream="stream") -> "rtmp://192.168.1.1:1935/live/<stream>"
  b.rtmp_recordings() -> [paths of .flv files], oldest first
  b.wait_rtmp_recording(min_bytes=1, timeout=10) -> path | None
Serial ("/dev/ttyS2"; 921600 raw; the launcher holds the pty master)
  b.serial: SerialReader, draining from start:
     .frames(cmd=None) -> [Frame]; .wait_frame(cmd=None, timeout=5, after=0,
     pred=None) -> Frame | None; .mark() -> index for after=; .raw() -> bytes;
     .wait_bytes(n, timeout=5) -> bytes | None; .clear()
  b.serial_write(bytes); b.send_frame(cmd, payload=b"", **build_frame kw)
  b.request(cmd, payload=b"", timeout=3, **kw) -> reply Frame (same cmd, from
     the board) | None
  Frame fields: version, length, dev_type, dev_id, if_type, reserve, cmd,
     payload, checksum, raw, t (monotonic time it was complete)
  build_frame(cmd, payload=b"", dev_type=1, dev_id=0, if_type=0,
     reserve=bytes(9), version=0, length=None, csum=None, tail=0xAE)
  checksum(data) -> int (16-bit sum); parse_frame(bytes) -> Frame (ValueError)
  FrameParser().feed(bytes, t=None) -> [Frame]
Storage (fake "/proc/partitions", "/sys/block", "/dev", tmpfs disks)
  b.plug_disk(name="sda", size_mb=64, removable=True) -> "sda1"
      (mmcblk0: the SD card, mounted at "/vendor/mmcblk0p1" at once)
  b.unplug_disk(name="sda"); b.partitions() -> names listed
  b.disk_dir("sda1") -> host path of the partition's files (kept after unplug)
  b.mounted("/vendor/sda1") -> bool
Clock
  b.clock_offset_ns() -> int; b.board_time() -> float seconds
Virtual board control socket
  b.vb("verb args") -> reply text (without the final "." line)
  b.wait_vb(timeout=10) -> bool (answers "ping")
  b.picture_counts(chn=0) -> (made, skipped): pictures the board made for
      encoder channel chn so far, and the picture slots it skipped when this
      machine held it back: slots the sensor interface let pass ("vif stats")
      and pictures the encoder lost at its input ("venc-stats" dropped_input).
      A chip does neither, so these are the only gaps a recording may have
"""
import http.client
import os
import re
import socket
import struct
import sys
import threading
import time
import urllib.parse
from collections import namedtuple

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "sim", "sandbox"))
import sandbox  # noqa: E402

LAN_IP = sandbox.LAN_IP
BOARD_STATIC_IP = sandbox.BOARD_STATIC_IP
MCAST_GROUP = sandbox.MCAST_GROUP
SandboxError = sandbox.SandboxError

HEAD = b"\xa5\x6c"
TAIL = 0xAE
MIN_LEN, MAX_LEN = 20, 1056
DEVICE_TYPE = 0xE0  # byte 4 of every frame the recorder builds

Frame = namedtuple("Frame", "version length dev_type dev_id if_type reserve cmd payload checksum raw t")
HttpReply = namedtuple("HttpReply", "status headers body")


def checksum(data):
    return sum(data) & 0xFFFF


def build_frame(cmd, payload=b"", dev_type=1, dev_id=0, if_type=0, reserve=bytes(9), version=0,
                length=None, csum=None, tail=TAIL):
    """A control frame. length/csum/tail override the computed ones (to build
    broken frames)."""
    payload = bytes(payload)
    if len(reserve) != 9:
        raise ValueError("reserve is 9 bytes")
    n = MIN_LEN + len(payload) if length is None else length
    body = HEAD + struct.pack("<H", (n & 0x7FF) | ((version & 0x1F) << 11)) + \
        bytes([dev_type & 0xFF, dev_id & 0xFF, if_type & 0xFF]) + bytes(reserve) + bytes([cmd & 0xFF]) + payload
    s = checksum(body) if csum is None else csum
    return body + struct.pack("<H", s & 0xFFFF) + bytes([tail])


def parse_frame(raw, t=None):
    raw = bytes(raw)
    if len(raw) < MIN_LEN or raw[:2] != HEAD:
        raise ValueError("not a frame")
    word = struct.unpack_from("<H", raw, 2)[0]
    n, version = word & 0x7FF, word >> 11
    if n != len(raw) or not MIN_LEN <= n <= MAX_LEN:
        raise ValueError("length %d does not match %d bytes" % (n, len(raw)))
    if raw[-1] != TAIL:
        raise ValueError("bad tail 0x%02x" % raw[-1])
    s = struct.unpack_from("<H", raw, n - 3)[0]
    if s != checksum(raw[:n - 3]):
        raise ValueError("bad checksum")
    return Frame(version, n, raw[4], raw[5], raw[6], raw[7:16], raw[16], raw[17:n - 3], s, raw, t)


class FrameParser:
    """Finds whole, valid frames in a byte stream. Unlike the board's parser it
    never loses a frame to garbage before it: on any fault it drops one byte
    and searches again, so tests see every frame the board really sent."""

    def __init__(self):
        self.buf = bytearray()
        self.dropped = 0

    def feed(self, data, t=None):
        self.buf += data
        out = []
        while True:
            i = self.buf.find(HEAD)
            if i < 0:
                keep = 1 if self.buf[-1:] == HEAD[:1] else 0
                self.dropped += len(self.buf) - keep
                del self.buf[:len(self.buf) - keep]
                return out
            if i:
                self.dropped += i
                del self.buf[:i]
            if len(self.buf) < 4:
                return out
            n = struct.unpack_from("<H", self.buf, 2)[0] & 0x7FF
            if not MIN_LEN <= n <= MAX_LEN:
                self.dropped += 1
                del self.buf[:1]
                continue
            if len(self.buf) < n:
                return out
            try:
                out.append(parse_frame(self.buf[:n], t))
                del self.buf[:n]
            except ValueError:
                self.dropped += 1
                del self.buf[:1]


class SerialReader:
    """Collects, with time stamps, everything the board writes to its serial port."""

    def __init__(self):
        self._cond = threading.Condition()
        self._raw = bytearray()
        self._frames = []
        self._parser = FrameParser()

    def on_data(self, t, data):
        with self._cond:
            self._raw += data
            self._frames += self._parser.feed(data, t)
            self._cond.notify_all()

    def raw(self):
        with self._cond:
            return bytes(self._raw)

    def clear(self):
        with self._cond:
            self._raw.clear()
            self._frames.clear()
            self._parser = FrameParser()

    def mark(self):
        with self._cond:
            return len(self._frames)

    def frames(self, cmd=None):
        with self._cond:
            return [f for f in self._frames if cmd is None or f.cmd == cmd]

    def wait_frame(self, cmd=None, timeout=5.0, after=0, pred=None):
        end = time.monotonic() + timeout
        with self._cond:
            i = after
            while True:
                while i < len(self._frames):
                    f = self._frames[i]
                    i += 1
                    if (cmd is None or f.cmd == cmd) and (pred is None or pred(f)):
                        return f
                left = end - time.monotonic()
                if left <= 0:
                    return None
                self._cond.wait(left)

    def wait_bytes(self, n, timeout=5.0):
        end = time.monotonic() + timeout
        with self._cond:
            while len(self._raw) < n:
                left = end - time.monotonic()
                if left <= 0:
                    return None
                self._cond.wait(left)
            return bytes(self._raw[:n])


def reference_iqfile(program=None):
    """Bytes of the virtual sensor's IQ file the build made, or None."""
    builds = [os.environ["VIDREC_BUILD"]] if os.environ.get("VIDREC_BUILD") else []
    if isinstance(program, (list, tuple)):
        program = program[0] if program else None
    if isinstance(program, str):
        # <build>/dvr/vidrec
        builds.append(os.path.dirname(os.path.dirname(os.path.abspath(program))))
    root = os.path.join(os.path.dirname(__file__), "..", "..")
    builds += [os.path.join(root, "build-ci"), os.path.join(root, "build")]
    for b in builds:
        p = os.path.join(b, "iqfile", "iqfile0.bin")
        if os.path.isfile(p):
            with open(p, "rb") as f:
                return f.read()
    return None


class TestBoard(sandbox.Board):
    __test__ = False  # not a pytest test class

    def __init__(self, *a, **kw):
        if kw.get("iqfiles") is None:
            ref = reference_iqfile(kw.get("program") or (a[0] if a else None))
            kw["iqfiles"] = {"iqfile0.bin": ref} if ref is not None else {}
        super().__init__(*a, **kw)
        self.serial = SerialReader()
        self.serial_listen(self.serial.on_data)

    # ---- serial ----
    def send_frame(self, cmd, payload=b"", **kw):
        frame = build_frame(cmd, payload, **kw)
        self.serial_write(frame)
        return frame

    def request(self, cmd, payload=b"", timeout=3.0, **kw):
        mark = self.serial.mark()
        self.send_frame(cmd, payload, **kw)
        return self.serial.wait_frame(cmd, timeout, after=mark, pred=lambda f: f.dev_type == DEVICE_TYPE)

    # ---- UDP ----
    def udp_socket(self, port=0):
        def make():
            s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            s.bind(("0.0.0.0", port))
            return s
        return self.in_lan(make)

    def udp_send(self, data, port, host=None, sock=None):
        host = host or self.board_ip()
        if not host:
            raise SandboxError("the board has no address")
        if sock is not None:
            return sock.sendto(bytes(data), (host, port))
        with self.udp_socket() as s:
            return s.sendto(bytes(data), (host, port))

    def mcast_socket(self, port=57030, group=MCAST_GROUP):
        def make():
            s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            s.bind((group, port))
            mreq = socket.inet_aton(group) + socket.inet_aton(LAN_IP)
            s.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP, mreq)
            return s
        return self.in_lan(make)

    @staticmethod
    def recv(sock, timeout=2.0, size=65536):
        sock.settimeout(timeout)
        try:
            return sock.recvfrom(size)
        except socket.timeout:
            return None

    # ---- HTTP ----
    def http(self, method, path, body=None, headers=None, port=80, timeout=5.0, host=None):
        host = host or self.board_ip()
        if not host:
            raise SandboxError("the board has no address")

        def call():
            c = http.client.HTTPConnection(host, port, timeout=timeout)
            try:
                c.request(method, path, body=body, headers=headers or {})
                r = c.getresponse()
                return HttpReply(r.status, {k.lower(): v for k, v in r.getheaders()}, r.read())
            finally:
                c.close()
        return self.in_lan(call)

    def http_get(self, path, **kw):
        return self.http("GET", path, **kw)

    def http_post_form(self, path, fields, **kw):
        body = urllib.parse.urlencode(fields).encode()
        headers = {"Content-Type": "application/x-www-form-urlencoded"}
        headers.update(kw.pop("headers", {}) or {})
        return self.http("POST", path, body=body, headers=headers, **kw)

    # ---- the virtual board's own account ----
    def picture_counts(self, chn=0):
        frames = skipped = 0
        for line in self.vb("vif stats").splitlines():
            m = re.fullmatch(r"dev \d+ port \d+ frames (\d+) skipped (\d+)", line)
            if not m:
                raise SandboxError("vif stats: " + line)
            frames += int(m.group(1))
            skipped += int(m.group(2))
        venc = self.vb("venc-stats %d" % chn)
        m = re.search(r"^chn %d .* dropped_input (\d+) " % chn, venc, re.M)
        if not m:
            raise SandboxError("venc-stats %d: %s" % (chn, venc))
        return frames - int(m.group(1)), skipped + int(m.group(1))

    # ---- RTMP ----
    def wait_rtmp_recording(self, min_bytes=1, timeout=10.0):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            for p in self.rtmp_recordings():
                if os.path.getsize(p) >= min_bytes:
                    return p
            time.sleep(0.1)
        return None
