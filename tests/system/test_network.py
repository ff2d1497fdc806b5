"""Network configuration of the virtual board's eth0 by the recorder: an
address from the lan's DHCP server, a static address from the netIp file,
the link state in the heartbeat, as seen inside the board, from the lan and
in the reply to command 36; and none of it on this machine."""
import errno
import ipaddress
import os
import re
import socket
import subprocess
import time

import pytest

from board import LAN_IP

HEART = 0xBB
NET_INFO = 36


def host_network():
    """This machine's addresses, routes and name servers."""
    run = lambda *a: subprocess.run(a, capture_output=True, text=True).stdout  # noqa: E731
    with open("/etc/resolv.conf") as f:
        resolv = f.read()
    return run("ip", "-o", "addr"), run("ip", "route"), run("ip", "-6", "route"), resolv


@pytest.fixture
def host_untouched():
    before = host_network()
    yield
    assert host_network() == before, "this machine's network configuration changed"


def net_info(b):
    """Command 36's reply as a dict."""
    r = b.request(NET_INFO)
    assert r is not None and len(r.payload) == 29 and r.payload[0] == 0, r
    p = r.payload[1:]
    dot = lambda x: str(ipaddress.IPv4Address(bytes(x)))  # noqa: E731
    return {"check": p[0], "ip": dot(p[1:5]), "mask": dot(p[5:9]), "gw": dot(p[9:13]),
            "mac": ":".join("%02x" % x for x in p[13:19]), "dns": (dot(p[19:23]), dot(p[23:27])), "dhcp": p[27]}


def wait_net_info(b, pred, timeout=10):
    end = time.monotonic() + timeout
    while True:
        info = net_info(b)
        if pred(info) or time.monotonic() > end:
            return info
        time.sleep(0.5)


def board_eth0(b):
    """(address/prefix, default gateway, MAC) of eth0 inside the board."""
    addr = b.exec("ip -4 -o addr show dev eth0").stdout
    route = b.exec("ip -4 route show default").stdout
    link = b.exec("ip -o link show dev eth0").stdout
    a = re.search(r"inet (\S+)", addr)
    g = re.search(r"default via (\S+) dev eth0", route)
    m = re.search(r"link/ether (\S+)", link)
    return a.group(1) if a else None, g.group(1) if g else None, m.group(1) if m else None


def resolv_dns(text):
    """The two name servers as the recorder reads them: the first two
    "nameserver" lines wherever they stand (0.0.0.0 for one missing)."""
    found = re.findall(r"^\s*nameserver\s+(\d+\.\d+\.\d+\.\d+)", text, re.M)[:2]
    return tuple(found + ["0.0.0.0"] * (2 - len(found)))


def link_bit(frame):
    return bool(frame.payload[24] & 0x08)


def reachable(b, ip, port=80):
    """The board answers a TCP connection from the lan at ip (accepted, or
    refused by its kernel: either way the address is live on eth0)."""
    def probe():
        with socket.socket() as s:
            s.settimeout(2)
            return s.connect_ex((ip, port)) in (0, errno.ECONNREFUSED)
    return b.in_lan(probe)


def dhcp_acks(b):
    with open(os.path.join(b.dir, "lan", "dnsmasq.log")) as f:
        return len(re.findall(r"DHCPACK\(lan0\)", f.read()))


def test_dhcp_configures_eth0_and_a_pulled_cable_shows_and_renews(make_board, vidrec_path, host_untouched):
    b = make_board(vidrec_path, files={"DHCP_flag": "1"})
    ip = b.wait_board_ip(timeout=20)
    assert ip and ipaddress.IPv4Address("192.168.1.100") <= ipaddress.IPv4Address(ip) <= \
        ipaddress.IPv4Address("192.168.1.199"), ip
    cidr, gw, mac = board_eth0(b)
    assert cidr == ip + "/24" and gw == LAN_IP, (cidr, gw)
    assert any(mac in line and ip in line for line in b.leases()), b.leases()
    assert reachable(b, ip)

    # The DHCP client's script writes the name server after it sets the address.
    end = time.monotonic() + 10
    resolv = b.exec("cat /etc/resolv.conf").stdout
    while "domain" not in resolv and time.monotonic() < end:
        time.sleep(0.2)
        resolv = b.exec("cat /etc/resolv.conf").stdout
    assert "nameserver " + LAN_IP in resolv, resolv
    info = wait_net_info(b, lambda i: i["ip"] == ip and i["dns"] == resolv_dns(resolv))
    assert (info["ip"], info["mask"], info["gw"], info["mac"], info["dhcp"]) == (ip, "255.255.255.0", LAN_IP, mac, 1)
    assert info["dns"] == resolv_dns(resolv) == (LAN_IP, "0.0.0.0"), (info["dns"], resolv)

    beat = b.serial.wait_frame(HEART, timeout=5, after=b.serial.mark())
    assert beat is not None and link_bit(beat)
    acks = dhcp_acks(b)
    b.link(False)
    down = b.serial.wait_frame(HEART, timeout=4, after=b.serial.mark(), pred=lambda f: not link_bit(f))
    assert down is not None, "the heartbeat never showed the link down"
    b.link(True)
    up = b.serial.wait_frame(HEART, timeout=4, after=b.serial.mark(), pred=link_bit)
    assert up is not None, "the heartbeat never showed the link up again"
    # A new link runs the DHCP client again.
    end = time.monotonic() + 10
    while dhcp_acks(b) == acks and time.monotonic() < end:
        time.sleep(0.2)
    assert dhcp_acks(b) > acks, "no DHCP exchange after the cable came back"
    again = b.wait_board_ip(timeout=10)
    assert again and reachable(b, again)


def test_static_address_from_netip_applied_in_the_twelfth_second(make_board, vidrec_path, host_untouched):
    netip = bytes([0xAA, 192, 168, 1, 77, 255, 255, 254, 0, 192, 168, 1, 1])
    t0 = time.monotonic()
    b = make_board(vidrec_path, files={"DHCP_flag": "0", "netIp": netip})
    started = time.monotonic()
    time.sleep(max(0.0, 8 - (started - t0)))
    assert b.board_ip() is None, "an address before the 12th second"
    ip = b.wait_board_ip(timeout=12)
    applied = time.monotonic()
    assert ip == "192.168.1.77"
    assert 9 <= applied - started <= 16, applied - started
    cidr, gw, mac = board_eth0(b)
    assert (cidr, gw) == ("192.168.1.77/23", LAN_IP)
    assert reachable(b, ip)
    assert b.leases() == []

    resolv = b.exec("cat /etc/resolv.conf").stdout
    info = net_info(b)
    assert (info["check"], info["ip"], info["mask"], info["gw"], info["dhcp"]) == \
        (0xAA, "192.168.1.77", "255.255.254.0", LAN_IP, 0)
    assert info["mac"] == mac
    assert info["dns"] == resolv_dns(resolv) and info["dns"][0] == LAN_IP

    beat = b.serial.wait_frame(HEART, timeout=5, after=b.serial.mark())
    assert beat is not None and link_bit(beat)
    b.link(False)
    assert b.serial.wait_frame(HEART, timeout=4, after=b.serial.mark(), pred=lambda f: not link_bit(f))
    b.link(True)
    assert b.serial.wait_frame(HEART, timeout=4, after=b.serial.mark(), pred=link_bit)
