// The cost guard's estimate against the envelope the solver actually stores,
// and its refusal.

#include "CostEstimate.h"
#include "GetWellOderredList.h"
#include "SplineBasis.h"

#include <gtest/gtest.h>

#include <vtkNew.h>
#include <vtkPointLocator.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace
{
// The spline points as the reader lays them out: 12 frame points, then the
// constraint points in the plane z = 0.
void AddFramePoints(vtkPoints* points)
{
  for (const double z : { -0.1, 0.5, 1.1 })
  {
    for (const double y : { -0.1, 1.1 })
    {
      for (const double x : { -0.1, 1.1 })
      {
        points->InsertNextPoint(x, y, z);
      }
    }
  }
}

// Constraint points of a regular grid of nx x ny vertices over the unit
// square, those for which keep(x, y) holds.
vtkNew<vtkPoints> GridPoints(int nx, int ny, const std::function<bool(double, double)>& keep)
{
  vtkNew<vtkPoints> points;
  AddFramePoints(points);
  for (int j = 0; j < ny; ++j)
  {
    for (int i = 0; i < nx; ++i)
    {
      const double x = i / (nx - 1.0);
      const double y = j / (ny - 1.0);
      if (keep(x, y))
      {
        points->InsertNextPoint(x, y, 0.0);
      }
    }
  }
  return points;
}

// The entries the solver stores for these points at this radius: the
// reader's ordering, then each row from its first non-zero column within the
// half-bandwidth up to the diagonal.
double StoredEnvelope(vtkPoints* points, double radius)
{
  vtkNew<vtkPolyData> data;
  data->SetPoints(points);
  vtkNew<vtkPointLocator> tree;
  tree->SetDataSet(data);
  tree->BuildLocator();
  const int n = static_cast<int>(points->GetNumberOfPoints());
  int max = 0;
  int* list = GetWellOderredList(&max, n, static_cast<float>(radius), points, tree);
  std::vector<float> position(3 * static_cast<size_t>(n));
  for (int i = 0; i < n; ++i)
  {
    double p[3];
    points->GetPoint(list[i], p);
    for (int c = 0; c < 3; ++c)
    {
      position[3 * i + c] = static_cast<float>(p[c]);
    }
  }
  delete[] list;
  const float r = static_cast<float>(radius);
  double entries = 0.0;
  for (int i = 0; i < n; ++i)
  {
    for (int j = std::max(0, i - max); j < i; ++j)
    {
      if (SplineBasis(&position[3 * j], &position[3 * i], r, static_cast<double>(r) * r) != 0.0)
      {
        entries += i - j;
        break;
      }
    }
  }
  return entries;
}

struct Geometry
{
  const char* Name;
  int Nx;
  int Ny;
  std::function<bool(double, double)> Keep;
};

bool Everywhere(double, double)
{
  return true;
}

bool Ring(double x, double y)
{
  const double d = std::hypot(x - 0.5, y - 0.5);
  return d > 0.2 && d < 0.32;
}

bool Strip(double, double y)
{
  return y < 0.08;
}

bool TwoPatches(double x, double y)
{
  return (x < 0.3 && y < 0.3) || (x > 0.6 && y > 0.5 && y < 0.9);
}

bool Frame(double x, double y)
{
  return x < 0.1 || x > 0.9 || y < 0.1 || y > 0.9;
}
} // namespace

// Over shapes of outside sets and radii from a few to some hundred
// neighbours, the estimate stays within a factor of two of the envelope the
// solver stores.
TEST(CostEstimate, EnvelopeWithinTwiceTheStoredOne)
{
  const Geometry geometries[] = {
    { "whole grid", 60, 60, Everywhere },
    { "ring around a hole", 90, 90, Ring },
    { "narrow strip", 120, 120, Strip },
    { "two patches", 70, 70, TwoPatches },
    { "border of the model", 80, 80, Frame },
  };
  for (const Geometry& g : geometries)
  {
    vtkNew<vtkPoints> points = GridPoints(g.Nx, g.Ny, g.Keep);
    for (const double cells : { 2.5, 4.0, 7.0 })
    {
      const double radius = cells / (g.Nx - 1.0);
      const double stored = StoredEnvelope(points, radius);
      const CostEstimate cost = EstimateCost(points, radius);
      EXPECT_GT(cost.EnvelopeEntries, stored / 2.0) << g.Name << ", R = " << radius;
      EXPECT_LT(cost.EnvelopeEntries, stored * 2.0) << g.Name << ", R = " << radius;
      EXPECT_GT(cost.FactorOperations, 0.0) << g.Name;
      EXPECT_GE(cost.Bytes, 4.0 * cost.EnvelopeEntries) << g.Name;
    }
  }
}

// Scattered points (not on a grid), in several densities.
TEST(CostEstimate, EnvelopeOfScatteredPoints)
{
  std::mt19937 random(7);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (const int count : { 500, 3000 })
  {
    vtkNew<vtkPoints> points;
    AddFramePoints(points);
    for (int k = 0; k < count; ++k)
    {
      points->InsertNextPoint(unit(random), unit(random), 0.0);
    }
    for (const double neighbours : { 10.0, 40.0 })
    {
      const double radius = std::sqrt(neighbours / (3.14159 * count));
      const double stored = StoredEnvelope(points, radius);
      const CostEstimate cost = EstimateCost(points, radius);
      EXPECT_GT(cost.EnvelopeEntries, stored / 2.0) << count << " points, R = " << radius;
      EXPECT_LT(cost.EnvelopeEntries, stored * 2.0) << count << " points, R = " << radius;
      EXPECT_NEAR(cost.MeanNeighbours, neighbours, 0.5 * neighbours) << count << " points";
    }
  }
}

// A radius that covers the whole model makes every point a neighbour of
// every other: n^2 / 2 entries, over the solver's 32-bit limit for 90,000
// points. The guard refuses it, names the radius, and names a smaller one
// that passes.
TEST(CostEstimate, RefusesTheUnaffordableAndNamesOneThatFits)
{
  vtkNew<vtkPoints> points = GridPoints(300, 300, Everywhere);
  const CostEstimate whole = EstimateCost(points, 1.0);
  EXPECT_GT(whole.EnvelopeEntries, 0.25 * whole.Points * whole.Points); // half of n^2 stored
  EXPECT_GT(whole.EnvelopeEntries, static_cast<double>(EnvelopeEntryLimit));

  const std::string refusal = CostRefusal(points, 1.0, 1.0e12);
  ASSERT_FALSE(refusal.empty());
  EXPECT_EQ(CostRefusal(whole, points, 1.0, 1.0e12), refusal); // the driver's estimate reused
  EXPECT_EQ(refusal.rfind("Radius 1 is too large", 0), 0u) << refusal;
  EXPECT_NE(refusal.find("2147483646 entries"), std::string::npos) << refusal;
  const size_t at = refusal.find("the largest radius that fits is about ");
  ASSERT_NE(at, std::string::npos) << refusal;
  const double largest = std::atof(refusal.c_str() + at + 38);
  EXPECT_GT(largest, 0.01);
  EXPECT_LT(largest, 1.0);
  EXPECT_TRUE(CostRefusal(points, largest, 1.0e12).empty()) << largest;

  // Memory is the limit when the machine is small.
  const double memory = 64.0 * 1048576.0;
  const std::string small = CostRefusal(points, 0.05, memory);
  ASSERT_FALSE(small.empty());
  EXPECT_NE(small.find("this machine can give"), std::string::npos) << small;
  const double fits = LargestAffordableRadius(points, 0.05, memory);
  EXPECT_GT(fits, 0.0);
  EXPECT_LE(EstimateCost(points, fits).Bytes, memory);
  EXPECT_GT(EstimateCost(points, fits * 1.05).Bytes, memory * 0.9);

  EXPECT_TRUE(CostRefusal(points, 0.01, 1.0e12).empty());
  EXPECT_EQ(LargestAffordableRadius(points, 0.1, 1000.0), 0.0);
}

// A long factorisation's expected time comes from a factorisation timed on
// this machine, proportional to the work; one that is short even at the
// nominal rate, slower than any the kernels reach, is not timed at all.
TEST(CostEstimate, ExpectedFactorisationTimeAtThisMachinesRate)
{
  CostEstimate shortRun;
  shortRun.FactorOperations = 1.0e9;
  EXPECT_EQ(ExpectedFactorSeconds(shortRun, 10.0), 0.0);

  const double rate = MeasuredFactorRate();
  ASSERT_TRUE(std::isfinite(rate));
  EXPECT_GT(rate, 1.0e7);
  EXPECT_LT(rate, 1.0e12);
  EXPECT_EQ(MeasuredFactorRate(), rate); // timed once

  CostEstimate longRun;
  longRun.FactorOperations = 1.0e13;
  const double seconds = ExpectedFactorSeconds(longRun, 10.0);
  EXPECT_NEAR(seconds, longRun.FactorOperations / (0.7 * rate), 1e-9 * seconds);
  longRun.FactorOperations *= 2.0;
  EXPECT_NEAR(ExpectedFactorSeconds(longRun, 10.0), 2.0 * seconds, 1e-9 * seconds);
}
