"""Fixtures for system tests on the virtual board; the API is described in board.py."""
import os

import pytest

from board import TestBoard, sandbox

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))


def _in_ci():
    return os.environ.get("CI") == "true"


@pytest.fixture(scope="session")
def sandbox_available():
    ok, why = sandbox.available()
    if not ok:
        pytest.skip("virtual board unavailable: " + why)
    return True


@pytest.fixture(scope="session")
def vidrec_path():
    builds = [os.environ["VIDREC_BUILD"]] if os.environ.get("VIDREC_BUILD") else \
        [os.path.join(ROOT, "build-ci"), os.path.join(ROOT, "build")]
    for b in builds:
        for p in (os.path.join(b, "dvr", "vidrec"), os.path.join(b, "vidrec")):
            if os.access(p, os.X_OK):
                return p
    msg = "no vidrec binary in " + " or ".join(builds)
    if _in_ci():
        pytest.fail(msg)
    pytest.skip(msg)


@pytest.fixture
def make_board(sandbox_available, request):
    boards = []

    def make(program=None, **kw):
        b = TestBoard(program=program, **kw)
        boards.append(b)
        b.start()
        return b

    yield make
    errors = []
    for b in reversed(boards):
        failed = getattr(request.node, "rep_call", None)
        if failed is not None and failed.failed and b.dir:
            # Keep what the program printed next to the failure report.
            text = b.console_text()
            if text:
                print("---- console of board %s ----\n%s" % (b.id, text[-4000:]))
        try:
            b.stop()
        except Exception as e:  # keep tearing the others down
            errors.append(e)
    if errors:
        raise errors[0]


@pytest.fixture
def empty_board(make_board):
    return make_board()


@pytest.fixture
def board(make_board, vidrec_path):
    return make_board(vidrec_path)


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    outcome = yield
    rep = outcome.get_result()
    setattr(item, "rep_" + rep.when, rep)
