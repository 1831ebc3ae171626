#!/usr/bin/env python3
"""scripts/editors-check/screen.py on pictures drawn here, whose every
boundary is known: a run one pixel too long or short, a difference found a
row off, a colour threshold moved by one, or a gap merged that should not
be, moves a click of scripts/editors-check.sh onto the wrong control.
Needs ImageMagick's convert (exit 77: skipped without it)."""
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
SCREEN = os.path.join(HERE, "..", "..", "scripts", "editors-check", "screen.py")
failures = 0


def draw(path, size, background, *shapes):
    """A PNG of SIZE (w, h): each shape is (colour, x0, y0, x1, y1), inclusive."""
    args = ["convert", "-size", f"{size[0]}x{size[1]}", f"xc:{background}"]
    for colour, x0, y0, x1, y1 in shapes:
        args += ["-fill", colour, "-draw", f"rectangle {x0},{y0} {x1},{y1}"]
    subprocess.run(args + [f"PNG24:{path}"], check=True)


def screen(*args):
    return subprocess.run([sys.executable, SCREEN, *map(str, args)], capture_output=True,
                          text=True, check=True).stdout.split("\n")[:-1]


def expect(what, got, wanted):
    global failures
    if got != wanted:
        print(f"FAIL {what}: {got}, not {wanted}")
        failures += 1


def main():
    if not shutil.which("convert"):
        print("no convert (ImageMagick): skipped")
        return 77
    d = tempfile.mkdtemp()
    try:
        # A panel with a button rows 10..30 and a highlighted row 45..58.
        panel = os.path.join(d, "panel.png")
        draw(panel, (60, 80), "#323232", ("#175c76", 5, 10, 54, 30), ("#282828", 5, 31, 54, 44),
             ("#175c76", 5, 45, 54, 58))
        expect("a column's runs", screen("runs", panel, "col", 20, 0, 80),
               ["0 10 #323232", "10 21 #175c76", "31 14 #282828", "45 14 #175c76",
                "59 21 #323232"])
        expect("a column's runs from inside one", screen("runs", panel, "col", 20, 12, 50),
               ["12 19 #175c76", "31 14 #282828", "45 5 #175c76"])
        expect("a row's runs", screen("runs", panel, "row", 20, 0, 60),
               ["0 5 #323232", "5 50 #175c76", "55 5 #323232"])

        # A popup drawn over rows 17..33 of column 20 only.
        popup = os.path.join(d, "popup.png")
        draw(popup, (60, 80), "#323232", ("#175c76", 5, 10, 54, 30), ("#282828", 5, 31, 54, 44),
             ("#175c76", 5, 45, 54, 58), ("#242424", 20, 17, 20, 33))
        expect("where two pictures differ", screen("diff", panel, popup, "col", 20, 0, 80),
               ["17 33"])
        expect("beside the difference", screen("diff", panel, popup, "col", 21, 0, 80), [])

        # Red at the thresholds: only r > 200, g < 90, b < 90 counts; the
        # rightmost red's row is the middle of those within 8 pixels of it.
        red = os.path.join(d, "red.png")
        draw(red, (80, 40), "#202326", ("#e80002", 30, 5, 31, 6), ("#e80002", 40, 10, 41, 11),
             ("#c95959", 48, 20, 48, 22), ("#c85959", 60, 5, 60, 5), ("#c9595a", 70, 5, 70, 5),
             ("#ff5a00", 75, 5, 75, 5), ("#c9595a", 49, 20, 49, 22))
        expect("the rightmost red", screen("red", red, 0, 0, 80, 40), ["48 16"])
        expect("red within a region", screen("red", red, 0, 0, 45, 40), ["41 10"])
        expect("no red", screen("red", red, 50, 0, 80, 40), [])

        # Marks of purple down a column: 5..9, a gap of 5, 15..19, a gap of
        # 6, 26..27; one pixel of a colour just outside the predicate.
        marks = os.path.join(d, "marks.png")
        draw(marks, (10, 40), "#141618", ("#ad28d2", 3, 5, 3, 9), ("#ad28d2", 3, 15, 3, 19),
             ("#ad28d2", 3, 26, 3, 27), ("#ad6ed2", 3, 33, 3, 33))
        expect("purple marks", screen("marks", marks, "purple", "col", 3, 0, 40),
               ["5 5", "15 5", "26 2"])
        expect("purple marks counted, short gaps bridged",
               screen("count", marks, "purple", "col", 3, 0, 40), ["2"])
        expect("red marks along a row", screen("marks", red, "red", "row", 10, 0, 80),
               ["40 2"])
    finally:
        shutil.rmtree(d)
    print(f"{13 - failures} passed, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
