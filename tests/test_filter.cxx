// vtkSurfaceRepairFilter: the bundled sample against the program's own result
// file, determinism without the jitter, what the output keeps of the input,
// and the refusals of bad input.

#include "TestSupport.h"
#include "vtkSurfaceRepairFilter.h"

#include <gtest/gtest.h>

#include <vtkCellArray.h>
#include <vtkCellData.h>
#include <vtkFloatArray.h>
#include <vtkIdList.h>
#include <vtkIntArray.h>
#include <vtkNew.h>
#include <vtkPointData.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkSmartPointer.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <limits>
#include <set>
#include <sstream>

using namespace testsupport;

namespace
{
// The jitter's half width plus the rounding of a float height of the sample
// (hundreds of metres).
const double JitterTolerance = 1.0 / 60.0 + 1e-4;

vtkSmartPointer<vtkIdList> IdList(const std::vector<vtkIdType>& ids)
{
  auto list = vtkSmartPointer<vtkIdList>::New();
  for (vtkIdType id : ids)
  {
    list->InsertNextId(id);
  }
  return list;
}

vtkSmartPointer<vtkIdList> IdFile(const std::string& path)
{
  auto list = vtkSmartPointer<vtkIdList>::New();
  std::ifstream in(path);
  vtkIdType id;
  while (in >> id)
  {
    list->InsertNextId(id);
  }
  return list;
}

vtkSmartPointer<vtkPolyData> SampleModel()
{
  return vtkSmartPointer<vtkPolyData>::Take(ReadPolyData(SampleFile("model.vtk")));
}

// A filter set up on the bundled sample at R = 0.12.
vtkSmartPointer<vtkSurfaceRepairFilter> SampleFilter(vtkPolyData* model, bool jitter)
{
  auto filter = vtkSmartPointer<vtkSurfaceRepairFilter>::New();
  filter->SetInputData(model);
  filter->SetInsideIds(IdFile(SampleFile("inside.pts")));
  filter->SetOutsideIds(IdFile(SampleFile("outside.pts")));
  filter->SetRadius(0.12);
  filter->SetJitter(jitter);
  return filter;
}

// A regular n x n height field on the unit square in float points, two
// triangles per cell, with point scalars, point normals and a cell array.
vtkSmartPointer<vtkPolyData> Grid(int n)
{
  vtkNew<vtkPoints> points;
  points->SetDataTypeToFloat();
  vtkNew<vtkFloatArray> heights;
  heights->SetName("Height");
  vtkNew<vtkFloatArray> normals;
  normals->SetName("Normals");
  normals->SetNumberOfComponents(3);
  for (int j = 0; j < n; ++j)
  {
    for (int i = 0; i < n; ++i)
    {
      const double x = i / (n - 1.0);
      const double y = j / (n - 1.0);
      const double z = 0.3 * std::sin(3.0 * x) * std::cos(2.0 * y);
      points->InsertNextPoint(x, y, z);
      heights->InsertNextValue(static_cast<float>(z));
      normals->InsertNextTuple3(0.1 * i, 0.2 * j, 1.0);
    }
  }
  vtkNew<vtkCellArray> triangles;
  vtkNew<vtkIntArray> cellTags;
  cellTags->SetName("Tag");
  for (int j = 0; j + 1 < n; ++j)
  {
    for (int i = 0; i + 1 < n; ++i)
    {
      const vtkIdType a = j * n + i;
      const vtkIdType lower[3] = { a, a + 1, a + n + 1 };
      const vtkIdType upper[3] = { a, a + n + 1, a + n };
      triangles->InsertNextCell(3, lower);
      triangles->InsertNextCell(3, upper);
      cellTags->InsertNextValue(2 * static_cast<int>(a));
      cellTags->InsertNextValue(2 * static_cast<int>(a) + 1);
    }
  }
  auto grid = vtkSmartPointer<vtkPolyData>::New();
  grid->SetPoints(points);
  grid->SetPolys(triangles);
  grid->GetPointData()->SetScalars(heights);
  grid->GetPointData()->SetNormals(normals);
  grid->GetCellData()->AddArray(cellTags);
  return grid;
}

void ExpectSameCells(vtkPolyData* expected, vtkPolyData* actual)
{
  ASSERT_EQ(expected->GetNumberOfCells(), actual->GetNumberOfCells());
  vtkNew<vtkIdList> a;
  vtkNew<vtkIdList> b;
  for (vtkIdType c = 0; c < expected->GetNumberOfCells(); ++c)
  {
    expected->GetCellPoints(c, a);
    actual->GetCellPoints(c, b);
    ASSERT_EQ(a->GetNumberOfIds(), b->GetNumberOfIds()) << "cell " << c;
    for (vtkIdType k = 0; k < a->GetNumberOfIds(); ++k)
    {
      ASSERT_EQ(a->GetId(k), b->GetId(k)) << "cell " << c;
    }
  }
}

void ExpectSameArray(vtkDataArray* expected, vtkDataArray* actual)
{
  ASSERT_NE(actual, nullptr) << expected->GetName();
  ASSERT_EQ(expected->GetNumberOfTuples(), actual->GetNumberOfTuples());
  ASSERT_EQ(expected->GetNumberOfComponents(), actual->GetNumberOfComponents());
  for (vtkIdType t = 0; t < expected->GetNumberOfTuples(); ++t)
  {
    for (int c = 0; c < expected->GetNumberOfComponents(); ++c)
    {
      ASSERT_EQ(expected->GetComponent(t, c), actual->GetComponent(t, c))
        << expected->GetName() << " tuple " << t;
    }
  }
}
} // namespace

TEST(SurfaceRepairFilter, SampleEqualsTheProgramsResultWithinTheJitter)
{
  TempDir dir;
  ProcessResult program = RunRepair(
    { SampleFile("model.vtk"), SampleFile("inside.pts"), SampleFile("outside.pts"), "0.12" },
    dir.Path());
  ASSERT_EQ(program.Status, 0) << program.Err;
  vtkSmartPointer<vtkPolyData> expected =
    vtkSmartPointer<vtkPolyData>::Take(ReadPolyData(dir.File("reconstucted_shape.vtk")));

  vtkSmartPointer<vtkPolyData> model = SampleModel();
  vtkSmartPointer<vtkSurfaceRepairFilter> filter = SampleFilter(model, false);
  testing::internal::CaptureStdout();
  filter->Update();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(filter->GetChosenRadius(), static_cast<double>(0.12f));

  vtkPolyData* result = filter->GetOutput();
  ASSERT_EQ(result->GetNumberOfPoints(), expected->GetNumberOfPoints());
  std::set<vtkIdType> inside;
  vtkIdList* insideIds = filter->GetInsideIds();
  for (vtkIdType k = 0; k < insideIds->GetNumberOfIds(); ++k)
  {
    inside.insert(insideIds->GetId(k));
  }
  int moved = 0;
  for (vtkIdType i = 0; i < result->GetNumberOfPoints(); ++i)
  {
    double p[3];
    double q[3];
    double source[3];
    result->GetPoint(i, p);
    expected->GetPoint(i, q);
    model->GetPoint(i, source);
    ASSERT_EQ(p[0], q[0]) << "point " << i;
    ASSERT_EQ(p[1], q[1]) << "point " << i;
    ASSERT_NEAR(p[2], q[2], JitterTolerance) << "point " << i;
    if (!inside.count(i))
    {
      ASSERT_EQ(p[2], source[2]) << "point " << i << " is not inside";
    }
    moved += p[2] != source[2];
  }
  EXPECT_GT(moved, 600);
  ExpectSameCells(expected, result);

  // Verbose: the program's report lines.
  filter->VerboseOn();
  filter->Modified();
  testing::internal::CaptureStdout();
  filter->Update();
  const std::string report = testing::internal::GetCapturedStdout();
  EXPECT_NE(report.find("Tree build time: "), std::string::npos) << report;
  EXPECT_NE(report.find("Affected points: 638.\n"), std::string::npos) << report;
}

TEST(SurfaceRepairFilter, WithoutJitterTwoRunsAreBitIdentical)
{
  vtkSmartPointer<vtkPolyData> model = SampleModel();
  vtkSmartPointer<vtkSurfaceRepairFilter> first = SampleFilter(model, false);
  vtkSmartPointer<vtkSurfaceRepairFilter> second = SampleFilter(model, false);
  vtkSmartPointer<vtkSurfaceRepairFilter> jittered = SampleFilter(model, true);
  first->Update();
  second->Update();
  jittered->Update();
  vtkPoints* a = first->GetOutput()->GetPoints();
  vtkPoints* b = second->GetOutput()->GetPoints();
  vtkPoints* c = jittered->GetOutput()->GetPoints();
  ASSERT_EQ(a->GetDataType(), b->GetDataType());
  ASSERT_EQ(a->GetNumberOfPoints(), b->GetNumberOfPoints());
  EXPECT_EQ(std::memcmp(a->GetVoidPointer(0), b->GetVoidPointer(0),
              static_cast<size_t>(a->GetData()->GetDataSize()) * a->GetData()->GetDataTypeSize()),
    0);

  // The jitter moves every moved vertex by at most its half width.
  int differ = 0;
  for (vtkIdType i = 0; i < a->GetNumberOfPoints(); ++i)
  {
    ASSERT_NEAR(a->GetPoint(i)[2], c->GetPoint(i)[2], JitterTolerance) << "point " << i;
    differ += a->GetPoint(i)[2] != c->GetPoint(i)[2];
  }
  EXPECT_GT(differ, 500);
}

TEST(SurfaceRepairFilter, OutputKeepsPointsCellsPointDataAndCellData)
{
  vtkSmartPointer<vtkPolyData> grid = Grid(12);
  std::vector<vtkIdType> inside;
  std::vector<vtkIdType> outside;
  for (vtkIdType id = 0; id < grid->GetNumberOfPoints(); ++id)
  {
    const double* p = grid->GetPoint(id);
    const bool centre = std::abs(p[0] - 0.5) < 0.2 && std::abs(p[1] - 0.5) < 0.2;
    (centre ? inside : outside).push_back(id);
  }
  vtkSmartPointer<vtkIdList> insideIds = IdList(inside);
  vtkNew<vtkSurfaceRepairFilter> filter;
  filter->SetInputData(grid);
  filter->SetInsideIds(insideIds);
  filter->SetOutsideIds(IdList(outside));
  filter->SetRadius(0.4);
  filter->JitterOff();
  filter->Update();
  vtkPolyData* result = filter->GetOutput();

  ASSERT_EQ(result->GetNumberOfPoints(), grid->GetNumberOfPoints());
  int moved = 0;
  for (vtkIdType i = 0; i < grid->GetNumberOfPoints(); ++i)
  {
    double p[3];
    double q[3];
    grid->GetPoint(i, p);
    result->GetPoint(i, q);
    EXPECT_EQ(p[0], q[0]);
    EXPECT_EQ(p[1], q[1]);
    moved += p[2] != q[2];
  }
  EXPECT_GT(moved, 0);
  ExpectSameCells(grid, result);
  ExpectSameArray(grid->GetPointData()->GetScalars(), result->GetPointData()->GetArray("Height"));
  ExpectSameArray(grid->GetPointData()->GetNormals(), result->GetPointData()->GetArray("Normals"));
  ExpectSameArray(grid->GetCellData()->GetArray("Tag"), result->GetCellData()->GetArray("Tag"));

  // A change of an id list makes the next update run again: nothing is inside now.
  insideIds->Reset();
  insideIds->Modified();
  filter->Update();
  for (vtkIdType i = 0; i < grid->GetNumberOfPoints(); ++i)
  {
    ASSERT_EQ(grid->GetPoint(i)[2], filter->GetOutput()->GetPoint(i)[2]) << "point " << i;
  }
}

namespace
{
// The inputs of one repair, for the bad-input table to break.
struct Inputs
{
  vtkSmartPointer<vtkPolyData> Model = Grid(10); // 100 points
  vtkSmartPointer<vtkIdList> Inside = IdList({ 44, 45, 54, 55 });
  vtkSmartPointer<vtkIdList> Outside = IdList({ 0, 9, 22, 27, 72, 77, 90, 99 });
  double Radius = 0.5;
};

// 20 pairs of outside points one float step apart in x: the single-precision
// factorisation meets a pivot that is not positive.
void AddNearTwins(Inputs& in)
{
  vtkPoints* points = in.Model->GetPoints();
  in.Outside->Reset();
  for (vtkIdType id = 0; id < points->GetNumberOfPoints(); ++id)
  {
    in.Outside->InsertNextId(id);
  }
  for (int k = 0; k < 20; ++k)
  {
    const float x = 0.1f + 0.8f * k / 20.0f;
    in.Outside->InsertNextId(points->InsertNextPoint(x, 0.5, 0.3));
    in.Outside->InsertNextId(
      points->InsertNextPoint(std::nextafter(x, 2.0f), 0.5, 0.7));
  }
  in.Model->GetPointData()->Initialize();
}

struct BadCase
{
  const char* Name;
  std::function<void(Inputs&)> Break;
  std::string Message;
};
} // namespace

TEST(SurfaceRepairFilter, BadInputIsReportedAndLeavesTheOutputEmpty)
{
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const BadCase cases[] = {
    { "inside id out of range", [](Inputs& in) { in.Inside->InsertNextId(100); },
      "Vertex id 100 at position 5 of the inside ids is out of range (the model has 100 points)" },
    { "negative outside id", [](Inputs& in) { in.Outside->InsertId(1, -1); },
      "Vertex id -1 at position 2 of the outside ids is out of range (the model has 100 points)" },
    { "empty outside list", [](Inputs& in) { in.Outside->Reset(); },
      "The outside ids hold no vertex id" },
    { "no outside list", [](Inputs& in) { in.Outside = nullptr; },
      "The outside ids hold no vertex id" },
    { "zero radius", [](Inputs& in) { in.Radius = 0.0; }, "Radius must be a positive number" },
    { "negative radius", [](Inputs& in) { in.Radius = -0.5; }, "Radius must be a positive number" },
    { "radius not a number", [nan](Inputs& in) { in.Radius = nan; },
      "Radius must be a positive number" },
    { "radius zero in single precision", [](Inputs& in) { in.Radius = 1e-50; },
      "Radius must be a positive number" },
    { "non-finite coordinate", [nan](Inputs& in) { in.Model->GetPoints()->SetPoint(7, 0.5, nan, 0.0); },
      "Point 7 of model (input) has a non-finite coordinate (nan)" },
    { "cell beyond the points",
      [](Inputs& in) {
        const vtkIdType stray[3] = { 0, 1, 103 };
        in.Model->GetPolys()->InsertNextCell(3, stray);
        in.Model->GetCellData()->Initialize();
      },
      "Cell 162 of model (input) refers to point 103, which is out of range (the model has 100 "
      "points)" },
    { "no points", [](Inputs& in) { in.Model = vtkSmartPointer<vtkPolyData>::New(); },
      "The input has no points" },
    { "no extent in x",
      [](Inputs& in) {
        for (vtkIdType id = 0; id < 100; ++id)
        {
          double p[3];
          in.Model->GetPoint(id, p);
          in.Model->GetPoints()->SetPoint(id, 0.25, p[1], p[2]);
        }
        in.Model->GetPoints()->Modified();
      },
      "Model has zero extent along x" },
    { "system that does not factorise", AddNearTwins,
      "The spline system is not positive definite: check the outside list and the radius" },
  };

  for (const BadCase& bad : cases)
  {
    SCOPED_TRACE(bad.Name);
    Inputs in;
    vtkNew<vtkSurfaceRepairFilter> filter;
    filter->SetInputData(in.Model);
    filter->SetInsideIds(in.Inside);
    filter->SetOutsideIds(in.Outside);
    filter->SetRadius(in.Radius);
    filter->Update();
    ASSERT_EQ(filter->GetOutput()->GetNumberOfPoints(), 100) << "the unbroken inputs repair";

    bad.Break(in);
    filter->SetInputData(in.Model);
    filter->SetInsideIds(in.Inside);
    filter->SetOutsideIds(in.Outside);
    filter->SetRadius(in.Radius);
    filter->Modified();
    OutputCapture capture;
    testing::internal::CaptureStdout();
    filter->Update();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

    const std::string& errors = capture.Errors();
    EXPECT_NE(errors.find("vtkSurfaceRepairFilter (" ), std::string::npos) << errors;
    EXPECT_NE(errors.find("): " + bad.Message + "\n"), std::string::npos) << errors;
    EXPECT_EQ(errors.find("vtkDatReader ("), std::string::npos) << errors;
    vtkPolyData* output = filter->GetOutput();
    EXPECT_EQ(output->GetNumberOfPoints(), 0);
    EXPECT_EQ(output->GetNumberOfCells(), 0);
    EXPECT_EQ(output->GetPointData()->GetNumberOfArrays(), 0);
    EXPECT_EQ(filter->GetChosenRadius(), 0.0);
  }
}

namespace
{
// Largest distance, in the normalised frame, from an inside vertex to its
// nearest outside vertex: the radii above it move every inside vertex.
double Reach(vtkPolyData* model, vtkIdList* inside, vtkIdList* outside)
{
  double b[6];
  model->GetBounds(b);
  auto frame = [&](vtkIdType id) {
    const double* p = model->GetPoint(id);
    return std::array<double, 2>{ (p[0] - b[0]) / (b[1] - b[0]), (p[1] - b[2]) / (b[3] - b[2]) };
  };
  double reach = 0.0;
  for (vtkIdType i = 0; i < inside->GetNumberOfIds(); ++i)
  {
    const std::array<double, 2> q = frame(inside->GetId(i));
    double nearest = std::numeric_limits<double>::max();
    for (vtkIdType o = 0; o < outside->GetNumberOfIds(); ++o)
    {
      const std::array<double, 2> p = frame(outside->GetId(o));
      nearest = std::min(nearest, std::hypot(p[0] - q[0], p[1] - q[1]));
    }
    reach = std::max(reach, nearest);
  }
  return reach;
}
} // namespace

// The choice: a radius between 1.05 and 10 times the reach, the one the
// program chooses for the same data, every inside vertex moved, and the
// repair at that radius.
TEST(SurfaceRepairFilter, AutoRadiusReachesEveryInsideVertexAndRepairsAtTheRadiusChosen)
{
  vtkSmartPointer<vtkPolyData> model = SampleModel();
  vtkSmartPointer<vtkSurfaceRepairFilter> automatic = SampleFilter(model, false);
  automatic->SetRadius(-1.0); // not used
  automatic->AutoRadiusOn();
  testing::internal::CaptureStdout();
  automatic->Update();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

  const double chosen = automatic->GetChosenRadius();
  const double reach = Reach(model, automatic->GetInsideIds(), automatic->GetOutsideIds());
  EXPECT_GT(chosen, reach);
  EXPECT_GE(chosen, 1.05 * reach * (1.0 - 1e-6));
  EXPECT_LE(chosen, 10.0 * reach * (1.0 + 1e-6));
  TempDir dir;
  ProcessResult program = RunRepair(
    { SampleFile("model.vtk"), SampleFile("inside.pts"), SampleFile("outside.pts"), "auto" },
    dir.Path());
  ASSERT_EQ(program.Status, 0) << program.Err;
  std::ostringstream line;
  line << "Chosen radius: " << static_cast<float>(chosen) << "\n";
  EXPECT_NE(program.Out.find(line.str()), std::string::npos) << program.Out;

  vtkSmartPointer<vtkSurfaceRepairFilter> fixed = SampleFilter(model, false);
  fixed->SetRadius(chosen);
  fixed->Update();
  vtkPoints* a = automatic->GetOutput()->GetPoints();
  vtkPoints* f = fixed->GetOutput()->GetPoints();
  ASSERT_EQ(a->GetNumberOfPoints(), model->GetNumberOfPoints());
  int moved = 0;
  for (vtkIdType i = 0; i < a->GetNumberOfPoints(); ++i)
  {
    ASSERT_EQ(a->GetPoint(i)[2], f->GetPoint(i)[2]) << "point " << i;
    moved += a->GetPoint(i)[2] != model->GetPoint(i)[2];
  }
  EXPECT_EQ(moved, automatic->GetInsideIds()->GetNumberOfIds());
}

TEST(SurfaceRepairFilter, CostGuardRefusesARadiusWhoseSystemCannotFit)
{
  // 320 x 320 outside vertices at a radius that reaches them all: about
  // 5e9 envelope entries, more than the solver can address.
  vtkSmartPointer<vtkPolyData> grid = Grid(320);
  vtkNew<vtkIdList> outside;
  for (vtkIdType id = 0; id < grid->GetNumberOfPoints(); ++id)
  {
    outside->InsertNextId(id);
  }
  vtkNew<vtkSurfaceRepairFilter> filter;
  filter->SetInputData(grid);
  filter->SetOutsideIds(outside);
  filter->SetRadius(2.0);
  OutputCapture capture;
  filter->Update();
  EXPECT_NE(capture.Errors().find(
              "vtkSurfaceRepairFilter (" ), std::string::npos) << capture.Errors();
  EXPECT_NE(capture.Errors().find("): Radius 2 is too large for 102412 spline points: "),
    std::string::npos)
    << capture.Errors();
  EXPECT_EQ(filter->GetOutput()->GetNumberOfPoints(), 0);
  EXPECT_EQ(filter->GetChosenRadius(), 0.0);
}
