#!/usr/bin/python3
"""First process of a virtual board (pid 1 of its pid namespace).

Started by the launcher inside fresh mount and pid namespaces and inside the
board's network namespace. It builds the board's private root (an overlay of /
with the board's own files bound over the fixed paths), chroots into it, starts
the board program and then stays as the board's init: it reaps orphans, starts
and stops the program on request and, when it ends, takes every process of the
board with it (the kernel kills a pid namespace whose init exits).

Signals: SIGTERM ends the board, SIGUSR1 stops the program, SIGUSR2 starts it
again. Files written into the board directory: init.pid (this process's pid on
the machine), ready, program.pid (the program's pid in the board), program.exit
("exit N" or "signal N"), init.log.
"""
import ctypes
import json
import os
import signal
import sys
import time

MS_RDONLY = 1
MS_NOSUID = 2
MS_NODEV = 4
MS_NOEXEC = 8
MS_REMOUNT = 32
MS_BIND = 4096
MS_REC = 16384
MS_PRIVATE = 1 << 18

_libc = ctypes.CDLL(None, use_errno=True)
_libc.mount.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_char_p, ctypes.c_ulong, ctypes.c_char_p]

BOARD = ""
LOG = None


def log(msg):
    LOG.write("%.3f %s\n" % (time.time(), msg))
    LOG.flush()


def mount(src, target, fstype=None, flags=0, data=None):
    enc = lambda s: s.encode() if s is not None else None
    if _libc.mount(enc(src), enc(target), enc(fstype), flags, enc(data)) != 0:
        err = ctypes.get_errno()
        raise OSError(err, "mount %s on %s (%s): %s" % (src, target, fstype, os.strerror(err)))


def bind(src, target, readonly=False):
    mount(src, target, None, MS_BIND)
    if readonly:
        mount(None, target, None, MS_BIND | MS_REMOUNT | MS_RDONLY)


def ensure_file(path):
    """A regular file to bind a file onto (replaces a symlink in the overlay)."""
    if os.path.islink(path) or (os.path.exists(path) and not os.path.isfile(path)):
        if os.path.isdir(path) and not os.path.islink(path):
            os.rmdir(path)
        else:
            os.unlink(path)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    if not os.path.exists(path):
        open(path, "w").close()


def ensure_dir(path):
    if os.path.islink(path) or (os.path.exists(path) and not os.path.isdir(path)):
        os.unlink(path)
    os.makedirs(path, exist_ok=True)


def build_root(cfg):
    b = cfg["board"]
    ns = os.path.join(b, ".ns")
    root = os.path.join(b, "root")
    # Changes the board makes to its root file system land in memory of this
    # namespace and vanish with it.
    mount("vb-upper", ns, "tmpfs", MS_NOSUID, "mode=0755,size=512m")
    os.makedirs(ns + "/upper")
    os.makedirs(ns + "/work")
    mount("vb-root", root, "overlay", 0, "lowerdir=/,upperdir=%s/upper,workdir=%s/work" % (ns, ns))
    r = lambda p: root + p

    mount("proc", r("/proc"), "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC)
    bind(b + "/partitions", r("/proc/partitions"))
    # A sysfs mounted here shows the board's network interfaces (eth0).
    mount("sysfs", r("/sys"), "sysfs", MS_NOSUID | MS_NODEV | MS_NOEXEC)
    bind(b + "/sysblock", r("/sys/block"))

    # /dev: only harmless nodes, the serial port and the console; no disk of
    # this machine is reachable from the board.
    mount("vb-dev", r("/dev"), "tmpfs", MS_NOSUID, "mode=0755,size=1m")
    for node in ("null", "zero", "full", "random", "urandom", "tty"):
        ensure_file(r("/dev/" + node))
        bind("/dev/" + node, r("/dev/" + node))
    ensure_file(r("/dev/ttyS2"))
    bind(cfg["serial_slave"], r("/dev/ttyS2"))
    ensure_file(r("/dev/console"))
    bind(cfg["console_slave"], r("/dev/console"))
    ensure_dir(r("/dev/pts"))
    mount("devpts", r("/dev/pts"), "devpts", MS_NOSUID | MS_NOEXEC, "newinstance,ptmxmode=0666,mode=0620")
    os.symlink("pts/ptmx", r("/dev/ptmx"))
    ensure_dir(r("/dev/shm"))
    mount("vb-shm", r("/dev/shm"), "tmpfs", MS_NOSUID | MS_NODEV, "mode=1777,size=64m")
    for i, name in enumerate(("stdin", "stdout", "stderr")):
        os.symlink("/proc/self/fd/%d" % i, r("/dev/" + name))
    os.symlink("/proc/self/fd", r("/dev/fd"))

    for d, opts in (("/tmp", "mode=1777,size=256m"), ("/run", "mode=0755,size=16m")):
        ensure_dir(r(d))
        mount("vb" + d.replace("/", "-"), r(d), "tmpfs", MS_NOSUID | MS_NODEV, opts)
    ensure_dir(r("/vendor"))
    mount("vb-vendor", r("/vendor"), "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755,size=1m")

    # The board directory at the same path inside as outside.
    ensure_dir(r(b))
    bind(b, r(b))
    ensure_dir(r("/customer/app"))
    bind(b + "/app", r("/customer/app"))
    ensure_dir(r("/config/iqfile"))
    bind(b + "/iqfile", r("/config/iqfile"))
    ensure_file(r("/etc/resolv.conf"))
    bind(b + "/resolv.conf", r("/etc/resolv.conf"))
    # The program itself at its own path, read-only (its directory may be
    # hidden by the board's own /tmp).
    for path in cfg.get("bind_ro", []):
        if os.path.isdir(path):
            ensure_dir(r(path))
        else:
            ensure_file(r(path))
        bind(path, r(path), readonly=True)

    os.chroot(root)
    os.chdir("/customer/app")


class Init:
    def __init__(self, cfg):
        self.cfg = cfg
        self.child = None

    def start_program(self):
        if self.child is not None or not self.cfg.get("program"):
            return
        argv = ["/usr/bin/setpriv", "--bounding-set=-sys_time", "--"] + self.cfg["program"]
        try:
            os.unlink(BOARD + "/program.exit")
        except FileNotFoundError:
            pass
        pid = os.fork()
        if pid == 0:
            try:
                os.setsid()
                fd = os.open("/dev/console", os.O_RDWR)
                for i in range(3):
                    os.dup2(fd, i)
                if fd > 2:
                    os.close(fd)
                signal.pthread_sigmask(signal.SIG_SETMASK, [])
                os.execve(argv[0], argv, self.cfg["env"])
            except BaseException as e:  # noqa: B036 - report anything, then leave the child
                sys.stderr.write("board: cannot start %s: %s\n" % (self.cfg["program"][0], e))
            os._exit(127)
        self.child = pid
        with open(BOARD + "/program.pid", "w") as f:
            f.write("%d\n" % pid)
        log("program started, pid %d: %s" % (pid, " ".join(self.cfg["program"])))

    def stop_program(self, grace=3.0):
        if self.child is None:
            return
        try:
            os.killpg(self.child, signal.SIGTERM)  # the program and the commands it runs
        except ProcessLookupError:
            pass
        end = time.monotonic() + grace
        while self.child is not None and time.monotonic() < end:
            self.reap(block_for=0.05)
        if self.child is not None:
            try:
                os.killpg(self.child, signal.SIGKILL)
            except ProcessLookupError:
                pass
            while self.child is not None:
                self.reap(block_for=0.05)

    def reap(self, block_for=0.0):
        end = time.monotonic() + block_for
        while True:
            try:
                pid, status = os.waitpid(-1, os.WNOHANG)
            except ChildProcessError:
                pid = 0
            if pid == 0:
                if time.monotonic() >= end:
                    return
                time.sleep(min(0.02, max(0.0, end - time.monotonic())))
                continue
            if pid == self.child:
                self.child = None
                if os.WIFSIGNALED(status):
                    text = "signal %d" % os.WTERMSIG(status)
                else:
                    text = "exit %d" % os.WEXITSTATUS(status)
                with open(BOARD + "/program.exit.tmp", "w") as f:
                    f.write(text + "\n")
                os.rename(BOARD + "/program.exit.tmp", BOARD + "/program.exit")
                log("program ended: " + text)

    def run(self):
        waited = {signal.SIGCHLD, signal.SIGTERM, signal.SIGINT, signal.SIGUSR1, signal.SIGUSR2}
        # Blocked and taken with sigtimedwait: a blocked signal reaches a
        # namespace init even without a handler, and nothing is lost between
        # the checks and the wait.
        signal.pthread_sigmask(signal.SIG_BLOCK, waited)
        if self.cfg.get("start_program", True):
            self.start_program()
        with open(BOARD + "/ready", "w") as f:
            f.write("ready\n")
        while True:
            info = signal.sigtimedwait(waited, 5.0)
            self.reap()
            if info is None or info.si_signo == signal.SIGCHLD:
                continue
            if info.si_signo in (signal.SIGTERM, signal.SIGINT):
                break
            if info.si_signo == signal.SIGUSR1:
                self.stop_program()
            elif info.si_signo == signal.SIGUSR2:
                self.start_program()
        self.stop_program(grace=self.cfg.get("stop_grace", 3.0))
        log("board ends")


def main():
    global BOARD, LOG
    cfg_path = sys.argv[1]
    with open(cfg_path) as f:
        cfg = json.load(f)
    BOARD = cfg["board"]
    LOG = open(BOARD + "/init.log", "a")
    # Before a proc of the new pid namespace is mounted anywhere, /proc/self
    # still names this process as the machine sees it.
    host_pid = int(os.readlink("/proc/self"))
    with open(BOARD + "/init.pid", "w") as f:
        f.write("%d\n" % host_pid)
    try:
        build_root(cfg)
    except Exception as e:
        log("board set-up failed: %s" % e)
        with open(BOARD + "/failed", "w") as f:
            f.write("%s\n" % e)
        sys.exit(1)
    log("board root ready")
    Init(cfg).run()


if __name__ == "__main__":
    main()
