#ifndef RasterFile_h
#define RasterFile_h

#include <string>
#include <vector>

/**
 * The first band of a raster GDAL reads, as doubles, with what writing it
 * back needs to know.
 */
struct Raster
{
  int Width = 0;
  int Height = 0;
  int Bands = 0;
  double Geo[6] = { 0.0, 1.0, 0.0, 0.0, 0.0, -1.0 }; ///< GDAL's default without one: rows go down
  bool HasNoData = false;
  double NoData = 0.0;
  bool Integer = false;      ///< the band holds whole numbers
  bool Single = false;       ///< the band holds floats (32 bits)
  int Type = 0;              ///< GDALDataType of band 1
  std::string TypeName;      ///< "Float32", "Int16", ...
  std::string DriverName;    ///< "GTiff", ...
  std::vector<double> Heights; ///< Width * Height values, rows from the top
};

/// Reads band 1 of path; false with problem naming the file and the reason.
bool ReadRaster(const std::string& path, Raster& raster, std::string& problem);

/**
 * Writes out as a copy of source made by GDAL (size, data type,
 * georeferencing, nodata, metadata and every band as they are), with the
 * cells whose filled flag is set in band 1 replaced by the raster's heights:
 * rounded to the nearest whole number (halves away from zero) and held within
 * the type's range for integer types. Every other cell keeps its bits. The
 * format is the one of out's extension (source's own when they agree). The
 * copy is made under a temporary name beside out and renamed onto it when
 * complete; false with problem after a failure, which leaves an earlier out
 * as it was.
 */
bool WriteRaster(const std::string& source, const std::string& out, const Raster& raster,
  const std::vector<char>& filled, std::string& problem);

/// A height as the band of raster stores it (see WriteRaster).
double StoredValue(const Raster& raster, double z);

#endif
