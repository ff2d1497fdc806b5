"""The board sandbox itself: network, serial port, storage, clock, program
control and a clean machine afterwards."""
import hashlib
import os
import re
import shutil
import struct
import subprocess
import tempfile
import textwrap
import time

import pytest

from board import (LAN_IP, FrameParser, TestBoard, build_frame, checksum, parse_frame)


def host_links():
    return subprocess.run(["ip", "-o", "link"], stdout=subprocess.PIPE, text=True).stdout


def host_mounts(other_boards=False):
    """Mount points of this machine; boards of other test runs may come and go
    meanwhile, so their namespace names are left out unless asked for."""
    with open("/proc/self/mountinfo") as f:
        points = sorted(line.split(" - ")[0].split(None, 4)[4] for line in f)
    return points if other_boards else [p for p in points if not p.startswith("/run/netns")]


# ---- frame codec (no board needed) -------------------------------------------

class TestFrames:
    def test_empty_payload_frame_layout(self):
        f = build_frame(0x21, b"", dev_type=1, dev_id=7, if_type=0)
        assert len(f) == 20
        assert f[:2] == b"\xa5\x6c" and f[-1] == 0xAE
        assert struct.unpack_from("<H", f, 2)[0] == 20
        assert f[4:7] == bytes([1, 7, 0]) and f[16] == 0x21
        assert struct.unpack_from("<H", f, 17)[0] == sum(f[:17]) & 0xFFFF

    def test_version_bits_share_the_length_word_and_the_sum(self):
        f = build_frame(0x10, b"\x01\x02", version=1)
        assert f[2:4] == bytes([0x16, 0x08])  # length 22, version 1
        p = parse_frame(f)
        assert (p.version, p.length, p.payload) == (1, 22, b"\x01\x02")
        assert p.checksum == checksum(f[:19])

    def test_checksum_wraps_at_16_bits(self):
        assert checksum(b"\xff" * 300) == (255 * 300) & 0xFFFF

    def test_parse_rejects_bad_frames(self):
        good = build_frame(0x30, b"abc")
        for bad in (good[:-1] + b"\x00",                        # tail
                    good[:-3] + bytes([good[-3] ^ 1]) + good[-2:],  # sum
                    good[:5] + b"\x99" + good[6:],               # content vs sum
                    build_frame(0x30, b"", length=19)):          # too short
            with pytest.raises(ValueError):
                parse_frame(bad)

    def test_stream_parser_finds_frames_in_garbage_and_split_reads(self):
        a = build_frame(0xBB, bytes(25), dev_type=0xE0)
        b = build_frame(0x05, b"\xa5\x6c\xa5", dev_type=0xE0)
        broken = build_frame(0x06, b"xx", csum=0)
        stream = b"\x00\xa5\xa5" + a + broken + b"\xa5" + b + b"\x6c"
        parser = FrameParser()
        got = []
        for i in range(0, len(stream), 7):
            got += parser.feed(stream[i:i + 7])
        assert [f.raw for f in got] == [a, b]
        assert [f.cmd for f in got] == [0xBB, 0x05]


# ---- the sandbox ---------------------------------------------------------------

def test_eth0_gets_a_dhcp_lease_from_lan(empty_board):
    b = empty_board
    links_before, resolv_before = host_links(), open("/etc/resolv.conf", "rb").read()
    link = b.exec("cat /sys/class/net/eth0/operstate; cat /sys/class/net/eth0/address")
    assert link.stdout.split()[0] == "up"
    mac = link.stdout.split()[1]
    r = b.exec(["udhcpc", "-i", "eth0", "-n", "-q"], timeout=20)
    assert r.returncode == 0, r.stderr
    ip = b.board_ip()
    assert ip and ip.startswith("192.168.1.") and 100 <= int(ip.split(".")[3]) <= 199
    assert any(mac in lease and ip in lease for lease in b.leases())
    routes = b.exec("ip -4 route").stdout
    assert "default via %s dev eth0" % LAN_IP in routes
    # The DHCP client's name servers land in the board's file, not this machine's.
    assert "nameserver %s" % LAN_IP in open(os.path.join(b.dir, "resolv.conf")).read()
    assert open("/etc/resolv.conf", "rb").read() == resolv_before
    assert host_links() == links_before
    # lan reaches the board at its new address, and the name server answers.
    ping = b.lan_exec(["ping", "-c", "1", "-W", "2", ip]) if _have("ping") else None
    if ping is not None:
        assert ping.returncode == 0, ping.stdout
    lookup = b.exec(["python3", "-c", "import socket; print(socket.gethostbyname('rtmp.lan'))"])
    assert lookup.stdout.strip() == LAN_IP, lookup.stderr


def _have(tool):
    return subprocess.run(["sh", "-c", "command -v " + tool], stdout=subprocess.DEVNULL).returncode == 0


def test_link_down_and_up_is_seen_on_eth0(empty_board):
    b = empty_board

    def state():
        return b.exec("cat /sys/class/net/eth0/operstate").stdout.strip()
    assert state() == "up"
    b.link(False)
    assert "down" in state()
    b.link(True)
    deadline = time.monotonic() + 5
    while state() != "up" and time.monotonic() < deadline:
        time.sleep(0.05)
    assert state() == "up"


SERIAL_PEER = textwrap.dedent("""
    import hashlib, os, sys, termios
    fd = os.open("/dev/ttyS2", os.O_RDWR | os.O_NOCTTY)
    a = termios.tcgetattr(fd)
    print(a[4] == termios.B921600, a[5] == termios.B921600,
          bool(a[3] & (termios.ICANON | termios.ECHO | termios.ISIG)), bool(a[1] & termios.OPOST),
          bool(a[0] & (termios.ICRNL | termios.IXON | termios.ISTRIP)), flush=True)
    os.write(fd, bytes(range(256)) * 32)
    want = int(sys.argv[1])
    got = b""
    while len(got) < want:
        got += os.read(fd, want - len(got))
    print(hashlib.sha256(got).hexdigest(), len(got), flush=True)
""")


def test_serial_bytes_cross_raw_at_921600_both_ways(empty_board):
    b = empty_board
    to_board = bytes(range(255, -1, -1)) * 40 + b"\r\n\x03\x04\x11\x13\x7f"
    peer = b.popen(["python3", "-c", SERIAL_PEER, str(len(to_board))],
                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        from_board = b.serial.wait_bytes(256 * 32, timeout=10)
        assert from_board == bytes(range(256)) * 32
        b.serial_write(to_board)
        out, err = peer.communicate(timeout=10)
    finally:
        if peer.poll() is None:
            b.kill(peer)
    lines = out.split("\n")
    assert lines[0] == "True True False False False", err
    assert lines[1] == "%s %d" % (hashlib.sha256(to_board).hexdigest(), len(to_board)), err
    assert b.serial.raw() == bytes(range(256)) * 32  # nothing echoed back


def test_serial_reader_collects_board_frames_with_times(empty_board):
    b = empty_board
    frames = build_frame(0xBB, bytes(25), dev_type=0xE0) + b"\x00\x01" + build_frame(0x68, b"\x00\x01", dev_type=0xE0)
    t0 = time.monotonic()
    r = b.exec(["python3", "-c", "import os,sys; fd=os.open('/dev/ttyS2', os.O_WRONLY|os.O_NOCTTY); "
                "os.write(fd, sys.stdin.buffer.read())"], input=frames, check=True)
    assert r.returncode == 0
    first = b.serial.wait_frame(0xBB, timeout=5)
    second = b.serial.wait_frame(0x68, timeout=5)
    assert first is not None and second is not None
    assert first.payload == bytes(25) and second.payload == b"\x00\x01"
    assert t0 <= first.t <= second.t <= time.monotonic()


def test_disk_in_partition_list_mounts_under_vendor_with_exact_size(empty_board):
    b = empty_board
    host_partitions = open("/proc/partitions").read()
    part = b.plug_disk("sda", size_mb=48, removable=True)
    assert part == "sda1"
    listed = b.exec("cat /proc/partitions").stdout
    rows = {f[3]: int(f[2]) for f in (l.split() for l in listed.splitlines()) if len(f) == 4 and f[0].isdigit()}
    assert rows["sda1"] == 48 * 1024 and rows["sda"] > rows["sda1"]
    assert b.exec("cat /sys/block/sda/removable").stdout.strip() == "1"
    assert b.exec("test -e /dev/sda && test -e /dev/sda1").returncode == 0
    # As the board's storage monitor does: the script, from "/customer/app".
    r = b.exec("./insert.sh sda1")
    assert r.returncode == 0, r.stderr
    assert b.mounted("/vendor/sda1")
    size = b.exec(["python3", "-c", "import os; s=os.statvfs('/vendor/sda1'); print(s.f_blocks*s.f_frsize, s.f_bfree*s.f_frsize)"])
    total, free = map(int, size.stdout.split())
    assert total == 48 << 20 and free == 48 << 20
    b.exec("echo recorded > /vendor/sda1/video_1.mp4", check=True)
    r = b.exec("./remove.sh sda1")
    assert r.returncode == 0, r.stderr
    assert not b.mounted("/vendor/sda1")
    b.unplug_disk("sda")
    assert "sda" not in b.exec("cat /proc/partitions").stdout
    assert b.exec("test -e /sys/block/sda").returncode != 0
    # The partition's content outlives the unplug and is readable from here.
    assert open(os.path.join(b.disk_dir("sda1"), "video_1.mp4")).read() == "recorded\n"
    # A replugged disk keeps its files; a fixed disk is listed as not removable.
    b.plug_disk("sda", size_mb=48)
    b.plug_disk("sdb", size_mb=16, removable=False)
    assert b.exec("cat /sys/block/sdb/removable").stdout.strip() == "0"
    b.exec("./insert.sh sda1 && ./insert.sh sdb1", check=True)
    assert b.exec("cat /vendor/sda1/video_1.mp4").stdout == "recorded\n"
    assert b.exec("df -m /vendor/sdb1 | awk 'NR==2 {print $2}'").stdout.strip() == "16"
    assert open("/proc/partitions").read() == host_partitions
    assert not any("/vendor" in m for m in host_mounts())


def test_sdcard_is_mounted_at_once(empty_board):
    b = empty_board
    b.plug_disk("mmcblk0", size_mb=32)
    assert b.mounted("/vendor/mmcblk0p1")
    assert b.exec("df -m /vendor/mmcblk0p1 | awk 'NR==2 {print $2}'").stdout.strip() == "32"
    assert b.exec("test -e /dev/mmcblk0").returncode == 0
    b.unplug_disk("mmcblk0")
    assert not b.mounted("/vendor/mmcblk0p1")
    assert b.exec("test -e /dev/mmcblk0").returncode != 0


def test_clock_set_inside_moves_only_the_board_clock(empty_board):
    b = empty_board
    target = 1893553445  # 2030-01-02 03:04:05 UTC
    host_before = time.time()
    r = b.exec("date -u -s @%d >/dev/null && date -u +%%s && "
               "python3 -c 'import time; print(int(time.time()))'" % target)
    assert r.returncode == 0, r.stderr
    seen = [int(x) for x in r.stdout.split()]
    assert all(target <= s <= target + 10 for s in seen), seen
    assert abs(time.time() - host_before) < 10          # this machine did not move
    assert abs(b.board_time() - target) < 10
    # settimeofday is covered as well, and a new process inherits the clock.
    r = b.exec(["python3", "-c", textwrap.dedent("""
        import ctypes, time
        class TV(ctypes.Structure):
            _fields_ = [("s", ctypes.c_long), ("us", ctypes.c_long)]
        libc = ctypes.CDLL(None, use_errno=True)
        print(libc.settimeofday(ctypes.byref(TV(2000000000, 500000)), None))
        tv = TV(); libc.gettimeofday(ctypes.byref(tv), None)
        print(tv.s, int(time.time()))
    """)])
    first, second = r.stdout.split("\n")[:2]
    assert first == "0", r.stderr
    assert all(2000000000 <= int(x) <= 2000000010 for x in second.split())
    assert 2000000000 <= int(b.exec("date +%s").stdout) <= 2000000010
    assert abs(time.time() - host_before) < 10
    # Without the shim the board cannot set any clock: CAP_SYS_TIME is gone.
    capbnd = int(re.search(r"CapBnd:\s*([0-9a-f]+)", b.exec("cat /proc/self/status").stdout).group(1), 16)
    assert not capbnd & (1 << 25)
    r = b.exec("env -u LD_PRELOAD date -u -s @%d" % target)
    assert r.returncode != 0 and "not permitted" in r.stderr
    assert abs(time.time() - host_before) < 10


TINY_PROGRAM = textwrap.dedent("""\
    #!/bin/sh
    echo "tiny: up in $(pwd)"
    echo "tiny: dhcp flag $(cat /customer/app/DHCP_flag), vb root $VB_ROOT"
    echo "tiny: to stderr" >&2
    trap 'echo "tiny: terminated"; exit 3' TERM
    while :; do sleep 0.2; done
""")


@pytest.fixture
def tiny_program(tmp_path):
    p = tmp_path / "tiny"
    p.write_text(TINY_PROGRAM)
    p.chmod(0o755)
    return str(p)


def test_program_prints_start_up_lines_and_can_be_stopped_and_restarted(make_board, tiny_program):
    b = make_board(tiny_program, files={"DHCP_flag": "0"})
    assert b.wait_console(r"tiny: dhcp flag 0, vb root (\S+)\n", timeout=10)
    # Its stderr line comes last and through another pipe: read once it is there.
    assert b.wait_console(r"tiny: to stderr\n", timeout=10)
    text = b.console_text()
    assert "tiny: up in /customer/app\n" in text and "tiny: to stderr\n" in text
    assert "vb root %s\n" % b.vb_root in text
    pid = b.program_pid()
    assert pid and "tiny" in open("/proc/%d/cmdline" % pid).read()
    assert b.program_exit() is None
    assert b.stop_program() == "exit 3"
    assert "tiny: terminated" in b.console_text()
    assert not os.path.exists("/proc/%d" % pid) or open("/proc/%d/stat" % pid).read().split()[2] == "Z"
    mark = b.console_mark()
    b.start_program()
    assert b.wait_console(r"tiny: up in", start=mark, timeout=10)
    assert b.program_pid() not in (None, pid)


def test_run_board_reads_its_options_before_root_and_always_tells_how_to_get_an_iq_file(tmp_path):
    script = os.path.join(os.path.dirname(__file__), "..", "..", "scripts", "run-board.sh")
    # As another user, from a copy anybody can read.
    shared = tempfile.mkdtemp()
    os.chmod(shared, 0o755)
    copy = shutil.copy(script, shared)
    as_nobody = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "bash", copy]
    run = lambda cmd, **kw: subprocess.run(cmd, capture_output=True, text=True, timeout=60, **kw)
    try:
        r = run(as_nobody + ["--help"])
        assert r.returncode == 0 and "--iq-file FILE" in r.stdout, r
        r = run(as_nobody + ["--sd-mb"])
        assert r.returncode == 2 and "--sd-mb needs a value" in r.stderr, r
    finally:
        shutil.rmtree(shared)
    # A build tree in which the reference IQ file cannot be built.
    (tmp_path / "CMakeCache.txt").write_text("not a cache\n")
    r = run(["bash", script, "/bin/true"], env=dict(os.environ, VIDREC_BUILD=str(tmp_path)))
    assert r.returncode == 1 and "give one with --iq-file FILE" in r.stderr, r


def test_vidrec_runs_on_the_board(board):
    # Its first start-up line on the console, its heartbeat on the serial port.
    assert board.wait_console(r"\[UserParaInit\]usCheckId = ", timeout=10), board.console_text()[-2000:]
    beat = board.serial.wait_frame(0xBB, timeout=5)
    assert beat is not None and beat.dev_type == 0xE0 and len(beat.payload) == 25
    pid = board.program_pid()
    assert pid is not None
    assert board.stop_program() is not None
    assert board.program_pid() is None
    assert not os.path.exists("/proc/%d" % pid) or open("/proc/%d/stat" % pid).read().split()[2] == "Z"


def test_vb_control_client_reads_whole_replies(empty_board):
    b = empty_board
    server = textwrap.dedent("""
        import os, socket, sys
        path = os.path.join(os.environ["VB_ROOT"], "ctl.sock")
        s = socket.socket(socket.AF_UNIX); s.bind(path); s.listen(1)
        print("listening", flush=True)
        for _ in range(3):
            c, _ = s.accept()
            line = c.makefile().readline().strip()
            if line == "ping":
                c.sendall(b"pong\\n.\\n")
            elif line == "trace":
                c.sendall(b"a 1\\n.x\\n")
                c.sendall(b"b 2\\n.\\n")
            else:
                c.sendall(b".\\n")
            c.close()
    """)
    p = b.popen(["python3", "-c", server], stdout=subprocess.PIPE, text=True)
    try:
        assert p.stdout.readline().strip() == "listening"
        assert b.vb("ping") == "pong"
        assert b.vb("trace") == "a 1\n.x\nb 2"
        assert b.vb("nothing") == ""
    finally:
        b.kill(p)


def test_udp_and_http_clients_in_lan_reach_the_board(empty_board):
    b = empty_board
    b.exec(["udhcpc", "-i", "eth0", "-n", "-q"], check=True, timeout=20)
    ip = b.board_ip()
    echo = textwrap.dedent("""
        import http.server, socket, threading
        u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); u.bind(("0.0.0.0", 7000))
        class H(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                body = ("path=" + self.path).encode()
                self.send_response(200); self.send_header("Content-Length", str(len(body))); self.end_headers()
                self.wfile.write(body)
            def log_message(self, *a): pass
        srv = http.server.HTTPServer(("0.0.0.0", 80), H)
        threading.Thread(target=srv.serve_forever, daemon=True).start()
        print("ready", flush=True)
        data, peer = u.recvfrom(2048)
        u.sendto(data[::-1], peer)
        m = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        m.sendto(b"to-group", ("239.10.10.222", 57030))
        import time; time.sleep(5)
    """)
    p = b.popen(["python3", "-c", echo], stdout=subprocess.PIPE, text=True)
    try:
        assert p.stdout.readline().strip() == "ready"
        group = b.mcast_socket(57030)
        with b.udp_socket() as s, group:
            b.udp_send(b"hello board", 7000, sock=s)
            got = b.recv(s, timeout=5)
            assert got is not None and got[0] == b"draob olleh" and got[1][0] == ip
            got = b.recv(group, timeout=5)
            assert got is not None and got[0] == b"to-group" and got[1][0] == ip
        r = b.http_get("/status?x=1")
        assert (r.status, r.body) == (200, b"path=/status?x=1")
    finally:
        b.kill(p)


def test_rtmp_server_records_a_stream_from_the_board(empty_board):
    b = empty_board
    b.exec(["udhcpc", "-i", "eth0", "-n", "-q"], check=True, timeout=20)
    r = b.exec(["ffmpeg", "-hide_banner", "-loglevel", "error", "-f", "lavfi", "-i",
                "testsrc=size=160x120:rate=10", "-t", "1", "-c:v", "libx264", "-f", "flv",
                b.rtmp_url("sandbox")], timeout=30)
    assert r.returncode == 0, r.stderr
    path = b.wait_rtmp_recording(min_bytes=1000)
    assert path and os.path.basename(path).startswith("sandbox")
    probe = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "stream=codec_name,width",
                            "-of", "csv=p=0", path], stdout=subprocess.PIPE, text=True)
    assert probe.stdout.strip() == "h264,160"


def _sandbox_traces(ids, dirs):
    """What is left of the given boards: namespace names, mounts, board
    directories, and processes that name a board in their command line or
    environment (everything started on a board inherits its LD_PRELOAD and
    VB_ROOT, also what the program itself starts)."""
    found = []
    listed = subprocess.run(["ip", "netns", "list"], stdout=subprocess.PIPE, text=True).stdout
    found += [n for n in listed.split() if any(i in n for i in ids)]
    found += [m for m in host_mounts(other_boards=True) if any(i in m for i in ids) or any(d in m for d in dirs)]
    marks = [d.encode() for d in dirs] + [("-" + i).encode() for i in ids]
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            cmd = open("/proc/%s/cmdline" % pid, "rb").read()
            env = open("/proc/%s/environ" % pid, "rb").read()
        except OSError:
            continue
        if any(m in cmd or m in env for m in marks):
            found.append("process %s: %s" % (pid, cmd.replace(b"\0", b" ").decode(errors="replace")))
    found += [d for d in dirs if os.path.exists(d)]
    return found


def test_two_runs_back_to_back_leave_nothing_behind(sandbox_available, tiny_program):
    mounts_before = host_mounts()
    ids, dirs = [], []
    for _ in range(2):
        b = TestBoard(program=tiny_program)
        try:
            b.start()
            ids.append(b.id)
            dirs.append(b.dir)
            assert b.wait_console("tiny: up", timeout=10)
            b.plug_disk("sda", 8)
            b.exec("./insert.sh sda1", check=True)
            helper = b.popen("sleep 600")  # a straggler the teardown must end
            lan_helper = b.lan_popen(["sleep", "600"])
            assert b.exec(["udhcpc", "-i", "eth0", "-n", "-q"], timeout=20).returncode == 0
        finally:
            b.stop()
        assert helper.wait(timeout=5) is not None and lan_helper.poll() is not None
    assert _sandbox_traces(ids, dirs) == []
    assert host_mounts() == mounts_before


def test_teardown_is_clean_after_the_program_crashes(make_board, tmp_path):
    crash = tmp_path / "crash"
    crash.write_text("#!/bin/sh\necho about to crash\nkill -SEGV $$\n")
    crash.chmod(0o755)
    b = make_board(str(crash))
    assert b.wait_program_exit(10) == "signal 11"
    assert "about to crash" in b.console_text()
    ids, dirs = [b.id], [b.dir]
    b.stop()
    assert _sandbox_traces(ids, dirs) == []


def test_stale_board_of_a_killed_launcher_is_cleaned(sandbox_available, tmp_path):
    # A launcher killed outright leaves its board; the next start removes it.
    script = textwrap.dedent("""
        import ctypes, os, signal, sys, time
        ctypes.CDLL(None).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG: never outlive the test
        sys.path.insert(0, %r)
        import sandbox
        b = sandbox.Board()
        b.start()
        print(b.id, b.dir, b.init_pid, flush=True)
        time.sleep(600)
    """ % os.path.join(os.path.dirname(__file__), "..", "..", "sim", "sandbox"))
    p = subprocess.Popen(["/usr/bin/python3", "-c", script], stdout=subprocess.PIPE, text=True)
    try:
        bid, bdir, init_pid = p.stdout.readline().split()
    finally:
        p.kill()
        p.wait()
    assert os.path.isdir(bdir) and os.path.exists("/run/netns/board-" + bid)
    with TestBoard() as fresh:
        assert fresh.id != bid
    assert not os.path.exists(bdir)
    assert not os.path.exists("/run/netns/board-" + bid)
    assert not os.path.exists("/proc/" + init_pid) or \
        open("/proc/%s/stat" % init_pid).read().split()[2] == "Z"
