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

// Vertices whose spline sums run side by side: the additions of one sum wait
// on each other (each is rounded to float before the next), those of
// different vertices do not.
constexpr int SumLanes = 16;
typedef double LaneSums __attribute__((vector_size(8 * SumLanes)));
typedef float LaneFloats __attribute__((vector_size(4 * SumLanes)));

#define SPLINE_CLONES \
  __attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")))

// terms[k] = (1 - sqrt(squared[k]) / radius)^2 * coeff[ids[k]], k < count:
// the basis term of each centre, computed as the straightforward loop does.
// The coefficients are gathered first, so that the arithmetic runs in vector
// registers (the compiler does not vectorise the gather).
SPLINE_CLONES void BasisTerms(const double* squared, const int* ids, const double* coeff,
  double radius, int count, double* terms)
{
  for (int k = 0; k < count; ++k)
  {
    terms[k] = coeff[ids[k]];
  }
  for (int k = 0; k < count; ++k)
  {
    const double d = std::sqrt(squared[k]);
    const double t = 1.0 - d / radius;
    terms[k] = t * t * terms[k];
  }
}

// The sum of terms[v][0 .. length - 1] for each lane v, from 0 in single
// precision: each addition in double, rounded to float. Every row holds
// length terms (zeros past its own end: adding a zero to a float sum that is
// not -0 leaves it as it is, and these sums start at +0).
SPLINE_CLONES void SumInLanes(const double* const* terms, int length, float* sums)
{
  LaneSums s = {};
  for (int k = 0; k < length; ++k)
  {
    LaneSums t;
    for (int v = 0; v < SumLanes; ++v)
    {
      t[v] = terms[v][k];
    }
    s = __builtin_convertvector(__builtin_convertvector(s + t, LaneFloats), LaneSums);
  }
  for (int v = 0; v < SumLanes; ++v)
  {
    sums[v] = static_cast<float>(s[v]);
  }
}

// The spline sums over the centres near query points (X, Y, 0) of the
// normalised frame, SumLanes queries at a time.
class SplineSums
{
public:
  SplineSums(NeighbourSearch& search, const float* coeff, const int* unList, vtkIdType m,
    double radius)
    : Search(search)
    , Radius(radius)
    , Coefficient(static_cast<std::size_t>(m))
  {
    for (vtkIdType k = 0; k < m; ++k)
    {
      this->Coefficient[static_cast<std::size_t>(k)] = coeff[unList[k]];
    }
  }

  // sums[k] for the query (x[k], y[k]); found[k] = 0 where no centre is near.
  void Evaluate(const std::vector<float>& x, const std::vector<float>& y, std::vector<float>& sums,
    std::vector<char>& found)
  {
    const std::size_t count = x.size();
    sums.assign(count, 0.0f);
    found.assign(count, 0);
    for (std::size_t first = 0; first < count; first += SumLanes)
    {
      const int lanes = static_cast<int>(std::min<std::size_t>(SumLanes, count - first));
      int longest = 0;
      for (int v = 0; v < lanes; ++v)
      {
        const double q[3] = { x[first + v], y[first + v], 0.0 };
        const int* ids = nullptr;
        const double* squared = nullptr;
        const int length = static_cast<int>(this->Search.FindPointsWithinRadius(q, ids, squared));
        std::vector<double>& terms = this->Terms[v];
        if (terms.size() < static_cast<std::size_t>(length))
        {
          terms.resize(static_cast<std::size_t>(length)); // the rows only ever grow
        }
        BasisTerms(squared, ids, this->Coefficient.data(), this->Radius, length, terms.data());
        this->Length[v] = length;
        longest = std::max(longest, length);
      }
      // Zeros past each row's own terms, up to the longest.
      const double* rows[SumLanes];
      for (int v = 0; v < SumLanes; ++v)
      {
        std::vector<double>& terms = this->Terms[v];
        const std::size_t length = v < lanes ? static_cast<std::size_t>(this->Length[v]) : 0;
        if (terms.size() < static_cast<std::size_t>(longest))
        {
          terms.resize(static_cast<std::size_t>(longest));
        }
        std::fill(terms.begin() + static_cast<std::ptrdiff_t>(length),
          terms.begin() + longest, 0.0);
        rows[v] = terms.data();
      }
      float laneSums[SumLanes];
      SumInLanes(rows, longest, laneSums);
      for (int v = 0; v < lanes; ++v)
      {
        sums[first + v] = laneSums[v];
        found[first + v] = this->Length[v] > 0;
      }
    }
  }

private:
  NeighbourSearch& Search;
  double Radius;
  std::vector<double> Coefficient; // of each centre
  std::vector<double> Terms[SumLanes];
  int Length[SumLanes] = {};
};

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

  if (this->Jitter)
  {
    std::srand(static_cast<unsigned int>(std::time(nullptr)));
  }
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

  // The vertices to move and their places in the normalised frame, the
  // frame the reader placed the centres in. The query points lie in its
  // plane z = 0.
  std::vector<vtkIdType> moving;
  std::vector<float> frameX;
  std::vector<float> frameY;
  if (ready && anyInside && !flat)
  {
    for (vtkIdType i = 0; i < n; ++i)
    {
      if (inside[static_cast<std::size_t>(i)])
      {
        double in[3];
        inPts->GetPoint(i, in);
        moving.push_back(i);
        frameX.push_back(Normalised(static_cast<float>(in[0]), xmin, xmax));
        frameY.push_back(Normalised(static_cast<float>(in[1]), ymin, ymax));
      }
    }
  }

  // The spline at each of them: the basis terms of the centres within the
  // support, in the order the locator returns them, summed in single
  // precision.
  std::vector<float> sums;
  std::vector<char> found;
  if (!moving.empty())
  {
    // The inside vertices often cover a small part of the centres' area:
    // the search prepares only the neighbourhoods they need.
    NeighbourSearch search(
      this->Tree, this->PointArray, radius, frameX.data(), frameY.data(), frameX.size());
    SplineSums spline(search, this->SplineCoeff, this->UnList, m, radius);
    spline.Evaluate(frameX, frameY, sums, found);
  }

  // Every vertex as it is, then the new heights of the moved ones, in the
  // order of their ids (the order of the jitter draws).
  vtkIdType affected = 0;
  const vtkIdType firstOut = outPts->GetNumberOfPoints();
  outPts->InsertPoints(firstOut, n, 0, inPts);
  for (std::size_t k = 0; k < moving.size(); ++k)
  {
    if (!found[k])
    {
      continue;
    }
    const vtkIdType i = moving[k];
    double out[3];
    inPts->GetPoint(i, out);
    const float X = frameX[k];
    const float Y = frameY[k];
    float s = sums[k];
    // The linear tail; the z term vanishes since the query lies in z = 0.
    const float* tail = this->SplineCoeff + m;
    s = static_cast<float>(s +
      (0.0 * tail[3] + static_cast<double>(Y) * tail[2] + static_cast<double>(X) * tail[1] +
        tail[0]));

    const float jitter = !this->Jitter ? 0.0f : static_cast<float>(
      (static_cast<double>(DrawJitterInteger()) * static_cast<double>(UnitDraw) - 0.5) *
      JitterWidth);
    // The spline was fitted to minus the normalised heights, hence the
    // minus sign when mapping back to model units.
    out[2] = static_cast<float>(static_cast<double>(zmin) -
      (static_cast<double>(zmax) - zmin) * static_cast<double>(s) + jitter);
    outPts->SetPoint(firstOut + i, out);
    ++affected;
  }
  this->NeighbourIds->Reset();

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
