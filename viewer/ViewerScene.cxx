#include "ViewerScene.h"

#include <vtkCellArray.h>
#include <vtkCellArrayIterator.h>
#include <vtkIdList.h>
#include <vtkLookupTable.h>
#include <vtkNew.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace
{
// Samples of the viridis colour map at 0, 1/8, ..., 1: perceptually even,
// readable in grey and by colour-blind viewers, and never pale.
const double Viridis[9][3] = { { 0.267, 0.005, 0.329 }, { 0.283, 0.141, 0.458 },
  { 0.230, 0.322, 0.546 }, { 0.173, 0.449, 0.558 }, { 0.128, 0.567, 0.551 },
  { 0.135, 0.659, 0.518 }, { 0.369, 0.789, 0.383 }, { 0.678, 0.864, 0.190 },
  { 0.993, 0.906, 0.144 } };

bool SameCoordinates(const double a[3], const double b[3])
{
  for (int c = 0; c < 3; ++c)
  {
    const bool bothNaN = std::isnan(a[c]) && std::isnan(b[c]);
    if (!(a[c] == b[c]) && !bothNaN)
    {
      return false;
    }
  }
  return true;
}

std::vector<bool> MovedPoints(vtkPolyData* source, vtkPolyData* result)
{
  const vtkIdType count = std::min(source->GetNumberOfPoints(), result->GetNumberOfPoints());
  std::vector<bool> moved(static_cast<size_t>(count), false);
  for (vtkIdType i = 0; i < count; ++i)
  {
    double a[3];
    double b[3];
    source->GetPoint(i, a);
    result->GetPoint(i, b);
    moved[static_cast<size_t>(i)] = !SameCoordinates(a, b);
  }
  return moved;
}

// Counts how many selected cells use each edge; an edge used once bounds the
// selection.
class EdgeCounter
{
public:
  void Add(vtkIdType a, vtkIdType b)
  {
    if (a == b)
    {
      return;
    }
    const uint64_t low = static_cast<uint64_t>(std::min(a, b));
    const uint64_t high = static_cast<uint64_t>(std::max(a, b));
    if (this->Uses[(high << 32) | low]++ == 0)
    {
      this->Order.push_back((high << 32) | low);
    }
  }

  void Polygon(vtkIdType size, const vtkIdType* ids)
  {
    for (vtkIdType k = 0; k < size; ++k)
    {
      this->Add(ids[k], ids[(k + 1) % size]);
    }
  }

  void Strip(vtkIdType size, const vtkIdType* ids)
  {
    for (vtkIdType k = 0; k + 2 < size; ++k)
    {
      const vtkIdType triangle[3] = { ids[k], ids[k + 1], ids[k + 2] };
      this->Polygon(3, triangle);
    }
  }

  vtkSmartPointer<vtkCellArray> Boundary() const
  {
    auto lines = vtkSmartPointer<vtkCellArray>::New();
    for (uint64_t key : this->Order)
    {
      if (this->Uses.at(key) == 1)
      {
        const vtkIdType ends[2] = { static_cast<vtkIdType>(key & 0xffffffffu),
          static_cast<vtkIdType>(key >> 32) };
        lines->InsertNextCell(2, ends);
      }
    }
    return lines;
  }

private:
  std::unordered_map<uint64_t, int> Uses;
  std::vector<uint64_t> Order; // first use, so that the outline is the same every run
};

bool TouchesMoved(const std::vector<bool>& moved, vtkIdType size, const vtkIdType* ids)
{
  for (vtkIdType k = 0; k < size; ++k)
  {
    const vtkIdType id = ids[k];
    if (id >= 0 && static_cast<size_t>(id) < moved.size() && moved[static_cast<size_t>(id)])
    {
      return true;
    }
  }
  return false;
}

template <typename AddCell>
void ForMovedCells(vtkCellArray* cells, const std::vector<bool>& moved, AddCell add)
{
  if (cells == nullptr)
  {
    return;
  }
  auto it = vtk::TakeSmartPointer(cells->NewIterator());
  for (it->GoToFirstCell(); !it->IsDoneWithTraversal(); it->GoToNextCell())
  {
    vtkIdType size = 0;
    const vtkIdType* ids = nullptr;
    it->GetCurrentCell(size, ids);
    if (TouchesMoved(moved, size, ids))
    {
      add(size, ids);
    }
  }
}
} // namespace

bool FiniteBounds(vtkPolyData* data, double bounds[6])
{
  double low[3] = { HUGE_VAL, HUGE_VAL, HUGE_VAL };
  double high[3] = { -HUGE_VAL, -HUGE_VAL, -HUGE_VAL };
  const vtkIdType count = data->GetNumberOfPoints();
  for (vtkIdType i = 0; i < count; ++i)
  {
    double p[3];
    data->GetPoint(i, p);
    for (int c = 0; c < 3; ++c)
    {
      if (std::isfinite(p[c]))
      {
        low[c] = std::min(low[c], p[c]);
        high[c] = std::max(high[c], p[c]);
      }
    }
  }
  for (int c = 0; c < 3; ++c)
  {
    if (!(low[c] <= high[c]))
    {
      return false;
    }
  }
  for (int c = 0; c < 3; ++c)
  {
    bounds[2 * c] = low[c];
    bounds[2 * c + 1] = high[c];
  }
  return true;
}

bool KeptHeightRange(vtkPolyData* data, vtkIdList* excluded, double range[2])
{
  const vtkIdType count = data->GetNumberOfPoints();
  std::vector<bool> skip(static_cast<size_t>(count), false);
  for (vtkIdType k = 0; excluded && k < excluded->GetNumberOfIds(); ++k)
  {
    const vtkIdType id = excluded->GetId(k);
    if (id >= 0 && id < count)
    {
      skip[static_cast<size_t>(id)] = true;
    }
  }
  double low = HUGE_VAL;
  double high = -HUGE_VAL;
  for (vtkIdType i = 0; i < count; ++i)
  {
    double p[3];
    data->GetPoint(i, p);
    if (!skip[static_cast<size_t>(i)] && std::isfinite(p[2]))
    {
      low = std::min(low, p[2]);
      high = std::max(high, p[2]);
    }
  }
  if (!(low <= high))
  {
    return false;
  }
  range[0] = low;
  range[1] = high;
  return true;
}

double VerticalExaggeration(const double bounds[6])
{
  const double horizontal = std::max(bounds[1] - bounds[0], bounds[3] - bounds[2]);
  const double vertical = bounds[5] - bounds[4];
  if (!(horizontal > 0.0 && vertical > 0.0))
  {
    return 1.0;
  }
  const double factor = ReliefFraction * horizontal / vertical;
  return std::isfinite(factor) && factor > 0.0 ? factor : 1.0;
}

vtkSmartPointer<vtkLookupTable> HeightColours(const double range[2])
{
  auto table = vtkSmartPointer<vtkLookupTable>::New();
  const int size = 256;
  table->SetNumberOfTableValues(size);
  for (int i = 0; i < size; ++i)
  {
    const double t = 8.0 * i / (size - 1);
    const int k = std::min(static_cast<int>(t), 7);
    const double f = t - k;
    double rgb[3];
    for (int c = 0; c < 3; ++c)
    {
      rgb[c] = (1.0 - f) * Viridis[k][c] + f * Viridis[k + 1][c];
    }
    table->SetTableValue(i, rgb[0], rgb[1], rgb[2], 1.0);
  }
  double low = range[0];
  double high = range[1];
  if (!(high > low))
  {
    low -= 0.5;
    high += 0.5;
  }
  table->SetTableRange(low, high);
  table->SetNanColor(0.6, 0.6, 0.6, 1.0);
  table->UseBelowRangeColorOff();
  table->UseAboveRangeColorOff();
  return table;
}

vtkSmartPointer<vtkPolyData> MovedCellsOutline(vtkPolyData* source, vtkPolyData* result)
{
  const std::vector<bool> moved = MovedPoints(source, result);
  EdgeCounter edges;
  ForMovedCells(result->GetPolys(), moved,
    [&](vtkIdType size, const vtkIdType* ids) { edges.Polygon(size, ids); });
  ForMovedCells(result->GetStrips(), moved,
    [&](vtkIdType size, const vtkIdType* ids) { edges.Strip(size, ids); });

  auto outline = vtkSmartPointer<vtkPolyData>::New();
  outline->SetPoints(result->GetPoints());
  outline->SetLines(edges.Boundary());
  return outline;
}
