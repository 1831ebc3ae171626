#!/usr/bin/env python3
"""Compares two folders of frames written by checksum_test (EFFECTS_CHECKSUMS_DUMP),
e.g. one from a native run and one from a run under Wine: for every frame that
differs, how many pixels differ and by how much at most, then the totals.

    tests/checksums/compare_frames.py DIR_A DIR_B
"""
import os
import sys


def main(a_dir, b_dir):
    frames = pixels = differing_frames = differing_pixels = 0
    largest = 0
    for name in sorted(os.listdir(a_dir)):
        other = os.path.join(b_dir, name)
        if not name.endswith(".raw") or not os.path.exists(other):
            continue
        with open(os.path.join(a_dir, name), "rb") as f:
            a = f.read()
        with open(other, "rb") as f:
            b = f.read()
        if len(a) != len(b):
            sys.exit(f"{name}: sizes differ")
        frames += 1
        pixels += len(a) // 4
        bad = [i for i in range(0, len(a), 4) if a[i:i + 4] != b[i:i + 4]]
        if bad:
            delta = max(abs(a[i + k] - b[i + k]) for i in bad for k in range(4))
            largest = max(largest, delta)
            differing_frames += 1
            differing_pixels += len(bad)
            print(f"{name}: {len(bad)} pixels differ, by at most {delta}")
    print(f"{differing_frames} of {frames} frames and {differing_pixels} of {pixels} pixels "
          f"differ, by at most {largest}")


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2])
