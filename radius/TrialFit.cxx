#include "TrialFit.h"

#include "Console.h"
#include "GetWellOderredList.h"
#include "PlaneIndex.h"
#include "vtkSingleMatrixSolver.h"

#include <vtkNew.h>
#include <vtkPointLocator.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>

#include <cmath>
#include <cstdlib>
#include <memory>

namespace
{
constexpr int FramePointCount = 12;

// Arrays of one trial fit, released however the fit ends.
struct FitArrays
{
  int* List = nullptr;
  float* B = nullptr;
  float* Coefficients = nullptr;
  ~FitArrays()
  {
    delete[] this->List;
    free(this->B);
    free(this->Coefficients);
  }
};
} // namespace

//------------------------------------------------------------------------------
TrialFit::TrialFit(
  vtkPoints* splinePoints, const PlanePoints& plane, const std::vector<double>& values)
  : SplinePoints(splinePoints)
  , Plane(plane)
  , Values(values)
{
}

//------------------------------------------------------------------------------
bool TrialFit::Predict(const std::vector<int>& kept, double radius, const PlanePoints& queries,
  std::vector<double>& predicted) const
{
  predicted.clear();
  const QuietReports quiet;

  vtkNew<vtkPoints> points;
  std::vector<double> value;
  for (vtkIdType i = 0; i < FramePointCount; ++i)
  {
    points->InsertNextPoint(this->SplinePoints->GetPoint(i));
    value.push_back(0.0);
  }
  PlanePoints keptPlane;
  for (const int k : kept)
  {
    const auto& p = this->Plane[static_cast<size_t>(k)];
    points->InsertNextPoint(p[0], p[1], 0.0);
    value.push_back(this->Values[static_cast<size_t>(k)]);
    keptPlane.push_back(p);
  }
  const int n = static_cast<int>(points->GetNumberOfPoints());

  vtkNew<vtkPolyData> data;
  data->SetPoints(points);
  vtkNew<vtkPointLocator> tree;
  tree->SetDataSet(data);
  tree->BuildLocator();

  const float r = static_cast<float>(radius);
  FitArrays arrays;
  int max = 0;
  arrays.List = GetWellOderredList(&max, n, r, points, tree);
  arrays.B = static_cast<float*>(malloc(sizeof(float) * static_cast<size_t>(n)));
  if (arrays.B == nullptr)
  {
    return false;
  }
  for (int k = 0; k < n; ++k)
  {
    arrays.B[k] = static_cast<float>(-value[static_cast<size_t>(arrays.List[k])]);
  }
  std::vector<int> position(static_cast<size_t>(n));
  for (int k = 0; k < n; ++k)
  {
    position[static_cast<size_t>(arrays.List[k])] = k;
  }

  vtkNew<vtkSingleMatrixSolver> solver;
  solver->SetRadius(r);
  solver->SetPointArray(points);
  solver->SetList(arrays.List);
  solver->SetMax(max);
  solver->SetB(arrays.B);
  try
  {
    solver->Solve();
  }
  catch (const char*)
  {
    return false;
  }
  arrays.Coefficients = solver->GetSplineCoeff();
  const float* c = arrays.Coefficients;
  const float* tail = c + n;

  // The spline at each query point, in the plane z = 0: the centres within
  // the radius (constraint points through the index, frame points directly)
  // and the linear tail. It was fitted to minus the values.
  const PlaneIndex index(keptPlane);
  std::vector<int> near;
  const double r2 = static_cast<double>(r) * r;
  for (const auto& q : queries)
  {
    double s = static_cast<double>(tail[0]) + q[0] * tail[1] + q[1] * tail[2];
    for (int i = 0; i < FramePointCount; ++i)
    {
      const double* p = points->GetPoint(i);
      const double d2 = (p[0] - q[0]) * (p[0] - q[0]) + (p[1] - q[1]) * (p[1] - q[1]) + p[2] * p[2];
      if (d2 < r2)
      {
        const double t = 1.0 - std::sqrt(d2) / r;
        s += t * t * c[position[static_cast<size_t>(i)]];
      }
    }
    near.clear();
    index.Within(q, r, near);
    for (const int k : near)
    {
      const auto& p = keptPlane[static_cast<size_t>(k)];
      const double d2 = (p[0] - q[0]) * (p[0] - q[0]) + (p[1] - q[1]) * (p[1] - q[1]);
      if (d2 < r2)
      {
        const double t = 1.0 - std::sqrt(d2) / r;
        s += t * t * c[position[static_cast<size_t>(k + FramePointCount)]];
      }
    }
    predicted.push_back(-s);
  }
  return true;
}
