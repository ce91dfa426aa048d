#include "NeighbourSearch.h"

#include <vtkIdList.h>
#include <vtkPointLocator.h>
#include <vtkPoints.h>

#include <algorithm>
#include <cmath>
#include <limits>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

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

// Columns per radius: a query filters the points of (2 * 2 + 1)^2 columns of
// half the radius, about twice the points within the radius (three times with
// columns as wide as the radius).
constexpr int ColumnsPerRadius = 2;

// But each point is kept in the list of every column near its own: 25 copies
// with half-radius columns, 9 with columns as wide as the radius. When every
// column has a list and 25 copies would pass this many entries (6 MiB), the
// memory (a page fault for every 4 KiB on first use) and the writes cost more
// than filtering half as many candidates again, and the columns are made as
// wide as the radius: 12 ms instead of 17 to order 40,000 points with 78
// neighbours each, 5.8 instead of 6.6 for 20,000.
constexpr double ManyCopies = 6.0 * 1024 * 1024 / 32;

// Columns are this much wider than their share of the radius, so that the
// reach of a query, a hair longer than the radius, stays within the
// neighbourhood of its own column.
constexpr double ColumnSlack = 1.0 + 1e-6;

#if defined(__x86_64__)
// The candidates begin .. begin + 8 * blocks (four doubles each: x, y, z and
// the bucket and id as two ints), filtered as Filter does, eight at a time
// in AVX-512 registers: the same differences, squares and sums, each rounded
// (the rounding-mode forms are never fused into multiply-adds), the same
// test. Kept ids (and squared distances) are packed at ids[found] (and
// squared[found]); each block stores eight entries there, of which those
// past the kept ones are overwritten later or cut off by the caller, so
// eight entries must be writable past every position the block can start
// at. Returns the new count.
// GCC 12 takes the rounding-mode forms' unused pass-through operand for an
// uninitialised value.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
__attribute__((target("avx512f"))) size_t FilterBlocks(const double x[3], double radius2,
  const double* begin, size_t blocks, bool withDistances, int* ids, double* squared,
  size_t found)
{
  constexpr int exact = _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC;
  const __m512d x0 = _mm512_set1_pd(x[0]);
  const __m512d x1 = _mm512_set1_pd(x[1]);
  const __m512d x2 = _mm512_set1_pd(x[2]);
  const __m512d r2 = _mm512_set1_pd(radius2);
  // Lanes of two loads of four candidates: x and y, then z and the ids.
  const __m512i firstHalf = _mm512_setr_epi64(0, 4, 8, 12, 1, 5, 9, 13);
  const __m512i secondHalf = _mm512_setr_epi64(2, 6, 10, 14, 3, 7, 11, 15);
  const __m512i lower = _mm512_setr_epi64(0, 1, 2, 3, 8, 9, 10, 11);
  const __m512i upper = _mm512_setr_epi64(4, 5, 6, 7, 12, 13, 14, 15);
  for (size_t b = 0; b < blocks; ++b)
  {
    const double* p = begin + 32 * b;
    const __m512d a0 = _mm512_loadu_pd(p);
    const __m512d a1 = _mm512_loadu_pd(p + 8);
    const __m512d a2 = _mm512_loadu_pd(p + 16);
    const __m512d a3 = _mm512_loadu_pd(p + 24);
    const __m512d xy01 = _mm512_permutex2var_pd(a0, firstHalf, a1);
    const __m512d zw01 = _mm512_permutex2var_pd(a0, secondHalf, a1);
    const __m512d xy23 = _mm512_permutex2var_pd(a2, firstHalf, a3);
    const __m512d zw23 = _mm512_permutex2var_pd(a2, secondHalf, a3);
    const __m512d px = _mm512_permutex2var_pd(xy01, lower, xy23);
    const __m512d py = _mm512_permutex2var_pd(xy01, upper, xy23);
    const __m512d pz = _mm512_permutex2var_pd(zw01, lower, zw23);
    const __m512d pw = _mm512_permutex2var_pd(zw01, upper, zw23);
    const __m512d d0 = _mm512_sub_round_pd(x0, px, exact);
    const __m512d d1 = _mm512_sub_round_pd(x1, py, exact);
    const __m512d d2 = _mm512_sub_round_pd(x2, pz, exact);
    const __m512d s01 = _mm512_add_round_pd(
      _mm512_mul_round_pd(d0, d0, exact), _mm512_mul_round_pd(d1, d1, exact), exact);
    const __m512d distance2 = _mm512_add_round_pd(s01, _mm512_mul_round_pd(d2, d2, exact), exact);
    const __mmask8 kept = _mm512_cmp_pd_mask(distance2, r2, _CMP_LE_OQ);
    // The id is the upper int of the fourth double.
    const __m256i id = _mm512_cvtepi64_epi32(_mm512_srli_epi64(_mm512_castpd_si512(pw), 32));
    const __m512i packed = _mm512_maskz_compress_epi32(
      static_cast<__mmask16>(kept), _mm512_castsi256_si512(id));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(ids + found), _mm512_castsi512_si256(packed));
    if (withDistances)
    {
      _mm512_storeu_pd(squared + found, _mm512_maskz_compress_pd(kept, distance2));
    }
    found += static_cast<size_t>(__builtin_popcount(kept));
  }
  return found;
}
#pragma GCC diagnostic pop

bool HasWideFilter()
{
  static const bool has = __builtin_cpu_supports("avx512f");
  return has;
}
#endif

// The grid leaves out this many points on each side of each axis.
constexpr size_t FarPoints = 12;

// Offers v to kept[0 .. count), the at most FarPoints + 1 values so far that
// come first by before, in that order.
template <typename Before>
void Offer(double* kept, size_t& count, double v, Before before)
{
  size_t at = count;
  if (count < FarPoints + 1)
  {
    ++count;
  }
  else if (before(v, kept[FarPoints]))
  {
    at = FarPoints; // the last one kept drops out
  }
  else
  {
    return;
  }
  for (; at > 0 && before(v, kept[at - 1]); --at)
  {
    kept[at] = kept[at - 1];
  }
  kept[at] = v;
}

// The range of values[3 * i], i < n, without its FarPoints lowest and
// FarPoints highest values; low and high stay as they are when there are few.
void InnerRange(const double* values, size_t n, double& low, double& high)
{
  if (n <= 4 * (FarPoints + 1))
  {
    return;
  }
  double lowest[FarPoints + 1];
  double highest[FarPoints + 1];
  size_t lowCount = 0;
  size_t highCount = 0;
  for (size_t i = 0; i < n; ++i)
  {
    const double v = values[3 * i];
    if (v == v) // not a number: not a place
    {
      Offer(lowest, lowCount, v, [](double a, double b) { return a < b; });
      Offer(highest, highCount, v, [](double a, double b) { return a > b; });
    }
  }
  if (lowCount == FarPoints + 1)
  {
    low = lowest[FarPoints];
    high = highest[FarPoints];
  }
}

// Candidate lists hold every point once per column of its neighbourhood (that
// is prepared); past this many entries (256 MiB) the search scans and sorts
// instead.
constexpr double MaxCandidates = 8.0 * 1024 * 1024;
} // namespace

NeighbourSearch::NeighbourSearch(vtkPointLocator* tree, vtkPoints* points, double radius)
  : Tree(tree)
  , Radius(radius)
  , Radius2(radius * radius)
{
  this->Index(points, true);
  if (!this->Coordinates.empty())
  {
    this->BuildNeighbourhoods();
  }
}

NeighbourSearch::NeighbourSearch(vtkPointLocator* tree, vtkPoints* points, double radius,
  const float* queryX, const float* queryY, std::size_t queries)
  : Tree(tree)
  , Radius(radius)
  , Radius2(radius * radius)
{
  this->Index(points, false);
  if (this->Coordinates.empty())
  {
    return;
  }
  this->Prepared.assign(static_cast<size_t>(this->Cells[0]) * this->Cells[1], 0);
  for (std::size_t k = 0; k < queries; ++k)
  {
    const int cx = this->CellIndex(static_cast<double>(queryX[k]), 0);
    const int cy = this->CellIndex(static_cast<double>(queryY[k]), 1);
    this->Prepared[static_cast<size_t>(cy) * this->Cells[0] + cx] = 1;
  }
  this->BuildNeighbourhoods();
}

// The points' coordinates and buckets, and the grid of columns over them.
void NeighbourSearch::Index(vtkPoints* points, bool everyColumn)
{
  const double radius = this->Radius;
  vtkPointLocator* tree = this->Tree;
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

  // The grid spans the points but for the few farthest out on each side,
  // such as the frame points the reader places around the model, which would
  // otherwise widen the cells wherever the points cover a small part of the
  // frame. A point beyond the grid falls in the cell at its edge; since a
  // point's cell never decreases as its coordinate grows, the neighbourhoods
  // and scans find it all the same.
  for (int axis = 0; axis < 2; ++axis)
  {
    InnerRange(this->Coordinates.data() + axis, static_cast<size_t>(n), low[axis], high[axis]);
  }

  // Columns of cells over x and y, as wide as the radius, widened while there
  // would be too many. The points lie in a plane but for the frame points, so
  // cells along z would stay empty and only dilute the grid.
  const int columns = everyColumn &&
      static_cast<double>((2 * ColumnsPerRadius + 1) * (2 * ColumnsPerRadius + 1)) *
          static_cast<double>(n) > ManyCopies
    ? 1
    : ColumnsPerRadius;
  double width = radius > 0.0 && std::isfinite(radius) ? radius / columns * ColumnSlack : 1.0;
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
  this->ColumnOf.resize(static_cast<size_t>(n));
  this->CellStart.assign(cellCount + 1, 0);
  for (vtkIdType i = 0; i < n; ++i)
  {
    const double* p = &this->Coordinates[3 * static_cast<size_t>(i)];
    const int c = (this->CellIndex(p[2], 2) * this->Cells[1] + this->CellIndex(p[1], 1)) *
        this->Cells[0] +
      this->CellIndex(p[0], 0);
    this->ColumnOf[static_cast<size_t>(i)] = c;
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
    this->CellPoints[static_cast<size_t>(next[static_cast<size_t>(this->ColumnOf[i])]++)] =
      static_cast<int>(i);
  }

  // The columns needed to cover the radius (one once the grid had to widen).
  this->Reach = width >= radius * ColumnSlack ? 1 : columns;
}

namespace
{
constexpr std::int64_t KeyField = (std::int64_t(1) << 21) - 1; // of each index in a key
}

size_t NeighbourSearch::DenseIndex(std::int64_t key) const
{
  return static_cast<size_t>(
    (((key >> 42) - this->DenseLow[0]) * this->DenseSpan[1] + ((key >> 21) & KeyField) -
      this->DenseLow[1]) *
      this->DenseSpan[2] +
    (key & KeyField) - this->DenseLow[2]);
}

std::vector<int> NeighbourSearch::LocatorOrder()
{
  const size_t n = this->Bucket.size();
  std::vector<int> order(n);
  // The buckets' (i, j, k), numbered densely over the ranges in use, sort
  // as the keys do; when there are not many more of them than points, a
  // counting sort puts the points in order in linear time, and stably, so
  // that each bucket keeps its points in increasing id.
  std::int64_t high[3] = { 0, 0, 0 };
  for (int axis = 0; axis < 3; ++axis)
  {
    this->DenseLow[axis] = KeyField;
  }
  for (const std::int64_t key : this->Bucket)
  {
    const std::int64_t ijk[3] = { key >> 42, (key >> 21) & KeyField, key & KeyField };
    for (int axis = 0; axis < 3; ++axis)
    {
      this->DenseLow[axis] = std::min(this->DenseLow[axis], ijk[axis]);
      high[axis] = std::max(high[axis], ijk[axis]);
    }
  }
  double span = 1.0;
  for (int axis = 0; axis < 3; ++axis)
  {
    this->DenseSpan[axis] = high[axis] - this->DenseLow[axis] + 1;
    span *= static_cast<double>(this->DenseSpan[axis]);
  }
  if (span > 4.0 * static_cast<double>(n) + 1024.0)
  {
    for (size_t i = 0; i < n; ++i)
    {
      order[i] = static_cast<int>(i);
    }
    std::stable_sort(order.begin(), order.end(), [this](int a, int b) {
      return this->Bucket[static_cast<size_t>(a)] < this->Bucket[static_cast<size_t>(b)];
    });
    return order;
  }
  std::vector<int> start(static_cast<size_t>(span) + 1, 0);
  for (const std::int64_t key : this->Bucket)
  {
    ++start[this->DenseIndex(key) + 1];
  }
  for (size_t b = 1; b < start.size(); ++b)
  {
    start[b] += start[b - 1];
  }
  for (size_t i = 0; i < n; ++i)
  {
    order[static_cast<size_t>(start[this->DenseIndex(this->Bucket[i])]++)] = static_cast<int>(i);
  }
  this->DenseRank.assign(static_cast<size_t>(span), -1); // filled once the ranks are known
  return order;
}

int NeighbourSearch::RankOfBucket(std::int64_t key) const
{
  if (this->DenseRank.empty())
  {
    const auto at = std::lower_bound(this->Buckets.begin(), this->Buckets.end(), key);
    return at != this->Buckets.end() && *at == key ? static_cast<int>(at - this->Buckets.begin())
                                                   : -1;
  }
  const std::int64_t ijk[3] = { key >> 42, (key >> 21) & KeyField, key & KeyField };
  for (int axis = 0; axis < 3; ++axis)
  {
    if (ijk[axis] < this->DenseLow[axis] ||
      ijk[axis] >= this->DenseLow[axis] + this->DenseSpan[axis])
    {
      return -1;
    }
  }
  return this->DenseRank[this->DenseIndex(key)];
}

void NeighbourSearch::BuildNeighbourhoods()
{
  const double side = 2.0 * this->Reach + 1.0;
  if (!std::isfinite(this->Radius) ||
    (this->Prepared.empty() &&
      side * side * static_cast<double>(this->Bucket.size()) > MaxCandidates))
  {
    return; // every search scans
  }
  const std::vector<int> order = this->LocatorOrder();
  const std::vector<int> rank = this->RankBuckets(order);
  const std::vector<char> feeds = this->CountLists();
  if (static_cast<double>(this->NearStart.back()) > MaxCandidates)
  {
    this->NearStart.clear(); // too many even so: every search scans
    return;
  }
  this->FillLists(order, rank, feeds);
}

std::vector<int> NeighbourSearch::RankBuckets(const std::vector<int>& order)
{
  std::vector<int> rank(order.size());
  for (const int id : order)
  {
    const std::int64_t bucket = this->Bucket[static_cast<size_t>(id)];
    if (this->Buckets.empty() || this->Buckets.back() != bucket)
    {
      this->Buckets.push_back(bucket);
    }
    rank[static_cast<size_t>(id)] = static_cast<int>(this->Buckets.size() - 1);
  }
  if (!this->DenseRank.empty())
  {
    for (size_t r = 0; r < this->Buckets.size(); ++r)
    {
      this->DenseRank[this->DenseIndex(this->Buckets[r])] = static_cast<int>(r);
    }
  }
  return rank;
}

template <typename Visit>
inline __attribute__((always_inline)) void NeighbourSearch::EachColumnNear(
  size_t c, Visit&& visit) const
{
  const int nx = this->Cells[0];
  const int ny = this->Cells[1];
  const int cx = static_cast<int>(c % static_cast<size_t>(nx));
  const int cy = static_cast<int>(c / static_cast<size_t>(nx));
  for (int y = std::max(0, cy - this->Reach); y <= std::min(ny - 1, cy + this->Reach); ++y)
  {
    for (int x = std::max(0, cx - this->Reach); x <= std::min(nx - 1, cx + this->Reach); ++x)
    {
      visit(static_cast<size_t>(y) * nx + x);
    }
  }
}

std::vector<char> NeighbourSearch::CountLists()
{
  const bool all = this->Prepared.empty();
  const size_t columns = static_cast<size_t>(this->Cells[0]) * this->Cells[1];
  std::vector<char> feeds(all ? 0 : columns, 0);
  this->NearStart.assign(columns + 1, 0);
  for (size_t c = 0; c < columns; ++c)
  {
    if (all || this->Prepared[c])
    {
      this->EachColumnNear(c, [&](size_t d) {
        this->NearStart[c + 1] += static_cast<size_t>(this->CellStart[d + 1] - this->CellStart[d]);
        if (!all)
        {
          feeds[d] = 1;
        }
      });
    }
  }
  for (size_t c = 0; c < columns; ++c)
  {
    this->NearStart[c + 1] += this->NearStart[c];
  }
  return feeds;
}

void NeighbourSearch::FillLists(
  const std::vector<int>& order, const std::vector<int>& rank, const std::vector<char>& feeds)
{
  const bool all = this->Prepared.empty();
  this->Near.reset(new Candidate[this->NearStart.back()]);
  std::vector<size_t> next(this->NearStart.begin(), this->NearStart.end() - 1);
  for (const int id : order)
  {
    const size_t own = static_cast<size_t>(this->ColumnOf[static_cast<size_t>(id)]);
    if (!all && !feeds[own])
    {
      continue;
    }
    Candidate candidate;
    const double* p = &this->Coordinates[3 * static_cast<size_t>(id)];
    candidate.X[0] = p[0];
    candidate.X[1] = p[1];
    candidate.X[2] = p[2];
    candidate.Bucket = rank[static_cast<size_t>(id)];
    candidate.Id = id;
    this->EachColumnNear(own, [&](size_t c) {
      if (all || this->Prepared[c])
      {
        this->Near[next[c]++] = candidate;
      }
    });
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

inline int NeighbourSearch::CellIndex(double v, int axis) const
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
  this->FindPointsWithinRadius(x, this->Result);
  result->SetNumberOfIds(static_cast<vtkIdType>(this->Result.size()));
  std::copy(this->Result.begin(), this->Result.end(), result->GetPointer(0));
}

void NeighbourSearch::FindPointsWithinRadius(const double x[3], std::vector<int>& ids)
{
  ids.clear();
  if (!(this->Radius >= 0.0) || this->Coordinates.empty())
  {
    return;
  }
  size_t found = 0;
  if (this->FindInNeighbourhood<false>(x, found))
  {
    ids.assign(this->KeptIds.data(), this->KeptIds.data() + found);
    return;
  }
  this->FindByScan(x, ids);
}

void NeighbourSearch::FindPointsWithinRadius(
  const double x[3], std::vector<int>& ids, std::vector<double>& squared)
{
  const int* keptIds = nullptr;
  const double* keptSquared = nullptr;
  const size_t found = this->FindPointsWithinRadius(x, keptIds, keptSquared);
  ids.assign(keptIds, keptIds + found);
  squared.assign(keptSquared, keptSquared + found);
}

size_t NeighbourSearch::FindPointsWithinRadius(
  const double x[3], const int*& ids, const double*& squared)
{
  size_t found = 0;
  if (this->Radius >= 0.0 && !this->Coordinates.empty() &&
    !this->FindInNeighbourhood<true>(x, found))
  {
    this->FindByScan(x, this->Scanned);
    found = this->Scanned.size();
    if (this->KeptIds.size() < found)
    {
      this->KeptIds.resize(found);
    }
    if (this->KeptSquared.size() < found)
    {
      this->KeptSquared.resize(found);
    }
    for (size_t k = 0; k < found; ++k)
    {
      const int id = this->Scanned[k];
      const double* p = &this->Coordinates[3 * static_cast<size_t>(id)];
      const double d0 = x[0] - p[0];
      const double d1 = x[1] - p[1];
      const double d2 = x[2] - p[2];
      this->KeptIds[k] = id;
      this->KeptSquared[k] = d0 * d0 + d1 * d1 + d2 * d2;
    }
  }
  ids = this->KeptIds.data();
  squared = this->KeptSquared.data();
  return found;
}

template <bool WithDistances>
bool NeighbourSearch::FindInNeighbourhood(const double x[3], size_t& found)
{
  found = 0;
  if (this->NearStart.empty())
  {
    return false;
  }
  // The cells that can hold a point within the radius; the range is taken a
  // hair wider than the radius so that rounding cannot lose a point that the
  // distance test accepts. They must lie within the neighbourhood of the
  // column of x.
  const double reach = this->Radius * (1.0 + 1e-9) + 1e-300;
  const int cx = this->CellIndex(x[0], 0);
  const int cy = this->CellIndex(x[1], 1);
  if (this->CellIndex(x[0] - reach, 0) < cx - this->Reach ||
    this->CellIndex(x[0] + reach, 0) > cx + this->Reach ||
    this->CellIndex(x[1] - reach, 1) < cy - this->Reach ||
    this->CellIndex(x[1] + reach, 1) > cy + this->Reach)
  {
    return false;
  }

  const size_t c = static_cast<size_t>(cy) * this->Cells[0] + cx;
  if (!this->Prepared.empty() && !this->Prepared[c])
  {
    return false;
  }
  const Candidate* begin = this->Near.get() + this->NearStart[c];
  const Candidate* end = this->Near.get() + this->NearStart[c + 1];
  if (begin == end)
  {
    return true; // no point near
  }

  // The locator scans the bucket of x after all the others. The list is in
  // the locator's order, so the points of the own bucket are one run of it:
  // the runs before and after it first, then that run.
  const int own = this->RankOfBucket(this->BucketOf(x));
  auto byBucket = [](const Candidate& p, int bucket) { return p.Bucket < bucket; };
  const Candidate* ownBegin = own < 0 ? end : std::lower_bound(begin, end, own, byBucket);
  const Candidate* ownEnd = own < 0 ? end : std::lower_bound(ownBegin, end, own + 1, byBucket);
  // Filtered into buffers that only ever grow, since every candidate is
  // written there.
  const size_t count = static_cast<size_t>(end - begin);
  if (this->KeptIds.size() < count)
  {
    this->KeptIds.resize(count);
  }
  if (WithDistances && this->KeptSquared.size() < count)
  {
    this->KeptSquared.resize(count);
  }
  int* outIds = this->KeptIds.data();
  double* outSquared = WithDistances ? this->KeptSquared.data() : nullptr;
  found = this->Filter<WithDistances>(x, begin, ownBegin, outIds, outSquared, found);
  found = this->Filter<WithDistances>(x, ownEnd, end, outIds, outSquared, found);
  found = this->Filter<WithDistances>(x, ownBegin, ownEnd, outIds, outSquared, found);
  return true;
}

template <bool WithDistances>
size_t NeighbourSearch::Filter(const double x[3], const Candidate* begin, const Candidate* end,
  int* ids, double* squared, size_t found) const
{
  const double x0 = x[0];
  const double x1 = x[1];
  const double x2 = x[2];
  const double radius2 = this->Radius2;
#if defined(__x86_64__)
  static_assert(sizeof(Candidate) == 32 && offsetof(Candidate, Id) == 28,
    "FilterBlocks reads a candidate as four doubles, the id in the upper half of the last");
  if (HasWideFilter())
  {
    const size_t blocks = static_cast<size_t>(end - begin) / 8;
    found = FilterBlocks(x, radius2, reinterpret_cast<const double*>(begin), blocks,
      WithDistances, ids, squared, found);
    begin += 8 * blocks;
  }
#endif
  for (const Candidate* p = begin; p != end; ++p)
  {
    const double d0 = x0 - p->X[0];
    const double d1 = x1 - p->X[1];
    const double d2 = x2 - p->X[2];
    const double distance2 = d0 * d0 + d1 * d1 + d2 * d2;
    // Every candidate is written; only one within the radius is kept.
    ids[found] = p->Id;
    if (WithDistances)
    {
      squared[found] = distance2;
    }
    found += distance2 <= radius2;
  }
  return found;
}

void NeighbourSearch::FindByScan(const double x[3], std::vector<int>& ids)
{
  this->Found.clear();
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
  ids.resize(this->Found.size());
  for (size_t f = 0; f < this->Found.size(); ++f)
  {
    ids[f] = this->Found[f].second;
  }
}
