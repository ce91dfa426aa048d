#include "VoidFill.h"

#include "MeshHoles.h"

#include <vtkCellArray.h>
#include <vtkDoubleArray.h>
#include <vtkFloatArray.h>
#include <vtkIdList.h>
#include <vtkNew.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>

#include <algorithm>
#include <cmath>

// The points' coordinates straight from their array (float or double; other
// types are turned into double first), the edges, and a uniform grid of
// buckets over x and y that finds the vertices of a window.
struct MeshField::Internals
{
  explicit Internals(vtkPolyData* model)
    : Model(model)
    , Edges(model)
  {
  }

  vtkPolyData* Model;
  MeshAdjacency Edges;
  float* Floats = nullptr;
  double* Doubles = nullptr;
  // Buckets: Columns x Rows squares of side Size from (X0, Y0); the ids of
  // bucket k are Sorted[Starts[k] .. Starts[k + 1]).
  double X0 = 0.0, Y0 = 0.0, Size = 1.0;
  int Columns = 1, Rows = 1;
  std::vector<vtkIdType> Starts;
  std::vector<vtkIdType> Sorted;

  double Coordinate(vtkIdType v, int axis) const
  {
    return this->Floats ? static_cast<double>(this->Floats[3 * v + axis]) : this->Doubles[3 * v + axis];
  }

  int Column(double x) const
  {
    return std::clamp(static_cast<int>(std::floor((x - this->X0) / this->Size)), 0, this->Columns - 1);
  }
  int Row(double y) const
  {
    return std::clamp(static_cast<int>(std::floor((y - this->Y0) / this->Size)), 0, this->Rows - 1);
  }

  void BuildBuckets();
};

// About four vertices a bucket; the ids of each bucket in ascending order.
void MeshField::Internals::BuildBuckets()
{
  const vtkIdType n = this->Model->GetNumberOfPoints();
  double b[6];
  this->Model->GetPoints()->GetBounds(b);
  const double width = std::max(b[1] - b[0], 1e-300);
  const double height = std::max(b[3] - b[2], 1e-300);
  this->X0 = b[0];
  this->Y0 = b[2];
  this->Size = std::sqrt(width * height * 4.0 / std::max<vtkIdType>(n, 1));
  this->Size = std::max({ this->Size, width / 65536.0, height / 65536.0 });
  this->Columns = static_cast<int>(width / this->Size) + 1;
  this->Rows = static_cast<int>(height / this->Size) + 1;
  const size_t buckets = static_cast<size_t>(this->Columns) * static_cast<size_t>(this->Rows);
  this->Starts.assign(buckets + 1, 0);
  std::vector<vtkIdType> bucketOf(static_cast<size_t>(n));
  for (vtkIdType v = 0; v < n; ++v)
  {
    const vtkIdType k = static_cast<vtkIdType>(this->Row(this->Coordinate(v, 1))) * this->Columns +
      this->Column(this->Coordinate(v, 0));
    bucketOf[static_cast<size_t>(v)] = k;
    ++this->Starts[static_cast<size_t>(k) + 1];
  }
  for (size_t k = 0; k < buckets; ++k)
  {
    this->Starts[k + 1] += this->Starts[k];
  }
  this->Sorted.resize(static_cast<size_t>(n));
  std::vector<vtkIdType> next(this->Starts.begin(), this->Starts.end() - 1);
  for (vtkIdType v = 0; v < n; ++v)
  {
    this->Sorted[static_cast<size_t>(next[static_cast<size_t>(bucketOf[static_cast<size_t>(v)])]++)] = v;
  }
}

MeshField::MeshField(vtkPolyData* model)
  : Internal(nullptr)
{
  vtkPoints* points = model->GetPoints();
  if (points->GetDataType() != VTK_FLOAT && points->GetDataType() != VTK_DOUBLE)
  {
    points->SetDataTypeToDouble(); // keeps the values
  }
  this->Internal = new Internals(model);
  if (auto* floats = vtkFloatArray::FastDownCast(points->GetData()))
  {
    this->Internal->Floats = floats->GetPointer(0);
  }
  else
  {
    this->Internal->Doubles = vtkDoubleArray::FastDownCast(points->GetData())->GetPointer(0);
  }
  this->Internal->BuildBuckets();
}

MeshField::~MeshField()
{
  this->Internal->Model->GetPoints()->Modified();
  delete this->Internal;
}

vtkIdType MeshField::GetNumberOfVertices() const
{
  return this->Internal->Model->GetNumberOfPoints();
}

void MeshField::GetPoint(vtkIdType v, vtkIdType origin, double p[3]) const
{
  p[0] = this->Internal->Coordinate(v, 0) - this->Internal->Coordinate(origin, 0);
  p[1] = this->Internal->Coordinate(v, 1) - this->Internal->Coordinate(origin, 1);
  p[2] = this->Internal->Coordinate(v, 2);
}

void MeshField::SetHeight(vtkIdType v, double z)
{
  if (this->Internal->Floats)
  {
    this->Internal->Floats[3 * v + 2] = static_cast<float>(z);
  }
  else
  {
    this->Internal->Doubles[3 * v + 2] = z;
  }
}

void MeshField::AppendNeighbours(vtkIdType v, std::vector<vtkIdType>& out) const
{
  const MeshAdjacency& edges = this->Internal->Edges;
  out.insert(out.end(), edges.Begin(v), edges.End(v));
}

bool MeshField::OnBorder(vtkIdType v) const
{
  return this->Internal->Edges.OnBorder(v);
}

// Every vertex whose x and y lie in the widened box of ids.
void MeshField::Window(
  const std::vector<vtkIdType>& ids, double margin, std::vector<vtkIdType>& window) const
{
  window.clear();
  if (ids.empty())
  {
    return;
  }
  const Internals& in = *this->Internal;
  double box[4] = { HUGE_VAL, -HUGE_VAL, HUGE_VAL, -HUGE_VAL };
  for (vtkIdType v : ids)
  {
    box[0] = std::min(box[0], in.Coordinate(v, 0));
    box[1] = std::max(box[1], in.Coordinate(v, 0));
    box[2] = std::min(box[2], in.Coordinate(v, 1));
    box[3] = std::max(box[3], in.Coordinate(v, 1));
  }
  const double widen = margin * std::max(box[1] - box[0], box[3] - box[2]);
  box[0] -= widen;
  box[1] += widen;
  box[2] -= widen;
  box[3] += widen;
  for (int r = in.Row(box[2]); r <= in.Row(box[3]); ++r)
  {
    for (int c = in.Column(box[0]); c <= in.Column(box[1]); ++c)
    {
      const size_t k = static_cast<size_t>(r) * static_cast<size_t>(in.Columns) + static_cast<size_t>(c);
      for (vtkIdType s = in.Starts[k]; s < in.Starts[k + 1]; ++s)
      {
        const vtkIdType v = in.Sorted[static_cast<size_t>(s)];
        const double x = in.Coordinate(v, 0);
        const double y = in.Coordinate(v, 1);
        if (x >= box[0] && x <= box[1] && y >= box[2] && y <= box[3])
        {
          window.push_back(v);
        }
      }
    }
  }
  std::sort(window.begin(), window.end());
}

// The polygons and strips of the model whose vertices all lie in the window.
void MeshField::WindowCells(const std::vector<vtkIdType>& window, vtkPolyData* model) const
{
  vtkPolyData* source = this->Internal->Model;
  auto local = [&window](vtkIdType v) {
    const auto at = std::lower_bound(window.begin(), window.end(), v);
    return at != window.end() && *at == v ? static_cast<vtkIdType>(at - window.begin()) : -1;
  };
  auto keep = [&local](vtkCellArray* cells) {
    vtkNew<vtkCellArray> kept;
    vtkNew<vtkIdList> ids;
    for (vtkIdType c = 0; cells && c < cells->GetNumberOfCells(); ++c)
    {
      cells->GetCellAtId(c, ids);
      bool inside = ids->GetNumberOfIds() > 0;
      for (vtkIdType k = 0; inside && k < ids->GetNumberOfIds(); ++k)
      {
        const vtkIdType v = local(ids->GetId(k));
        inside = v >= 0;
        ids->SetId(k, v);
      }
      if (inside)
      {
        kept->InsertNextCell(ids);
      }
    }
    return kept;
  };
  model->SetPolys(keep(source->GetPolys()));
  model->SetStrips(keep(source->GetStrips()));
}
