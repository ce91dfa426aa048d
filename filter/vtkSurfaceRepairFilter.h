/**
 * @class   vtkSurfaceRepairFilter
 * @brief   repairs a damaged region of a height field inside a VTK pipeline
 *
 * vtkSurfaceRepairFilter runs the repair of the console program surface_repair
 * on a polydata in memory: it fits the compactly supported radial basis spline
 * to the heights of the outside vertices (in the normalised frame of the
 * input's bounding box, anchored by the twelve frame points) and moves the
 * inside vertices in z onto it. The stages are the program's own:
 * vtkDatReader, vtkSingleMatrixSolver and vtkShapeTransform.
 *
 * The output holds the input's points in the same order, the inside vertices
 * that lie within the radius of a spline point moved in z, and the input's
 * cells, point data and cell data.
 *
 * @warning
 * The spline is fitted and evaluated in single precision. With Jitter on (the
 * default, as in the program) every moved vertex also receives a random offset
 * in z, uniform in [-1/60, +1/60] in model units, drawn from the C library
 * generator reseeded with the time; switch it off for a deterministic result.
 *
 * @warning
 * Bad input (an id outside the input's points, no outside id, a radius that is
 * not positive or whose system would not fit in memory, an input with
 * non-finite coordinates or cells that refer to missing points, a spline
 * system that does not factorise) is reported with
 * vtkErrorMacro and the program's message text; the update then fails and the
 * output is empty. Nothing is printed on standard output unless Verbose is on.
 *
 * @sa
 * vtkDatReader vtkSingleMatrixSolver vtkShapeTransform vtkTransformPolyDataFilter
 */
#ifndef vtkSurfaceRepairFilter_h
#define vtkSurfaceRepairFilter_h

#include "SurfaceRepairFilterModule.h" // for the export macro
#include <vtkPolyDataAlgorithm.h>

class vtkIdList;

class SURFACEREPAIRFILTER_EXPORT vtkSurfaceRepairFilter : public vtkPolyDataAlgorithm
{
public:
  static vtkSurfaceRepairFilter* New();
  vtkTypeMacro(vtkSurfaceRepairFilter, vtkPolyDataAlgorithm);
  void PrintSelf(ostream& os, vtkIndent indent) override;

  ///@{
  /**
   * Ids of the input's vertices to move (inside) and of the vertices that
   * describe the good surface around them (outside). Both default to null,
   * which counts as an empty list; at least one outside id is needed. The
   * lists are referenced, not copied: changing them makes the next update
   * run again.
   */
  virtual void SetInsideIds(vtkIdList* ids);
  vtkGetObjectMacro(InsideIds, vtkIdList);
  virtual void SetOutsideIds(vtkIdList* ids);
  vtkGetObjectMacro(OutsideIds, vtkIdList);
  ///@}

  ///@{
  /**
   * Support radius R of the basis, in units of the normalised frame (the
   * input's x and y extents each map to 1). Must be positive; it is used in
   * single precision, as the program reads it. A radius whose system would
   * not fit in memory is refused, as the program refuses it. Default 0.12;
   * not used with AutoRadius.
   */
  vtkSetMacro(Radius, double);
  vtkGetMacro(Radius, double);
  ///@}

  ///@{
  /**
   * Whether the filter chooses the radius from the data, as the program does
   * for the radius input auto: a multiple (1.05 to 10) of the reach of the
   * inside vertices that fits in memory, the closest to a kriged reference.
   * Default off. The trial fits' budget is reckoned from the model as the
   * program reckons it, so the filter chooses the program's radius for the
   * same data. GetChosenRadius tells which radius was used.
   */
  vtkSetMacro(AutoRadius, bool);
  vtkGetMacro(AutoRadius, bool);
  vtkBooleanMacro(AutoRadius, bool);
  ///@}

  /**
   * The radius (in single precision) the last update fitted the spline with,
   * Radius or the one AutoRadius chose; 0 before the first update and after
   * a failed one.
   */
  vtkGetMacro(ChosenRadius, double);

  ///@{
  /**
   * Whether the moved vertices receive the program's random offset in z.
   * Default on; off, two updates on the same input give identical points.
   */
  vtkSetMacro(Jitter, bool);
  vtkGetMacro(Jitter, bool);
  vtkBooleanMacro(Jitter, bool);
  ///@}

  ///@{
  /**
   * Whether the stages print the program's report lines ("Tree build time: ",
   * "Solving time: ", "Affected points: ", ...) on standard output. Default
   * off: the filter prints nothing there.
   */
  vtkSetMacro(Verbose, bool);
  vtkGetMacro(Verbose, bool);
  vtkBooleanMacro(Verbose, bool);
  ///@}

  /**
   * Includes the modification times of the id lists.
   */
  vtkMTimeType GetMTime() override;

protected:
  vtkSurfaceRepairFilter();
  ~vtkSurfaceRepairFilter() override;

  int RequestData(vtkInformation* request, vtkInformationVector** inputVector,
    vtkInformationVector* outputVector) override;

  vtkIdList* InsideIds;  // one reference held
  vtkIdList* OutsideIds; // one reference held
  double Radius;
  double ChosenRadius;
  bool AutoRadius;
  bool Jitter;
  bool Verbose;

private:
  vtkSurfaceRepairFilter(const vtkSurfaceRepairFilter&) = delete;
  void operator=(const vtkSurfaceRepairFilter&) = delete;
};

#endif
