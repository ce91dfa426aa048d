#include "RasterFile.h"

#include "MeshFile.h"

#include <gdal.h>
#include <cpl_conv.h>
#include <cpl_string.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <limits>
#include <mutex>
#include <unistd.h>

namespace
{
void RegisterDrivers()
{
  static std::once_flag once;
  std::call_once(once, [] {
    GDALAllRegister();
    CPLSetConfigOption("GDAL_PAM_ENABLED", "NO"); // no .aux.xml beside the files
    // The cells are read and written once, in order: GDAL's block cache
    // (5% of the memory by default) would only hold a second copy of them.
    if (CPLGetConfigOption("GDAL_CACHEMAX", nullptr) == nullptr)
    {
      GDALSetCacheMax64(16 << 20);
    }
  });
}

std::string LastGdalError()
{
  const char* text = CPLGetLastErrorMsg();
  return text && *text ? std::string(": ") + text : std::string();
}


// The driver that writes out: the source's when the extensions agree or out
// has none, otherwise the first that lists out's extension and can copy.
GDALDriverH OutputDriver(GDALDatasetH source, const std::string& sourcePath, const std::string& out)
{
  const std::string ext = Extension(out);
  if (ext.empty() || ext == Extension(sourcePath))
  {
    return GDALGetDatasetDriver(source);
  }
  for (int k = 0; k < GDALGetDriverCount(); ++k)
  {
    GDALDriverH driver = GDALGetDriver(k);
    const char* list = GDALGetMetadataItem(driver, GDAL_DMD_EXTENSIONS, nullptr);
    const bool raster = GDALGetMetadataItem(driver, GDAL_DCAP_RASTER, nullptr) != nullptr;
    const bool copies = GDALGetMetadataItem(driver, GDAL_DCAP_CREATECOPY, nullptr) != nullptr ||
      GDALGetMetadataItem(driver, GDAL_DCAP_CREATE, nullptr) != nullptr;
    if (!list || !raster || !copies)
    {
      continue;
    }
    char** words = CSLTokenizeString(list);
    bool match = false;
    for (int w = 0; words && words[w]; ++w)
    {
      match = match || EQUAL(words[w], ext.c_str() + 1);
    }
    CSLDestroy(words);
    if (match)
    {
      return driver;
    }
  }
  return nullptr;
}

// Replaces the filled cells of one row of the copy, read and written in the
// band's own type so that the other cells keep their bits.
template <typename T>
bool WriteRow(GDALRasterBandH band, const Raster& raster, const std::vector<char>& filled, int row,
  GDALDataType type, std::vector<T>& line)
{
  if (GDALRasterIO(band, GF_Read, 0, row, raster.Width, 1, line.data(), raster.Width, 1, type, 0, 0) != CE_None)
  {
    return false;
  }
  const size_t first = static_cast<size_t>(row) * static_cast<size_t>(raster.Width);
  for (int c = 0; c < raster.Width; ++c)
  {
    if (filled[first + static_cast<size_t>(c)])
    {
      line[static_cast<size_t>(c)] = static_cast<T>(StoredValue(raster, raster.Heights[first + static_cast<size_t>(c)]));
    }
  }
  return GDALRasterIO(band, GF_Write, 0, row, raster.Width, 1, line.data(), raster.Width, 1, type, 0, 0) == CE_None;
}

template <typename T>
bool WriteFilledRows(GDALRasterBandH band, const Raster& raster, const std::vector<char>& filled, GDALDataType type)
{
  std::vector<T> line(static_cast<size_t>(raster.Width));
  for (int r = 0; r < raster.Height; ++r)
  {
    const auto begin = filled.begin() + static_cast<std::ptrdiff_t>(r) * raster.Width;
    if (std::find(begin, begin + raster.Width, 1) != begin + raster.Width &&
      !WriteRow(band, raster, filled, r, type, line))
    {
      return false;
    }
  }
  return true;
}

bool WriteFilledCells(GDALRasterBandH band, const Raster& raster, const std::vector<char>& filled)
{
  switch (static_cast<GDALDataType>(raster.Type))
  {
    case GDT_Byte:
      return WriteFilledRows<std::uint8_t>(band, raster, filled, GDT_Byte);
    case GDT_UInt16:
      return WriteFilledRows<std::uint16_t>(band, raster, filled, GDT_UInt16);
    case GDT_Int16:
      return WriteFilledRows<std::int16_t>(band, raster, filled, GDT_Int16);
    case GDT_UInt32:
      return WriteFilledRows<std::uint32_t>(band, raster, filled, GDT_UInt32);
    case GDT_Int32:
      return WriteFilledRows<std::int32_t>(band, raster, filled, GDT_Int32);
    case GDT_Float32:
      return WriteFilledRows<float>(band, raster, filled, GDT_Float32);
    default:
      return WriteFilledRows<double>(band, raster, filled, GDT_Float64);
  }
}
} // namespace

double StoredValue(const Raster& raster, double z)
{
  if (!raster.Integer)
  {
    return raster.Single ? static_cast<double>(static_cast<float>(z)) : z;
  }
  double lo = 0.0, hi = 0.0;
  switch (static_cast<GDALDataType>(raster.Type))
  {
    case GDT_Byte: lo = 0; hi = 255; break;
    case GDT_UInt16: lo = 0; hi = 65535; break;
    case GDT_Int16: lo = -32768; hi = 32767; break;
    case GDT_UInt32: lo = 0; hi = 4294967295.0; break;
    default: lo = -2147483648.0; hi = 2147483647.0; break;
  }
  return std::clamp(std::round(z), lo, hi);
}

bool ReadRaster(const std::string& path, Raster& raster, std::string& problem)
{
  RegisterDrivers();
  CPLErrorReset();
  GDALDatasetH data = GDALOpen(path.c_str(), GA_ReadOnly);
  if (data == nullptr)
  {
    problem = "Can not read the raster " + path + LastGdalError();
    return false;
  }
  raster.Width = GDALGetRasterXSize(data);
  raster.Height = GDALGetRasterYSize(data);
  raster.Bands = GDALGetRasterCount(data);
  if (raster.Bands < 1 || raster.Width < 1 || raster.Height < 1)
  {
    GDALClose(data);
    problem = "The raster " + path + " has no cells";
    return false;
  }
  if (GDALGetGeoTransform(data, raster.Geo) != CE_None)
  {
    const double plain[6] = { 0.0, 1.0, 0.0, 0.0, 0.0, 1.0 }; // GDAL's default: pixel units
    std::copy(plain, plain + 6, raster.Geo);
  }
  raster.DriverName = GDALGetDriverShortName(GDALGetDatasetDriver(data));
  GDALRasterBandH band = GDALGetRasterBand(data, 1);
  int has = 0;
  raster.NoData = GDALGetRasterNoDataValue(band, &has);
  raster.HasNoData = has != 0;
  const GDALDataType type = GDALGetRasterDataType(band);
  raster.Type = static_cast<int>(type);
  raster.TypeName = GDALGetDataTypeName(type);
  raster.Integer = !GDALDataTypeIsFloating(type);
  raster.Single = type == GDT_Float32;
  if (GDALDataTypeIsComplex(type))
  {
    GDALClose(data);
    problem = "The raster " + path + " holds complex numbers (" + raster.TypeName + "), not heights";
    return false;
  }
  raster.Heights.resize(static_cast<size_t>(raster.Width) * static_cast<size_t>(raster.Height));
  const CPLErr read = GDALRasterIO(band, GF_Read, 0, 0, raster.Width, raster.Height,
    raster.Heights.data(), raster.Width, raster.Height, GDT_Float64, 0, 0);
  GDALClose(data);
  if (read != CE_None)
  {
    problem = "Can not read the cells of " + path + LastGdalError();
    return false;
  }
  return true;
}

bool WriteRaster(const std::string& source, const std::string& out, const Raster& raster,
  const std::vector<char>& filled, std::string& problem)
{
  RegisterDrivers();
  CPLErrorReset();
  GDALDatasetH input = GDALOpen(source.c_str(), GA_ReadOnly);
  if (input == nullptr)
  {
    problem = "Can not read the raster " + source + LastGdalError();
    return false;
  }
  GDALDriverH driver = OutputDriver(input, source, out);
  if (driver == nullptr)
  {
    GDALClose(input);
    problem = "No raster format writes files named like " + out;
    return false;
  }
  const std::string ext = Extension(out);
  const std::string temporary = out + ".part" + std::to_string(getpid()) + ext;
  // A GeoTIFF copy takes the cells in place; other formats may only be
  // copied whole, so the cells go into a copy in memory first.
  const bool inPlace = EQUAL(GDALGetDriverShortName(driver), "GTiff");
  GDALDatasetH copy = inPlace
    ? GDALCreateCopy(driver, temporary.c_str(), input, FALSE, nullptr, nullptr, nullptr)
    : GDALCreateCopy(GDALGetDriverByName("MEM"), "", input, FALSE, nullptr, nullptr, nullptr);
  GDALClose(input);
  bool written = copy != nullptr && WriteFilledCells(GDALGetRasterBand(copy, 1), raster, filled);
  if (copy != nullptr && !inPlace && written)
  {
    GDALDatasetH file = GDALCreateCopy(driver, temporary.c_str(), copy, FALSE, nullptr, nullptr, nullptr);
    written = file != nullptr;
    if (file != nullptr)
    {
      GDALClose(file);
    }
  }
  if (copy != nullptr)
  {
    GDALFlushCache(copy);
    written = written && CPLGetLastErrorType() < CE_Failure;
    GDALClose(copy);
  }
  if (!written || std::rename(temporary.c_str(), out.c_str()) != 0)
  {
    problem = "Can not write " + out + LastGdalError();
    GDALDeleteDataset(driver, temporary.c_str());
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}
