#!/usr/bin/env python3
"""The measuring half of bench/ruffle.sh; runs inside tests/desktop/sandbox.sh --online.

Time: from Enter in the address box to the first frame of the found Flash movie
on screen (one pixel of the player read straight from the X server every few
milliseconds), against Enter to a found HTML page on screen, in the same
program, alternating. The first Flash movie after start (the tutorial player)
is timed from the program's start.
Memory: PSS of the whole process tree (program, network process, web processes
with their bwrap sandboxes) with the tutorial address showing a Flash movie,
against the same program with that address serving an HTML page.
"""

import argparse
import ctypes
import http.server
import os
import re
import statistics
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(ROOT, "tests", "ruffle"))
import flash_test  # noqa: E402
import make_swf  # noqa: E402

PORT, NOTICE_PORT = 47801, 47803
FLASH = "application/x-shockwave-flash"
# One colour per step, so that every step changes the pixel we watch.
START, PAGE1, MOVIE1, PAGE2, MOVIE2 = "204060", "F0C8A0", "1E90C8", "C8F0A0", "B03A5A"


def page(colour):
    return ("text/html", ("<!DOCTYPE html><html><body style='margin:0;background:#%s'></body></html>" % colour).encode())


def marker(address):
    # The third site's marker: the resolver gives the address as it stands.
    return ("text/html", ("<param name='movie' value=\"%s;autoplay=0\">" % address).encode())


class Server:
    def __init__(self, routes):
        self.routes = routes
        self.log = []
        self.lock = threading.Lock()
        outer = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                with outer.lock:
                    outer.log.append((time.monotonic(), self.path))
                path = self.path.split("?")[0]
                route = outer.routes.get(path) or outer.routes.get(re.sub(r"/sid/[^/]+/", "/sid/*/", path))
                if route is None:
                    self.send_error(404)
                    return
                ctype, body = route
                self.send_response(200)
                self.send_header("Content-Type", ctype)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *_):
                pass

        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", PORT), Handler)
        self.httpd.daemon_threads = True
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()

    def first(self, prefix, after):
        with self.lock:
            return next((t for t, p in self.log if t >= after and p.startswith(prefix)), None)

    def nth(self, prefix, after, n):
        with self.lock:
            times = [t for t, p in self.log if t >= after and p.startswith(prefix)]
        return times[n] if len(times) > n else None

    def stop(self):
        self.httpd.shutdown()
        self.httpd.server_close()


class Screen:
    """One pixel of the root window, straight from the X server."""

    def __init__(self):
        x = ctypes.cdll.LoadLibrary("libX11.so.6")
        x.XOpenDisplay.restype = ctypes.c_void_p
        x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x.XDefaultRootWindow.restype = ctypes.c_ulong
        x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        x.XGetImage.restype = ctypes.c_void_p
        x.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                                ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        x.XGetPixel.restype = ctypes.c_ulong
        x.XGetPixel.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int]
        x.XDestroyImage.argtypes = [ctypes.c_void_p]
        self.x = x
        self.display = x.XOpenDisplay(None)
        self.root = x.XDefaultRootWindow(self.display)

    def pixel(self, px, py):
        image = self.x.XGetImage(self.display, self.root, px, py, 1, 1, 0xFFFFFF, 2)  # ZPixmap
        value = self.x.XGetPixel(image, 0, 0)
        self.x.XDestroyImage(image)
        return "%06X" % (value & 0xFFFFFF)

    def wait_for(self, point, colour, timeout=60.0):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if flash_test.close(self.pixel(*point), colour):
                return time.monotonic()
            time.sleep(0.004)
        raise TimeoutError("colour %s never showed at %s (last %s)" % (colour, point, self.pixel(*point)))


def tree_pss_kib(root):
    total = count = 0
    for pid in [root] + [p for p, _, _ in flash_test.process_tree(root)]:
        try:
            with open("/proc/%d/smaps_rollup" % pid) as f:
                m = re.search(r"^Pss:\s+(\d+) kB", f.read(), re.M)
        except OSError:
            continue
        if m:
            total += int(m.group(1))
            count += 1
    return total, count


def start(telvoro, log):
    return subprocess.Popen([telvoro], stdout=log, stderr=subprocess.STDOUT,
                            env=dict(os.environ, LC_ALL="C"))


def stop(program):
    program.terminate()
    try:
        program.wait(10)
    except subprocess.TimeoutExpired:
        program.kill()
        program.wait()
    time.sleep(1)


def window(program, timeout=30):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        origin = flash_test.client_origin(program.pid)
        if origin:
            return origin
        time.sleep(0.05)
    raise TimeoutError("no window")


def enter(origin, address):
    x, y, _ = origin
    subprocess.run(["xdotool", "mousemove", str(x + 200), str(y + 22), "click", "1"], check=True)
    subprocess.run(["xdotool", "key", "ctrl+a"], check=True)
    subprocess.run(["xdotool", "type", "--delay", "2", address], check=True)
    t0 = time.monotonic()
    subprocess.run(["xdotool", "key", "Return"], check=True)
    return t0


def timing_run(args, screen, server, log):
    base = "http://127.0.0.1:%d" % PORT
    t_exec = time.monotonic()
    program = start(args.telvoro, log)
    try:
        origin = window(program)
        point = (origin[0] + 340, origin[1] + 250)
        result = {"start": (screen.wait_for(point, START) - t_exec) * 1000}
        steps = [("page", "/show/page1.html", PAGE1, None), ("flash", "/show/movie1.html", MOVIE1, "/movies/1.swf"),
                 ("page", "/show/page2.html", PAGE2, None), ("flash", "/show/movie2.html", MOVIE2, "/movies/2.swf")]
        for kind, show, colour, movie in steps:
            time.sleep(args.pause)
            t0 = enter(origin, base + show)
            shown = screen.wait_for(point, colour)
            result.setdefault(kind, []).append((shown - t0) * 1000)
            if movie:
                fetched = server.first(show, t0)
                main = server.nth(movie, t0, 0)
                ruffle = server.nth(movie, t0, 1)
                if fetched and main and ruffle:
                    result.setdefault("parts", []).append(
                        ((fetched - t0) * 1000, (main - t0) * 1000, (ruffle - t0) * 1000, (shown - t0) * 1000))
        result["pss_after"] = tree_pss_kib(program.pid)
        return result
    finally:
        stop(program)


def settled_pss(args, screen, log):
    program = start(args.telvoro, log)
    try:
        origin = window(program)
        screen.wait_for((origin[0] + 340, origin[1] + 250), START)
        time.sleep(args.settle)
        return tree_pss_kib(program.pid)
    finally:
        stop(program)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--telvoro", required=True)
    parser.add_argument("--tutorial-path", required=True)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--memory-runs", type=int, default=3)
    parser.add_argument("--settle", type=float, default=6.0)
    parser.add_argument("--pause", type=float, default=1.5, help="seconds between steps")
    parser.add_argument("--log", default=os.devnull)
    args = parser.parse_args()

    base = "http://127.0.0.1:%d" % PORT
    movie = lambda colour: (FLASH, make_swf.movie(colour, 680, 460))  # noqa: E731
    routes = {
        "/show/page1.html": marker(base + "/pages/1.html"),
        "/show/page2.html": marker(base + "/pages/2.html"),
        "/show/movie1.html": marker(base + "/movies/1.swf?v=1"),
        "/show/movie2.html": marker(base + "/movies/2.swf?v=2"),
        "/pages/1.html": page(PAGE1),
        "/pages/2.html": page(PAGE2),
        "/movies/1.swf": movie(MOVIE1),
        "/movies/2.swf": movie(MOVIE2),
    }
    tutorial = re.sub(r"/sid/[^/]+/", "/sid/*/", args.tutorial_path)
    notice = subprocess.Popen([sys.executable, os.path.join(ROOT, "tests/desktop/notice_server.py"), "--port",
                               str(NOTICE_PORT), "--page", os.path.join(ROOT, "shell/notice/notice.html"), "--log",
                               os.devnull, "--lifetime", "3600"], stdout=subprocess.PIPE)
    notice.stdout.readline()
    server = Server(routes)
    screen = Screen()
    log = open(args.log, "ab")
    try:
        routes[tutorial] = movie(START)
        runs = [timing_run(args, screen, server, log) for _ in range(args.runs)]
        memory = {"flash": [], "html": []}
        for _ in range(args.memory_runs):
            for kind in ("html", "flash"):
                routes[tutorial] = movie(START) if kind == "flash" else page(START)
                memory[kind].append(settled_pss(args, screen, log))
    finally:
        server.stop()
        notice.terminate()

    med = statistics.median
    flash = [t for r in runs for t in r["flash"]]
    pages = [t for r in runs for t in r["page"]]
    starts = [r["start"] for r in runs]
    parts = [p for r in runs for p in r.get("parts", [])]
    print("%d runs; times in ms, median (min-max)" % args.runs)
    fmt = lambda v: "%7.0f  (%.0f-%.0f)" % (med(v), min(v), max(v))  # noqa: E731
    print("  start to the tutorial movie's first frame   %s" % fmt(starts))
    print("  Enter to a found movie's first frame        %s" % fmt(flash))
    print("  Enter to a found HTML page on screen        %s" % fmt(pages))
    if parts:
        print("  a movie's road from Enter (median): page fetched %.0f, movie answered %.0f, "
              "Ruffle's fetch %.0f, first frame %.0f" % tuple(med([p[i] for p in parts]) for i in range(4)))
    print("PSS of the process tree, median of %d (MiB)" % args.memory_runs)
    f = med([m for m, _ in memory["flash"]]) / 1024
    h = med([m for m, _ in memory["html"]]) / 1024
    print("  tutorial address an HTML page   %7.1f  (%d processes)" % (h, memory["html"][0][1]))
    print("  tutorial address a Flash movie  %7.1f  (%d processes)" % (f, memory["flash"][0][1]))
    print("  Ruffle's extra                  %7.1f  (x%.2f)" % (f - h, f / h))
    after = [r["pss_after"][0] / 1024 for r in runs]
    print("  after start movie + 2 pages + 2 movies  %.1f (median)" % med(after))


if __name__ == "__main__":
    main()
