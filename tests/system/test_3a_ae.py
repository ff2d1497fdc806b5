"""The auto exposure inside vidrec on the virtual board, seen from outside:
the scene's brightness is stepped on the board's control socket and the
exposure the ISP applied is read back with "isp"."""
import re


def isp(board):
    m = re.match(r"frames (\d+) shutter (\d+) sensor_gain (\d+) isp_gain (\d+) .* mean_y (\d+)$", board.vb("isp"))
    assert m, board.vb("isp")
    frames, shutter, sg, ig, mean_y = (int(v) for v in m.groups())
    return {"frames": frames, "exposure": shutter * sg * ig / 1024.0 / 1024.0, "mean_y": mean_y,
            "shutter": shutter, "sensor_gain": sg, "isp_gain": ig}


def settle(board, frames=90):
    assert board.vb("vif step %d" % frames) == str(frames)
    return isp(board)


def test_brightness_steps_are_undone_by_the_exposure(board):
    assert board.wait_console(r"start venc\.\.\. \d+", timeout=30), board.console_text()[-3000:]
    assert board.vb("lockstep on 1000") == "ok"
    assert board.vb("scene still").startswith("brightness")
    base = settle(board, 150)
    # The AE holds the picture at its target of 47.0 (the mean of the ISP's
    # statistics, in 8-bit levels).
    assert 44 <= base["mean_y"] <= 50, base
    for brightness in (4, 1, 0.25, 1):
        assert board.vb("scene brightness %s" % brightness).startswith("brightness")
        got = settle(board)
        # The exposure makes up for the light: four times the light, a
        # quarter of the exposure; the picture stays where it was.
        want = base["exposure"] / brightness
        assert abs(got["exposure"] / want - 1) < 0.15, (brightness, got, base)
        assert abs(got["mean_y"] - base["mean_y"]) <= 3, (brightness, got, base)
        # Shutters are whole sensor lines of 29630 ns.
        lines = round(got["shutter"] * 1000 / 29630.0)
        assert abs(lines * 29.630 - got["shutter"]) < 1.0, got
    assert re.match(r"on timeout 1000 timeouts 0$", board.vb("lockstep")), board.vb("lockstep")
    assert board.vb("lockstep off") == "ok"
