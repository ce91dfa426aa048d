/**
 * @class   vtkShapeTransform
 * @brief   moves the inside vertices of a height field onto a radial basis spline
 *
 * vtkShapeTransform treats a fitted spline as a height field over the
 * normalised x-y square of the model and moves a chosen set of model vertices
 * (the inside list) in z onto it. The spline is the one the reader prepares and
 * the solver fits: compactly supported radial basis functions
 * phi(d) = (1 - d/R)^2 centred on the points of a vtkPoints set, with a linear
 * polynomial tail in 1, x, y and z.
 *
 * For every inside vertex (x, y, z) the transform forms the query point
 * q = (X, Y, 0) of the normalised frame of the model's bounding box,
 * X = (x - xmin) / (xmax - xmin), Y = (y - ymin) / (ymax - ymin), sums the
 * basis terms of all centres the point locator finds within the radius, adds
 * the polynomial tail, and maps the sum s back to model units:
 * new z = zmin - (zmax - zmin) * s + jitter. x and y stay as they are. An inside
 * vertex with no centre within the radius, and every vertex that is not in the
 * inside list, is copied unchanged. Each call prints
 * "Affected points: <count>." on standard output.
 *
 * The transform is meant to run in a vtkTransformPolyDataFilter, which calls
 * TransformPoints (or TransformPointsNormalsVectors, when the model's point
 * data carries normals or vectors) once with the model's points.
 *
 * @warning
 * The spline is evaluated in single precision: the sum is rounded to float
 * after every term, so the heights carry the rounding error of the float
 * coefficients, roughly 1e-7 relative to the size of the largest term.
 *
 * @warning
 * Every moved vertex receives a small random offset in z, uniform in
 * [-1/60, +1/60] in model units (it is not scaled by the model's height
 * range), unless Jitter is switched off. Each TransformPoints call with
 * Jitter on reseeds the C library generator (srand) with the calendar time in
 * whole seconds, so two calls started within the same second draw the same
 * offsets, and the caller's own rand() sequence is disturbed; with Jitter off
 * the generator is left alone.
 *
 * @warning
 * The centres, coefficients, inverse ordering, inside list and locator given
 * to SetParameters are borrowed, not registered: their owners must keep them
 * alive while the transform runs. A model whose x or y extent is zero has no
 * normalised frame; its vertices are then left where they are.
 *
 * @warning
 * The transform is not invertible and has no derivative: Inverse and the
 * InternalTransformPoint and InternalTransformDerivative forms do nothing, and
 * MakeTransform returns nullptr.
 *
 * @sa
 * vtkDatReader vtkSingleMatrixSolver vtkTransformPolyDataFilter
 * vtkThinPlateSplineTransform vtkPointLocator
 */
#ifndef vtkShapeTransform_h
#define vtkShapeTransform_h

#include <vtkAbstractTransform.h>

class vtkDataArray;
class vtkIdList;
class vtkPointLocator;
class vtkPoints;

class vtkShapeTransform : public vtkAbstractTransform
{
public:
  vtkTypeMacro(vtkShapeTransform, vtkAbstractTransform);
  static vtkShapeTransform* New();

  /**
   * Hands the transform the spline and the vertices to move, all borrowed:
   * - radius: support radius R of the basis, in units of the normalised frame;
   * - centres: the m spline centres in the normalised frame;
   * - coeff: m + 4 coefficients, the m radial ones in ordering position, then
   *   those of 1, x, y and z;
   * - inside: ids of the model vertices to move (ids outside 0..N-1 are ignored);
   * - unList: m entries, for centre id k the position of its coefficient;
   * - tree: a locator built over centres.
   * Only stores the values: no reference counting and no Modified().
   * Must be called before the transform first runs.
   */
  void SetParameters(float radius, vtkPoints* centres, float* coeff, vtkIdList* inside,
    int* unList, vtkPointLocator* tree);

  ///@{
  /**
   * Whether the moved vertices receive the random offset in z. Default on,
   * as in the program; off, the moved heights are the spline's own and two
   * runs on the same input give the same points.
   */
  vtkSetMacro(Jitter, bool);
  vtkGetMacro(Jitter, bool);
  vtkBooleanMacro(Jitter, bool);
  ///@}

  /**
   * Appends to outPts one point per point of inPts, in the same order: the
   * inside vertices that have a spline centre within the radius moved in z
   * onto the spline (plus the jitter), every other vertex unchanged. Prints
   * "Affected points: <count>." on standard output.
   */
  void TransformPoints(vtkPoints* inPts, vtkPoints* outPts) override;

  /**
   * Moves the points exactly as TransformPoints does and appends every tuple
   * of the normals, the vectors and the optional vector arrays, unchanged, to
   * the corresponding output array. Null arrays are skipped.
   */
  void TransformPointsNormalsVectors(vtkPoints* inPts, vtkPoints* outPts, vtkDataArray* inNms,
    vtkDataArray* outNms, vtkDataArray* inVrs, vtkDataArray* outVrs, int nOptionalVectors = 0,
    vtkDataArray** inVrsArr = nullptr, vtkDataArray** outVrsArr = nullptr) override;

  /**
   * The transform has no inverse; does nothing.
   */
  void Inverse() override;

  ///@{
  /**
   * The transform works only on whole point sets; these do nothing and leave
   * their output arguments untouched.
   */
  void InternalTransformPoint(const float in[3], float out[3]) override;
  void InternalTransformPoint(const double in[3], double out[3]) override;
  void InternalTransformDerivative(
    const float in[3], float out[3], float derivative[3][3]) override;
  void InternalTransformDerivative(
    const double in[3], double out[3], double derivative[3][3]) override;
  ///@}

  /**
   * Returns nullptr: the transform cannot make a copy of its own kind.
   */
  vtkAbstractTransform* MakeTransform() override;

protected:
  vtkShapeTransform();
  ~vtkShapeTransform() override;

  float Radius;              // support radius in the normalised frame (initially 0)
  vtkPoints* PointArray;     // borrowed: the spline centres
  float* SplineCoeff;        // borrowed: m radial coefficients, then c0..c3
  int* UnList;               // borrowed: centre id -> coefficient position
  vtkIdList* InsideList;     // borrowed: ids of the vertices to move
  vtkPointLocator* Tree;     // borrowed: locator over PointArray
  vtkIdList* NeighbourIds;   // owned: kept empty (the searches fill vectors of their own)
  bool Jitter;               // draw the random offset in z (initially true)

private:
  vtkShapeTransform(const vtkShapeTransform&) = delete;
  void operator=(const vtkShapeTransform&) = delete;
};

#endif
