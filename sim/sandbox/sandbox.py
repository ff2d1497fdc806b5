#!/usr/bin/python3
"""The board sandbox: brings up a virtual board around a program (vidrec).

A board is:
- a board directory (default /tmp/vidrec-sandbox/<id>/) holding the board's
  own files: app/ (seen as "/customer/app": userpara, netIp, DHCP_flag, url/,
  web_root/, insert.sh, remove.sh), iqfile/ ("/config/iqfile"), resolv.conf
  ("/etc/resolv.conf"), partitions ("/proc/partitions"), sysblock/
  ("/sys/block"), vb/ ($VB_ROOT, with the control socket ctl.sock), clock (the
  board clock offset), disks/ (partition contents), rtmp/ (what the RTMP
  server recorded), lan/ (logs of the lan services), console.log;
- a private root: an overlay of / in fresh mount and pid namespaces, chrooted,
  with the files above bound over the fixed paths, its own /dev (the serial
  port "/dev/ttyS2" is a pty whose master the launcher holds), /tmp, /run and
  /vendor; the board directory is bound at the same path inside;
- network namespace "board-<id>" whose eth0 is a veth into "lan-<id>", where
  dnsmasq (DHCP and DNS) and nginx with the RTMP module listen on 192.168.1.1;
- the board clock: programs run without CAP_SYS_TIME and with a preloaded shim
  (vbclock.c) that turns setting the wall clock into an offset kept in the
  board directory; the machine's clock never changes.

Nothing of this machine is touched: no host interface, route, /etc file,
serial port, disk or clock. The only trace on the machine while a board runs
is its two namespace names under /run/netns and its board directory; both go
at stop(). Root is required.

Command line: `sandbox.py run PROGRAM` brings up a board and runs PROGRAM
(see scripts/run-board.sh); `sandbox.py cleanup` removes what boards whose
launcher died left behind.
"""
import argparse
import ctypes
import errno
import hashlib
import json
import os
import re
import select
import shutil
import signal
import socket
import subprocess
import sys
import termios
import threading
import time
import tty

HERE = os.path.dirname(os.path.abspath(__file__))
BASE = os.environ.get("VB_SANDBOX_DIR", "/tmp/vidrec-sandbox")
NETNS_DIR = "/run/netns"

LAN_PREFIX = "192.168.1"
LAN_IP = LAN_PREFIX + ".1"      # the lan side: gateway, DHCP, DNS, RTMP server
BOARD_STATIC_IP = LAN_PREFIX + ".239"  # the board's default static address
DHCP_FIRST, DHCP_LAST = LAN_PREFIX + ".100", LAN_PREFIX + ".199"
MCAST_GROUP = "239.10.10.222"
RTMP_PORT = 1935
RTMP_APP = "live"
BOARD_PATH = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"

CLONE_NEWNET = 0x40000000
_libc = ctypes.CDLL(None, use_errno=True)


class SandboxError(RuntimeError):
    pass


def _run(argv, check=True, timeout=20, **kw):
    p = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout, **kw)
    if check and p.returncode != 0:
        raise SandboxError("%s failed (%d): %s" % (" ".join(argv), p.returncode,
                                                   (p.stderr or b"").decode(errors="replace").strip()))
    return p


def available():
    """(True, "") when boards can run here, else (False, reason)."""
    if os.geteuid() != 0:
        return False, "the board sandbox needs root"
    for tool in ("nsenter", "unshare", "setpriv", "ip", "mount", "dnsmasq", "nginx", "cc"):
        if not shutil.which(tool, path=BOARD_PATH):
            return False, "missing tool: " + tool
    if not os.path.exists("/usr/lib/nginx/modules/ngx_rtmp_module.so"):
        return False, "missing nginx RTMP module"
    p = subprocess.run(["unshare", "--mount", "--net", "--pid", "--fork", "true"],
                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    if p.returncode != 0:
        return False, "namespaces unavailable: " + p.stderr.decode(errors="replace").strip()
    return True, ""


def setns_net(path):
    """Move the calling thread into the network namespace at `path`."""
    fd = os.open(path, os.O_RDONLY | os.O_CLOEXEC)
    try:
        if _libc.setns(fd, CLONE_NEWNET) != 0:
            e = ctypes.get_errno()
            raise OSError(e, "setns %s: %s" % (path, os.strerror(e)))
    finally:
        os.close(fd)


def run_in_netns(path, fn, *args, **kwargs):
    """Run fn in a fresh thread inside the network namespace at `path` and
    return its result (or raise its exception). Sockets it creates stay in
    that namespace and may be used from any thread afterwards."""
    box = {}

    def body():
        try:
            setns_net(path)
            box["r"] = fn(*args, **kwargs)
        except BaseException as e:  # noqa: B036 - handed to the caller
            box["e"] = e

    t = threading.Thread(target=body, name="vb-netns")
    t.start()
    t.join()
    if "e" in box:
        raise box["e"]
    return box.get("r")


def _pid_alive(pid):
    try:
        os.kill(pid, 0)
        return True
    except ProcessLookupError:
        return False
    except PermissionError:
        return True


def _netns_create(name):
    """A named network namespace (listed by `ip netns`), pinned by a bind mount
    on /run/netns/<name> without making /run/netns a mount of its own."""
    os.makedirs(NETNS_DIR, exist_ok=True)
    path = os.path.join(NETNS_DIR, name)
    if os.path.exists(path):
        raise SandboxError("network namespace %s exists already" % name)
    open(path, "w").close()
    p = subprocess.run(["unshare", "--net=" + path, "true"], stderr=subprocess.PIPE)
    if p.returncode != 0:
        os.unlink(path)
        raise SandboxError("cannot create network namespace %s: %s" % (name, p.stderr.decode().strip()))
    return path


def _netns_delete(name):
    path = os.path.join(NETNS_DIR, name)
    if not os.path.exists(path):
        return
    subprocess.run(["umount", "-l", path], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        os.unlink(path)
    except FileNotFoundError:
        pass


def _stop_process(pid, grace=2.0):
    """TERM, then KILL a process started by the sandbox (by its id only)."""
    if not _pid_alive(pid):
        return
    try:
        os.kill(pid, signal.SIGTERM)
    except ProcessLookupError:
        return
    end = time.monotonic() + grace
    while time.monotonic() < end and _pid_alive(pid) and not _is_zombie(pid):
        time.sleep(0.02)
    if _pid_alive(pid) and not _is_zombie(pid):
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass


def _is_zombie(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] == "Z"
    except OSError:
        return True


def clock_library(cache=None):
    """Build the board clock shim once per source version; returns its path."""
    src = os.path.join(HERE, "vbclock.c")
    with open(src, "rb") as f:
        digest = hashlib.sha256(f.read()).hexdigest()[:16]
    cache = cache or os.path.join(BASE, ".cache")
    os.makedirs(cache, exist_ok=True)
    out = os.path.join(cache, "libvbclock-%s.so" % digest)
    if not os.path.exists(out):
        tmp = "%s.%d.tmp" % (out, os.getpid())
        _run(["cc", "-O2", "-Wall", "-Wextra", "-Werror", "-fno-delete-null-pointer-checks", "-shared", "-fPIC", "-o", tmp, src, "-ldl"])
        os.rename(tmp, out)
    return out


class _Pump(threading.Thread):
    """Drains a pty master continuously (a full pty would block its writer)
    and hands every chunk to the callback. Blocks in select, never spins."""

    def __init__(self, fd, on_data, name):
        super().__init__(name=name, daemon=True)
        self.fd = fd
        self.on_data = on_data
        self.rd, self.wr = os.pipe()

    def run(self):
        while True:
            r, _, _ = select.select([self.fd, self.rd], [], [])
            if self.rd in r:
                return
            try:
                data = os.read(self.fd, 65536)
            except OSError as e:
                if e.errno == errno.EIO:  # no slave open right now
                    time.sleep(0.05)
                    continue
                return
            if not data:
                return
            self.on_data(data)

    def stop(self):
        os.write(self.wr, b"x")
        self.join(5)
        os.close(self.rd)
        os.close(self.wr)


class Board:
    """One virtual board. Use as a context manager or call start()/stop().

    program: argv list (or a path) of the program to run inside, or None for an
      empty board (tests can still exec commands in it).
    env: extra environment of the program (and of exec'd commands).
    files: {relative path: bytes or str} written into app/ ("/customer/app")
      before start, e.g. {"userpara": b"...", "DHCP_flag": "0"}; a value of
      None removes the template's file.
    iqfiles: {name: bytes} written into "/config/iqfile".
    web_root: directory copied into app/web_root.
    start_program: start the program as soon as the board stands.
    console_echo: a writable binary stream that gets the program's console too.
    keep: leave the board directory after stop() (for post-mortem).
    """

    _counter = 0

    def __init__(self, program=None, env=None, files=None, iqfiles=None, web_root=None,
                 start_program=True, console_echo=None, keep=False, base=None, stop_grace=3.0):
        if isinstance(program, str):
            program = [program]
        self.program = [os.path.abspath(program[0])] + list(program[1:]) if program else None
        if self.program and not (os.path.isfile(self.program[0]) and os.access(self.program[0], os.X_OK)):
            raise SandboxError("no program at " + self.program[0])
        self.extra_env = dict(env or {})
        self.files = dict(files or {})
        self.iqfiles = dict(iqfiles or {})
        # The recorder's own page unless a test brings another.
        default_root = os.path.join(HERE, "..", "..", "web_root")
        self.web_root = web_root or (default_root if os.path.isdir(default_root) else None)
        self.start_program_at_boot = start_program
        self.console_echo = console_echo
        self.keep = keep or os.environ.get("VB_KEEP") == "1"
        self.base = base or BASE
        self.stop_grace = stop_grace
        Board._counter += 1
        self.id = "%x%x%s" % (os.getpid() & 0xFFFFF, Board._counter, os.urandom(2).hex())
        self.dir = os.path.join(self.base, self.id)
        self.board_ns = "board-" + self.id
        self.lan_ns = "lan-" + self.id
        self.board_ns_path = os.path.join(NETNS_DIR, self.board_ns)
        self.lan_ns_path = os.path.join(NETNS_DIR, self.lan_ns)
        self.vb_root = os.path.join(self.dir, "vb")
        self.ctl_path = os.path.join(self.vb_root, "ctl.sock")
        self.init_pid = None
        self._init_proc = None
        self._lan_procs = []
        self._pumps = []
        self._fds = []
        self._servers = []
        self._started = False
        self._lock = threading.Lock()
        self._serial_listeners = []
        self._console = bytearray()
        self._console_cond = threading.Condition()
        self._console_log = None

    # ---- life cycle ------------------------------------------------------
    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()

    def start(self, timeout=15.0):
        ok, why = available()
        if not ok:
            raise SandboxError(why)
        cleanup_stale(self.base)
        try:
            self._prepare_dir()
            self._start_network()
            self._start_lan_services()
            self._start_board(timeout)
            self._started = True
        except BaseException:
            self.stop()
            raise
        return self

    def stop(self):
        """Tear everything down; safe to call more than once and after any failure."""
        errors = []
        if self.init_pid:
            _stop_process(self.init_pid, grace=self.stop_grace + 3.0)
        if self._init_proc is not None:
            try:
                self._init_proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self._init_proc.kill()
                self._init_proc.wait(timeout=5)
            self._init_proc = None
        for srv in self._servers:
            srv.close()
        self._servers = []
        for p in self._lan_procs:
            if p.poll() is None:
                _stop_process(p.pid)
            try:
                p.wait(timeout=5)
            except subprocess.TimeoutExpired:
                errors.append("process %d did not end" % p.pid)
        self._lan_procs = []
        _netns_delete(self.board_ns)
        _netns_delete(self.lan_ns)
        for pump in self._pumps:
            pump.stop()
        self._pumps = []
        for fd in self._fds:
            try:
                os.close(fd)
            except OSError:
                pass
        self._fds = []
        if self._console_log:
            self._console_log.close()
            self._console_log = None
        if os.path.isdir(self.dir):
            with open(os.path.join(self.dir, "stopped"), "w") as f:
                f.write("stopped\n")
            if not self.keep:
                shutil.rmtree(self.dir, ignore_errors=True)
        self.init_pid = None
        self._started = False
        if errors:
            raise SandboxError("; ".join(errors))

    # ---- set-up ----------------------------------------------------------
    def _prepare_dir(self):
        d = self.dir
        os.makedirs(self.base, exist_ok=True)
        shutil.copytree(os.path.join(HERE, "template"), d, symlinks=True)
        for p in (os.path.join(d, "app", "url", ".keep"), os.path.join(d, "iqfile", ".keep")):
            if os.path.exists(p):
                os.unlink(p)
        with open(os.path.join(d, "owner"), "w") as f:
            f.write("%d %s\n" % (os.getpid(), _start_time(os.getpid())))
        for sub in ("root", ".ns", "sysblock", "vb", "disks", "rtmp", "lan", "lib", "bin"):
            os.makedirs(os.path.join(d, sub), exist_ok=True)
        for script in ("insert.sh", "remove.sh"):
            path = os.path.join(d, "app", script)
            with open(path) as f:
                text = f.read().replace("@BOARD@", d)
            with open(path, "w") as f:
                f.write(text)
        shutil.copy2(os.path.join(HERE, "disk.sh"), os.path.join(d, "bin", "disk.sh"))
        shutil.copy2(clock_library(), os.path.join(d, "lib", "libvbclock.so"))
        with open(os.path.join(d, "clock"), "wb") as f:
            f.write(b"\0" * 8)
        with open(os.path.join(d, "resolv.conf"), "w") as f:
            f.write("nameserver %s\n" % LAN_IP)
        self._partitions = []
        self._write_partitions()
        if self.web_root:
            shutil.rmtree(os.path.join(d, "app", "web_root"))
            shutil.copytree(self.web_root, os.path.join(d, "app", "web_root"))
        for rel, data in self.files.items():
            self.write_app_file(rel, data)
        for name, data in self.iqfiles.items():
            with open(os.path.join(d, "iqfile", name), "wb") as f:
                f.write(data)
        self._console_log = open(os.path.join(d, "console.log"), "ab")

    def _start_network(self):
        _netns_create(self.board_ns)
        _netns_create(self.lan_ns)
        ipb = ["ip", "-n", self.board_ns]
        ipl = ["ip", "-n", self.lan_ns]
        _run(ipl + ["link", "add", "lan0", "type", "veth", "peer", "name", "eth0", "netns", self.board_ns])
        _run(ipl + ["link", "set", "lo", "up"])
        _run(ipl + ["addr", "add", LAN_IP + "/24", "dev", "lan0"])
        _run(ipl + ["link", "set", "lan0", "up"])
        _run(ipl + ["route", "add", MCAST_GROUP + "/32", "dev", "lan0"])
        # The board comes up as after its boot scripts: lo and eth0 up, no
        # address and no route; vidrec (or its DHCP client) configures them.
        _run(ipb + ["link", "set", "lo", "up"])
        _run(ipb + ["link", "set", "eth0", "up"])
        # The cable is plugged: wait for the carrier, as a booted board has it.
        end = time.monotonic() + 5
        while "state UP" not in _run(ipb + ["-o", "link", "show", "eth0"]).stdout.decode():
            if time.monotonic() > end:
                raise SandboxError("eth0 of the board did not come up")
            time.sleep(0.01)

    def lan_popen(self, argv, **kw):
        """Start a process inside lan; it is ended at stop()."""
        kw.setdefault("stdin", subprocess.DEVNULL)
        kw.setdefault("start_new_session", True)
        p = subprocess.Popen(["nsenter", "--net=" + self.lan_ns_path, "--"] + list(argv), **kw)
        self._lan_procs.append(p)
        self._record_pids()
        return p

    def _start_lan_services(self):
        lan = os.path.join(self.dir, "lan")
        dnsmasq_log = os.path.join(lan, "dnsmasq.log")
        self.lan_popen([
            "dnsmasq", "--keep-in-foreground", "--conf-file=/dev/null", "--no-hosts", "--no-resolv",
            "--user=root", "--group=root", "--interface=lan0", "--bind-interfaces",
            "--pid-file=" + os.path.join(lan, "dnsmasq.pid"),
            "--dhcp-leasefile=" + os.path.join(lan, "dnsmasq.leases"),
            "--log-facility=" + dnsmasq_log, "--log-dhcp", "--log-queries",
            "--dhcp-range=%s,%s,255.255.255.0,1h" % (DHCP_FIRST, DHCP_LAST),
            "--dhcp-option=option:router," + LAN_IP, "--dhcp-option=option:dns-server," + LAN_IP,
            "--dhcp-authoritative", "--no-ping", "--domain=lan", "--host-record=rtmp.lan," + LAN_IP,
        ])
        conf = os.path.join(lan, "nginx.conf")
        with open(conf, "w") as f:
            f.write(NGINX_CONF % {"lan": lan, "rtmp": os.path.join(self.dir, "rtmp"),
                                  "port": RTMP_PORT, "app": RTMP_APP})
        self.lan_popen(["nginx", "-p", lan, "-c", conf, "-e", os.path.join(lan, "nginx-error.log")],
                       stdout=subprocess.DEVNULL, stderr=open(os.path.join(lan, "nginx.out"), "wb"))
        end = time.monotonic() + 10
        while True:
            dns_ok = os.path.exists(dnsmasq_log) and "DHCP, IP range" in open(dnsmasq_log).read()
            if dns_ok and self._lan_port_open(LAN_IP, RTMP_PORT):
                return
            for p in self._lan_procs:
                if p.poll() is not None:
                    raise SandboxError("lan service %s ended at start (%s)" % (p.args[3], p.returncode))
            if time.monotonic() > end:
                raise SandboxError("lan services did not come up")
            time.sleep(0.02)

    def _lan_port_open(self, host, port):
        def probe():
            with socket.socket() as s:
                s.settimeout(0.5)
                return s.connect_ex((host, port)) == 0
        return run_in_netns(self.lan_ns_path, probe)

    def _open_ptys(self):
        serial_m, serial_s = os.openpty()
        # Raw at 921600 before the program opens it; a cooked line discipline
        # would echo and rewrite bytes.
        tty.setraw(serial_s)
        attrs = termios.tcgetattr(serial_s)
        attrs[2] |= termios.CLOCAL | termios.CREAD
        attrs[4] = attrs[5] = termios.B921600
        termios.tcsetattr(serial_s, termios.TCSANOW, attrs)
        console_m, console_s = os.openpty()
        attrs = termios.tcgetattr(console_s)
        attrs[1] &= ~termios.ONLCR  # keep the program's "\n" as it wrote it
        attrs[3] &= ~(termios.ECHO | termios.ICANON)
        termios.tcsetattr(console_s, termios.TCSANOW, attrs)
        # The slaves stay open here so the masters never see a hang-up while
        # the program is restarted.
        self._fds += [serial_m, serial_s, console_m, console_s]
        self.serial_fd = serial_m
        self.console_fd = console_m
        self.serial_slave = os.ttyname(serial_s)
        self._pumps.append(_Pump(serial_m, self._on_serial, "vb-serial-pump"))
        self._pumps.append(_Pump(console_m, self._on_console, "vb-console-pump"))
        for p in self._pumps:
            p.start()
        return os.ttyname(serial_s), os.ttyname(console_s)

    def board_env(self):
        env = {
            "PATH": BOARD_PATH, "HOME": "/root", "TERM": "linux", "LANG": "C",
            "LD_PRELOAD": os.path.join(self.dir, "lib", "libvbclock.so"),
            "VB_CLOCK_FILE": os.path.join(self.dir, "clock"),
            "VB_ROOT": self.vb_root,
            # The clock shim is preloaded ahead of the sanitizer runtime.
            "ASAN_OPTIONS": "verify_asan_link_order=0",
        }
        for k, v in self.extra_env.items():
            if k == "ASAN_OPTIONS":
                v = env["ASAN_OPTIONS"] + ":" + v
            env[k] = v
        return env

    def _start_board(self, timeout):
        serial_slave, console_slave = self._open_ptys()
        bind_ro = []
        if self.program:
            bind_ro.append(self.program[0])
        cfg = {
            "board": self.dir, "program": self.program, "env": self.board_env(),
            "serial_slave": serial_slave, "console_slave": console_slave,
            "bind_ro": bind_ro, "start_program": self.start_program_at_boot,
            "stop_grace": self.stop_grace,
        }
        cfg_path = os.path.join(self.dir, "board.json")
        with open(cfg_path, "w") as f:
            json.dump(cfg, f, indent=1)
        err = open(os.path.join(self.dir, "init.err"), "wb")
        self._init_proc = subprocess.Popen(
            ["nsenter", "--net=" + self.board_ns_path, "--",
             "unshare", "--mount", "--pid", "--fork", "--kill-child", "--propagation", "private", "--",
             "/usr/bin/python3", os.path.join(HERE, "board_init.py"), cfg_path],
            stdin=subprocess.DEVNULL, stdout=err, stderr=err, start_new_session=True)
        err.close()
        end = time.monotonic() + timeout
        ready = os.path.join(self.dir, "ready")
        failed = os.path.join(self.dir, "failed")
        while not os.path.exists(ready):
            if os.path.exists(failed) or self._init_proc.poll() is not None or time.monotonic() > end:
                why = ""
                for name in ("failed", "init.err"):
                    p = os.path.join(self.dir, name)
                    if os.path.exists(p):
                        why += open(p, errors="replace").read()
                raise SandboxError("board did not come up: " + (why.strip() or "timeout"))
            time.sleep(0.01)
        with open(os.path.join(self.dir, "init.pid")) as f:
            self.init_pid = int(f.read())
        self._record_pids()

    def _record_pids(self):
        """For cleanup_stale(): what this board started, should its launcher die."""
        pids = [p.pid for p in self._lan_procs]
        if self._init_proc is not None:
            pids.append(self._init_proc.pid)
        if self.init_pid:
            pids.append(self.init_pid)
        with open(os.path.join(self.dir, "pids"), "w") as f:
            for pid in pids:
                f.write("%d %s\n" % (pid, _start_time(pid)))

    # ---- the program -----------------------------------------------------
    def program_running(self):
        return self.program_exit() is None and os.path.exists(os.path.join(self.dir, "program.pid"))

    def program_exit(self):
        """"exit N" or "signal N" once the program has ended, else None."""
        try:
            with open(os.path.join(self.dir, "program.exit")) as f:
                return f.read().strip()
        except FileNotFoundError:
            return None

    def wait_program_exit(self, timeout=10.0):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            r = self.program_exit()
            if r is not None:
                return r
            time.sleep(0.02)
        return None

    def program_pid(self):
        """The program's pid as this machine sees it (None when not running)."""
        if self.program_exit() is not None:
            return None
        try:
            with open(os.path.join(self.dir, "program.pid")) as f:
                ns_pid = int(f.read())
        except (FileNotFoundError, ValueError):
            return None
        return self.host_pid(ns_pid)

    def host_pid(self, board_pid):
        """Translate a pid inside the board to the machine's pid."""
        want = os.readlink("/proc/%d/ns/pid" % self.init_pid)
        for name in os.listdir("/proc"):
            if not name.isdigit():
                continue
            try:
                if os.readlink("/proc/%s/ns/pid" % name) != want:
                    continue
                with open("/proc/%s/status" % name) as f:
                    for line in f:
                        if line.startswith("NSpid:"):
                            if int(line.split()[-1]) == board_pid:
                                return int(name)
                            break
            except (OSError, ValueError):
                continue
        return None

    def stop_program(self, timeout=10.0):
        """Stop the program (TERM, KILL after the grace time); returns its exit text."""
        if self.program_exit() is not None:
            return self.program_exit()
        os.kill(self.init_pid, signal.SIGUSR1)
        return self.wait_program_exit(timeout)

    def start_program(self, timeout=5.0):
        """Start the program again after it ended or was stopped."""
        if self.program_running():
            return
        try:
            os.unlink(os.path.join(self.dir, "program.pid"))
        except FileNotFoundError:
            pass
        os.kill(self.init_pid, signal.SIGUSR2)
        end = time.monotonic() + timeout
        while not os.path.exists(os.path.join(self.dir, "program.pid")):
            if time.monotonic() > end:
                raise SandboxError("program did not start")
            time.sleep(0.01)

    # ---- console ---------------------------------------------------------
    def _on_console(self, data):
        with self._console_cond:
            self._console += data
            self._console_cond.notify_all()
        if self._console_log:
            self._console_log.write(data)
            self._console_log.flush()
        if self.console_echo is not None:
            try:
                self.console_echo.write(data)
                self.console_echo.flush()
            except (OSError, ValueError):
                pass

    def console_text(self):
        """Everything the program printed so far (stdout and stderr)."""
        with self._console_cond:
            return self._console.decode(errors="replace")

    def wait_console(self, pattern, timeout=10.0, start=0):
        """Wait until the console output from offset `start` matches the regex;
        returns the match (None on timeout)."""
        rx = re.compile(pattern.encode() if isinstance(pattern, str) else pattern)
        end = time.monotonic() + timeout
        with self._console_cond:
            while True:
                m = rx.search(bytes(self._console), start)
                if m:
                    return m
                left = end - time.monotonic()
                if left <= 0:
                    return None
                self._console_cond.wait(left)

    def console_mark(self):
        """Offset to pass as `start` to wait_console() to see only later output."""
        with self._console_cond:
            return len(self._console)

    # ---- serial ------------------------------------------------------------
    def _on_serial(self, data):
        with self._lock:
            listeners = list(self._serial_listeners)
        for fn in listeners:
            fn(time.monotonic(), data)

    def serial_listen(self, fn):
        """fn(monotonic_time, bytes) is called from the pump thread for every chunk
        the board writes to "/dev/ttyS2". Returns a function that removes it."""
        with self._lock:
            self._serial_listeners.append(fn)

        def remove():
            with self._lock:
                if fn in self._serial_listeners:
                    self._serial_listeners.remove(fn)
        return remove

    def serial_write(self, data):
        """Bytes to the board's "/dev/ttyS2", as the host controller sends them."""
        view = memoryview(bytes(data))
        while view:
            n = os.write(self.serial_fd, view)
            view = view[n:]

    # ---- running things inside ----------------------------------------------
    def _board_argv(self, argv):
        env = ["%s=%s" % kv for kv in self.board_env().items()]
        return ["nsenter", "-t", str(self.init_pid), "-m", "-n", "-p", "-r", "-w", "--",
                "/usr/bin/setpriv", "--bounding-set=-sys_time", "--", "/usr/bin/env", "-i"] + env + list(argv)

    def shell_command(self):
        """A command line that opens a shell on the board (for a person)."""
        env = " ".join("%s=%s" % kv for kv in self.board_env().items()
                       if kv[0] in ("LD_PRELOAD", "VB_CLOCK_FILE", "VB_ROOT"))
        return "nsenter -t %d -m -n -p -r -w -- setpriv --bounding-set=-sys_time -- env %s /bin/sh" % (
            self.init_pid, env)

    def exec(self, argv, timeout=30.0, input=None, check=False):
        """Run a command inside the board (its root, namespaces, working
        directory "/customer/app", no CAP_SYS_TIME, board clock). Returns a
        CompletedProcess with text stdout and stderr."""
        if isinstance(argv, str):
            argv = ["/bin/sh", "-c", argv]
        p = subprocess.run(self._board_argv(argv), input=input, stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, timeout=timeout,
                           text=not isinstance(input, (bytes, bytearray)))
        if not isinstance(p.stdout, str):
            p.stdout = p.stdout.decode(errors="replace")
            p.stderr = p.stderr.decode(errors="replace")
        if check and p.returncode != 0:
            raise SandboxError("board command %s failed (%d): %s" % (argv, p.returncode, p.stderr.strip()))
        return p

    def popen(self, argv, **kw):
        """Start a command inside the board in the background (ends with the board)."""
        if isinstance(argv, str):
            argv = ["/bin/sh", "-c", argv]
        kw.setdefault("stdin", subprocess.DEVNULL)
        return subprocess.Popen(self._board_argv(argv), **kw)

    def kill(self, proc, sig=signal.SIGKILL, timeout=5.0):
        """End a process started with popen(): signal the command inside the
        board, so that its nsenter parent reaps it and ends too (killing the
        nsenter alone would orphan the command outside the board's reach)."""
        if proc.poll() is None:
            inner = [int(n) for n in os.listdir("/proc") if n.isdigit() and _ppid(int(n)) == proc.pid]
            for pid in inner or [proc.pid]:
                try:
                    os.kill(pid, sig)
                except ProcessLookupError:
                    pass
        return proc.wait(timeout)

    def path(self, board_path):
        """This machine's path to a file as the board sees it (through the
        board's root: works for its private mounts such as "/vendor/sda1")."""
        return "/proc/%d/root%s" % (self.init_pid, board_path)

    def lan_exec(self, argv, timeout=30.0, check=False, **kw):
        """Run a command inside lan (where test clients live)."""
        p = subprocess.run(["nsenter", "--net=" + self.lan_ns_path, "--"] + list(argv),
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout, text=True, **kw)
        if check and p.returncode != 0:
            raise SandboxError("lan command %s failed (%d): %s" % (argv, p.returncode, p.stderr.strip()))
        return p

    def in_lan(self, fn, *args, **kwargs):
        """Run a Python function inside lan; see run_in_netns()."""
        return run_in_netns(self.lan_ns_path, fn, *args, **kwargs)

    def in_board_net(self, fn, *args, **kwargs):
        """Run a Python function in the board's network namespace (not its root)."""
        return run_in_netns(self.board_ns_path, fn, *args, **kwargs)

    # ---- network -------------------------------------------------------------
    def board_ip(self):
        """eth0's IPv4 address inside the board, or None."""
        out = _run(["ip", "-n", self.board_ns, "-4", "-o", "addr", "show", "dev", "eth0"]).stdout.decode()
        m = re.search(r"inet (\d+\.\d+\.\d+\.\d+)/", out)
        return m.group(1) if m else None

    def board_gateway(self):
        """The board's default gateway, or None."""
        out = _run(["ip", "-n", self.board_ns, "-4", "route", "show", "default"]).stdout.decode()
        m = re.search(r"default via (\d+\.\d+\.\d+\.\d+)", out)
        return m.group(1) if m else None

    def wait_board_ip(self, timeout=20.0, route=False):
        """Waits for eth0's address (and with `route`, the default route too:
        a DHCP client sets the address first and the route a moment later)."""
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            ip = self.board_ip()
            if ip and (not route or self.board_gateway()):
                return ip
            time.sleep(0.1)
        return None

    def link(self, up, wait=5.0):
        """Plug (True) or unplug (False) the board's network cable; waits until
        the board's eth0 shows it (its operstate lags the carrier a little)."""
        _run(["ip", "-n", self.lan_ns, "link", "set", "lan0", "up" if up else "down"])
        end = time.monotonic() + wait
        while time.monotonic() < end:
            with open(self.path("/sys/class/net/eth0/operstate")) as f:
                state = f.read().strip()
            if (state == "up") == bool(up):
                return
            time.sleep(0.01)
        raise SandboxError("eth0 of the board did not go %s" % ("up" if up else "down"))

    def leases(self):
        """dnsmasq's lease lines."""
        p = os.path.join(self.dir, "lan", "dnsmasq.leases")
        return open(p).read().splitlines() if os.path.exists(p) else []

    def forward_tcp(self, local_port, target_host, target_port, bind="127.0.0.1"):
        """Listen on this machine's `bind`:`local_port` and connect each client
        to target_host:target_port inside lan (target_host may be a callable
        evaluated per connection, e.g. self.board_ip)."""
        fw = _Forwarder(self, bind, local_port, target_host, target_port)
        self._servers.append(fw)
        return fw

    # ---- RTMP server -----------------------------------------------------------
    def rtmp_url(self, stream="stream"):
        return "rtmp://%s:%d/%s/%s" % (LAN_IP, RTMP_PORT, RTMP_APP, stream)

    def rtmp_recordings(self):
        """Paths of the files the RTMP server recorded (.flv), oldest first."""
        d = os.path.join(self.dir, "rtmp")
        files = [os.path.join(d, n) for n in os.listdir(d)]
        return sorted(files, key=lambda p: (os.path.getmtime(p), p))

    # ---- storage ---------------------------------------------------------------
    def _write_partitions(self):
        # Rewritten in place at a fixed size with one write: the file is bound
        # into the board, and a reader must never see it empty mid-update.
        lines = ["major minor  #blocks  name", ""]
        for major, minor, kib, name in self._partitions:
            lines.append("%4d %7d %10d %s" % (major, minor, kib, name))
        text = ("\n".join(lines) + "\n").encode()
        if len(text) > 4096:
            raise SandboxError("too many partitions")
        path = os.path.join(self.dir, "partitions")
        fd = os.open(path, os.O_WRONLY | os.O_CREAT, 0o444)
        try:
            os.pwrite(fd, text.ljust(4096, b"\n"), 0)
        finally:
            os.close(fd)

    def partitions(self):
        return [p[3] for p in self._partitions]

    def plug_disk(self, name="sda", size_mb=64, removable=True):
        """A disk with one partition of exactly size_mb MB appears in the board's
        "/proc/partitions" and "/sys/block" (and "/dev"). The board's own storage
        monitor then runs insert.sh; sdcard slots ("mmcblk0") are mounted here
        at once, as the board's system does."""
        if any(p[3] == name for p in self._partitions):
            raise SandboxError("%s is plugged already" % name)
        sd = name.startswith("mmcblk")
        part = name + ("p1" if sd else "1")
        major = 179 if sd else 8
        minor = 0 if sd else 16 * (ord(name[-1]) - ord("a"))
        kib = size_mb * 1024
        sysdir = os.path.join(self.dir, "sysblock", name)
        os.makedirs(sysdir, exist_ok=True)
        with open(os.path.join(sysdir, "removable"), "w") as f:
            f.write("1\n" if removable else "0\n")
        with open(os.path.join(sysdir, "size"), "w") as f:
            f.write("%d\n" % ((kib + 1024) * 2))
        for node in (name, part):
            open(self.path("/dev/" + node), "w").close()
        self._partitions += [(major, minor, kib + 1024, name), (major, minor + 1, kib, part)]
        self._write_partitions()
        if sd:
            self.exec([os.path.join(self.dir, "bin", "disk.sh"), "attach", part], check=True)
        return part

    def unplug_disk(self, name="sda"):
        """The disk leaves the partition list and "/dev"; its files stay readable
        at disk_dir(). The board's storage monitor then runs remove.sh."""
        self._partitions = [p for p in self._partitions if not p[3].startswith(name)]
        self._write_partitions()
        shutil.rmtree(os.path.join(self.dir, "sysblock", name), ignore_errors=True)
        for n in os.listdir(self.path("/dev")):
            if n.startswith(name):
                os.unlink(self.path("/dev/" + n))
        if name.startswith("mmcblk"):
            self.exec([os.path.join(self.dir, "bin", "disk.sh"), "detach", name + "p1"], check=True)

    def disk_dir(self, part="sda1"):
        """This machine's path to a partition's files (also after unplugging)."""
        return self.path(os.path.join(self.dir, "disks", part))

    def mounted(self, board_path):
        """True when board_path is a mount point inside the board."""
        with open("/proc/%d/mountinfo" % self.init_pid) as f:
            return any(line.split()[4] == board_path for line in f)

    # ---- clock -------------------------------------------------------------------
    def clock_offset_ns(self):
        """How far the board's wall clock is set from this machine's."""
        with open(os.path.join(self.dir, "clock"), "rb") as f:
            return int.from_bytes(f.read(8), "little", signed=True)

    def board_time(self):
        """The board's wall clock now, in seconds since the epoch."""
        return time.time() + self.clock_offset_ns() / 1e9

    # ---- files ---------------------------------------------------------------------
    def app_path(self, rel=""):
        """Host path of a file in "/customer/app"."""
        return os.path.join(self.dir, "app", rel)

    def write_app_file(self, rel, data):
        path = self.app_path(rel)
        if data is None:
            if os.path.exists(path):
                os.unlink(path)
            return
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data.encode() if isinstance(data, str) else data)

    # ---- virtual board control socket ------------------------------------------------
    def vb(self, line, timeout=5.0):
        """Send one "verb args" line to the board's control socket and return the
        reply without its terminating "." line."""
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
            s.settimeout(timeout)
            s.connect(self.ctl_path)
            s.sendall(line.rstrip("\n").encode() + b"\n")
            buf = b""
            while not (buf == b".\n" or buf.endswith(b"\n.\n")):
                chunk = s.recv(65536)
                if not chunk:
                    raise SandboxError("control socket closed before the end of the reply")
                buf += chunk
        return buf[:-2].decode(errors="replace").rstrip("\n")

    def wait_vb(self, timeout=10.0):
        """Wait until the board's control socket answers."""
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            try:
                if self.vb("ping", timeout=1.0) == "pong":
                    return True
            except OSError:
                pass
            time.sleep(0.05)
        return False


NGINX_CONF = """\
load_module /usr/lib/nginx/modules/ngx_rtmp_module.so;
daemon off;
master_process off;
worker_processes 1;
pid %(lan)s/nginx.pid;
error_log %(lan)s/nginx-error.log info;
events { worker_connections 64; }
rtmp {
    server {
        listen %(port)d;
        chunk_size 4096;
        application %(app)s {
            live on;
            record all;
            record_path %(rtmp)s;
            record_unique on;
        }
    }
}
"""


class _Forwarder:
    """TCP from this machine's loopback into lan (for a browser or ffplay)."""

    def __init__(self, board, bind, port, host, tport):
        self.board, self.host, self.tport = board, host, tport
        self.ls = socket.socket()
        self.ls.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.ls.bind((bind, port))
        self.ls.listen(16)
        self.port = self.ls.getsockname()[1]
        self.closed = False
        threading.Thread(target=self._accept, name="vb-forward", daemon=True).start()

    def _accept(self):
        while not self.closed:
            try:
                c, _ = self.ls.accept()
            except OSError:
                return
            threading.Thread(target=self._serve, args=(c,), name="vb-forward-conn", daemon=True).start()

    def _serve(self, c):
        host = self.host() if callable(self.host) else self.host
        if not host:
            c.close()
            return

        def connect():
            s = socket.create_connection((host, self.tport), timeout=5)
            s.settimeout(None)
            return s
        try:
            t = self.board.in_lan(connect)
        except OSError:
            c.close()
            return

        def pump(a, b):
            try:
                while True:
                    d = a.recv(65536)
                    if not d:
                        break
                    b.sendall(d)
            except OSError:
                pass
            for s in (a, b):
                try:
                    s.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass
        th = threading.Thread(target=pump, args=(t, c), name="vb-forward-up", daemon=True)
        th.start()
        pump(c, t)
        th.join()
        c.close()
        t.close()

    def close(self):
        self.closed = True
        try:
            self.ls.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.ls.close()


def _ppid(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            return int(f.read().rsplit(")", 1)[1].split()[1])
    except (OSError, IndexError, ValueError):
        return None


def _start_time(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[19]
    except (OSError, IndexError):
        return "?"


def cleanup_stale(base=None):
    """Remove what boards left behind whose launcher is gone (killed outright).
    Only processes recorded by those boards are ended, checked by start time."""
    base = base or BASE
    if not os.path.isdir(base):
        return []
    cleaned = []
    for name in os.listdir(base):
        d = os.path.join(base, name)
        if name.startswith(".") or not os.path.isdir(d):
            continue
        try:
            pid, start = open(os.path.join(d, "owner")).read().split()
            owner_alive = _pid_alive(int(pid)) and _start_time(int(pid)) == start
        except (OSError, ValueError):
            # No owner yet: a board being created right now, unless it is old.
            owner_alive = time.time() - os.path.getmtime(d) < 60
        if owner_alive:
            continue
        try:
            for line in open(os.path.join(d, "pids")):
                p, st = line.split()
                if _pid_alive(int(p)) and _start_time(int(p)) == st:
                    _stop_process(int(p))
        except (OSError, ValueError):
            pass
        _netns_delete("board-" + name)
        _netns_delete("lan-" + name)
        shutil.rmtree(d, ignore_errors=True)
        cleaned.append(name)
    return cleaned


def _cli_run(args):
    program = [args.program] + args.args
    iqfiles = {}
    if args.iq_file:
        with open(args.iq_file, "rb") as f:
            iqfiles["iqfile0.bin"] = f.read()
    board = Board(program=program, console_echo=sys.stdout.buffer, web_root=args.web_root,
                  files={"DHCP_flag": "1" if args.dhcp else "0"}, iqfiles=iqfiles, keep=args.keep,
                  start_program=True)
    stop = threading.Event()
    for s in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(s, lambda *_: stop.set())
    board.start()
    try:
        # The board comes with an SD card, so switching recording on works at once.
        sd = board.plug_disk("mmcblk0", size_mb=args.sd_mb)
        http = board.forward_tcp(args.http_port, lambda: board.board_ip(), 80)
        rtmp = board.forward_tcp(args.rtmp_port, LAN_IP, RTMP_PORT)
        # A pty for the user's serial console, relayed to the board's serial
        # port; the board's side is drained whether or not anyone listens.
        user_m, user_s = os.openpty()
        tty.setraw(user_s)
        board._fds += [user_m, user_s]
        os.set_blocking(user_m, False)
        link = os.path.join(board.dir, "ttyS2")
        os.symlink(os.ttyname(user_s), link)

        def to_user(_t, data):
            try:
                os.write(user_m, data)
            except BlockingIOError:
                pass  # nobody reads the console: drop
        board.serial_listen(to_user)

        def from_user(data):
            board.serial_write(data)
        pump = _Pump(user_m, from_user, "vb-user-serial")
        pump.start()
        board._pumps.append(pump)
        sys.stderr.write(
            "\n=== virtual board %s is up ===\n"
            "board directory : %s\n"
            "web page        : http://127.0.0.1:%d/  (board port 80)\n"
            "RTMP server     : %s inside the lan; from here rtmp://127.0.0.1:%d/%s/<stream>\n"
            "                  e.g. ffplay rtmp://127.0.0.1:%d/%s/stream\n"
            "RTMP recordings : %s/rtmp/\n"
            "MP4 recordings  : %s (the SD card)\n"
            "serial console  : %s (-> %s), 921600 raw\n"
            "vb control      : %s\n"
            "IQ file         : %s\n"
            "board shell     : %s\n"
            "Ctrl-C stops the board.\n\n"
            % (board.id, board.dir, http.port, board.rtmp_url("<stream>"), rtmp.port, RTMP_APP,
               rtmp.port, RTMP_APP, board.dir, board.disk_dir(sd), link, os.ttyname(user_s), board.ctl_path,
               "%s as /config/iqfile/iqfile0.bin" % os.path.abspath(args.iq_file) if args.iq_file
               else "none (/config/iqfile is empty)",
               board.shell_command()))
        sys.stderr.flush()
        while not stop.is_set():
            if board.program_exit() is not None:
                sys.stderr.write("\nprogram ended: %s (board stays up; Ctrl-C to stop)\n" % board.program_exit())
                while not stop.wait(1.0):
                    pass
                break
            stop.wait(0.5)
    finally:
        sys.stderr.write("\nstopping the board...\n")
        board.stop()
    return 0


def main(argv=None):
    ap = argparse.ArgumentParser(description="virtual board sandbox")
    sub = ap.add_subparsers(dest="cmd", required=True)
    r = sub.add_parser("run", help="bring up a board and run a program on it")
    r.add_argument("program")
    r.add_argument("args", nargs="*")
    r.add_argument("--http-port", type=int, default=8080)
    r.add_argument("--rtmp-port", type=int, default=1935)
    r.add_argument("--web-root", default=None)
    r.add_argument("--static", dest="dhcp", action="store_false", help="DHCP_flag 0")
    r.add_argument("--keep", action="store_true", help="keep the board directory")
    r.add_argument("--sd-mb", type=int, default=4096, help="size of the SD card the board starts with")
    r.add_argument("--iq-file", default=None, help='the IQ file the board starts with in "/config/iqfile"')
    sub.add_parser("cleanup", help="remove what dead boards left behind")
    args = ap.parse_args(argv)
    if args.cmd == "cleanup":
        for name in cleanup_stale():
            print("removed", name)
        return 0
    ok, why = available()
    if not ok:
        sys.stderr.write("sandbox: %s\n" % why)
        return 1
    return _cli_run(args)


if __name__ == "__main__":
    sys.exit(main())
