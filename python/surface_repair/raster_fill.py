"""The voids of a raster filled on a Dask cluster, as surface_fill fills them.

    fill_raster(src, dst, client=None, ...)     the function
    python3 -m surface_repair.fill SRC DST ...  the program (surface_repair/fill.py)

No process holds the whole raster. The driver reads SRC block by block and
labels its voids (eight-connected cells, joined across the edges of the
blocks), and gathers voids that lie close enough to be repaired together into
groups. Each task is a batch of groups described by a window of the raster:
the union of the windows their repairs read. A worker reads its window from
SRC itself, repairs the batch's groups with the compiled fill
(vtkHeightGridFill) and returns the filled heights only, converted to the
band's type. The driver writes them into a copy of SRC as they come and
renames the copy to DST at the end.

The heights written are those surface_fill writes, bit for bit, for any
number of workers and any block size: a worker's window holds the whole
window each of its groups is repaired on, so the fill sees there what it sees
on the whole raster.

Only the Python standard library is imported here at load time; NumPy, SciPy,
GDAL and Dask are imported by the functions that need them.
"""
import math
import os
import sys
import tempfile
import time

#: The window margin of the fill: a share of a group's larger side (FillOptions::Margin).
MARGIN = 0.5

#: GDAL's block cache while the driver reads and writes: GDAL would otherwise
#: keep up to 5 % of the machine's memory of the raster's blocks.
DRIVER_CACHE = 64 << 20


class _SmallCache:
    """GDAL's block cache held to DRIVER_CACHE bytes at most, within a with."""

    def __enter__(self):
        from osgeo import gdal
        self.previous = gdal.GetCacheMax()
        gdal.SetCacheMax(min(self.previous, DRIVER_CACHE))

    def __exit__(self, *error):
        from osgeo import gdal
        gdal.SetCacheMax(self.previous)


class FillError(Exception):
    """A problem with the input or the options that the caller can fix."""


class VoidRules:
    """Which cells are voids: surface_fill's --nan, --nodata Z, --below Z and
    --above Z (each of the last three may be given more than once; a cell is
    a void when any rule selects it), applied to the band's values read as
    doubles.

    With no rule, a cell is a void when its value is the band's nodata value
    or is not finite.
    """

    def __init__(self, nan=False, nodata=(), below=(), above=()):
        self.nan = bool(nan)
        self.nodata = [float(z) for z in _values(nodata)]
        self.below = [float(z) for z in _values(below)]
        self.above = [float(z) for z in _values(above)]

    def any(self):
        return self.nan or bool(self.nodata or self.below or self.above)

    def select(self, values, band_nodata):
        """A boolean array: True where values (doubles read from the band) are
        voids. band_nodata: the band's nodata value, or None."""
        import numpy as np
        nan, nodata, below, above = self.nan, self.nodata, self.below, self.above
        if not self.any():
            nan, nodata = True, [] if band_nodata is None else [band_nodata]
        with np.errstate(invalid="ignore"):
            mask = ~np.isfinite(values) if nan else np.zeros(values.shape, dtype=bool)
            for z in nodata:
                mask |= values == z
            for z in below:
                mask |= values < z
            for z in above:
                mask |= values > z
        return mask

    def describe(self):
        """What a void cell is, for messages: "has a height below 0 or ..."."""
        if not self.any():
            return "has a height that is not finite or the nodata value"
        parts = ["has a height that is not finite"] if self.nan else []
        parts += ["has the height %.17g" % z for z in self.nodata]
        parts += ["has a height below %.17g" % z for z in self.below]
        parts += ["has a height above %.17g" % z for z in self.above]
        return " or ".join(parts)

    def __repr__(self):
        return "VoidRules(nan=%r, nodata=%r, below=%r, above=%r)" % (
            self.nan, self.nodata, self.below, self.above)


def _values(given):
    """None, one number or several, as a list."""
    if given is None:
        return []
    if isinstance(given, (int, float)):
        return [given]
    return list(given)


def group_reach(rings):
    """The dilation radius, in cells, that gathers voids into groups.

    The fill repairs together the voids that its search of rings steps
    from a void (through cells that are not voids, eight neighbours a step)
    reaches: voids within rings cells of each other (Chebyshev distance) at
    most. Voids whose cells, each grown by rings // 2 cells, touch or overlap
    lie within 2 * (rings // 2) + 1 >= rings cells of each other: the
    driver's groups are unions of the fill's, never parts of one.
    """
    return rings // 2


class _UnionFind:
    """Disjoint sets over the labels 1, 2, ... (0 is no label)."""

    def __init__(self):
        self.parent = [0]

    def add(self, count):
        """Adds count labels; returns the number of labels before them."""
        base = len(self.parent) - 1
        self.parent.extend(range(base + 1, base + 1 + count))
        return base

    def find(self, a):
        parent = self.parent
        root = a
        while parent[root] != root:
            root = parent[root]
        while parent[a] != root:
            parent[a], a = root, parent[a]
        return root

    def union(self, a, b):
        a, b = self.find(a), self.find(b)
        if a != b:
            if a < b:
                self.parent[b] = a
            else:
                self.parent[a] = b

    def roots(self):
        """The root of every label, as an array indexed by label."""
        import numpy as np
        parent = np.asarray(self.parent, dtype=np.int64)
        while True:
            grand = parent[parent]
            if np.array_equal(grand, parent):
                return parent
            parent = grand


def _join(sets, labels, neighbours):
    """Unites the labels of cells with the labels of their neighbours (0: none)."""
    import numpy as np
    both = (labels > 0) & (neighbours > 0)
    if not both.any():
        return
    pairs = np.unique(np.stack([labels[both], neighbours[both]], axis=1), axis=0)
    for a, b in pairs:
        sets.union(int(a), int(b))


def _join_edge(sets, first, previous):
    """Joins the labels along one edge of a block: first holds the block's first
    row (or column), previous the labels of the row (column) before it, padded
    with one 0 on each side. Eight-connected: offsets -1, 0 and +1."""
    n = len(first)
    for offset in (-1, 0, 1):
        _join(sets, first, previous[1 + offset:1 + offset + n])


class _BlockLabels:
    """The labels of one kind (voids or groups) over the blocks of a pass:
    global labels per block, the labels of the last row of the previous row
    of blocks and of the last column of the previous block, for the joins."""

    def __init__(self, width):
        import numpy as np
        self.sets = _UnionFind()
        self.previous_row = np.zeros(width + 2, dtype=np.int64)
        self.current_row = np.zeros(width + 2, dtype=np.int64)
        self.left_column = None

    def start_row(self):
        import numpy as np
        self.previous_row, self.current_row = self.current_row, np.zeros_like(self.current_row)
        self.left_column = None

    def add_block(self, local, count, column0, first_row):
        """local: the block's labels 1..count. Joins them with the labels of the
        blocks above and to the left; returns the number of labels before
        them (global label = local label + base)."""
        import numpy as np
        base = self.sets.add(count)

        def global_labels(edge):
            edge = edge.astype(np.int64)
            edge[edge > 0] += base
            return edge

        height, width = local.shape
        if not first_row:
            _join_edge(self.sets, global_labels(local[0, :]),
                       self.previous_row[column0:column0 + width + 2])
        if self.left_column is not None:
            _join_edge(self.sets, global_labels(local[:, 0]), self.left_column)
        self.current_row[1 + column0:1 + column0 + width] = global_labels(local[-1, :])
        self.left_column = np.concatenate([[0], global_labels(local[:, -1]), [0]])
        return base


class VoidTable:
    """The voids of a raster and their groups, as the labelling pass finds them.

    Arrays indexed by void, in the order of their first cells (the lowest
    row * width + column), as the fill numbers them: first, cells, row0, row1,
    column0, column1 (inclusive bounds) and group (index into the groups).
    Groups: group_row0 ... group_column1 (the bounding box of their voids) and
    group_voids (the count).
    """

    def __init__(self, width, height):
        self.width = width
        self.height = height

    @property
    def count(self):
        return len(self.first)

    @property
    def groups(self):
        return len(self.group_row0)


def _block_voids(void_labels, count, group_labels, group_base, row0, column0, width):
    """The parts of the voids in one block: a dict of arrays indexed by local
    label - 1. void_labels: the block's labels 1..count; group_labels: the
    block's labels of the groups, global after adding group_base."""
    import numpy as np
    from scipy import ndimage
    slices = ndimage.find_objects(void_labels, count)
    first_row = np.array([s[0].start for s in slices], dtype=np.int64)
    first_column = np.empty(count, dtype=np.int64)
    for k, s in enumerate(slices):
        # The first cell in row order lies in the first row of the box.
        first_column[k] = s[1].start + int(np.argmax(void_labels[s[0].start, s[1]] == k + 1))
    groups = group_labels[first_row, first_column].astype(np.int64) + group_base
    return {
        "first": (first_row + row0) * width + first_column + column0,
        "cells": np.bincount(void_labels.ravel(), minlength=count + 1)[1:].astype(np.int64),
        "row0": first_row + row0,
        "row1": np.array([s[0].stop - 1 + row0 for s in slices], dtype=np.int64),
        "column0": np.array([s[1].start + column0 for s in slices], dtype=np.int64),
        "column1": np.array([s[1].stop - 1 + column0 for s in slices], dtype=np.int64),
        "group": groups,
    }


def label_voids(band, rules, rings, block, progress=None):
    """Labels the voids of a GDAL band block by block (block x block cells, read
    with a halo for the grouping) and gathers them into groups. Returns a
    VoidTable. Memory: a few arrays of (block + 2 * reach)^2 cells and a few
    numbers per void."""
    width, height = band.XSize, band.YSize
    reach = group_reach(rings)
    voids = _BlockLabels(width)
    groups = _BlockLabels(width)
    parts = []
    with _SmallCache():
        _label_blocks(band, rules, block, reach, voids, groups, parts, progress)
    return _gather(parts, voids.sets.roots(), groups.sets.roots(), width, height)


def _label_blocks(band, rules, block, reach, voids, groups, parts, progress):
    """The loop of label_voids over the blocks."""
    import numpy as np
    from osgeo import gdal
    from scipy import ndimage
    width, height = band.XSize, band.YSize
    nodata = band.GetNoDataValue()
    structure = np.ones((3, 3), dtype=bool)
    blocks = math.ceil(height / block) * math.ceil(width / block)
    done = 0
    for row0 in range(0, height, block):
        rows = min(block, height - row0)
        voids.start_row()
        groups.start_row()
        for column0 in range(0, width, block):
            columns = min(block, width - column0)
            top, bottom = max(0, row0 - reach), min(height, row0 + rows + reach)
            left, right = max(0, column0 - reach), min(width, column0 + columns + reach)
            values = band.ReadAsArray(left, top, right - left, bottom - top,
                                      buf_type=gdal.GDT_Float64)
            if values is None:
                raise FillError("cannot read the cells of rows %d-%d, columns %d-%d"
                                % (top, bottom - 1, left, right - 1))
            halo = rules.select(values, nodata)
            core = (slice(row0 - top, row0 - top + rows),
                    slice(column0 - left, column0 - left + columns))
            mask = halo[core]
            local_voids, void_count = ndimage.label(mask, structure)
            # A block without voids of its own may still join groups around it.
            if halo.any():
                grown = ndimage.maximum_filter(halo.view(np.uint8), size=2 * reach + 1)[core]
                local_groups, group_count = ndimage.label(grown, structure)
            else:
                local_groups, group_count = local_voids, 0
            voids.add_block(local_voids, void_count, column0, row0 == 0)
            group_base = groups.add_block(local_groups, group_count, column0, row0 == 0)
            if void_count:
                parts.append(_block_voids(local_voids, void_count, local_groups, group_base,
                                          row0, column0, width))
            done += 1
            if progress:
                progress(done, blocks)


def _gather(parts, void_roots, group_roots, width, height):
    """The voids of the blocks' parts joined by their roots, and their groups."""
    import numpy as np
    table = VoidTable(width, height)
    if not parts:
        for name in ("first", "cells", "row0", "row1", "column0", "column1", "group",
                     "group_row0", "group_row1", "group_column0", "group_column1",
                     "group_voids"):
            setattr(table, name, np.zeros(0, dtype=np.int64))
        return table
    merged = {key: np.concatenate([p[key] for p in parts]) for key in parts[0]}
    # Labels were handed out in order, so part k has global label k + 1.
    roots = void_roots[1:len(merged["first"]) + 1]
    unique_roots, index = np.unique(roots, return_inverse=True)
    count = len(unique_roots)

    def reduce(key, how, start):
        out = np.full(count, start, dtype=np.int64)
        how.at(out, index, merged[key])
        return out

    big = np.iinfo(np.int64).max
    first = reduce("first", np.minimum, big)
    cells = reduce("cells", np.add, 0)
    row0, row1 = reduce("row0", np.minimum, big), reduce("row1", np.maximum, -1)
    column0, column1 = reduce("column0", np.minimum, big), reduce("column1", np.maximum, -1)
    group_root = np.zeros(count, dtype=np.int64)
    group_root[index] = group_roots[merged["group"]]
    order = np.argsort(first, kind="stable")
    table.first, table.cells = first[order], cells[order]
    table.row0, table.row1 = row0[order], row1[order]
    table.column0, table.column1 = column0[order], column1[order]
    group_ids, group_of = np.unique(group_root[order], return_inverse=True)
    # Groups numbered in the order of their first voids.
    first_void = np.full(len(group_ids), big, dtype=np.int64)
    np.minimum.at(first_void, group_of, np.arange(count))
    renumber = np.empty(len(group_ids), dtype=np.int64)
    renumber[np.argsort(first_void, kind="stable")] = np.arange(len(group_ids))
    table.group = renumber[group_of]
    groups = len(group_ids)

    def per_group(values, how, start):
        out = np.full(groups, start, dtype=np.int64)
        how.at(out, table.group, values)
        return out

    table.group_row0 = per_group(table.row0, np.minimum, big)
    table.group_row1 = per_group(table.row1, np.maximum, -1)
    table.group_column0 = per_group(table.column0, np.minimum, big)
    table.group_column1 = per_group(table.column1, np.maximum, -1)
    table.group_voids = np.bincount(table.group, minlength=groups).astype(np.int64)
    return table


def group_windows(table, rings, margin=MARGIN):
    """The window of each group as rows [row0, row1) and columns [column0, column1).

    The fill's window of a group is the bounding box of its voids and rings,
    widened by ceil(margin * its larger side) cells on every side and clipped
    to the raster (GridField::Window). The same is taken here of the box of
    the driver's group grown by rings cells (which holds every ring of the
    fill's groups inside it): a window that holds each of their windows."""
    import numpy as np
    top = np.maximum(table.group_row0 - rings, 0)
    bottom = np.minimum(table.group_row1 + rings, table.height - 1)
    left = np.maximum(table.group_column0 - rings, 0)
    right = np.minimum(table.group_column1 + rings, table.width - 1)
    side = np.maximum(bottom - top + 1, right - left + 1)
    grow = np.ceil(margin * side).astype(np.int64)
    return (np.maximum(top - grow, 0), np.minimum(bottom + grow + 1, table.height),
            np.maximum(left - grow, 0), np.minimum(right + grow + 1, table.width))


class Task:
    """One batch of groups: the window a worker reads (rows [row0, row1),
    columns [column0, column1)), the first cell of each of its voids (the
    fill's seeds) and the voids' indices in the table."""

    def __init__(self, window, voids, seeds, cost):
        self.window = window
        self.voids = voids
        self.seeds = seeds
        self.cost = cost

    def __repr__(self):
        return "Task(window=%r, voids=%d, cost=%d)" % (self.window, len(self.voids),
                                                       self.cost)


def plan_tasks(table, rings, tile=512, batch=32, margin=MARGIN):
    """Batches the groups into tasks: groups whose windows fit in a tile x tile
    square go with the other such groups whose window centres fall in the same
    tile, up to batch voids a task; larger groups go alone. Tasks come with
    the costliest first (the cells of their groups' windows), so that long
    repairs start early."""
    import numpy as np
    top, bottom, left, right = group_windows(table, rings, margin)
    voids_of = np.argsort(table.group, kind="stable")
    starts = np.searchsorted(table.group[voids_of], np.arange(table.groups + 1))
    area = (bottom - top) * (right - left)
    alone = np.maximum(bottom - top, right - left) > tile
    tile_row = (top + bottom) // 2 // tile
    tile_column = (left + right) // 2 // tile
    order = np.lexsort((np.arange(table.groups), tile_column, tile_row, alone))
    tasks = []
    current, key = [], None

    def flush():
        if current:
            g = np.array(current, dtype=np.int64)
            voids = np.concatenate([voids_of[starts[k]:starts[k + 1]] for k in g])
            window = (int(top[g].min()), int(bottom[g].max()), int(left[g].min()),
                      int(right[g].max()))
            tasks.append(Task(window, voids, table.first[voids], int(area[g].sum())))
            current.clear()

    count = 0
    for g in order:
        g = int(g)
        here = (bool(alone[g]), int(tile_row[g]), int(tile_column[g]))
        if alone[g] or here != key or count + table.group_voids[g] > batch:
            flush()
            count = 0
        key = here
        current.append(g)
        count += int(table.group_voids[g])
    flush()
    tasks.sort(key=lambda t: -t.cost)
    return tasks


def to_band_type(values, dtype):
    """Filled heights (doubles) as surface_fill stores them in a band of the
    NumPy type dtype: floating types the nearest value; integer types the
    nearest whole number (halves away from zero) held within the type's range
    (within the range of a 32-bit integer for other integer types, as
    surface_fill holds them)."""
    import numpy as np
    dtype = np.dtype(dtype)
    if dtype.kind == "f":
        return values.astype(dtype)
    if dtype.itemsize <= 4:
        info = np.iinfo(dtype)
        low, high = float(info.min), float(info.max)
    else:
        low, high = -2147483648.0, 2147483647.0
    whole = np.trunc(values)
    fraction = values - whole
    whole += np.where(np.abs(fraction) >= 0.5, np.sign(values), 0.0)
    whole = np.clip(whole, low, high)
    if dtype.kind == "u":
        whole = np.maximum(whole, 0.0)
    return whole.astype(dtype)


def fill_window(src, window, seeds, rules, rings, radius):
    """A worker's task: reads window (row0, row1, column0, column1) of SRC's
    first band, fills the groups that hold the seeds (raster cell ids) and
    returns a dict: rows, columns (int64) and values (the band's type) of the
    cells filled, the fill's report lines and the count of voids filled."""
    import numpy as np
    from osgeo import gdal
    from vtkmodules.util import numpy_support
    from vtkmodules.vtkCommonCore import (vtkIdList, vtkIdTypeArray, VTK_DOUBLE,
                                          VTK_UNSIGNED_CHAR)
    from .SurfaceRepairFilter import vtkHeightGridFill
    try:
        dataset = gdal.Open(src, gdal.GA_ReadOnly)
    except RuntimeError:  # a process that has GDAL's exceptions on
        dataset = None
    if dataset is None:
        raise FillError("Can not read the raster %s on this worker" % src)
    band = dataset.GetRasterBand(1)
    row0, row1, column0, column1 = window
    rows, columns = row1 - row0, column1 - column0
    heights = band.ReadAsArray(column0, row0, columns, rows, buf_type=gdal.GDT_Float64)
    if heights is None:
        raise FillError("cannot read rows %d-%d, columns %d-%d of %s"
                        % (row0, row1 - 1, column0, column1 - 1, src))
    heights = np.ascontiguousarray(heights, dtype=np.float64)
    mask = rules.select(heights, band.GetNoDataValue()).astype(np.uint8)
    flat_heights, flat_mask = heights.reshape(-1), mask.reshape(-1)
    fill = vtkHeightGridFill()
    fill.SetHeights(numpy_support.numpy_to_vtk(flat_heights, deep=0, array_type=VTK_DOUBLE))
    fill.SetMask(numpy_support.numpy_to_vtk(flat_mask, deep=0, array_type=VTK_UNSIGNED_CHAR))
    fill.SetBlock(columns, rows, column0, row0, dataset.RasterXSize, dataset.RasterYSize)
    fill.SetGeoTransform(dataset.GetGeoTransform())
    fill.SetRings(rings)
    fill.SetRadius(radius)
    fill.SetThreads(1)
    ids = vtkIdList()
    width = dataset.RasterXSize
    for cell in seeds:
        ids.InsertNextId(int((cell // width - row0) * columns + cell % width - column0))
    fill.SetSeeds(ids)
    filled = fill.Fill()
    if filled < 0:
        raise FillError("the fill of rows %d-%d, columns %d-%d failed: %s"
                        % (row0, row1 - 1, column0, column1 - 1, fill.GetReport()))
    cells = vtkIdTypeArray()
    fill.GetFilledCells(cells)
    at = numpy_support.vtk_to_numpy(cells).astype(np.int64)
    dtype = gdal_array_type(band.DataType)
    return {
        "rows": at // columns + row0,
        "columns": at % columns + column0,
        "values": to_band_type(flat_heights[at], dtype),
        "report": fill.GetReport(),
        "filled": filled,
    }


def gdal_array_type(gdal_type):
    """The NumPy type of a GDAL data type."""
    from osgeo import gdal_array
    return gdal_array.GDALTypeCodeToNumericTypeCode(gdal_type)


#: The columns of the report: one line a void, in the order of their first cells.
REPORT_HEADER = ("void,group,column,row,cells,ring_points,radius,model_radius,seconds,status,"
                 "message")


class FillResult:
    """What fill_raster did: counts, the voids not filled and the times.

    voids, groups, tasks, filled (voids filled), cells (void cells);
    failures: (column, row, status, message) of each void not filled;
    seconds: 'label' (the labelling pass), 'copy' (SRC copied into the
    temporary DST), 'fill' (from the first task handed out to the last result
    written), 'write' (the driver writing results), 'total'.
    """

    def __init__(self):
        self.voids = self.groups = self.tasks = self.filled = self.cells = 0
        self.failures = []
        self.seconds = {"label": 0.0, "copy": 0.0, "fill": 0.0, "write": 0.0, "total": 0.0}

    @property
    def driver_seconds(self):
        """The driver's own work: labelling, copying and writing."""
        return self.seconds["label"] + self.seconds["copy"] + self.seconds["write"]

    def __repr__(self):
        return "FillResult(voids=%d, filled=%d, groups=%d, tasks=%d, seconds=%r)" % (
            self.voids, self.filled, self.groups, self.tasks, self.seconds)


def _check_options(rings, radius, block, batch, workers):
    if int(rings) != rings or rings < 1:
        raise FillError("--ring needs a whole number of at least 1, not '%s'" % rings)
    if not (radius == 0 or (math.isfinite(radius) and radius > 0)):
        raise FillError("--radius needs a positive number or auto, not '%s'" % radius)
    if int(block) != block or block < 16:
        raise FillError("--block needs a whole number of at least 16, not '%s'" % block)
    if int(batch) != batch or batch < 1:
        raise FillError("--batch needs a whole number of at least 1, not '%s'" % batch)
    if workers is not None and (int(workers) != workers or workers < 1):
        raise FillError("--workers needs a whole number of at least 1, not '%s'" % workers)


def _open_source(src):
    from osgeo import gdal
    gdal.UseExceptions()
    try:
        dataset = gdal.Open(src, gdal.GA_ReadOnly)
    except RuntimeError as error:
        raise FillError("Can not read the raster %s: %s" % (src, error))
    if dataset is None or dataset.RasterCount < 1 or dataset.RasterXSize < 1 or \
            dataset.RasterYSize < 1:
        raise FillError("The raster %s has no cells" % src)
    band = dataset.GetRasterBand(1)
    if gdal.DataTypeIsComplex(band.DataType):
        raise FillError("The raster %s holds complex numbers (%s), not heights"
                        % (src, gdal.GetDataTypeName(band.DataType)))
    return dataset


def _temporary_path(dst):
    folder = os.path.dirname(os.path.abspath(dst))
    if not os.path.isdir(folder):
        raise FillError("Can not write %s: no folder %s" % (dst, folder))
    handle, path = tempfile.mkstemp(prefix="." + os.path.basename(dst) + ".", suffix=".partial",
                                    dir=folder)
    os.close(handle)
    return path


def _copy_source(source, path):
    """SRC copied into a tiled GeoTIFF at path: SRC's georeferencing, type and
    nodata, every cell as it is."""
    from osgeo import gdal
    driver = gdal.GetDriverByName("GTiff")
    copy = driver.CreateCopy(path, source, strict=0,
                             options=["TILED=YES", "BIGTIFF=IF_SAFER", "COPY_SRC_OVERVIEWS=NO"])
    if copy is None:
        raise FillError("Can not write %s" % path)
    return copy


def _write_cells(band, result):
    """The filled cells of one task written into band."""
    rows, columns, values = result["rows"], result["columns"], result["values"]
    if len(rows) == 0:
        return
    top, left = int(rows.min()), int(columns.min())
    bottom, right = int(rows.max()) + 1, int(columns.max()) + 1
    cells = band.ReadAsArray(left, top, right - left, bottom - top)
    cells[rows - top, columns - left] = values
    band.WriteArray(cells, left, top)


def _make_client(scheduler, workers):
    """A client of the cluster at scheduler, or of a local cluster of workers
    processes (default: one a core). Returns the client and the cluster it
    started (None for a running one)."""
    from distributed import Client, LocalCluster
    if scheduler:
        try:
            return Client(scheduler, timeout="30s"), None
        except (OSError, TimeoutError) as error:
            raise FillError("Can not reach the scheduler %s: %s" % (scheduler, error))
    count = workers or os.cpu_count() or 1
    cluster = LocalCluster(n_workers=count, threads_per_worker=1, processes=True,
                           dashboard_address="127.0.0.1:0")
    return Client(cluster), cluster


def fill_raster(src, dst, client=None, nan=False, nodata=(), below=(), above=(), rings=6,
                radius=0.0, scheduler=None, workers=None, block=1024, batch=32, report=None,
                progress=None):
    """Fills the voids of the raster src (its first band) on a Dask cluster and
    writes the result to dst, a tiled GeoTIFF: the heights surface_fill writes
    with the same options, bit for bit.

    client: a distributed.Client to use; else scheduler (an address such as
    tcp://host:8786) or a local cluster of workers processes (default: one a
    core), closed at the end. nan, nodata, below, above: the void rules
    (VoidRules). rings: the rings of known cells around each void (--ring);
    radius: the spline's support radius, 0 or 'auto' for the chooser's.
    block: the side of the blocks of the labelling pass, in cells; batch: the
    most voids a task repairs (fewer while there are fewer than 64 * batch
    voids, so that there are tasks for every worker). report: a file for one
    CSV line a void. progress(done, total): called after each task written.

    A task that fails (its worker raised, or died too often) leaves its voids
    as they are and is counted in the result's failures. dst is written to a
    temporary file beside it and renamed at the end: an error or an interrupt
    leaves no half-written dst. Returns a FillResult; raises FillError for a
    problem with the input or the options.
    """
    started = time.perf_counter()
    if radius == "auto":
        radius = 0.0
    radius = float(radius)
    _check_options(rings, radius, block, batch, workers)
    rules = VoidRules(nan, nodata, below, above)
    if os.path.exists(dst) and os.path.exists(src) and os.path.samefile(src, dst):
        raise FillError("Two rasters are one: %s and %s" % (src, dst))
    folder = os.path.dirname(os.path.abspath(dst))
    if not os.path.isdir(folder):
        raise FillError("Can not write %s: no folder %s" % (dst, folder))
    source = _open_source(src)
    source_path = src if src.startswith("/vsi") else os.path.abspath(src)
    result = FillResult()
    clock = time.perf_counter()
    table = label_voids(source.GetRasterBand(1), rules, int(rings), int(block))
    # Small batches while the voids are few, so that every worker gets some.
    batch = max(1, min(int(batch), -(-table.count // 64)))
    tasks = plan_tasks(table, int(rings), batch=batch)
    result.voids, result.groups, result.tasks = table.count, table.groups, len(tasks)
    result.cells = int(table.cells.sum())
    result.seconds["label"] = time.perf_counter() - clock
    if table.count == 0:
        raise FillError("No void found in %s: no vertex %s" % (src, rules.describe()))
    temporary = _temporary_path(dst)
    own_cluster = None
    output = None
    cache = _SmallCache()
    cache.__enter__()  # left in the finally below
    try:
        clock = time.perf_counter()
        output = _copy_source(source, temporary)
        result.seconds["copy"] = time.perf_counter() - clock
        if tasks:
            if client is None:
                client, own_cluster = _make_client(scheduler, workers)
            _run_tasks(client, source_path, tasks, table, rules, int(rings), radius,
                       output.GetRasterBand(1), result, report, progress)
        if result.filled == 0:
            why = ""
            if result.failures:
                column, row, status, message = result.failures[0]
                why = " (the void at column %d, row %d: %s%s)" % (
                    column, row, status, ": " + message if message else "")
            raise FillError("No void could be filled: %s is not written%s" % (dst, why))
        clock = time.perf_counter()
        output.FlushCache()
        output = None
        os.replace(temporary, dst)
        result.seconds["write"] += time.perf_counter() - clock
    except BaseException:
        output = None
        if os.path.exists(temporary):
            os.remove(temporary)
        raise
    finally:
        cache.__exit__()
        if own_cluster is not None:
            client.close()
            own_cluster.close()
    result.seconds["total"] = time.perf_counter() - started
    return result


def _run_tasks(client, src, tasks, table, rules, rings, radius, band, result, report,
               progress):
    """Hands out the tasks, writes their results as they come, keeps count."""
    clock = time.perf_counter()
    futures = {}
    for index, task in enumerate(tasks):
        future = client.submit(fill_window, src, task.window, task.seeds, rules, rings, radius,
                               pure=False, priority=len(tasks) - index, retries=0)
        futures[future] = task
    try:
        _gather_results(client, futures, table, band, result, report, progress)
    except BaseException:
        client.cancel(list(futures))
        raise
    result.seconds["fill"] = time.perf_counter() - clock


def _gather_results(client, futures, table, band, result, report, progress):
    """Writes the results of the futures (a dict future: task) as they come."""
    from distributed import as_completed
    lines = []
    done, total = 0, len(futures)
    for future in as_completed(list(futures)):
        task = futures.pop(future)
        try:
            outcome = future.result()
        except Exception as error:  # a task that failed: its voids stay voids
            message = str(error).replace(",", ";").replace("\n", " ")
            for void in task.voids:
                first = int(table.first[void])
                result.failures.append((first % table.width, first // table.width, "failed",
                                        message))
            outcome = None
        future.release()
        if outcome is not None:
            write_clock = time.perf_counter()
            _write_cells(band, outcome)
            result.seconds["write"] += time.perf_counter() - write_clock
            result.filled += outcome["filled"]
            for line in outcome["report"].splitlines():
                _take_report_line(line, table, result, lines)
        done += 1
        if progress:
            progress(done, total)
    if report:
        _write_report(report, table, lines, result)


def _take_report_line(line, table, result, lines):
    """One line of a worker's report (vtkHeightGridFill::GetReport)."""
    fields = line.split(",", 8)
    if len(fields) < 8:
        return
    column, row, status = int(fields[0]), int(fields[1]), fields[7]
    message = fields[8] if len(fields) > 8 else ""
    lines.append((row * table.width + column, line))
    if status != "filled":
        result.failures.append((column, row, status, message))


def _write_report(path, table, lines, result):
    """One CSV line a void, in the order of the voids' first cells."""
    import numpy as np
    known = {first: line for first, line in lines}
    failed = {row * table.width + column: (status, message)
              for column, row, status, message in result.failures}
    group_first = np.full(table.groups, table.count, dtype=np.int64)
    np.minimum.at(group_first, table.group, np.arange(table.count))
    with open(path, "w") as out:
        out.write(REPORT_HEADER + "\n")
        for void in range(table.count):
            first = int(table.first[void])
            group = int(group_first[table.group[void]])
            line = known.get(first)
            if line is None:
                status, message = failed.get(first, ("failed", "no result"))
                line = "%d,%d,%d,,,,,%s,%s" % (first % table.width, first // table.width,
                                               table.cells[void], status, message)
            out.write("%d,%d,%s\n" % (void + 1, group + 1, line))


USAGE = """python3 -m surface_repair.fill [--nan] [--nodata Z] [--below Z] [--above Z]
              [--ring K] [--radius R|auto] [--scheduler ADDRESS | --workers N]
              [--block PIXELS] [--batch N] [--report FILE] [-q] SRC DST"""


class _Options:
    """The command line's options, with their defaults."""

    def __init__(self):
        self.nan = self.quiet = False
        self.nodata, self.below, self.above = [], [], []
        self.ring, self.radius, self.block, self.batch = 6, 0.0, 1024, 32
        self.scheduler = self.workers = self.report = None
        self.files = []


def _whole(option, word, low, high):
    try:
        value = int(word)
    except ValueError:
        value = low - 1
    if not low <= value <= high:
        raise FillError("%s needs a whole number from %d to %d, not '%s'"
                        % (option, low, high, word))
    return value


def _take(options, word, value):
    """One option with a value."""
    if word in ("--nodata", "--below", "--above"):
        getattr(options, word[2:]).append(_finite(word)(value))
    elif word == "--ring":
        options.ring = _whole(word, value, 1, 1000)
    elif word == "--radius":
        options.radius = 0.0 if value == "auto" else _finite(word)(value)
        if options.radius <= 0:
            raise FillError("--radius needs auto or a positive number, not '%s'" % value)
    elif word == "--block":
        options.block = _whole(word, value, 16, 1 << 20)
    elif word == "--batch":
        options.batch = _whole(word, value, 1, 1 << 20)
    elif word == "--workers":
        options.workers = _whole(word, value, 1, 4096)
    elif word == "--scheduler":
        options.scheduler = value
    elif word == "--report":
        options.report = value
    else:
        raise FillError("Unknown option %s\nUsage: %s" % (word, USAGE))


def _parse(argv):
    """The options of the command line (as surface_fill reads its own: an
    option's value is the next word, whatever it is)."""
    options = _Options()
    words = list(argv)
    while words:
        word = words.pop(0)
        if word in ("-h", "--help"):
            print("Usage: " + USAGE)
            sys.exit(0)
        elif word == "--nan":
            options.nan = True
        elif word == "-q":
            options.quiet = True
        elif word.startswith("-") and len(word) > 1:
            if not words:
                raise FillError("%s needs a value" % word)
            _take(options, word, words.pop(0))
        else:
            options.files.append(word)
    if len(options.files) != 2:
        raise FillError(("An input and an output raster are needed" if len(options.files) < 2
                         else "Too many files given: %s" % options.files[2]) +
                        "\nUsage: " + USAGE)
    if options.scheduler and options.workers:
        raise FillError("Give --scheduler or --workers, not both")
    options.src, options.dst = options.files
    return options


def _finite(option):
    def number(word):
        try:
            value = float(word)
        except ValueError:
            value = float("nan")
        if not math.isfinite(value):
            raise FillError("%s needs a finite number, not '%s'" % (option, word))
        return value
    return number


def main(argv=None):
    """The program: returns its exit status."""
    import signal
    signal.signal(signal.SIGTERM, signal.default_int_handler)
    try:
        options = _parse(sys.argv[1:] if argv is None else argv)
        terminal = not options.quiet and sys.stderr.isatty()
        progress = None
        if terminal:
            from osgeo import gdal
            progress = lambda done, total: gdal.TermProgress_nocb(done / total)
        result = fill_raster(options.src, options.dst, nan=options.nan, nodata=options.nodata,
                             below=options.below, above=options.above, rings=options.ring,
                             radius=options.radius, scheduler=options.scheduler,
                             workers=options.workers, block=options.block, batch=options.batch,
                             report=options.report, progress=progress)
    except FillError as error:
        print(str(error), file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        print("Interrupted: %s not written" % (argv or sys.argv[1:])[-1], file=sys.stderr)
        return 130
    except MemoryError:
        print("Not enough memory", file=sys.stderr)
        return 1
    for column, row, status, message in result.failures:
        print("Void at column %d, row %d: %s%s" % (column, row, status,
              ": " + message if message else ""), file=sys.stderr)
    if not options.quiet:
        print("%d voids (%d cells) in %d groups, %d tasks: %d filled; %.1f s"
              % (result.voids, result.cells, result.groups, result.tasks, result.filled,
                 result.seconds["total"]))
    return 0
