"""vidrec's white balance on the virtual board, seen from outside: the light of
a still scene steps 6500 K -> 3000 K -> 6500 K through the board's control
socket while the pipeline runs in lockstep, and the grey card in the ISP's
output comes back grey; the results the 3A sends carry the light's colour
temperature, a new one every third frame."""
import re
import struct


def card(b):
    return [float(x) for x in re.match(r"r (\S+) g (\S+) b (\S+)$", b.vb("grey-card")).groups()]


def spread(c):
    return (max(c) - min(c)) / c[1]


def awb_results(b):
    """(frame, Change, R, G, B, ColorTmp) of every white-balance result sent."""
    out = []
    for line in b.vb("iqlog 0x2E0A").splitlines():
        f = line.split()
        if len(f) == 9 and f[2] == "set" and len(f[8]) == 48:
            size, change, r, g, bl, ct = struct.unpack("<6I", bytes.fromhex(f[8]))
            out.append((int(f[1]), change, r, g, bl, ct))
    return out


def test_grey_card_follows_the_light(board):
    assert board.wait_console(r"start venc\.\.\. \d+", timeout=30), board.console_text()[-3000:]
    assert board.vb("scene still cct 6500").endswith("moving 0")
    assert board.vb("lockstep on 2000") == "ok"
    assert board.vb("iqlog clear") == "ok"
    first = True
    for cct in (6500, 3000, 6500):
        assert f"cct {cct} " in board.vb(f"scene cct {cct}")
        assert board.vb("vif step 1") == "1"
        if not first:
            assert spread(card(board)) > 0.2, "the new light should show before the white balance follows"
        first = False
        assert board.vb("vif step 29") == "29"
        c = card(board)
        assert spread(c) < 0.05, (cct, c)
        last = awb_results(board)[-1]
        assert abs(last[5] - cct) < 0.1 * cct, (cct, last)
    res = awb_results(board)
    assert len(res) >= 90, len(res)
    frames = [r[0] for r in res]
    assert frames == list(range(frames[0], frames[0] + len(frames))), "one result a frame"
    changes = [r[1] for r in res]
    ones = [i for i, ch in enumerate(changes) if ch == 1]
    assert ones and all(b - a == 3 for a, b in zip(ones, ones[1:])), changes
    assert "timeouts 0" in board.vb("lockstep")
    assert board.vb("lockstep off") == "ok"
