#!/usr/bin/env python3
"""End-to-end check of filling a void: the bundled sample's damaged region
cut out of its true surface and filled again.

    voids_check.py BUILD_DIR SAMPLE_DIR [DEM_DIR [R ...]]

Three models are made from the sample: the true surface (the damaged
heights replaced by truth.txt), the same with the region's heights as the
ASCII word nan, and the same with them as -9999. surface_holes finds the hole
(--nan; --nodata -9999 --model-out for the second), and surface_repair fills
it at each R given (default: a scan) and with auto when the program has it;
for comparison also the model whose -9999 heights reach surface_repair.
The true surface, with the same lists, is filled at the same radii as the
reference. Prints the RMSE against the true heights for each. With DEM_DIR
(the sample_data of Debian's python-matplotlib-data) the same for a void cut
into a crop of each of its two elevation models.
"""
import ast
import math
import os
import struct
import subprocess
import sys
import tempfile
import zipfile


def read_points(path):
    """The points of a VTK legacy polydata file, ASCII or binary."""
    with open(path, 'rb') as f:
        data = f.read()
    lines = data.split(b"\n", 4)
    binary = lines[2].strip().upper() == b"BINARY"
    at = data.index(b"POINTS")
    end = data.index(b"\n", at)
    _, count, kind = data[at:end].split()
    count = int(count)
    if binary:
        fmt, size = (">%dd", 8) if kind == b"double" else (">%df", 4)
        values = struct.unpack(fmt % (3 * count), data[end + 1:end + 1 + 3 * count * size])
    else:
        words = data[end + 1:].split(None, 3 * count)[:3 * count]
        values = [float(w) for w in words]
    return [values[3 * k:3 * k + 3] for k in range(count)]


def write_ascii_model(source, path, heights):
    """source (ASCII) with the heights of some points replaced by words."""
    out = []
    with open(source) as f:
        lines = f.read().split("\n")
    start = next(k for k, l in enumerate(lines) if l.startswith("POINTS")) + 1
    for k, line in enumerate(lines):
        point = k - start
        if point in heights:
            x, y, _ = line.split()
            line = "%s %s %s" % (x, y, heights[point])
        out.append(line)
    with open(path, "w") as f:
        f.write("\n".join(out))


def run(args, cwd):
    done = subprocess.run(args, cwd=cwd, capture_output=True, text=True,
                          env={k: v for k, v in os.environ.items() if k != "DISPLAY"})
    return done


def rmse(result, truth):
    points = read_points(result)
    errors = [(points[i][2] - z) ** 2 for i, z in truth.items()]
    return math.sqrt(sum(errors) / len(errors))


def load_npy(data):
    """An array of a .npy file as (shape, flat list), little-endian ints or floats."""
    major = data[6]
    size = int.from_bytes(data[8:10] if major == 1 else data[8:12], "little")
    at = 10 if major == 1 else 12
    header = ast.literal_eval(data[at:at + size].decode())
    shape = header["shape"]
    count = 1
    for n in shape:
        count *= n
    code = {"<i2": "h", "<f4": "f", "<f8": "d"}[header["descr"]]
    values = struct.unpack("<%d%s" % (count, code), data[at + size:at + size + count * struct.calcsize(code)])
    return shape, list(values)


def dem_case(work, name, npz, array, rows, cols, spacing, void):
    """A crop of a DEM as an ASCII model with its true heights, and the ids
    of the vertices inside the void: void(i, j) for column i and row j."""
    grid = zipfile.ZipFile(npz)
    shape, values = load_npy(grid.read(array + ".npy"))
    r0, r1 = rows
    c0, c1 = cols
    nx, ny = c1 - c0, r1 - r0
    lines = ["# vtk DataFile Version 3.0", name, "ASCII", "DATASET POLYDATA",
             "POINTS %d float" % (nx * ny)]
    truth = {}
    for j in range(ny):
        for i in range(nx):
            z = float(values[(r0 + j) * shape[1] + c0 + i])
            lines.append("%g %g %g" % (i * spacing[0], j * spacing[1], z))
            if void(i, j):
                truth[j * nx + i] = z
    cells = 2 * (nx - 1) * (ny - 1)
    lines.append("POLYGONS %d %d" % (cells, 4 * cells))
    for j in range(ny - 1):
        for i in range(nx - 1):
            a = j * nx + i
            lines.append("3 %d %d %d" % (a, a + 1, a + nx + 1))
            lines.append("3 %d %d %d" % (a, a + nx + 1, a + nx))
    path = os.path.join(work, name + ".vtk")
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")
    return path, truth


def check_case(title, work, model, truth, holes, repair, radii):
    """Cuts the void into model (the true surface) as nan and as -9999, finds
    and fills it, and prints the RMSE table."""
    print("== " + title)
    write_ascii_model(model, os.path.join(work, "true.vtk"),
                      {i: "%g" % z for i, z in truth.items()})
    write_ascii_model(model, os.path.join(work, "nan.vtk"), {i: "nan" for i in truth})
    write_ascii_model(model, os.path.join(work, "nodata.vtk"), {i: "-9999" for i in truth})
    for args in (["--nan", "nan.vtk"],
                 ["--nodata", "-9999", "--model-out", "nodata_void.vtk", "--out-inside",
                  "in2.pts", "--out-outside", "out2.pts", "nodata.vtk"]):
        done = run([holes] + args, work)
        if done.returncode != 0:
            sys.exit(done.stderr)
        print("$ surface_holes " + " ".join(args))
        print(done.stdout, end="")
    for a, b in (("inside.pts", "in2.pts"), ("outside.pts", "out2.pts")):
        if open(os.path.join(work, a)).read() != open(os.path.join(work, b)).read():
            sys.exit("the two ways of finding the hole gave different lists")
    cases = (("true surface", "true.vtk"), ("nan void", "nan.vtk"),
             ("-9999 void, --model-out", "nodata_void.vtk"),
             ("-9999 left as a height", "nodata.vtk"))
    table = {}
    for name, path in cases:
        for r in radii + ["auto"]:
            done = run([repair, path, "inside.pts", "outside.pts", str(r)], work)
            if done.returncode != 0:
                table[(name, r)] = None
                continue
            chosen = [l for l in done.stdout.splitlines() if l.startswith("Chosen radius")]
            value = rmse(os.path.join(work, "reconstucted_shape.vtk"), truth)
            table[(name, r)] = (value, chosen[0].split(": ")[1] if chosen else "")
    print("\nRMSE against the true heights (m), %d inside vertices" % len(truth))
    print("%-8s" % "R" + "".join("%26s" % name for name, _ in cases))
    for r in radii + ["auto"]:
        row = "%-8s" % r
        for name, _ in cases:
            cell = table[(name, r)]
            if cell is None:
                row += "%26s" % "refused"
            else:
                row += "%26s" % ("%.2f%s" % (cell[0], " (R %s)" % cell[1] if cell[1] else ""))
        print(row)
    best = min((table[(cases[0][0], r)][0], r) for r in radii if table[(cases[0][0], r)])
    print("best scanned R on the true surface: %s, RMSE %.2f m" % (best[1], best[0]))
    for name, _ in cases[1:]:
        cell = table[(name, best[1])]
        if cell:
            print("%s at that R: RMSE %.2f m, %.3f of the reference" % (name, cell[0], cell[0] / best[0]))
        cell = table[(name, "auto")]
        if cell:
            print("%s with auto: RMSE %.2f m, %.3f of the reference" % (name, cell[0], cell[0] / best[0]))


def main():
    build, sample = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    dems = sys.argv[3] if len(sys.argv) > 3 else ""
    radii = [float(r) for r in sys.argv[4:]] or [0.1, 0.12, 0.15, 0.2, 0.25, 0.3, 0.4, 0.5]
    holes = os.path.join(build, "holes", "surface_holes")
    repair = os.path.join(build, "app", "surface_repair")
    truth = {}
    with open(os.path.join(sample, "truth.txt")) as f:
        for line in f:
            i, z = line.split()
            truth[int(i)] = float(z)
    with tempfile.TemporaryDirectory() as work:
        check_case("bundled sample: its damaged region (638 vertices) cut out of the true surface",
                   work, os.path.join(sample, "model.vtk"), truth, holes, repair, radii)
    if not dems:
        return
    cases = [
        ("jacksboro_fault_dem.npz rows 40-139, columns 20-119, 75 x 93 m: an ellipse 24 x 14 cells",
         "jacksboro_fault_dem.npz", "elevation", (40, 140), (20, 120), (75.0, 93.0),
         lambda i, j: ((i - 55) / 12.0) ** 2 + ((j - 45) / 7.0) ** 2 < 1.0),
        ("topobathy.npz, all 91 x 120 cells: a disc of radius 7 cells",
         "topobathy.npz", "topo", (0, 91), (0, 120), (1.0, 1.0),
         lambda i, j: (i - 70) ** 2 + (j - 40) ** 2 < 49),
        ("topobathy.npz: a disc of radius 6 cells around the highest point, so that the void "
         "holds the model's maximum and the frame differs from the true surface's",
         "topobathy.npz", "topo", (0, 91), (0, 120), (1.0, 1.0),
         lambda i, j: (i - 90) ** 2 + (j - 83) ** 2 < 36),
    ]
    for title, npz, array, rows, cols, spacing, void in cases:
        with tempfile.TemporaryDirectory() as work:
            model, truth = dem_case(work, "dem", os.path.join(dems, npz), array, rows, cols,
                                    spacing, void)
            print()
            check_case(title, work, model, truth, holes, repair, radii)


if __name__ == "__main__":
    main()
