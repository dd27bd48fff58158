"""Helpers for desktop tests that run inside tests/desktop/sandbox.sh: loopback
HTTP servers that record what they are asked, the program under test, and the
X tools (xdotool, xwininfo, xprop, import) that drive and read its windows."""

import http.server
import os
import re
import socketserver
import subprocess
import threading
import time


class Timeout(AssertionError):
    pass


def wait_until(what, predicate, timeout=15.0, interval=0.1):
    """Polls until predicate() gives something true, and returns it."""
    end = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > end:
            raise Timeout(f"timed out waiting for {what}")
        time.sleep(interval)


# --- loopback servers ------------------------------------------------------------

class Server:
    """An HTTP server on 127.0.0.1:port answering from a table of paths
    (path without query -> (content type, body bytes)), else the default page
    or 404, and recording every request. It runs on a thread until stop()."""

    def __init__(self, port, pages=None, default=None):
        self.pages = dict(pages or {})
        self.default = default
        self.arrivals = []  # (monotonic time, path, User-Agent) of each request
        self._lock = threading.Lock()
        server = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def do_GET(self):
                with server._lock:
                    server.arrivals.append((time.monotonic(), self.path, self.headers.get("User-Agent", "")))
                page = server.pages.get(self.path.split("?")[0], server.default)
                if page is None:
                    body, status, ctype = b"not here", 404, "text/plain"
                else:
                    (ctype, body), status = page, 200
                self.send_response(status)
                self.send_header("Content-Type", ctype)
                self.send_header("Content-Length", str(len(body)))
                self.send_header("Cache-Control", "no-store")
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        class Threaded(socketserver.ThreadingMixIn, http.server.HTTPServer):
            daemon_threads = True
            allow_reuse_address = True

        self._httpd = Threaded(("127.0.0.1", port), Handler)
        self._thread = threading.Thread(target=self._httpd.serve_forever, daemon=True)
        self._thread.start()

    def seen(self, path_prefix):
        with self._lock:
            return [p for _, p, _ in self.arrivals if p.startswith(path_prefix)]

    def first_arrival(self, path_prefix, agent_part=""):
        """When the first request for a path under the prefix, from an agent
        whose User-Agent holds agent_part, arrived; None if none has."""
        with self._lock:
            return next((t for t, p, a in self.arrivals if p.startswith(path_prefix) and agent_part in a), None)

    def stop(self):
        self._httpd.shutdown()
        self._httpd.server_close()


def html(text):
    return ("text/html; charset=utf-8", text.encode("utf-8"))


# --- the program -----------------------------------------------------------------

class Program:
    def __init__(self, argv, log_path, env=None):
        self.log_path = log_path
        self._log = open(log_path, "wb")
        self.process = subprocess.Popen(argv, stdout=self._log, stderr=subprocess.STDOUT,
                                        env=dict(os.environ, **(env or {})))

    def running(self):
        return self.process.poll() is None

    def stop(self):
        if self.running():
            self.process.terminate()
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self._log.close()

    def log(self):
        with open(self.log_path, "rb") as f:
            return f.read().decode("utf-8", "replace")


def process_tree(root):
    """(pid, name, names of its ancestors below root) of every process under root."""
    children = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                stat = f.read()
            ppid = int(stat[stat.rindex(")") + 2:].split()[1])
            with open("/proc/%s/cmdline" % entry, "rb") as f:
                cmd = f.read().split(b"\0")
        except (OSError, ValueError):
            continue
        children.setdefault(ppid, []).append((int(entry), os.path.basename(cmd[0].decode(errors="replace"))))
    tree, stack = [], [(root, [])]
    while stack:
        pid, ancestors = stack.pop()
        for child, name in children.get(pid, []):
            tree.append((child, name, ancestors))
            stack.append((child, ancestors + [name]))
    return tree


# --- X ---------------------------------------------------------------------------

def run(*argv, check=True):
    result = subprocess.run(argv, capture_output=True, text=True)
    if check and result.returncode != 0:
        raise AssertionError(f"{' '.join(argv)}: {result.stderr.strip()}")
    return result.stdout


def windows_named(pattern, only_visible=True):
    """Ids of the top-level client windows whose name matches (a regular expression)."""
    argv = ["xdotool", "search"] + (["--onlyvisible"] if only_visible else []) + ["--name", pattern]
    out = run(*argv, check=False)
    return [int(w) for w in out.split()]


def window_named(pattern, timeout=15.0):
    return wait_until(f"a visible window named {pattern}", lambda: (windows_named(pattern) or [None])[0],
                      timeout)


def window_gone(window_id, timeout=10.0):
    wait_until(f"window {window_id} to be unmapped", lambda: not is_viewable(window_id), timeout)


def is_viewable(window_id):
    out = run("xwininfo", "-id", str(window_id), check=False)
    return "Map State: IsViewable" in out


def geometry(window_id):
    """The client area in root coordinates: x, y, width, height."""
    out = run("xwininfo", "-id", str(window_id))
    get = lambda key: int(re.search(rf"{key}:\s+(-?\d+)", out).group(1))
    return get("Absolute upper-left X"), get("Absolute upper-left Y"), get("Width"), get("Height")


def frame_extents(window_id):
    """left, right, top, bottom of the window manager's frame."""
    out = run("xprop", "-id", str(window_id), "_NET_FRAME_EXTENTS", check=False)
    m = re.search(r"=\s*(\d+),\s*(\d+),\s*(\d+),\s*(\d+)", out)
    return tuple(int(v) for v in m.groups()) if m else (0, 0, 0, 0)


def outer_rect(window_id):
    x, y, w, h = geometry(window_id)
    left, right, top, bottom = frame_extents(window_id)
    return x - left, y - top, w + left + right, h + top + bottom


def window_name(window_id):
    out = subprocess.run(["xdotool", "getwindowname", str(window_id)], capture_output=True).stdout
    return out.decode("utf-8", "replace").rstrip("\n")


def net_wm_state(window_id):
    return run("xprop", "-id", str(window_id), "_NET_WM_STATE", check=False)


def screen_size():
    out = run("xdpyinfo")
    m = re.search(r"dimensions:\s+(\d+)x(\d+)", out)
    return int(m.group(1)), int(m.group(2))


def click(x, y, button=1):
    run("xdotool", "mousemove", "--sync", str(x), str(y), "click", str(button))


def click_client(window_id, x, y):
    """A click at a point of the window's client area."""
    wx, wy, _, _ = geometry(window_id)
    click(wx + x, wy + y)


def key(*names):
    run("xdotool", "key", "--clearmodifiers", *names)


def type_text(text):
    run("xdotool", "type", "--delay", "5", text)


def screenshot(path, window_id=None, frame=True):
    """A PNG of the whole screen, or of one window (with its frame when asked)."""
    if window_id is None:
        run("import", "-window", "root", path)
        return path
    x, y, w, h = outer_rect(window_id) if frame else geometry(window_id)
    run("import", "-window", "root", "-crop", f"{w}x{h}+{x}+{y}", "+repage", path)
    return path


def pixels(path):
    """(width, height, rows): the picture as rows of (r, g, b) tuples."""
    data = subprocess.run(["convert", path, "-depth", "8", "ppm:-"], capture_output=True, check=True).stdout
    m = re.match(rb"P6\s+(\d+)\s+(\d+)\s+(\d+)\s", data)
    width, height = int(m.group(1)), int(m.group(2))
    body = data[m.end():]
    rows = []
    for y in range(height):
        row = body[y * width * 3:(y + 1) * width * 3]
        rows.append([tuple(row[i:i + 3]) for i in range(0, len(row), 3)])
    return width, height, rows
