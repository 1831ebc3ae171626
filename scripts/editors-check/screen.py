"""What a screenshot shows, for scripts/editors-check.sh: runs of colour
along a line of pixels, where two screenshots differ, and where a colour
is. Reads the pixels through ImageMagick's convert.

  screen.py runs IMG col X Y0 Y1     one line per run: start length #rrggbb
  screen.py runs IMG row Y X0 X1
  screen.py diff A B col X Y0 Y1     first and last row where A and B differ
  screen.py red IMG X0 Y0 X1 Y1      the rightmost strongly red pixel: x y
  screen.py marks IMG red|purple col|row FIXED START END
                                     where that colour is along the line:
                                     start length, a line a mark
  screen.py count IMG red|purple col|row FIXED START END
                                     how many marks, gaps of up to 5 pixels
                                     (a letter drawn in it) not counted
"""
import subprocess
import sys


def pixels(img, x, y, w, h):
    raw = subprocess.run(["convert", img, "-crop", f"{w}x{h}+{x}+{y}", "+repage",
                          "-depth", "8", "rgb:-"], capture_output=True, check=True).stdout
    return [tuple(raw[i:i + 3]) for i in range(0, len(raw), 3)]


def line(img, axis, fixed, start, end):
    if axis == "col":
        return pixels(img, fixed, start, 1, end - start)
    return pixels(img, start, fixed, end - start, 1)


def runs(values, start):
    out, first = [], 0
    for i in range(1, len(values) + 1):
        if i == len(values) or values[i] != values[first]:
            out.append((start + first, i - first, values[first]))
            first = i
    return out


PREDICATES = {
    "red": lambda p: p[0] > 200 and p[1] < 90 and p[2] < 90,
    "purple": lambda p: p[0] > 100 and p[2] > 150 and p[1] < 110,
}


def main(argv):
    cmd = argv[0]
    if cmd == "runs":
        img, axis, fixed, start, end = argv[1], argv[2], *map(int, argv[3:6])
        for pos, length, (r, g, b) in runs(line(img, axis, fixed, start, end), start):
            print(f"{pos} {length} #{r:02x}{g:02x}{b:02x}")
    elif cmd == "diff":
        a, b, axis, fixed, start, end = argv[1], argv[2], argv[3], *map(int, argv[4:7])
        changed = [start + i for i, (p, q) in
                   enumerate(zip(line(a, axis, fixed, start, end),
                                 line(b, axis, fixed, start, end))) if p != q]
        if changed:
            print(changed[0], changed[-1])
    elif cmd == "red":
        img, x0, y0, x1, y1 = argv[1], *map(int, argv[2:6])
        px = pixels(img, x0, y0, x1 - x0, y1 - y0)
        w = x1 - x0
        hits = [(i % w + x0, i // w + y0) for i, p in enumerate(px) if PREDICATES["red"](p)]
        if hits:
            right = max(x for x, _ in hits)
            ys = [y for x, y in hits if x >= right - 8]
            print(right, (min(ys) + max(ys)) // 2)
    elif cmd == "count":
        img, name, axis, fixed, start, end = argv[1], argv[2], argv[3], *map(int, argv[4:7])
        marks, gap = 0, None
        for p in line(img, axis, fixed, start, end):
            if PREDICATES[name](p):
                if gap is None or gap > 5:
                    marks += 1
                gap = 0
            elif gap is not None:
                gap += 1
        print(marks)
    elif cmd == "marks":
        img, name, axis, fixed, start, end = argv[1], argv[2], argv[3], *map(int, argv[4:7])
        hits = [PREDICATES[name](p) for p in line(img, axis, fixed, start, end)]
        for pos, length, hit in runs(hits, start):
            if hit:
                print(pos, length)
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv[1:])
