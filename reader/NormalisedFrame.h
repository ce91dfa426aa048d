#ifndef NormalisedFrame_h
#define NormalisedFrame_h

#include <vtkDoubleArray.h>
#include <vtkFloatArray.h>
#include <vtkPoints.h>

#include <algorithm>
#include <cmath>

/**
 * A coordinate mapped from [lo, hi] onto [0, 1], formed in double precision
 * and stored in single precision. A flat range maps everything to 0.
 *
 * The normalised frame of the model's bounding box: the reader places the
 * constraint points with it, the shape transform evaluates the spline at the
 * model's vertices with it, and both must map a vertex to the same point.
 */
inline float Normalised(float v, float lo, float hi)
{
  return hi > lo ? static_cast<float>((static_cast<double>(v) - lo) / (static_cast<double>(hi) - lo))
                 : 0.0f;
}

/**
 * The bounds of the normalised frame of a model, in the order xmin, xmax,
 * ymin, ymax, zmin, zmax: x and y over every vertex, z over the finite
 * heights only, since the vertices of a void have none. The reader and the
 * shape transform both take the frame from here. Returns the number of
 * finite heights; without any, zmin = zmax = 0.
 */
template <typename PointOf>
vtkIdType FrameBoundsOf(const PointOf& pointOf, vtkIdType n, double bounds[6])
{
  bounds[0] = bounds[2] = bounds[4] = HUGE_VAL;
  bounds[1] = bounds[3] = bounds[5] = -HUGE_VAL;
  vtkIdType finite = 0;
  for (vtkIdType i = 0; i < n; ++i)
  {
    double p[3];
    pointOf(i, p);
    for (int axis = 0; axis < 3; ++axis)
    {
      if (axis < 2 || std::isfinite(p[2]))
      {
        bounds[2 * axis] = std::min(bounds[2 * axis], p[axis]);
        bounds[2 * axis + 1] = std::max(bounds[2 * axis + 1], p[axis]);
      }
    }
    finite += std::isfinite(p[2]) ? 1 : 0;
  }
  for (int axis = 0; axis < 3; ++axis)
  {
    if (!(bounds[2 * axis] <= bounds[2 * axis + 1]))
    {
      bounds[2 * axis] = bounds[2 * axis + 1] = 0.0;
    }
  }
  return finite;
}

inline vtkIdType FrameBounds(vtkPoints* points, double bounds[6])
{
  const vtkIdType n = points ? points->GetNumberOfPoints() : 0;
  vtkDataArray* data = points ? points->GetData() : nullptr;
  // The coordinates straight from their array when it is one of the two
  // usual types (a virtual call per point costs more than the bounds).
  auto fromArray = [n, bounds](const auto* c) {
    return FrameBoundsOf(
      [c](vtkIdType i, double p[3]) {
        for (int axis = 0; axis < 3; ++axis)
        {
          p[axis] = c[3 * i + axis];
        }
      },
      n, bounds);
  };
  if (auto* floats = vtkFloatArray::FastDownCast(data))
  {
    return fromArray(floats->GetPointer(0));
  }
  if (auto* doubles = vtkDoubleArray::FastDownCast(data))
  {
    return fromArray(doubles->GetPointer(0));
  }
  return FrameBoundsOf([points](vtkIdType i, double p[3]) { points->GetPoint(i, p); }, n, bounds);
}

#endif
