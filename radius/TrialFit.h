#ifndef TrialFit_h
#define TrialFit_h

#include "RadiusChooser.h"

#include <vector>

class vtkPoints;

/**
 * The spline of a repair fitted through part of the constraint points, and
 * evaluated elsewhere: the trial work of choosing a radius.
 *
 * The fit is the program's own: the 12 frame points of the spline points
 * (value 0) and the kept constraint points, ordered by the reader's
 * neighbourhood ordering and solved by vtkSingleMatrixSolver, with its
 * report lines silenced.
 */
class TrialFit
{
public:
  /**
   * @param splinePoints frame points (ids 0..11) and constraint points, as
   *        the reader lays them out; only the frame points are used.
   * @param plane the constraint points in the plane (id k + 12 of
   *        splinePoints is plane[k]).
   * @param values the value of each constraint point (plane order).
   */
  TrialFit(vtkPoints* splinePoints, const PlanePoints& plane, const std::vector<double>& values);

  /**
   * Fits the spline through the constraint points kept (indices into plane)
   * at radius, and returns its values at the queries (points of the plane).
   * Returns false, with nothing in predicted, when the system cannot be
   * solved at this radius.
   */
  bool Predict(const std::vector<int>& kept, double radius, const PlanePoints& queries,
    std::vector<double>& predicted) const;

private:
  vtkPoints* SplinePoints;
  const PlanePoints& Plane;
  const std::vector<double>& Values;
};

#endif
