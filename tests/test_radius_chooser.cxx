// Choosing the radius: every inside vertex reached, the cost guard obeyed,
// the degenerate inputs, the trial fit and the kriging reference against
// known answers.

#include "CostEstimate.h"
#include "KrigingReference.h"
#include "RadiusChooser.h"
#include "TestSupport.h"
#include "TrialFit.h"
#include "vtkDatReader.h"

#include <gtest/gtest.h>

#include <vtkIdList.h>
#include <vtkNew.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>

#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace
{
// A regular n x n height field over [0, n - 1]^2, split into inside and
// outside vertices; the other vertices are left alone.
struct Repair
{
  vtkNew<vtkPolyData> Model;
  vtkNew<vtkIdList> Inside;
  vtkNew<vtkIdList> Outside;
  vtkNew<vtkDatReader> Reader;
  int N = 0;

  Repair(int n, const std::function<bool(int, int)>& inside,
    const std::function<bool(int, int)>& outside)
    : N(n)
  {
    vtkNew<vtkPoints> points;
    for (int j = 0; j < n; ++j)
    {
      for (int i = 0; i < n; ++i)
      {
        points->InsertNextPoint(i, j, 3.0 * std::sin(0.3 * i) + 2.0 * std::cos(0.2 * j) + 0.1 * i);
        if (inside(i, j))
        {
          this->Inside->InsertNextId(j * n + i);
        }
        else if (outside(i, j))
        {
          this->Outside->InsertNextId(j * n + i);
        }
      }
    }
    this->Model->SetPoints(points);
    this->Reader->SetModel(this->Model);
    this->Reader->SetOutsideIds(this->Outside);
    EXPECT_EQ(this->Reader->ReadConstraints(), 0);
  }

  RadiusChoice Choose(double memory = AvailableMemory())
  {
    return ChooseRadius(this->Model, this->Reader->GetPointArray(), this->Reader->GetValues(),
      this->Inside, memory);
  }

  // The normalised plane position of vertex id.
  std::array<double, 2> At(vtkIdType id) const
  {
    return { (id % this->N) / (this->N - 1.0), (id / this->N) / (this->N - 1.0) };
  }

  // Largest distance from an inside vertex to its nearest outside vertex,
  // by brute force.
  double Reach() const
  {
    double reach = 0.0;
    for (vtkIdType a = 0; a < this->Inside->GetNumberOfIds(); ++a)
    {
      const auto p = this->At(this->Inside->GetId(a));
      double nearest = std::numeric_limits<double>::max();
      for (vtkIdType b = 0; b < this->Outside->GetNumberOfIds(); ++b)
      {
        const auto q = this->At(this->Outside->GetId(b));
        nearest = std::min(nearest, std::hypot(p[0] - q[0], p[1] - q[1]));
      }
      reach = std::max(reach, nearest);
    }
    return reach;
  }
};

std::function<bool(int, int)> Disc(double cx, double cy, double r)
{
  return [=](int i, int j) { return (i - cx) * (i - cx) + (j - cy) * (j - cy) <= r * r; };
}

std::function<bool(int, int)> Ring(double cx, double cy, double r, double width)
{
  return [=](int i, int j) {
    const double d = std::hypot(i - cx, j - cy);
    return d > r && d <= r + width;
  };
}
} // namespace

// Holes of several shapes: the radius chosen exceeds the reach (measured
// independently), so every inside vertex has an outside vertex within it,
// the system at that radius passes the cost guard, and the choice was
// validated against a kriged reference.
TEST(RadiusChooser, ReachesEveryInsideVertex)
{
  struct Shape
  {
    const char* Name;
    std::function<bool(int, int)> Inside;
    std::function<bool(int, int)> Outside;
  };
  const auto twoLobes = [](int i, int j) { return Disc(20, 22, 4)(i, j) || Disc(25, 18, 3)(i, j); };
  const Shape shapes[] = {
    { "disc with a ring", Disc(20, 20, 4), Ring(20, 20, 4, 4) },
    { "two lobes", twoLobes,
      [&](int i, int j) { return !twoLobes(i, j) && (Disc(20, 22, 9)(i, j) || Disc(25, 18, 8)(i, j)); } },
    { "corner", Disc(0, 0, 6), Ring(0, 0, 6, 5) },
    { "everything else outside", Disc(30, 12, 3), [](int, int) { return true; } },
  };
  for (const Shape& shape : shapes)
  {
    Repair repair(60, shape.Inside, shape.Outside);
    const RadiusChoice choice = repair.Choose();
    const double reach = repair.Reach();
    EXPECT_NEAR(choice.Reach, reach, 1e-6) << shape.Name;
    EXPECT_GT(choice.Radius, reach) << shape.Name;
    EXPECT_LE(choice.Radius, 10.0 * reach) << shape.Name;
    EXPECT_GT(choice.References, 2) << shape.Name;
    EXPECT_LE(choice.References, 400) << shape.Name;
    EXPECT_GT(choice.Fits, 1) << shape.Name;
    EXPECT_GE(choice.Exponent, 0.1) << shape.Name;
    EXPECT_GT(choice.Range, 0.0) << shape.Name;
    EXPECT_LE(choice.Exponent, 1.9) << shape.Name;
    EXPECT_TRUE(CostRefusal(repair.Reader->GetPointArray(), choice.Radius, AvailableMemory()).empty())
      << shape.Name;
    for (vtkIdType a = 0; a < repair.Inside->GetNumberOfIds(); ++a)
    {
      const auto p = repair.At(repair.Inside->GetId(a));
      bool reached = false;
      for (vtkIdType b = 0; b < repair.Outside->GetNumberOfIds() && !reached; ++b)
      {
        const auto q = repair.At(repair.Outside->GetId(b));
        reached = std::hypot(p[0] - q[0], p[1] - q[1]) < choice.Radius;
      }
      EXPECT_TRUE(reached) << shape.Name << ": inside vertex " << repair.Inside->GetId(a);
    }
  }
}

// Outside vertices on one line give no kriged reference (its linear drift is
// undetermined across the line): the radius is then a fixed multiple of the
// reach, chosen without a trial fit.
TEST(RadiusChooser, WithoutAReference)
{
  Repair repair(30, Disc(15, 12, 2), [](int, int j) { return j == 15; });
  const RadiusChoice choice = repair.Choose();
  EXPECT_EQ(choice.References, 0);
  EXPECT_EQ(choice.Fits, 0);
  EXPECT_NEAR(choice.Radius, 3.5 * repair.Reach(), 1e-6);
}

// No inside vertex: nothing to reach. The radius still makes the constraint
// points one surface (a few grid steps) and nothing is divided by zero.
TEST(RadiusChooser, EmptyInsideList)
{
  Repair repair(30, [](int, int) { return false; }, Ring(15, 15, 4, 5));
  const RadiusChoice choice = repair.Choose();
  EXPECT_EQ(choice.Reach, 0.0);
  EXPECT_EQ(choice.Fits, 0);
  EXPECT_TRUE(std::isfinite(choice.Radius));
  EXPECT_NEAR(choice.Radius, 3.0 / 29.0, 1e-6);
}

// Inside vertices that are outside vertices too are reached at any radius;
// the radius still spans a few grid steps.
TEST(RadiusChooser, InsideVerticesOnOutsideVertices)
{
  Repair repair(30, [](int, int) { return false; }, Ring(15, 15, 4, 5));
  repair.Inside->InsertNextId(repair.Outside->GetId(3));
  const RadiusChoice choice = repair.Choose();
  EXPECT_NEAR(choice.Reach, 0.0, 1e-6);
  EXPECT_NEAR(choice.Radius, 3.0 / 29.0, 1e-6);
}

// When not even the reach fits in memory the choice says so.
TEST(RadiusChooser, RefusesWhenNoRadiusFits)
{
  Repair repair(40, Disc(20, 20, 5), Ring(20, 20, 5, 6));
  try
  {
    repair.Choose(1000.0);
    ADD_FAILURE() << "no refusal";
  }
  catch (const char* message)
  {
    EXPECT_STREQ(message,
      "No radius that reaches every inside vertex fits in memory: reduce the outside list");
  }
}

// The spline through the frame points and the given points, solved densely
// in double ([A P^T; P 0] with the basis and the linear tail), at q.
std::vector<double> DenseSpline(vtkPoints* frame, const PlanePoints& points,
  const std::vector<double>& values, double radius, const PlanePoints& queries)
{
  std::vector<std::array<double, 3>> centre;
  std::vector<double> rhs;
  for (vtkIdType i = 0; i < frame->GetNumberOfPoints(); ++i)
  {
    const double* p = frame->GetPoint(i);
    centre.push_back({ p[0], p[1], p[2] });
    rhs.push_back(0.0);
  }
  for (size_t k = 0; k < points.size(); ++k)
  {
    centre.push_back({ points[k][0], points[k][1], 0.0 });
    rhs.push_back(-values[k]);
  }
  const size_t n = centre.size();
  auto phi = [radius](const std::array<double, 3>& a, const std::array<double, 3>& b) {
    const double d = std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) +
      (a[2] - b[2]) * (a[2] - b[2]));
    return d < radius ? (1.0 - d / radius) * (1.0 - d / radius) : 0.0;
  };
  std::vector<std::vector<double>> m(n + 4, std::vector<double>(n + 4, 0.0));
  for (size_t i = 0; i < n; ++i)
  {
    for (size_t j = 0; j < n; ++j)
    {
      m[i][j] = phi(centre[i], centre[j]);
    }
    const double tail[4] = { 1.0, centre[i][0], centre[i][1], centre[i][2] };
    for (size_t t = 0; t < 4; ++t)
    {
      m[i][n + t] = tail[t];
      m[n + t][i] = tail[t];
    }
  }
  rhs.resize(n + 4, 0.0);
  const std::vector<double> x = testsupport::SolveDense(m, rhs);
  std::vector<double> result;
  for (const auto& q : queries)
  {
    const std::array<double, 3> at = { q[0], q[1], 0.0 };
    double s = x[n] + x[n + 1] * q[0] + x[n + 2] * q[1];
    for (size_t i = 0; i < n; ++i)
    {
      s += x[i] * phi(centre[i], at);
    }
    result.push_back(-s);
  }
  return result;
}

// The trial fit is the program's spline: it interpolates the points it is
// given and, between them, agrees with a dense solve in double.
TEST(TrialFit, InterpolatesAndMatchesADenseSolve)
{
  vtkNew<vtkPoints> frame;
  for (const double z : { -0.1, 0.5, 1.1 })
  {
    for (const double y : { -0.1, 1.1 })
    {
      for (const double x : { -0.1, 1.1 })
      {
        frame->InsertNextPoint(x, y, z);
      }
    }
  }
  PlanePoints plane;
  std::vector<double> wavy;
  for (int j = 0; j < 16; ++j)
  {
    for (int i = 0; i < 16; ++i)
    {
      const double x = i / 15.0, y = j / 15.0;
      plane.push_back({ x, y });
      wavy.push_back(0.4 + 0.2 * std::sin(4.0 * x) * std::cos(3.0 * y));
    }
  }
  std::vector<int> kept;
  PlanePoints keptPoints;
  std::vector<double> keptValues;
  PlanePoints hidden;
  for (size_t k = 0; k < plane.size(); ++k)
  {
    if (k % 5 == 2)
    {
      hidden.push_back({ plane[k][0] + 0.01, plane[k][1] - 0.007 });
    }
    else
    {
      kept.push_back(static_cast<int>(k));
      keptPoints.push_back(plane[k]);
      keptValues.push_back(wavy[k]);
    }
  }
  const TrialFit fit(frame, plane, wavy);
  for (const double radius : { 0.15, 0.3, 0.7 })
  {
    std::vector<double> predicted;
    ASSERT_TRUE(fit.Predict(kept, radius, keptPoints, predicted)) << radius;
    ASSERT_EQ(predicted.size(), kept.size());
    for (size_t q = 0; q < kept.size(); ++q)
    {
      EXPECT_NEAR(predicted[q], keptValues[q], 2e-5) << "R = " << radius;
    }
    ASSERT_TRUE(fit.Predict(kept, radius, hidden, predicted)) << radius;
    const std::vector<double> reference = DenseSpline(frame, keptPoints, keptValues, radius, hidden);
    for (size_t q = 0; q < hidden.size(); ++q)
    {
      EXPECT_NEAR(predicted[q], reference[q], 1e-4) << "R = " << radius << ", point " << q;
    }
  }
}

namespace
{
// Points scattered over the unit square.
PlanePoints Scattered(int count, unsigned seed)
{
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  PlanePoints points;
  for (int k = 0; k < count; ++k)
  {
    const double x = unit(random);
    points.push_back({ x, unit(random) });
  }
  return points;
}
} // namespace

// A kriging predictor under test: values at the points, predicted at the
// queries.
using Predictor = std::function<bool(const PlanePoints&, const std::vector<double>&,
  const PlanePoints&, std::vector<double>&)>;

// What any kriging with a linear drift must do: interpolate its points,
// reproduce a plane exactly, and between its points agree with the same
// system, built here from the covariance g, solved by an independent dense
// solver.
void CheckKriging(const Predictor& krige, const std::function<double(double)>& g,
  const std::string& name)
{
  const PlanePoints points = Scattered(60, 3);
  const PlanePoints queries = Scattered(25, 4);
  std::vector<double> plane;
  std::vector<double> wavy;
  for (const auto& p : points)
  {
    plane.push_back(2.0 - 0.7 * p[0] + 1.3 * p[1]);
    wavy.push_back(std::sin(5.0 * p[0]) * std::cos(4.0 * p[1]));
  }
  std::vector<double> predicted;
  ASSERT_TRUE(krige(points, wavy, points, predicted)) << name;
  for (size_t k = 0; k < points.size(); ++k)
  {
    EXPECT_NEAR(predicted[k], wavy[k], 1e-9) << name << ", point " << k;
  }
  ASSERT_TRUE(krige(points, plane, queries, predicted)) << name;
  for (size_t q = 0; q < queries.size(); ++q)
  {
    EXPECT_NEAR(predicted[q], 2.0 - 0.7 * queries[q][0] + 1.3 * queries[q][1], 1e-9)
      << name << ", query " << q;
  }

  const size_t n = points.size();
  auto d = [](const std::array<double, 2>& a, const std::array<double, 2>& b) {
    return std::hypot(a[0] - b[0], a[1] - b[1]);
  };
  std::vector<std::vector<double>> m(n + 3, std::vector<double>(n + 3, 0.0));
  std::vector<double> rhs(n + 3, 0.0);
  for (size_t i = 0; i < n; ++i)
  {
    for (size_t j = 0; j < n; ++j)
    {
      m[i][j] = g(d(points[i], points[j]));
    }
    const double tail[3] = { 1.0, points[i][0], points[i][1] };
    for (size_t t = 0; t < 3; ++t)
    {
      m[i][n + t] = m[n + t][i] = tail[t];
    }
    rhs[i] = wavy[i];
  }
  const std::vector<double> x = testsupport::SolveDense(m, rhs);
  ASSERT_TRUE(krige(points, wavy, queries, predicted)) << name;
  for (size_t q = 0; q < queries.size(); ++q)
  {
    double s = x[n] + x[n + 1] * queries[q][0] + x[n + 2] * queries[q][1];
    for (size_t i = 0; i < n; ++i)
    {
      s += x[i] * g(d(queries[q], points[i]));
    }
    EXPECT_NEAR(predicted[q], s, 1e-8) << name << ", query " << q;
  }
}

// Both kriging references, the intrinsic one at several exponents and the
// universal one at several stable covariances.
TEST(KrigingReference, InterpolatesReproducesPlanesAndMatchesADenseSolve)
{
  for (const double alpha : { 0.5, 1.0, 1.5, 1.9 })
  {
    CheckKriging(
      [alpha](const PlanePoints& p, const std::vector<double>& v, const PlanePoints& q,
        std::vector<double>& out) { return IntrinsicKriging(p, v, alpha, q, out); },
      [alpha](double d) { return -std::pow(d, alpha); }, "intrinsic, alpha " + std::to_string(alpha));
  }
  for (const StableVariogram model : { StableVariogram{ 0.2, 1.0, 3.0 },
         StableVariogram{ 0.1, 1.95, 1.0 }, StableVariogram{ 0.5, 0.5, 0.2 } })
  {
    CheckKriging(
      [model](const PlanePoints& p, const std::vector<double>& v, const PlanePoints& q,
        std::vector<double>& out) { return UniversalKriging(p, v, model, q, out); },
      [model](double d) { return std::exp(-std::pow(d / model.Range, model.Shape)); },
      "universal, range " + std::to_string(model.Range));
  }
}

// Too few points, or points on one line, leave the drift undetermined.
TEST(KrigingReference, RefusesAnUndeterminedDrift)
{
  std::vector<double> predicted = { 1.0 };
  EXPECT_FALSE(IntrinsicKriging({ { 0.1, 0.2 }, { 0.5, 0.5 } }, { 1.0, 2.0 }, 1.0, { { 0.3, 0.3 } },
    predicted));
  EXPECT_TRUE(predicted.empty());
  PlanePoints line;
  std::vector<double> values;
  for (int k = 0; k < 10; ++k)
  {
    line.push_back({ 0.1 * k, 0.05 * k });
    values.push_back(k % 3);
  }
  EXPECT_FALSE(IntrinsicKriging(line, values, 1.5, { { 0.3, 0.7 } }, predicted));
  EXPECT_FALSE(
    UniversalKriging(line, values, StableVariogram{ 0.2, 1.0, 1.0 }, { { 0.3, 0.7 } }, predicted));
  // Without a model there is nothing to krige with.
  EXPECT_FALSE(UniversalKriging(Scattered(20, 9), std::vector<double>(20, 1.0), StableVariogram{},
    { { 0.3, 0.7 } }, predicted));
}

// The stable variogram is found where it lies on the search grid, its sill
// with it; with fewer than two bins there is no model.
TEST(KrigingReference, StableVariogramOfKnownSemivariances)
{
  const double shortest = 0.01, longest = 1.0;
  const double range = shortest * std::pow(longest / shortest, 20.0 / 39.0); // on the grid
  for (const double shape : { 0.5, 1.25, 1.95 })
  {
    std::vector<double> distance, semivariance, pairs;
    for (int b = 0; b < 12; ++b)
    {
      distance.push_back(0.02 * std::pow(1.4, b));
      semivariance.push_back(2.5 * (1.0 - std::exp(-std::pow(distance.back() / range, shape))));
      pairs.push_back(30.0 + 7.0 * b);
    }
    const StableVariogram fit = FitStableVariogram(distance, semivariance, pairs, shortest, longest);
    EXPECT_NEAR(fit.Range, range, 1e-12) << shape;
    EXPECT_DOUBLE_EQ(fit.Shape, shape);
    EXPECT_NEAR(fit.Sill, 2.5, 1e-9) << shape;
  }
  EXPECT_EQ(FitStableVariogram({ 0.1 }, { 1.0 }, { 50.0 }, shortest, longest).Range, 0.0);
}

// The stationary variogram is fitted to the heights about their plane: a
// plane added to the heights changes nothing, and independent noise gives a
// sill near its variance and a range short against the points' extent.
TEST(KrigingReference, StationaryVariogramIsThatOfTheResidual)
{
  const PlanePoints points = Scattered(300, 7);
  std::mt19937 random(8);
  std::normal_distribution<double> gauss(0.0, 0.5);
  std::vector<double> noise, tilted;
  for (const auto& p : points)
  {
    noise.push_back(gauss(random));
    tilted.push_back(noise.back() + 4.0 + 3.0 * p[0] - 2.0 * p[1]);
  }
  const StableVariogram flat = StationaryVariogram(points, noise, 2.0);
  const StableVariogram onPlane = StationaryVariogram(points, tilted, 2.0);
  ASSERT_GT(flat.Range, 0.0);
  EXPECT_DOUBLE_EQ(onPlane.Range, flat.Range);
  EXPECT_DOUBLE_EQ(onPlane.Shape, flat.Shape);
  EXPECT_NEAR(onPlane.Sill, flat.Sill, 1e-9 * flat.Sill);
  EXPECT_NEAR(flat.Sill, 0.25, 0.05);
  EXPECT_LT(flat.Range, 0.05); // no correlation at any distance binned
}

// The variogram's exponent on surfaces whose variogram is known: a plane
// (gamma grows as d^2: the largest exponent), independent noise (gamma does
// not grow: the smallest), and random straight faults, steps of random
// height along lines thrown uniformly (gamma grows as the expected number
// of lines between two points, d^1).
TEST(KrigingReference, VariogramExponentOfKnownSurfaces)
{
  const PlanePoints points = Scattered(400, 5);
  std::vector<double> plane, noise, faults(points.size(), 0.0);
  std::mt19937 random(6);
  std::normal_distribution<double> gauss(0.0, 1.0);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (const auto& p : points)
  {
    plane.push_back(0.3 * p[0] - 0.8 * p[1]);
    noise.push_back(gauss(random));
  }
  const double pi = std::acos(-1.0);
  for (int line = 0; line < 4000; ++line)
  {
    // The line x cos t + y sin t = c, c uniform over the square's extent.
    const double t = pi * unit(random);
    const double c = -1.5 + 3.0 * unit(random);
    const double step = gauss(random);
    for (size_t k = 0; k < points.size(); ++k)
    {
      if (points[k][0] * std::cos(t) + points[k][1] * std::sin(t) > c)
      {
        faults[k] += step;
      }
    }
  }
  EXPECT_DOUBLE_EQ(VariogramExponent(points, plane, 0.5), 1.9);
  EXPECT_DOUBLE_EQ(VariogramExponent(points, noise, 0.5), 0.1);
  EXPECT_NEAR(VariogramExponent(points, faults, 0.5), 1.0, 0.15);
  // Without pairs to bin: the linear variogram.
  EXPECT_DOUBLE_EQ(VariogramExponent({ { 0.5, 0.5 } }, { 1.0 }, 0.5), 1.0);
}
