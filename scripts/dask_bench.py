#!/usr/bin/env python3
"""Benchmark of the raster fill on a Dask cluster (python3 -m surface_repair.fill).

    dask_bench.py [--cells N] [--voids N] [--workers 1,2] [--block PIXELS]
                  [--batch N] [--dems DIR] [--work DIR] [--no-reference]
                  [--label-only] BUILD_DIR

Makes a raster of about N cells (default 10^8) as a mosaic of mirrored copies
of the Jacksboro fault DEM (the sample_data of Debian's python-matplotlib-data,
344 x 403 cells, 75 x 93 m; mirrored so that the tiles meet without steps),
cuts N voids into it (default one a 100 x 100 cells; elliptic, 1.5 to 8 cells
across each way, a tenth of them with a second void close enough to be repaired
with it) as the nodata value -9999, and fills it with surface_fill (the
reference, unless --no-reference) and on local clusters of each number of
workers given. The files are written and read block by block: the script holds
no whole raster.

For each run: wall time (without starting the cluster), cells and voids a
second, the driver's own work (labelling, copying SRC, writing results) as a
share of the wall time, the peak memory of the driver and of each worker,
the RMSE of the filled cells against the true heights and whether the cells
are those of surface_fill bit for bit. Prints a Markdown table. With
--label-only, the driver's labelling pass alone: its time and peak memory.
"""
import argparse
import json
import math
import os
import resource
import subprocess
import sys
import time

import numpy as np
from osgeo import gdal

gdal.UseExceptions()
gdal.SetCacheMax(64 << 20)  # this script's own reads and writes: no need for more
NODATA = -9999.0
CELL = (75.0, 93.0)
STRIP = 512  # rows a strip when files are written or compared


def peak_memory():
    """The peak resident memory of this process since it started (bytes): the
    high-water mark of its own address space. (getrusage's ru_maxrss would also
    hold what a parent had when it forked and exec'd this process.)"""
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) * 1024
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024


def find_dems(given):
    """The folder of jacksboro_fault_dem.npz: given, the system's, or unpacked from
    Debian's package into /tmp."""
    for folder in (given, "/usr/share/matplotlib/mpl-data/sample_data"):
        if folder and os.path.exists(os.path.join(folder, "jacksboro_fault_dem.npz")):
            return folder
    unpacked = "/tmp/dask_bench_matplotlib_data"
    folder = os.path.join(unpacked, "usr/share/matplotlib/mpl-data/sample_data")
    if not os.path.exists(os.path.join(folder, "jacksboro_fault_dem.npz")):
        os.makedirs(unpacked, exist_ok=True)
        subprocess.run("apt-get download python-matplotlib-data >/dev/null && "
                       "dpkg-deb -x python-matplotlib-data_*.deb .", shell=True, check=True,
                       cwd=unpacked)
    return folder


def mirrored(index, size):
    """Index into a tile of size cells of a mosaic of mirrored tiles."""
    index = index % (2 * size)
    return np.where(index < size, index, 2 * size - 1 - index)


def plan_voids(width, height, voids, seed):
    """Centres and semi-axes of the voids: one in each cell of a jittered grid,
    a tenth of them with a second one beside it. Rows sorted."""
    rng = np.random.default_rng(seed)
    spacing = math.sqrt(width * height / voids)
    rows, columns = int(height // spacing), int(width // spacing)
    found = []
    for i in range(rows):
        for j in range(columns):
            top, left = i * spacing, j * spacing
            r = top + rng.uniform(10, spacing - 20)
            c = left + rng.uniform(10, spacing - 20)
            a, b = rng.uniform(0.75, 4.0, 2)
            found.append((r, c, a, b))
            if rng.random() < 0.1:
                found.append((r + a + 5, c + rng.uniform(-3, 3), *rng.uniform(0.75, 3.0, 2)))
    return np.array(sorted(found))


def make_rasters(work, width, height, voids, dems, seed=7):
    """truth.tif and src.tif (Float32, tiled): the mosaic and the same with voids."""
    dem = np.load(os.path.join(dems, "jacksboro_fault_dem.npz"))["elevation"].astype(np.float32)
    plan = plan_voids(width, height, voids, seed)
    driver = gdal.GetDriverByName("GTiff")
    options = ["TILED=YES", "BIGTIFF=YES"]
    files = [driver.Create(os.path.join(work, name), width, height, 1, gdal.GDT_Float32,
                           options=options) for name in ("truth.tif", "src.tif")]
    for f in files:
        f.SetGeoTransform((500000.0, CELL[0], 0.0, 4100000.0, 0.0, -CELL[1]))
        f.GetRasterBand(1).SetNoDataValue(NODATA)
    columns = mirrored(np.arange(width), dem.shape[1])
    cells = 0
    for top in range(0, height, STRIP):
        rows = min(STRIP, height - top)
        z = dem[np.ix_(mirrored(np.arange(top, top + rows), dem.shape[0]), columns)]
        files[0].GetRasterBand(1).WriteArray(z, 0, top)
        here = plan[(plan[:, 0] >= top - 10) & (plan[:, 0] < top + rows + 10)]
        for r, c, a, b in here:
            r0, r1 = max(int(r - a) - 1, top), min(int(r + a) + 2, top + rows)
            c0, c1 = max(int(c - b) - 1, 0), min(int(c + b) + 2, width)
            if r0 >= r1 or c0 >= c1:
                continue
            rr, cc = np.mgrid[r0:r1, c0:c1]
            inside = ((rr - r) / a) ** 2 + ((cc - c) / b) ** 2 <= 1
            z[r0 - top:r1 - top, c0:c1][inside] = NODATA
        cells += int(np.count_nonzero(z == NODATA))
        files[1].GetRasterBand(1).WriteArray(z, 0, top)
    files = None
    return len(plan), cells


def compare(work, out, reference=None):
    """RMSE of out's void cells against truth.tif, and whether out's cells equal
    reference's bit for bit (None without one)."""
    names = [os.path.join(work, "truth.tif"), os.path.join(work, "src.tif"), out]
    if reference:
        names.append(reference)
    data = [gdal.Open(name) for name in names]
    bands = [d.GetRasterBand(1) for d in data]
    height = data[0].RasterYSize
    total, count, same = 0.0, 0, True
    for top in range(0, height, STRIP):
        rows = min(STRIP, height - top)
        blocks = [b.ReadAsArray(0, top, b.XSize, rows) for b in bands]
        voids = blocks[1] == NODATA
        filled = voids & (blocks[2] != NODATA)
        d = blocks[2][filled].astype(np.float64) - blocks[0][filled]
        total += float(np.dot(d, d))
        count += int(np.count_nonzero(filled))
        if reference:
            same = same and blocks[2].tobytes() == blocks[3].tobytes()
    return math.sqrt(total / max(count, 1)), count, (same if reference else None)


def run_one(args):
    """The child of one run: a local cluster of args.run workers, the fill, and
    the peaks of memory; prints one JSON line."""
    sys.path.insert(0, os.path.join(os.path.abspath(args.build), "python"))
    import surface_repair
    from distributed import Client, LocalCluster
    started = time.perf_counter()
    cluster = LocalCluster(n_workers=args.run, threads_per_worker=1, processes=True,
                           dashboard_address="127.0.0.1:0")
    client = Client(cluster)
    startup = time.perf_counter() - started
    src = os.path.join(args.work, "src.tif")
    out = os.path.join(args.work, "dask-%d.tif" % args.run)
    clock = time.perf_counter()
    result = surface_repair.fill_raster(src, out, client=client, block=args.block,
                                        batch=args.batch)
    wall = time.perf_counter() - clock

    workers = sorted(client.run(peak_memory).values())
    client.close()
    cluster.close()
    print(json.dumps({
        "workers": args.run, "startup": startup, "wall": wall, "voids": result.voids,
        "filled": result.filled, "tasks": result.tasks, "groups": result.groups,
        "seconds": result.seconds, "driver_work": result.driver_seconds,
        "driver_peak": peak_memory(),
        "worker_peaks": workers, "out": out}))


def label_one(args):
    """The child of --label-only: the driver's labelling pass and plan alone;
    prints one JSON line."""
    sys.path.insert(0, os.path.join(os.path.abspath(args.build), "python"))
    from surface_repair import raster_fill
    clock = time.perf_counter()
    data = gdal.Open(os.path.join(args.work, "src.tif"))
    table = raster_fill.label_voids(data.GetRasterBand(1), raster_fill.VoidRules(), 6,
                                    args.block)
    tasks = raster_fill.plan_tasks(table, 6, batch=args.batch)
    print(json.dumps({"seconds": time.perf_counter() - clock, "voids": table.count,
                      "groups": table.groups, "tasks": len(tasks),
                      "peak": peak_memory()}))


def child_peak_run(command):
    """Runs command; returns its wall time and its peak memory (bytes)."""
    clock = time.perf_counter()
    done = subprocess.run(["/usr/bin/time", "-f", "%M"] + command, capture_output=True, text=True)
    if done.returncode != 0:
        sys.exit("%s failed:\n%s" % (command[0], done.stderr))
    return time.perf_counter() - clock, int(done.stderr.strip().splitlines()[-1]) * 1024


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("build")
    parser.add_argument("--cells", type=float, default=1e8)
    parser.add_argument("--voids", type=int, default=0, help="default: cells / 10^4")
    parser.add_argument("--workers", default="1,2")
    parser.add_argument("--block", type=int, default=1024)
    parser.add_argument("--batch", type=int, default=32)
    parser.add_argument("--dems")
    parser.add_argument("--work", default="/tmp/dask_bench")
    parser.add_argument("--no-reference", action="store_true")
    parser.add_argument("--label-only", action="store_true",
                        help="time the driver's labelling pass alone (no fill)")
    parser.add_argument("--run", type=int, help=argparse.SUPPRESS)
    parser.add_argument("--label", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.run:
        return run_one(args)
    if args.label:
        return label_one(args)
    os.makedirs(args.work, exist_ok=True)
    side = int(math.ceil(math.sqrt(args.cells)))
    voids = args.voids or int(args.cells // 10000)
    clock = time.perf_counter()
    voids, void_cells = make_rasters(args.work, side, side, voids, find_dems(args.dems))
    print("Raster: %d x %d = %d cells, %d voids planned, %d void cells; made in %.0f s"
          % (side, side, side * side, voids, void_cells, time.perf_counter() - clock),
          flush=True)
    src = os.path.join(args.work, "src.tif")
    if args.label_only:
        done = subprocess.run([sys.executable, os.path.abspath(__file__), args.build, "--label",
                               "--work", args.work, "--block", str(args.block), "--batch",
                               str(args.batch)], capture_output=True, text=True, check=True)
        run = json.loads(done.stdout.splitlines()[-1])
        print("Labelling pass: %.1f s (%.3g cells/s), %d voids in %d groups, %d tasks, "
              "peak %.0f MB" % (run["seconds"], side * side / run["seconds"], run["voids"],
                                run["groups"], run["tasks"], run["peak"] / 2 ** 20))
        return
    reference = None
    rows = []
    if not args.no_reference:
        reference = os.path.join(args.work, "surface_fill.tif")
        wall, peak = child_peak_run([os.path.join(args.build, "fill", "surface_fill"), "-q",
                                     src, reference])
        rmse, filled, _ = compare(args.work, reference)
        rows.append("| surface_fill (threads: %d) | %.1f | | %.3g | %.1f | | %.0f | | %.4f | |"
                    % (os.cpu_count(), wall, side * side / wall, voids / wall, peak / 2 ** 20,
                       rmse))
        print("surface_fill: %.1f s, peak %.0f MB, RMSE %.4f over %d cells"
              % (wall, peak / 2 ** 20, rmse, filled), flush=True)
    base = None
    for n in [int(w) for w in args.workers.split(",")]:
        done = subprocess.run([sys.executable, os.path.abspath(__file__), args.build, "--run",
                               str(n), "--work", args.work, "--block", str(args.block),
                               "--batch", str(args.batch)], capture_output=True, text=True)
        lines = [line for line in done.stdout.splitlines() if line.startswith("{")]
        if done.returncode != 0 or not lines:
            sys.exit("The run on %d workers failed:\n%s" % (n, done.stderr[-3000:]))
        run = json.loads(lines[-1])
        rmse, filled, same = compare(args.work, run["out"], reference)
        if n == 1:
            base = run["wall"]
        print(json.dumps(run), flush=True)
        fields = (n, "s" if n > 1 else "", run["wall"],
                  base / run["wall"] if base else float("nan"), side * side / run["wall"],
                  run["voids"] / run["wall"], 100 * run["driver_work"] / run["wall"],
                  run["driver_peak"] / 2 ** 20,
                  ", ".join("%.0f" % (p / 2 ** 20) for p in run["worker_peaks"]), rmse,
                  {None: "-", True: "yes", False: "NO"}[same])
        rows.append("| %d worker%s | %.1f | %.2f | %.3g | %.1f | %.0f %% | %.0f | %s | %.4f | %s |"
                    % fields)
    print()
    print("| run | wall s | speed-up | cells/s | voids/s | driver work | driver peak MB "
          "| worker peaks MB | RMSE m | same cells as surface_fill |")
    print("|---|---|---|---|---|---|---|---|---|---|")
    print("\n".join(rows))
    load = os.getloadavg()
    print("\nLoad average at the end: %.1f %.1f %.1f (%d cores)" % (*load, os.cpu_count()))


if __name__ == "__main__":
    main()
