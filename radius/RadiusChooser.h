#ifndef RadiusChooser_h
#define RadiusChooser_h

#include <array>
#include <vector>

class vtkFloatArray;
class vtkIdList;
class vtkPoints;
class vtkPolyData;

/// Points of the plane of the normalised frame, (x, y).
using PlanePoints = std::vector<std::array<double, 2>>;

/// The outcome of ChooseRadius.
struct RadiusChoice
{
  double Radius = 0.0; ///< the support radius chosen, in the normalised frame
  /// Largest distance from an inside vertex to its nearest constraint point
  /// (0 without inside vertices): every radius above it reaches them all.
  double Reach = 0.0;
  int Fits = 0; ///< trial fits made to choose
};

/**
 * Chooses the support radius of a repair from the data.
 *
 * @param splinePoints the spline points as vtkDatReader::ReadConstraints
 *        leaves them: 12 frame points, then the constraint points.
 * @param values their values (vtkDatReader::GetValues()).
 * @param inside the inside vertices in the normalised frame
 *        (NormalisedPositions()); may be empty.
 * @param memory bytes the solve may take (AvailableMemory()).
 *
 * The radius chosen is above the reach, so that every inside vertex is
 * moved, and passes the cost guard (CostEstimate.h) for the spline points.
 * The trial fits report nothing (QuietReports) and leave the points and the
 * values as they were. Throws a message text (const char*) when no radius
 * above the reach fits in memory.
 */
RadiusChoice ChooseRadius(
  vtkPoints* splinePoints, vtkFloatArray* values, const PlanePoints& inside, double memory);

/**
 * The vertices ids of model in the normalised frame of its bounding box,
 * mapped as the reader maps the constraint points. Ids must be in range.
 */
PlanePoints NormalisedPositions(vtkPolyData* model, vtkIdList* ids);

#endif
