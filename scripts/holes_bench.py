#!/usr/bin/env python3
"""Times surface_holes on a generated n x n height field with voids.

    holes_bench.py SURFACE_HOLES [--size N] [--runs K] [--ascii]

The model (binary VTK legacy, or ASCII with --ascii) has a round void of NaN
heights in its middle and a few small ones, roughly 3% of the vertices. The
program runs K times with --nan --model-out; the median wall time is printed.
"""
import argparse
import array
import math
import os
import statistics
import subprocess
import sys
import tempfile
import time


def height(i, j):
    return 100.0 + 10.0 * math.sin(i * 0.01) + 5.0 * math.cos(j * 0.013) + 0.001 * i * j


def is_void(i, j, n):
    c = n / 2.0
    if (i - c) ** 2 + (j - c) ** 2 < (0.08 * n) ** 2:
        return True
    return (i % 97 < 3) and (j % 89 < 3)


def write_model(path, n, ascii):
    z = [float('nan') if is_void(i, j, n) else height(i, j) for j in range(n) for i in range(n)]
    cells = 2 * (n - 1) * (n - 1)
    with open(path, 'wb') as out:
        out.write(b"# vtk DataFile Version 4.2\nbenchmark height field\n")
        out.write(b"ASCII\n" if ascii else b"BINARY\n")
        out.write(b"DATASET POLYDATA\nPOINTS %d float\n" % (n * n))
        if ascii:
            lines = []
            for k, h in enumerate(z):
                lines.append("%d %d %s" % (k % n, k // n, "nan" if h != h else "%.6g" % h))
            out.write(("\n".join(lines) + "\n").encode())
        else:
            pts = array.array('f')
            for k, h in enumerate(z):
                pts.extend((k % n, k // n, h))
            if sys.byteorder == 'little':
                pts.byteswap()
            out.write(pts.tobytes())
            out.write(b"\n")
        out.write(b"POLYGONS %d %d\n" % (cells, 4 * cells))
        ids = array.array('i')
        text = []
        for j in range(n - 1):
            for i in range(n - 1):
                a = j * n + i
                b, c = a + 1, a + n
                d = c + 1
                if ascii:
                    text.append("3 %d %d %d\n3 %d %d %d" % (a, b, d, a, d, c))
                else:
                    ids.extend((3, a, b, d, 3, a, d, c))
        if ascii:
            out.write(("\n".join(text) + "\n").encode())
        else:
            if sys.byteorder == 'little':
                ids.byteswap()
            out.write(ids.tobytes())
            out.write(b"\n")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("program")
    parser.add_argument("--size", type=int, default=1000)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--ascii", action="store_true")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as work:
        model = os.path.join(work, "model.vtk")
        write_model(model, args.size, args.ascii)
        times = []
        for _ in range(args.runs):
            start = time.perf_counter()
            done = subprocess.run([args.program, "--nan", "--model-out", "voids.vtk", model],
                                  cwd=work, capture_output=True, text=True)
            times.append(time.perf_counter() - start)
            if done.returncode != 0:
                sys.exit("surface_holes failed: " + done.stderr)
        summary = done.stdout.splitlines()
        print("model: %d vertices (%s), %s" % (args.size ** 2, "ASCII" if args.ascii else "binary",
                                                 [l for l in summary if l.startswith("Inside")][0]))
        print("surface_holes --nan --model-out: median %.3f s over %d runs (min %.3f, max %.3f)"
              % (statistics.median(times), len(times), min(times), max(times)))
        print("load average: %s" % " ".join("%.2f" % v for v in os.getloadavg()))


if __name__ == "__main__":
    main()
