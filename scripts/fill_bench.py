#!/usr/bin/python3
"""Void filling on large mosaics of real elevation models: surface_fill against the two-command
path, GDAL's FillNodata and GRASS's r.fillnulls, on the same voids, with the true heights known.

    fill_bench.py SURFACE_FILL SURFACE_HOLES SURFACE_REPAIR SAMPLE_DATA R_ROOT
                  [--size 1000|2000] [--voids N] [--seed S] [--skip-grass]
                  [--skip-two-command] [--work DIR] [--grass-from DIR]

A mosaic of size x size cells is built out of blocks of 500 x 500 cells; each block is a crop of a
real elevation model (the Jacksboro fault DEM and the topography/bathymetry grid of Debian's
python-matplotlib-data, R's volcano, the Rocky Mountain grid and parts of the contiguous-US grid
of R's fields package), tiled by mirror images of itself so that its tiles join without a step.
The heights of each model are scaled so that its RMS slope between neighbouring cells is 0.2 on the
mosaic's 30 m cells (what the Jacksboro DEM and the volcano have at their own cell sizes): the fine
models keep their own slopes, the coarse grids (1/24 degree) become hills of the same roughness,
and every block weighs alike in the RMSE. Round and irregular voids of radius 2 to 25 cells
(log-uniform, seeded) are cut apart from each other and from the seams between blocks; a few
touch the mosaic's edge. The mosaic is written with the voids as nodata (-9999, Float32 GeoTIFF on
a UTM grid) and as a binary VTK legacy mesh (points at the cell centres, two triangles per cell,
NaN heights in the voids).

Each method's result is compared with the true heights: the RMSE over all void cells, the
geometric mean over voids of each void's RMSE, and the wall time of the whole command (for GDAL
also the time of FillNodata itself, in this process). For the 4M mosaic a target line follows.
GRASS takes its time (hole by hole, each hole a handful of GRASS modules, the last of which patches
the fill so far into a map as large as all holes so far: most of an hour on the 1M mosaic, hours on
the 4M one): --grass-from DIR takes its result and time from the --work DIR of an earlier run
instead, when the mosaic there is the same, and says so.
"""

import argparse
import hashlib
import math
import os
import resource
import shutil
import subprocess
import sys
import tempfile
import time

import numpy as np
from osgeo import gdal, osr

import quality

gdal.UseExceptions()

CELL = 30.0                       # the mosaic's cell size (m)
ORIGIN = (500000.0, 4200000.0)    # its upper left corner, UTM zone 14 north
EPSG = 32614
NODATA = -9999.0
BLOCK = 500                       # cells per side of a block of one terrain
SEAM_MARGIN = 10                  # cells kept clear of voids on each side of a seam
GAP = 3                           # cells of valid heights at least between two voids
RADII = (2.0, 25.0)
EDGE_SHARE = 0.04                 # voids cut by the mosaic's edge
SEARCH = 100                      # GDAL's search distance (cells): far beyond any void's reach
SLOPE = 0.2                       # RMS slope of every block


# --- terrains -----------------------------------------------------------------------------------

def load_terrains(sample_data, r_root):
    """[(name, heights)]: real elevation crops without a void, their heights scaled to SLOPE; the
    first four are those of the 1M mosaic."""
    def grid(terrain):
        return np.array(terrain.z, dtype=np.float64)

    jb = quality.jacksboro(sample_data)
    tb = quality.topobathy(sample_data)
    vo = quality.volcano(r_root)
    rm, _, _ = quality.fields_elevation(r_root, "RMelevation", "rocky mountains")
    us, x, y = quality.fields_elevation(r_root, "PRISMelevation", "contiguous US")
    def part(name, lon, lat, cols, rows):
        return name, grid(quality.crop_at(us, x, y, name, lon, lat, cols, rows))

    out = [("jacksboro", grid(jb)), ("rocky mountains", grid(rm)), ("volcano", grid(vo)),
           part("us appalachians", -86.0, 34.0, 250, 200), ("topobathy", grid(tb)),
           part("us rockies", -112.0, 36.0, 300, 300), part("us great basin", -120.0, 36.0, 250, 250),
           part("us plains", -104.0, 31.0, 300, 200)]
    for name, z in out:
        if not np.all(np.isfinite(z)):
            raise ValueError("%s holds voids" % name)
    return [(name, z * (SLOPE * CELL / rms_step(z))) for name, z in out]


def rms_step(z):
    """RMS height difference between neighbouring cells of z."""
    steps = np.concatenate([np.diff(z, axis=0).ravel(), np.diff(z, axis=1).ravel()])
    return math.sqrt(np.mean(steps ** 2))


def mirror_tile(z, rows, cols, row0=0, col0=0, transpose=False):
    """rows x cols heights tiled from z and its mirror images (z, flipped z, z, ...), starting at
    (row0, col0) of that endless tiling: neighbouring tiles share their edge heights."""
    if transpose:
        z = z.T

    def index(start, count, n):
        k = (np.arange(count) + start) % (2 * n)
        return np.where(k < n, k, 2 * n - 1 - k)

    return z[np.ix_(index(row0, rows, z.shape[0]), index(col0, cols, z.shape[1]))]


def build_mosaic(size, terrains, rng):
    """(heights as float32, block index of each cell, [(block, terrain name)]): size x size cells
    in blocks of BLOCK x BLOCK, each block one terrain tiled (the terrains in turn, each tiling
    with its own random start and orientation)."""
    per_side = size // BLOCK
    heights = np.empty((size, size), dtype=np.float32)
    block_of = np.empty((size, size), dtype=np.int32)
    names = []
    for b in range(per_side * per_side):
        name, z = terrains[b % len(terrains)]
        br, bc = divmod(b, per_side)
        transpose = bool(rng.integers(2))
        n0, n1 = (z.shape[1], z.shape[0]) if transpose else z.shape
        tile = mirror_tile(z, BLOCK, BLOCK, int(rng.integers(2 * n0)), int(rng.integers(2 * n1)),
                           transpose)
        rows = slice(br * BLOCK, (br + 1) * BLOCK)
        cols = slice(bc * BLOCK, (bc + 1) * BLOCK)
        heights[rows, cols] = tile
        block_of[rows, cols] = b
        names.append((b, name))
    return heights, block_of, names


# --- voids --------------------------------------------------------------------------------------

def void_shape(radius, irregular, rng):
    """Boolean window (2 ceil(radius) + 1 cells a side) of a void centred in it: a disc of the
    radius, or a star-shaped blob whose radius wanders between 0.45 and 1 times it."""
    half = int(math.ceil(radius))
    j, i = np.mgrid[-half:half + 1, -half:half + 1].astype(np.float64)
    dist = np.hypot(i, j)
    if not irregular:
        return dist <= radius
    theta = np.arctan2(j, i)
    wave = np.zeros_like(theta)
    samples = np.linspace(0.0, 2.0 * math.pi, 720, endpoint=False)
    wave_s = np.zeros_like(samples)
    for k in range(2, 6):
        a, phase = rng.uniform(0.0, 1.0) / k, rng.uniform(0.0, 2.0 * math.pi)
        wave += a * np.cos(k * theta + phase)
        wave_s += a * np.cos(k * samples + phase)
    lo, hi = wave_s.min(), wave_s.max()
    unit = (wave - lo) / max(hi - lo, 1e-12)
    shape = dist <= radius * (0.45 + 0.55 * unit)
    shape[half, half] = True
    return shape


def dilate(mask, cells):
    """mask grown by cells in every direction (a square), within its own window padded."""
    padded = np.pad(mask, cells)
    out = np.zeros_like(padded)
    for dj in range(-cells, cells + 1):
        for di in range(-cells, cells + 1):
            out |= np.roll(np.roll(padded, dj, 0), di, 1)
    return out


def cut_voids(size, block_of, count, rng):
    """(label of each cell: 0 valid, k for void k; [(k, radius, kind, touches edge)]).
    The voids lie apart by GAP cells, clear of the seams between blocks; EDGE_SHARE of them are cut
    by the mosaic's edge."""
    taken = np.zeros((size, size), dtype=bool)
    labels = np.zeros((size, size), dtype=np.int32)
    radii = np.sort(np.exp(rng.uniform(math.log(RADII[0]), math.log(RADII[1]), count)))[::-1]
    edge = set(rng.choice(count, max(1, int(round(EDGE_SHARE * count))), replace=False).tolist())
    voids = []
    for n, radius in enumerate(radii):
        irregular = bool(rng.integers(2))
        shape = void_shape(radius, irregular, rng)
        grown = dilate(shape, GAP)
        half = shape.shape[0] // 2
        for _ in range(20000):
            r0, c0 = place(size, half, n in edge, rng)
            if fits(taken, block_of, grown, r0 - half - GAP, c0 - half - GAP, half):
                break
        else:
            raise RuntimeError("no room for void %d of radius %.1f" % (n + 1, radius))
        stamp(taken, grown, r0 - half - GAP, c0 - half - GAP)
        window = np.zeros((size, size), dtype=bool)
        stamp(window, shape, r0 - half, c0 - half)
        labels[window] = n + 1
        touches = bool(window[0].any() or window[-1].any() or window[:, 0].any()
                       or window[:, -1].any())
        voids.append((n + 1, float(radius), "irregular" if irregular else "round", touches))
    return labels, voids


def place(size, half, on_edge, rng):
    """A random centre: inside the mosaic with room for the void, or on one of its edges."""
    if not on_edge:
        return (int(rng.integers(half + 1, size - half - 1)),
                int(rng.integers(half + 1, size - half - 1)))
    along = int(rng.integers(0, size))
    depth = int(rng.integers(0, max(1, half)))
    side = int(rng.integers(4))
    return [(depth, along), (size - 1 - depth, along), (along, depth),
            (along, size - 1 - depth)][side]


def clip(size, r0, c0, shape):
    """(mosaic slices, window slices) of a window placed at (r0, c0), clipped to the mosaic."""
    h, w = shape
    rs, cs = max(r0, 0), max(c0, 0)
    re_, ce = min(r0 + h, size), min(c0 + w, size)
    return ((slice(rs, re_), slice(cs, ce)), (slice(rs - r0, re_ - r0), slice(cs - c0, ce - c0)))


def fits(taken, block_of, grown, r0, c0, half):
    size = taken.shape[0]
    big, small = clip(size, r0, c0, grown.shape)
    if np.any(taken[big] & grown[small]):
        return False
    # Clear of the seams: the whole grown window, widened, sees one block only.
    m = SEAM_MARGIN
    wide, _ = clip(size, r0 - m, c0 - m, (grown.shape[0] + 2 * m, grown.shape[1] + 2 * m))
    blocks = block_of[wide]
    return bool(np.all(blocks == blocks.flat[0]))


def stamp(target, mask, r0, c0):
    big, small = clip(target.shape[0], r0, c0, mask.shape)
    target[big] |= mask[small]


# --- files --------------------------------------------------------------------------------------

def geotransform():
    return (ORIGIN[0], CELL, 0.0, ORIGIN[1], 0.0, -CELL)


def write_geotiff(path, z):
    """z (NaN in the voids) as a Float32 GeoTIFF with NODATA in the voids."""
    rows, cols = z.shape
    ds = gdal.GetDriverByName("GTiff").Create(path, cols, rows, 1, gdal.GDT_Float32,
                                              ["TILED=YES", "COMPRESS=NONE"])
    ds.SetGeoTransform(geotransform())
    srs = osr.SpatialReference()
    srs.ImportFromEPSG(EPSG)
    ds.SetProjection(srs.ExportToWkt())
    band = ds.GetRasterBand(1)
    band.SetNoDataValue(NODATA)
    band.WriteArray(np.where(np.isfinite(z), z, NODATA).astype(np.float32))
    ds = None


def read_raster(path):
    """Heights of a single-band raster, NaN where nodata."""
    ds = gdal.Open(path)
    band = ds.GetRasterBand(1)
    z = band.ReadAsArray().astype(np.float64)
    nodata = band.GetNoDataValue()
    if nodata is not None:
        z[z == nodata] = np.nan
    return z


def cell_centres(rows, cols):
    x = ORIGIN[0] + (np.arange(cols) + 0.5) * CELL
    y = ORIGIN[1] - (np.arange(rows) + 0.5) * CELL
    return np.meshgrid(x, y)


def write_vtk(path, z):
    """z (NaN in the voids) as a binary VTK legacy polydata: a point at each cell centre (point id
    row * cols + col), two triangles per quad of four centres, counter-clockwise seen from above."""
    rows, cols = z.shape
    xx, yy = cell_centres(rows, cols)
    points = np.stack([xx.ravel(), yy.ravel(), z.ravel()], axis=1).astype(">f8")
    a = (np.arange(rows - 1)[:, None] * cols + np.arange(cols - 1)[None, :]).ravel()
    three = np.full_like(a, 3)
    tris = np.stack([three, a, a + cols, a + cols + 1, three, a, a + cols + 1, a + 1],
                    axis=1).astype(">i4")
    cells = 2 * a.size
    with open(path, "wb") as f:
        f.write(b"# vtk DataFile Version 3.0\nvoids in a mosaic of elevation models\nBINARY\n"
                b"DATASET POLYDATA\n")
        f.write(b"POINTS %d double\n" % (rows * cols))
        f.write(points.tobytes())
        f.write(b"\nPOLYGONS %d %d\n" % (cells, 4 * cells))
        f.write(tris.tobytes())
        f.write(b"\n")


def read_vtk_z(path, shape):
    """Heights of a VTK legacy polydata, in point order, as an array of shape."""
    from vtkmodules.util.numpy_support import vtk_to_numpy
    from vtkmodules.vtkIOLegacy import vtkPolyDataReader
    reader = vtkPolyDataReader()
    reader.SetFileName(path)
    reader.Update()
    points = reader.GetOutput().GetPoints()
    if points is None or points.GetNumberOfPoints() != shape[0] * shape[1]:
        raise ValueError("%s: not a mesh of %d points" % (path, shape[0] * shape[1]))
    return vtk_to_numpy(points.GetData())[:, 2].astype(np.float64).reshape(shape)


# --- scores -------------------------------------------------------------------------------------

def scores(filled, truth, labels):
    """(RMSE over all void cells, geometric mean of the voids' RMSEs, void cells left unfilled).
    Cells left unfilled count in neither RMSE."""
    inside = labels > 0
    err = filled[inside] - truth[inside]
    ids = labels[inside]
    ok = np.isfinite(err)
    unfilled = int(np.count_nonzero(~ok))
    if not ok.any():
        return float("nan"), float("nan"), unfilled
    count = labels.max() + 1
    sq = np.bincount(ids[ok], weights=err[ok] ** 2, minlength=count)[1:]
    n = np.bincount(ids[ok], minlength=count)[1:]
    rmse_all = math.sqrt(sq.sum() / n.sum())
    per_void = np.sqrt(sq[n > 0] / n[n > 0])
    geo = math.exp(np.mean(np.log(np.maximum(per_void, 1e-9))))
    return rmse_all, geo, unfilled


def terrain_rmse(filled, truth, labels, block_of, blocks):
    """{terrain name: RMSE over its filled void cells}."""
    out = {}
    for name in dict.fromkeys(n for _, n in blocks):
        ids = [b for b, n in blocks if n == name]
        cells = (labels > 0) & np.isin(block_of, ids)
        err = filled[cells] - truth[cells]
        err = err[np.isfinite(err)]
        out[name] = math.sqrt(np.mean(err ** 2)) if err.size else float("nan")
    return out


# --- methods ------------------------------------------------------------------------------------

class Result:
    def __init__(self, name, seconds, filled=None, note="", inner=None, cpu=float("nan")):
        self.name = name
        self.seconds = seconds    # wall time of the whole command
        self.cpu = cpu            # processor time (user and system) of the command
        self.filled = filled      # heights after filling, or None when it failed
        self.note = note
        self.inner = inner        # time of the filling itself, when known
        self.rmse = self.geo = float("nan")
        self.unfilled = 0
        self.by_terrain = {}      # RMSE over the void cells of each terrain


def timed(command, cwd):
    """(wall seconds, completed process) of a command, without a display; the process's cpu is
    the processor time of the command and the processes it waited for."""
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    proc = subprocess.run(command, cwd=cwd, env=env, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, text=True)
    seconds = time.monotonic() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    proc.cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return seconds, proc


def failure(name, seconds, proc):
    lines = (proc.stderr.strip() or proc.stdout.strip()).splitlines()
    return Result(name, seconds, None, "failed (%d): %s" % (proc.returncode,
                                                            lines[-1] if lines else "no message"),
                  cpu=proc.cpu)


def report_note(path):
    """A summary of surface_fill's report: the voids, their statuses, the sum of their times."""
    if not os.path.exists(path):
        return "no report"
    with open(path) as f:
        lines = [line.rstrip("\n").split(",") for line in f if line.strip()]
    if not lines:
        return "empty report"
    head, rows = lines[0], lines[1:]
    statuses = {}
    total = 0.0
    for row in rows:
        record = dict(zip(head, row))
        statuses[record.get("status", "?")] = statuses.get(record.get("status", "?"), 0) + 1
        try:
            total += float(record.get("seconds", "nan"))
        except ValueError:
            pass
    said = " ".join("%s %d" % kv for kv in sorted(statuses.items()))
    return "%d voids (%s), %.1f s summed" % (len(rows), said, total)


def run_surface_fill(exe, source, threads, work, shape):
    suffix = os.path.splitext(source)[1]
    stem = os.path.splitext(os.path.basename(source))[0]
    out = os.path.join(work, "fill_%s_t%d%s" % (stem, threads, suffix))
    report = os.path.join(work, "fill_%s_t%d.csv" % (stem, threads))
    for path in (out, report):
        if os.path.exists(path):
            os.remove(path)
    command = [exe, "--threads", str(threads), "--report", report]
    if suffix == ".vtk":
        command.append("--nan")
    name = "surface_fill %s, %d thread%s" % ("GeoTIFF" if suffix == ".tif" else "VTK mesh",
                                             threads, "" if threads == 1 else "s")
    seconds, proc = timed(command + [source, out], work)
    if proc.returncode != 0:
        return failure(name, seconds, proc)
    filled = read_raster(out) if suffix == ".tif" else read_vtk_z(out, shape)
    return Result(name, seconds, filled, report_note(report), cpu=proc.cpu)


def run_two_command(holes_exe, repair_exe, model, work, shape):
    name = "surface_holes + surface_repair auto"
    result = os.path.join(work, "reconstucted_shape.vtk")
    if os.path.exists(result):
        os.remove(result)
    t1, proc = timed([holes_exe, "--nan", model], work)
    if proc.returncode != 0:
        return failure(name, t1, proc)
    cpu = proc.cpu
    t2, proc = timed([repair_exe, model, "inside.pts", "outside.pts", "auto"], work)
    proc.cpu += cpu
    if proc.returncode != 0:
        return failure(name, t1 + t2, proc)
    chosen = [line for line in proc.stdout.splitlines() if line.startswith("Chosen radius")]
    note = "holes %.1f s, repair %.1f s%s" % (t1, t2, ("; " + chosen[0]) if chosen else "")
    return Result(name, t1 + t2, read_vtk_z(result, shape), note, cpu=proc.cpu)


def gdal_in_process(source, smoothing):
    """FillNodata on the raster in memory: (filled heights, seconds of the call alone)."""
    mem = gdal.GetDriverByName("MEM").CreateCopy("", gdal.Open(source))
    band = mem.GetRasterBand(1)
    start = time.monotonic()
    gdal.FillNodata(band, None, SEARCH, smoothing)
    seconds = time.monotonic() - start
    z = band.ReadAsArray().astype(np.float64)
    z[z == NODATA] = np.nan
    return z, seconds


def run_gdal(source, smoothing, work):
    name = "GDAL FillNodata, smoothing %d" % smoothing
    stem = os.path.splitext(os.path.basename(source))[0]
    out = os.path.join(work, "gdal_%s_si%d.tif" % (stem, smoothing))
    if os.path.exists(out):
        os.remove(out)
    tool = shutil.which("gdal_fillnodata.py") or shutil.which("gdal_fillnodata")
    seconds, proc = timed([tool, "-q", "-md", str(SEARCH), "-si", str(smoothing), source, out],
                          work)
    if proc.returncode != 0:
        return failure(name, seconds, proc)
    filled = read_raster(out)
    _, inner = gdal_in_process(source, smoothing)
    return Result(name, seconds, filled, "", inner, cpu=proc.cpu)


GRASS_SCRIPT = """set -e
r.in.gdal --quiet -o input="$1" output=dem
g.region raster=dem
r.fillnulls --quiet input=dem output=filled method=rst
r.out.gdal --quiet -f input=filled output="$2" format=GTiff type=Float32 nodata=%g
""" % NODATA


def digest(path):
    """A digest of a file's bytes: which mosaic an earlier result belongs to."""
    with open(path, "rb") as f:
        return hashlib.sha1(f.read()).hexdigest()


def run_grass(source, work, earlier=None):
    """GRASS's fill of source; with earlier, the result and time kept in that directory by an
    earlier run on the same mosaic instead (none when there is none)."""
    name = "GRASS r.fillnulls rst"
    stem = os.path.splitext(os.path.basename(source))[0]
    out = os.path.join(work, "grass_%s.tif" % stem)
    record = os.path.join(work, "grass_%s.txt" % stem)
    mosaic = digest(source)
    if earlier:
        kept, kept_record = (os.path.join(earlier, os.path.basename(p)) for p in (out, record))
        if not (os.path.exists(kept) and os.path.exists(kept_record)):
            return Result(name, float("nan"), None, "not run: no earlier result in " + earlier)
        with open(kept_record) as f:
            words = f.read().split()  # seconds, [processor seconds,] the mosaic's digest
        if words[-1] != mosaic:
            return Result(name, float("nan"), None, "not run: the result in %s is of another "
                          "mosaic" % earlier)
        cpu = float(words[1]) if len(words) == 3 else float("nan")
        return Result(name, float(words[0]), read_raster(kept),
                      "time and result of an earlier run on this mosaic", cpu=cpu)
    grass = shutil.which("grass")
    if grass is None:
        return Result(name, float("nan"), None, "not run: no grass command (grass-core)")
    script = os.path.join(work, "grass_fill.sh")
    with open(script, "w") as f:
        f.write(GRASS_SCRIPT)
    for path in (out, record):
        if os.path.exists(path):
            os.remove(path)
    seconds, proc = timed([grass, "--tmp-location", source, "--exec", "bash", script, source, out],
                          work)
    if proc.returncode != 0 or not os.path.exists(out):
        return failure(name, seconds, proc)
    with open(record, "w") as f:
        f.write("%.3f %.3f %s\n" % (seconds, proc.cpu, mosaic))
    return Result(name, seconds, read_raster(out), cpu=proc.cpu)


# --- the benchmark ------------------------------------------------------------------------------

def make_case(size, count, seed, terrains, work):
    """Writes the mosaic of size x size cells with count voids; (truth, labels, voids, block of
    each cell, blocks, GeoTIFF path, VTK path)."""
    rng = np.random.default_rng([seed, size])
    truth, block_of, blocks = build_mosaic(size, terrains, rng)
    labels, voids = cut_voids(size, block_of, count, rng)
    damaged = truth.astype(np.float64)
    damaged[labels > 0] = np.nan
    tif = os.path.join(work, "mosaic%d.tif" % size)
    vtk = os.path.join(work, "mosaic%d.vtk" % size)
    write_geotiff(tif, damaged)
    write_vtk(vtk, damaged)
    return truth.astype(np.float64), labels, voids, block_of, blocks, tif, vtk


def describe(size, truth, labels, voids, blocks):
    cells = int(np.count_nonzero(labels))
    radii = np.array([v[1] for v in voids])
    print("Mosaic of %d x %d cells (%.0f m), %d voids, %d void cells (%.1f%%), radii %.1f to %.1f "
          "(median %.1f), %d irregular, %d cut by the edge; heights %.1f to %.1f m" % (
              size, size, CELL, len(voids), cells, 100.0 * cells / truth.size, radii.min(),
              radii.max(), np.median(radii), sum(v[2] == "irregular" for v in voids),
              sum(v[3] for v in voids), truth.min(), truth.max()))
    print("Blocks: " + ", ".join("%d %s" % b for b in blocks))


def print_table(size, results):
    print()
    print("%-36s %9s %11s %9s %8s %9s %8s  %s" % ("%dM mosaic" % (size * size // 1000000),
                                                  "RMSE (m)", "geomean (m)", "wall (s)",
                                                  "cpu (s)", "alone (s)", "unfilled", "notes"))
    for r in results:
        alone = "%.2f" % r.inner if r.inner is not None else "-"
        print("%-36s %9.4f %11.4f %9.2f %8.2f %9s %8d  %s" % (
            r.name, r.rmse, r.geo, r.seconds, r.cpu, alone, r.unfilled, r.note))
    print("RMSE: over all void cells; geomean: geometric mean over the voids of each void's RMSE; "
          "wall: the whole command; cpu: its processor time (user + system, with its children); "
          "alone: FillNodata's own call, in this process; load: the machine's load average (1 "
          "minute) as the command started, on %d cores" % (os.cpu_count() or 1))
    sys.stdout.flush()


def print_terrains(results, blocks):
    names = list(dict.fromkeys(n for _, n in blocks))
    print()
    print("%-38s " % "RMSE (m) by terrain" + " ".join("%15s" % n[:15] for n in names))
    for r in results:
        print("%-38s " % r.name + " ".join("%15.4f" % r.by_terrain.get(n, float("nan"))
                                            for n in names))
    sys.stdout.flush()


def print_targets(results):
    by = {r.name: r for r in results}
    fill1 = by.get("surface_fill GeoTIFF, 1 thread")
    fill2 = by.get("surface_fill GeoTIFF, 2 threads")
    gdal2 = by.get("GDAL FillNodata, smoothing 2")
    if not (fill1 and fill2 and gdal2) or not all(
            math.isfinite(v) for v in (fill1.seconds, fill2.rmse, gdal2.rmse, gdal2.seconds)):
        print("Targets (4M): not judged (surface_fill or GDAL did not run)")
        return

    def verdict(ok):
        return "met" if ok else "MISSED"

    r_rmse = fill2.rmse / gdal2.rmse
    r_geo = fill2.geo / gdal2.geo
    r_time = fill2.seconds / gdal2.seconds
    r_inner = fill2.seconds / gdal2.inner
    speedup = fill1.seconds / fill2.seconds
    print("Targets (4M): surface_fill RMSE %.3f x GDAL FillNodata smoothing 2's (<= 0.90: %s); "
          "per-void geometric mean %.3f x (<= 0.90: %s)" % (r_rmse, verdict(r_rmse <= 0.90), r_geo,
                                                            verdict(r_geo <= 0.90)))
    print("              2-thread run %.1f x GDAL's whole command (<= 25: %s), %.1f x FillNodata's "
          "own call (<= 25: %s); 2 threads %.2f x faster than 1 (>= 1.7: %s)" % (
              r_time, verdict(r_time <= 25.0), r_inner, verdict(r_inner <= 25.0), speedup,
              verdict(speedup >= 1.7)))
    print("              processor time: surface_fill's 2-thread run %.1f s, %.1f x GDAL's whole "
          "command; on 1 thread %.1f s" % (fill2.cpu, fill2.cpu / gdal2.cpu, fill1.cpu))
    load, cores = os.getloadavg()[0], os.cpu_count() or 1
    if load > cores:
        print("              the machine was busy (load %.1f on %d cores): the wall times and the "
              "speed-up above are not the programs' own" % (load, cores))


def run_size(size, args, terrains, work):
    start = time.monotonic()
    truth, labels, voids, block_of, blocks, tif, vtk = make_case(size, args.voids, args.seed,
                                                                 terrains, work)
    describe(size, truth, labels, voids, blocks)
    print("(mosaic written in %.1f s)" % (time.monotonic() - start))
    shape = truth.shape
    runs = []
    if args.fill:
        runs += [lambda: run_surface_fill(args.fill, tif, 1, work, shape),
                 lambda: run_surface_fill(args.fill, tif, 2, work, shape),
                 lambda: run_surface_fill(args.fill, vtk, 2, work, shape)]
    if not args.skip_two_command:
        runs.append(lambda: run_two_command(args.holes, args.repair, vtk, work, shape))
    runs += [lambda: run_gdal(tif, 0, work), lambda: run_gdal(tif, 2, work)]
    if not args.skip_grass:
        runs.append(lambda: run_grass(tif, work, args.grass_from))
    results = []
    for run in runs:
        load = os.getloadavg()[0]
        r = run()
        if math.isfinite(r.seconds) and "earlier run" not in r.note:
            r.note = ("load %.1f; " % load) + r.note if r.note else "load %.1f" % load
        if r.filled is not None:
            r.rmse, r.geo, r.unfilled = scores(r.filled, truth, labels)
            r.by_terrain = terrain_rmse(r.filled, truth, labels, block_of, blocks)
            r.filled = None
        print("  %s: %.1f s %s" % (r.name, r.seconds, r.note), file=sys.stderr)
        results.append(r)
    if not args.fill:
        results.insert(0, Result("surface_fill", float("nan"), None, "not run: not built"))
    elif math.isfinite(results[0].rmse) and results[0].rmse != results[1].rmse:
        print("surface_fill gives other heights on 2 threads than on 1", file=sys.stderr)
    print_table(size, results)
    print_terrains(results, blocks)
    if size == 2000:
        print_targets(results)
    print()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("fill", help="surface_fill (an empty word: not built yet)")
    parser.add_argument("holes")
    parser.add_argument("repair")
    parser.add_argument("sample_data", help="python-matplotlib-data's sample_data directory")
    parser.add_argument("r_root", help="where usr/lib/R of r-base-core and r-cran-fields is")
    parser.add_argument("--size", type=int, choices=(1000, 2000), action="append",
                        help="cells per side of the mosaic (default: both)")
    parser.add_argument("--voids", type=int, default=358)
    parser.add_argument("--seed", type=int, default=24)
    parser.add_argument("--skip-grass", action="store_true")
    parser.add_argument("--skip-two-command", action="store_true")
    parser.add_argument("--work", help="directory for the files, kept (default: a temporary one)")
    parser.add_argument("--grass-from", metavar="DIR",
                        help="take GRASS's results from this --work directory of an earlier run")
    args = parser.parse_args()
    if args.voids < 1:
        parser.error("--voids needs at least 1")
    if args.fill and not os.path.exists(args.fill):
        print("surface_fill is not built (%s): its rows are left out" % args.fill, file=sys.stderr)
        args.fill = ""
    terrains = load_terrains(args.sample_data, args.r_root)
    if args.work:
        os.makedirs(args.work, exist_ok=True)
        work = os.path.abspath(args.work)
    else:
        work = tempfile.mkdtemp(prefix="fill_bench.")
    try:
        for size in args.size or (1000, 2000):
            run_size(size, args, terrains, work)
    finally:
        if not args.work:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
