// Whole runs of surface_repair as a process, without a display: the console
// report, the written result against an independent double-precision fit,
// the bundled sample against its true heights, and the failures of the later
// stages.

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <vtkCellArray.h>
#include <vtkFloatArray.h>
#include <vtkIdTypeArray.h>
#include <vtkNew.h>
#include <vtkPointData.h>
#include <vtkPolyData.h>
#include <vtkPolyDataWriter.h>
#include <vtkSmartPointer.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>

using namespace testsupport;

namespace
{
const double Jitter = 1.0 / 60.0;

// The spline of a run, fitted densely in double precision from the model and
// the outside ids: 12 frame points of value 0, then the outside vertices of
// the normalised frame (first of any repeated plane position kept).
class ReferenceFit
{
public:
  ReferenceFit(vtkPolyData* model, const std::vector<int>& outside, double radius)
    : Radius(radius)
  {
    vtkPoints* points = model->GetPoints();
    double b[6];
    points->GetBounds(b);
    for (int k = 0; k < 6; ++k)
    {
      this->Bounds[k] = static_cast<float>(b[k]);
    }
    const double frame[3] = { -0.1, 0.5, 1.1 };
    for (double z : frame)
    {
      for (auto xy : { std::array<double, 2>{ -0.1, -0.1 }, { -0.1, 1.1 }, { 1.1, 1.1 }, { 1.1, -0.1 } })
      {
        this->Centres.push_back({ xy[0], xy[1], z });
        this->Values.push_back(0.0);
      }
    }
    std::set<std::pair<float, float>> taken;
    for (int id : outside)
    {
      double p[3];
      points->GetPoint(id, p);
      float X = this->Normalised(p[0], 0);
      float Y = this->Normalised(p[1], 2);
      if (!taken.insert({ X, Y }).second)
      {
        continue;
      }
      this->Centres.push_back({ X, Y, 0.0 });
      this->Values.push_back(this->Normalised(p[2], 4));
    }
    const size_t n = this->Centres.size();
    std::vector<std::vector<double>> m(n + 4, std::vector<double>(n + 4, 0.0));
    std::vector<double> r(n + 4, 0.0);
    for (size_t i = 0; i < n; ++i)
    {
      for (size_t j = 0; j < n; ++j)
      {
        m[i][j] = this->Phi(this->Centres[i], this->Centres[j]);
      }
      const double tail[4] = { 1.0, this->Centres[i][0], this->Centres[i][1], this->Centres[i][2] };
      for (int k = 0; k < 4; ++k)
      {
        m[i][n + k] = tail[k];
        m[n + k][i] = tail[k];
      }
      r[i] = -this->Values[i];
    }
    this->Coeff = SolveDense(m, r);
  }

  // The repaired height of a model vertex at (x, y); false when no centre
  // lies within the radius, so that the vertex stays where it is.
  bool Height(double x, double y, double* z) const
  {
    const std::array<double, 3> q = { this->Normalised(x, 0), this->Normalised(y, 2), 0.0 };
    const size_t n = this->Centres.size();
    bool reached = false;
    double s = this->Coeff[n] + this->Coeff[n + 1] * q[0] + this->Coeff[n + 2] * q[1];
    for (size_t i = 0; i < n; ++i)
    {
      double d2 = 0.0;
      for (int c = 0; c < 3; ++c)
      {
        d2 += (q[c] - this->Centres[i][c]) * (q[c] - this->Centres[i][c]);
      }
      reached = reached || d2 <= this->Radius * this->Radius;
      s += this->Coeff[i] * this->Phi(q, this->Centres[i]);
    }
    const double zmin = this->Bounds[4];
    const double zmax = this->Bounds[5];
    *z = zmin - (zmax - zmin) * s;
    return reached;
  }

  double HeightRange() const { return this->Bounds[5] - this->Bounds[4]; }

private:
  float Normalised(double v, int axis) const
  {
    const double lo = this->Bounds[axis];
    const double hi = this->Bounds[axis + 1];
    return hi > lo ? static_cast<float>((static_cast<float>(v) - lo) / (hi - lo)) : 0.0f;
  }

  double Phi(const std::array<double, 3>& a, const std::array<double, 3>& b) const
  {
    double d2 = 0.0;
    for (int c = 0; c < 3; ++c)
    {
      d2 += (a[c] - b[c]) * (a[c] - b[c]);
    }
    if (!(d2 < this->Radius * this->Radius))
    {
      return 0.0;
    }
    const double t = 1.0 - std::sqrt(d2) / this->Radius;
    return t * t;
  }

  double Radius;
  float Bounds[6];
  std::vector<std::array<double, 3>> Centres;
  std::vector<double> Values;
  std::vector<double> Coeff;
};

std::vector<int> ReadIdFile(const std::string& path)
{
  std::vector<int> ids;
  std::ifstream in(path);
  int id;
  while (in >> id)
  {
    ids.push_back(id);
  }
  return ids;
}

// The console report of a successful run, line by line, in order.
void ExpectReportInOrder(const ProcessResult& r, int affected)
{
  const std::vector<std::regex> expected = {
    std::regex("Source model: .*"), std::regex("Points inside: .*"),
    std::regex("Points outside: .*"), std::regex("Radius: .*"),
    std::regex("Tree build time: [0-9.e+-]+"), std::regex("Sorting time: [0-9.e+-]+"),
    std::regex(R"(Constructing time: [0-9.e+-]+ sec\., \([0-9]+ relocations\)\.)"),
    std::regex(R"(Size of matrix A is \([0-9]+\*[0-9]+\): .* if stored as full matrix\.)"),
    std::regex(R"(Solving time: [0-9.e+-]+ sec\.)"),
    std::regex("Affected points: " + std::to_string(affected) + "\\."),
    std::regex("Transform time: [0-9.e+-]+"), std::regex("Thank you for using our application") };
  std::vector<std::string> lines = Lines(r.Out);
  ASSERT_EQ(lines.size(), expected.size()) << r.Out;
  for (size_t k = 0; k < lines.size(); ++k)
  {
    EXPECT_TRUE(std::regex_match(lines[k], expected[k])) << lines[k];
  }
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Err, "No display available: the viewer is not shown\n");
}

// The result keeps the source's cells and the x and y of every point; only
// inside vertices move, each onto the reference spline within the jitter.
// Returns the number of vertices that the reference says are reached.
int ExpectRepaired(vtkPolyData* source, vtkPolyData* result, const std::vector<int>& inside,
  const ReferenceFit& fit)
{
  const vtkIdType n = source->GetNumberOfPoints();
  EXPECT_EQ(result->GetNumberOfPoints(), n);
  EXPECT_EQ(result->GetNumberOfPolys(), source->GetNumberOfPolys());
  vtkNew<vtkIdTypeArray> a;
  vtkNew<vtkIdTypeArray> b;
  source->GetPolys()->ExportLegacyFormat(a);
  result->GetPolys()->ExportLegacyFormat(b);
  EXPECT_EQ(a->GetNumberOfValues(), b->GetNumberOfValues());
  for (vtkIdType k = 0; k < std::min(a->GetNumberOfValues(), b->GetNumberOfValues()); ++k)
  {
    if (a->GetValue(k) != b->GetValue(k))
    {
      ADD_FAILURE() << "cells differ at " << k;
      break;
    }
  }
  std::set<int> moving(inside.begin(), inside.end());
  // Single precision: the spline sum carries float rounding of its terms.
  const double tolerance = Jitter + 2e-5 * fit.HeightRange() + 1e-4;
  int reached = 0;
  for (vtkIdType i = 0; i < std::min(n, result->GetNumberOfPoints()); ++i)
  {
    double p[3];
    double q[3];
    source->GetPoint(i, p);
    result->GetPoint(i, q);
    EXPECT_EQ(p[0], q[0]) << "vertex " << i;
    EXPECT_EQ(p[1], q[1]) << "vertex " << i;
    double z = 0.0;
    if (moving.count(static_cast<int>(i)) && fit.Height(p[0], p[1], &z))
    {
      ++reached;
      EXPECT_NEAR(q[2], z, tolerance) << "vertex " << i;
    }
    else
    {
      EXPECT_EQ(p[2], q[2]) << "vertex " << i << " should not move";
    }
  }
  return reached;
}

// A height field with a ring of outside vertices around a hole of inside
// vertices, written to dir.
struct GeneratedCase
{
  int Nx;
  int Ny;
  double Dx;
  double Dy;
  std::function<double(double, double)> Height;
  double Radius;
};

void WriteRing(const TempDir& dir, const GeneratedCase& c, std::vector<int>* inside,
  std::vector<int>* outside)
{
  WriteHeightField(dir.File("model.vtk"), c.Nx, c.Ny, c.Dx, c.Dy, c.Height, 1000.0, -50.0);
  const int ci = c.Nx / 2;
  const int cj = c.Ny / 2;
  const int hole = std::min(c.Nx, c.Ny) / 6;
  const int ring = hole + 3;
  for (int j = 0; j < c.Ny; ++j)
  {
    for (int i = 0; i < c.Nx; ++i)
    {
      const int d = std::max(std::abs(i - ci), std::abs(j - cj));
      if (d <= hole)
      {
        inside->push_back(j * c.Nx + i);
      }
      else if (d <= ring)
      {
        outside->push_back(j * c.Nx + i);
      }
    }
  }
  WriteIds(dir.File("inside.pts"), *inside);
  WriteIds(dir.File("outside.pts"), *outside);
}

std::string Format(double value)
{
  std::ostringstream text;
  text << value;
  return text.str();
}
} // namespace

TEST(EndToEnd, BundledSampleIsRepairedCloseToTheTruth)
{
  TempDir dir;
  ProcessResult r = RunRepair(
    { SampleFile("model.vtk"), SampleFile("inside.pts"), SampleFile("outside.pts"), "0.12" },
    dir.Path());
  ExpectReportInOrder(r, 638);

  vtkSmartPointer<vtkPolyData> source = vtkSmartPointer<vtkPolyData>::Take(ReadPolyData(SampleFile("model.vtk")));
  vtkSmartPointer<vtkPolyData> result =
    vtkSmartPointer<vtkPolyData>::Take(ReadPolyData(dir.File("reconstucted_shape.vtk")));
  std::vector<int> inside = ReadIdFile(SampleFile("inside.pts"));
  ReferenceFit fit(source, ReadIdFile(SampleFile("outside.pts")), 0.12);
  EXPECT_EQ(ExpectRepaired(source, result, inside, fit), 638);

  std::ifstream truth(SampleFile("truth.txt"));
  int id;
  double height;
  double before = 0.0;
  double after = 0.0;
  int count = 0;
  while (truth >> id >> height)
  {
    before += std::pow(source->GetPoint(id)[2] - height, 2);
    after += std::pow(result->GetPoint(id)[2] - height, 2);
    ++count;
  }
  ASSERT_EQ(count, 638);
  EXPECT_NEAR(std::sqrt(before / count), 77.1, 0.05);
  EXPECT_NEAR(std::sqrt(after / count), 16.5, 1.0);
}

TEST(EndToEnd, GeneratedHeightFieldsFollowTheReferenceFit)
{
  const std::vector<GeneratedCase> cases = {
    { 30, 30, 10.0, 10.0, [](double x, double y) { return 0.02 * x + 0.01 * y + 5 * std::sin(x / 60); }, 0.15 },
    { 41, 23, 2.5, 7.0, [](double x, double y) { return 100 + 0.001 * (x - 1050) * (y + 20); }, 0.2 },
    { 25, 40, 1.0, 1.0, [](double x, double y) { return std::cos(x / 4) * std::sin(y / 5) * 3; }, 0.1 },
  };
  for (size_t k = 0; k < cases.size(); ++k)
  {
    SCOPED_TRACE(k);
    TempDir dir;
    std::vector<int> inside;
    std::vector<int> outside;
    WriteRing(dir, cases[k], &inside, &outside);
    ProcessResult r =
      RunRepair({ "model.vtk", "inside.pts", "outside.pts", Format(cases[k].Radius) }, dir.Path());
    vtkSmartPointer<vtkPolyData> source =
      vtkSmartPointer<vtkPolyData>::Take(ReadPolyData(dir.File("model.vtk")));
    vtkSmartPointer<vtkPolyData> result =
      vtkSmartPointer<vtkPolyData>::Take(ReadPolyData(dir.File("reconstucted_shape.vtk")));
    ReferenceFit fit(source, outside, cases[k].Radius);
    int reached = ExpectRepaired(source, result, inside, fit);
    EXPECT_GT(reached, 0);
    ExpectReportInOrder(r, reached);
  }
}

TEST(EndToEnd, InsideListVariants)
{
  TempDir dir;
  std::vector<int> inside;
  std::vector<int> outside;
  WriteRing(dir, { 20, 20, 1.0, 1.0, [](double x, double y) { return x * y / 50; }, 0.2 }, &inside,
    &outside);
  vtkSmartPointer<vtkPolyData> source =
    vtkSmartPointer<vtkPolyData>::Take(ReadPolyData(dir.File("model.vtk")));
  ReferenceFit fit(source, outside, 0.2);

  // Repeated ids move their vertex once and count once. The middle of the
  // hole lies out of reach of every centre at this radius and stays.
  std::vector<int> twice = inside;
  twice.insert(twice.end(), inside.begin(), inside.end());
  twice.push_back(0);
  WriteIds(dir.File("twice.pts"), twice);
  ProcessResult r = RunRepair({ "model.vtk", "twice.pts", "outside.pts", "0.2" }, dir.Path());
  vtkSmartPointer<vtkPolyData> result =
    vtkSmartPointer<vtkPolyData>::Take(ReadPolyData(dir.File("reconstucted_shape.vtk")));
  const int reached = ExpectRepaired(source, result, twice, fit);
  EXPECT_LT(reached, static_cast<int>(inside.size()) + 1);
  EXPECT_GT(reached, 0);
  ExpectReportInOrder(r, reached);

  // An empty inside list: nothing moves.
  WriteText(dir.File("empty.pts"), "");
  r = RunRepair({ "model.vtk", "empty.pts", "outside.pts", "0.2" }, dir.Path());
  ExpectReportInOrder(r, 0);
  result = vtkSmartPointer<vtkPolyData>::Take(ReadPolyData(dir.File("reconstucted_shape.vtk")));
  EXPECT_EQ(ExpectRepaired(source, result, {}, fit), 0);
}

// The sample as VTK 9 writes it (file version 5.1, cells as offsets and
// connectivity) and in the older 4.2 layout, ASCII and binary: the same
// repair as from the original.
TEST(EndToEnd, ModelFilesOfEveryLegacyVersion)
{
  vtkSmartPointer<vtkPolyData> source =
    vtkSmartPointer<vtkPolyData>::Take(ReadPolyData(SampleFile("model.vtk")));
  const std::vector<int> inside = ReadIdFile(SampleFile("inside.pts"));
  ReferenceFit fit(source, ReadIdFile(SampleFile("outside.pts")), 0.12);
  for (bool binary : { false, true })
  {
    for (bool newest : { true, false })
    {
      SCOPED_TRACE(std::string(binary ? "binary" : "ASCII") + (newest ? ", 5.1" : ", 4.2"));
      TempDir dir;
      vtkNew<vtkPolyDataWriter> writer;
      writer->SetInputData(source);
      writer->SetFileName(dir.File("model.vtk").c_str());
      if (!newest)
      {
        writer->SetFileVersion(vtkDataWriter::VTK_LEGACY_READER_VERSION_4_2);
      }
      if (binary)
      {
        writer->SetFileTypeToBinary();
      }
      ASSERT_EQ(writer->Write(), 1);
      ASSERT_EQ(ReadText(dir.File("model.vtk")).rfind(
                  newest ? "# vtk DataFile Version 5.1" : "# vtk DataFile Version 4.2", 0),
        0u);

      ProcessResult r = RunRepair(
        { "model.vtk", SampleFile("inside.pts"), SampleFile("outside.pts"), "0.12" }, dir.Path());
      ExpectReportInOrder(r, 638);
      vtkSmartPointer<vtkPolyData> result =
        vtkSmartPointer<vtkPolyData>::Take(ReadPolyData(dir.File("reconstucted_shape.vtk")));
      EXPECT_EQ(ExpectRepaired(source, result, inside, fit), 638);
    }
  }
}

TEST(EndToEnd, NormalsInThePointDataDoNotStopTheRepair)
{
  TempDir dir;
  std::vector<int> inside;
  std::vector<int> outside;
  WriteRing(dir, { 20, 20, 1.0, 1.0, [](double x, double y) { return x - y / 3; }, 0.15 }, &inside,
    &outside);
  vtkSmartPointer<vtkPolyData> source =
    vtkSmartPointer<vtkPolyData>::Take(ReadPolyData(dir.File("model.vtk")));
  vtkNew<vtkFloatArray> normals;
  normals->SetName("Normals");
  normals->SetNumberOfComponents(3);
  for (vtkIdType i = 0; i < source->GetNumberOfPoints(); ++i)
  {
    normals->InsertNextTuple3(0.1 * (i % 3), 0.2, 0.97);
  }
  source->GetPointData()->SetNormals(normals);
  vtkNew<vtkPolyDataWriter> writer;
  writer->SetInputData(source);
  writer->SetFileName(dir.File("normals.vtk").c_str());
  writer->SetFileTypeToBinary();
  ASSERT_EQ(writer->Write(), 1);

  ProcessResult r = RunRepair({ "normals.vtk", "inside.pts", "outside.pts", "0.15" }, dir.Path());
  vtkSmartPointer<vtkPolyData> result =
    vtkSmartPointer<vtkPolyData>::Take(ReadPolyData(dir.File("reconstucted_shape.vtk")));
  ReferenceFit fit(source, outside, 0.15);
  const int reached = ExpectRepaired(source, result, inside, fit);
  EXPECT_GT(reached, 0);
  ExpectReportInOrder(r, reached);
  vtkDataArray* written = result->GetPointData()->GetNormals();
  ASSERT_NE(written, nullptr);
  ASSERT_EQ(written->GetNumberOfTuples(), source->GetNumberOfPoints());
  for (vtkIdType i = 0; i < source->GetNumberOfPoints(); ++i)
  {
    for (int c = 0; c < 3; ++c)
    {
      EXPECT_FLOAT_EQ(written->GetComponent(i, c), normals->GetComponent(i, c));
    }
  }
}

class FailingRun : public ::testing::Test
{
protected:
  void SetUp() override
  {
    std::vector<int> inside;
    std::vector<int> outside;
    WriteRing(this->Dir, { 16, 16, 1.0, 1.0, [](double x, double) { return x; }, 0.2 }, &inside,
      &outside);
    this->Earlier = this->Dir.File("reconstucted_shape.vtk");
    WriteText(this->Earlier, "an earlier result\n");
  }

  // No stray temporary files beside the result.
  void ExpectNoLeftovers()
  {
    for (const auto& entry : std::filesystem::directory_iterator(this->Dir.Path()))
    {
      EXPECT_EQ(entry.path().filename().string().rfind("reconstucted_shape.vtk.", 0),
        std::string::npos)
        << entry.path();
    }
  }

  TempDir Dir;
  std::string Earlier;
};

TEST_F(FailingRun, MissingInsideListStopsAfterTheSolver)
{
  std::filesystem::remove(this->Earlier);
  ProcessResult r = RunRepair({ "model.vtk", "nothere.pts", "outside.pts", "0.2" }, this->Dir.Path());
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Err, "Not correct inside file name\n");
  std::vector<std::string> lines = Lines(r.Out);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().rfind("Solving time: ", 0), 0u) << r.Out;
  EXPECT_FALSE(FileExists(this->Earlier));
}

TEST_F(FailingRun, UnwritableDirectoryKeepsTheEarlierResult)
{
  // Root may write anywhere: the run drops to an unprivileged user, for whom
  // the directory is read-only.
  ASSERT_EQ(chmod(this->Dir.Path().c_str(), 0555), 0);
  for (const char* name : { "model.vtk", "inside.pts", "outside.pts" })
  {
    chmod(this->Dir.File(name).c_str(), 0644);
  }
  ProcessResult r = RunRepair({ "model.vtk", "inside.pts", "outside.pts", "0.2" }, this->Dir.Path(),
    "", [] {
      if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
      {
        _exit(126);
      }
    });
  chmod(this->Dir.Path().c_str(), 0700);
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Err, "Can not write reconstucted_shape.vtk\n");
  EXPECT_NE(r.Out.find("Transform time: "), std::string::npos);
  EXPECT_EQ(r.Out.find("Thank you"), std::string::npos);
  EXPECT_EQ(ReadText(this->Earlier), "an earlier result\n");
  this->ExpectNoLeftovers();
}

TEST_F(FailingRun, FullDiskKeepsTheEarlierResult)
{
  // A file size limit makes the write fail part-way, as a full disk would.
  ProcessResult r = RunRepair({ "model.vtk", "inside.pts", "outside.pts", "0.2" }, this->Dir.Path(),
    "", [] {
      signal(SIGXFSZ, SIG_IGN);
      struct rlimit limit = { 4096, 4096 };
      setrlimit(RLIMIT_FSIZE, &limit);
    });
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Err, "Can not write reconstucted_shape.vtk\n");
  EXPECT_EQ(ReadText(this->Earlier), "an earlier result\n");
  this->ExpectNoLeftovers();
}

TEST_F(FailingRun, SuccessfulRunReplacesTheEarlierResult)
{
  ProcessResult r = RunRepair({ "model.vtk", "inside.pts", "outside.pts", "0.2" }, this->Dir.Path());
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(ReadText(this->Earlier).rfind("# vtk DataFile Version", 0), 0u);
  struct stat info;
  ASSERT_EQ(stat(this->Earlier.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0666u & ~static_cast<unsigned>(umask(022)));
  this->ExpectNoLeftovers();
}
