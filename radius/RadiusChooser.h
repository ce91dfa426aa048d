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
  int Fits = 0;       ///< trial fits made to choose
  int References = 0; ///< constraint points the reference prediction was kriged from
  double Exponent = 0.0; ///< exponent of the power-law variogram fitted to them (0: none)
  double Range = 0.0;    ///< range of the stationary variogram fitted to them (0: none)
};

/**
 * Chooses the support radius of a repair from the data.
 *
 * The spline is compared with a reference prediction of the inside heights
 * made from the terrain's own statistics, from the constraint points
 * nearest to the hole (KrigingReference.h): the mean of two kriging
 * predictions, one with a power-law variogram (intrinsic kriging), one with
 * a stationary variogram of finite range (universal kriging), both fitted to
 * those points and each held within the range of their heights. Each
 * candidate radius (1.05 to 10 times the reach, smallest first) fits the
 * program's own spline through the constraint points, and the one whose
 * values at the inside vertices come closest to the reference is chosen.
 * The trial fits stop before they would take more than about three runs at
 * the best radius so far (their cost is estimated from the points and the
 * radius, so the choice is the same on a busy machine). Without a reference (fewer than three
 * constraint points off one line) the radius is 3.5 times the reach. No
 * radius is below three times the typical spacing of the constraint points
 * (what an empty inside list gets), so that they form one surface.
 *
 * @param model the model (vtkDatReader::GetModel()): where the inside
 *        vertices lie.
 * @param splinePoints the spline points as vtkDatReader::ReadConstraints
 *        leaves them: 12 frame points, then the constraint points.
 * @param values their values (vtkDatReader::GetValues()).
 * @param inside ids of the inside vertices (in range); may be empty.
 * @param memory bytes the solve may take (AvailableMemory()).
 * @param runSeconds seconds a run takes besides its solve (reading, moving,
 *        writing), as the caller estimates them: the time budget of the
 *        choice is three such runs plus three solves at the chosen radius.
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
 * While one lives, ChooseRadius on this thread makes both kriging predictions
 * itself instead of handing one to a second thread: for callers that run
 * many choices on a pool of threads of their own, one choice a thread. The
 * choice is the same either way. Guards nest.
 */
class ChooseOnOneThread
{
public:
  ChooseOnOneThread();
  ~ChooseOnOneThread();
  ChooseOnOneThread(const ChooseOnOneThread&) = delete;
  ChooseOnOneThread& operator=(const ChooseOnOneThread&) = delete;
};

/**
 * The runSeconds of ChooseRadius for a model: starting the program takes
 * about 20 ms, and reading a binary model, moving its inside vertices and
 * writing the result about half a microsecond per vertex (an ASCII model
 * takes longer to read, which leaves the choice more room than it uses). An
 * estimate rather than a measurement, so that the choice does not depend on
 * the machine or its load.
 */
double EstimatedRunSeconds(vtkPolyData* model);

/**
 * The vertices ids of model in the normalised frame of its bounding box,
 * mapped as the reader maps the constraint points. Ids must be in range.
 */
PlanePoints NormalisedPositions(vtkPolyData* model, vtkIdList* ids);

#endif
