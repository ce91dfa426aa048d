#include "MeshHoles.h"

#include "NormalisedFrame.h"

#include <vtkCellArray.h>
#include <vtkCellArrayIterator.h>
#include <vtkIdList.h>
#include <vtkNew.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkSmartPointer.h>
#include <vtkStaticPointLocator2D.h>

#include <algorithm>
#include <cmath>

namespace
{
// Calls edge(a, b) for every edge of every polygon and strip triangle of model.
template <typename EdgeFn>
void ForEachEdge(vtkPolyData* model, EdgeFn edge)
{
  vtkCellArray* polys = model->GetPolys();
  if (polys && polys->GetNumberOfCells() > 0)
  {
    auto it = vtk::TakeSmartPointer(polys->NewIterator());
    for (it->GoToFirstCell(); !it->IsDoneWithTraversal(); it->GoToNextCell())
    {
      vtkIdType size = 0;
      const vtkIdType* ids = nullptr;
      it->GetCurrentCell(size, ids);
      for (vtkIdType k = 0; size >= 2 && k < size; ++k)
      {
        edge(ids[k], ids[(k + 1) % size]);
      }
    }
  }
  vtkCellArray* strips = model->GetStrips();
  if (strips && strips->GetNumberOfCells() > 0)
  {
    auto it = vtk::TakeSmartPointer(strips->NewIterator());
    for (it->GoToFirstCell(); !it->IsDoneWithTraversal(); it->GoToNextCell())
    {
      vtkIdType size = 0;
      const vtkIdType* ids = nullptr;
      it->GetCurrentCell(size, ids);
      for (vtkIdType k = 0; k + 2 < size; ++k) // triangle k: ids k, k + 1, k + 2
      {
        edge(ids[k], ids[k + 1]);
        edge(ids[k + 1], ids[k + 2]);
        edge(ids[k + 2], ids[k]);
      }
    }
  }
}

// The normalised frame's x and y of vertex v.
void FramePoint(vtkPoints* points, const double b[6], vtkIdType v, double q[3])
{
  const double* p = points->GetPoint(v);
  q[0] = b[1] > b[0] ? (p[0] - b[0]) / (b[1] - b[0]) : 0.0;
  q[1] = b[3] > b[2] ? (p[1] - b[2]) / (b[3] - b[2]) : 0.0;
  q[2] = 0.0;
}
} // namespace

MeshAdjacency::MeshAdjacency(vtkPolyData* model)
{
  const vtkIdType n = model->GetNumberOfPoints();
  this->Offsets.assign(static_cast<size_t>(n) + 1, 0);
  // Two passes: the degrees, then the neighbours. A collapsed edge (a cell
  // repeating a vertex) joins nothing.
  ForEachEdge(model, [this](vtkIdType a, vtkIdType b) {
    if (a != b)
    {
      ++this->Offsets[static_cast<size_t>(a) + 1];
      ++this->Offsets[static_cast<size_t>(b) + 1];
    }
  });
  for (size_t v = 1; v < this->Offsets.size(); ++v)
  {
    this->Offsets[v] += this->Offsets[v - 1];
  }
  this->Ids.resize(static_cast<size_t>(this->Offsets.back()));
  std::vector<vtkIdType> fill(this->Offsets.begin(), this->Offsets.end() - 1);
  ForEachEdge(model, [this, &fill](vtkIdType a, vtkIdType b) {
    if (a != b)
    {
      this->Ids[static_cast<size_t>(fill[static_cast<size_t>(a)]++)] = static_cast<std::int32_t>(b);
      this->Ids[static_cast<size_t>(fill[static_cast<size_t>(b)]++)] = static_cast<std::int32_t>(a);
    }
  });
}

bool MeshAdjacency::OnBorder(vtkIdType v) const
{
  const std::int32_t* begin = this->Begin(v);
  const std::int32_t* end = this->End(v);
  if (begin == end)
  {
    return true; // in no cell: nothing surrounds it
  }
  // An inner edge is used by two cells; an edge used an odd number of times
  // is (also) a border edge. The lists are short.
  for (const std::int32_t* a = begin; a != end; ++a)
  {
    if (std::count(begin, end, *a) % 2 != 0)
    {
      return true;
    }
  }
  return false;
}

std::vector<Hole> FindHoles(
  vtkPolyData* model, const MeshAdjacency& edges, const std::vector<char>& inside)
{
  vtkPoints* points = model->GetPoints();
  const vtkIdType n = edges.GetNumberOfVertices();
  std::vector<char> seen(static_cast<size_t>(n), 0);
  std::vector<vtkIdType> queue;
  std::vector<Hole> holes;
  for (vtkIdType seed = 0; seed < n; ++seed)
  {
    if (!inside[static_cast<size_t>(seed)] || seen[static_cast<size_t>(seed)])
    {
      continue;
    }
    Hole hole;
    hole.FirstVertex = seed;
    double lo[2] = { HUGE_VAL, HUGE_VAL };
    double hi[2] = { -HUGE_VAL, -HUGE_VAL };
    queue.assign(1, seed);
    seen[static_cast<size_t>(seed)] = 1;
    for (size_t at = 0; at < queue.size(); ++at)
    {
      const vtkIdType v = queue[at];
      const double* p = points->GetPoint(v);
      for (int axis = 0; axis < 2; ++axis)
      {
        lo[axis] = std::min(lo[axis], p[axis]);
        hi[axis] = std::max(hi[axis], p[axis]);
      }
      hole.Border = hole.Border || edges.OnBorder(v);
      for (const std::int32_t* w = edges.Begin(v); w != edges.End(v); ++w)
      {
        if (inside[static_cast<size_t>(*w)] && !seen[static_cast<size_t>(*w)])
        {
          seen[static_cast<size_t>(*w)] = 1;
          queue.push_back(*w);
        }
      }
    }
    hole.Vertices = static_cast<vtkIdType>(queue.size());
    hole.Extent[0] = hi[0] - lo[0];
    hole.Extent[1] = hi[1] - lo[1];
    holes.push_back(hole);
  }
  return holes;
}

std::vector<vtkIdType> RingAround(vtkPolyData* model, const MeshAdjacency& edges,
  const std::vector<char>& inside, int rings)
{
  vtkPoints* points = model->GetPoints();
  const vtkIdType n = edges.GetNumberOfVertices();
  // Breadth-first from every inside vertex at once, ring by ring.
  std::vector<char> reached(inside.begin(), inside.end());
  std::vector<vtkIdType> front;
  for (vtkIdType v = 0; v < n; ++v)
  {
    if (inside[static_cast<size_t>(v)])
    {
      front.push_back(v);
    }
  }
  std::vector<vtkIdType> next;
  for (int ring = 0; ring < rings && !front.empty(); ++ring)
  {
    next.clear();
    for (vtkIdType v : front)
    {
      for (const std::int32_t* w = edges.Begin(v); w != edges.End(v); ++w)
      {
        if (!reached[static_cast<size_t>(*w)])
        {
          reached[static_cast<size_t>(*w)] = 1;
          next.push_back(*w);
        }
      }
    }
    front.swap(next);
  }
  std::vector<vtkIdType> outside;
  for (vtkIdType v = 0; v < n; ++v)
  {
    if (reached[static_cast<size_t>(v)] && !inside[static_cast<size_t>(v)] &&
      std::isfinite(points->GetPoint(v)[2]))
    {
      outside.push_back(v);
    }
  }
  return outside;
}

void MeasureReach(vtkPolyData* model, const MeshAdjacency& edges, const std::vector<char>& inside,
  const std::vector<vtkIdType>& outside, std::vector<Hole>& holes)
{
  vtkPoints* points = model->GetPoints();
  double b[6];
  FrameBounds(points, b);
  // The outside vertices in the plane, once in model units and once in the
  // frame: the nearest one in the frame need not be the nearest in metres.
  vtkNew<vtkPoints> flat;
  vtkNew<vtkPoints> framed;
  for (vtkIdType v : outside)
  {
    const double* p = points->GetPoint(v);
    flat->InsertNextPoint(p[0], p[1], 0.0);
    double q[3];
    FramePoint(points, b, v, q);
    framed->InsertNextPoint(q);
  }
  vtkNew<vtkPolyData> flatSet;
  flatSet->SetPoints(flat);
  vtkNew<vtkPolyData> framedSet;
  framedSet->SetPoints(framed);
  vtkNew<vtkStaticPointLocator2D> flatLocator;
  flatLocator->SetDataSet(flatSet);
  flatLocator->BuildLocator();
  vtkNew<vtkStaticPointLocator2D> framedLocator;
  framedLocator->SetDataSet(framedSet);
  framedLocator->BuildLocator();

  // The holes' vertices again, component by component, as FindHoles met them.
  std::vector<char> seen(static_cast<size_t>(edges.GetNumberOfVertices()), 0);
  std::vector<vtkIdType> queue;
  for (Hole& hole : holes)
  {
    queue.assign(1, hole.FirstVertex);
    seen[static_cast<size_t>(hole.FirstVertex)] = 1;
    for (size_t at = 0; at < queue.size(); ++at)
    {
      const vtkIdType v = queue[at];
      const double* p = points->GetPoint(v);
      const double x[3] = { p[0], p[1], 0.0 };
      double q[3];
      FramePoint(points, b, v, q);
      const double* near = flat->GetPoint(flatLocator->FindClosestPoint(x));
      hole.Reach = std::max(hole.Reach, std::hypot(near[0] - x[0], near[1] - x[1]));
      near = framed->GetPoint(framedLocator->FindClosestPoint(q));
      hole.FrameReach = std::max(hole.FrameReach, std::hypot(near[0] - q[0], near[1] - q[1]));
      for (const std::int32_t* w = edges.Begin(v); w != edges.End(v); ++w)
      {
        if (inside[static_cast<size_t>(*w)] && !seen[static_cast<size_t>(*w)])
        {
          seen[static_cast<size_t>(*w)] = 1;
          queue.push_back(*w);
        }
      }
    }
  }
}
