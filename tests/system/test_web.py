"""The settings page on port 80, judged from the lan: exact answers of every
request path, their effects on the board's files, interface, serial cable and
RTMP server, the page's include tags, the WebSocket push, start-up failures, a
real browser filling the page, and a load run while recording and publishing."""
import glob
import os
import re
import socket
import struct
import subprocess
import time
import urllib.parse

import pytest

from board import LAN_IP, TestBoard
from media_probe import ffprobe, flv_frame_nums, flv_tags, gop_breaks, packet_times
from test_recording import FRAME, GOP_PICTURES, check_recording

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
WEB_ROOT = os.path.join(ROOT, "web_root")
ARTIFACTS = os.path.join(ROOT, "artifacts")

HEART = 0xBB
URL_RECORD = 0x67
URL_INDEX = 0x6C
# Saved settings: check id, rc modes, bit-rate indexes 0 (record) and 2 (live),
# input mode 3 (1080p30), profile 2, storage slot 1 (first USB disk).
USERPARA = bytes([0x5A, 0xA5, 0, 0, 0, 2, 0x23, 1])
JSON_HEAD = b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"


def json_answer(value):
    body = b'{ "result": %d }' % value
    return JSON_HEAD + b"%x\r\n%s\r\n0\r\n\r\n" % (len(body), body)


def url_record(index, user, url):
    return struct.pack("<BB16sH768s", index, len(user), user.encode(), len(url), url.encode())


def raw_http(b, request, host=None, port=80, timeout=5.0, netns="lan"):
    """Sends request bytes as they are and returns every byte the server
    sends until it closes the connection."""
    host = host or b.board_ip()

    def call():
        with socket.create_connection((host, port), timeout=timeout) as s:
            s.sendall(request)
            out = b""
            while True:
                d = s.recv(65536)
                if not d:
                    return out
                out += d
    return b.in_lan(call) if netns == "lan" else b.in_board_net(call)


def get(path):
    return b"GET %s HTTP/1.1\r\nHost: board\r\nConnection: close\r\n\r\n" % path.encode()


def post(path, fields):
    body = fields if isinstance(fields, bytes) else urllib.parse.urlencode(fields).encode()
    return (b"POST %s HTTP/1.1\r\nHost: board\r\nConnection: close\r\n"
            b"Content-Type: application/x-www-form-urlencoded\r\nContent-Length: %d\r\n\r\n%s"
            % (path.encode(), len(body), body))


def split_answer(raw):
    head, _, body = raw.partition(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    status = int(lines[0].split()[1])
    headers = {k.lower(): v for k, v in (l.split(": ", 1) for l in lines[1:])}
    return status, headers, body


def assert_home(raw):
    status, headers, body = split_answer(raw)
    assert status == 302 and headers["location"] == "/" and body == b"", raw


def heartbeat(b, timeout=3.0):
    f = b.serial.wait_frame(HEART, timeout=timeout, after=b.serial.mark())
    assert f is not None, "no heartbeat"
    return f.payload[1:]


def tag_values(page):
    """The values the include tags put into the settings page."""
    text = page.decode()
    out = {}
    for name in ("setting1", "setting2", "setting3", "setting4", "UserName", "StreamAddr"):
        m = re.search(r'name="%s"[^>]*value="([^"]*)"' % name, text, re.S)
        out[name] = m and m.group(1)
    for ident, name in (("stream-status", "StreamStatus"), ("rec-status", "RecStatus"), ("ip-mode", "setting5"),
                        ("url-index", "iUrlIndex"), ("stream-rate", "iStreamBitRate")):
        m = re.search(r'id="%s"[^>]*data-value="([^"]*)"' % ident, text, re.S)
        out[name] = m and m.group(1)
    return out


def cpu_counters():
    with open("/proc/stat") as f:
        v = [int(x) for x in f.readline().split()[1:9]]
    return sum(v) - v[3] - v[4], sum(v)


@pytest.fixture(scope="module")
def web(sandbox_available, vidrec_path):
    """One board with a fixed address for the request-path tests (in file order)."""
    b = TestBoard(program=vidrec_path, web_root=WEB_ROOT,
                  files={"userpara": USERPARA, "DHCP_flag": "0",
                         "url/0": url_record(0, "first", "rtmp://192.168.1.1:1935/live/zero")})
    b.start()
    try:
        assert b.wait_console(r"Starting web server on port 80\n", timeout=10), b.console_text()[-2000:]
        assert b.wait_board_ip(15) == "192.168.1.239"
        yield b
    finally:
        b.stop()


def test_page_tags_show_the_current_settings(web):
    status, headers, body = split_answer(raw_http(web, get("/")))
    assert status == 200 and headers["content-type"].startswith("text/html")
    assert "<!--#" not in body.decode()
    assert tag_values(body) == {
        "setting1": "192.168.1.239", "setting2": "255.255.255.0", "setting3": "192.168.1.1",
        "setting4": LAN_IP,  # the board's resolv.conf
        "setting5": "0", "UserName": "first", "StreamAddr": "rtmp://192.168.1.1:1935/live/zero",
        "StreamStatus": "0", "RecStatus": "0", "iUrlIndex": "0", "iStreamBitRate": "2",
    }
    # The page's own files come from web_root as they are.
    status, _, js = split_answer(raw_http(web, get("/settings.js")))
    assert status == 200 and js == open(os.path.join(WEB_ROOT, "settings.js"), "rb").read()


def test_status_answers_are_exact(web):
    assert raw_http(web, get("/get_Rec_Status")) == json_answer(0)
    raw = raw_http(web, get("/get_cpu_usage"))
    m = re.fullmatch(rb'HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n[0-9a-f]+\r\n\{ "result": (\d+) \}'
                     rb'\r\n0\r\n\r\n', raw)
    assert m and raw == json_answer(int(m.group(1))) and 0 <= int(m.group(1)) <= 100, raw


def test_set_url_index_keeps_three_bits_and_tells_the_host(web):
    mark = web.serial.mark()
    assert_home(raw_http(web, post("/setUrlIndex", {"UrlIndex": "9"})))
    f = web.serial.wait_frame(URL_INDEX, timeout=3, after=mark)
    assert f and f.dev_type == 0xE0 and f.payload == b"\x00\x01"
    assert heartbeat(web)[23] & 7 == 1
    assert tag_values(split_answer(raw_http(web, get("/")))[2])["iUrlIndex"] == "1"
    assert web.wait_console(r"UrlIndex: 9\n")


def test_rtmp_url_save_stores_the_destination_of_the_index(web):
    mark = web.serial.mark()
    assert_home(raw_http(web, post("/RtmpUrl_save", {"UserName": "cam one", "StreamAddr": web.rtmp_url("one")})))
    want = url_record(1, "cam one", web.rtmp_url("one"))
    assert open(web.app_path("url/1"), "rb").read() == want
    f = web.serial.wait_frame(URL_RECORD, timeout=3, after=mark)
    assert f and f.payload == b"\x00" + want
    assert web.wait_console(r"save index = 1\n")
    # Read back into the form.
    assert_home(raw_http(web, post("/RtmpUrl_read", b"")))
    tags = tag_values(split_answer(raw_http(web, get("/")))[2])
    assert (tags["UserName"], tags["StreamAddr"]) == ("cam one", web.rtmp_url("one"))


def test_bad_form_variables_change_nothing(web):
    files = {n: open(web.app_path(n), "rb").read() for n in ("netIp", "DHCP_flag", "url/1")}
    mark = web.serial.mark()
    cases = [
        ("/setUrlIndex", {"UrlIndex": "1234"}),
        ("/setUrlIndex", {"UrlIndex": "x"}),
        ("/setUrlIndex", {}),
        ("/RtmpUrl_save", {"UserName": "u" * 16, "StreamAddr": "rtmp://x/y"}),
        ("/RtmpUrl_save", {"UserName": "u", "StreamAddr": "a" * 768}),
        ("/RtmpUrl_save", b"UserName=u%2&StreamAddr=x"),
        ("/streamOnOff", {"UserName": "u"}),
        ("/saveRtmpRate", {"StreamIndex": "256"}),
        ("/save", {"setting1": "192.168.1.300", "setting2": "255.255.255.0", "setting3": "192.168.1.1",
                   "setting4": "192.168.1.1", "IpAcquIndex": "0"}),
        ("/save", {"setting1": "192.168.1.50", "setting2": "255.255.0", "setting3": "192.168.1.1",
                   "setting4": "192.168.1.1", "IpAcquIndex": "0"}),
        ("/save", {"setting1": "192.168.1.50"}),
        # set-ups the board cannot use: the broadcast address as gateway, a /32 mask
        ("/save", {"setting1": "192.168.1.50", "setting2": "255.255.255.0", "setting3": "192.168.1.255",
                   "setting4": "192.168.1.1", "IpAcquIndex": "0"}),
        ("/save", {"setting1": "192.168.1.50", "setting2": "255.255.255.255", "setting3": "192.168.1.50",
                   "setting4": "192.168.1.1", "IpAcquIndex": "0"}),
    ]
    for path, fields in cases:
        assert_home(raw_http(web, post(path, fields)))
    assert web.wait_console(r"ip is invalid IPv4 ---------")
    # A body over the limit is refused outright.
    status, _, _ = split_answer(raw_http(web, post("/setUrlIndex", b"UrlIndex=2&p=" + b"p" * 9000)))
    assert status == 413
    time.sleep(0.3)
    assert {n: open(web.app_path(n), "rb").read() for n in files} == files
    assert [f.cmd for f in web.serial.frames()[mark:] if f.cmd != HEART] == []
    assert web.board_ip() == "192.168.1.239"
    beat = heartbeat(web)
    assert beat[19] == 2 and beat[23] & 7 == 1 and beat[21] & 4 == 0


def test_paths_outside_web_root_are_not_served(web):
    for path in (b"/../netIp", b"/%2e%2e/userpara", b"/a/../../netIp", b"/../../etc/passwd"):
        raw = raw_http(web, b"GET %s HTTP/1.1\r\nHost: board\r\nConnection: close\r\n\r\n" % path)
        status, _, body = split_answer(raw)
        assert status == 404 and b"root:" not in body, (path, raw[:200])
    assert split_answer(raw_http(web, get("/nosuch.html")))[0] == 404


def test_save_rtmp_rate_rebuilds_the_live_channel(web):
    mark = web.console_mark()
    assert_home(raw_http(web, post("/saveRtmpRate", {"StreamIndex": "5"})))
    assert web.wait_console(r"cStreamBitRate: 5\n", start=mark)
    assert web.wait_console(r"ucBitRate\[1\] = 5", start=mark, timeout=10), "live channel not rebuilt"
    assert heartbeat(web)[19] == 5
    assert open(web.app_path("userpara"), "rb").read() == USERPARA  # not saved
    assert tag_values(split_answer(raw_http(web, get("/")))[2])["iStreamBitRate"] == "5"


def test_websocket_pushes_the_cpu_load_once_a_second(web):
    import websocket

    host = web.board_ip()

    def listen():
        ws = websocket.create_connection("ws://%s/" % host, timeout=5)
        try:
            got = []
            busy0, total0 = cpu_counters()
            while len(got) < 5:
                op, data = ws.recv_data()
                got.append((time.monotonic(), op, data))
            busy1, total1 = cpu_counters()
            return got, 100.0 * (busy1 - busy0) / max(1, total1 - total0)
        finally:
            ws.close()

    got, load = web.in_lan(listen)
    assert all(op == websocket.ABNF.OPCODE_TEXT for _, op, _ in got)
    values = [int(d.decode()) for _, _, d in got if re.fullmatch(rb"\d{1,3}", d)]
    assert len(values) == 5 and all(0 <= v <= 100 for v in values), got
    gaps = [b[0] - a[0] for a, b in zip(got, got[1:])]
    assert all(0.75 < g < 1.25 for g in gaps), gaps
    # The machine's own load over the same seconds, not a random number.
    assert abs(sum(values[1:]) / 4.0 - load) < 25, (values, load)


def test_stream_on_off_publishes_the_saved_destination(web):
    url = web.rtmp_url("webcam")
    assert_home(raw_http(web, post("/streamOnOff", {"UserName": "live", "StreamAddr": url})))
    assert open(web.app_path("url/1"), "rb").read() == url_record(1, "live", url)
    assert web.wait_console(r"stream on\.\.\.")
    path = web.wait_rtmp_recording(min_bytes=50000, timeout=15)
    assert path and "webcam" in os.path.basename(path), web.rtmp_recordings()
    assert heartbeat(web)[21] & 4
    assert tag_values(split_answer(raw_http(web, get("/")))[2])["StreamStatus"] == "1"

    url2 = web.rtmp_url("other")
    assert_home(raw_http(web, post("/streamOnOff", {"UserName": "live2", "StreamAddr": url2})))
    assert open(web.app_path("url/1"), "rb").read() == url_record(1, "live2", url2)  # stored again
    assert web.wait_console(r"stream off\.\.\.")
    deadline = time.monotonic() + 5
    while heartbeat(web)[21] & 4 and time.monotonic() < deadline:
        pass
    assert not heartbeat(web)[21] & 4
    time.sleep(1.5)
    size = os.path.getsize(path)
    time.sleep(1.5)
    assert os.path.getsize(path) == size, "still publishing"


def test_save_static_setup_changes_files_and_interface(web):
    fields = {"setting1": "192.168.1.77", "setting2": "255.255.255.0", "setting3": "192.168.1.1",
              "setting4": "192.168.1.1", "IpAcquIndex": "0"}
    assert_home(raw_http(web, post("/save", fields)))
    end = time.monotonic() + 5
    while web.board_ip() != "192.168.1.77" and time.monotonic() < end:
        time.sleep(0.05)
    assert web.board_ip() == "192.168.1.77"
    assert open(web.app_path("netIp"), "rb").read() == bytes([0xAA, 192, 168, 1, 77, 255, 255, 255, 0, 192, 168, 1, 1])
    assert open(web.app_path("DHCP_flag"), "rb").read() == b"0"
    assert open(web.path("/etc/resolv.conf")).read() == "nameserver 192.168.1.1\nnameserver 8.8.8.8\n"
    route = web.exec(["ip", "route", "show", "default"]).stdout
    assert "via 192.168.1.1 dev eth0" in route, route
    tags = tag_values(split_answer(raw_http(web, get("/")))[2])
    assert tags["setting1"] == "192.168.1.77" and tags["setting5"] == "0"


def test_save_with_dhcp_never_holds_up_the_server(web):
    # Cable out: the DHCP client retries for seconds, and the server answers meanwhile.
    web.link(False)
    t0 = time.monotonic()
    raw = raw_http(web, post("/save", {"IpAcquIndex": "1"}), host="127.0.0.1", netns="board")
    assert time.monotonic() - t0 < 1.0
    assert_home(raw)
    assert open(web.app_path("DHCP_flag"), "rb").read() == b"1"
    end = time.monotonic() + 5
    while "udhcpc" not in web.exec("ps -e -o comm=").stdout and time.monotonic() < end:
        time.sleep(0.05)
    assert "udhcpc" in web.exec("ps -e -o comm=").stdout
    for _ in range(3):
        t0 = time.monotonic()
        assert raw_http(web, get("/get_Rec_Status"), host="127.0.0.1", netns="board") == json_answer(0)
        assert time.monotonic() - t0 < 0.5
        time.sleep(0.3)
    web.link(True)
    end = time.monotonic() + 25
    while time.monotonic() < end:
        ip = web.board_ip()
        if ip and ip.startswith("192.168.1.1") and 100 <= int(ip.rsplit(".", 1)[1]) <= 199:
            break
        time.sleep(0.2)
    ip = web.board_ip()
    assert ip and 100 <= int(ip.rsplit(".", 1)[1]) <= 199, (ip, web.leases())
    assert tag_values(split_answer(raw_http(web, get("/"), host=ip))[2])["setting5"] == "1"


def test_browser_fills_and_submits_the_rtmp_form(web):
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support import expected_conditions as EC
    from selenium.webdriver.support.ui import WebDriverWait

    fw = web.forward_tcp(0, web.board_ip, 80)
    opts = webdriver.ChromeOptions()
    opts.binary_location = "/usr/bin/chromium"
    for a in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage", "--window-size=900,1300"):
        opts.add_argument(a)
    drv = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=opts)
    try:
        drv.set_page_load_timeout(15)
        base = "http://127.0.0.1:%d/" % fw.port
        drv.get(base)
        wait = WebDriverWait(drv, 10)
        # The page's script ran: the CPU load arrives over the WebSocket.
        wait.until(lambda d: re.fullmatch(r"\d{1,3}", d.find_element(By.ID, "cpu-load").text))
        assert drv.find_element(By.ID, "stream-status").text == "off"
        assert drv.find_element(By.ID, "url-index").get_attribute("value") == "1"
        assert drv.find_element(By.ID, "ip-mode").get_attribute("value") == "1"  # DHCP since the last test
        assert not drv.find_element(By.NAME, "setting1").is_enabled()
        url = web.rtmp_url("browser")
        for ident, text in (("user-name", "from browser"), ("stream-addr", url)):
            e = drv.find_element(By.ID, ident)
            e.clear()
            e.send_keys(text)
        button = drv.find_element(By.ID, "rtmp-save")
        button.click()
        # Redirected home (the typed-in page is gone first: it has the same
        # address and values), and the new page shows the stored destination.
        wait.until(EC.staleness_of(button))
        wait.until(lambda d: d.current_url == base and
                   d.find_element(By.ID, "user-name").get_attribute("value") == "from browser")
        assert drv.find_element(By.ID, "stream-addr").get_attribute("value") == url
        assert open(web.app_path("url/1"), "rb").read() == url_record(1, "from browser", url)
        os.makedirs(ARTIFACTS, exist_ok=True)
        assert drv.save_screenshot(os.path.join(ARTIFACTS, "web-page.png"))
    finally:
        drv.quit()
    with open(os.path.join(ARTIFACTS, "web-page.png"), "rb") as f:
        assert f.read(8) == b"\x89PNG\r\n\x1a\n"


def test_load_while_recording_and_publishing(web):
    """30 s of requests for the page while the board records and publishes:
    every answer good, no heartbeat missed, no picture lost that the board
    made."""
    web.plug_disk("sda", size_mb=2048)  # recording stops at 512 MB free
    assert web.serial.wait_frame(HEART, timeout=8, after=web.serial.mark(),
                                 pred=lambda f: (f.payload[1 + 21] >> 5) & 3 == 2), "disk not open"
    ip = web.board_ip()
    assert_home(raw_http(web, post("/streamOnOff", {"UserName": "load", "StreamAddr": web.rtmp_url("load")})))
    flv = None
    end = time.monotonic() + 15
    while not flv and time.monotonic() < end:
        flv = next((p for p in web.rtmp_recordings() if "load" in os.path.basename(p)
                    and os.path.getsize(p) > 50000), None)
        time.sleep(0.2)
    assert flv, web.rtmp_recordings()
    rec0 = web.picture_counts(0)[1]
    mark = web.serial.mark()
    web.send_frame(96, b"\x01")
    assert web.serial.wait_frame(HEART, timeout=5, after=mark,
                                 pred=lambda f: (f.payload[1 + 20] >> 3) & 3 == 1), "not recording"

    live0 = web.picture_counts(1)[0]
    t0 = time.monotonic()
    out = web.lan_exec(["wrk", "-t2", "-c8", "-d30s", "http://%s/" % ip], timeout=60)
    t1 = time.monotonic()
    live_made = web.picture_counts(1)[0] - live0
    beats = [f.t for f in web.serial.frames(HEART)[0:] if t0 <= f.t <= t1]
    web.send_frame(96, b"\x00")
    assert_home(raw_http(web, post("/streamOnOff", {"UserName": "load", "StreamAddr": web.rtmp_url("load")})))

    assert out.returncode == 0, out.stderr
    text = out.stdout
    m = re.search(r"(\d+) requests in", text)
    assert m and int(m.group(1)) > 1000, text
    assert "Non-2xx or 3xx responses" not in text and "Socket errors" not in text, text
    # Heartbeats: one a second all through the run.
    assert len(beats) >= 29, len(beats)
    gaps = [b - a for a, b in zip(beats, beats[1:])]
    assert max(gaps) < 1.5, max(gaps)

    assert web.serial.wait_frame(HEART, timeout=8, after=web.serial.mark(),
                                 pred=lambda f: f.payload[1 + 20] & 0x1A == 0), "recording did not end"
    mp4s = []
    end = time.monotonic() + 10
    while time.monotonic() < end:
        mp4s = sorted(glob.glob(os.path.join(web.disk_dir("sda1"), "video_*.mp4")))
        if mp4s and not glob.glob(os.path.join(web.disk_dir("sda1"), "*[!4]")):
            break
        time.sleep(0.2)
    assert len(mp4s) == 1, os.listdir(web.disk_dir("sda1"))
    rec_skipped = web.picture_counts(0)[1] - rec0
    info = ffprobe(mp4s[0], packets=True)
    video = [s for s in info["streams"] if s["codec_type"] == "video"]
    assert len(video) == 1, (mp4s[0], os.path.getsize(mp4s[0]))
    times = sorted(t for t, _ in packet_times(info, video[0]["index"]))
    # Start and stop each wait for a key frame (30 pictures: a second and
    # the slots the board skipped).
    assert times[-1] - times[0] > (t1 - t0) - 2 - rec_skipped * FRAME, (times[-1] - times[0], rec_skipped)
    # Every picture the board made over the file's span is in it: a gap
    # only where the board itself skipped, the encoder's count unbroken.
    check_recording(mp4s[0], times, rec_skipped)
    # The live stream's clock is nominal (no gaps to see), but the encoder
    # numbers its pictures: every one encoded reached the server, and the
    # recording, published before the load began and after it ended, holds
    # at least every picture the board made meanwhile.
    nums, bits = flv_frame_nums(flv_tags(flv))
    assert gop_breaks(nums, GOP_PICTURES, bits) == [], "pictures lost by the publisher"
    assert len(nums) >= live_made, (len(nums), live_made)


def test_start_fails_on_a_taken_port_and_without_web_root(make_board, vidrec_path):
    b = make_board(vidrec_path, web_root=WEB_ROOT, start_program=False)
    holder = b.popen(["socat", "TCP-LISTEN:80,reuseaddr,fork", "SYSTEM:true"])
    try:
        end = time.monotonic() + 10
        while ":80 " not in b.exec("ss -ltn").stdout and time.monotonic() < end:
            time.sleep(0.05)
        assert ":80 " in b.exec("ss -ltn").stdout, "port 80 not taken"
        b.start_program()
        exit_text = b.wait_program_exit(15)
        assert exit_text == "exit 1", (exit_text, b.console_text()[-1500:])
        assert b.wait_console(r"Cannot bind to 80\n"), b.console_text()[-1500:]
    finally:
        b.kill(holder)
    b.exec(["rm", "-rf", "/customer/app/web_root"], check=True)
    mark = b.console_mark()
    b.start_program()
    exit_text = b.wait_program_exit(15)
    assert exit_text == "exit 1", (exit_text, b.console_text()[mark:][-1500:])
    assert b.wait_console(r"Cannot find web_root directory, exiting\n", start=mark), b.console_text()[-1500:]
