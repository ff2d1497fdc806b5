"""The UDP relay judged from outside: datagrams from peers in the lan on ports
7000, 7100 and 57038 reach the serial cable (two kinds paced), frames the host
marks for the network reach the last sender of a port and the multicast group,
and a flood neither loses queued frames nor delays the heartbeat.

One board serves the module; the first test needs it before any peer has sent."""
import os
import re
import signal
import socket
import subprocess
import time

import pytest

from board import TestBoard, build_frame

HEART = 0xBB
PORTS = (7000, 7100, 57038)


@pytest.fixture(scope="module")
def b(sandbox_available, vidrec_path):
    board = TestBoard(program=vidrec_path)
    board.start()
    try:
        assert board.serial.wait_frame(HEART, timeout=10), "no heartbeat"
        # Frames for the group leave by the default route.
        assert board.wait_board_ip(20, route=True), "no address and route from DHCP"
        yield board
        # A sanitizer build reports faults on the console and may carry on.
        text = board.console_text()
        assert "runtime error:" not in text and "Sanitizer" not in text, text[-3000:]
    finally:
        board.stop()


def tagged(cmd, size, tag, version=0):
    """A valid frame of `size` bytes whose payload starts with a 16-bit tag."""
    body = tag.to_bytes(2, "little") + bytes(size - 22)
    return build_frame(cmd, body, dev_id=0x5A, version=version)


def tag_of(f):
    return int.from_bytes(f.payload[:2], "little")


def arrivals(b, cmd, tags, timeout=5.0, after=0):
    """Waits until frames of `cmd` with all `tags` came off the serial cable;
    returns those frames in arrival order."""
    want = set(tags)
    end = time.monotonic() + timeout
    while True:
        got = [f for f in b.serial.frames(cmd)[after:] if f.dev_id == 0x5A and tag_of(f) in want]
        if {tag_of(f) for f in got} >= want or time.monotonic() > end:
            return got
        time.sleep(0.02)


def test_frames_for_the_network_before_any_peer_fail_but_reach_the_group(b):
    group = b.mcast_socket()
    mark = b.console_mark()
    b.send_frame(0x30, b"\x01", if_type=1)
    b.send_frame(0x5F, b"\x01", if_type=1)
    frame = build_frame(0x31, b"\x02\x03", if_type=1, version=2)
    b.serial_write(frame)
    got = b.recv(group, timeout=2)
    assert got is not None, "nothing on the multicast group"
    # The version bits are cleared on the way; the sum follows the bytes sent.
    assert got[0] == build_frame(0x31, b"\x02\x03", if_type=1, version=0)
    # No peer on 7000, 7100 or 57038 yet: three failed sends (the message has
    # no line end of its own: it shows with the next line).
    b.send_frame(33)
    assert b.wait_console(r"(?s)(send fail .*){3}", timeout=2, start=mark)
    group.close()


def test_a_datagram_on_each_port_reaches_the_serial_cable(b):
    n0 = len(b.serial.frames())
    sent = {}
    for i, port in enumerate(PORTS):
        # Command 0x82/0x5F of another length is not paced: it goes at once.
        for j, (cmd, size) in enumerate([(0x30, 25), (0x82, 23), (0x5F, 40)]):
            f = tagged(cmd, size, 100 * i + j)
            b.udp_send(f, port)
            sent[f] = port
    end = time.monotonic() + 3
    while time.monotonic() < end:
        raws = {f.raw for f in b.serial.frames()[n0:]}
        if set(sent) <= raws:
            break
        time.sleep(0.05)
    missing = [(p, f.hex()) for f, p in sent.items() if f not in {x.raw for x in b.serial.frames()[n0:]}]
    assert not missing
    # Byte for byte on the cable, nothing added.
    raw = b.serial.raw()
    for f in sent:
        assert raw.count(f) == 1


class WriteTrace:
    """Times of the program's write() calls, taken by strace at the call: the
    reading end of the serial cable lags by a varying few milliseconds under
    load, the call times do not."""

    def __init__(self, b):
        self.path = os.path.join(b.dir, "writes.trace")
        self.proc = subprocess.Popen(["strace", "-f", "-ttt", "-qq", "-e", "trace=write", "-xx", "-s", "64",
                                      "-o", self.path, "-p", str(b.program_pid())],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(0.5)  # attached to every thread

    def stop(self):
        self.proc.send_signal(signal.SIGINT)
        self.proc.wait(timeout=10)
        with open(self.path) as f:
            text = f.read()
        out = []
        for m in re.finditer(r"^\d+\s+([\d.]+) write\(\d+, \"((?:\\x[0-9a-f]{2})*)\"", text, re.M):
            out.append((float(m.group(1)), bytes.fromhex(m.group(2).replace("\\x", ""))))
        return out


@pytest.mark.parametrize("port, cmd, size", [(7000, 0x82, 22), (7100, 0x5F, 31)])
def test_paced_frames_arrive_at_least_5ms_apart(b, port, cmd, size):
    mark = len(b.serial.frames(cmd))
    tags = list(range(1000, 1024))
    frames = [tagged(cmd, size, t) for t in tags]
    # One of another length sent last overtakes the queue.
    burst = frames + [tagged(cmd, size + 1, 999)]
    dest = (b.board_ip(), port)

    def send_all():
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
            for f in burst:
                s.sendto(f, dest)

    trace = WriteTrace(b)
    try:
        b.in_lan(send_all)
        got = arrivals(b, cmd, tags + [999], after=mark)
    finally:
        writes = trace.stop()
    order = [tag_of(f) for f in got]
    assert sorted(order) == sorted(tags + [999]), order
    assert [t for t in order if t != 999] == tags
    # Each frame written whole in one call, 5 ms or more after the previous.
    times = [t for t, data in writes if data in frames]
    assert len(times) == len(frames), writes[:20]
    gaps = [(times[i + 1] - times[i]) * 1000 for i in range(len(times) - 1)]
    assert min(gaps) >= 5.0, gaps
    # The receiver takes a datagram a millisecond, the pacer sends one per 5:
    # the unqueued frame, sent last, overtakes queued ones (how many depends
    # on the machine's load).
    assert order.index(999) < len(tags), order


def test_frames_for_the_network_reach_the_last_sender_of_their_port(b):
    peers = {p: (b.udp_socket(), b.udp_socket()) for p in PORTS}
    for p, (first, last) in peers.items():
        b.udp_send(tagged(0x30, 22, 1), p, sock=first)
        b.udp_send(tagged(0x30, 22, 2), p, sock=last)
    time.sleep(0.3)
    group = b.mcast_socket()
    cases = [
        (7000, dict(cmd=0x44, payload=b"\x07\x00")),
        (7100, dict(cmd=0x5E, payload=b"\x5e\x00")),
        (7100, dict(cmd=0x5F, payload=b"\x5f\x00")),
        (57038, dict(cmd=0x44, payload=b"\x08\x00", version=5)),
    ]
    for port, kw in cases:
        b.serial_write(build_frame(if_type=1, **kw))
        want = build_frame(if_type=1, **dict(kw, version=0))
        first, last = peers[port]
        got = b.recv(last, timeout=2)
        assert got is not None, "port %d: nothing for the last sender" % port
        assert got[0] == want and got[1][1] == port
        if kw.get("version"):
            m = b.recv(group, timeout=2)
            assert m is not None and m[0] == want
        # Nobody else got it: not the earlier sender, not the other ports' peers.
        for p, (f, l) in peers.items():
            assert b.recv(f, timeout=0.05) is None
            if p != port:
                assert b.recv(l, timeout=0.05) is None
    assert b.recv(group, timeout=0.2) is None  # only versioned frames go to the group
    for s in [group] + [s for pair in peers.values() for s in pair]:
        s.close()


def test_flood_loses_nothing_queued_and_heartbeat_stays_on_time(b):
    mark82 = len(b.serial.frames(0x82))
    queued = list(range(2000, 2100))
    s = b.udp_socket()
    for t in queued:
        b.udp_send(tagged(0x82, 22, t), 7000, sock=s)
    time.sleep(0.15)  # received into the queue, most still waiting for the pacer
    beats0 = len(b.serial.frames(HEART))
    t0 = time.monotonic()

    def flood():
        sent = 0
        dests = [(b.board_ip(), p) for p in PORTS]
        frames = [tagged(0x82, 22, 60000), tagged(0x5F, 31, 60001), tagged(0x30, 24, 60002)]
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as f:
            for i in range(10000):
                f.sendto(frames[i % 3], dests[i % 3])
                sent += 1
                if i % 500 == 499:
                    time.sleep(0.1)  # spread over about two seconds
        return sent

    assert b.in_lan(flood) == 10000
    t_flood = time.monotonic() - t0
    # Still answering requests right after.
    r = b.request(33)
    assert r is not None and r.payload == b"\x00\x26"
    time.sleep(2.5)
    s.close()

    got = arrivals(b, 0x82, queued, after=mark82, timeout=3)
    assert [tag_of(f) for f in got] == queued  # all of them, in order
    beats = b.serial.frames(HEART)[beats0 - 1:]
    # From the last beat before the flood to the last one after it.
    span = beats[-1].t - beats[0].t
    assert span >= t_flood + 1.0 and len(beats) >= int(t_flood) + 3, (span, t_flood, len(beats))
    gaps = [beats[i + 1].t - beats[i].t for i in range(len(beats) - 1)]
    assert all(abs(g - 1.0) <= 0.1 for g in gaps), gaps
    assert b.program_running()
