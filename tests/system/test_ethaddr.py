"""ethaddr run in a private network namespace: the MAC it sets on eth0 comes
from the chip id, and a failing system device makes it exit non-zero."""
import os
import re
import shutil
import subprocess
import tempfile
import time

import pytest

BUILD = os.environ.get("VIDREC_BUILD", os.path.join(os.path.dirname(__file__), "..", "..", "build"))
ETHADDR = os.path.join(BUILD, "tools", "ethaddr", "ethaddr")

pytestmark = [
    pytest.mark.skipif(os.geteuid() != 0, reason="needs root for a network namespace"),
    pytest.mark.skipif(not os.path.exists(ETHADDR), reason="ethaddr not built"),
]


def run_ethaddr(board_files):
    """Runs ethaddr in a fresh network namespace holding a veth eth0; returns
    (exit status, output, MAC of eth0 afterwards)."""
    root = tempfile.mkdtemp(prefix="vb-ethaddr-")
    try:
        for name, text in board_files.items():
            with open(os.path.join(root, name), "w") as f:
                f.write(text)
        script = (
            "ip link add eth0 type veth peer name eth0p && ip link set eth0 address 02:00:00:00:00:01 && "
            f"VB_ROOT={root} {ETHADDR}; rc=$?; ip -o link show eth0; exit $rc"
        )
        p = subprocess.run(["unshare", "-n", "sh", "-c", script], capture_output=True, text=True, timeout=30)
        # sysfs would show this machine's eth0: ask the namespace's own interface
        m = re.search(r"link/ether ([0-9a-f:]{17})", p.stdout)
        return p.returncode, p.stdout, m.group(1) if m else ""
    finally:
        shutil.rmtree(root, ignore_errors=True)


@pytest.mark.parametrize(
    "uuid, mac",
    [("0x0123456789abcdef", "00:49:89:ab:cd:ef"), ("0xffffffff00000000", "00:49:00:00:00:00")],
)
def test_mac_follows_low_32_bits_of_chip_id(uuid, mac):
    rc, out, got = run_ethaddr({"uuid": uuid + "\n"})
    assert rc == 0, out
    assert got == mac
    for line in ("(main 137)exec function pass", "(main 152)exec function pass", "(main 163)exec function pass"):
        assert line in out
    assert f"u64Uuid:{int(uuid, 16):#x}" in out


def test_failing_system_device_exits_non_zero_and_leaves_mac():
    # MI_SYS_ReadUuid (request 0x8008691f) answers a media error whose low byte is 0.
    rc, out, got = run_ethaddr({"uuid": "0x1\n", "inject": "/dev/mi_sys 0x8008691f 0xA0092100\n"})
    assert rc != 0
    assert "[main 152]exec function failed, error:a0092100" in out
    assert got == "02:00:00:00:00:01"


def test_inside_the_board_sets_eth0_and_the_lan_sees_it(make_board):
    b = make_board(None)
    with open(os.path.join(b.vb_root, "uuid"), "w") as f:
        f.write("0x00000000c0ffee42\n")
    # Into the board's own files: the build tree may not be visible inside it.
    shutil.copy(ETHADDR, b.app_path("ethaddr"))
    os.chmod(b.app_path("ethaddr"), 0o755)
    p = b.exec(["./ethaddr"])
    assert p.returncode == 0, p.stdout + p.stderr
    link = b.exec("ip -o link show eth0").stdout
    assert "link/ether 00:49:c0:ff:ee:42" in link
    assert "UP" in link.split(">")[0]
    # The lan resolves the board's address to the new MAC.
    b.exec("ip addr add 192.168.1.50/24 dev eth0", check=True)
    b.udp_send(b"x", 9, host="192.168.1.50")
    deadline = time.monotonic() + 5
    neigh = ""
    while time.monotonic() < deadline and "00:49:c0:ff:ee:42" not in neigh:
        time.sleep(0.1)
        neigh = b.lan_exec(["ip", "neigh", "show", "192.168.1.50"]).stdout
    assert "00:49:c0:ff:ee:42" in neigh, neigh
