#include "VoidFill.h"

#include <vtkCellArray.h>
#include <vtkNew.h>
#include <vtkPolyData.h>

#include <algorithm>
#include <cmath>

GridField::GridField(double* heights, int width, int height, const double geo[6], int column0,
  int row0, int fullWidth, int fullHeight)
  : Heights(heights)
  , Width(width)
  , Height(height)
  , Column0(column0)
  , Row0(row0)
  , FullWidth(fullWidth > 0 ? fullWidth : column0 + width)
  , FullHeight(fullHeight > 0 ? fullHeight : row0 + height)
{
  std::copy(geo, geo + 6, this->Geo);
}

vtkIdType GridField::GetNumberOfVertices() const
{
  return static_cast<vtkIdType>(this->Width) * this->Height;
}

// Cell centres relative to the origin's: the column and row differences are
// whole numbers, so the offsets are exact products, whatever the raster's
// position on the earth.
void GridField::GetPoint(vtkIdType v, vtkIdType origin, double p[3]) const
{
  const double dc = static_cast<double>(v % this->Width - origin % this->Width);
  const double dr = static_cast<double>(v / this->Width - origin / this->Width);
  p[0] = dc * this->Geo[1] + dr * this->Geo[2];
  p[1] = dc * this->Geo[4] + dr * this->Geo[5];
  p[2] = this->Heights[v];
}

void GridField::AppendNeighbours(vtkIdType v, std::vector<vtkIdType>& out) const
{
  const int c = static_cast<int>(v % this->Width);
  const int r = static_cast<int>(v / this->Width);
  for (int dr = -1; dr <= 1; ++dr)
  {
    for (int dc = -1; dc <= 1; ++dc)
    {
      const int cc = c + dc;
      const int rr = r + dr;
      if ((dc != 0 || dr != 0) && cc >= 0 && cc < this->Width && rr >= 0 && rr < this->Height)
      {
        out.push_back(static_cast<vtkIdType>(rr) * this->Width + cc);
      }
    }
  }
}

bool GridField::OnBorder(vtkIdType v) const
{
  const int c = this->Column0 + static_cast<int>(v % this->Width);
  const int r = this->Row0 + static_cast<int>(v / this->Width);
  return c == 0 || r == 0 || c == this->FullWidth - 1 || r == this->FullHeight - 1;
}

// The box in the larger raster's columns and rows, widened by
// ceil(margin * larger side) cells, clipped to the larger raster and then to
// the block.
void GridField::Window(
  const std::vector<vtkIdType>& ids, double margin, std::vector<vtkIdType>& window) const
{
  window.clear();
  if (ids.empty())
  {
    return;
  }
  int c0 = this->FullWidth, c1 = -1, r0 = this->FullHeight, r1 = -1;
  for (vtkIdType v : ids)
  {
    const int c = this->Column0 + static_cast<int>(v % this->Width);
    const int r = this->Row0 + static_cast<int>(v / this->Width);
    c0 = std::min(c0, c);
    c1 = std::max(c1, c);
    r0 = std::min(r0, r);
    r1 = std::max(r1, r);
  }
  const int side = std::max(c1 - c0, r1 - r0) + 1;
  const int widen = static_cast<int>(std::ceil(margin * side));
  c0 = std::max({ c0 - widen, 0, this->Column0 }) - this->Column0;
  r0 = std::max({ r0 - widen, 0, this->Row0 }) - this->Row0;
  c1 = std::min({ c1 + widen, this->FullWidth - 1, this->Column0 + this->Width - 1 }) - this->Column0;
  r1 = std::min({ r1 + widen, this->FullHeight - 1, this->Row0 + this->Height - 1 }) - this->Row0;
  window.reserve(static_cast<size_t>(c1 - c0 + 1) * static_cast<size_t>(r1 - r0 + 1));
  for (int r = r0; r <= r1; ++r)
  {
    for (int c = c0; c <= c1; ++c)
    {
      window.push_back(static_cast<vtkIdType>(r) * this->Width + c);
    }
  }
}

// Two triangles for every square of four neighbouring cell centres.
void GridField::WindowCells(const std::vector<vtkIdType>& window, vtkPolyData* model) const
{
  vtkNew<vtkCellArray> polys;
  if (!window.empty())
  {
    const vtkIdType c0 = window.front() % this->Width;
    const vtkIdType columns = window.back() % this->Width - c0 + 1;
    const vtkIdType rows = static_cast<vtkIdType>(window.size()) / columns;
    for (vtkIdType r = 0; r + 1 < rows; ++r)
    {
      for (vtkIdType c = 0; c + 1 < columns; ++c)
      {
        const vtkIdType a = r * columns + c;
        const vtkIdType b = a + 1;
        const vtkIdType d = a + columns;
        const vtkIdType e = d + 1;
        const vtkIdType first[3] = { a, b, e };
        const vtkIdType second[3] = { a, e, d };
        polys->InsertNextCell(3, first);
        polys->InsertNextCell(3, second);
      }
    }
  }
  model->SetPolys(polys);
}
