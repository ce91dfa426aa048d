/**
 * @class   vtkSingleMatrixSolver
 * @brief   fits the radial basis spline of a surface repair
 *
 * Assembles the interpolation matrix of the compactly supported basis
 * phi(d) = (1 - d/R)^2 (d < R) in envelope form in the reader's neighbourhood
 * order, factorises it once, eliminates the linear tail (1, x, y, z) through its
 * 4 x 4 Schur complement and leaves the n + 4 coefficients in SplineCoeff.
 */
#ifndef vtkSingleMatrixSolver_h
#define vtkSingleMatrixSolver_h
#include <vtkObject.h>
#include <vtkPoints.h> // for the PointArray accessors
#include <string>      // for the size report
class vtkSingleMatrixSolver : public vtkObject
{
public:
  vtkTypeMacro(vtkSingleMatrixSolver, vtkObject);
  static vtkSingleMatrixSolver* New();
  vtkSetObjectMacro(PointArray, vtkPoints);
  vtkGetObjectMacro(PointArray, vtkPoints);
  vtkSetMacro(SplineCoeff, float*);
  vtkGetMacro(SplineCoeff, float*);
  vtkSetMacro(List, int*);
  vtkGetMacro(List, int*);
  vtkSetMacro(B, float*);
  vtkGetMacro(B, float*);
  vtkSetMacro(Radius, float);
  vtkGetMacro(Radius, float);
  vtkSetMacro(Max, int);
  vtkGetMacro(Max, int);

  /**
   * Solves the spline system for the points, ordering, right-hand side,
   * half-bandwidth and radius that were set, and returns 1.
   *
   * Afterwards SplineCoeff holds n + 4 floats (a new C-heap array that the
   * solver never frees): elements 0 .. n-1 are the radial coefficients in
   * ordering position (the coefficient of point id k is element UnList[k]),
   * then the coefficients of 1, x, y and z. The array given as B holds the
   * radial coefficients as well. Prints the construction time, the size of
   * the envelope and the solving time.
   *
   * Every failure is thrown as a message text (const char*): a failed
   * allocation, or a system that is not positive definite or gives
   * coefficients that are not finite numbers.
   */
  int Solve();

protected:
  vtkSingleMatrixSolver();
  ~vtkSingleMatrixSolver() override;

  vtkPoints* PointArray; // the spline points; one reference held
  float* SplineCoeff;    // n + 4 coefficients written by Solve
  int* List;             // position -> point id (borrowed)
  float* B;              // right-hand side in List order, overwritten (borrowed)
  float Radius;          // support radius R of the basis
  int Max;               // half-bandwidth of the ordering

private:
  vtkSingleMatrixSolver(const vtkSingleMatrixSolver&) = delete;
  void operator=(const vtkSingleMatrixSolver&) = delete;
};

/**
 * The report line on the envelope's memory: n equations with nnz stored
 * envelope entries take 4 (nnz + 2 n) bytes (Env, Diag, Xenv), against
 * 4 n^2 bytes for a full matrix of floats. Counted in 64 bits.
 */
std::string EnvelopeSizeLine(int n, unsigned long long nnz);

#endif
