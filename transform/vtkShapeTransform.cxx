#include "vtkShapeTransform.h"
#include "Console.h"
#include "NeighbourSearch.h"
#include "NormalisedFrame.h"

#include <vtkDataArray.h>
#include <vtkIdList.h>
#include <vtkObjectFactory.h>
#include <vtkPointLocator.h>
#include <vtkPoints.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <memory>
#include <vector>

vtkObjectFactoryNewMacro(vtkShapeTransform);

namespace
{
// 1/32767 as a single-precision constant: scales a draw of 0..32767 onto [0, 1].
const float UnitDraw = 3.0518509e-05f;

// Width of the jitter interval in model units: offsets lie in [-1/60, +1/60].
const double JitterWidth = 1.0 / 30.0;

// A pseudo-random integer uniform over 0..32767 from the C library generator.
// Where rand() reaches further than 32767 (glibc: 2^31 - 1), its high bits are
// taken, which keeps the draw uniform as long as RAND_MAX + 1 is a multiple of
// 32768.
int DrawJitterInteger()
{
#if RAND_MAX == 32767
  return std::rand();
#else
  static_assert((static_cast<unsigned long long>(RAND_MAX) + 1ULL) % 32768ULL == 0,
    "RAND_MAX + 1 must be a multiple of 32768");
  const unsigned long long step = (static_cast<unsigned long long>(RAND_MAX) + 1ULL) / 32768ULL;
  return static_cast<int>(static_cast<unsigned long long>(std::rand()) / step);
#endif
}

// Appends every tuple of in to out, unchanged. Either array may be null. The
// two arrays may differ in value type (the filter picks the output type from
// its point precision), so the tuples go through double.
void PassTuples(vtkDataArray* in, vtkDataArray* out)
{
  if (!in || !out)
  {
    return;
  }
  const int width = std::max(in->GetNumberOfComponents(), out->GetNumberOfComponents());
  std::vector<double> tuple(static_cast<std::size_t>(width), 0.0);
  const vtkIdType n = in->GetNumberOfTuples();
  for (vtkIdType i = 0; i < n; ++i)
  {
    in->GetTuple(i, tuple.data());
    out->InsertNextTuple(tuple.data());
  }
}

// Heights that are still not finite in the result: vertices of voids outside
// the inside list, which stay as they are, and inside vertices out of reach of
// every centre, which keep their void.
void ReportVoids(
  vtkObject* self, vtkPoints* outPts, vtkIdType first, const std::vector<char>& inside)
{
  vtkIdType others = 0;
  vtkIdType unreached = 0;
  const vtkIdType n =
    std::min<vtkIdType>(outPts->GetNumberOfPoints() - first, static_cast<vtkIdType>(inside.size()));
  for (vtkIdType i = 0; i < n; ++i)
  {
    if (!std::isfinite(outPts->GetPoint(first + i)[2]))
    {
      ++(inside[static_cast<std::size_t>(i)] ? unreached : others);
    }
  }
  if (others > 0)
  {
    Report() << "Voids left as they are (vertices in neither list without a finite height): "
             << others << std::endl;
  }
  if (unreached > 0 && !ReportsAreQuiet())
  {
    vtkWarningWithObjectMacro(self, "TransformPoints: " << unreached
                                    << " inside vertices out of reach of every centre keep a "
                                       "height that is not finite: the result still holds a void");
  }
}
} // namespace

//------------------------------------------------------------------------------
vtkShapeTransform::vtkShapeTransform()
{
  this->Radius = 0.0f;
  this->PointArray = nullptr;
  this->SplineCoeff = nullptr;
  this->UnList = nullptr;
  this->InsideList = nullptr;
  this->Tree = nullptr;
  this->Jitter = true;
  this->NeighbourIds = vtkIdList::New();
  this->NeighbourIds->Allocate(300, 0);
}

//------------------------------------------------------------------------------
vtkShapeTransform::~vtkShapeTransform()
{
  this->NeighbourIds->Delete();
}

//------------------------------------------------------------------------------
void vtkShapeTransform::SetParameters(float radius, vtkPoints* centres, float* coeff,
  vtkIdList* inside, int* unList, vtkPointLocator* tree)
{
  this->Radius = radius;
  this->PointArray = centres;
  this->SplineCoeff = coeff;
  this->InsideList = inside;
  this->UnList = unList;
  this->Tree = tree;
}

//------------------------------------------------------------------------------
void vtkShapeTransform::TransformPoints(vtkPoints* inPts, vtkPoints* outPts)
{
  const vtkIdType n = inPts->GetNumberOfPoints();

  // The model's bounding box defines the normalised frame, over the finite
  // heights as the reader takes it. Coordinates are taken in single
  // precision, as the spline's points are.
  double bounds[6];
  FrameBounds(inPts, bounds);
  const float xmin = static_cast<float>(bounds[0]);
  const float xmax = static_cast<float>(bounds[1]);
  const float ymin = static_cast<float>(bounds[2]);
  const float ymax = static_cast<float>(bounds[3]);
  const float zmin = static_cast<float>(bounds[4]);
  const float zmax = static_cast<float>(bounds[5]);

  std::srand(static_cast<unsigned int>(std::time(nullptr)));
  this->Update();

  const bool ready =
    this->InsideList && this->PointArray && this->SplineCoeff && this->UnList && this->Tree;
  if (!ready)
  {
    vtkErrorMacro("TransformPoints: SetParameters has not been called; no point is moved");
  }

  // Which vertices are to be moved: one flag per vertex, so that the loop
  // answers membership in constant time. Ids outside 0..n-1 match nothing.
  std::vector<char> inside(static_cast<std::size_t>(n), 0);
  bool anyInside = false;
  if (ready)
  {
    const vtkIdType listed = this->InsideList->GetNumberOfIds();
    for (vtkIdType k = 0; k < listed; ++k)
    {
      const vtkIdType id = this->InsideList->GetId(k);
      if (id >= 0 && id < n)
      {
        inside[static_cast<std::size_t>(id)] = 1;
        anyInside = true;
      }
    }
  }

  // Without an extent in x or y there is no frame to evaluate the spline in.
  const bool flat = !(xmax > xmin) || !(ymax > ymin);
  if (flat && anyInside)
  {
    vtkWarningMacro("TransformPoints: the model has no extent in x or y; no point is moved");
  }

  const vtkIdType m = ready ? this->PointArray->GetNumberOfPoints() : 0;
  const double radius = this->Radius;
  // The centres near a vertex, as the locator finds them and in its order.
  std::unique_ptr<NeighbourSearch> search;
  if (ready && anyInside && !flat)
  {
    search.reset(new NeighbourSearch(this->Tree, this->PointArray, radius));
  }
  vtkIdType affected = 0;
  float jitter = 0.0f;
  const vtkIdType firstOut = outPts->GetNumberOfPoints();

  for (vtkIdType i = 0; i < n; ++i)
  {
    double in[3];
    inPts->GetPoint(i, in);
    double out[3] = { in[0], in[1], in[2] };

    if (inside[static_cast<std::size_t>(i)] && !flat)
    {
      // The frame the reader placed the centres in.
      const float X = Normalised(static_cast<float>(in[0]), xmin, xmax);
      const float Y = Normalised(static_cast<float>(in[1]), ymin, ymax);
      // The query point lies in the plane z = 0 of the frame.
      const double q[3] = { X, Y, 0.0 };

      search->FindPointsWithinRadius(q, this->NeighbourIds);
      const vtkIdType found = this->NeighbourIds->GetNumberOfIds();
      if (found > 0)
      {
        // The spline at q: the basis terms of the centres within the support,
        // in the order the locator returned them, summed in single precision.
        float s = 0.0f;
        for (vtkIdType j = 0; j < found; ++j)
        {
          const vtkIdType k = this->NeighbourIds->GetId(j);
          double p[3];
          this->PointArray->GetPoint(k, p);
          const double dx = p[0] - q[0];
          const double dy = p[1] - q[1];
          const double dz = p[2] - q[2];
          const double d = std::sqrt(dx * dx + dy * dy + dz * dz);
          const double t = 1.0 - d / radius;
          s = static_cast<float>(s + t * t * this->SplineCoeff[this->UnList[k]]);
        }
        // The linear tail; the z term vanishes since q lies in z = 0.
        const float* tail = this->SplineCoeff + m;
        s = static_cast<float>(s +
          (0.0 * tail[3] + static_cast<double>(Y) * tail[2] + static_cast<double>(X) * tail[1] +
            tail[0]));

        jitter = !this->Jitter ? 0.0f : static_cast<float>(
          (static_cast<double>(DrawJitterInteger()) * static_cast<double>(UnitDraw) - 0.5) *
          JitterWidth);
        // The spline was fitted to minus the normalised heights, hence the
        // minus sign when mapping back to model units.
        out[2] = static_cast<float>(static_cast<double>(zmin) -
          (static_cast<double>(zmax) - zmin) * static_cast<double>(s) + jitter);
        ++affected;
      }
    }

    outPts->InsertNextPoint(out);
    this->NeighbourIds->Reset();
  }

  Report() << "Affected points: " << affected << "." << std::endl;
  ReportVoids(this, outPts, firstOut, inside);
}

//------------------------------------------------------------------------------
void vtkShapeTransform::TransformPointsNormalsVectors(vtkPoints* inPts, vtkPoints* outPts,
  vtkDataArray* inNms, vtkDataArray* outNms, vtkDataArray* inVrs, vtkDataArray* outVrs,
  int nOptionalVectors, vtkDataArray** inVrsArr, vtkDataArray** outVrsArr)
{
  // Only z changes, and only at some vertices: the attached directions are
  // handed on as they are.
  this->TransformPoints(inPts, outPts);
  PassTuples(inNms, outNms);
  PassTuples(inVrs, outVrs);
  if (inVrsArr && outVrsArr)
  {
    for (int k = 0; k < nOptionalVectors; ++k)
    {
      PassTuples(inVrsArr[k], outVrsArr[k]);
    }
  }
}

//------------------------------------------------------------------------------
void vtkShapeTransform::Inverse() {}

//------------------------------------------------------------------------------
void vtkShapeTransform::InternalTransformPoint(const float[3], float[3]) {}

//------------------------------------------------------------------------------
void vtkShapeTransform::InternalTransformPoint(const double[3], double[3]) {}

//------------------------------------------------------------------------------
void vtkShapeTransform::InternalTransformDerivative(const float[3], float[3], float[3][3]) {}

//------------------------------------------------------------------------------
void vtkShapeTransform::InternalTransformDerivative(const double[3], double[3], double[3][3]) {}

//------------------------------------------------------------------------------
vtkAbstractTransform* vtkShapeTransform::MakeTransform()
{
  return nullptr;
}
