#!/usr/bin/env python3
"""Writes the two fixed frames the benchmarks decode: frames/small.txt (one
"6df2 " Skywand, two bodies, three markers) and frames/large.txt (20 bodies,
4 Skywands, 150 markers). The values come from a fixed pseudo-random
sequence, so running this again gives the same bytes."""

import math
import os

state = 12345


def rand():
    # A small linear congruential sequence: the same numbers on every system.
    global state
    state = (state * 6364136223846793005 + 1442695040888963407) % (1 << 64)
    return (state >> 11) / float(1 << 53)


def location():
    return "[%.3f %.3f %.3f]" % (rand() * 2000 - 1000, rand() * 2000, rand() * 1000 - 500)


def rotation():
    a = rand() * 2 * math.pi
    c, s = math.cos(a), math.sin(a)
    return "[" + " ".join("%.6f" % v for v in (c, -s, 0.0, s, c, 0.0, 0.0, 0.0, 1.0)) + "]"


def quality():
    return "%.3f" % (0.5 + rand() / 2)


def frame(bodies, skywands, markers, number):
    lines = ["fr %d" % number, "ts %.3f" % (1234.5 + number / 1000.0), "6dcal %d" % bodies]
    body = ["6d %d" % bodies]
    for b in range(bodies):
        body.append("[%d %s]%s%s" % (b, quality(), location(), rotation()))
    lines.append(" ".join(body))
    wand = ["6df2 %d %d" % (skywands, skywands)]
    for s in range(skywands):
        x, y = rand() * 2 - 1, rand() * 2 - 1
        wand.append("[%d %s 6 2]%s%s[%d %.3f %.3f]" % (s, quality(), location(), rotation(),
                                                       1 << (s % 6), x, y))
    lines.append(" ".join(wand))
    marker = ["3d %d" % markers]
    for m in range(markers):
        marker.append("[%d %s]%s" % (100 + m, quality(), location()))
    lines.append(" ".join(marker))
    return "\n".join(lines) + "\n"


here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "frames")
os.makedirs(here, exist_ok=True)
with open(os.path.join(here, "small.txt"), "w", newline="\n") as f:
    f.write(frame(2, 1, 3, 1001))
with open(os.path.join(here, "large.txt"), "w", newline="\n") as f:
    f.write(frame(20, 4, 150, 1002))
