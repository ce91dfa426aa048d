"""The raster fill on a Dask cluster (surface_repair.fill), run by ctest with
Debian's interpreter and the package of this build:

    test_dask_fill.py <surface_fill executable>

A small raster (300 x 300 cells, 30 voids, some close enough to be repaired
together, some on the border, some NaN) filled on a local cluster of two
worker processes must give surface_fill's cells bit for bit: with blocks that
cut voids, with a worker killed during the run, for a Float32 and an Int16
band. The labelling pass block by block must find the voids that a labelling
of the whole raster finds.
"""
import os
import signal
import subprocess
import sys
import tempfile
import unittest

import numpy as np
from osgeo import gdal
from scipy import ndimage

import surface_repair
from surface_repair import raster_fill

gdal.UseExceptions()
SURFACE_FILL = None
CLIENT = CLUSTER = None
WORK = None


def make_raster(path, size=300, voids=30, seed=3, gdal_type=gdal.GDT_Float32):
    """A smooth terrain with elliptic voids (every fifth NaN, the others -9999)."""
    rng = np.random.default_rng(seed)
    y, x = np.mgrid[0:size, 0:size] / size
    z = 400 + 120 * np.sin(3.1 * x + 1.3) * np.cos(2.3 * y) + \
        60 * np.exp(-((x - 0.6) ** 2 + (y - 0.4) ** 2) / 0.02) + 15 * np.sin(17 * x * y)
    rows, columns = np.arange(size)[:, None], np.arange(size)[None, :]
    for k in range(voids):
        r, c = rng.integers(0, size, 2)
        a, b = rng.uniform(1.5, 7, 2)
        inside = ((rows - r) / a) ** 2 + ((columns - c) / b) ** 2 <= 1
        z[inside] = np.nan if k % 5 == 0 and gdal_type == gdal.GDT_Float32 else -9999
    dataset = gdal.GetDriverByName("GTiff").Create(path, size, size, 1, gdal_type)
    dataset.SetGeoTransform((500000.0, 30.0, 0.0, 4100000.0, 0.0, -30.0))
    band = dataset.GetRasterBand(1)
    band.SetNoDataValue(-9999)
    band.WriteArray(z)
    dataset = None
    return path


def raw_cells(path):
    """Band 1's bytes, its type and nodata."""
    dataset = gdal.Open(path)
    band = dataset.GetRasterBand(1)
    return band.ReadRaster(), band.DataType, band.GetNoDataValue(), dataset.GetGeoTransform()


def reference(src, *options):
    """surface_fill's result for src with options (cached by the options)."""
    out = os.path.join(WORK, "ref-%s-%s.tif" % (os.path.basename(src), "_".join(options)))
    if not os.path.exists(out):
        subprocess.run([SURFACE_FILL, "-q", *options, src, out], check=True,
                       stdout=subprocess.DEVNULL)
    return out


def setUpModule():
    global CLIENT, CLUSTER, WORK
    from distributed import Client, LocalCluster
    WORK = tempfile.mkdtemp(prefix="dask_fill_")
    make_raster(os.path.join(WORK, "src.tif"))
    make_raster(os.path.join(WORK, "int16.tif"), seed=5, gdal_type=gdal.GDT_Int16)
    CLUSTER = LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                           dashboard_address="127.0.0.1:0")
    CLIENT = Client(CLUSTER)


def tearDownModule():
    CLIENT.close()
    CLUSTER.close()


class Labelling(unittest.TestCase):
    """The voids of the pass block by block against a labelling of the whole."""

    def test_blocks_find_the_voids_of_the_whole_raster(self):
        rng = np.random.default_rng(1)
        height, width = 211, 297
        z = rng.normal(size=(height, width))
        mask = ndimage.uniform_filter(rng.random((height, width)), 5) > 0.63
        z[mask] = -9999
        dataset = gdal.GetDriverByName("MEM").Create("", width, height, 1, gdal.GDT_Float32)
        band = dataset.GetRasterBand(1)
        band.WriteArray(z)
        band.SetNoDataValue(-9999)
        labels, count = ndimage.label(mask, np.ones((3, 3)))
        flat = labels.ravel()
        at = np.flatnonzero(flat)
        _, first_at = np.unique(flat[at], return_index=True)
        first = np.sort(at[first_at])
        in_order = flat[first]
        boxes = ndimage.find_objects(labels)
        for rings in (1, 2, 6):
            grown = ndimage.maximum_filter(mask.astype(np.uint8),
                                           size=2 * raster_fill.group_reach(rings) + 1)
            group_labels, _ = ndimage.label(grown, np.ones((3, 3)))
            expected_groups = group_labels.ravel()[first]
            for block in (16, 23, 64, 1000):
                with self.subTest(rings=rings, block=block):
                    table = raster_fill.label_voids(band, raster_fill.VoidRules(), rings, block)
                    self.assertEqual(table.count, count)
                    np.testing.assert_array_equal(table.first, first)
                    np.testing.assert_array_equal(table.cells, np.bincount(flat)[in_order])
                    for name, axis, end in (("row0", 0, 0), ("row1", 0, 1), ("column0", 1, 0),
                                            ("column1", 1, 1)):
                        bound = [boxes[k - 1][axis].stop - 1 if end else boxes[k - 1][axis].start
                                 for k in in_order]
                        np.testing.assert_array_equal(getattr(table, name), bound, name)
                    # The same partition into groups, numbered by their first voids.
                    pairs = set(zip(expected_groups.tolist(), table.group.tolist()))
                    self.assertEqual(len(pairs), table.groups)
                    self.assertEqual(len(set(expected_groups.tolist())), table.groups)
                    self.assertEqual(table.group[0], 0)
                    self.assertTrue(np.all(np.diff(np.maximum.accumulate(table.group)) <= 1))

    def test_driver_groups_hold_whole_fill_groups(self):
        """Every group surface_fill repairs lies in one group of the driver,
        and every task's window holds the windows of its groups."""
        src = os.path.join(WORK, "src.tif")
        report = os.path.join(WORK, "groups.csv")
        subprocess.run([SURFACE_FILL, "-q", "--ring", "6", "--report", report, src,
                        os.path.join(WORK, "groups.tif")], check=True, stdout=subprocess.DEVNULL)
        with open(report) as lines:
            rows = [line.strip().split(",") for line in lines][1:]
        fill_group = [int(r[1]) for r in rows]
        dataset = gdal.Open(src)
        table = raster_fill.label_voids(dataset.GetRasterBand(1), raster_fill.VoidRules(), 6, 64)
        self.assertEqual(table.count, len(rows))
        np.testing.assert_array_equal(table.cells, [int(r[2]) for r in rows])
        driver_of = {}
        for void, group in enumerate(fill_group):
            driver_of.setdefault(group, set()).add(int(table.group[void]))
        self.assertTrue(all(len(groups) == 1 for groups in driver_of.values()), driver_of)
        self.assertLess(len(driver_of), table.count)  # some voids are repaired together
        tasks = raster_fill.plan_tasks(table, 6, tile=64, batch=4)
        self.assertEqual(sorted(np.concatenate([t.voids for t in tasks]).tolist()),
                         list(range(table.count)))
        top, bottom, left, right = raster_fill.group_windows(table, 6)
        for task in tasks:
            for g in set(table.group[task.voids].tolist()):
                self.assertLessEqual(task.window[0], top[g])
                self.assertGreaterEqual(task.window[1], bottom[g])
                self.assertLessEqual(task.window[2], left[g])
                self.assertGreaterEqual(task.window[3], right[g])

    def test_stored_values_as_surface_fill_stores_them(self):
        values = np.array([2.5, -2.5, 0.49999999999999994, -0.5, 1e6, -1e6, 254.5, 7.2])
        np.testing.assert_array_equal(raster_fill.to_band_type(values, np.int16),
                                      [3, -3, 0, -1, 32767, -32768, 255, 7])
        np.testing.assert_array_equal(raster_fill.to_band_type(values, np.uint8),
                                      [3, 0, 0, 0, 255, 0, 255, 7])
        self.assertEqual(raster_fill.to_band_type(np.array([0.1]), np.float32)[0],
                         np.float32(0.1))


class HeightGridFill(unittest.TestCase):
    """The wrapped class the workers run, on its own."""

    def test_bad_input_is_refused_with_its_reason(self):
        from vtkmodules.util import numpy_support
        from vtkmodules.vtkCommonCore import vtkIdList, vtkIdTypeArray, VTK_UNSIGNED_CHAR
        heights = np.full(12, 5.0)
        heights[5] = np.nan
        mask = np.isnan(heights).astype(np.uint8)
        fill = surface_repair.vtkHeightGridFill()
        fill.GlobalWarningDisplayOff()
        fill.SetHeights(numpy_support.numpy_to_vtk(heights, deep=0))
        fill.SetMask(numpy_support.numpy_to_vtk(mask, deep=0, array_type=VTK_UNSIGNED_CHAR))
        fill.SetBlock(4, 3, 10, 20, 30, 40)
        fill.SetThreads(1)
        self.assertEqual(fill.Fill(), 1)
        self.assertTrue(np.all(np.isfinite(heights)))
        cells = vtkIdTypeArray()
        fill.GetFilledCells(cells)
        self.assertEqual(numpy_support.vtk_to_numpy(cells).tolist(), [5])
        self.assertTrue(fill.GetReport().startswith("11,21,1,"), fill.GetReport())
        for block, word in (((4, 3, 28, 20, 30, 40), "does not lie"),
                            ((5, 3, 10, 20, 30, 40), "15 values")):
            fill.SetBlock(*block)
            self.assertEqual(fill.Fill(), -1)
            self.assertIn(word, fill.GetReport())
        fill.SetBlock(4, 3, 10, 20, 30, 40)
        seeds = vtkIdList()
        seeds.InsertNextId(12)
        fill.SetSeeds(seeds)
        self.assertEqual(fill.Fill(), -1)
        self.assertIn("seed 12", fill.GetReport())


class SameAsSurfaceFill(unittest.TestCase):
    """The cells of surface_fill's result, bit for bit."""

    def check(self, src, ref_options, **options):
        ref = reference(src, *ref_options)
        out = os.path.join(WORK, "out.tif")
        result = surface_repair.fill_raster(src, out, client=CLIENT, **options)
        expected, got = raw_cells(ref), raw_cells(out)
        self.assertEqual(got[1:], expected[1:])  # type, nodata, georeferencing
        if got[0] != expected[0]:
            a = np.frombuffer(expected[0], np.uint8)
            b = np.frombuffer(got[0], np.uint8)
            self.fail("%d bytes differ" % np.count_nonzero(a != b))
        self.assertEqual(os.listdir(WORK).count("out.tif"), 1)
        self.assertFalse([f for f in os.listdir(WORK) if f.endswith(".partial")])
        return result

    def test_float32_whole_raster_in_one_block(self):
        result = self.check(os.path.join(WORK, "src.tif"), [], block=1024)
        self.assertEqual((result.voids, result.filled, result.failures), (30, 30, []))

    def test_blocks_that_cut_voids_and_tasks_of_one_void(self):
        src = os.path.join(WORK, "src.tif")
        dataset = gdal.Open(src)
        table = raster_fill.label_voids(dataset.GetRasterBand(1), raster_fill.VoidRules(), 6, 37)
        cut = np.count_nonzero(table.row0 // 37 != table.row1 // 37) + \
            np.count_nonzero(table.column0 // 37 != table.column1 // 37)
        self.assertGreater(cut, 3)
        result = self.check(src, [], block=37, batch=1)
        self.assertEqual(result.filled, 30)
        self.assertGreaterEqual(result.tasks, 20)

    def test_fewer_rings_and_a_radius_too_short_for_some_voids(self):
        """Voids the radius does not reach are reported and left as voids."""
        result = self.check(os.path.join(WORK, "src.tif"), ["--ring", "2", "--radius", "0.12"],
                            rings=2, radius=0.12, block=64)
        self.assertTrue(result.failures)
        self.assertEqual(result.filled + len(result.failures), result.voids)
        self.assertTrue(all(f[2] == "out of reach" for f in result.failures), result.failures)

    def test_int16_band_rounded_and_other_rules(self):
        src = os.path.join(WORK, "int16.tif")
        self.check(src, [], block=50)
        self.check(src, ["--below", "-100"], below=-100, block=50)


class Faults(unittest.TestCase):
    """A worker killed during the run, an interrupted driver, bad input."""

    def test_killed_worker_gives_the_same_result(self):
        from distributed import Client, LocalCluster
        src = os.path.join(WORK, "src.tif")
        ref = reference(src)
        out = os.path.join(WORK, "killed.tif")
        killed = []
        with LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                          dashboard_address="127.0.0.1:0") as cluster, Client(cluster) as client:
            def kill_one(done, total):
                if done == 2:
                    busy = [w for w, keys in client.processing().items() if keys]
                    pids = client.run(os.getpid, workers=busy[:1])
                    for pid in pids.values():
                        os.kill(pid, signal.SIGKILL)
                        killed.append(pid)
            result = surface_repair.fill_raster(src, out, client=client, batch=1, block=64,
                                                progress=kill_one)
            after = set(client.run(os.getpid).values())
        self.assertEqual(len(killed), 1)
        self.assertNotIn(killed[0], after)
        self.assertEqual(result.failures, [])
        self.assertEqual(raw_cells(out), raw_cells(ref))

    def test_interrupted_driver_leaves_no_result_and_keeps_an_earlier_one(self):
        src = os.path.join(WORK, "src.tif")
        out = os.path.join(WORK, "interrupted.tif")
        with open(out, "w") as earlier:
            earlier.write("earlier")

        def interrupt(done, total):
            raise KeyboardInterrupt

        with self.assertRaises(KeyboardInterrupt):
            surface_repair.fill_raster(src, out, client=CLIENT, batch=1, progress=interrupt)
        with open(out) as earlier:
            self.assertEqual(earlier.read(), "earlier")
        self.assertFalse([f for f in os.listdir(WORK) if f.endswith(".partial")])

    def test_tasks_that_fail_leave_their_voids_and_say_why(self):
        """A raster in the driver's memory: the workers cannot read it."""
        src = "/vsimem/driver_only.tif"
        gdal.GetDriverByName("GTiff").CreateCopy(src, gdal.Open(os.path.join(WORK, "src.tif")))
        out = os.path.join(WORK, "unreadable.tif")
        try:
            with self.assertRaises(raster_fill.FillError) as caught:
                surface_repair.fill_raster(src, out, client=CLIENT)
        finally:
            gdal.Unlink(src)
        self.assertIn("No void could be filled: %s is not written" % out, str(caught.exception))
        self.assertIn("failed: Can not read the raster %s on this worker" % src,
                      str(caught.exception))
        self.assertFalse(os.path.exists(out))

    def test_program_messages(self):
        src = os.path.join(WORK, "src.tif")
        env = dict(os.environ)

        def run(*args):
            return subprocess.run([sys.executable, "-m", "surface_repair.fill", *args],
                                  capture_output=True, text=True, env=env, timeout=120)

        missing = os.path.join(WORK, "missing.tif")
        out = os.path.join(WORK, "cli.tif")
        done = run("-q", missing, out)
        self.assertEqual(done.returncode, 1)
        self.assertIn(missing, done.stderr)
        self.assertFalse(os.path.exists(out))
        for args, word in ((["--ring", "0"], "--ring"), (["--radius", "-1"], "--radius"),
                           (["--block", "4"], "--block"), (["--nodata", "x"], "--nodata"),
                           (["--workers", "2", "--scheduler", "tcp://127.0.0.1:1"],
                            "--scheduler")):
            done = run(*args, src, out)
            self.assertEqual(done.returncode, 1, args)
            self.assertIn(word, done.stderr)
            self.assertFalse(os.path.exists(out))
        done = run(src, src)
        self.assertEqual(done.returncode, 1)
        self.assertIn("Two rasters are one", done.stderr)
        nowhere = os.path.join(WORK, "no_such_folder", "out.tif")
        done = run(src, nowhere)
        self.assertEqual(done.returncode, 1)
        self.assertIn("Can not write %s: no folder" % nowhere, done.stderr)
        done = run("--scheduler", CLUSTER.scheduler_address, "--radius", "0.01", "-q", src, out)
        self.assertEqual(done.returncode, 1)
        self.assertIn("No void could be filled: %s is not written" % out, done.stderr)
        self.assertFalse(os.path.exists(out))
        done = run("--below", "-1e30", src, out)
        self.assertEqual(done.returncode, 1)
        self.assertIn("No void found in %s" % src, done.stderr)
        done = run("--workers", "2", "-q", src, out)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(raw_cells(out), raw_cells(reference(src)))
        os.remove(out)
        done = run("--scheduler", CLUSTER.scheduler_address, "--block", "40", "--batch", "2", src,
                   out)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("30 voids (", done.stdout)
        self.assertEqual(raw_cells(out), raw_cells(reference(src)))


if __name__ == "__main__":
    SURFACE_FILL = sys.argv.pop(1)
    unittest.main()
