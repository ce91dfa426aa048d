#include "NeighbourSearch.h"

#include <vtkIdList.h>
#include <vtkPointLocator.h>
#include <vtkPoints.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace
{
// The locator's own bucket arithmetic, reached through a member pointer, so
// that a point's bucket here is the bucket the locator filed it in.
struct LocatorBuckets : vtkPointLocator
{
  static void Indices(const vtkPointLocator* tree, const double x[3], int ijk[3])
  {
    using Method = void (vtkPointLocator::*)(const double*, int*) const;
    const Method indices = &LocatorBuckets::GetBucketIndices;
    (tree->*indices)(x, ijk);
  }
};

// Cells of the grid: at most this many per point (and a few more), so that a
// very small radius cannot make the grid huge; cells grow wider instead.
constexpr double CellsPerPoint = 4.0;
} // namespace

NeighbourSearch::NeighbourSearch(vtkPointLocator* tree, vtkPoints* points, double radius)
  : Tree(tree)
  , Radius(radius)
  , Radius2(radius * radius)
{
  const vtkIdType n = points->GetNumberOfPoints();
  if (n == 0)
  {
    return; // nothing to find; an empty locator is never asked
  }
  tree->Update();

  this->Coordinates.resize(3 * static_cast<size_t>(n));
  this->Bucket.resize(static_cast<size_t>(n));
  double low[3] = { 0.0, 0.0, 0.0 };
  double high[3] = { 0.0, 0.0, 0.0 };
  for (vtkIdType i = 0; i < n; ++i)
  {
    double* p = &this->Coordinates[3 * static_cast<size_t>(i)];
    points->GetPoint(i, p);
    this->Bucket[static_cast<size_t>(i)] = this->BucketOf(p);
    for (int axis = 0; axis < 3; ++axis)
    {
      low[axis] = i == 0 ? p[axis] : std::min(low[axis], p[axis]);
      high[axis] = i == 0 ? p[axis] : std::max(high[axis], p[axis]);
    }
  }

  // Columns of cells over x and y, as wide as the radius, widened while there
  // would be too many. The points lie in a plane but for the frame points, so
  // cells along z would stay empty and only dilute the grid.
  double width = radius > 0.0 && std::isfinite(radius) ? radius : 1.0;
  const double budget = CellsPerPoint * static_cast<double>(n) + 64.0;
  for (;;)
  {
    double count = 1.0;
    for (int axis = 0; axis < 2; ++axis)
    {
      count *= std::floor((high[axis] - low[axis]) / width) + 1.0;
    }
    if (count <= budget)
    {
      break;
    }
    width *= 2.0;
  }
  for (int axis = 0; axis < 3; ++axis)
  {
    this->Origin[axis] = low[axis];
    this->InverseCell[axis] = axis < 2 ? 1.0 / width : 0.0;
    this->Cells[axis] =
      axis < 2 ? static_cast<int>(std::floor((high[axis] - low[axis]) / width)) + 1 : 1;
  }

  // Points by cell, each cell in increasing id.
  const size_t cellCount =
    static_cast<size_t>(this->Cells[0]) * this->Cells[1] * static_cast<size_t>(this->Cells[2]);
  std::vector<int> cellOf(static_cast<size_t>(n));
  this->CellStart.assign(cellCount + 1, 0);
  for (vtkIdType i = 0; i < n; ++i)
  {
    const double* p = &this->Coordinates[3 * static_cast<size_t>(i)];
    const int c = (this->CellIndex(p[2], 2) * this->Cells[1] + this->CellIndex(p[1], 1)) *
        this->Cells[0] +
      this->CellIndex(p[0], 0);
    cellOf[static_cast<size_t>(i)] = c;
    ++this->CellStart[static_cast<size_t>(c) + 1];
  }
  for (size_t c = 0; c < cellCount; ++c)
  {
    this->CellStart[c + 1] += this->CellStart[c];
  }
  this->CellPoints.resize(static_cast<size_t>(n));
  std::vector<int> next(this->CellStart.begin(), this->CellStart.end() - 1);
  for (vtkIdType i = 0; i < n; ++i)
  {
    this->CellPoints[static_cast<size_t>(next[static_cast<size_t>(cellOf[i])]++)] =
      static_cast<int>(i);
  }
}

std::int64_t NeighbourSearch::BucketOf(const double x[3]) const
{
  int ijk[3];
  LocatorBuckets::Indices(this->Tree, x, ijk);
  // (i, j, k) packed so that the keys sort as the locator scans: i slowest.
  return (static_cast<std::int64_t>(ijk[0]) << 42) | (static_cast<std::int64_t>(ijk[1]) << 21) |
    static_cast<std::int64_t>(ijk[2]);
}

int NeighbourSearch::CellIndex(double v, int axis) const
{
  const double t = std::floor((v - this->Origin[axis]) * this->InverseCell[axis]);
  if (!(t > 0.0))
  {
    return 0; // below the grid, or not a number
  }
  return t >= this->Cells[axis] ? this->Cells[axis] - 1 : static_cast<int>(t);
}

void NeighbourSearch::FindPointsWithinRadius(const double x[3], vtkIdList* result)
{
  result->Reset();
  this->Found.clear();
  if (!(this->Radius >= 0.0) || this->Coordinates.empty())
  {
    return;
  }

  // The cells that can hold a point within the radius; the range is taken a
  // hair wider than the radius so that rounding cannot lose a point that the
  // distance test accepts.
  const double reach = this->Radius * (1.0 + 1e-9) + 1e-300;
  int lo[3];
  int hi[3];
  for (int axis = 0; axis < 3; ++axis)
  {
    lo[axis] = this->CellIndex(x[axis] - reach, axis);
    hi[axis] = this->CellIndex(x[axis] + reach, axis);
  }

  // The locator scans the bucket of x after all the others.
  const std::int64_t own = this->BucketOf(x);
  const std::int64_t last = std::numeric_limits<std::int64_t>::max();
  for (int k = lo[2]; k <= hi[2]; ++k)
  {
    for (int j = lo[1]; j <= hi[1]; ++j)
    {
      const size_t row = (static_cast<size_t>(k) * this->Cells[1] + j) * this->Cells[0];
      for (size_t c = row + lo[0]; c <= row + hi[0]; ++c)
      {
        for (int s = this->CellStart[c]; s < this->CellStart[c + 1]; ++s)
        {
          const int id = this->CellPoints[static_cast<size_t>(s)];
          const double* p = &this->Coordinates[3 * static_cast<size_t>(id)];
          const double d0 = x[0] - p[0];
          const double d1 = x[1] - p[1];
          const double d2 = x[2] - p[2];
          if (d0 * d0 + d1 * d1 + d2 * d2 <= this->Radius2)
          {
            const std::int64_t bucket = this->Bucket[static_cast<size_t>(id)];
            this->Found.emplace_back(bucket == own ? last : bucket, id);
          }
        }
      }
    }
  }

  std::sort(this->Found.begin(), this->Found.end());
  result->SetNumberOfIds(static_cast<vtkIdType>(this->Found.size()));
  for (size_t f = 0; f < this->Found.size(); ++f)
  {
    result->SetId(static_cast<vtkIdType>(f), this->Found[f].second);
  }
}
