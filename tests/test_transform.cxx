// Tests of vtkShapeTransform: the spline evaluation at the inside vertices,
// the mapping back to model units, the jitter, the bookkeeping of the inside
// list, the pass-through of normals and vectors in a vtkTransformPolyDataFilter,
// and the VTK object conventions.

#include "vtkShapeTransform.h"
#include "NormalisedFrame.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <vtkCellArray.h>
#include <vtkCommand.h>
#include <vtkDoubleArray.h>
#include <vtkFloatArray.h>
#include <vtkIdList.h>
#include <vtkNew.h>
#include <vtkObjectFactory.h>
#include <vtkPointData.h>
#include <vtkPointLocator.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkSmartPointer.h>
#include <vtkTestErrorObserver.h>
#include <vtkTransformPolyDataFilter.h>
#include <vtkVersionMacros.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace
{
using Point3 = std::array<double, 3>;

// The jitter bound as the transform computes it: 1/60 rounded to float.
const double JitterBound = static_cast<float>(1.0 / 60.0);

//------------------------------------------------------------------------------
// The model: a regular 5 x 4 grid of vertices, id j * 5 + i at
// (2 + i, -1 + j, zmin + 3 * ((i + 2j) mod 7) / 6), so that x spans [2, 6],
// y spans [-1, 2] and z spans [zmin, zmin + 3]. In the normalised frame the
// vertex lies at (i / 4, j / 3).
const int GridNX = 5;
const int GridNY = 4;

vtkSmartPointer<vtkPoints> MakeGrid(double zmin)
{
  auto points = vtkSmartPointer<vtkPoints>::New();
  for (int j = 0; j < GridNY; ++j)
  {
    for (int i = 0; i < GridNX; ++i)
    {
      points->InsertNextPoint(2.0 + i, -1.0 + j, zmin + 3.0 * ((i + 2 * j) % 7) / 6.0);
    }
  }
  return points;
}

struct Bounds
{
  double XMin, XMax, YMin, YMax, ZMin, ZMax;
};

Bounds BoundsOf(vtkPoints* points)
{
  Bounds b{ 1e300, -1e300, 1e300, -1e300, 1e300, -1e300 };
  for (vtkIdType i = 0; i < points->GetNumberOfPoints(); ++i)
  {
    double p[3];
    points->GetPoint(i, p);
    b.XMin = std::min(b.XMin, p[0]);
    b.XMax = std::max(b.XMax, p[0]);
    b.YMin = std::min(b.YMin, p[1]);
    b.YMax = std::max(b.YMax, p[1]);
    b.ZMin = std::min(b.ZMin, p[2]);
    b.ZMax = std::max(b.ZMax, p[2]);
  }
  return b;
}

//------------------------------------------------------------------------------
// A spline as the reader and the solver hand it over: centres in the
// normalised frame with a locator over them, the inverse ordering and m + 4
// coefficients.
struct Spline
{
  float Radius = 0.3f;
  std::vector<Point3> CentreList;
  vtkNew<vtkPoints> Centres;
  vtkNew<vtkPolyData> CentreData;
  vtkNew<vtkPointLocator> Tree;
  std::vector<int> UnList;
  std::vector<float> Coeff;

  void SetCentres(const std::vector<Point3>& centres)
  {
    this->CentreList = centres;
    this->Centres->Reset();
    for (const Point3& c : centres)
    {
      this->Centres->InsertNextPoint(c[0], c[1], c[2]);
    }
    this->CentreData->SetPoints(this->Centres);
    this->Tree->SetDataSet(this->CentreData);
    this->Tree->BuildLocator();
  }

  int M() const { return static_cast<int>(this->CentreList.size()); }

  // Sets the tail c0 (constant), c1 (x), c2 (y), c3 (z).
  void SetTail(float c0, float c1, float c2, float c3)
  {
    const int m = this->M();
    this->Coeff[m] = c0;
    this->Coeff[m + 1] = c1;
    this->Coeff[m + 2] = c2;
    this->Coeff[m + 3] = c3;
  }

  void ZeroCoefficients() { std::fill(this->Coeff.begin(), this->Coeff.end(), 0.0f); }
};

// The twelve frame points of the reader: corners of [-0.1, 1.1]^2 at the
// heights -0.1, 0.5 and 1.1.
std::vector<Point3> FramePoints()
{
  std::vector<Point3> frame;
  for (double z : { -0.1, 0.5, 1.1 })
  {
    frame.push_back({ static_cast<float>(-0.1), static_cast<float>(-0.1), static_cast<float>(z) });
    frame.push_back({ static_cast<float>(-0.1), static_cast<float>(1.1), static_cast<float>(z) });
    frame.push_back({ static_cast<float>(1.1), static_cast<float>(1.1), static_cast<float>(z) });
    frame.push_back({ static_cast<float>(1.1), static_cast<float>(-0.1), static_cast<float>(z) });
  }
  return frame;
}

// The standard spline of these tests: the frame points, four centres in the
// plane z = 0 and two off it, radius 0.3, a hand-chosen ordering and
// hand-chosen coefficients. Over the grid model (R = 0.3) it leaves the
// vertices 1, 2, 5 and 17 without a centre within the radius; the vertices 4,
// 7, 11, 12, 15 and 19 see two centres each; every vertex is at least 1e-3
// away from the edge of every support.
void MakeStandardSpline(Spline& spline)
{
  std::vector<Point3> centres = FramePoints();
  centres.push_back({ 0.3, 0.4, 0.0 });     // 12
  centres.push_back({ 0.55, 0.7, 0.0 });    // 13
  centres.push_back({ 0.8, 0.2, 0.0 });     // 14
  centres.push_back({ 0.1, 0.85, 0.0 });    // 15
  centres.push_back({ 0.5, 0.45, 0.15 });   // 16, off the plane
  centres.push_back({ 0.9, 0.9, -0.12 });   // 17, off the plane
  for (Point3& c : centres)
  {
    for (double& v : c)
    {
      v = static_cast<float>(v); // centres are stored in single precision
    }
  }
  spline.Radius = 0.3f;
  spline.SetCentres(centres);
  spline.UnList = { 5, 12, 0, 17, 3, 9, 14, 1, 7, 16, 10, 2, 13, 6, 11, 4, 15, 8 };
  spline.Coeff = { 0.8f, -1.2f, 0.35f, 2.1f, -0.6f, 1.4f, -0.25f, 0.9f, -1.7f, 0.5f, 1.1f,
    -0.45f, 0.75f, -2.0f, 0.3f, 1.6f, -0.8f, 0.65f,
    // tail: 1, x, y, z (z must not count: the query point lies in z = 0)
    -0.2f, 0.7f, -0.4f, 5.0f };
}

//------------------------------------------------------------------------------
// The spline evaluated independently, in double precision, at the normalised
// position (X, Y, 0).
struct Evaluation
{
  bool Supported = false; // some centre within the radius
  double S = 0.0;         // spline value
  double Magnitude = 0.0; // sum of the magnitudes of the terms
  double Margin = 1e300;  // smallest | d - R | over all centres
};

Evaluation EvaluateSpline(const Spline& spline, double X, double Y)
{
  Evaluation e;
  const double r = spline.Radius;
  for (int k = 0; k < spline.M(); ++k)
  {
    const Point3& c = spline.CentreList[k];
    const double d =
      std::sqrt((c[0] - X) * (c[0] - X) + (c[1] - Y) * (c[1] - Y) + c[2] * c[2]);
    e.Margin = std::min(e.Margin, std::fabs(d - r));
    if (d <= r)
    {
      e.Supported = true;
      const double phi = (1.0 - d / r) * (1.0 - d / r);
      const double term = phi * spline.Coeff[spline.UnList[k]];
      e.S += term;
      e.Magnitude += std::fabs(term);
    }
  }
  const int m = spline.M();
  const double tail[3] = { spline.Coeff[m], X * spline.Coeff[m + 1], Y * spline.Coeff[m + 2] };
  for (double t : tail)
  {
    e.S += t;
    e.Magnitude += std::fabs(t);
  }
  return e;
}

// What a vertex of the model should become, apart from the jitter.
struct Expectation
{
  bool Moves = false;
  double Z = 0.0;         // expected height without jitter (if it moves)
  double Tolerance = 0.0; // arithmetic tolerance, without the jitter bound
  double Margin = 0.0;
};

Expectation Expect(const Spline& spline, vtkPoints* model, vtkIdType id)
{
  const Bounds b = BoundsOf(model);
  double p[3];
  model->GetPoint(id, p);
  const double X = (p[0] - b.XMin) / (b.XMax - b.XMin);
  const double Y = (p[1] - b.YMin) / (b.YMax - b.YMin);
  const Evaluation e = EvaluateSpline(spline, X, Y);
  Expectation x;
  x.Moves = e.Supported;
  x.Z = b.ZMin - (b.ZMax - b.ZMin) * e.S;
  x.Tolerance = 1e-5 * (std::fabs(b.ZMin) + (b.ZMax - b.ZMin) * e.Magnitude) + 1e-6;
  x.Margin = e.Margin;
  return x;
}

//------------------------------------------------------------------------------
vtkSmartPointer<vtkShapeTransform> NewTransform()
{
  return vtkSmartPointer<vtkShapeTransform>::Take(vtkShapeTransform::New());
}

vtkSmartPointer<vtkIdList> MakeIds(const std::vector<vtkIdType>& ids)
{
  auto list = vtkSmartPointer<vtkIdList>::New();
  for (vtkIdType id : ids)
  {
    list->InsertNextId(id);
  }
  return list;
}

void Configure(vtkShapeTransform* transform, Spline& spline, vtkIdList* inside)
{
  transform->SetParameters(spline.Radius, spline.Centres, spline.Coeff.data(), inside,
    spline.UnList.data(), spline.Tree);
}

struct RunResult
{
  vtkSmartPointer<vtkPoints> Out;
  std::string Stdout;
};

RunResult RunTransform(vtkShapeTransform* transform, vtkPoints* in)
{
  RunResult r;
  r.Out = vtkSmartPointer<vtkPoints>::New();
  testing::internal::CaptureStdout();
  transform->TransformPoints(in, r.Out);
  r.Stdout = testing::internal::GetCapturedStdout();
  return r;
}

std::string Report(long count)
{
  std::ostringstream s;
  s << "Affected points: " << count << ".\n";
  return s.str();
}

// Output point i equals input point i in all three coordinates.
void ExpectUnchanged(vtkPoints* in, vtkPoints* out, vtkIdType i)
{
  double a[3];
  double b[3];
  in->GetPoint(i, a);
  out->GetPoint(i, b);
  EXPECT_EQ(a[0], b[0]) << "vertex " << i;
  EXPECT_EQ(a[1], b[1]) << "vertex " << i;
  EXPECT_EQ(a[2], b[2]) << "vertex " << i;
}

// Output point i has the input's x and y and a height within the jitter bound
// of the expected one; returns the observed jitter.
double ExpectMoved(const Spline& spline, vtkPoints* in, vtkPoints* out, vtkIdType i)
{
  const Expectation x = Expect(spline, in, i);
  EXPECT_TRUE(x.Moves) << "vertex " << i;
  double a[3];
  double b[3];
  in->GetPoint(i, a);
  out->GetPoint(i, b);
  EXPECT_EQ(a[0], b[0]) << "vertex " << i;
  EXPECT_EQ(a[1], b[1]) << "vertex " << i;
  const double jitter = b[2] - x.Z;
  EXPECT_LE(std::fabs(jitter), JitterBound + x.Tolerance)
    << "vertex " << i << ": z " << b[2] << ", expected " << x.Z << " +- 1/60";
  return jitter;
}

// Runs two transforms (or the same one twice) within one calendar second, so
// that both draw the same jitter. Retries if the second changes in between.
template <typename First, typename Second>
void RunTwiceInOneSecond(First&& first, Second&& second)
{
  for (int attempt = 0; attempt < 10; ++attempt)
  {
    const std::time_t before = std::time(nullptr);
    first();
    second();
    if (std::time(nullptr) == before)
    {
      return;
    }
  }
  FAIL() << "could not run two transforms within one second";
}

//==============================================================================
// Object conventions.

// A subclass that shows the fields, for the tests of construction and set-up.
class ShapeTransformProbe : public vtkShapeTransform
{
public:
  static ShapeTransformProbe* New();
  vtkTypeMacro(ShapeTransformProbe, vtkShapeTransform);

  float GetRadiusField() const { return this->Radius; }
  vtkPoints* GetPointArrayField() const { return this->PointArray; }
  float* GetSplineCoeffField() const { return this->SplineCoeff; }
  int* GetUnListField() const { return this->UnList; }
  vtkIdList* GetInsideListField() const { return this->InsideList; }
  vtkPointLocator* GetTreeField() const { return this->Tree; }
  vtkIdList* GetNeighbourIdsField() const { return this->NeighbourIds; }

protected:
  ShapeTransformProbe() = default;
  ~ShapeTransformProbe() override = default;
};
vtkStandardNewMacro(ShapeTransformProbe);

// An override of vtkShapeTransform offered through an object factory.
class ShapeTransformOverride : public vtkShapeTransform
{
public:
  static ShapeTransformOverride* New();
  vtkTypeMacro(ShapeTransformOverride, vtkShapeTransform);

protected:
  ShapeTransformOverride() = default;
  ~ShapeTransformOverride() override = default;
};
vtkStandardNewMacro(ShapeTransformOverride);

class ShapeTransformFactory : public vtkObjectFactory
{
public:
  static ShapeTransformFactory* New()
  {
    auto* f = new ShapeTransformFactory;
    f->InitializeObjectBase();
    return f;
  }
  vtkTypeMacro(ShapeTransformFactory, vtkObjectFactory);
  const char* GetVTKSourceVersion() override { return VTK_SOURCE_VERSION; }
  const char* GetDescription() override { return "vtkShapeTransform test override"; }

protected:
  ShapeTransformFactory()
  {
    this->RegisterOverride("vtkShapeTransform", "ShapeTransformOverride",
      "vtkShapeTransform test override", 1,
      []() -> vtkObject* { return ShapeTransformOverride::New(); });
  }
};

TEST(ShapeTransformObject, ClassNameAndIsA)
{
  auto t = NewTransform();
  EXPECT_STREQ(t->GetClassName(), "vtkShapeTransform");
  EXPECT_EQ(t->IsA("vtkShapeTransform"), 1);
  EXPECT_EQ(t->IsA("vtkAbstractTransform"), 1);
  EXPECT_EQ(t->IsA("vtkObject"), 1);
  EXPECT_EQ(t->IsA("vtkLinearTransform"), 0);
  EXPECT_EQ(t->IsA("vtkWarpTransform"), 0);
  EXPECT_EQ(vtkShapeTransform::IsTypeOf("vtkAbstractTransform"), 1);
  EXPECT_EQ(vtkShapeTransform::SafeDownCast(t.GetPointer()), t.GetPointer());
}

TEST(ShapeTransformObject, MakeTransformIsNull)
{
  auto t = NewTransform();
  EXPECT_EQ(t->MakeTransform(), nullptr);
}

// The single-point forms leave their outputs (point and derivative) as they
// were; T is float or double.
template <typename T>
void ExpectPointFormsDoNothing(vtkShapeTransform* t)
{
  const T in[3] = { 0.25, 0.5, 0.75 };
  T out[3] = { -7, -8, -9 };
  T derivative[3][3];
  for (auto& row : derivative)
  {
    std::fill(row, row + 3, T(42));
  }
  t->InternalTransformPoint(in, out);
  t->InternalTransformDerivative(in, out, derivative);
  EXPECT_EQ(out[0], T(-7));
  EXPECT_EQ(out[1], T(-8));
  EXPECT_EQ(out[2], T(-9));
  for (auto& row : derivative)
  {
    EXPECT_EQ(row[0], T(42));
    EXPECT_EQ(row[1], T(42));
    EXPECT_EQ(row[2], T(42));
  }
}

TEST(ShapeTransformObject, PointFormsAndInverseDoNothing)
{
  auto t = NewTransform();
  t->Inverse();
  EXPECT_EQ(t->GetReferenceCount(), 1);
  ExpectPointFormsDoNothing<float>(t);
  ExpectPointFormsDoNothing<double>(t);
}

TEST(ShapeTransformObject, NewAsksTheObjectFactoryFirst)
{
  auto* factory = ShapeTransformFactory::New();
  vtkObjectFactory::RegisterFactory(factory);
  {
    auto t = NewTransform();
    EXPECT_STREQ(t->GetClassName(), "ShapeTransformOverride");
    EXPECT_EQ(t->IsA("vtkShapeTransform"), 1);
  }
  vtkObjectFactory::UnRegisterFactory(factory);
  factory->Delete();

  auto plain = NewTransform();
  EXPECT_STREQ(plain->GetClassName(), "vtkShapeTransform");
}

TEST(ShapeTransformObject, ConstructionLeavesParametersEmptyAndAllocatesNeighbours)
{
  auto probe = vtkSmartPointer<ShapeTransformProbe>::Take(ShapeTransformProbe::New());
  EXPECT_EQ(probe->GetRadiusField(), 0.0f);
  EXPECT_EQ(probe->GetPointArrayField(), nullptr);
  EXPECT_EQ(probe->GetSplineCoeffField(), nullptr);
  EXPECT_EQ(probe->GetUnListField(), nullptr);
  EXPECT_EQ(probe->GetInsideListField(), nullptr);
  EXPECT_EQ(probe->GetTreeField(), nullptr);
  ASSERT_NE(probe->GetNeighbourIdsField(), nullptr);
  EXPECT_EQ(probe->GetNeighbourIdsField()->GetNumberOfIds(), 0);
  EXPECT_NE(probe->GetNeighbourIdsField()->GetPointer(0), nullptr); // storage reserved
}

TEST(ShapeTransformObject, SetParametersStoresWithoutReferencesOrModified)
{
  Spline spline;
  MakeStandardSpline(spline);
  auto inside = MakeIds({ 3 });
  auto probe = vtkSmartPointer<ShapeTransformProbe>::Take(ShapeTransformProbe::New());
  const vtkMTimeType before = probe->GetMTime();
  const int centreRefs = spline.Centres->GetReferenceCount();
  const int insideRefs = inside->GetReferenceCount();
  const int treeRefs = spline.Tree->GetReferenceCount();

  Configure(probe, spline, inside);

  EXPECT_EQ(probe->GetRadiusField(), 0.3f);
  EXPECT_EQ(probe->GetPointArrayField(), spline.Centres.GetPointer());
  EXPECT_EQ(probe->GetSplineCoeffField(), spline.Coeff.data());
  EXPECT_EQ(probe->GetInsideListField(), inside.GetPointer());
  EXPECT_EQ(probe->GetUnListField(), spline.UnList.data());
  EXPECT_EQ(probe->GetTreeField(), spline.Tree.GetPointer());
  EXPECT_EQ(spline.Centres->GetReferenceCount(), centreRefs);
  EXPECT_EQ(inside->GetReferenceCount(), insideRefs);
  EXPECT_EQ(spline.Tree->GetReferenceCount(), treeRefs);
  EXPECT_EQ(probe->GetMTime(), before);
}

//==============================================================================
// Moving the inside vertices.

class ShapeTransformPoints : public testing::Test
{
protected:
  void SetUp() override
  {
    MakeStandardSpline(this->Spline_);
    this->Model = MakeGrid(1.0);
    // The fixture's geometry keeps every vertex clear of the support edges,
    // so that "within the radius" has one answer in any arithmetic.
    for (vtkIdType i = 0; i < this->Model->GetNumberOfPoints(); ++i)
    {
      ASSERT_GT(Expect(this->Spline_, this->Model, i).Margin, 1e-3) << "vertex " << i;
    }
  }

  RunResult RunWith(const std::vector<vtkIdType>& insideIds)
  {
    auto inside = MakeIds(insideIds);
    auto t = NewTransform();
    Configure(t, this->Spline_, inside);
    return RunTransform(t, this->Model);
  }

  Spline Spline_;
  vtkSmartPointer<vtkPoints> Model;
};

TEST_F(ShapeTransformPoints, OutputKeepsCountOrderAndXY)
{
  std::vector<vtkIdType> all;
  for (vtkIdType i = 0; i < this->Model->GetNumberOfPoints(); ++i)
  {
    all.push_back(i);
  }
  const RunResult r = this->RunWith(all);
  ASSERT_EQ(r.Out->GetNumberOfPoints(), this->Model->GetNumberOfPoints());
  for (vtkIdType i = 0; i < this->Model->GetNumberOfPoints(); ++i)
  {
    double a[3];
    double b[3];
    this->Model->GetPoint(i, a);
    r.Out->GetPoint(i, b);
    EXPECT_EQ(a[0], b[0]) << "vertex " << i;
    EXPECT_EQ(a[1], b[1]) << "vertex " << i;
  }
  EXPECT_EQ(r.Stdout, Report(16)); // all but 1, 2, 5 and 17
}

TEST_F(ShapeTransformPoints, InsideVerticesFollowTheSpline)
{
  const std::vector<vtkIdType> ids = { 0, 3, 4, 6, 7, 8, 10, 11, 12, 13, 14, 15, 16, 18, 19 };
  const RunResult r = this->RunWith(ids);
  ASSERT_EQ(r.Out->GetNumberOfPoints(), this->Model->GetNumberOfPoints());
  for (vtkIdType i : ids)
  {
    ExpectMoved(this->Spline_, this->Model, r.Out, i);
  }
  EXPECT_EQ(r.Stdout, Report(static_cast<long>(ids.size())));
}

TEST_F(ShapeTransformPoints, OtherVerticesAndUnsupportedInsideVerticesStay)
{
  // 2 and 17 are inside but have no centre within the radius; 0, 7 and 13
  // move; all others are not in the list.
  const RunResult r = this->RunWith({ 2, 0, 17, 7, 13 });
  ASSERT_EQ(r.Out->GetNumberOfPoints(), this->Model->GetNumberOfPoints());
  EXPECT_FALSE(Expect(this->Spline_, this->Model, 2).Moves);
  EXPECT_FALSE(Expect(this->Spline_, this->Model, 17).Moves);
  for (vtkIdType i = 0; i < this->Model->GetNumberOfPoints(); ++i)
  {
    if (i == 0 || i == 7 || i == 13)
    {
      ExpectMoved(this->Spline_, this->Model, r.Out, i);
    }
    else
    {
      ExpectUnchanged(this->Model, r.Out, i);
    }
  }
  EXPECT_EQ(r.Stdout, Report(3));
}

TEST_F(ShapeTransformPoints, VertexListedTwiceMovesOnce)
{
  const RunResult once = this->RunWith({ 7 });
  const RunResult twice = this->RunWith({ 7, 12, 7 });
  EXPECT_EQ(once.Stdout, Report(1));
  EXPECT_EQ(twice.Stdout, Report(2));
  ExpectMoved(this->Spline_, this->Model, twice.Out, 7);
  ExpectMoved(this->Spline_, this->Model, twice.Out, 12);

  // Moved once: the jitter of vertex 7 is the first draw in both runs, so
  // within one second both give the same height.
  RunResult a;
  RunResult b;
  RunTwiceInOneSecond(
    [&] { a = this->RunWith({ 7 }); }, [&] { b = this->RunWith({ 7, 7, 7 }); });
  EXPECT_EQ(a.Out->GetPoint(7)[2], b.Out->GetPoint(7)[2]);
  EXPECT_EQ(b.Stdout, Report(1));
}

TEST_F(ShapeTransformPoints, IdsOutsideTheModelAreIgnored)
{
  const vtkIdType n = this->Model->GetNumberOfPoints();
  const RunResult r = this->RunWith({ -1, n, n + 7, 7, -100, 1000000 });
  ASSERT_EQ(r.Out->GetNumberOfPoints(), n);
  EXPECT_EQ(r.Stdout, Report(1));
  for (vtkIdType i = 0; i < n; ++i)
  {
    if (i == 7)
    {
      ExpectMoved(this->Spline_, this->Model, r.Out, i);
    }
    else
    {
      ExpectUnchanged(this->Model, r.Out, i);
    }
  }
}

TEST_F(ShapeTransformPoints, EmptyInsideListChangesNothing)
{
  const RunResult r = this->RunWith({});
  EXPECT_EQ(r.Stdout, "Affected points: 0.\n");
  ASSERT_EQ(r.Out->GetNumberOfPoints(), this->Model->GetNumberOfPoints());
  for (vtkIdType i = 0; i < this->Model->GetNumberOfPoints(); ++i)
  {
    ExpectUnchanged(this->Model, r.Out, i);
  }
}

TEST_F(ShapeTransformPoints, RepeatedCallsGiveTheSameHeightsAndEmptyTheNeighbourList)
{
  auto inside = MakeIds({ 0, 4, 7, 11, 19 });
  auto probe = vtkSmartPointer<ShapeTransformProbe>::Take(ShapeTransformProbe::New());
  Configure(probe, this->Spline_, inside);
  const vtkIdType* storage = probe->GetNeighbourIdsField()->GetPointer(0);
  for (int call = 0; call < 3; ++call)
  {
    const RunResult r = RunTransform(probe, this->Model);
    EXPECT_EQ(r.Stdout, Report(5));
    for (vtkIdType i : { 0, 4, 7, 11, 19 })
    {
      ExpectMoved(this->Spline_, this->Model, r.Out, i);
    }
    EXPECT_EQ(probe->GetNeighbourIdsField()->GetNumberOfIds(), 0);
  }
  // A few neighbours per vertex fit the storage reserved at construction.
  EXPECT_EQ(probe->GetNeighbourIdsField()->GetPointer(0), storage);
}

TEST(ShapeTransformSums, ManyNeighboursAndAnotherOrdering)
{
  // 400 centres inside the support of vertex 7 (normalised (0.5, 1/3)), some
  // off the plane, so the neighbour list outgrows its initial storage.
  Spline spline;
  std::vector<Point3> centres = FramePoints();
  std::mt19937 random(20240611);
  std::uniform_real_distribution<double> offset(-0.1, 0.1);
  for (int k = 0; k < 400; ++k)
  {
    centres.push_back({ static_cast<float>(0.5 + offset(random)),
      static_cast<float>(1.0 / 3.0 + offset(random)),
      static_cast<float>(k % 3 == 0 ? offset(random) : 0.0) });
  }
  spline.Radius = 0.4f;
  spline.SetCentres(centres);
  const int m = spline.M();
  spline.UnList.resize(m);
  for (int k = 0; k < m; ++k)
  {
    spline.UnList[k] = (k * 101 + 7) % m; // 101 and m = 412 are coprime
  }
  ASSERT_EQ(std::set<int>(spline.UnList.begin(), spline.UnList.end()).size(),
    static_cast<std::size_t>(m));
  std::uniform_real_distribution<double> coefficient(-1.0, 1.0);
  spline.Coeff.resize(m + 4);
  for (float& c : spline.Coeff)
  {
    c = static_cast<float>(coefficient(random));
  }

  auto model = MakeGrid(-2.0);
  std::vector<vtkIdType> ids;
  for (vtkIdType i = 0; i < model->GetNumberOfPoints(); ++i)
  {
    ids.push_back(i);
  }
  auto inside = MakeIds(ids);
  auto t = NewTransform();
  Configure(t, spline, inside);
  const RunResult r = RunTransform(t, model);

  long moved = 0;
  for (vtkIdType i = 0; i < model->GetNumberOfPoints(); ++i)
  {
    const Expectation x = Expect(spline, model, i);
    if (x.Margin < 1e-4)
    {
      continue; // too close to a support edge to call
    }
    if (x.Moves)
    {
      ++moved;
      ExpectMoved(spline, model, r.Out, i);
    }
    else
    {
      ExpectUnchanged(model, r.Out, i);
    }
  }
  EXPECT_GT(moved, 5);
  EXPECT_NE(r.Stdout.find("Affected points: "), std::string::npos);
}

TEST(ShapeTransformSums, SumIsRoundedToSinglePrecisionAfterEveryTerm)
{
  // Three centres at the query point of vertex 0 (normalised (0, 0, 0)), each
  // with phi = 1. The one the locator returns first carries 2^24, the other
  // two 1: rounded to float after every addition the sum stays at 2^24 (float
  // spacing there is 2), and the constant -2^24 brings it to exactly 0. Summed
  // in double and rounded once, s would be 2 and the vertex would drop by
  // twice the model's height range.
  Spline spline;
  std::vector<Point3> centres = FramePoints();
  for (int k = 0; k < 3; ++k)
  {
    centres.push_back({ 0.0, 0.0, 0.0 });
  }
  spline.Radius = 0.05f; // only these three centres are in reach
  spline.SetCentres(centres);
  const int m = spline.M();
  spline.UnList.resize(m);
  for (int k = 0; k < m; ++k)
  {
    spline.UnList[k] = m - 1 - k;
  }

  const double q[3] = { 0.0, 0.0, 0.0 };
  vtkNew<vtkIdList> order;
  spline.Tree->FindPointsWithinRadius(spline.Radius, q, order);
  ASSERT_EQ(order->GetNumberOfIds(), 3);

  spline.Coeff.assign(m + 4, 0.0f);
  for (vtkIdType j = 0; j < 3; ++j)
  {
    spline.Coeff[spline.UnList[order->GetId(j)]] = j == 0 ? 16777216.0f : 1.0f;
  }
  spline.SetTail(-16777216.0f, 0.0f, 0.0f, 0.0f);

  auto model = MakeGrid(1.0); // zmin 1, zmax 4
  auto inside = MakeIds({ 0 });
  auto t = NewTransform();
  Configure(t, spline, inside);
  const RunResult r = RunTransform(t, model);
  EXPECT_EQ(r.Stdout, Report(1));
  EXPECT_NEAR(r.Out->GetPoint(0)[2], 1.0, JitterBound + 1e-6);
}

//------------------------------------------------------------------------------
// The heights of the straightforward evaluation: for each inside vertex in
// increasing id, the centres the point locator returns, in its order, each
// term added in double and rounded to float, the tail, then the jitter drawn
// from the generator seeded with seed. Unsupported vertices keep NaN.
std::vector<double> StraightforwardHeights(
  const Spline& spline, vtkPoints* model, const std::vector<char>& inside, unsigned int seed)
{
  double bounds[6];
  model->GetBounds(bounds);
  float lo[3];
  float hi[3];
  for (int axis = 0; axis < 3; ++axis)
  {
    lo[axis] = static_cast<float>(bounds[2 * axis]);
    hi[axis] = static_cast<float>(bounds[2 * axis + 1]);
  }
  std::srand(seed);
  const int m = spline.M();
  const double radius = spline.Radius;
  vtkNew<vtkIdList> near;
  std::vector<double> heights(static_cast<size_t>(model->GetNumberOfPoints()), NAN);
  for (vtkIdType i = 0; i < model->GetNumberOfPoints(); ++i)
  {
    if (!inside[static_cast<size_t>(i)])
    {
      continue;
    }
    double p[3];
    model->GetPoint(i, p);
    const double q[3] = { Normalised(static_cast<float>(p[0]), lo[0], hi[0]),
      Normalised(static_cast<float>(p[1]), lo[1], hi[1]), 0.0 };
    spline.Tree->FindPointsWithinRadius(radius, q, near);
    if (near->GetNumberOfIds() == 0)
    {
      continue;
    }
    float s = 0.0f;
    for (vtkIdType j = 0; j < near->GetNumberOfIds(); ++j)
    {
      const vtkIdType k = near->GetId(j);
      double c[3];
      spline.Centres->GetPoint(k, c);
      const double dx = c[0] - q[0];
      const double dy = c[1] - q[1];
      const double dz = c[2] - q[2];
      const double t = 1.0 - std::sqrt(dx * dx + dy * dy + dz * dz) / radius;
      s = static_cast<float>(s + t * t * spline.Coeff[spline.UnList[k]]);
    }
    const float* tail = spline.Coeff.data() + m;
    s = static_cast<float>(s + (0.0 * tail[3] + q[1] * tail[2] + q[0] * tail[1] + tail[0]));
    const int draw = static_cast<int>(static_cast<unsigned long long>(std::rand()) /
      ((static_cast<unsigned long long>(RAND_MAX) + 1ULL) / 32768ULL));
    const float jitter = static_cast<float>(
      (draw * static_cast<double>(3.0518509e-05f) - 0.5) * (1.0 / 30.0));
    heights[static_cast<size_t>(i)] = static_cast<float>(
      static_cast<double>(lo[2]) - (static_cast<double>(hi[2]) - lo[2]) * s + jitter);
  }
  return heights;
}

TEST(ShapeTransformSums, HeightsAreBitIdenticalToTheStraightforwardSumInLocatorOrder)
{
  std::mt19937 random(11);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  struct Geometry
  {
    const char* Name;
    float Radius;
    int Centres;   // random centres in the plane, after the frame points
    bool Lattice;  // centres on a lattice instead: ties of distance and bucket
    bool OffPlane; // some centres off the plane z = 0
  };
  const Geometry geometries[] = { { "dense random centres", 0.3f, 900, false, false },
    { "lattice", 0.26f, 0, true, false }, { "sparse, off the plane", 0.07f, 300, false, true } };
  for (const Geometry& g : geometries)
  {
    Spline spline;
    std::vector<Point3> centres = FramePoints();
    if (g.Lattice)
    {
      for (int i = 0; i <= 20; ++i)
      {
        for (int j = 0; j <= 20; ++j)
        {
          centres.push_back({ static_cast<float>(i / 20.0), static_cast<float>(j / 20.0), 0.0 });
        }
      }
    }
    for (int k = 0; k < g.Centres; ++k)
    {
      const double z = g.OffPlane && k % 4 == 0 ? 0.1 * unit(random) - 0.05 : 0.0;
      centres.push_back({ static_cast<float>(unit(random)), static_cast<float>(unit(random)),
        static_cast<float>(z) });
    }
    spline.Radius = g.Radius;
    spline.SetCentres(centres);
    const int m = spline.M();
    spline.UnList.resize(m);
    for (int k = 0; k < m; ++k)
    {
      spline.UnList[k] = k;
    }
    std::shuffle(spline.UnList.begin(), spline.UnList.end(), random);
    spline.Coeff.resize(m + 4);
    for (float& c : spline.Coeff)
    {
      c = static_cast<float>(2.0 * unit(random) - 1.0);
    }

    // A model of 1,203 vertices (not a multiple of any lane count), three in
    // four of them inside, heights from 3 to 8.
    auto model = vtkSmartPointer<vtkPoints>::New();
    std::vector<vtkIdType> ids;
    std::vector<char> inside;
    for (int i = 0; i < 1203; ++i)
    {
      model->InsertNextPoint(10.0 * unit(random) - 4.0, 6.0 * unit(random), 3.0 + 5.0 * unit(random));
      inside.push_back(i % 4 != 1);
      if (inside.back())
      {
        ids.push_back(i);
      }
    }
    auto list = MakeIds(ids);
    auto t = NewTransform();
    Configure(t, spline, list);

    for (int attempt = 0;; ++attempt)
    {
      ASSERT_LT(attempt, 10) << "the clock kept changing its second";
      const std::time_t before = std::time(nullptr);
      const RunResult r = RunTransform(t, model);
      if (std::time(nullptr) != before)
      {
        continue; // the seed is not known
      }
      const std::vector<double> expected =
        StraightforwardHeights(spline, model, inside, static_cast<unsigned int>(before));
      long moved = 0;
      for (vtkIdType i = 0; i < model->GetNumberOfPoints(); ++i)
      {
        const double* out = r.Out->GetPoint(i);
        const double z = std::isnan(expected[static_cast<size_t>(i)])
          ? model->GetPoint(i)[2]
          : expected[static_cast<size_t>(i)];
        moved += !std::isnan(expected[static_cast<size_t>(i)]);
        ASSERT_EQ(out[2], z) << g.Name << ", vertex " << i;
      }
      EXPECT_EQ(r.Stdout, Report(moved)) << g.Name;
      EXPECT_GT(moved, 100) << g.Name;
      break;
    }
  }
}

//==============================================================================
// Heights in model units.

class ShapeTransformHeights : public ShapeTransformPoints
{
protected:
  // Inside vertices that have centres within the radius, and two that do not.
  const std::vector<vtkIdType> Supported = { 0, 3, 4, 6, 7, 8, 10, 11, 12, 13, 14, 15, 16, 18, 19 };
  const std::vector<vtkIdType> Unsupported = { 1, 2, 5, 17 };

  RunResult RunAll()
  {
    std::vector<vtkIdType> ids = this->Supported;
    ids.insert(ids.end(), this->Unsupported.begin(), this->Unsupported.end());
    return this->RunWith(ids);
  }

  void ExpectUnsupportedStay(const RunResult& r)
  {
    for (vtkIdType i : this->Unsupported)
    {
      ExpectUnchanged(this->Model, r.Out, i);
    }
    EXPECT_EQ(r.Stdout, Report(static_cast<long>(this->Supported.size())));
  }
};

TEST_F(ShapeTransformHeights, ZeroSplineGivesTheLowestHeight)
{
  this->Spline_.ZeroCoefficients();
  const RunResult r = this->RunAll();
  const Bounds b = BoundsOf(this->Model);
  for (vtkIdType i : this->Supported)
  {
    EXPECT_NEAR(r.Out->GetPoint(i)[2], b.ZMin, JitterBound + 1e-6) << "vertex " << i;
  }
  this->ExpectUnsupportedStay(r);
}

TEST_F(ShapeTransformHeights, MinusOneHalfGivesTheMiddleHeight)
{
  this->Spline_.ZeroCoefficients();
  this->Spline_.SetTail(-0.5f, 0.0f, 0.0f, 0.0f);
  const RunResult r = this->RunAll();
  const Bounds b = BoundsOf(this->Model);
  for (vtkIdType i : this->Supported)
  {
    EXPECT_NEAR(r.Out->GetPoint(i)[2], 0.5 * (b.ZMin + b.ZMax), JitterBound + 1e-5)
      << "vertex " << i;
  }
  this->ExpectUnsupportedStay(r);
}

TEST_F(ShapeTransformHeights, MinusNormalisedHeightGivesThatHeight)
{
  // s = -V with V = (h - zmin) / (zmax - zmin) for the plane
  // h = 1.5 + 0.8 X - 0.3 Y (model units, zmin 1, zmax 4): the vertices land
  // on that plane.
  const Bounds b = BoundsOf(this->Model);
  const double range = b.ZMax - b.ZMin;
  this->Spline_.ZeroCoefficients();
  this->Spline_.SetTail(static_cast<float>(-(1.5 - b.ZMin) / range),
    static_cast<float>(-0.8 / range), static_cast<float>(0.3 / range), 0.0f);
  const RunResult r = this->RunAll();
  for (vtkIdType i : this->Supported)
  {
    double p[3];
    this->Model->GetPoint(i, p);
    const double X = (p[0] - b.XMin) / (b.XMax - b.XMin);
    const double Y = (p[1] - b.YMin) / (b.YMax - b.YMin);
    const double h = 1.5 + 0.8 * X - 0.3 * Y;
    EXPECT_NEAR(r.Out->GetPoint(i)[2], h, JitterBound + 1e-5) << "vertex " << i;
  }
  this->ExpectUnsupportedStay(r);
}

//==============================================================================
// Jitter.

class ShapeTransformJitter : public ShapeTransformPoints
{
protected:
  // With all coefficients zero and zmin = 0, a moved vertex's new height is
  // 0 - 3 * 0 + jitter: exactly the jitter.
  void SetUp() override
  {
    ShapeTransformPoints::SetUp();
    this->Model = MakeGrid(0.0);
    this->Spline_.ZeroCoefficients();
  }

  std::vector<double> Jitters(const RunResult& r)
  {
    std::vector<double> j;
    for (vtkIdType i : this->Ids)
    {
      j.push_back(r.Out->GetPoint(i)[2]);
    }
    return j;
  }

  const std::vector<vtkIdType> Ids = { 0, 3, 4, 6, 7, 8, 10, 11, 12, 13, 14, 15, 16, 18, 19 };
};

TEST_F(ShapeTransformJitter, OffsetsAreDrawsOfZeroTo32767WithinOneSixtieth)
{
  const RunResult r = this->RunWith(this->Ids);
  EXPECT_EQ(r.Stdout, Report(static_cast<long>(this->Ids.size())));
  for (double jitter : this->Jitters(r))
  {
    EXPECT_GE(jitter, -JitterBound);
    EXPECT_LE(jitter, JitterBound);
    // jitter = float((r * float(1/32767) - 0.5) * (1/30)) for an integer r
    // in 0..32767.
    const long guess = std::lround((jitter * 30.0 + 0.5) * 32767.0);
    bool matched = false;
    for (long draw = std::max(0L, guess - 2); draw <= std::min(32767L, guess + 2); ++draw)
    {
      const float value = static_cast<float>(
        (static_cast<double>(draw) * static_cast<double>(3.0518509e-05f) - 0.5) * (1.0 / 30.0));
      matched = matched || static_cast<double>(value) == jitter;
    }
    EXPECT_TRUE(matched) << "jitter " << jitter << " is not a draw of 0..32767";
  }
}

TEST_F(ShapeTransformJitter, OffsetsVaryFromVertexToVertex)
{
  const RunResult r = this->RunWith(this->Ids);
  const std::vector<double> j = this->Jitters(r);
  const std::set<double> distinct(j.begin(), j.end());
  EXPECT_GT(distinct.size(), j.size() / 2) << "jitter hardly varies";
  const auto range = std::minmax_element(j.begin(), j.end());
  EXPECT_GT(*range.second - *range.first, 1e-3);
}

TEST_F(ShapeTransformJitter, CallsInTheSameSecondDrawTheSameOffsets)
{
  RunResult a;
  RunResult b;
  // Whatever the caller does to the generator in between, each call reseeds it.
  RunTwiceInOneSecond([&] { a = this->RunWith(this->Ids); },
    [&] {
      std::srand(12345u);
      (void)std::rand();
      b = this->RunWith(this->Ids);
    });
  EXPECT_EQ(this->Jitters(a), this->Jitters(b));
}

TEST_F(ShapeTransformJitter, WithoutJitterTheCallersSequenceIsLeftAlone)
{
  std::srand(777u);
  const int expected = std::rand();
  std::srand(777u);
  auto inside = MakeIds(this->Ids);
  auto t = NewTransform();
  Configure(t, this->Spline_, inside);
  t->JitterOff();
  const RunResult r = RunTransform(t, this->Model);
  ASSERT_EQ(r.Out->GetNumberOfPoints(), this->Model->GetNumberOfPoints());
  EXPECT_EQ(std::rand(), expected);
}

// Slow: waits for the calendar time to move on to the next second.
TEST_F(ShapeTransformJitter, SlowCallsInDifferentSecondsDrawDifferentOffsets)
{
  const RunResult a = this->RunWith(this->Ids);
  const std::time_t after = std::time(nullptr);
  while (std::time(nullptr) == after)
  {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  const RunResult b = this->RunWith(this->Ids);
  EXPECT_NE(this->Jitters(a), this->Jitters(b));
}

//==============================================================================
// Through vtkTransformPolyDataFilter, with normals and vectors.

vtkSmartPointer<vtkPolyData> MakeSurface(vtkPoints* points)
{
  auto surface = vtkSmartPointer<vtkPolyData>::New();
  surface->SetPoints(points);
  vtkNew<vtkCellArray> triangles;
  testsupport::AddGridTriangles(triangles, GridNX, GridNY);
  surface->SetPolys(triangles);
  return surface;
}

vtkSmartPointer<vtkFloatArray> MakeNormals(vtkIdType n)
{
  auto normals = vtkSmartPointer<vtkFloatArray>::New();
  normals->SetName("Normals");
  normals->SetNumberOfComponents(3);
  for (vtkIdType i = 0; i < n; ++i)
  {
    const double a = 0.1 * static_cast<double>(i);
    normals->InsertNextTuple3(std::sin(a) * 0.3, std::cos(a) * 0.3, 0.9);
  }
  return normals;
}

vtkSmartPointer<vtkDoubleArray> MakeVectors(vtkIdType n, const char* name, double scale)
{
  auto vectors = vtkSmartPointer<vtkDoubleArray>::New();
  vectors->SetName(name);
  vectors->SetNumberOfComponents(3);
  for (vtkIdType i = 0; i < n; ++i)
  {
    vectors->InsertNextTuple3(scale * i, -scale * i * i, 1.0 / (i + 1.0));
  }
  return vectors;
}

void ExpectSameTuples(vtkDataArray* expected, vtkDataArray* actual)
{
  ASSERT_NE(actual, nullptr);
  ASSERT_EQ(actual->GetNumberOfTuples(), expected->GetNumberOfTuples());
  ASSERT_EQ(actual->GetNumberOfComponents(), expected->GetNumberOfComponents());
  for (vtkIdType i = 0; i < expected->GetNumberOfTuples(); ++i)
  {
    for (int c = 0; c < expected->GetNumberOfComponents(); ++c)
    {
      // The filter may store the tuples in single precision.
      double value = expected->GetComponent(i, c);
      if (actual->GetDataType() == VTK_FLOAT)
      {
        value = static_cast<float>(value);
      }
      EXPECT_EQ(actual->GetComponent(i, c), value) << "tuple " << i << " component " << c;
    }
  }
}

class ShapeTransformFilter : public ShapeTransformPoints
{
protected:
  const std::vector<vtkIdType> Ids = { 0, 2, 7, 11, 12, 17, 19 }; // 2 and 17 unsupported
};

TEST_F(ShapeTransformFilter, NormalsPathMovesPointsLikeThePlainPath)
{
  const vtkIdType n = this->Model->GetNumberOfPoints();
  auto surface = MakeSurface(this->Model);
  auto normals = MakeNormals(n);
  surface->GetPointData()->SetNormals(normals);

  auto inside = MakeIds(this->Ids);
  auto t = NewTransform();
  Configure(t, this->Spline_, inside);
  vtkNew<vtkTransformPolyDataFilter> filter;
  filter->SetInputData(surface);
  filter->SetTransform(t);

  RunResult plain;
  std::string filterOut;
  RunTwiceInOneSecond([&] { plain = RunTransform(t, this->Model); },
    [&] {
      testing::internal::CaptureStdout();
      filter->Modified(); // a retry in the next second must run the filter again
      filter->Update();
      filterOut = testing::internal::GetCapturedStdout();
    });

  EXPECT_EQ(filterOut, Report(5));
  vtkPolyData* result = filter->GetOutput();
  ASSERT_EQ(result->GetNumberOfPoints(), n);
  for (vtkIdType i = 0; i < n; ++i)
  {
    double a[3];
    double b[3];
    plain.Out->GetPoint(i, a);
    result->GetPoint(i, b);
    EXPECT_EQ(a[0], b[0]) << "vertex " << i;
    EXPECT_EQ(a[1], b[1]) << "vertex " << i;
    EXPECT_EQ(a[2], b[2]) << "vertex " << i;
  }
  for (vtkIdType i : { 0, 7, 11, 12, 19 })
  {
    ExpectMoved(this->Spline_, this->Model, result->GetPoints(), i);
  }
  for (vtkIdType i : { 1, 2, 17, 18 })
  {
    ExpectUnchanged(this->Model, result->GetPoints(), i);
  }
  ExpectSameTuples(normals, result->GetPointData()->GetNormals());
  EXPECT_EQ(result->GetNumberOfPolys(), surface->GetNumberOfPolys());
}

TEST_F(ShapeTransformFilter, VectorsPassThroughUnchanged)
{
  const vtkIdType n = this->Model->GetNumberOfPoints();
  auto surface = MakeSurface(this->Model);
  auto normals = MakeNormals(n);
  auto vectors = MakeVectors(n, "Velocity", 0.25);
  surface->GetPointData()->SetNormals(normals);
  surface->GetPointData()->SetVectors(vectors);

  auto inside = MakeIds(this->Ids);
  auto t = NewTransform();
  Configure(t, this->Spline_, inside);
  vtkNew<vtkTransformPolyDataFilter> filter;
  filter->SetInputData(surface);
  filter->SetTransform(t);
  testing::internal::CaptureStdout();
  filter->Update();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), Report(5));

  vtkPolyData* result = filter->GetOutput();
  ASSERT_EQ(result->GetNumberOfPoints(), n);
  ExpectSameTuples(normals, result->GetPointData()->GetNormals());
  ExpectSameTuples(vectors, result->GetPointData()->GetVectors());
}

TEST_F(ShapeTransformFilter, OptionalVectorArraysAndNullArrays)
{
  const vtkIdType n = this->Model->GetNumberOfPoints();
  auto inside = MakeIds(this->Ids);
  auto t = NewTransform();
  Configure(t, this->Spline_, inside);

  auto first = MakeVectors(n, "First", 2.0);
  auto second = MakeVectors(n, "Second", -0.125);
  auto firstOut = vtkSmartPointer<vtkDoubleArray>::New();
  firstOut->SetNumberOfComponents(3);
  auto secondOut = vtkSmartPointer<vtkDoubleArray>::New();
  secondOut->SetNumberOfComponents(3);
  vtkDataArray* inArrays[3] = { first, nullptr, second };
  vtkDataArray* outArrays[3] = { firstOut, nullptr, secondOut };

  auto out = vtkSmartPointer<vtkPoints>::New();
  testing::internal::CaptureStdout();
  t->TransformPointsNormalsVectors(
    this->Model, out, nullptr, nullptr, nullptr, nullptr, 3, inArrays, outArrays);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), Report(5));
  ASSERT_EQ(out->GetNumberOfPoints(), n);
  ExpectMoved(this->Spline_, this->Model, out, 12);
  ExpectUnchanged(this->Model, out, 17);
  ExpectSameTuples(first, firstOut);
  ExpectSameTuples(second, secondOut);

  // No arrays at all: the points alone.
  auto bare = vtkSmartPointer<vtkPoints>::New();
  testing::internal::CaptureStdout();
  t->TransformPointsNormalsVectors(this->Model, bare, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), Report(5));
  EXPECT_EQ(bare->GetNumberOfPoints(), n);
}

//==============================================================================
// Guards.

TEST(ShapeTransformGuards, ModelWithoutExtentInXOrYIsLeftAlone)
{
  Spline spline;
  MakeStandardSpline(spline);
  for (int flatAxis = 0; flatAxis < 2; ++flatAxis)
  {
    auto model = vtkSmartPointer<vtkPoints>::New();
    for (int i = 0; i < 6; ++i)
    {
      const double along = 0.2 * i;
      model->InsertNextPoint(flatAxis == 0 ? 3.0 : along, flatAxis == 0 ? along : -1.0, 0.5 * i);
    }
    std::vector<vtkIdType> ids = { 0, 1, 2, 3, 4, 5 };
    auto inside = MakeIds(ids);
    auto t = NewTransform();
    Configure(t, spline, inside);
    vtkNew<vtkTest::ErrorObserver> observer;
    t->AddObserver(vtkCommand::WarningEvent, observer);
    t->AddObserver(vtkCommand::ErrorEvent, observer);

    const RunResult r = RunTransform(t, model);
    EXPECT_EQ(r.Stdout, Report(0)) << "flat axis " << flatAxis;
    ASSERT_EQ(r.Out->GetNumberOfPoints(), model->GetNumberOfPoints());
    for (vtkIdType i = 0; i < model->GetNumberOfPoints(); ++i)
    {
      ExpectUnchanged(model, r.Out, i);
      EXPECT_TRUE(std::isfinite(r.Out->GetPoint(i)[2]));
    }
    EXPECT_TRUE(observer->GetWarning()) << "flat axis " << flatAxis;
    EXPECT_FALSE(observer->GetError());
  }
}

TEST(ShapeTransformGuards, WithoutParametersPointsAreCopiedAndAnErrorIsReported)
{
  auto model = MakeGrid(1.0);
  auto t = NewTransform();
  vtkNew<vtkTest::ErrorObserver> observer;
  t->AddObserver(vtkCommand::ErrorEvent, observer);
  const RunResult r = RunTransform(t, model);
  EXPECT_TRUE(observer->GetError());
  EXPECT_NE(observer->GetErrorMessage().find("SetParameters"), std::string::npos);
  EXPECT_EQ(r.Stdout, Report(0));
  ASSERT_EQ(r.Out->GetNumberOfPoints(), model->GetNumberOfPoints());
  for (vtkIdType i = 0; i < model->GetNumberOfPoints(); ++i)
  {
    ExpectUnchanged(model, r.Out, i);
  }
}

} // namespace

// The frame's bounds are read straight from float and double coordinate
// arrays and through the points' interface otherwise: every way gives the
// bounds of x and y over all vertices and of z over the finite heights only.
TEST(FrameBounds, SameBoundsWhateverTheCoordinateType)
{
  const double nan = std::nan("");
  const double inf = HUGE_VAL;
  const std::vector<std::array<double, 3>> vertices = { { 2.0, -1.0, nan }, { 4.0, 3.0, 1.5 },
    { -3.0, 0.5, -inf }, { 1.0, 7.0, -2.25 }, { 0.0, 0.0, 9.0 }, { 5.5, -4.0, nan } };
  for (int type : { VTK_FLOAT, VTK_DOUBLE, VTK_INT })
  {
    vtkNew<vtkPoints> points;
    points->SetDataType(type);
    for (const auto& v : vertices)
    {
      // Integer coordinates cannot be void: their heights are all finite.
      const double z = type == VTK_INT && !std::isfinite(v[2]) ? 0.0 : v[2];
      if (type == VTK_INT)
      {
        points->InsertNextPoint(std::round(v[0]), std::round(v[1]), std::round(z));
      }
      else
      {
        points->InsertNextPoint(v[0], v[1], z);
      }
    }
    double bounds[6];
    const vtkIdType finite = FrameBounds(points, bounds);
    if (type == VTK_INT)
    {
      EXPECT_EQ(finite, 6);
      const double expected[6] = { -3.0, 6.0, -4.0, 7.0, -2.0, 9.0 }; // 5.5 rounds to 6
      for (int k = 0; k < 6; ++k)
      {
        EXPECT_EQ(bounds[k], expected[k]) << "integer coordinates, bound " << k;
      }
      continue;
    }
    EXPECT_EQ(finite, 3) << "type " << type;
    const double expected[6] = { -3.0, 5.5, -4.0, 7.0, -2.25, 9.0 };
    for (int k = 0; k < 6; ++k)
    {
      EXPECT_EQ(bounds[k], expected[k]) << "type " << type << ", bound " << k;
    }
  }

  // Without a finite height the z range is empty, and so zero.
  vtkNew<vtkPoints> voids;
  voids->InsertNextPoint(1.0, 2.0, nan);
  voids->InsertNextPoint(3.0, 4.0, nan);
  double bounds[6];
  EXPECT_EQ(FrameBounds(voids, bounds), 0);
  EXPECT_EQ(bounds[0], 1.0);
  EXPECT_EQ(bounds[3], 4.0);
  EXPECT_EQ(bounds[4], 0.0);
  EXPECT_EQ(bounds[5], 0.0);
}
