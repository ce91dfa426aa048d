#include "EnvelopeProfile.h"
#include "SplineBasis.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

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

namespace
{
#if defined(__x86_64__)
// GCC 12 takes the rounding-mode forms' unused pass-through operand for an
// uninitialised value.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
// row[k] = SplineBasis(positions + 3 * k, pi) as a float, k < count, eight
// at a time in AVX-512 registers: the same conversions, differences,
// squares, sums, test, root, quotient and square, each rounded as the
// scalar code rounds it (the rounding-mode forms are never fused into
// multiply-adds). Returns how many it has done, a multiple of eight.
__attribute__((target("avx512f"))) int BasisRowBlocks(
  const float* positions, const float* pi, int count, double radius, double radius2, float* row)
{
  constexpr int exact = _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC;
  const __m512d xi = _mm512_set1_pd(pi[0]);
  const __m512d yi = _mm512_set1_pd(pi[1]);
  const __m512d zi = _mm512_set1_pd(pi[2]);
  const __m512d r = _mm512_set1_pd(radius);
  const __m512d r2 = _mm512_set1_pd(radius2);
  const __m512d one = _mm512_set1_pd(1.0);
  // x, y and z of eight points among 24 floats (16 in the first operand).
  const __m512i xs = _mm512_setr_epi32(0, 3, 6, 9, 12, 15, 18, 21, 0, 0, 0, 0, 0, 0, 0, 0);
  const __m512i ys = _mm512_setr_epi32(1, 4, 7, 10, 13, 16, 19, 22, 0, 0, 0, 0, 0, 0, 0, 0);
  const __m512i zs = _mm512_setr_epi32(2, 5, 8, 11, 14, 17, 20, 23, 0, 0, 0, 0, 0, 0, 0, 0);
  int k = 0;
  for (; k + 8 <= count; k += 8)
  {
    const float* p = positions + 3 * static_cast<size_t>(k);
    const __m512 head = _mm512_loadu_ps(p);
    const __m512 tail = _mm512_castps256_ps512(_mm256_loadu_ps(p + 16));
    const __m512d x =
      _mm512_cvtps_pd(_mm512_castps512_ps256(_mm512_permutex2var_ps(head, xs, tail)));
    const __m512d y =
      _mm512_cvtps_pd(_mm512_castps512_ps256(_mm512_permutex2var_ps(head, ys, tail)));
    const __m512d z =
      _mm512_cvtps_pd(_mm512_castps512_ps256(_mm512_permutex2var_ps(head, zs, tail)));
    const __m512d dx = _mm512_sub_round_pd(x, xi, exact);
    const __m512d dy = _mm512_sub_round_pd(y, yi, exact);
    const __m512d dz = _mm512_sub_round_pd(z, zi, exact);
    const __m512d d2 = _mm512_add_round_pd(
      _mm512_add_round_pd(_mm512_mul_round_pd(dx, dx, exact), _mm512_mul_round_pd(dy, dy, exact),
        exact),
      _mm512_mul_round_pd(dz, dz, exact), exact);
    const __mmask8 within = _mm512_cmp_pd_mask(d2, r2, _CMP_LT_OQ);
    const __m512d t = _mm512_sub_round_pd(
      one, _mm512_div_round_pd(_mm512_sqrt_round_pd(d2, exact), r, exact), exact);
    const __m512d phi = _mm512_maskz_mov_pd(within, _mm512_mul_round_pd(t, t, exact));
    _mm256_storeu_ps(row + k, _mm512_cvt_roundpd_ps(phi, exact));
  }
  return k;
}
#pragma GCC diagnostic pop

bool HasWideBasisRows()
{
  static const bool has = __builtin_cpu_supports("avx512f");
  return has;
}
#endif

} // namespace

void BasisRow(
  const float* positions, const float* pi, int count, double radius, double radius2, float* row)
{
  int k = 0;
#if defined(__x86_64__)
  if (HasWideBasisRows())
  {
    k = BasisRowBlocks(positions, pi, count, radius, radius2, row);
  }
#endif
  for (; k < count; ++k)
  {
    row[k] = static_cast<float>(
      SplineBasis(positions + 3 * static_cast<size_t>(k), pi, radius, radius2));
  }
}
