"""python3 -m surface_repair.fill SRC DST: the voids of a raster filled on a
Dask cluster, as surface_fill fills them (see surface_repair.raster_fill)."""
import sys

from surface_repair.raster_fill import main

if __name__ == "__main__":
    sys.exit(main())
