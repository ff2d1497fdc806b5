"""Auto focus of vidrec on the virtual board, judged from outside: the scene is
held still, its sharp distance set on the board's control socket, frames made
in lockstep, and the lens position read back from the ISP."""
import re

STEP = 30


def lens(b):
    return int(re.search(r" lens (\d+) ", b.vb("isp")).group(1))


def focus_within(b, target, frames):
    """Frames made until the lens stood within 10 of `target` for 60 frames."""
    made, near = 0, 0
    seen = []
    while made < frames and near < 60:
        assert b.vb("vif step %d" % STEP) == str(STEP)
        made += STEP
        pos = lens(b)
        seen.append(pos)
        assert 320 <= pos <= 700, seen   # the AF keeps to its software range
        near = near + STEP if abs(pos - target) <= 10 else 0
    return made, seen


def test_lens_follows_the_sharp_distance(board):
    assert board.wait_console(r"start venc\.\.\. \d+", timeout=30), board.console_text()[-3000:]
    assert board.wait_console(r"\*+ af_init \*+", timeout=10)
    assert board.vb("scene still").startswith("brightness")
    assert board.vb("lockstep on 2000") == "ok"
    for target in (600, 450):
        assert board.vb("scene focus %d" % target).startswith("brightness")
        made, seen = focus_within(board, target, 450)
        assert abs(lens(board) - target) <= 10, (target, seen)
        assert made < 450, (target, seen)
    assert board.vb("lockstep off") == "ok"


def test_one_failed_lens_status_leaves_a_focused_lens(board):
    assert board.wait_console(r"\*+ af_init \*+", timeout=30), board.console_text()[-3000:]
    assert board.vb("scene still").startswith("brightness")
    assert board.vb("lockstep on 2000") == "ok"
    assert board.vb("scene focus 600").startswith("brightness")
    made, seen = focus_within(board, 600, 450)
    assert made < 450, seen
    held = lens(board)
    assert board.vb("iqfail 0x2e20 -1 1") == "ok"
    after = []
    for _ in range(STEP):
        assert board.vb("vif step 1") == "1"
        after.append(lens(board))
    assert after == [held] * STEP, (held, after)
    assert board.vb("lockstep off") == "ok"
