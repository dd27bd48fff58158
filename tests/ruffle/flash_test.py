#!/usr/bin/env python3
"""Flash in the browser controls, on a private desktop (tests/desktop/sandbox.sh).

    flash_test.py --view PATH --artifacts DIR CASE...        (ruffle_view, one control)
    flash_test.py --telvoro PATH --artifacts DIR CASE...     (the real program; sandbox.sh --online)

Each case starts the program afresh against a loopback server made here, waits
until a screenshot shows what the case expects (the test movie's background
colour where the player is, a page's own colour, Ruffle's error panel) and
keeps the last screenshot as DIR/CASE.png. Movies are made by make_swf.py.
"""

import argparse
import http.server
import os
import re
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "desktop"))
import desktop  # noqa: E402
import make_swf  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
PORT = 47801            # the loopback build's Flash-player host
NOTICE_PORT = 47803     # the loopback build's notice page
FLASH = "application/x-shockwave-flash"

BLUE, GREEN, ORANGE, PURPLE, TEAL = "1E90C8", "2EB85C", "E8742A", "7A3FB0", "1AA39A"
PAGE_PINK, WHITE = "F4B6C2", "FFFFFF"


def movie(colour, size="680x460", beacon=None):
    w, h = map(int, size.split("x"))
    return make_swf.movie(colour, w, h, beacon)


def html(body, background=WHITE):
    return ("<!DOCTYPE html><html><head><meta charset='utf-8'><style>html,body{margin:0;height:100%%;"
            "background:#%s}</style></head><body>%s</body></html>" % (background, body)).encode()


EMBED = ("<embed src='/movies/green.swf' type='application/x-shockwave-flash' width='320' height='240' "
         "style='position:absolute;left:40px;top:60px'>")
OBJECT = ("<object data='/movies/orange.swf' type='application/x-shockwave-flash' width='320' height='240' "
          "style='position:absolute;left:40px;top:60px'><param name='movie' value='/movies/orange.swf'></object>")

# path -> (content type or None for no Content-Type header, body)
ROUTES = {
    "/player/v.swf": (FLASH, movie(BLUE, beacon="/beacon")),
    "/player/wide.swf": (FLASH, movie(TEAL, size="400x400")),
    "/untyped/v.swf": (None, movie(PURPLE)),
    "/octet/v.swf": ("application/octet-stream", movie(PURPLE)),
    "/movies/green.swf": (FLASH, movie(GREEN)),
    "/movies/orange.swf": (FLASH, movie(ORANGE)),
    "/embed.html": ("text/html", html(EMBED)),
    "/object.html": ("text/html", html(OBJECT)),
    # Written only where a Flash plugin shows, as swfobject and its kind decide.
    "/detect.html": ("text/html", html("<script>if (navigator.mimeTypes['application/x-shockwave-flash'] && "
                                       "navigator.plugins['Shockwave Flash']) document.write(%r); "
                                       "else document.body.style.background = '#f00';</script>" % EMBED)),
    "/frame.html": ("text/html", html("<iframe src='/embed.html' style='position:absolute;left:0;top:0;"
                                      "width:100%;height:100%;border:0'></iframe>")),
    "/page.html": ("text/html", html("<p>\u4e00\u4e2a\u7f51\u9875</p>", PAGE_PINK)),
    "/html/v.swf": ("text/html; charset=utf-8", html("<p>not a movie</p>", PAGE_PINK)),
    "/bad/not-a-movie.swf": (FLASH, b"<html>no movie here</html>\n" * 40),
    "/bad/empty.swf": (FLASH, b""),
    # A compressed movie whose zlib stream breaks off.
    "/bad/truncated.swf": (FLASH, b"CWS\x0a\x00\x10\x00\x00\x78\x9c" + bytes(range(200, 256)) * 3),
    # The real program: the tutorial video's player, and a video page whose
    # third-site marker gives a player address with flashvars.
    "/player.php/sid/*/v.swf": (FLASH, movie(TEAL)),
    "/show/video.html": ("text/html; charset=utf-8",
                         ("<html><body><param name='movie' value=\"http://127.0.0.1:%d/player/v.swf"
                          "?a=1&v=entered;autoplay=0\"></body></html>" % PORT).encode()),
}


class Case:
    def __init__(self, address, expect=(), beacon=None, env=None, panel=False, missing_ruffle=False,
                 no_movie_fetch=False, sandboxed=False, enter=None, enter_early=False):
        self.address = address          # path on the loopback server
        self.expect = list(expect)      # (x, y, colour) in the control's client coordinates
        self.beacon = beacon            # query the test movie's beacon must send
        self.env = env or {}
        self.panel = panel              # Ruffle's error panel instead of a movie
        self.missing_ruffle = missing_ruffle
        self.no_movie_fetch = no_movie_fetch
        self.sandboxed = sandboxed      # the web process must run under bwrap
        self.enter = enter              # telvoro: page address typed into the box before Enter
        self.enter_early = enter_early  # Enter while the start-up player still loads


C_LOCALE = {"LC_ALL": "C", "LANG": "C", "LANGUAGE": ""}
FULL = lambda colour: [(12, 12, colour), (340, 230, colour), (668, 448, colour)]  # noqa: E731

CASES = {
    # A player address serving Flash fills the control with Ruffle, at once,
    # with its query as flashvars, in any process locale.
    "movie": Case("/player/v.swf?a=1&v=tok%20en", FULL(BLUE), beacon="v=tok%20en", env=C_LOCALE,
                  sandboxed=True),
    "movie-utf8-locale": Case("/player/v.swf?v=x", FULL(BLUE), beacon="v=x", env={"LC_ALL": "C.UTF-8"}),
    # Outside the stage of another shape the movie's background still fills the control.
    "movie-other-shape": Case("/player/wide.swf", FULL(TEAL)),
    "redirected": Case("/redirect", FULL(BLUE), beacon="v=moved"),
    "untyped": Case("/untyped/v.swf", FULL(PURPLE)),
    "octet-stream": Case("/octet/v.swf", FULL(PURPLE)),
    # Flash embedded in pages: Ruffle's polyfill, in frames too.
    "embed": Case("/embed.html", [(200, 180, GREEN), (600, 400, WHITE), (20, 20, WHITE)], env=C_LOCALE,
                  sandboxed=True),
    "object": Case("/object.html", [(200, 180, ORANGE), (600, 400, WHITE)]),
    "iframe": Case("/frame.html", [(200, 180, GREEN), (600, 400, WHITE)]),
    "plugin-detected": Case("/detect.html", [(200, 180, GREEN), (600, 400, WHITE)]),
    # Not Flash: a page.
    "page": Case("/page.html", FULL(PAGE_PINK), no_movie_fetch=True),
    "html-at-swf-path": Case("/html/v.swf", FULL(PAGE_PINK)),
    # Broken movies: Ruffle's own panel, the program lives on.
    "not-a-movie": Case("/bad/not-a-movie.swf", panel=True),
    "empty": Case("/bad/empty.swf", panel=True),
    "truncated": Case("/bad/truncated.swf", panel=True),
    # No Ruffle: the address loads as it is, one line says where Ruffle was looked for.
    "no-ruffle": Case("/player/v.swf?v=1", env={"TELVORO_RUFFLE_DIR": "/nonexistent/ruffle"},
                      missing_ruffle=True),
    # The real program: the tutorial video's player at start, then a page typed
    # into the box and Enter.
    "telvoro-start": Case(None, [(340, 250, TEAL), (668, 448, TEAL)], env=C_LOCALE, sandboxed=True),
    "telvoro-enter": Case(None, [(340, 250, BLUE), (668, 448, BLUE)], beacon="v=entered", env=C_LOCALE,
                          enter="/show/video.html"),
    # The newer address wins over the start-up player whose answer came meanwhile.
    "telvoro-enter-early": Case(None, [(340, 250, BLUE), (668, 448, BLUE)], beacon="v=entered",
                                enter="/show/video.html", enter_early=True),
}


class Server:
    def __init__(self):
        self.requests = []
        self.lock = threading.Lock()
        outer = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                with outer.lock:
                    outer.requests.append(self.path)
                path = self.path.split("?")[0]
                route = ROUTES.get(path) or ROUTES.get(re.sub(r"^/player\.php/sid/[^/]+/", "/player.php/sid/*/", path))
                if path == "/beacon":
                    route = ("text/plain", b"ok=1")
                if path == "/redirect":
                    self.send_response(302)
                    self.send_header("Location", "/player/v.swf?v=moved")
                    self.send_header("Content-Length", "0")
                    self.end_headers()
                    return
                if route is None:
                    self.send_error(404)
                    return
                content_type, body = route
                self.send_response(200)
                if content_type:
                    self.send_header("Content-Type", content_type)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *_):
                pass

        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", PORT), Handler)
        self.httpd.daemon_threads = True
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()

    def seen(self):
        with self.lock:
            return list(self.requests)

    def stop(self):
        self.httpd.shutdown()
        self.httpd.server_close()


def run(*args, **kw):
    return subprocess.run(args, capture_output=True, text=True, **kw)


def screenshot(path):
    run("import", "-window", "root", path, check=True)


def pixels(path, points):
    fmt = ";".join("%%[fx:int(255*p{%d,%d}.%s+0.5)]" % (x, y, c) for x, y in points for c in "rgb")
    values = list(map(int, run("convert", path, "-format", fmt, "info:", check=True).stdout.split(";")))
    return ["%02X%02X%02X" % tuple(values[i:i + 3]) for i in range(0, len(values), 3)]


def close(a, b, tolerance=6):
    return all(abs(int(a[i:i + 2], 16) - int(b[i:i + 2], 16)) <= tolerance for i in (0, 2, 4))


def client_origin(pid):
    """Root coordinates of the client area of the program's largest visible window."""
    best = None
    for wid in run("xdotool", "search", "--onlyvisible", "--pid", str(pid)).stdout.split():
        # xwininfo, not xdotool's geometry: that one counts the frame's offset twice.
        info = dict(re.findall(r"^\s*(Absolute upper-left [XY]|Width|Height):\s*(-?\d+)", run("xwininfo", "-id", wid).stdout,
                               re.M))
        if len(info) < 4:
            continue
        area = int(info["Width"]) * int(info["Height"])
        if best is None or area > best[0]:
            best = (area, int(info["Absolute upper-left X"]), int(info["Absolute upper-left Y"]), wid)
    return (best[1], best[2], best[3]) if best else None


def panel_missing(shot, x0, y0):
    """Ruffle's panel: white text on a red to orange ground, in place of the movie."""
    grid = pixels(shot, [(x0 + x, y0 + y) for x in range(20, 680, 40) for y in range(20, 460, 40)])
    ground = [c for c in grid if int(c[0:2], 16) >= 200 and int(c[4:6], 16) <= 120]
    if len(ground) < 0.8 * len(grid):
        return "no error panel: the control shows %s" % sorted(set(grid))
    return None


def describe(program):
    """The program's process tree with each process's state, for a failure message."""
    states = []
    for pid, name, _ in [(program.proc.pid, "program", [])] + desktop.process_tree(program.proc.pid):
        try:
            with open("/proc/%d/stat" % pid) as f:
                stat = f.read()
            states.append("%s(%d) %s" % (name, pid, stat[stat.rindex(")") + 2]))
        except OSError:
            pass
    return ", ".join(states)


def check_sandbox(pid):
    """Every web process of the program runs under bwrap, in a mount namespace of its own."""
    web = [(p, a) for p, name, a in desktop.process_tree(pid) if name == "WebKitWebProcess"]
    if not web:
        return "no WebKitWebProcess under the program"
    own_ns = os.readlink("/proc/%d/ns/mnt" % pid)
    for p, ancestors in web:
        if "bwrap" not in ancestors:
            return "web process %d is not under bwrap (ancestors %s)" % (p, ancestors)
        if os.readlink("/proc/%d/ns/mnt" % p) == own_ns:
            return "web process %d shares the program's mount namespace" % p
    return None


class Program:
    def __init__(self, argv, env, log_prefix):
        self.stdout_path, self.stderr_path = log_prefix + ".stdout", log_prefix + ".stderr"
        self.proc = subprocess.Popen(argv, env=env, stdout=open(self.stdout_path, "w"),
                                     stderr=open(self.stderr_path, "w"))

    def output(self):
        with open(self.stdout_path, errors="replace") as f:
            return f.read()

    def errors(self):
        with open(self.stderr_path, errors="replace") as f:
            return f.read()

    def crashed(self):
        if self.proc.poll() is not None:
            return "the program ended (status %s)" % self.proc.returncode
        if "web-process-terminated" in self.output():
            return "the web process ended"
        return None

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


def type_address(origin, text):
    x, y, wid = origin
    # 编辑框1 lies at 70,10 to 590,35 of the client area.
    run("xdotool", "mousemove", str(x + 200), str(y + 22), "click", "1")
    run("xdotool", "key", "--window", wid, "ctrl+a")
    run("xdotool", "type", "--delay", "5", text)
    run("xdotool", "key", "Return")


def run_case(name, case, args, server):
    base = "http://127.0.0.1:%d" % PORT
    env = dict(os.environ, **case.env)
    prefix = os.path.join(args.artifacts, name)
    shot = prefix + ".png"
    notice = None
    for stale in (shot, prefix + ".notice.log"):
        if os.path.exists(stale):
            os.remove(stale)
    if args.telvoro:
        # The program checks that it is online (a default route) and reads the notice page at start.
        notice = subprocess.Popen([sys.executable, os.path.join(SOURCE, "tests/desktop/notice_server.py"),
                                   "--port", str(NOTICE_PORT), "--page", os.path.join(SOURCE, "shell/notice/notice.html"),
                                   "--log", prefix + ".notice.log", "--lifetime", "120"], stdout=subprocess.PIPE)
        notice.stdout.readline()
        program = Program([args.telvoro], env, prefix)
    else:
        program = Program([args.view, "--console", base + case.address], env, prefix)
    failures = []
    try:
        deadline = time.monotonic() + args.timeout
        origin = None
        while origin is None and time.monotonic() < deadline:
            origin = client_origin(program.proc.pid)
            if origin is None:
                time.sleep(0.2)
        if origin is None:
            return ["no window appeared"]
        if case.enter:
            if case.enter_early:
                while time.monotonic() < deadline and not any("/v.swf" in r for r in server.seen()):
                    time.sleep(0.05)
                if not any("/v.swf" in r for r in server.seen()):
                    return ["the start-up player address was never requested; processes: %s" % describe(program)]
            else:
                # The start-up player first, so that its colour is not taken for ours.
                start = [(origin[0] + 340, origin[1] + 250)]
                while time.monotonic() < deadline:
                    screenshot(shot)
                    if close(pixels(shot, start)[0], TEAL):
                        break
                    time.sleep(0.3)
            type_address(origin, base + case.enter)

        x0, y0, _ = origin
        points = [(x0 + x, y0 + y) for x, y, _ in case.expect]
        wanted = [c for _, _, c in case.expect]
        got = []
        while time.monotonic() < deadline:
            crash = program.crashed()
            if crash:
                failures.append(crash)
                break
            screenshot(shot)
            if case.panel:
                if not panel_missing(shot, x0, y0):
                    break
                time.sleep(0.5)
                continue
            if case.missing_ruffle:
                # Nothing to wait for on screen: give the player time to fail.
                if time.monotonic() > deadline - args.timeout + args.settle:
                    break
                time.sleep(0.5)
                continue
            got = pixels(shot, points)
            beacon_ok = case.beacon is None or any(r == "/beacon?" + case.beacon for r in server.seen())
            if all(close(g, w) for g, w in zip(got, wanted)) and beacon_ok:
                break
            time.sleep(0.5)
        else:
            if case.panel:
                failures.append("timed out: %s" % panel_missing(shot, x0, y0))
            else:
                failures.append("timed out: pixels %s, wanted %s; requests %s; processes: %s"
                                % (got, wanted, server.seen(), describe(program)))

        if not failures:
            crash = program.crashed()
            if crash:
                failures.append(crash)
        if case.sandboxed:
            problem = check_sandbox(program.proc.pid)
            if problem:
                failures.append(problem)
        if case.no_movie_fetch and any(".swf" in r for r in server.seen()):
            failures.append("a movie was fetched for a page: %s" % server.seen())
        if case.missing_ruffle:
            lines = [line for line in program.errors().splitlines() if "ruffle" in line.lower()]
            if len(lines) != 1 or "/nonexistent/ruffle" not in lines[0]:
                failures.append("wanted one line naming /nonexistent/ruffle on stderr, got %r" % lines)
            if not any(r.startswith("/player/v.swf") for r in server.seen()):
                failures.append("the address was not loaded: %s" % server.seen())
            if any(r.startswith("/beacon") for r in server.seen()):
                failures.append("a movie played without Ruffle?")
    finally:
        program.stop()
        if notice:
            notice.terminate()
            notice.wait()
    return failures


def main():
    parser = argparse.ArgumentParser()
    group = parser.add_mutually_exclusive_group(required=True)
    group.add_argument("--view")
    group.add_argument("--telvoro")
    parser.add_argument("--artifacts", required=True)
    parser.add_argument("--timeout", type=float, default=60)
    parser.add_argument("--settle", type=float, default=8, help="seconds given to a movie that cannot play")
    parser.add_argument("cases", nargs="+")
    args = parser.parse_args()
    os.makedirs(args.artifacts, exist_ok=True)

    failed = 0
    for name in args.cases:
        server = Server()
        try:
            failures = run_case(name, CASES[name], args, server)
        finally:
            server.stop()
        print("%s %s%s" % ("FAIL" if failures else "ok  ", name, "".join("\n    " + f for f in failures)), flush=True)
        failed += bool(failures)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
