#include "CostEstimate.h"
#include "EnvelopeCholesky.h"

#include <vtkPoints.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <sstream>
#include <unordered_map>
#include <vector>

namespace
{
// Cells per radius along each axis: a point's neighbours lie in the block of
// (2 * CellsPerRadius + 1)^2 cells around its own.
constexpr int CellsPerRadius = 2;

// Bytes per equation besides the envelope: diagonal, row starts, the
// polynomial columns and their solutions, the ordering, the right-hand side,
// the points and the locator.
constexpr double BytesPerPoint = 128.0;

// The rows of a cell reach back to the first point of the earliest cell in
// reach, which lies before the earliest neighbour itself: the plain count
// came out 1.15 to 1.5 times the stored envelope over rings, strips, patches
// and whole grids, so it is scaled by this factor.
constexpr double EnvelopeShare = 0.75;

// The nominal rate of FactorSeconds: multiply-adds per second of the
// envelope factorisation as first measured on envelopes of 10^7 to 10^8
// entries. The radius chooser's trial budget is counted in these units;
// what a run is expected to take on this machine is
// ExpectedFactorSeconds().
constexpr double FactorRate = 2.0e9;

// Fewer multiply-adds per second than the factorisation has done on any
// machine it was measured on (its first, scalar kernels did FactorRate): a
// factorisation that would take less than the threshold even at this rate is
// surely short, and nothing is timed for it.
constexpr double SlowestFactorRate = FactorRate;

// Order of the dense system whose factorisation is timed, and the share of
// its rate that large envelopes keep (their finished rows come from the
// second- and third-level caches and from memory): 0.73 to 1.05 measured on
// envelopes of 2 to 3 * 10^8 entries, so the lower end, lest a long run go
// unannounced.
constexpr int TimedOrder = 1024;
constexpr double LargeEnvelopeShare = 0.7;

// The nonempty cells of the grid: their coordinates, point counts and a way
// to find a cell from its coordinates.
class CellGrid
{
public:
  CellGrid(vtkPoints* points, double cellSize)
  {
    const vtkIdType n = points->GetNumberOfPoints();
    double lo[2] = { std::numeric_limits<double>::max(), std::numeric_limits<double>::max() };
    double hi[2] = { -lo[0], -lo[1] };
    for (vtkIdType i = 0; i < n; ++i)
    {
      const double* p = points->GetPoint(i);
      for (int a = 0; a < 2; ++a)
      {
        lo[a] = std::min(lo[a], p[a]);
        hi[a] = std::max(hi[a], p[a]);
      }
    }
    for (int a = 0; a < 2; ++a)
    {
      this->Origin[a] = lo[a];
      const double span = n > 0 ? (hi[a] - lo[a]) / cellSize : 0.0;
      this->Size[a] = static_cast<std::int64_t>(std::min(span, 1.0e9)) + 1;
    }
    this->InverseCell = 1.0 / cellSize;
    const double cells = static_cast<double>(this->Size[0]) * static_cast<double>(this->Size[1]);
    this->Dense = cells <= 4.0 * static_cast<double>(n) + 4096.0;
    if (this->Dense)
    {
      this->DenseIndex.assign(static_cast<size_t>(cells), -1);
    }

    this->CellOf.resize(static_cast<size_t>(n));
    for (vtkIdType i = 0; i < n; ++i)
    {
      const double* p = points->GetPoint(i);
      const std::int64_t cx = this->Coordinate(p[0], 0);
      const std::int64_t cy = this->Coordinate(p[1], 1);
      int c = this->Find(cx, cy);
      if (c < 0)
      {
        c = static_cast<int>(this->Count.size());
        this->Count.push_back(0);
        this->X.push_back(cx);
        this->Y.push_back(cy);
        if (this->Dense)
        {
          this->DenseIndex[static_cast<size_t>(cx * this->Size[1] + cy)] = c;
        }
        else
        {
          this->SparseIndex.emplace(cx * this->Size[1] + cy, c);
        }
      }
      ++this->Count[static_cast<size_t>(c)];
      this->CellOf[static_cast<size_t>(i)] = c;
    }
  }

  int Cells() const { return static_cast<int>(this->Count.size()); }

  /// Calls visit(d) for every nonempty cell d within reach of cell c, c included.
  template <typename Visit>
  void ForNeighbours(int c, Visit visit) const
  {
    const std::int64_t cx = this->X[static_cast<size_t>(c)];
    const std::int64_t cy = this->Y[static_cast<size_t>(c)];
    for (std::int64_t dx = -CellsPerRadius; dx <= CellsPerRadius; ++dx)
    {
      for (std::int64_t dy = -CellsPerRadius; dy <= CellsPerRadius; ++dy)
      {
        const int d = this->Find(cx + dx, cy + dy);
        if (d >= 0)
        {
          visit(d);
        }
      }
    }
  }

  std::vector<double> Count; // points per cell
  std::vector<int> CellOf;   // cell of each point

private:
  std::int64_t Coordinate(double v, int axis) const
  {
    const double c = std::floor((v - this->Origin[axis]) * this->InverseCell);
    return std::min(std::max(static_cast<std::int64_t>(c), std::int64_t{ 0 }), this->Size[axis] - 1);
  }

  int Find(std::int64_t cx, std::int64_t cy) const
  {
    if (cx < 0 || cy < 0 || cx >= this->Size[0] || cy >= this->Size[1])
    {
      return -1;
    }
    const std::int64_t key = cx * this->Size[1] + cy;
    if (this->Dense)
    {
      return this->DenseIndex[static_cast<size_t>(key)];
    }
    const auto found = this->SparseIndex.find(key);
    return found == this->SparseIndex.end() ? -1 : found->second;
  }

  double Origin[2];
  double InverseCell;
  std::int64_t Size[2];
  bool Dense;
  std::vector<int> DenseIndex;
  std::unordered_map<std::int64_t, int> SparseIndex;
  std::vector<std::int64_t> X;
  std::vector<std::int64_t> Y;
};

// The cells in breadth-first order over the cells within reach of each
// other; each further component starts at the cell of the lowest point not
// yet reached, as the ordering of the points does.
std::vector<int> BreadthFirstCells(const CellGrid& grid)
{
  std::vector<int> order;
  order.reserve(static_cast<size_t>(grid.Cells()));
  std::vector<char> placed(static_cast<size_t>(grid.Cells()), 0);
  for (const int start : grid.CellOf)
  {
    if (placed[static_cast<size_t>(start)])
    {
      continue;
    }
    placed[static_cast<size_t>(start)] = 1;
    size_t head = order.size();
    order.push_back(start);
    for (; head < order.size(); ++head)
    {
      grid.ForNeighbours(order[head], [&](int d) {
        if (!placed[static_cast<size_t>(d)])
        {
          placed[static_cast<size_t>(d)] = 1;
          order.push_back(d);
        }
      });
    }
  }
  return order;
}

// Bytes and addressable entries: does the estimate fit?
bool Fits(const CostEstimate& cost, double memory)
{
  return cost.EnvelopeEntries <= static_cast<double>(EnvelopeEntryLimit) && cost.Bytes <= memory;
}

std::string FormatNumber(double value)
{
  std::ostringstream text;
  text << value;
  return text.str();
}
} // namespace

//------------------------------------------------------------------------------
CostEstimate EstimateCost(vtkPoints* points, double radius)
{
  CostEstimate cost;
  const vtkIdType n = points ? points->GetNumberOfPoints() : 0;
  cost.Points = static_cast<double>(n);
  if (n == 0 || !(radius > 0.0))
  {
    cost.Bytes = BytesPerPoint * cost.Points;
    return cost;
  }
  const CellGrid grid(points, radius / CellsPerRadius);
  const std::vector<int> order = BreadthFirstCells(grid);

  // First position of each cell's points in the numbering.
  std::vector<double> start(static_cast<size_t>(grid.Cells()));
  double position = 0.0;
  for (const int c : order)
  {
    start[static_cast<size_t>(c)] = position;
    position += grid.Count[static_cast<size_t>(c)];
  }

  // Area of the disc of radius R over the area of the block of cells around
  // a point's cell: the share of the block's points that are neighbours.
  const double block = 2.0 * CellsPerRadius + 1.0;
  const double discShare = 3.14159265358979 * CellsPerRadius * CellsPerRadius / (block * block);
  double pairs = 0.0;
  for (int c = 0; c < grid.Cells(); ++c)
  {
    const double count = grid.Count[static_cast<size_t>(c)];
    double first = start[static_cast<size_t>(c)];
    double around = 0.0;
    grid.ForNeighbours(c, [&](int d) {
      first = std::min(first, start[static_cast<size_t>(d)]);
      around += grid.Count[static_cast<size_t>(d)];
    });
    pairs += count * around * discShare;
    // The cell's rows reach back to the first point of the earliest cell in
    // reach: lengths back, back + 1, ..., back + count - 1.
    const double back = start[static_cast<size_t>(c)] - first;
    cost.EnvelopeEntries += EnvelopeShare * (count * back + count * (count - 1.0) / 2.0);
    const double last = back + count - 1.0;
    const double squares = (last * (last + 1.0) * (2.0 * last + 1.0) -
                             (back - 1.0) * back * (2.0 * back - 1.0)) / 6.0;
    cost.FactorOperations += EnvelopeShare * EnvelopeShare * squares / 2.0;
  }
  cost.MeanNeighbours = std::max(0.0, pairs / cost.Points - 1.0);
  cost.Bytes = 4.0 * cost.EnvelopeEntries + BytesPerPoint * cost.Points;
  cost.FactorSeconds = cost.FactorOperations / FactorRate;
  return cost;
}

//------------------------------------------------------------------------------
double MeasuredFactorRate()
{
  static const double rate = [] {
    // A dense, diagonally dominant system: every row full up to the
    // diagonal, entries of at most 0.5 against a diagonal of the order.
    const int n = TimedOrder;
    std::vector<int> xenv(static_cast<size_t>(n) + 1);
    xenv[0] = 1;
    double operations = 0.0;
    for (int i = 0; i < n; ++i)
    {
      xenv[static_cast<size_t>(i) + 1] = xenv[static_cast<size_t>(i)] + i;
      operations += 0.5 * static_cast<double>(i) * i;
    }
    std::vector<float> a(static_cast<size_t>(xenv[static_cast<size_t>(n)]) - 1);
    for (size_t k = 0; k < a.size(); ++k)
    {
      a[k] = 0.5f * static_cast<float>((k * 2654435761u) % 1000) / 1000.0f;
    }
    double best = std::numeric_limits<double>::infinity();
    for (int run = 0; run < 3; ++run) // the first also faults the pages in
    {
      std::vector<float> env = a;
      std::vector<float> diag(static_cast<size_t>(n), static_cast<float>(n));
      int flag = 0;
      const auto start = std::chrono::steady_clock::now();
      factor_envelope(n, xenv.data(), env.data(), diag.data(), &flag);
      best = std::min(best,
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return operations / std::max(best, 1e-9);
  }();
  return rate;
}

double ExpectedFactorSeconds(const CostEstimate& cost, double threshold)
{
  if (cost.FactorOperations < threshold * SlowestFactorRate)
  {
    return 0.0;
  }
  return cost.FactorOperations / (LargeEnvelopeShare * MeasuredFactorRate());
}

double AvailableMemory()
{
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGE_SIZE);
  double memory = pages > 0 && pageSize > 0 ? static_cast<double>(pages) * pageSize : 1.0e18;
  for (const int resource : { RLIMIT_AS, RLIMIT_DATA })
  {
    struct rlimit limit;
    if (getrlimit(resource, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
    {
      memory = std::min(memory, static_cast<double>(limit.rlim_cur));
    }
  }
  return 0.8 * memory;
}

//------------------------------------------------------------------------------
double LargestAffordableRadius(vtkPoints* points, double upTo, double memory)
{
  if (Fits(EstimateCost(points, upTo), memory))
  {
    return upTo;
  }
  // Without a single neighbour pair the system still needs its per-point
  // arrays.
  CostEstimate bare;
  bare.Points = points ? static_cast<double>(points->GetNumberOfPoints()) : 0.0;
  bare.Bytes = BytesPerPoint * bare.Points;
  if (!Fits(bare, memory))
  {
    return 0.0;
  }
  // The cost grows with the radius: bisect on its logarithm between a radius
  // that fits and one that does not.
  double lo = upTo;
  for (int step = 0; step < 40 && !Fits(EstimateCost(points, lo), memory); ++step)
  {
    lo /= 4.0;
  }
  if (!Fits(EstimateCost(points, lo), memory))
  {
    return 0.0;
  }
  double hi = lo * 4.0 < upTo ? lo * 4.0 : upTo;
  while (hi / lo > 1.01)
  {
    const double mid = std::sqrt(lo * hi);
    (Fits(EstimateCost(points, mid), memory) ? lo : hi) = mid;
  }
  return lo;
}

//------------------------------------------------------------------------------
std::string CostRefusal(vtkPoints* points, double radius, double memory)
{
  return CostRefusal(EstimateCost(points, radius), points, radius, memory);
}

//------------------------------------------------------------------------------
std::string CostRefusal(
  const CostEstimate& cost, vtkPoints* points, double radius, double memory)
{
  if (Fits(cost, memory))
  {
    return std::string();
  }
  std::ostringstream message;
  message << "Radius " << radius << " is too large for " << cost.Points
          << " spline points: the system would need about " << FormatBytes(cost.Bytes) << " ("
          << FormatNumber(cost.EnvelopeEntries) << " envelope entries), ";
  if (cost.EnvelopeEntries > static_cast<double>(EnvelopeEntryLimit))
  {
    message << "more than the " << EnvelopeEntryLimit
            << " entries the solver can address";
  }
  else
  {
    message << "more than the " << FormatBytes(memory) << " this machine can give";
  }
  const double largest = LargestAffordableRadius(points, radius, memory);
  if (largest > 0.0)
  {
    // Three digits, rounded down so that the radius named does fit.
    const double scale = std::pow(10.0, std::floor(std::log10(largest)) - 2.0);
    message << "; the largest radius that fits is about " << std::floor(largest / scale) * scale;
  }
  else
  {
    message << "; no radius fits: reduce the outside list";
  }
  return message.str();
}

//------------------------------------------------------------------------------
std::string FormatBytes(double bytes)
{
  char text[32];
  if (bytes >= 1073741824.0)
  {
    snprintf(text, sizeof(text), "%.1f GiB", bytes / 1073741824.0);
  }
  else if (bytes >= 1048576.0)
  {
    snprintf(text, sizeof(text), "%.1f MiB", bytes / 1048576.0);
  }
  else
  {
    snprintf(text, sizeof(text), "%.0f KiB", std::ceil(bytes / 1024.0));
  }
  return text;
}
