#ifndef VoidFill_h
#define VoidFill_h

#include <vtkType.h>

#include <functional>
#include <string>
#include <vector>

class vtkPolyData;

/**
 * A height field whose voids are to be filled: vertices with x, y and a
 * height, and which vertices are neighbours. Two kinds exist: a mesh
 * (MeshField, the edges of its cells) and a grid of cell centres
 * (GridField, eight neighbours each). The fill reads the positions and
 * heights of the vertices that are not selected and writes the heights of
 * the selected ones it fills.
 */
class HeightField
{
public:
  virtual ~HeightField() = default;

  virtual vtkIdType GetNumberOfVertices() const = 0;

  /**
   * x, y and height of vertex v, x and y relative to the position of vertex
   * origin (a window's first vertex), so that coordinates far from 0 keep
   * their precision in a window.
   */
  virtual void GetPoint(vtkIdType v, vtkIdType origin, double p[3]) const = 0;
  virtual void SetHeight(vtkIdType v, double z) = 0;

  /// Appends the neighbours of v to out (repeats allowed).
  virtual void AppendNeighbours(vtkIdType v, std::vector<vtkIdType>& out) const = 0;

  /// True when v lies on the border of the field.
  virtual bool OnBorder(vtkIdType v) const = 0;

  /**
   * The window of a repair: the vertices of the bounding box of ids (a group
   * of voids and their rings) widened by margin times its larger side on
   * every side and clipped to the field, in ascending order.
   */
  virtual void Window(
    const std::vector<vtkIdType>& ids, double margin, std::vector<vtkIdType>& window) const = 0;

  /**
   * The cells of the window as a polydata's polygons (window numbering),
   * for a window model that can be written and shown: every cell whose
   * vertices all lie in the window. Window holds ascending field ids.
   */
  virtual void WindowCells(const std::vector<vtkIdType>& window, vtkPolyData* model) const = 0;
};

/// How FillVoids repairs.
struct FillOptions
{
  int Rings = 6;         ///< edge-rings of finite heights around each void (>= 1)
  double Radius = 0.0;   ///< > 0: this radius for every void; 0: chosen per void (auto)
  int Threads = 0;       ///< repairs at once; 0: the machine's cores
  bool Jitter = false;   ///< the program's random offset on every filled height
  double Margin = 0.5;   ///< window margin, a share of the larger side of a group
  /// When not empty, only the groups that hold one of these vertices are filled.
  std::vector<vtkIdType> Seeds;
};

/// What became of a void.
enum class VoidStatus
{
  Filled,     ///< every vertex got a height
  NoRing,     ///< no vertex with a finite height around it
  OutOfReach, ///< the radius given does not reach every vertex from the ring
  Refused,    ///< the cost guard or the chooser refused (no radius fits in memory)
  Failed,     ///< the repair failed otherwise (a solve that did not factorise, ...)
  Skipped     ///< not among the seeds
};

/// The word a report uses for a status: "filled", "no ring", ...
const char* StatusName(VoidStatus status);

/// One void: a connected component of the selected vertices.
struct VoidRecord
{
  vtkIdType Id = 0;          ///< 1, 2, ... in the order of the voids' lowest vertex ids
  vtkIdType Group = 0;       ///< the Id of the first void of the group it was repaired with
  vtkIdType FirstVertex = 0; ///< its lowest vertex id
  vtkIdType Vertices = 0;
  double Extent[2] = { 0.0, 0.0 }; ///< width in x and y, model units
  double Reach = 0.0;              ///< farthest vertex from the group's ring, model units
  bool Border = false;             ///< a vertex on the border of the field
  vtkIdType RingPoints = 0;        ///< constraint points of its group
  double Radius = 0.0;             ///< the radius used, in the window's normalised frame
  double ModelRadius = 0.0;        ///< the same in model units (along x)
  double Seconds = 0.0;            ///< time of its group's repair
  VoidStatus Status = VoidStatus::Failed;
  std::string Message;             ///< why it was not filled
};

/// The outcome of FillVoids.
struct FillSummary
{
  std::vector<VoidRecord> Voids;
  vtkIdType Groups = 0;
  vtkIdType MovedVertices = 0;
  vtkIdType FilledVoids = 0;
};

/**
 * The records as CSV text, a header line first: id, group, vertices,
 * extent_x, extent_y, reach, border (0 or 1), ring_points, radius,
 * model_radius, seconds, status; one line a void.
 */
std::string ReportText(const FillSummary& summary);

/// Called after each group with the groups done and in all (from any thread, one call at a time).
using FillProgress = std::function<void(vtkIdType done, vtkIdType total)>;

/**
 * Fills every void of field on its own. selected[v] != 0 marks the vertices
 * to fill. The voids are the connected components of the selected vertices;
 * a void whose ring (options.Rings edge-rings of unselected vertices with
 * finite heights) meets another void is repaired with it, as one group. Each
 * group is repaired on a window of the field around it (HeightField::Window)
 * by the program's stages: the spline through the heights of its ring at
 * options.Radius or at the radius the chooser takes for it, evaluated at its
 * vertices. Selected vertices other than the group's own are voids in the
 * window, whatever their heights.
 *
 * Groups run on options.Threads threads; the heights written do not depend
 * on the number of threads (unless Jitter). A group that cannot be filled
 * keeps its heights and says why in its records. Throws std::bad_alloc
 * when memory runs out.
 */
FillSummary FillVoids(HeightField& field, const std::vector<char>& selected,
  const FillOptions& options, const FillProgress& progress = FillProgress());

/**
 * The grid of a raster: one vertex at the centre of each cell, rows from the
 * top, cells in row order (id = row * width + column). The grid may be a
 * block of a larger raster: columns and rows then count from the larger
 * raster's first, and positions, windows and borders are those of the
 * larger raster, so that a block that holds a group's whole window fills it
 * exactly as the whole raster does.
 */
class GridField : public HeightField
{
public:
  /**
   * heights: width * height values, read and written in place.
   * geo: the raster's geotransform (x = geo[0] + column * geo[1] + row * geo[2],
   * y = geo[3] + column * geo[4] + row * geo[5] at a cell's corner).
   * column0, row0: the block's first cell in the larger raster;
   * fullWidth, fullHeight: the larger raster's size (0: the block's own).
   */
  GridField(double* heights, int width, int height, const double geo[6], int column0 = 0,
    int row0 = 0, int fullWidth = 0, int fullHeight = 0);

  vtkIdType GetNumberOfVertices() const override;
  void GetPoint(vtkIdType v, vtkIdType origin, double p[3]) const override;
  void SetHeight(vtkIdType v, double z) override { this->Heights[v] = z; }
  void AppendNeighbours(vtkIdType v, std::vector<vtkIdType>& out) const override;
  bool OnBorder(vtkIdType v) const override;
  void Window(const std::vector<vtkIdType>& ids, double margin,
    std::vector<vtkIdType>& window) const override;
  void WindowCells(const std::vector<vtkIdType>& window, vtkPolyData* model) const override;

private:
  double* Heights;
  int Width, Height, Column0, Row0, FullWidth, FullHeight;
  double Geo[6];
};

/**
 * A triangulated surface: its points' x, y and z, neighbours along the edges
 * of its polygons and strips. Heights are written into the model's points.
 */
class MeshField : public HeightField
{
public:
  explicit MeshField(vtkPolyData* model);
  ~MeshField() override;

  vtkIdType GetNumberOfVertices() const override;
  void GetPoint(vtkIdType v, vtkIdType origin, double p[3]) const override;
  void SetHeight(vtkIdType v, double z) override;
  void AppendNeighbours(vtkIdType v, std::vector<vtkIdType>& out) const override;
  bool OnBorder(vtkIdType v) const override;
  void Window(const std::vector<vtkIdType>& ids, double margin,
    std::vector<vtkIdType>& window) const override;
  void WindowCells(const std::vector<vtkIdType>& window, vtkPolyData* model) const override;

private:
  struct Internals;
  Internals* Internal;
  MeshField(const MeshField&) = delete;
  MeshField& operator=(const MeshField&) = delete;
};

/**
 * The window model of a group, as FillVoids repairs it: the window's
 * vertices (x and y relative to its first vertex, double precision), the heights
 * of the selected vertices NaN, and its cells; with the group's inside ids
 * and ring ids in window numbering. Lets a caller run surface_repair on the
 * same window. group holds the field ids of the group's selected vertices.
 */
struct WindowModel
{
  vtkPolyData* Model = nullptr; ///< owned by the caller (Delete())
  std::vector<vtkIdType> Inside;
  std::vector<vtkIdType> Outside;
};
WindowModel BuildWindowModel(const HeightField& field, const std::vector<char>& selected,
  const std::vector<vtkIdType>& group, const FillOptions& options);

#endif
