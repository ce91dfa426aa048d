#include "RadiusChooser.h"

#include "CostEstimate.h"
#include "KrigingReference.h"
#include "NormalisedFrame.h"
#include "PlaneIndex.h"
#include "TrialFit.h"

#include <vtkFloatArray.h>
#include <vtkIdList.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>

#include <algorithm>
#include <cmath>
#include <future>
#include <iterator>
#include <limits>
#include <vector>

namespace
{
// The ChooseOnOneThread guards alive on this thread.
thread_local int OneThreadDepth = 0;

// Ids 0..11 of the spline points are the frame points.
constexpr vtkIdType FramePointCount = 12;

// Multiples of the reach tried, smallest first: the radius with the lowest
// error against the true heights lay anywhere between 1.05 and 10 reaches
// over the holes of the quality benchmark (scripts/quality.sh).
const double Multiples[] = { 1.05, 1.2, 1.4, 1.7, 2.0, 2.4, 2.9, 3.5, 4.2, 5.0, 6.0, 7.2, 8.6,
  10.0 };

// The multiple taken when the constraint points cannot give a reference
// prediction (fewer than three of them off one line): over the benchmark's
// holes the best fixed multiple.
constexpr double DefaultMultiple = 3.5;

// The reference prediction is kriged from at most this many constraint
// points nearest to the hole (their weights fall off fast with distance, and
// the dense solve grows with the cube of the count); see NearestToHole.
constexpr size_t ReferencePoints = 400;

// The spline and the reference are compared at most at this many inside
// vertices, drawn evenly from the inside list.
constexpr size_t ComparedVertices = 1000;

// The power-law variogram is fitted to pairs of reference points closer than
// this many reaches: the distances over which the hole is filled.
constexpr double VariogramReaches = 2.0;

// The stationary variogram's range is searched up to this many reaches.
constexpr double StationaryRangeReaches = 20.0;

// The scan stops before the trial fits would take more than this many times
// the estimated run at the best radius so far (the run besides its solve, as
// the caller says, plus one solve at that radius). The fits' cost is
// estimated from the points and the radius, not measured, so that the choice
// does not depend on the machine's load.
constexpr double BudgetRuns = 3.0;

// Multiply-adds per second that the trial fits' factorisations are reckoned
// at: about what the envelope factorisation does on the machine the choice
// was timed on (an AMD EPYC core), so that the budget below holds there. It
// is a fixed figure, not a measurement, so that every machine chooses alike.
constexpr double NominalFactorRate = 2.5e10;

// Estimated seconds of a solve at radius: the factorisation (CostEstimate's
// multiply-adds at the nominal rate), the assembly and substitutions over
// the envelope, and the per-point work of the ordering and the solver.
double SolveSeconds(vtkPoints* points, double radius)
{
  const CostEstimate cost = EstimateCost(points, radius);
  return cost.FactorOperations / NominalFactorRate + 2e-9 * cost.EnvelopeEntries +
    2e-6 * cost.Points;
}

// The typical distance between neighbouring points: the median distance to
// the nearest other point over a sample of at most 2000 points (0 for fewer
// than two distinct points).
double Spacing(const PlaneIndex& index, const PlanePoints& plane)
{
  std::vector<double> spacing;
  const size_t step = std::max<size_t>(1, plane.size() / 2000);
  for (size_t i = 0; i < plane.size(); i += step)
  {
    double d = 0.0;
    if (index.Nearest(plane[i], &d, static_cast<int>(i)) >= 0 && d > 0.0)
    {
      spacing.push_back(d);
    }
  }
  if (spacing.empty())
  {
    return 0.0;
  }
  std::nth_element(spacing.begin(), spacing.begin() + spacing.size() / 2, spacing.end());
  return spacing[spacing.size() / 2];
}

// The constraint points of the spline points, in the plane, and their values.
void ConstraintPlane(
  vtkPoints* splinePoints, vtkFloatArray* values, PlanePoints& plane, std::vector<double>& value)
{
  const vtkIdType n = splinePoints->GetNumberOfPoints();
  for (vtkIdType i = FramePointCount; i < n; ++i)
  {
    const double* p = splinePoints->GetPoint(i);
    plane.push_back({ p[0], p[1] });
    value.push_back(values->GetValue(i));
  }
}

// Largest distance from an inside vertex to its nearest constraint point.
double Reach(const PlaneIndex& constraints, const PlanePoints& inside)
{
  double reach = 0.0;
  for (const auto& q : inside)
  {
    double d = 0.0;
    if (constraints.Nearest(q, &d) >= 0)
    {
      reach = std::max(reach, d);
    }
  }
  return reach;
}

// Every count-th of items, evenly spread in their order, so that at most
// limit are kept.
template <typename T>
std::vector<T> Evenly(const std::vector<T>& items, size_t limit)
{
  if (items.size() <= limit)
  {
    return items;
  }
  std::vector<T> kept;
  for (size_t k = 0; k < limit; ++k)
  {
    kept.push_back(items[k * items.size() / limit]);
  }
  return kept;
}

// Indices of the constraint points the reference is kriged from: those at
// most as far from the nearest inside vertex as the ReferencePoints-th
// nearest, ties included, thinned evenly in list order to ReferencePoints
// (so that the inner band of a long ring is sampled all round).
std::vector<int> NearestToHole(const PlanePoints& plane, const PlanePoints& inside)
{
  const PlaneIndex index(inside);
  std::vector<double> distance(plane.size(), std::numeric_limits<double>::max());
  for (size_t k = 0; k < plane.size(); ++k)
  {
    index.Nearest(plane[k], &distance[k]);
  }
  std::vector<double> sorted = distance;
  const size_t rank = std::min(plane.size(), ReferencePoints);
  if (rank == 0)
  {
    return {};
  }
  std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(rank - 1), sorted.end());
  const double bound = sorted[rank - 1];
  std::vector<int> nearest;
  for (size_t k = 0; k < plane.size(); ++k)
  {
    if (distance[k] <= bound)
    {
      nearest.push_back(static_cast<int>(k));
    }
  }
  return Evenly(nearest, ReferencePoints);
}

// The reference at the compared vertices: the mean of the intrinsic and the
// universal kriging predictions from the reference points, each held within
// the range of their heights (a fill stays within the heights it is
// predicted from: where the kriging carries a slope past them, into a pit
// below the lowest or a peak above the highest, the reference holds at the
// last known height). The power law carries the ring's slopes on into the
// hole; the stationary model forgets them beyond its range and falls back
// on the trend; which one the hole follows the ring cannot tell. The
// stationary prediction is made on a second thread where there is one (not
// while this thread has a ChooseOnOneThread).
// Without it the reference is the intrinsic prediction alone; without that,
// false.
bool KrigedReference(const PlanePoints& points, const std::vector<double>& values,
  const PlanePoints& compared, double lowest, RadiusChoice& choice, std::vector<double>& reference)
{
  const double reach = choice.Reach;
  std::vector<double> second;
  const std::launch policy = OneThreadDepth > 0 ? std::launch::deferred
                                                : std::launch::async | std::launch::deferred;
  auto stationary = std::async(policy, [&]() {
    const StableVariogram model =
      StationaryVariogram(points, values, StationaryRangeReaches * reach);
    return UniversalKriging(points, values, model, compared, second) ? model.Range : 0.0;
  });
  choice.Exponent =
    VariogramExponent(points, values, std::max(VariogramReaches * reach, lowest));
  const bool intrinsic = IntrinsicKriging(points, values, choice.Exponent, compared, reference);
  const double range = stationary.get();
  if (!intrinsic)
  {
    return false;
  }
  const auto heights = std::minmax_element(values.begin(), values.end());
  for (size_t q = 0; q < reference.size(); ++q)
  {
    reference[q] = std::clamp(reference[q], *heights.first, *heights.second);
    if (range > 0.0)
    {
      reference[q] =
        0.5 * (reference[q] + std::clamp(second[q], *heights.first, *heights.second));
    }
  }
  choice.Range = range;
  return true;
}

// The radius among the multiples of the reach whose spline, at the inside
// vertices compared, comes closest to the kriged reference: the mean of the
// intrinsic and the stationary predictions, each held within the range of
// the heights it is kriged from.
double ReferenceRadius(vtkPoints* splinePoints, const PlanePoints& plane,
  const std::vector<double>& value, const PlanePoints& inside, RadiusChoice& choice,
  double lowest, double affordable, double runSeconds)
{
  const double fallback = std::min(std::max(lowest, DefaultMultiple * choice.Reach), affordable);
  PlanePoints referencePlane;
  std::vector<double> referenceValues;
  for (const int k : NearestToHole(plane, inside))
  {
    referencePlane.push_back(plane[static_cast<size_t>(k)]);
    referenceValues.push_back(value[static_cast<size_t>(k)]);
  }
  const PlanePoints compared = Evenly(inside, ComparedVertices);
  std::vector<double> reference;
  if (!KrigedReference(referencePlane, referenceValues, compared, lowest, choice, reference))
  {
    return fallback;
  }
  choice.References = static_cast<int>(referencePlane.size());

  const TrialFit fit(splinePoints, plane, value);
  std::vector<int> all(plane.size());
  for (size_t k = 0; k < all.size(); ++k)
  {
    all[k] = static_cast<int>(k);
  }
  double bestDistance = std::numeric_limits<double>::max();
  double bestRadius = fallback;
  double bestSeconds = 0.0;
  double spent = 0.0; // estimated seconds of the fits made
  double previous = 0.0;
  std::vector<double> predicted;
  for (const double multiple : Multiples)
  {
    const double radius = std::max(multiple * choice.Reach, lowest);
    if (radius <= previous)
    {
      continue; // below the lowest sound radius, already tried
    }
    previous = radius;
    if (radius > affordable)
    {
      break;
    }
    const double seconds = SolveSeconds(splinePoints, radius);
    if (bestDistance < std::numeric_limits<double>::max() &&
      spent + seconds > BudgetRuns * (runSeconds + bestSeconds))
    {
      break;
    }
    spent += seconds;
    ++choice.Fits;
    if (!fit.Predict(all, radius, compared, predicted))
    {
      break; // larger radii fail alike
    }
    double squares = 0.0;
    for (size_t q = 0; q < predicted.size(); ++q)
    {
      const double e = predicted[q] - reference[q];
      squares += e * e;
    }
    if (squares < bestDistance)
    {
      bestDistance = squares;
      bestRadius = radius;
      bestSeconds = seconds;
    }
  }
  return bestRadius;
}
} // namespace

//------------------------------------------------------------------------------
RadiusChoice ChooseRadius(vtkPolyData* model, vtkPoints* splinePoints, vtkFloatArray* values,
  vtkIdList* inside, double memory, double runSeconds)
{
  RadiusChoice choice;
  PlanePoints plane;
  std::vector<double> value;
  ConstraintPlane(splinePoints, values, plane, value);
  const PlaneIndex constraints(plane);
  const PlanePoints insidePlane = NormalisedPositions(model, inside);
  choice.Reach = Reach(constraints, insidePlane);

  // Strictly above the reach (the support of the basis is open), and wide
  // enough for the constraint points to form one surface.
  const double spacing = Spacing(constraints, plane);
  const double sound = spacing > 0.0 ? 3.0 * spacing : 0.1;
  const double lowest = std::max(choice.Reach * 1.001 + 1e-6, sound);
  const double affordable = LargestAffordableRadius(
    splinePoints, std::max(lowest, Multiples[std::size(Multiples) - 1] * choice.Reach), memory);
  if (affordable < lowest)
  {
    throw "No radius that reaches every inside vertex fits in memory: reduce the outside list";
  }
  if (insidePlane.empty())
  {
    choice.Radius = lowest;
    return choice;
  }

  choice.Radius = ReferenceRadius(splinePoints, plane, value, insidePlane, choice, lowest,
    affordable, std::max(runSeconds, 0.0));
  return choice;
}

//------------------------------------------------------------------------------
ChooseOnOneThread::ChooseOnOneThread()
{
  ++OneThreadDepth;
}

ChooseOnOneThread::~ChooseOnOneThread()
{
  --OneThreadDepth;
}

//------------------------------------------------------------------------------
double EstimatedRunSeconds(vtkPolyData* model)
{
  return model ? 0.02 + 5e-7 * static_cast<double>(model->GetNumberOfPoints()) : 0.0;
}

//------------------------------------------------------------------------------
PlanePoints NormalisedPositions(vtkPolyData* model, vtkIdList* ids)
{
  PlanePoints plane;
  vtkPoints* points = model->GetPoints();
  if (points == nullptr || ids == nullptr)
  {
    return plane;
  }
  double b[6];
  FrameBounds(points, b);
  const float xmin = static_cast<float>(b[0]), xmax = static_cast<float>(b[1]);
  const float ymin = static_cast<float>(b[2]), ymax = static_cast<float>(b[3]);
  for (vtkIdType k = 0; k < ids->GetNumberOfIds(); ++k)
  {
    const double* p = points->GetPoint(ids->GetId(k));
    plane.push_back({ Normalised(static_cast<float>(p[0]), xmin, xmax),
      Normalised(static_cast<float>(p[1]), ymin, ymax) });
  }
  return plane;
}
