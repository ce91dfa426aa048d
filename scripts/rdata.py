"""Numeric data sets out of R's data files, with the Python standard library only.

Reads the part of R's serialisation format (XDR, versions 2 and 3) that data sets of numbers
use: vectors, matrices (a "dim" attribute) and named lists of them. Two containers hold them:
a package's lazy-load database (data/Rdata.rdx with data/Rdata.rdb, as the datasets package
keeps volcano) and a single .rda file (as the fields package keeps RMelevation).

    load_rda(path)                  {name: object} of an .rda file
    load_lazy(rdx, rdb, name)       one object of a lazy-load database
    matrix(obj)                     (rows, cols, values in column order) of a numeric matrix
    members(obj)                    {name: member} of a named list

NA is read as NaN.
"""

import bz2
import gzip
import lzma
import struct
import zlib

# Types of the serialisation format that a numeric data set uses.
NIL, SYMBOL, PAIRLIST = 254, 1, 2
CHARS, LOGICAL, INTEGER, REAL, STRINGS, LIST = 9, 10, 13, 14, 16, 19
REFERENCE = 255
NA_INTEGER = -2147483648


class Vector:
    """A vector of R: its values and its attributes ({name: object})."""

    def __init__(self, values, attributes):
        self.values = values
        self.attributes = attributes


class _Reader:
    def __init__(self, data):
        self.data = data
        self.at = 0
        self.references = []

    def int(self):
        value = struct.unpack_from(">i", self.data, self.at)[0]
        self.at += 4
        return value

    def pairlist(self, flags):
        """A pairlist as a dict of its tagged elements (attributes, named arguments)."""
        out = {}
        while True:
            if flags & (1 << 9):
                self.item()  # attributes of the pairlist itself
            tag = self.item() if flags & (1 << 10) else None
            out[tag] = self.item()
            flags = self.int()
            if flags & 0xFF == NIL:
                return out
            if flags & 0xFF != PAIRLIST:
                raise ValueError("pairlist ends in type %d" % (flags & 0xFF))

    def item(self):
        flags = self.int()
        kind = flags & 0xFF
        if kind == NIL:
            return None
        if kind == REFERENCE:
            index = flags >> 8 or self.int()
            return self.references[index - 1]
        if kind == SYMBOL:
            name = self.item()
            self.references.append(name)
            return name
        if kind == PAIRLIST:
            return self.pairlist(flags)
        if kind == CHARS:
            n = self.int()
            if n == -1:
                return None
            text = self.data[self.at:self.at + n].decode("latin1")
            self.at += n
            return text
        if kind in (LOGICAL, INTEGER):
            n = self.int()
            raw = struct.unpack_from(">%di" % n, self.data, self.at)
            self.at += 4 * n
            values = [float("nan") if v == NA_INTEGER else v for v in raw]
        elif kind == REAL:
            n = self.int()
            values = list(struct.unpack_from(">%dd" % n, self.data, self.at))
            self.at += 8 * n
        elif kind in (STRINGS, LIST):
            n = self.int()
            values = [self.item() for _ in range(n)]
        else:
            raise ValueError("type %d is not read (only numeric data sets are)" % kind)
        attributes = self.item() if flags & (1 << 9) else None
        return Vector(values, attributes or {})


def unserialize(data):
    """The object serialised in data (starting at its "X\\n" format mark)."""
    if data[:2] != b"X\n":
        raise ValueError("not an XDR serialisation")
    reader = _Reader(data)
    reader.at = 2
    version = reader.int()
    reader.int()  # the writer's R version
    reader.int()  # the oldest R version that reads it
    if version == 3:
        reader.at += 4 + reader.int()  # the native encoding's name
    return reader.item()


def _decompressed(data):
    if data[:2] == b"\x1f\x8b":
        return gzip.decompress(data)
    if data[:3] == b"BZh":
        return bz2.decompress(data)
    if data[:6] == b"\xfd7zXZ\x00":
        return lzma.decompress(data)
    return data


def load_rda(path):
    """{name: object} of an .rda file (saved by R's save())."""
    with open(path, "rb") as f:
        data = _decompressed(f.read())
    if data[:5] not in (b"RDX2\n", b"RDX3\n"):
        raise ValueError("%s: not an R data file" % path)
    return unserialize(data[5:])


def load_lazy(rdx_path, rdb_path, name):
    """The object called name in a lazy-load database."""
    with open(rdx_path, "rb") as f:
        index = f.read()
    index = unserialize(gzip.decompress(index) if index[:2] == b"\x1f\x8b"
                        else zlib.decompress(index[4:]))
    variables = members(members(index)["variables"])
    offset, length = (int(v) for v in variables[name].values)
    with open(rdb_path, "rb") as f:
        f.seek(offset)
        block = f.read(length)
    # 4 bytes of uncompressed length, then (for compression types 2 and 3) one byte naming the
    # compression: Z for a raw LZMA2 stream, 2 for bzip2, 1 for zlib, 0 for none.
    kind, body = block[4:5], block[5:]
    if kind == b"Z":
        filters = [{"id": lzma.FILTER_LZMA2, "preset": 9 | lzma.PRESET_EXTREME}]
        data = lzma.decompress(body, format=lzma.FORMAT_RAW, filters=filters)
    elif kind == b"2":
        data = bz2.decompress(body)
    elif kind == b"1":
        data = zlib.decompress(body)
    elif kind == b"0":
        data = body
    else:
        data = zlib.decompress(block[4:])
    return unserialize(data)


def members(obj):
    """{name: member} of a named list."""
    names = obj.attributes.get("names")
    if names is None:
        raise ValueError("not a named list")
    return dict(zip(names.values, obj.values))


def matrix(obj):
    """(rows, cols, values in column order) of a numeric matrix."""
    dim = obj.attributes.get("dim")
    if dim is None or len(dim.values) != 2:
        raise ValueError("not a matrix")
    rows, cols = (int(v) for v in dim.values)
    return rows, cols, obj.values
