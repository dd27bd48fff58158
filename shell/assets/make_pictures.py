#!/usr/bin/env python3
"""Makes the two pictures of the tutorial window and the program's icon.

  tests/desktop/sandbox.sh --online -- python3 shell/assets/make_pictures.py BUILD/shell/telvoro [OUT_DIR]

Step one (424 by 175; the window shows the top 120 rows): a web browser's
address bar holding a video page address of the third site, selected, its
context menu with the copy command ringed in red, a red arrow and the red
caption "第一步：复制视频网页地址".

Step two (431 by 236; the window shows the left 430 columns and the top 145
rows): the top of our own player window, taken from a screenshot of the running
program with its address box empty, under a title bar; the address box's
context menu with the paste command ringed in red, an arrow to the box and the
red caption "第二步：粘贴刚才复制的视频网页地址".

The icon: a play sign on a blue rounded square (telvoro.png, 256 by 256; the
same drawing as telvoro.svg).

Everything is drawn with ImageMagick in fonts of Debian's fonts-wqy-zenhei and
fonts-dejavu-core; the output carries no time stamps, so the same program and
fonts give the same files.
"""

import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "desktop"))
import desktop  # noqa: E402

CJK = "/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc"
LATIN = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"
LATIN_BOLD = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"
RED = "#e00000"
# No time stamps or other changing chunks: the same drawing gives the same bytes.
PNG_OUT = ["-depth", "8", "-strip", "-define", "png:exclude-chunks=date,time,tIME"]


def convert(*args):
    subprocess.run(["convert", *args], check=True)


def text(x, y, words, font=CJK, size=12, colour="black", weight=None):
    """Draw arguments for one line of text with its baseline at y."""
    args = ["-font", font, "-pointsize", str(size), "-fill", colour, "-stroke", "none"]
    if weight:
        args += ["-stroke", colour, "-strokewidth", str(weight)]
    return args + ["-annotate", f"+{x}+{y}", words]


def menu(x, y, items, highlight=None, width=110, item_height=18):
    """A context menu: a light panel with a border and a shadow; items, None for a separator."""
    height = sum(6 if i is None else item_height for i in items) + 4
    args = ["-fill", "#00000040", "-stroke", "none", "-draw", f"rectangle {x + 3},{y + 3} {x + width + 3},{y + height + 3}",
            "-fill", "#f6f5f4", "-stroke", "#b8b4b0", "-strokewidth", "1",
            "-draw", f"rectangle {x},{y} {x + width},{y + height}"]
    at = y + 2
    rows = {}
    for item in items:
        if item is None:
            args += ["-stroke", "#d8d4d0", "-draw", f"line {x + 4},{at + 3} {x + width - 4},{at + 3}"]
            at += 6
            continue
        label, shortcut = item
        if item == highlight:
            args += ["-fill", "#3584e4", "-stroke", "none",
                     "-draw", f"rectangle {x + 2},{at} {x + width - 2},{at + item_height - 1}"]
        colour = "white" if item == highlight else "black"
        args += text(x + 12, at + 13, label, size=12, colour=colour)
        args += text(x + width - 44, at + 13, shortcut, font=LATIN, size=10, colour="white" if item == highlight else "#606060")
        rows[label] = (at, at + item_height)
        at += item_height
    return args, rows


def ring(cx, cy, rx, ry):
    return ["-fill", "none", "-stroke", RED, "-strokewidth", "2", "-draw", f"ellipse {cx},{cy} {rx},{ry} 0,360"]


def arrow(x1, y1, x2, y2, head=9):
    """A red arrow from (x1, y1) to the tip (x2, y2)."""
    import math
    angle = math.atan2(y2 - y1, x2 - x1)
    left = (x2 - head * math.cos(angle - 0.45), y2 - head * math.sin(angle - 0.45))
    right = (x2 - head * math.cos(angle + 0.45), y2 - head * math.sin(angle + 0.45))
    base = (x2 - head * 0.8 * math.cos(angle), y2 - head * 0.8 * math.sin(angle))
    return ["-fill", "none", "-stroke", RED, "-strokewidth", "3",
            "-draw", f"line {x1},{y1} {base[0]:.1f},{base[1]:.1f}",
            "-fill", RED, "-stroke", RED, "-strokewidth", "1",
            "-draw", f"polygon {x2},{y2} {left[0]:.1f},{left[1]:.1f} {right[0]:.1f},{right[1]:.1f}"]


EDIT_MENU = [("撤销(U)", "Ctrl+Z"), None, ("剪切(T)", "Ctrl+X"), ("复制(C)", "Ctrl+C"), ("粘贴(P)", "Ctrl+V"),
             ("删除(D)", "Del"), None, ("全选(A)", "Ctrl+A")]


def step_one(path):
    address = "http://www.letv.com/ptv/vplay/24185698.html"
    args = ["-size", "424x175", "xc:white",
            # The browser's tool bar with back, forward and reload, and the address field.
            "-fill", "#dee1e6", "-stroke", "none", "-draw", "rectangle 0,0 423,40",
            "-stroke", "#c4c7cc", "-draw", "line 0,40 423,40"]
    args += text(8, 27, "←", font=LATIN, size=16, colour="#5f6368")
    args += text(30, 27, "→", font=LATIN, size=16, colour="#a0a4a8")
    args += text(52, 27, "↻", font=LATIN, size=16, colour="#5f6368")
    args += ["-fill", "white", "-stroke", "#3584e4", "-strokewidth", "2",
             "-draw", "roundrectangle 74,8 418,32 12,12",
             # The whole address selected.
             "-fill", "#3584e4", "-stroke", "none", "-draw", "rectangle 86,12 374,28"]
    args += text(88, 25, address, font=LATIN, size=11, colour="white")
    # The page below: a video site's page, just hinted.
    args += ["-fill", "#f1f1f1", "-stroke", "none", "-draw", "rectangle 0,41 423,174",
             "-fill", "#cfd3d8", "-draw", "rectangle 12,52 146,130", "-fill", "#e0e3e6",
             "-draw", "rectangle 12,138 146,146", "-draw", "rectangle 12,152 120,160"]
    # The menu is cut where the window stops showing the picture, between two items.
    items, rows = menu(150, 40, EDIT_MENU, highlight=("复制(C)", "Ctrl+C"))
    args += items
    top, bottom = rows["复制(C)"]
    args += ring(205, (top + bottom) // 2, 64, 13)
    args += arrow(318, 70, 272, (top + bottom) // 2 - 2)
    args += ["-fill", "white", "-stroke", "none", "-draw", "roundrectangle 290,44 420,112 6,6"]
    args += text(300, 66, "第一步：", size=16, colour=RED, weight=0.6)
    args += text(300, 90, "复制视频网页地址", size=15, colour=RED, weight=0.6)
    convert(*args, *PNG_OUT, path)


def step_two(path, program):
    with tempfile.TemporaryDirectory() as work:
        # Whatever the tutorial player address, a plain white page.
        player = desktop.Server(47801, default=desktop.html(
            "<!doctype html><html><body style='margin:0;background:white'></body></html>"))
        notice = desktop.Server(47803, {"/notice.html": desktop.html(
            '<h2 class="title content-title">4118</h2><span>浏览1</span>')})
        run = desktop.Program([program], os.path.join(work, "telvoro.log"))
        try:
            main = desktop.window_named("^Telvoro")
            desktop.wait_until("the start-up sequence",
                               lambda: desktop.window_name(main).startswith("Telvoro 使用人数"), 20)
            desktop.wait_until("the player", lambda: player.requests, 20)
            time.sleep(1.0)
            # Away from the box, so that it is drawn without the focus ring and caret.
            desktop.click_client(main, 300, 200)
            time.sleep(0.5)
            client = desktop.screenshot(os.path.join(work, "client.png"), main, frame=False)
        finally:
            run.stop()
            player.stop()
            notice.stop()
        bar = os.path.join(work, "bar.png")
        convert(client, "-crop", "431x45+0+0", "+repage", bar)

        args = ["-size", "431x236", "xc:white",
                # A title bar as a desktop draws one: dark, the caption in white.
                "(", "-size", "431x24", "gradient:#3a6ab8-#1b3f80", ")", "-geometry", "+0+0", "-composite",
                "-fill", "#f0c040", "-stroke", "#805010", "-strokewidth", "1", "-draw", "roundrectangle 5,5 19,18 3,3",
                "-fill", "#805010", "-stroke", "none", "-draw", "polygon 10,8 10,15 16,11.5"]
        args += text(26, 17, "Telvoro", font=LATIN_BOLD, size=11, colour="white")
        args += [bar, "-geometry", "+0+24", "-composite",
                 # Below the bar, the player.
                 "-fill", "#f6f6f6", "-stroke", "none", "-draw", "rectangle 0,69 430,235",
                 "-stroke", "#d0d0d0", "-draw", "line 0,69 430,69"]
        # Cut where the window stops showing the picture, right below the paste command.
        items, rows = menu(96, 65, EDIT_MENU, highlight=("粘贴(P)", "Ctrl+V"))
        args += items
        top, bottom = rows["粘贴(P)"]
        args += ring(151, (top + bottom) // 2, 64, 12)
        args += arrow(217, (top + bottom) // 2 - 6, 238, 62)
        args += text(248, 98, "第二步：", size=15, colour=RED, weight=0.6)
        args += text(248, 119, "粘贴刚才复制的", size=14, colour=RED, weight=0.6)
        args += text(248, 138, "视频网页地址", size=14, colour=RED, weight=0.6)
        convert(*args, *PNG_OUT, path)


def icon(path):
    # The drawing of telvoro.svg: a blue rounded square, a white play sign.
    convert("-size", "256x256", "xc:none",
            "-fill", "#1f5fbf", "-stroke", "none", "-draw", "roundrectangle 8,8 247,247 48,48",
            "-fill", "#3a7de0", "-draw", "roundrectangle 8,8 247,128 48,48",
            "-fill", "#1f5fbf", "-draw", "rectangle 8,100 247,140",
            "-fill", "white", "-draw", "polygon 96,64 96,192 200,128",
            *PNG_OUT, path)


def main():
    program = sys.argv[1]
    out = sys.argv[2] if len(sys.argv) > 2 else HERE
    step_one(os.path.join(out, "tutorial-step1.png"))
    step_two(os.path.join(out, "tutorial-step2.png"), program)
    icon(os.path.join(out, "telvoro.png"))


if __name__ == "__main__":
    main()
