// The void fill: the library on grids and meshes in memory (voids, groups,
// windows, threads, blocks of a larger raster) and surface_fill run as a
// process on rasters and meshes of every format it writes.

#include "TestSupport.h"
#include "VoidFill.h"

#include <gtest/gtest.h>

#include <gdal.h>
#include <cpl_string.h>

#include <vtkCellArray.h>
#include <vtkDoubleArray.h>
#include <vtkNew.h>
#include <vtkOBJWriter.h>
#include <vtkPLYReader.h>
#include <vtkPLYWriter.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkPolyDataWriter.h>
#include <vtkSTLReader.h>
#include <vtkSTLWriter.h>
#include <vtkOBJReader.h>
#include <vtkXMLPolyDataReader.h>
#include <vtkXMLPolyDataWriter.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

using namespace testsupport;

namespace
{
const double Geo[6] = { 500000.0, 30.0, 0.0, 4200000.0, 0.0, -30.0 };

// A smooth relief of about 100 m over a grid of 30 m cells.
double Terrain(int column, int row)
{
  return 300.0 + 40.0 * std::sin(column / 17.0) + 25.0 * std::cos(row / 13.0) + 0.3 * column;
}

// A width x height grid of Terrain with round voids (centre column, row,
// radius in cells) flagged in selected; heights there are NaN.
struct TestGrid
{
  int Width, Height;
  std::vector<double> Truth, Heights;
  std::vector<char> Selected;

  TestGrid(int width, int height, const std::vector<std::array<double, 3>>& voids)
    : Width(width)
    , Height(height)
  {
    for (int r = 0; r < height; ++r)
    {
      for (int c = 0; c < width; ++c)
      {
        bool hit = false;
        for (const auto& v : voids)
        {
          hit = hit || (c - v[0]) * (c - v[0]) + (r - v[1]) * (r - v[1]) <= v[2] * v[2];
        }
        this->Truth.push_back(Terrain(c, r));
        this->Heights.push_back(hit ? std::nan("") : Terrain(c, r));
        this->Selected.push_back(hit ? 1 : 0);
      }
    }
  }

  FillSummary Fill(const FillOptions& options)
  {
    GridField field(this->Heights.data(), this->Width, this->Height, Geo);
    return FillVoids(field, this->Selected, options);
  }
};

// Voids spread over a grid: radii 2 to 7 cells, none on the border.
std::vector<std::array<double, 3>> ScatteredVoids(int count, int width, int height)
{
  std::vector<std::array<double, 3>> voids;
  unsigned state = 12345u;
  auto next = [&state](double lo, double hi) {
    state = state * 1103515245u + 12345u;
    return lo + (hi - lo) * ((state >> 8) & 0xffff) / 65535.0;
  };
  for (int k = 0; k < count; ++k)
  {
    voids.push_back({ next(10, width - 10), next(10, height - 10), next(2, 7) });
  }
  return voids;
}

TEST(GridFill, FillsEachVoidCloseToTheTrueSurfaceAndNothingElse)
{
  TestGrid grid(90, 80, { { 20, 20, 5 }, { 60, 25, 3 }, { 45, 60, 7 } });
  const FillSummary summary = grid.Fill(FillOptions());
  ASSERT_EQ(summary.Voids.size(), 3u);
  EXPECT_EQ(summary.Groups, 3);
  EXPECT_EQ(summary.FilledVoids, 3);
  vtkIdType selected = std::count(grid.Selected.begin(), grid.Selected.end(), 1);
  EXPECT_EQ(summary.MovedVertices, selected);
  double worst = 0.0;
  for (size_t v = 0; v < grid.Heights.size(); ++v)
  {
    if (grid.Selected[v])
    {
      worst = std::max(worst, std::abs(grid.Heights[v] - grid.Truth[v]));
    }
    else
    {
      ASSERT_EQ(grid.Heights[v], grid.Truth[v]) << "cell " << v << " is not in a void";
    }
  }
  // The relief spans about 150 m; a smooth surface is filled within a few metres.
  EXPECT_LT(worst, 3.0);
  // Records in the order of the voids' first cells, with their sizes.
  EXPECT_LT(summary.Voids[0].FirstVertex, summary.Voids[1].FirstVertex);
  EXPECT_LT(summary.Voids[1].FirstVertex, summary.Voids[2].FirstVertex);
  for (const VoidRecord& v : summary.Voids)
  {
    EXPECT_EQ(v.Status, VoidStatus::Filled);
    EXPECT_GT(v.Radius, 0.0);
    EXPECT_GT(v.RingPoints, 0);
    EXPECT_GT(v.Reach, 0.0);
    EXPECT_FALSE(v.Border);
  }
}

TEST(GridFill, SameBitsForOneAndTwoThreads)
{
  const auto voids = ScatteredVoids(24, 160, 140);
  TestGrid one(160, 140, voids);
  TestGrid two(160, 140, voids);
  FillOptions options;
  options.Threads = 1;
  const FillSummary first = one.Fill(options);
  options.Threads = 2;
  const FillSummary second = two.Fill(options);
  EXPECT_GT(first.FilledVoids, 10);
  EXPECT_EQ(first.FilledVoids, second.FilledVoids);
  EXPECT_EQ(0, std::memcmp(one.Heights.data(), two.Heights.data(), one.Heights.size() * sizeof(double)));
  for (size_t k = 0; k < first.Voids.size(); ++k)
  {
    EXPECT_EQ(first.Voids[k].Radius, second.Voids[k].Radius);
  }
}

TEST(GridFill, VoidsWhoseRingsMeetAreRepairedTogether)
{
  // Rings of 3 cells: a void 1 cell from another is in its ring, one 22
  // cells away is not.
  TestGrid grid(90, 60, { { 20, 30, 3 }, { 28, 30, 3 }, { 54, 30, 3 } });
  FillOptions options;
  options.Rings = 3;
  const FillSummary summary = grid.Fill(options);
  ASSERT_EQ(summary.Voids.size(), 3u);
  EXPECT_EQ(summary.Groups, 2);
  EXPECT_EQ(summary.Voids[0].Group, summary.Voids[0].Id);
  EXPECT_EQ(summary.Voids[1].Group, summary.Voids[0].Id);
  EXPECT_EQ(summary.Voids[2].Group, summary.Voids[2].Id);
  EXPECT_EQ(summary.Voids[0].RingPoints, summary.Voids[1].RingPoints);
  EXPECT_EQ(summary.FilledVoids, 3);
  // Nothing is left unfilled between them.
  for (size_t v = 0; v < grid.Heights.size(); ++v)
  {
    ASSERT_TRUE(std::isfinite(grid.Heights[v])) << "cell " << v;
  }
}

TEST(GridFill, VoidsThatCannotBeFilledAreLeftAndSayWhy)
{
  // A void inside a patch of NaN heights that are not selected: no ring.
  TestGrid grid(80, 60, { { 20, 30, 3 }, { 55, 40, 4 } });
  for (int r = 20; r <= 40; ++r)
  {
    for (int c = 10; c <= 30; ++c)
    {
      const size_t v = static_cast<size_t>(r * 80 + c);
      if (!grid.Selected[v])
      {
        grid.Heights[v] = std::nan("");
      }
    }
  }
  const std::vector<double> before = grid.Heights;
  const FillSummary summary = grid.Fill(FillOptions());
  ASSERT_EQ(summary.Voids.size(), 2u);
  EXPECT_EQ(summary.Voids[0].Status, VoidStatus::NoRing);
  EXPECT_EQ(summary.Voids[1].Status, VoidStatus::Filled);
  EXPECT_EQ(summary.FilledVoids, 1);
  for (int r = 20; r <= 40; ++r)
  {
    EXPECT_TRUE(std::isnan(grid.Heights[static_cast<size_t>(r * 80 + 20)]));
  }

  // A radius that does not reach the middle of a void from its ring.
  TestGrid small(80, 60, { { 40, 30, 6 } });
  FillOptions tiny;
  tiny.Radius = 0.01;
  const FillSummary reached = small.Fill(tiny);
  EXPECT_EQ(reached.Voids[0].Status, VoidStatus::OutOfReach);
  EXPECT_TRUE(std::isnan(small.Heights[static_cast<size_t>(30 * 80 + 40)]));
  EXPECT_EQ(reached.FilledVoids, 0);
}

// A block of a larger raster that holds a group's whole window fills that
// group with the same bits as the whole raster: what lets workers fill
// blocks of a raster they never hold whole.
TEST(GridFill, BlockOfALargerRasterFillsAsTheWhole)
{
  const auto voids = ScatteredVoids(12, 150, 120);
  TestGrid whole(150, 120, voids);
  const FillSummary all = whole.Fill(FillOptions());
  ASSERT_GT(all.FilledVoids, 5);

  // The block: columns 30..119, rows 20..109 of the whole.
  const int c0 = 30, r0 = 20, w = 90, h = 90;
  TestGrid fresh(150, 120, voids);
  std::vector<double> block;
  std::vector<char> selected;
  for (int r = r0; r < r0 + h; ++r)
  {
    for (int c = c0; c < c0 + w; ++c)
    {
      block.push_back(fresh.Heights[static_cast<size_t>(r * 150 + c)]);
      selected.push_back(fresh.Selected[static_cast<size_t>(r * 150 + c)]);
    }
  }
  // Seed the void nearest the block's middle.
  const VoidRecord* chosen = nullptr;
  for (const VoidRecord& v : all.Voids)
  {
    const int c = static_cast<int>(v.FirstVertex % 150), r = static_cast<int>(v.FirstVertex / 150);
    if (c > c0 + 25 && c < c0 + w - 25 && r > r0 + 25 && r < r0 + h - 25 && v.Group == v.Id)
    {
      chosen = &v;
      break;
    }
  }
  ASSERT_NE(chosen, nullptr);
  const int sc = static_cast<int>(chosen->FirstVertex % 150) - c0;
  const int sr = static_cast<int>(chosen->FirstVertex / 150) - r0;
  GridField field(block.data(), w, h, Geo, c0, r0, 150, 120);
  FillOptions options;
  options.Seeds = { static_cast<vtkIdType>(sr * w + sc) };
  const FillSummary part = FillVoids(field, selected, options);
  vtkIdType compared = 0;
  for (int r = 0; r < h; ++r)
  {
    for (int c = 0; c < w; ++c)
    {
      const double z = block[static_cast<size_t>(r * w + c)];
      const double expected = whole.Heights[static_cast<size_t>((r + r0) * 150 + c + c0)];
      if (selected[static_cast<size_t>(r * w + c)] && std::isfinite(z))
      {
        ASSERT_EQ(z, expected) << "cell " << c + c0 << ", " << r + r0;
        ++compared;
      }
    }
  }
  EXPECT_EQ(compared, chosen->Vertices);
  EXPECT_EQ(part.FilledVoids, 1);
}

// ---------------------------------------------------------------------------
// The window of a void as surface_repair would get it from files.

vtkSmartPointer<vtkPolyData> MeshFromGrid(const TestGrid& grid, bool voidsAsNaN)
{
  vtkNew<vtkPoints> points;
  points->SetDataTypeToDouble();
  for (int r = 0; r < grid.Height; ++r)
  {
    for (int c = 0; c < grid.Width; ++c)
    {
      const size_t v = static_cast<size_t>(r * grid.Width + c);
      points->InsertNextPoint(Geo[0] + 30.0 * c, Geo[3] - 30.0 * r,
        grid.Selected[v] ? (voidsAsNaN ? std::nan("") : -1000.0) : grid.Truth[v]);
    }
  }
  vtkNew<vtkCellArray> cells;
  AddGridTriangles(cells, grid.Width, grid.Height);
  auto model = vtkSmartPointer<vtkPolyData>::New();
  model->SetPoints(points);
  model->SetPolys(cells);
  return model;
}

void WriteBinary(vtkPolyData* model, const std::string& path)
{
  vtkNew<vtkPolyDataWriter> writer;
  writer->SetFileTypeToBinary();
  writer->SetFileName(path.c_str());
  writer->SetInputData(model);
  ASSERT_EQ(writer->Write(), 1);
}

TEST(WindowModel, FillEqualsSurfaceRepairOnTheWindow)
{
  TestGrid grid(70, 60, { { 20, 20, 4 }, { 48, 38, 6 } });
  vtkSmartPointer<vtkPolyData> mesh = MeshFromGrid(grid, true);
  std::vector<char> selected = grid.Selected;
  FillSummary summary;
  std::vector<std::vector<vtkIdType>> groups(2);
  {
    MeshField field(mesh);
    for (vtkIdType v = 0; v < mesh->GetNumberOfPoints(); ++v)
    {
      if (selected[static_cast<size_t>(v)])
      {
        groups[(v % 70) < 34 ? 0 : 1].push_back(v);
      }
    }
    summary = FillVoids(field, selected, FillOptions());
  }
  ASSERT_EQ(summary.FilledVoids, 2);
  vtkSmartPointer<vtkPolyData> fresh = MeshFromGrid(grid, true);
  MeshField field(fresh);
  for (size_t g = 0; g < 2; ++g)
  {
    SCOPED_TRACE("void " + std::to_string(g + 1));
    WindowModel window = BuildWindowModel(field, selected, groups[g], FillOptions());
    ASSERT_NE(window.Model, nullptr);
    ASSERT_GT(window.Model->GetNumberOfPolys(), 0);
    TempDir dir;
    WriteBinary(window.Model, dir.File("window.vtk"));
    std::vector<int> inside(window.Inside.begin(), window.Inside.end());
    std::vector<int> outside(window.Outside.begin(), window.Outside.end());
    WriteIds(dir.File("inside.pts"), inside);
    WriteIds(dir.File("outside.pts"), outside);
    // auto chooses the same radius on the same window; the program adds its
    // offset of at most 1/60 to every moved height.
    const ProcessResult run =
      RunRepair({ dir.File("window.vtk"), dir.File("inside.pts"), dir.File("outside.pts"), "auto" },
        dir.Path());
    ASSERT_EQ(run.Status, 0) << run.Err;
    std::ostringstream radius;
    radius << "Chosen radius: " << static_cast<float>(summary.Voids[g].Radius);
    EXPECT_NE(run.Out.find(radius.str()), std::string::npos) << run.Out;
    vtkPolyData* result = ReadPolyData(dir.File("reconstucted_shape.vtk"));
    for (size_t k = 0; k < inside.size(); ++k)
    {
      const double filled = mesh->GetPoint(groups[g][k])[2];
      ASSERT_NEAR(result->GetPoint(inside[k])[2], filled, 1.0 / 60.0 + 1e-4)
        << "vertex " << groups[g][k];
    }
    result->Delete();
    window.Model->Delete();
  }
}

// ---------------------------------------------------------------------------
// surface_fill as a process.

ProcessResult RunFill(const std::vector<std::string>& args, const std::string& cwd)
{
  return RunProcess(SURFACE_FILL_EXE, args, cwd, "", { "DISPLAY" });
}

// A GeoTIFF of the grid in type, voids as nodata -9999, a second band and
// metadata, as GDAL writes it.
void WriteTiff(const std::string& path, const TestGrid& grid, GDALDataType type)
{
  GDALAllRegister();
  GDALDatasetH data = GDALCreate(GDALGetDriverByName("GTiff"), path.c_str(), grid.Width,
    grid.Height, 2, type, nullptr);
  ASSERT_NE(data, nullptr);
  double geo[6];
  std::copy(Geo, Geo + 6, geo);
  GDALSetGeoTransform(data, geo);
  GDALSetProjection(data,
    "LOCAL_CS[\"test grid\",UNIT[\"metre\",1]]");
  GDALSetMetadataItem(data, "SOURCE", "test terrain", nullptr);
  std::vector<double> first(grid.Heights), second(grid.Truth);
  for (size_t v = 0; v < first.size(); ++v)
  {
    first[v] = grid.Selected[v] ? -9999.0 : first[v] + 0.25;
    second[v] = 7.0;
  }
  GDALRasterBandH band = GDALGetRasterBand(data, 1);
  GDALSetRasterNoDataValue(band, -9999.0);
  GDALSetMetadataItem(band, "UNITS", "metre", nullptr);
  ASSERT_EQ(GDALRasterIO(band, GF_Write, 0, 0, grid.Width, grid.Height, first.data(), grid.Width,
              grid.Height, GDT_Float64, 0, 0),
    CE_None);
  ASSERT_EQ(GDALRasterIO(GDALGetRasterBand(data, 2), GF_Write, 0, 0, grid.Width, grid.Height,
              second.data(), grid.Width, grid.Height, GDT_Float64, 0, 0),
    CE_None);
  GDALClose(data);
}

// The raw bytes of a band, in its own type.
std::vector<unsigned char> BandBytes(GDALDatasetH data, int index)
{
  GDALRasterBandH band = GDALGetRasterBand(data, index);
  const GDALDataType type = GDALGetRasterDataType(band);
  const int w = GDALGetRasterXSize(data), h = GDALGetRasterYSize(data);
  std::vector<unsigned char> bytes(static_cast<size_t>(w) * h * GDALGetDataTypeSizeBytes(type));
  EXPECT_EQ(GDALRasterIO(band, GF_Read, 0, 0, w, h, bytes.data(), w, h, type, 0, 0), CE_None);
  return bytes;
}

TEST(FillProgram, RasterKeepsItsGeoreferencingTypeAndUntouchedCells)
{
  for (GDALDataType type : { GDT_Float32, GDT_Int16 })
  {
    SCOPED_TRACE(GDALGetDataTypeName(type));
    TestGrid grid(80, 70, { { 20, 20, 4 }, { 55, 45, 5 } });
    TempDir dir;
    WriteTiff(dir.File("in.tif"), grid, type);
    const ProcessResult run = RunFill({ dir.File("in.tif"), dir.File("out.tif") }, dir.Path());
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_NE(run.Out.find("Voids filled: 2 of 2"), std::string::npos) << run.Out;

    GDALDatasetH in = GDALOpen(dir.File("in.tif").c_str(), GA_ReadOnly);
    GDALDatasetH out = GDALOpen(dir.File("out.tif").c_str(), GA_ReadOnly);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(GDALGetRasterXSize(out), 80);
    EXPECT_EQ(GDALGetRasterYSize(out), 70);
    EXPECT_EQ(GDALGetRasterCount(out), 2);
    EXPECT_EQ(GDALGetRasterDataType(GDALGetRasterBand(out, 1)), type);
    double geo[6];
    ASSERT_EQ(GDALGetGeoTransform(out, geo), CE_None);
    EXPECT_TRUE(std::equal(geo, geo + 6, Geo));
    EXPECT_STREQ(GDALGetProjectionRef(out), GDALGetProjectionRef(in));
    EXPECT_STREQ(GDALGetMetadataItem(out, "SOURCE", nullptr), "test terrain");
    EXPECT_STREQ(GDALGetMetadataItem(GDALGetRasterBand(out, 1), "UNITS", nullptr), "metre");
    int has = 0;
    EXPECT_EQ(GDALGetRasterNoDataValue(GDALGetRasterBand(out, 1), &has), -9999.0);
    EXPECT_TRUE(has);
    EXPECT_EQ(BandBytes(in, 2), BandBytes(out, 2));

    std::vector<double> before(grid.Heights.size()), after(grid.Heights.size());
    ASSERT_EQ(GDALRasterIO(GDALGetRasterBand(in, 1), GF_Read, 0, 0, 80, 70, before.data(), 80, 70,
                GDT_Float64, 0, 0),
      CE_None);
    ASSERT_EQ(GDALRasterIO(GDALGetRasterBand(out, 1), GF_Read, 0, 0, 80, 70, after.data(), 80, 70,
                GDT_Float64, 0, 0),
      CE_None);
    for (size_t v = 0; v < before.size(); ++v)
    {
      if (grid.Selected[v])
      {
        EXPECT_NEAR(after[v], grid.Truth[v], 4.0) << "cell " << v;
        if (type == GDT_Int16)
        {
          EXPECT_EQ(after[v], std::round(after[v]));
        }
      }
      else
      {
        ASSERT_EQ(after[v], before[v]) << "cell " << v;
      }
    }
    GDALClose(in);
    GDALClose(out);
  }
}

// Writes the grid's mesh in a format, voids at height -1000.
void WriteMeshAs(vtkPolyData* model, const std::string& path)
{
  const std::string ext = path.substr(path.size() - 4);
  if (ext == ".vtk")
  {
    WriteBinary(model, path);
  }
  else if (ext == ".vtp")
  {
    vtkNew<vtkXMLPolyDataWriter> w;
    w->SetFileName(path.c_str());
    w->SetInputData(model);
    w->Write();
  }
  else if (ext == ".ply")
  {
    vtkNew<vtkPLYWriter> w;
    w->SetFileName(path.c_str());
    w->SetInputData(model);
    w->Write();
  }
  else if (ext == ".obj")
  {
    vtkNew<vtkOBJWriter> w;
    w->SetFileName(path.c_str());
    w->SetInputData(model);
    w->Write();
  }
  else
  {
    vtkNew<vtkSTLWriter> w;
    w->SetFileName(path.c_str());
    w->SetInputData(model);
    w->Write();
  }
}

template <typename Reader>
vtkSmartPointer<vtkPolyData> ReadWith(const std::string& path)
{
  vtkNew<Reader> reader;
  reader->SetFileName(path.c_str());
  reader->Update();
  vtkSmartPointer<vtkPolyData> model = reader->GetOutput();
  return model;
}

vtkSmartPointer<vtkPolyData> ReadMeshFile(const std::string& path)
{
  const std::string ext = path.substr(path.size() - 4);
  if (ext == ".vtk")
  {
    vtkSmartPointer<vtkPolyData> model;
    model.TakeReference(ReadPolyData(path));
    return model;
  }
  if (ext == ".vtp")
  {
    return ReadWith<vtkXMLPolyDataReader>(path);
  }
  if (ext == ".ply")
  {
    return ReadWith<vtkPLYReader>(path);
  }
  if (ext == ".obj")
  {
    return ReadWith<vtkOBJReader>(path);
  }
  return ReadWith<vtkSTLReader>(path);
}

TEST(FillProgram, EveryMeshFormatKeepsItsPointsAndCells)
{
  TestGrid grid(40, 36, { { 15, 15, 3 }, { 28, 24, 4 } });
  vtkSmartPointer<vtkPolyData> mesh = MeshFromGrid(grid, false);
  for (const char* ext : { ".vtk", ".vtp", ".ply", ".obj", ".stl" })
  {
    SCOPED_TRACE(ext);
    TempDir dir;
    const std::string in = dir.File(std::string("in") + ext);
    const std::string out = dir.File(std::string("out") + ext);
    WriteMeshAs(mesh, in);
    const ProcessResult run = RunFill({ "--below", "-500", in, out }, dir.Path());
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(std::string(ext) == ".stl", run.Err.find("Merged") != std::string::npos) << run.Err;
    vtkSmartPointer<vtkPolyData> before = ReadMeshFile(in);
    vtkSmartPointer<vtkPolyData> after = ReadMeshFile(out);
    ASSERT_EQ(after->GetNumberOfPoints(), 40 * 36);
    EXPECT_EQ(after->GetNumberOfCells(), before->GetNumberOfCells());
    vtkIdType filled = 0;
    for (vtkIdType v = 0; v < after->GetNumberOfPoints(); ++v)
    {
      double p[3], q[3];
      before->GetPoint(v, p);
      after->GetPoint(v, q);
      ASSERT_EQ(p[0], q[0]);
      ASSERT_EQ(p[1], q[1]);
      if (p[2] < -500.0)
      {
        // The point's own grid cell, for its true height.
        const int c = static_cast<int>(std::lround((p[0] - Geo[0]) / 30.0));
        const int r = static_cast<int>(std::lround((Geo[3] - p[1]) / 30.0));
        EXPECT_NEAR(q[2], Terrain(c, r), 4.0);
        ++filled;
      }
      else
      {
        ASSERT_EQ(p[2], q[2]);
      }
    }
    EXPECT_EQ(filled, std::count(grid.Selected.begin(), grid.Selected.end(), 1));
  }
}

TEST(FillProgram, UnfillableVoidsAreCountedAndTheRestWritten)
{
  TestGrid grid(60, 40, { { 15, 20, 3 }, { 45, 20, 3 } });
  vtkSmartPointer<vtkPolyData> mesh = MeshFromGrid(grid, false);
  // NaN all around the first void (not selected by --below).
  for (int r = 10; r <= 30; ++r)
  {
    for (int c = 5; c <= 25; ++c)
    {
      double p[3];
      mesh->GetPoint(r * 60 + c, p);
      if (p[2] > -500.0)
      {
        mesh->GetPoints()->SetPoint(r * 60 + c, p[0], p[1], std::nan(""));
      }
    }
  }
  TempDir dir;
  WriteBinary(mesh, dir.File("in.vtk"));
  ProcessResult run =
    RunFill({ "--below", "-500", "--report", "voids.csv", "in.vtk", "out.vtk" }, dir.Path());
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_NE(run.Err.find("Voids left unfilled: 1 (1 no ring)"), std::string::npos) << run.Err;
  const std::vector<std::string> report = Lines(ReadText(dir.File("voids.csv")));
  ASSERT_EQ(report.size(), 3u);
  EXPECT_EQ(report[0].rfind("id,group,vertices,", 0), 0u);
  EXPECT_NE(report[1].find(",no ring"), std::string::npos);
  EXPECT_NE(report[2].find(",filled"), std::string::npos);

  // No void fillable: nothing written, an earlier result kept.
  WriteText(dir.File("out.vtk"), "earlier");
  run = RunFill({ "--below", "-500", "--radius", "0.001", "in.vtk", "out.vtk" }, dir.Path());
  EXPECT_EQ(run.Status, 1);
  EXPECT_NE(run.Err.find("No void could be filled"), std::string::npos) << run.Err;
  EXPECT_EQ(ReadText(dir.File("out.vtk")), "earlier");
}

TEST(FillProgram, BadInputsNameTheCulpritAndWriteNothing)
{
  TestGrid grid(30, 30, { { 15, 15, 3 } });
  TempDir dir;
  WriteTiff(dir.File("in.tif"), grid, GDT_Float32);
  WriteBinary(MeshFromGrid(grid, true), dir.File("in.vtk"));
  WriteText(dir.File("out.tif"), "earlier");
  WriteText(dir.File("broken.tif"), "not a raster");
  struct Case
  {
    std::vector<std::string> Args;
    std::string Message;
  };
  const std::vector<Case> cases = {
    { { "missing.tif", "out.tif" }, "missing.tif" },
    { { "broken.tif", "out.tif" }, "broken.tif" },
    { { "in.tif", "out.vtk" }, "both be meshes" },
    { { "--radius", "1,5", "in.tif", "out.tif" }, "'1,5'" },
    { { "--radius", "0", "in.tif", "out.tif" }, "'0'" },
    { { "--threads", "0", "in.tif", "out.tif" }, "--threads" },
    { { "--ring", "x", "in.tif", "out.tif" }, "--ring" },
    { { "--nodata", "abc", "in.tif", "out.tif" }, "'abc'" },
    { { "--array", "mask", "in.tif", "out.tif" }, "no point-data arrays" },
    { { "--below", "-100000", "in.tif", "out.tif" }, "No void found" },
    { { "--inside", "none.pts", "in.tif", "out.tif" }, "none.pts" },
    { { "in.tif" }, "An input and an output" },
    { { "--array", "mask", "in.vtk", "out.vtk" }, "mask" },
  };
  for (const Case& c : cases)
  {
    const ProcessResult run = RunFill(c.Args, dir.Path());
    EXPECT_EQ(run.Status, 1) << c.Message;
    EXPECT_NE(run.Err.find(c.Message), std::string::npos) << run.Err;
    EXPECT_EQ(ReadText(dir.File("out.tif")), "earlier") << c.Message;
    EXPECT_FALSE(FileExists(dir.File("out.vtk"))) << c.Message;
  }
}
} // namespace
