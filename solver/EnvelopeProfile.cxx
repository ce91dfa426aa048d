#include "EnvelopeProfile.h"
#include "SplineBasis.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>

long long EnvelopeEntryLimit = static_cast<long long>(INT_MAX) - 1;

namespace
{
// Grid cells per point at most (and a few more): a tiny radius widens the
// cells instead of making the grid huge.
constexpr double CellsPerPoint = 4.0;

// Row by row as the window scan does: the reference behaviour.
std::vector<int> ScanWindows(
  const std::vector<float>& position, int n, int window, double radius, double radius2)
{
  std::vector<int> first(static_cast<std::size_t>(n > 0 ? n : 0));
  for (int i = 0; i < n; ++i)
  {
    int j = i - window > 0 ? i - window : 0;
    for (; j < i; ++j)
    {
      if (SplineBasis(&position[3 * static_cast<std::size_t>(j)],
            &position[3 * static_cast<std::size_t>(i)], radius, radius2) != 0.0)
      {
        break;
      }
    }
    first[static_cast<std::size_t>(i)] = j;
  }
  return first;
}

// Columns over x and y of one width: the points of column c are
// Points[Start[c] .. Start[c + 1]), in increasing position.
class ColumnGrid
{
public:
  ColumnGrid(const std::vector<float>& position, int n, double width)
  {
    // Bounds over the finite coordinates; a point with another coordinate
    // has a zero basis value with every point, wherever it is filed.
    double low[2] = { 0.0, 0.0 };
    double high[2] = { 0.0, 0.0 };
    bool seen[2] = { false, false };
    for (int i = 0; i < n; ++i)
    {
      for (int axis = 0; axis < 2; ++axis)
      {
        const double v = position[3 * static_cast<std::size_t>(i) + axis];
        if (std::isfinite(v))
        {
          low[axis] = seen[axis] ? std::min(low[axis], v) : v;
          high[axis] = seen[axis] ? std::max(high[axis], v) : v;
          seen[axis] = true;
        }
      }
    }
    const double budget = CellsPerPoint * n + 64.0;
    for (;;)
    {
      const double count = (std::floor((high[0] - low[0]) / width) + 1.0) *
        (std::floor((high[1] - low[1]) / width) + 1.0);
      if (count <= budget)
      {
        break;
      }
      width *= 2.0;
    }
    for (int axis = 0; axis < 2; ++axis)
    {
      this->Origin[axis] = low[axis];
      this->Inverse[axis] = 1.0 / width;
      this->Cells[axis] = static_cast<int>(std::floor((high[axis] - low[axis]) / width)) + 1;
    }

    const std::size_t cells = static_cast<std::size_t>(this->Cells[0]) * this->Cells[1];
    this->Start.assign(cells + 1, 0);
    this->CellOf.resize(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
    {
      const float* p = &position[3 * static_cast<std::size_t>(i)];
      const int c = this->Index(p[1], 1) * this->Cells[0] + this->Index(p[0], 0);
      this->CellOf[static_cast<std::size_t>(i)] = c;
      ++this->Start[static_cast<std::size_t>(c) + 1];
    }
    for (std::size_t c = 0; c < cells; ++c)
    {
      this->Start[c + 1] += this->Start[c];
    }
    this->Points.resize(static_cast<std::size_t>(n));
    std::vector<int> next(this->Start.begin(), this->Start.end() - 1);
    for (int i = 0; i < n; ++i)
    {
      this->Points[static_cast<std::size_t>(next[static_cast<std::size_t>(
        this->CellOf[static_cast<std::size_t>(i)])]++)] = i;
    }
  }

  int Index(double v, int axis) const
  {
    const double t = std::floor((v - this->Origin[axis]) * this->Inverse[axis]);
    if (!(t > 0.0))
    {
      return 0; // below the grid, or not a number
    }
    return t >= this->Cells[axis] ? this->Cells[axis] - 1 : static_cast<int>(t);
  }

  double Origin[2];
  double Inverse[2];
  int Cells[2];
  std::vector<int> Start;
  std::vector<int> Points;
  std::vector<int> CellOf;
};
} // namespace

std::vector<int> EnvelopeFirstColumns(
  const std::vector<float>& position, int n, int window, double radius, double radius2)
{
  if (!(radius > 0.0) || !std::isfinite(radius) || !(radius2 > 0.0) || !std::isfinite(radius2))
  {
    return ScanWindows(position, n, window, radius, radius2);
  }
  std::vector<int> first(static_cast<std::size_t>(n > 0 ? n : 0));
  // Two points whose basis value is not zero are less than the radius apart
  // along x and along y, so they lie in the same or in neighbouring columns
  // when the columns are a little wider than the radius.
  const ColumnGrid grid(position, n, radius * (1.0 + 1e-6));
  for (int i = 0; i < n; ++i)
  {
    const float* pi = &position[3 * static_cast<std::size_t>(i)];
    const int lo = i - window > 0 ? i - window : 0;
    int best = i;
    const int c = grid.CellOf[static_cast<std::size_t>(i)];
    const int cx = c % grid.Cells[0];
    const int cy = c / grid.Cells[0];
    for (int y = std::max(0, cy - 1); y <= std::min(grid.Cells[1] - 1, cy + 1); ++y)
    {
      for (int x = std::max(0, cx - 1); x <= std::min(grid.Cells[0] - 1, cx + 1); ++x)
      {
        const std::size_t cell = static_cast<std::size_t>(y) * grid.Cells[0] + x;
        // Points of a column in increasing position: the first one that
        // counts ends the column.
        const int* p = grid.Points.data() + grid.Start[cell];
        const int* end = grid.Points.data() + grid.Start[cell + 1];
        for (p = std::lower_bound(p, end, lo); p != end && *p < best; ++p)
        {
          if (SplineBasis(&position[3 * static_cast<std::size_t>(*p)], pi, radius, radius2) != 0.0)
          {
            best = *p;
            break;
          }
        }
      }
    }
    first[static_cast<std::size_t>(i)] = best;
  }
  return first;
}

long long EnvelopeEntries(const std::vector<int>& first)
{
  long long entries = 0;
  for (std::size_t i = 0; i < first.size(); ++i)
  {
    entries += static_cast<long long>(i) - first[i];
  }
  return entries;
}
