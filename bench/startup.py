#!/usr/bin/env python3
"""The measuring half of bench/startup.sh; runs inside tests/desktop/sandbox.sh.

Start: milliseconds from exec to the main window mapped (startup_maptime), for
telvoro and for the reference program, in alternating order.
Memory: the proportional set size (PSS) of the whole process tree (the program,
its web and network processes and their sandboxes) once the tutorial player
address has been fetched and the page has settled.
"""

import argparse
import os
import re
import signal
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "desktop"))
import desktop  # noqa: E402


def children_of():
    tree = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as f:
                stat = f.read()
        except OSError:
            continue
        parent = int(stat[stat.rindex(")") + 2:].split()[1])
        tree.setdefault(parent, []).append(int(entry))
    return tree


def tree_pss_kib(root):
    """PSS of the process and all its descendants, and how many processes."""
    tree = children_of()
    todo, seen, total = [root], 0, 0
    while todo:
        pid = todo.pop()
        todo += tree.get(pid, [])
        try:
            with open(f"/proc/{pid}/smaps_rollup") as f:
                m = re.search(r"^Pss:\s+(\d+) kB", f.read(), re.M)
        except OSError:
            continue
        if m:
            total += int(m.group(1))
            seen += 1
    return total, seen


def start_time_ms(maptime, prefix, argv, log):
    out = subprocess.run([maptime, prefix, *argv], capture_output=True, text=True, timeout=90,
                         env=dict(os.environ, MAPTIME_LOG=log))
    if out.returncode != 0:
        raise RuntimeError(f"{argv[0]} showed no window named {prefix}: {out.stderr}")
    return float(out.stdout.strip())


def settled_pss(argv, player, path, settle, log):
    before = len(player.seen(path))
    program = subprocess.Popen(argv, stdout=log, stderr=subprocess.STDOUT)
    try:
        desktop.wait_until("the tutorial player address", lambda: len(player.seen(path)) > before, 60)
        time.sleep(settle)
        return tree_pss_kib(program.pid)
    finally:
        # The whole tree goes with the program; give it a moment, then force it.
        program.send_signal(signal.SIGTERM)
        try:
            program.wait(10)
        except subprocess.TimeoutExpired:
            program.kill()
            program.wait()
        time.sleep(1)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--telvoro", required=True)
    parser.add_argument("--reference", required=True)
    parser.add_argument("--maptime", required=True)
    parser.add_argument("--tutorial-path", required=True, help="path of the tutorial player address on the player host")
    parser.add_argument("--swf", help="the movie served at the tutorial address; none: an HTML page")
    parser.add_argument("--runs", type=int, default=10)
    parser.add_argument("--memory-runs", type=int, default=3)
    parser.add_argument("--settle", type=float, default=6.0)
    parser.add_argument("--log", default=os.devnull)
    args = parser.parse_args()

    if args.swf:
        with open(args.swf, "rb") as f:
            tutorial = ("application/x-shockwave-flash", f.read())
    else:
        tutorial = desktop.html("<!doctype html><html><body style='margin:0;background:#203040'></body></html>")
    player = desktop.Server(47801, default=tutorial)
    notice = desktop.Server(47803, {"/notice.html": desktop.html(
        '<h2 class="title content-title">4118</h2><div class="clearfix"> <p>http://127.0.0.1/</p> </div>'
        '<span>浏览1</span>')})
    address = f"http://127.0.0.1:47801{args.tutorial_path}"
    programs = {
        "telvoro": ("Telvoro", [args.telvoro]),
        "reference": ("Reference", [args.reference, address]),
    }
    log = open(args.log, "ab")
    try:
        # One run of each first, not counted: the files come into the page cache.
        for prefix, argv in programs.values():
            start_time_ms(args.maptime, prefix, argv, args.log)
        times = {name: [] for name in programs}
        for i in range(args.runs):
            order = list(programs) if i % 2 == 0 else list(reversed(programs))
            for name in order:
                prefix, argv = programs[name]
                times[name].append(start_time_ms(args.maptime, prefix, argv, args.log))
                time.sleep(0.3)
        memory = {name: [] for name in programs}
        processes = {}
        for i in range(args.memory_runs):
            for name in programs:
                pss, count = settled_pss(programs[name][1], player, args.tutorial_path, args.settle, log)
                memory[name].append(pss)
                processes[name] = count
    finally:
        player.stop()
        notice.stop()

    t, r = statistics.median(times["telvoro"]), statistics.median(times["reference"])
    m, mr = statistics.median(memory["telvoro"]), statistics.median(memory["reference"])
    print(f"tutorial address served as {'a Flash movie' if args.swf else 'an HTML page'}")
    print(f"start to window mapped, median of {args.runs} (ms):")
    print(f"  telvoro    {t:8.1f}   (runs: {', '.join(f'{v:.0f}' for v in times['telvoro'])})")
    print(f"  reference  {r:8.1f}   (runs: {', '.join(f'{v:.0f}' for v in times['reference'])})")
    print(f"  ratio      {t / r:8.2f}")
    print(f"PSS of the process tree with the tutorial address loaded, median of {args.memory_runs} (MiB):")
    print(f"  telvoro    {m / 1024:8.1f}   ({processes['telvoro']} processes)")
    print(f"  reference  {mr / 1024:8.1f}   ({processes['reference']} processes)")
    print(f"  ratio      {m / mr:8.2f}")


if __name__ == "__main__":
    main()
