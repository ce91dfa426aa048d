#include "RadiusChooser.h"

#include "CostEstimate.h"
#include "NormalisedFrame.h"
#include "PlaneIndex.h"

#include <vtkFloatArray.h>
#include <vtkIdList.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace
{
// Ids 0..11 of the spline points are the frame points.
constexpr vtkIdType FramePointCount = 12;

// The constraint points of the spline points, in the plane.
PlanePoints ConstraintPlane(vtkPoints* splinePoints)
{
  PlanePoints plane;
  const vtkIdType n = splinePoints->GetNumberOfPoints();
  for (vtkIdType i = FramePointCount; i < n; ++i)
  {
    const double* p = splinePoints->GetPoint(i);
    plane.push_back({ p[0], p[1] });
  }
  return plane;
}

// Largest distance from an inside vertex to its nearest constraint point.
double Reach(const PlaneIndex& index, const PlanePoints& inside)
{
  double reach = 0.0;
  for (const auto& q : inside)
  {
    double d = 0.0;
    if (index.Nearest(q, &d) >= 0)
    {
      reach = std::max(reach, d);
    }
  }
  return reach;
}

// The smallest radius at which the constraint points form one surface: a few
// times the typical distance between neighbouring points.
double SoundRadius(const PlaneIndex& index, const PlanePoints& plane)
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
    return 0.1;
  }
  std::nth_element(spacing.begin(), spacing.begin() + spacing.size() / 2, spacing.end());
  return 3.0 * spacing[spacing.size() / 2];
}
} // namespace

//------------------------------------------------------------------------------
RadiusChoice ChooseRadius(
  vtkPoints* splinePoints, vtkFloatArray* values, const PlanePoints& inside, double memory)
{
  (void)values;
  RadiusChoice choice;
  const PlanePoints plane = ConstraintPlane(splinePoints);
  const PlaneIndex index(plane);
  choice.Reach = Reach(index, inside);
  // Strictly above the reach: the support of the basis is open.
  const double lowest = std::max(choice.Reach * 1.001 + 1e-6, SoundRadius(index, plane));

  double radius = std::max(lowest, 2.0 * choice.Reach);
  const double affordable = LargestAffordableRadius(splinePoints, radius, memory);
  if (affordable < lowest)
  {
    throw "No radius that reaches every inside vertex fits in memory: reduce the outside list";
  }
  choice.Radius = std::min(radius, affordable);
  return choice;
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
  points->GetBounds(b);
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
