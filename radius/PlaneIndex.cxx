#include "PlaneIndex.h"

#include <algorithm>
#include <cmath>
#include <limits>

//------------------------------------------------------------------------------
PlaneIndex::PlaneIndex(const PlanePoints& points)
  : Points(points)
{
  const size_t n = points.size();
  if (n == 0)
  {
    this->Start.assign(2, 0);
    return;
  }
  double hi[2] = { points[0][0], points[0][1] };
  this->Origin[0] = hi[0];
  this->Origin[1] = hi[1];
  for (const auto& p : points)
  {
    for (int a = 0; a < 2; ++a)
    {
      this->Origin[a] = std::min(this->Origin[a], p[a]);
      hi[a] = std::max(hi[a], p[a]);
    }
  }
  // About two points per cell for points spread over their bounding box.
  const double w = std::max(hi[0] - this->Origin[0], 1e-9);
  const double h = std::max(hi[1] - this->Origin[1], 1e-9);
  this->Cell = std::max(std::sqrt(2.0 * w * h / static_cast<double>(n)), 1e-9);
  for (int a = 0; a < 2; ++a)
  {
    const double span = (a == 0 ? w : h) / this->Cell;
    this->Size[a] = static_cast<int>(std::min(span, 4096.0)) + 1;
  }
  this->Cell = std::max(w / (this->Size[0] - 0.5), h / (this->Size[1] - 0.5));

  const size_t cells = static_cast<size_t>(this->Size[0]) * this->Size[1];
  this->Start.assign(cells + 1, 0);
  std::vector<int> cellOf(n);
  for (size_t i = 0; i < n; ++i)
  {
    const int c = this->CellIndex(points[i][0], 0) * this->Size[1] + this->CellIndex(points[i][1], 1);
    cellOf[i] = c;
    ++this->Start[static_cast<size_t>(c) + 1];
  }
  for (size_t c = 0; c < cells; ++c)
  {
    this->Start[c + 1] += this->Start[c];
  }
  this->Ids.resize(n);
  std::vector<int> next(this->Start.begin(), this->Start.end() - 1);
  for (size_t i = 0; i < n; ++i)
  {
    this->Ids[static_cast<size_t>(next[static_cast<size_t>(cellOf[i])]++)] = static_cast<int>(i);
  }
}

//------------------------------------------------------------------------------
int PlaneIndex::CellIndex(double v, int axis) const
{
  const int c = static_cast<int>(std::floor((v - this->Origin[axis]) / this->Cell));
  return std::min(std::max(c, 0), this->Size[axis] - 1);
}

//------------------------------------------------------------------------------
int PlaneIndex::Nearest(const std::array<double, 2>& q, double* distance, int skip) const
{
  int best = -1;
  double best2 = std::numeric_limits<double>::max();
  const int cx = this->CellIndex(q[0], 0);
  const int cy = this->CellIndex(q[1], 1);
  const int rings = std::max(this->Size[0], this->Size[1]);
  for (int ring = 0; ring <= rings; ++ring)
  {
    // Every point of a ring further out is at least (ring - 1) cells away.
    if (best >= 0 && ring > 0)
    {
      const double reach = (ring - 1) * this->Cell;
      if (reach * reach > best2)
      {
        break;
      }
    }
    for (int x = cx - ring; x <= cx + ring; ++x)
    {
      if (x < 0 || x >= this->Size[0])
      {
        continue;
      }
      const bool edge = x == cx - ring || x == cx + ring;
      for (int y = cy - ring; y <= cy + ring; y += (edge || ring == 0) ? 1 : 2 * ring)
      {
        if (y < 0 || y >= this->Size[1])
        {
          continue;
        }
        const size_t c = static_cast<size_t>(x) * this->Size[1] + y;
        for (int k = this->Start[c]; k < this->Start[c + 1]; ++k)
        {
          const int i = this->Ids[static_cast<size_t>(k)];
          if (i == skip)
          {
            continue;
          }
          const double dx = this->Points[static_cast<size_t>(i)][0] - q[0];
          const double dy = this->Points[static_cast<size_t>(i)][1] - q[1];
          const double d2 = dx * dx + dy * dy;
          if (d2 < best2)
          {
            best2 = d2;
            best = i;
          }
        }
      }
    }
  }
  if (distance)
  {
    *distance = best >= 0 ? std::sqrt(best2) : 0.0;
  }
  return best;
}

//------------------------------------------------------------------------------
void PlaneIndex::Within(const std::array<double, 2>& q, double r, std::vector<int>& found) const
{
  if (this->Points.empty())
  {
    return;
  }
  const int x0 = this->CellIndex(q[0] - r, 0), x1 = this->CellIndex(q[0] + r, 0);
  const int y0 = this->CellIndex(q[1] - r, 1), y1 = this->CellIndex(q[1] + r, 1);
  const double r2 = r * r;
  for (int x = x0; x <= x1; ++x)
  {
    for (int y = y0; y <= y1; ++y)
    {
      const size_t c = static_cast<size_t>(x) * this->Size[1] + y;
      for (int k = this->Start[c]; k < this->Start[c + 1]; ++k)
      {
        const int i = this->Ids[static_cast<size_t>(k)];
        const double dx = this->Points[static_cast<size_t>(i)][0] - q[0];
        const double dy = this->Points[static_cast<size_t>(i)][1] - q[1];
        if (dx * dx + dy * dy <= r2)
        {
          found.push_back(i);
        }
      }
    }
  }
}
