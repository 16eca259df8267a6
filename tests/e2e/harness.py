# Drives Windows programs under Wine on a virtual X display, for the patcher's end-to-end tests,
# the demo and the benchmarks: starts Xvfb with a small window manager, keeps one Wine prefix,
# starts a program through launch.exe (which reports its full exit code), reads each message
# box's text from Wine's message-box trace, answers it with its mnemonic key, takes screenshots.

import glob
import os
import re
import subprocess
import tempfile
import time
from types import SimpleNamespace

BOX_LINE = re.compile(r'MSGBOX_OnInit L"(.*)"\s*$')


def wait_for(condition, seconds):
    """The first true value of condition() within the given seconds, asked every 0.1 s; else None."""
    deadline = time.time() + seconds
    while time.time() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.1)
    return None


class Desktop:
    # A virtual X display with a window manager, so Wine closes boxes without waiting.

    def __init__(self, visible=False):
        self.processes = []
        self.display = os.environ.get("DISPLAY") if visible else None

    def __enter__(self):
        if self.display:
            return self
        read_fd, write_fd = os.pipe()
        self.processes.append(subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
            pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        os.close(write_fd)
        with os.fdopen(read_fd, "rb") as pipe:
            number = pipe.readline().strip()
        if not number:
            raise RuntimeError("Xvfb did not start")
        self.display = ":" + number.decode()
        self.processes.append(subprocess.Popen(["openbox"], env=dict(os.environ, DISPLAY=self.display),
                                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        time.sleep(0.5)
        return self

    def __exit__(self, *exc):
        for process in reversed(self.processes):
            process.terminate()
            process.wait(timeout=5)

    def xdotool(self, *args):
        result = subprocess.run(["xdotool", *args], env=dict(os.environ, DISPLAY=self.display),
                                capture_output=True, text=True)
        return result.stdout.strip() if result.returncode == 0 else None

    def screenshot(self, path):
        subprocess.run(["import", "-window", "root", path], env=dict(os.environ, DISPLAY=self.display),
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return path


class Wine:
    # One Wine prefix; paths inside its C: drive are given Windows-style (C:\\...).

    def __init__(self, desktop, tools_dir):
        self.desktop = desktop
        self.tools_dir = tools_dir  # where launch.exe and the other helpers are
        self.loader = os.environ["VORN_WINE"]
        self.prefix = os.environ["WINEPREFIX"]
        self.env = dict(os.environ, DISPLAY=desktop.display)

    def host_path(self, windows_path):
        assert windows_path[:3].upper() == "C:\\", windows_path
        return os.path.join(self.prefix, "drive_c", *windows_path[3:].split("\\"))

    def run(self, args, timeout=120):
        # Output goes through files, not pipes: the first Wine program of a session starts
        # background services that inherit its standard handles and would hold a pipe open.
        with tempfile.TemporaryFile("w+", errors="replace") as out:
            completed = subprocess.run([self.loader, *args], env=self.env, stdout=out,
                                       stderr=subprocess.DEVNULL, timeout=timeout)
            out.seek(0)
            completed.stdout = out.read()
        return completed

    def server(self, option):  # -p keeps the server up, -k ends everything in the prefix
        subprocess.run([os.environ["WINESERVER"], option], env=self.env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def start_server(self):
        self.server("-p")

    def stop_server(self):
        self.server("-k")

    def import_registry(self, text):
        # regedit takes a Windows path (a Unix path would read as a switch).
        with open(self.host_path("C:\\e2e-import.reg"), "w", encoding="utf-8") as f:
            f.write("REGEDIT4\n\n" + text + "\n")
        # regedit now and then exits non-zero without a word right after another program of the
        # prefix has ended; a second try goes through.
        for attempt in range(3):
            if self.run(["regedit", "/S", "C:\\e2e-import.reg"], timeout=60).returncode == 0:
                return
            time.sleep(0.5 * (attempt + 1))
        raise RuntimeError("regedit failed")

    def query_registry(self, key, value):
        for line in self.run(["reg", "query", key, "/v", value]).stdout.splitlines():
            parts = line.strip().split(None, 2)
            if len(parts) == 3 and parts[0].lower() == value.lower():
                return parts[2]
        return None

    def programs_folder(self):  # the user's: Public has none
        found = sorted(glob.glob(os.path.join(self.prefix, "drive_c", "users", "*", "AppData", "Roaming",
                                              "Microsoft", "Windows", "Start Menu", "Programs")))
        if not found:
            raise RuntimeError("no programs folder in the prefix")
        return found[0]

    def start_helper(self, name, args=()):  # in the background
        return subprocess.Popen([self.loader, os.path.join(self.tools_dir, name), *args],
                                env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def drive(self, program, answers, args=(), timeout=90, shots_dir=None, on_box=None):
        """Runs a program to its end, answering the n-th box with answers[n] = (pattern, key)
        when the pattern is found in its text (else it is unexpected and gets Return);
        on_box(index, text) runs before each answer. Returns boxes (text, caption, answer,
        screenshot, times), texts, exit_code, timed_out, launcher_code and stderr."""
        # Now and then the loader ends at once without a word (as regedit does above): launch.exe
        # then never reported an exit code and no box came. The program did not run, so nothing
        # it would do is hidden by starting it again.
        for attempt in range(3):
            result = self._drive_once(program, answers, args, timeout, shots_dir, on_box)
            if result.boxes or result.exit_code is not None or result.timed_out:
                return result
            time.sleep(0.5 * (attempt + 1))
        return result

    def _drive_once(self, program, answers, args, timeout, shots_dir, on_box):
        result = SimpleNamespace(boxes=[], timed_out=False, exit_code=None)
        env = dict(self.env, WINEDEBUG="-all,trace+msgbox")
        with tempfile.TemporaryFile("w+", errors="replace") as out, \
                tempfile.NamedTemporaryFile("w+", errors="replace") as err:
            process = subprocess.Popen([self.loader, os.path.join(self.tools_dir, "launch.exe"),
                                        program, *args], env=env, stdout=out, stderr=err)
            deadline = time.time() + timeout
            known = self._visible_windows()
            while True:
                with open(err.name, errors="replace") as f:
                    lines = [m.group(1) for m in map(BOX_LINE.search, f) if m]
                if len(lines) > len(result.boxes):
                    index = len(result.boxes)
                    text = lines[index].encode("latin-1", "backslashreplace").decode("unicode_escape")
                    window = self._wait_for_box(known)
                    shown_at = time.time()
                    cpu = self._cpu_seconds(window)  # for the benchmarks
                    # The progress dialog may be new too: name every new window now and take
                    # the caption of the one that the answer closes.
                    names = {w: self.desktop.xdotool("getwindowname", w)
                             for w in self._visible_windows() - known}
                    shot = None
                    if shots_dir:
                        time.sleep(0.2)
                        shot = self.desktop.screenshot(os.path.join(shots_dir, "box-%02d.png" % (index + 1)))
                    expected = index < len(answers) and re.search(answers[index][0], text)
                    key = answers[index][1] if expected else "Return"
                    if on_box:
                        on_box(index, text)
                    closed = self._press(window, key, known)
                    caption = names.get(closed) or (
                        self.desktop.xdotool("getwindowname", closed) if closed else None)
                    result.boxes.append(SimpleNamespace(text=text, caption=caption, answer=key,
                                                        screenshot=shot, shown_at=shown_at,
                                                        answered_at=time.time(), cpu_seconds=cpu))
                    time.sleep(0.2)
                    continue
                if process.poll() is not None:
                    break
                # Windows that are up while no box is pending (the progress dialog) are not boxes.
                known = self._visible_windows()
                if time.time() > deadline:
                    result.timed_out = True
                    process.kill()
                    # The program lives on inside Wine: end everything in the prefix, so that
                    # what it holds (the game's mutex, open files) cannot spoil later runs.
                    self.stop_server()
                    self.start_server()
                    break
                time.sleep(0.1)
            result.launcher_code = process.wait(timeout=30)
            out.seek(0)
            match = re.search(r"exit-code (-?\d+)", out.read())
            result.exit_code = int(match.group(1)) if match else None
            err.seek(0)
            result.stderr = err.read()
        result.texts = [box.text for box in result.boxes]
        return result

    def _cpu_seconds(self, window):
        # For the benchmarks, from the Unix pid Wine gives the window: GetProcessTimes under
        # Wine does not count another process's time.
        pid = self.desktop.xdotool("getwindowpid", window) if window else None
        try:
            with open("/proc/%s/stat" % pid) as f:
                fields = f.read().rsplit(")", 1)[1].split()
        except (OSError, IndexError):
            return None
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def _visible_windows(self):
        listing = self.desktop.xdotool("search", "--onlyvisible", "--name", ".")
        return set(listing.split()) if listing else set()

    def _wait_for_box(self, known):
        # The box is the newest visible window that was not there before it (the progress
        # dialog carries the same caption as most boxes, so the caption alone does not tell).
        # Waits until it is mapped: a key pressed before that would go to another window.
        fresh = wait_for(lambda: self._visible_windows() - known, 20)
        return max(fresh, key=int) if fresh else None

    def _press(self, window, key, known):
        # Real key events (XTEST) to the focused box: Wine does not take synthetic events sent
        # to a window for keyboard input. When the window does not go away, it was not the box
        # (a progress dialog that came up together with the box looks new too) or the key was
        # lost while it took focus: look again among the new windows and press again.
        stayed = set()
        for _ in range(4):
            if window:
                self.desktop.xdotool("windowactivate", "--sync", window)
                self.desktop.xdotool("windowfocus", "--sync", window)
                time.sleep(0.1)
            self.desktop.xdotool("key", key)
            if not window or wait_for(lambda: window not in self._visible_windows(), 2.0):
                return window
            stayed.add(window)
            others = self._visible_windows() - known - stayed
            if others:
                window = max(others, key=int)
        return window
