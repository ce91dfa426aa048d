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
  int Fits = 0;     ///< trial fits made to choose
  int Replicas = 0; ///< replicas of the repair the choice was validated on
};

/**
 * Chooses the support radius of a repair from the data.
 *
 * The choice is validated on replicas of the repair: the inside and outside
 * vertices, shifted as a whole to parts of the model that are not being
 * repaired, give holes of the same shape and size whose heights are known.
 * Each candidate radius (2, 2.4, 2.9 and 3.5 times the reach) repairs the
 * replicas with the program's own spline, and the one whose repairs come
 * closest to the known heights is chosen. The trial fits stop once they
 * have taken about four runs at the best radius so far. Without room for a
 * replica the radius is 2.4 times the reach; without inside vertices, three
 * times the spacing of the constraint points.
 *
 * @param model the model (vtkDatReader::GetModel()); its vertices that are
 *        neither inside nor outside vertices are taken as good terrain.
 * @param splinePoints the spline points as vtkDatReader::ReadConstraints
 *        leaves them: 12 frame points, then the constraint points.
 * @param values their values (vtkDatReader::GetValues()).
 * @param inside ids of the inside vertices (in range); may be empty.
 * @param memory bytes the solve may take (AvailableMemory()).
 * @param runSeconds wall time of a run besides its solve (reading, moving,
 *        writing), if the caller knows it: the time budget of the choice is
 *        four such runs plus four solves at the chosen radius.
 *
 * The radius chosen is above the reach, so that every inside vertex is
 * moved, and passes the cost guard (CostEstimate.h) for the spline points.
 * The trial fits report nothing (QuietReports) and change none of the
 * inputs. Throws a message text (const char*) when no radius above the reach
 * fits in memory.
 */
RadiusChoice ChooseRadius(vtkPolyData* model, vtkPoints* splinePoints, vtkFloatArray* values,
  vtkIdList* inside, double memory, double runSeconds = 0.0);

/**
 * The vertices ids of model in the normalised frame of its bounding box,
 * mapped as the reader maps the constraint points. Ids must be in range.
 */
PlanePoints NormalisedPositions(vtkPolyData* model, vtkIdList* ids);

#endif
