#!/usr/bin/env python3
"""The panel as a person meets it, timed: Vesk under Xvfb and openbox, in a private home with
2,000 generated desktop entries and a generated tree of files, driven with xdotool.

Vesk's own latency lines give the figures: "Ctrl+Alt+Space → panel drawn" (hot key press, as the
X server stamped it, to the frame the server has) and "keystroke → results drawn". Also printed: the
resident memory with the panel shown, its growth over the show/hide cycles, and the CPU used
while idle after the panel closed.

usage: bench/panel_latency.py VESK [--files N] [--apps N] [--rounds N] [--cycles N]
The tree is made once under $TMPDIR and kept for later runs (its size is in its name).
"""

import argparse
import os
import pty
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

WORDS = ("alpha bravo cedar delta ember fjord garnet harbor indigo juniper kestrel lumen "
         "maple nectar onyx pepper quartz raven sierra tundra umber velvet willow xenon "
         "yarrow zephyr").split()
LAUNCHER = "Ctrl+Alt+Space \u2192 panel drawn"
KEYSTROKE = "keystroke \u2192 results drawn"
LINE = re.compile(r"(Ctrl\+Alt\+Space \u2192 panel drawn|keystroke \u2192 results drawn): ([0-9.]+) ms")


def tree(root, files):
    """A tree of `files` files, 100 to a folder, three levels deep; made once."""
    done = os.path.join(root, ".complete")
    if os.path.exists(done):
        return
    shutil.rmtree(root, ignore_errors=True)
    per_folder = 100
    for n in range(files):
        folder = os.path.join(root, WORDS[n % 26], WORDS[(n // 26) % 26],
                              "batch-%d" % (n // (per_folder * 676)))
        if n % per_folder == 0 or not os.path.isdir(folder):
            os.makedirs(folder, exist_ok=True)
        name = "%s-%s-%d.txt" % (WORDS[(n * 7) % 26], WORDS[(n * 11) % 26], n)
        os.close(os.open(os.path.join(folder, name), os.O_CREAT | os.O_WRONLY, 0o644))
    open(done, "w").close()


def entries(folder, count):
    os.makedirs(folder, exist_ok=True)
    for n in range(count):
        name = "%s %s %d" % (WORDS[n % 26].title(), WORDS[(n // 26) % 26].title(), n)
        with open(os.path.join(folder, "bench-app-%d.desktop" % n), "w") as f:
            f.write("[Desktop Entry]\nType=Application\nName=%s\nExec=true\n" % name)


def start_x(env):
    """Xvfb on a free display, then openbox once it manages the screen."""
    read, write = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1920x1080x24",
                             "-nolisten", "tcp", "-noreset"], pass_fds=(write,),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write)
    number = b""
    while not number.endswith(b"\n"):
        chunk = os.read(read, 16)
        if not chunk:
            sys.exit("Xvfb did not start")
        number += chunk
    number = number.decode().strip()
    os.close(read)
    env["DISPLAY"] = ":" + number
    # openbox finds its themes through the desktop's own XDG folders, not the private home's.
    wm = subprocess.Popen(["openbox"], env=dict(os.environ, DISPLAY=env["DISPLAY"]),
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + 20
    while time.monotonic() < deadline:
        check = subprocess.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=env,
                               capture_output=True, text=True)
        if "window id" in check.stdout:
            return xvfb, wm
        time.sleep(0.05)
    sys.exit("openbox did not start")


class Vesk:
    """Vesk on a pseudo-terminal, so that it mirrors its log there."""

    def __init__(self, binary, env):
        self.log = ""
        self.lock = threading.Lock()
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            os.execve(binary, [binary], env)
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        while True:
            try:
                data = os.read(self.fd, 65536)
            except OSError:
                return
            if not data:
                return
            with self.lock:
                self.log += data.decode("utf-8", "replace")

    def count(self, text):
        with self.lock:
            return self.log.count(text)

    def wait_for(self, text, times=1, timeout=10.0, needed=True):
        deadline = time.monotonic() + timeout
        while self.count(text) < times:
            if time.monotonic() > deadline:
                if not needed:
                    return False
                sys.exit("timed out waiting for %r (%d times); log:\n%s" %
                         (text, times, self.log[-3000:]))
            time.sleep(0.002)
        return True

    def figures(self, label):
        with self.lock:
            return [float(ms) for name, ms in LINE.findall(self.log) if name == label]

    def rss_kib(self):
        with open("/proc/%d/status" % self.pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        return 0

    def cpu_seconds(self):
        with open("/proc/%d/stat" % self.pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def stop(self):
        os.kill(self.pid, signal.SIGTERM)
        os.waitpid(self.pid, 0)


def settle(vesk, quiet=1.0, timeout=180.0):
    """Waits until Vesk used no CPU for `quiet` seconds (indexing done)."""
    deadline = time.monotonic() + timeout
    last = vesk.cpu_seconds()
    while time.monotonic() < deadline:
        time.sleep(quiet)
        now = vesk.cpu_seconds()
        if now - last < 0.01 * quiet:
            return
        last = now


def pct(values, p):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(p / 100.0 * (len(ordered) - 1))))]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("vesk")
    parser.add_argument("--files", type=int, default=300000)
    parser.add_argument("--apps", type=int, default=2000)
    parser.add_argument("--rounds", type=int, default=60)
    parser.add_argument("--cycles", type=int, default=500)
    args = parser.parse_args()
    for tool in ("Xvfb", "openbox", "xdotool", "xprop"):
        if shutil.which(tool) is None:
            print("panel_latency: %s is missing (scripts/install-deps); skipped" % tool)
            return

    data = os.path.join(tempfile.gettempdir(), "vesk-bench-tree-%d" % args.files)
    started = time.monotonic()
    tree(data, args.files)
    root = tempfile.mkdtemp(prefix="vesk-bench-")
    home = os.path.join(root, "home")
    for folder in (".local/share/applications", ".config", ".local/state", ".cache"):
        os.makedirs(os.path.join(home, folder), exist_ok=True)
    entries(os.path.join(home, ".local/share/applications"), args.apps)
    os.makedirs(os.path.join(root, "runtime"), mode=0o700)
    os.makedirs(os.path.join(root, "share"))
    env = {
        "HOME": home, "PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LANG": "C.UTF-8",
        "XDG_RUNTIME_DIR": os.path.join(root, "runtime"),
        "XDG_DATA_HOME": os.path.join(home, ".local/share"),
        "XDG_CONFIG_HOME": os.path.join(home, ".config"),
        "XDG_STATE_HOME": os.path.join(home, ".local/state"),
        "XDG_CACHE_HOME": os.path.join(home, ".cache"),
        "XDG_DATA_DIRS": os.path.join(root, "share"),
    }
    os.makedirs(os.path.join(home, ".config", "vesk"), exist_ok=True)
    with open(os.path.join(home, ".config", "vesk", "config.toml"), "w") as f:
        f.write('[files]\nfolders = ["%s"]\n' % data)
    xvfb, wm = start_x(env)
    vesk = Vesk(args.vesk, env)
    try:
        vesk.wait_for("Applied config.toml", timeout=30)
        vesk.wait_for("Rebuilt the application index", timeout=60)
        vesk.wait_for("The file index is up to date", timeout=300)
        settle(vesk)
        print("setup: %d files, %d apps, %.0f s" % (args.files, args.apps,
                                                      time.monotonic() - started))

        def key(*names):
            subprocess.run(["xdotool", "key", "--delay", "0"] + list(names), env=env, check=True)

        shown = closed = 0
        rss_shown = []
        queries = ["cedar", "mapl", "raven", "quartz", "ember", "sierra"]
        for n in range(args.rounds):
            key("ctrl+alt+space")
            shown += 1
            vesk.wait_for("panel drawn", shown)
            if n % 10 == 0:
                rss_shown.append(vesk.rss_kib())
            for letter in queries[n % len(queries)]:
                before = vesk.count(KEYSTROKE)
                key(letter)
                # A keystroke that leaves the list as it was draws nothing and logs no line.
                vesk.wait_for(KEYSTROKE, before + 1, timeout=0.5, needed=False)
            key("Escape")
            closed += 1
            vesk.wait_for("The panel closed", closed)
        # Growth over show/hide cycles, after the rounds above warmed everything up.
        settle(vesk, quiet=0.5, timeout=10)
        before_cycles = vesk.rss_kib()
        for _ in range(args.cycles):
            key("ctrl+alt+space")
            shown += 1
            vesk.wait_for("panel drawn", shown)
            key("Escape")
            closed += 1
            vesk.wait_for("The panel closed", closed)
        settle(vesk, quiet=0.5, timeout=10)
        after_cycles = vesk.rss_kib()
        # Idle after closing: CPU over ten quiet seconds.
        time.sleep(1.0)
        cpu0, t0 = vesk.cpu_seconds(), time.monotonic()
        time.sleep(10.0)
        idle = (vesk.cpu_seconds() - cpu0) / (time.monotonic() - t0) * 100.0

        drawn = vesk.figures(LAUNCHER)
        typed = vesk.figures(KEYSTROKE)
        print("%s: median %.2f ms, p95 %.2f ms (%d presses)" %
              (LAUNCHER, statistics.median(drawn), pct(drawn, 95), len(drawn)))
        print("%s: median %.2f ms, p95 %.2f ms (%d keystrokes)" %
              (KEYSTROKE, statistics.median(typed), pct(typed, 95), len(typed)))
        print("resident with the panel shown: %.1f MiB (max of %d samples)" %
              (max(rss_shown) / 1024.0, len(rss_shown)))
        print("resident over %d show/hide cycles: %.1f -> %.1f MiB (%+.1f MiB)" %
              (args.cycles, before_cycles / 1024.0, after_cycles / 1024.0,
               (after_cycles - before_cycles) / 1024.0))
        print("idle after the panel closed: %.3f%% of a core" % idle)
    finally:
        vesk.stop()
        wm.terminate()
        xvfb.terminate()
        wm.wait()
        xvfb.wait()
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()
