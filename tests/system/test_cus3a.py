"""The 3A service inside vidrec on the virtual board, seen from outside: its
thread and scheduling, the reference IQ file it loads, one result of each kind
per frame, and what it costs while the ISP node fails."""
import os
import re
import time

# IQ-API requests on "/dev/mi_isp": a header and a pointer (x86-64 build).
IQ_SET, IQ_GET = 0x40206910, 0x40206911


def thread_ids(pid, name):
    out = []
    for tid in os.listdir("/proc/%d/task" % pid):
        try:
            with open("/proc/%d/task/%s/comm" % (pid, tid)) as f:
                if f.read().strip() == name:
                    out.append(int(tid))
        except FileNotFoundError:
            pass
    return out


def cpu_ns(pid, tid):
    with open("/proc/%d/task/%d/schedstat" % (pid, tid)) as f:
        return int(f.read().split()[0])


def isp_frames(b):
    return int(re.match(r"frames (\d+) ", b.vb("isp")).group(1))


def started(board):
    assert board.wait_console(r"start venc\.\.\. \d+", timeout=30), board.console_text()[-3000:]
    pid = board.program_pid()
    tids = thread_ids(pid, "3A_Proc_0")
    assert len(tids) == 1, tids
    return pid, tids[0]


def test_one_thread_at_rr_95_loads_the_reference_iq_and_answers_each_frame_once(board):
    pid, tid = started(board)
    assert os.sched_getscheduler(tid) == os.SCHED_RR
    assert os.sched_getparam(tid).sched_priority == 95
    # The sandbox installs the virtual sensor's IQ file; AE and AWB load it.
    assert board.wait_console(r"Load iq file /config/iqfile/iqfile0\.bin", timeout=5)
    assert "Failed to load IQ file." not in board.console_text()

    assert board.vb("lockstep on 1000") == "ok"
    n0 = isp_frames(board)
    assert board.vb("iqlog clear") == "ok"
    assert board.vb("vif step 30") == "30"
    for cid in (0x2E06, 0x2E0A, 0x2E21):
        frames = [int(line.split()[1]) for line in board.vb("iqlog 0x%X" % cid).splitlines()]
        assert frames == list(range(n0 + 1, n0 + 31)), (hex(cid), frames)
    assert re.match(r"on timeout 1000 timeouts 0$", board.vb("lockstep"))
    assert board.vb("lockstep off") == "ok"


def test_failing_isp_node_costs_the_3a_thread_under_one_percent(board):
    pid, tid = started(board)
    for code in (IQ_SET, IQ_GET):
        assert board.vb("inject /dev/mi_isp 0x%x -1" % code) == "ok"
    mark = board.console_mark()
    time.sleep(0.5)
    n0, t0, c0 = isp_frames(board), time.monotonic(), cpu_ns(pid, tid)
    time.sleep(3)
    used = cpu_ns(pid, tid) - c0
    wall = (time.monotonic() - t0) * 1e9
    assert isp_frames(board) - n0 >= 45, "frames kept coming"
    assert used < 0.01 * wall, "3A thread used %.1f ms in %.1f s" % (used / 1e6, wall / 1e9)
    assert board.wait_console(r"Cus3A_ProcA[EW]B?,\d+ error!", timeout=1, start=mark)
    # The node recovers: results flow again.
    assert board.vb("inject-clear") == "ok"
    assert board.vb("iqlog clear") == "ok"
    deadline = time.time() + 5
    while time.time() < deadline and not board.vb("iqlog 0x2E06"):
        time.sleep(0.1)
    assert board.vb("iqlog 0x2E06"), "no AE result after the node recovered"
