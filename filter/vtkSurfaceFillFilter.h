/**
 * @class   vtkSurfaceFillFilter
 * @brief   fills every void of a height field mesh, each on its own, as surface_fill does
 *
 * vtkSurfaceFillFilter runs the fill of the program surface_fill on a
 * polydata in memory. Its voids are the connected components (over the edges
 * of its polygons and strips) of the vertices that MaskArray marks (a point
 * data array, non-zero in any component at a void vertex, as surface_fill's
 * --array reads it) or, without one, of the vertices
 * whose height is not finite. Each void, or group of voids whose rings meet,
 * is repaired on a window of the mesh around it by the program's stages: the
 * spline through the heights of its ring (Rings edge-rings of vertices with
 * finite heights) at Radius, or at the radius the chooser takes for it with
 * AutoRadius, moves its vertices in z.
 *
 * The output holds the input's points in the same order, the vertices of the
 * voids that were filled moved in z, and the input's cells, point data and
 * cell data. A void that cannot be filled (no ring, out of reach of Radius, a
 * radius that does not fit in memory) keeps its heights;
 * GetNumberOfFilledVoids and GetReport tell which.
 *
 * @warning
 * The fill is deterministic, whatever the number of threads, unless Jitter is
 * on. The spline is fitted and evaluated in single precision.
 *
 * @sa
 * vtkSurfaceRepairFilter vtkHeightGridFill
 */
#ifndef vtkSurfaceFillFilter_h
#define vtkSurfaceFillFilter_h

#include "SurfaceRepairFilterModule.h" // for the export macro
#include <vtkPolyDataAlgorithm.h>

#include <string> // for the report

class SURFACEREPAIRFILTER_EXPORT vtkSurfaceFillFilter : public vtkPolyDataAlgorithm
{
public:
  static vtkSurfaceFillFilter* New();
  vtkTypeMacro(vtkSurfaceFillFilter, vtkPolyDataAlgorithm);
  void PrintSelf(ostream& os, vtkIndent indent) override;

  ///@{
  /**
   * Name of the point-data array that marks the voids (non-zero in any
   * component). Default
   * null: the vertices whose height is not finite.
   */
  vtkSetStringMacro(MaskArray);
  vtkGetStringMacro(MaskArray);
  ///@}

  ///@{
  /// Edge-rings of the ring around each void, at least 1. Default 6.
  vtkSetClampMacro(Rings, int, 1, 1000);
  vtkGetMacro(Rings, int);
  ///@}

  ///@{
  /**
   * Whether each void gets the radius the chooser takes for it (default on),
   * or Radius (in the normalised frame of its window; must be positive).
   */
  vtkSetMacro(AutoRadius, bool);
  vtkGetMacro(AutoRadius, bool);
  vtkBooleanMacro(AutoRadius, bool);
  vtkSetMacro(Radius, double);
  vtkGetMacro(Radius, double);
  ///@}

  ///@{
  /// Repairs run at once; 0 (default): the machine's cores.
  vtkSetClampMacro(Threads, int, 0, 1024);
  vtkGetMacro(Threads, int);
  ///@}

  ///@{
  /// The program's random offset on the filled heights. Default off.
  vtkSetMacro(Jitter, bool);
  vtkGetMacro(Jitter, bool);
  vtkBooleanMacro(Jitter, bool);
  ///@}

  ///@{
  /**
   * What the last update found: voids, voids filled, and one line a void as
   * surface_fill's --report writes them (a header line first).
   */
  vtkGetMacro(NumberOfVoids, vtkIdType);
  vtkGetMacro(NumberOfFilledVoids, vtkIdType);
  const char* GetReport() { return this->Report.c_str(); }
  ///@}

protected:
  vtkSurfaceFillFilter();
  ~vtkSurfaceFillFilter() override;

  int RequestData(vtkInformation* request, vtkInformationVector** inputVector,
    vtkInformationVector* outputVector) override;

  char* MaskArray;
  int Rings;
  bool AutoRadius;
  double Radius;
  int Threads;
  bool Jitter;
  vtkIdType NumberOfVoids;
  vtkIdType NumberOfFilledVoids;
  std::string Report;

private:
  vtkSurfaceFillFilter(const vtkSurfaceFillFilter&) = delete;
  void operator=(const vtkSurfaceFillFilter&) = delete;
};

#endif
