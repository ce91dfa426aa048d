#include "EnvelopeCholesky.h"
#include "Console.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

__thread int EnvOrder = 0;
__thread int* Xenv = nullptr;
__thread float* Env = nullptr;
__thread float* Diag = nullptr;
__thread int Iflag = 0;

namespace
{

/**
 * Sum of a[k] * b[k] for k = 0 .. len - 1, in double.
 *
 * Nearly all the time of the factorisation is spent here. The products are
 * spread over four independent partial sums, so that the additions do not
 * wait on each other and the compiler can pair them in vector registers; the
 * partial sums are combined at the end. Each product of two floats is exact
 * in double, so the result differs from the strictly sequential sum only by
 * the rounding of the double additions, which almost never reaches the float
 * that is finally stored. (Eight partial sums were no faster.)
 */
inline double envelope_dot(const float* a, const float* b, int len)
{
  double s0 = 0.0;
  double s1 = 0.0;
  double s2 = 0.0;
  double s3 = 0.0;
  int k = 0;
  for (; k + 4 <= len; k += 4)
  {
    s0 += static_cast<double>(a[k]) * static_cast<double>(b[k]);
    s1 += static_cast<double>(a[k + 1]) * static_cast<double>(b[k + 1]);
    s2 += static_cast<double>(a[k + 2]) * static_cast<double>(b[k + 2]);
    s3 += static_cast<double>(a[k + 3]) * static_cast<double>(b[k + 3]);
  }
  for (; k < len; ++k)
  {
    s0 += static_cast<double>(a[k]) * static_cast<double>(b[k]);
  }
  return (s0 + s1) + (s2 + s3);
}

// Vector kernels. Four double lanes are four independent partial sums (the
// substitutions' inner products); GCC's generic vectors keep the same lanes
// (and so the same results) whatever instructions carry them. Each kernel
// marked ENVELOPE_CLONES is compiled three times, for AVX-512, for AVX2 with
// FMA and for the baseline x86-64, and the loader picks the one the
// processor runs. A fused multiply-add rounds like a multiply followed by an
// add here, since the product of a float and a double that holds a float is
// exact.
typedef double Lanes __attribute__((vector_size(32)));

inline __attribute__((always_inline)) Lanes LoadLanes(const float* p)
{
  // Built lane by lane, GCC loads and widens the four floats in one
  // instruction; __builtin_convertvector takes three or four.
  return Lanes{ p[0], p[1], p[2], p[3] };
}

inline __attribute__((always_inline)) Lanes LoadLanes(const double* p)
{
  Lanes d;
  memcpy(&d, p, sizeof d);
  return d;
}

inline __attribute__((always_inline)) double SumLanes(Lanes v)
{
  return (v[0] + v[1]) + (v[2] + v[3]);
}

#define ENVELOPE_CLONES \
  __attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")))

// Rows factorised together: each finished row of L is read once for all of
// them.
constexpr int BlockRows = 6;

// Finished rows taken together against a block: the tile is TileRows by
// BlockRows.
constexpr int TileRows = 4;

// The factorisation's inner products carry eight double lanes: eight
// independent partial sums each. On processors whose vector units are 512
// bits wide a tile of 24 such sums fills both multiply-add units; the
// portable kernels carry the same lanes as a Pair (below). The loops over a
// tile's rows are unrolled by pragma: left to GCC's own limits, they keep the
// 24 sums in memory.
typedef double Wide __attribute__((vector_size(64)));

inline __attribute__((always_inline)) Wide LoadWide(const float* p)
{
  return Wide{ p[0], p[1], p[2], p[3], p[4], p[5], p[6], p[7] };
}

// The lanes of v summed pairwise: ((v0 + v1) + (v2 + v3)) + ((v4 + v5) + (v6 + v7)).
inline __attribute__((always_inline)) double SumWide(Wide v)
{
  return ((v[0] + v[1]) + (v[2] + v[3])) + ((v[4] + v[5]) + (v[6] + v[7]));
}

// Lane m of the result is SumWide() of the m-th argument, added in the same
// order: three rounds of shuffles instead of seven scalar additions per sum.
inline __attribute__((always_inline)) Wide SumWide8(const Wide* v)
{
  Wide pairs[4];
  #pragma GCC unroll 8
  for (int p = 0; p < 4; ++p)
  {
    const Wide a = v[2 * p];
    const Wide b = v[2 * p + 1];
    pairs[p] = __builtin_shufflevector(a, b, 0, 8, 2, 10, 4, 12, 6, 14) +
      __builtin_shufflevector(a, b, 1, 9, 3, 11, 5, 13, 7, 15);
  }
  Wide quads[2];
  #pragma GCC unroll 8
  for (int p = 0; p < 2; ++p)
  {
    const Wide a = pairs[2 * p];
    const Wide b = pairs[2 * p + 1];
    quads[p] = __builtin_shufflevector(a, b, 0, 1, 8, 9, 4, 5, 12, 13) +
      __builtin_shufflevector(a, b, 2, 3, 10, 11, 6, 7, 14, 15);
  }
  return __builtin_shufflevector(quads[0], quads[1], 0, 1, 2, 3, 8, 9, 10, 11) +
    __builtin_shufflevector(quads[0], quads[1], 4, 5, 6, 7, 12, 13, 14, 15);
}

// The same eight lanes as two vectors of four, for processors without
// AVX-512: GCC keeps a 64-byte vector in memory where no register holds it,
// but two 32-byte halves in AVX2 registers. Lane m is lane m % 4 of Lo or Hi,
// and every operation is the same per lane, so the sums are the same.
struct Pair
{
  Lanes Lo;
  Lanes Hi;
};

inline __attribute__((always_inline)) Pair operator*(Pair a, Pair b)
{
  return Pair{ a.Lo * b.Lo, a.Hi * b.Hi };
}

inline __attribute__((always_inline)) Pair operator+(Pair a, Pair b)
{
  return Pair{ a.Lo + b.Lo, a.Hi + b.Hi };
}

inline __attribute__((always_inline)) Pair& operator+=(Pair& a, Pair b)
{
  a.Lo += b.Lo;
  a.Hi += b.Hi;
  return a;
}

// Eight floats at p, widened, as a V (Wide or Pair).
template <typename V>
inline __attribute__((always_inline)) V Load8(const float* p);

template <>
inline __attribute__((always_inline)) Wide Load8<Wide>(const float* p)
{
  return LoadWide(p);
}

template <>
inline __attribute__((always_inline)) Pair Load8<Pair>(const float* p)
{
  return Pair{ LoadLanes(p), LoadLanes(p + 4) };
}

// The first rem (1 .. 7) values at p in the low lanes, zeros above: nothing
// past p[rem - 1] is read.
template <typename V>
inline __attribute__((always_inline)) V Tail8(const float* p, int rem)
{
  float t[8] = {};
  for (int m = 0; m < rem; ++m)
  {
    t[m] = p[m];
  }
  return Load8<V>(t);
}

inline __attribute__((always_inline)) double SumLanes8(Wide v)
{
  return SumWide(v);
}

inline __attribute__((always_inline)) double SumLanes8(Pair v)
{
  return SumLanes(v.Lo) + SumLanes(v.Hi);
}

// Sum of x[k] * y[k], k = 0 .. len - 1: four vectors of eight partial sums,
// so that the additions of one do not wait on those of another.
template <typename V>
inline __attribute__((always_inline)) double DotRowOf(const float* x, const float* y, int len)
{
  V acc[4] = {};
  int k = 0;
  for (; k + 32 <= len; k += 32)
  {
    #pragma GCC unroll 4
    for (int m = 0; m < 4; ++m)
    {
      acc[m] += Load8<V>(x + k + 8 * m) * Load8<V>(y + k + 8 * m);
    }
  }
  for (; k + 8 <= len; k += 8)
  {
    acc[0] += Load8<V>(x + k) * Load8<V>(y + k);
  }
  double s = SumLanes8((acc[0] + acc[1]) + (acc[2] + acc[3]));
  for (; k < len; ++k)
  {
    s += static_cast<double>(x[k]) * static_cast<double>(y[k]);
  }
  return s;
}

// acc[r][q] += x_r[k] * y_q[k] over the last rem columns k of the run.
template <int R, typename V>
inline __attribute__((always_inline)) void AddTail(
  const float* const* x, const float* const* y, int k, int rem, V (*acc)[BlockRows])
{
  V u[R];
  #pragma GCC unroll 8
  for (int r = 0; r < R; ++r)
  {
    u[r] = Tail8<V>(x[r] + k, rem);
  }
  #pragma GCC unroll 8
  for (int q = 0; q < BlockRows; ++q)
  {
    const V v = Tail8<V>(y[q] + k, rem);
    #pragma GCC unroll 8
    for (int r = 0; r < R; ++r)
    {
      acc[r][q] += u[r] * v;
    }
  }
}

// acc[r][q] = 0 for the R by BlockRows partial sums of a tile.
template <int R, typename V>
inline __attribute__((always_inline)) void ClearSums(V (*acc)[BlockRows])
{
  #pragma GCC unroll 8
  for (int r = 0; r < R; ++r)
  {
    #pragma GCC unroll 8
    for (int q = 0; q < BlockRows; ++q)
    {
      acc[r][q] = V{};
    }
  }
}

// acc[r][q] += x_r[k] * y_q[k] over the columns k of whole steps of eight;
// returns the first column left.
template <int R, typename V>
inline __attribute__((always_inline)) int AddSteps(
  const float* const* x, const float* const* y, int len, V (*acc)[BlockRows])
{
  int k = 0;
  for (; k + 8 <= len; k += 8)
  {
    V u[R];
    #pragma GCC unroll 8
    for (int r = 0; r < R; ++r)
    {
      u[r] = Load8<V>(x[r] + k);
    }
    #pragma GCC unroll 8
    for (int q = 0; q < BlockRows; ++q)
    {
      const V v = Load8<V>(y[q] + k);
      #pragma GCC unroll 8
      for (int r = 0; r < R; ++r)
      {
        acc[r][q] += u[r] * v;
      }
    }
  }
  return k;
}

// out[BlockRows * r + q] = the sum of the lanes of acc[r][q].
template <int R>
inline __attribute__((always_inline)) void StoreSums(const Wide (*acc)[BlockRows], double* out)
{
  const Wide* flat = &acc[0][0];
  constexpr int Sums = R * BlockRows;
  int m = 0;
  for (; m + 8 <= Sums; m += 8)
  {
    const Wide t = SumWide8(flat + m);
    memcpy(out + m, &t, sizeof t);
  }
  for (; m < Sums; ++m)
  {
    out[m] = SumWide(flat[m]);
  }
}

template <int R>
inline __attribute__((always_inline)) void StoreSums(const Pair (*acc)[BlockRows], double* out)
{
  for (int r = 0; r < R; ++r)
  {
    for (int q = 0; q < BlockRows; ++q)
    {
      out[BlockRows * r + q] = SumLanes8(acc[r][q]);
    }
  }
}

// The sums of x_r[k] * y_q[k], k = 0 .. len - 1, for R finished rows x_r and
// the BlockRows rows y_q of the block, in out[BlockRows * r + q]. Each value
// loaded feeds R or BlockRows multiply-adds, and the R * BlockRows partial
// sums keep both multiply-add units busy. Both operands are floats, widened
// as they are loaded. The last len % 8 columns go through the same lanes,
// zero-filled, in one step shared by all the sums.
template <int R, typename V>
inline __attribute__((always_inline)) void DotRows(
  const float* const* x, const float* const* y, int len, double* out)
{
  V acc[R][BlockRows];
  ClearSums<R, V>(acc);
  const int k = AddSteps<R, V>(x, y, len, acc);
  if (k < len)
  {
    AddTail<R, V>(x, y, k, len - k, acc);
  }
  StoreSums<R>(acc, out);
}

// The portable kernels: AVX2 with FMA or the baseline x86-64, chosen by the
// loader.
#define PORTABLE_CLONES __attribute__((target_clones("arch=x86-64-v3", "default")))

// One finished row against the block.
PORTABLE_CLONES void DotBlockPortable(
  const float* x, const float* const* y, int len, double* out)
{
  DotRows<1, Pair>(&x, y, len, out);
}

// Sum of x[k] * y[k], k = 0 .. len - 1.
PORTABLE_CLONES double DotRowPortable(const float* x, const float* y, int len)
{
  return DotRowOf<Pair>(x, y, len);
}

#if defined(__x86_64__)
// GCC 12 takes the conversion's unused pass-through operand for an
// uninitialised value.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
// TileRows finished rows against the block, all 24 sums at once in the 32
// registers of AVX-512.
__attribute__((target("arch=x86-64-v4"))) void DotTileWide(
  const float* const* x, const float* const* y, int len, double* out)
{
  Wide acc[TileRows][BlockRows];
  ClearSums<TileRows, Wide>(acc);
  const int k = AddSteps<TileRows, Wide>(x, y, len, acc);
  if (k < len)
  {
    // The tail in masked loads, which leave the lanes above it zero.
    const __mmask8 tail = static_cast<__mmask8>((1u << (len - k)) - 1);
    Wide u[TileRows];
    for (int r = 0; r < TileRows; ++r)
    {
      u[r] = _mm512_cvtps_pd(_mm256_maskz_loadu_ps(tail, x[r] + k));
    }
    for (int q = 0; q < BlockRows; ++q)
    {
      const Wide v = _mm512_cvtps_pd(_mm256_maskz_loadu_ps(tail, y[q] + k));
      for (int r = 0; r < TileRows; ++r)
      {
        acc[r][q] += u[r] * v;
      }
    }
  }
  StoreSums<TileRows>(acc, out);
}

#pragma GCC diagnostic pop

// One finished row against the block.
__attribute__((target("arch=x86-64-v4"))) void DotBlockWide(
  const float* x, const float* const* y, int len, double* out)
{
  DotRows<1, Wide>(&x, y, len, out);
}

// Sum of x[k] * y[k], k = 0 .. len - 1.
__attribute__((target("arch=x86-64-v4"))) double DotRowWide(const float* x, const float* y, int len)
{
  return DotRowOf<Wide>(x, y, len);
}

bool WideKernelsWanted = true;

// Whether the AVX-512 kernels run: the processor has them and they are not
// switched off.
bool HasWideKernels()
{
  static const bool has = __builtin_cpu_supports("x86-64-v4");
  return has && WideKernelsWanted;
}
#endif

// One finished row against the block.
void DotBlock(const float* x, const float* const* y, int len, double* out)
{
#if defined(__x86_64__)
  if (HasWideKernels())
  {
    DotBlockWide(x, y, len, out);
    return;
  }
#endif
  DotBlockPortable(x, y, len, out);
}

// Sum of x[k] * y[k], k = 0 .. len - 1.
double DotRow(const float* x, const float* y, int len)
{
#if defined(__x86_64__)
  if (HasWideKernels())
  {
    return DotRowWide(x, y, len);
  }
#endif
  return DotRowPortable(x, y, len);
}

// Sum of y[k]^2, k = 0 .. len - 1, as DotRow(y, y, len) adds it.
double SumSquares(const float* y, int len)
{
  return DotRow(y, y, len);
}

// TileRows finished rows against the block: one finished row at a time where
// a whole tile would not fit the vector registers. The sums are the same.
void DotTile(const float* const* x, const float* const* y, int len, double* out)
{
#if defined(__x86_64__)
  if (HasWideKernels())
  {
    DotTileWide(x, y, len, out);
    return;
  }
#endif
  for (int r = 0; r < TileRows; ++r)
  {
    DotBlock(x[r], y, len, out + BlockRows * r);
  }
}

// Right-hand sides that one pass of solve_envelope_columns() carries.
constexpr int ColumnGroup = 6;

// out[r] = sum of row[k] * x[r][k], k = 0 .. len - 1, for r < C, each added
// exactly as envelope_dot() adds it: lane m of acc[r] is its partial sum s_m
// and the tail goes into s_0. Each entry of the row is loaded once for all C.
template <int C>
inline __attribute__((always_inline)) void DotColumnsOf(
  const float* row, const float* const* x, int len, double* out)
{
  Lanes acc[C];
  for (int r = 0; r < C; ++r)
  {
    acc[r] = Lanes{ 0, 0, 0, 0 };
  }
  int k = 0;
  for (; k + 4 <= len; k += 4)
  {
    const Lanes u = LoadLanes(row + k);
    for (int r = 0; r < C; ++r)
    {
      acc[r] += u * LoadLanes(x[r] + k);
    }
  }
  for (int r = 0; r < C; ++r)
  {
    double s0 = acc[r][0];
    for (int m = k; m < len; ++m)
    {
      s0 += static_cast<double>(row[m]) * static_cast<double>(x[r][m]);
    }
    out[r] = (s0 + acc[r][1]) + (acc[r][2] + acc[r][3]);
  }
}

// One row of L against count (1 .. ColumnGroup) right-hand sides.
ENVELOPE_CLONES void DotColumns(
  const float* row, const float* const* x, int count, int len, double* out)
{
  switch (count)
  {
    case 1:
      DotColumnsOf<1>(row, x, len, out);
      break;
    case 2:
      DotColumnsOf<2>(row, x, len, out);
      break;
    case 3:
      DotColumnsOf<3>(row, x, len, out);
      break;
    case 4:
      DotColumnsOf<4>(row, x, len, out);
      break;
    case 5:
      DotColumnsOf<5>(row, x, len, out);
      break;
    default:
      DotColumnsOf<ColumnGroup>(row, x, len, out);
      break;
  }
}

// x[k] = x[k] - t row[k], in double and rounded to float, k = 0 .. len - 1.
ENVELOPE_CLONES void ScatterRow(float* x, const float* row, float t, int len)
{
  const double td = t;
  for (int k = 0; k < len; ++k)
  {
    x[k] = static_cast<float>(x[k] - td * static_cast<double>(row[k]));
  }
}

// solve_lower_envelope() on count (1 .. ColumnGroup) right-hand sides, row by
// row for all of them: each keeps its own first nonzero component and most
// recent nonzero result, and so skips what the single solve skips.
void SolveLowerColumns(
  int n, const int* xenv, const float* env, const float* diag, int count, float* const* rhs)
{
  int first[ColumnGroup];
  int last[ColumnGroup];
  int start = n - 1;
  for (int r = 0; r < count; ++r)
  {
    first[r] = n - 1;
    for (int i = 0; i < n - 1; ++i)
    {
      if (rhs[r][i] != 0.0f)
      {
        first[r] = i;
        break;
      }
    }
    last[r] = 0;
    start = std::min(start, first[r]);
  }

  for (int i = start; i < n; ++i)
  {
    int len = xenv[i + 1] - xenv[i];
    if (len > i)
    {
      len = i;
    }
    const int c = i - len;

    double s[ColumnGroup];
    const float* x[ColumnGroup];
    int which[ColumnGroup];
    int active = 0;
    for (int r = 0; r < count; ++r)
    {
      if (i < first[r])
      {
        continue;
      }
      s[r] = rhs[r][i];
      rhs[r][i] = 0.0f;
      if (len > 0 && last[r] >= c)
      {
        which[active] = r;
        x[active] = rhs[r] + c;
        ++active;
      }
    }
    if (active > 0)
    {
      double dots[ColumnGroup];
      DotColumns(env + (xenv[i + 1] - 1 - len), x, active, len, dots);
      for (int a = 0; a < active; ++a)
      {
        s[which[a]] -= dots[a];
      }
    }
    for (int r = 0; r < count; ++r)
    {
      if (i >= first[r] && s[r] != 0.0)
      {
        rhs[r][i] = static_cast<float>(s[r] / diag[i]);
        last[r] = i;
      }
    }
  }
}

// solve_upper_envelope() on count right-hand sides, row by row for all.
void SolveUpperColumns(
  int n, const int* xenv, const float* env, const float* diag, int count, float* const* rhs)
{
  for (int i = n - 1; i >= 0; --i)
  {
    int len = xenv[i + 1] - xenv[i];
    if (len > i)
    {
      len = i;
    }
    const int c = i - len;
    const float* row = env + (xenv[i + 1] - 1 - len);
    for (int r = 0; r < count; ++r)
    {
      if (rhs[r][i] == 0.0f)
      {
        continue;
      }
      const float t = static_cast<float>(static_cast<double>(rhs[r][i]) / diag[i]);
      rhs[r][i] = t;
      if (len > 0)
      {
        ScatterRow(rhs[r] + c, row, t, len);
      }
    }
  }
}

// Shortest shared run of columns worth a tile; shorter ones go row by row.
constexpr int ShortestTile = 16;

// First column of the envelope of row i.
inline int FirstColumn(const int* xenv, int i)
{
  return i - (xenv[i + 1] - xenv[i]);
}

// Entry (i, j) of L from the partial sum s = A(i, j) - sum_k L(i, k) L(j, k);
// an exact zero is not divided (a row's leading zeros stay zero).
inline float Entry(double s, float djj)
{
  return s != 0.0 ? static_cast<float>(s / djj) : 0.0f;
}

// Factorises rows 1 .. n-1 one after the other, each by a forward solve on the
// rows of its own envelope. Serves when the scratch rows of the blocked
// factorisation cannot be allocated.
void FactorRowByRow(int n, const int* xenv, float* env, float* diag, int* flag)
{
  for (int i = 1; i < n; ++i)
  {
    const int len = xenv[i + 1] - xenv[i];
    double t = diag[i];
    if (len > 0)
    {
      const int f = i - len;
      float* row = env + (xenv[i] - 1);
      solve_lower_envelope(len, xenv + f, env, diag + f, row);
      for (int k = 0; k < len; ++k)
      {
        t -= static_cast<double>(row[k]) * static_cast<double>(row[k]);
      }
    }
    if (t > 0.0)
    {
      diag[i] = static_cast<float>(std::sqrt(t));
    }
    else
    {
      *flag = 1;
    }
  }
}

// The block being factorised: rows i0 .. i0 + Rows - 1 (Rows <= BlockRows).
// Row q is worked on in a scratch row aligned on the columns: L[q][j -
// Lowest] holds entry (i0 + q, j), first as A's and then as L's, and the
// finished row goes back to its place in the envelope, A[q]. The scratch rows
// hold zeros left of a row's first column, and rows past the last one are
// zeros throughout, so that every kernel can run over all BlockRows rows.
struct Block
{
  int Rows;
  int Lowest;
  int First[BlockRows];
  float* A[BlockRows];
  float* L[BlockRows];

  // Sets the block up for rows i0 .. i0 + rows - 1 on the scratch rows at
  // scratch, stride floats apart.
  void Start(const int* xenv, float* env, int i0, int rows, float* scratch, size_t stride)
  {
    this->Rows = rows;
    this->Lowest = i0 + rows; // smallest first column of the block
    for (int q = 0; q < rows; ++q)
    {
      const int i = i0 + q;
      this->First[q] = FirstColumn(xenv, i);
      this->A[q] = env + (xenv[i] - 1);
      this->Lowest = std::min(this->Lowest, this->First[q]);
    }
    for (int q = 0; q < BlockRows; ++q)
    {
      this->L[q] = scratch + q * stride;
      const int zeros = (q < rows ? this->First[q] : i0) - this->Lowest;
      std::fill(this->L[q], this->L[q] + zeros, 0.0f);
      if (q < rows)
      {
        std::copy_n(this->A[q], i0 + q - this->First[q], this->L[q] + zeros);
      }
    }
  }

  // Copies row q, finished up to its diagonal, back into the envelope.
  void Finish(int i0, int q)
  {
    const int first = this->First[q];
    std::copy_n(this->L[q] + (first - this->Lowest), i0 + q - first, this->A[q]);
  }

  // Stores L(i0 + q, j) = (A(i0 + q, j) - sum) / L(j, j) for the rows that
  // reach column j; sums[q] is that row's inner product so far. The rows
  // multiply by one reciprocal of L(j, j) instead of dividing each: the
  // quotient may differ in the last bit of the double, which the float
  // rounding almost always removes.
  void Store(int j, const double* sums, float djj)
  {
    const double inverse = 1.0 / static_cast<double>(djj);
    for (int q = 0; q < this->Rows; ++q)
    {
      if (this->First[q] > j)
      {
        continue;
      }
      float& entry = this->L[q][j - this->Lowest];
      const double s = entry - sums[q];
      entry = s != 0.0 ? static_cast<float>(s * inverse) : 0.0f;
    }
  }

  // Pointers to column c of every scratch row.
  void Columns(int c, const float** y) const
  {
    for (int q = 0; q < BlockRows; ++q)
    {
      y[q] = this->L[q] + (c - this->Lowest);
    }
  }
};

#if defined(__x86_64__)
// GCC 12 takes the conversions' unused pass-through operand for an
// uninitialised value.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
// Four rows of eight floats, transposed in place: row r of the result holds
// lane r of each input in its lanes 0 .. 3 and lane r + 4 in its lanes 4 .. 7.
__attribute__((target("arch=x86-64-v4"))) inline void Transpose4(__m256* f)
{
  const __m256 t0 = _mm256_unpacklo_ps(f[0], f[1]);
  const __m256 t1 = _mm256_unpackhi_ps(f[0], f[1]);
  const __m256 t2 = _mm256_unpacklo_ps(f[2], f[3]);
  const __m256 t3 = _mm256_unpackhi_ps(f[2], f[3]);
  f[0] = _mm256_shuffle_ps(t0, t2, 0x44);
  f[1] = _mm256_shuffle_ps(t0, t2, 0xee);
  f[2] = _mm256_shuffle_ps(t1, t3, 0x44);
  f[3] = _mm256_shuffle_ps(t1, t3, 0xee);
}

// Columns j .. j + TileRows - 1 of the block, whose sums over the columns
// left of j are tile[BlockRows * r + q] (column j + r, row i0 + q): each adds
// the products with the tile's columns left of it, L(j + r, j + c) L(i0 + q,
// j + c) for c < r, and is stored as Store() stores it, for all the block's
// rows at once in the lanes of AVX-512 registers. The sums are added in the
// same order and round the same way (a product of two floats is exact, so a
// fused multiply-add rounds as the separate ones do). Each scratch row's four
// entries are read and written together, turned into columns and back by
// transposing.
__attribute__((target("arch=x86-64-v4"))) void StoreTileWide(
  Block& block, int j, const float* const* lr, const int* fr, const double* tile, const float* diag)
{
  static_assert(TileRows == 4 && BlockRows <= 8, "the transposes take four columns of eight rows");
  constexpr __mmask8 rows = (1u << BlockRows) - 1;
  int first[8];
  for (int q = 0; q < 8; ++q)
  {
    first[q] = q < block.Rows ? block.First[q] : 0x7fffffff;
  }
  const __m256i firsts = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(first));
  const int at = j - block.Lowest;

  // Row q's entries in columns j .. j + 3 (zeros where the row has none),
  // then column r of them in f[r], lane q.
  __m128 entries[8];
  for (int q = 0; q < 8; ++q)
  {
    entries[q] = q < BlockRows ? _mm_loadu_ps(block.L[q] + at) : _mm_setzero_ps();
  }
  __m256 f[TileRows];
  for (int r = 0; r < TileRows; ++r)
  {
    f[r] = _mm256_set_m128(entries[r + 4], entries[r]);
  }
  Transpose4(f);

  const __m512d zero = _mm512_setzero_pd();
  __m512d v[TileRows];
  for (int r = 0; r < TileRows; ++r)
  {
    const int column = j + r;
    __m512d s = _mm512_maskz_loadu_pd(rows, tile + BlockRows * r);
    for (int c = 0; c < r; ++c)
    {
      s = _mm512_fmadd_pd(_mm512_set1_pd(lr[r][j + c - fr[r]]), v[c], s);
    }
    const __m512d d = _mm512_sub_pd(_mm512_cvtps_pd(f[r]), s);
    const __m512d quotient =
      _mm512_mul_pd(d, _mm512_set1_pd(1.0 / static_cast<double>(diag[column])));
    const __mmask8 keep = _mm512_cmp_pd_mask(d, zero, _CMP_NEQ_UQ) &
      _mm256_cmp_epi32_mask(firsts, _mm256_set1_epi32(column), _MM_CMPINT_LE);
    f[r] = _mm256_maskz_mov_ps(keep, _mm512_cvtpd_ps(quotient));
    v[r] = _mm512_cvtps_pd(f[r]);
  }

  Transpose4(f);
  for (int q = 0; q < BlockRows; ++q)
  {
    const __m256 g = f[q % 4];
    _mm_storeu_ps(block.L[q] + at, q < 4 ? _mm256_castps256_ps128(g) : _mm256_extractf128_ps(g, 1));
  }
}

#pragma GCC diagnostic pop

#endif

// Heads of finished rows up to this long are added column by column.
constexpr int ShortHead = 8;

// sums[q] += L(j, c) * L(i0 + q, c) for the columns c = from .. to - 1 of
// finished row j, whose entries lj[c - fj] are.
inline void AddColumns(
  const float* lj, int fj, int from, int to, const Block& block, double* sums)
{
  for (int c = from; c < to; ++c)
  {
    const double ljc = lj[c - fj];
    for (int q = 0; q < BlockRows; ++q)
    {
      sums[q] += ljc * static_cast<double>(block.L[q][c - block.Lowest]);
    }
  }
}

// Column j of the block, against finished row j alone.
void FactorColumn(const int* xenv, const float* env, const float* diag, int j, Block& block)
{
  const int fj = FirstColumn(xenv, j);
  const float* lj = env + (xenv[j] - 1); // lj[k - fj] = L(j, k)
  const int from = std::max(fj, block.Lowest);
  double sums[BlockRows] = {};
  if (j > from)
  {
    const float* y[BlockRows];
    block.Columns(from, y);
    DotBlock(lj + (from - fj), y, j - from, sums);
  }
  block.Store(j, sums, diag[j]);
}

// Columns j .. j + TileRows - 1 of the block, where finished rows j .. j +
// TileRows - 1 all hold columns common .. j - 1: one tile pass over those
// columns, then each finished row's own head (its columns before common) and
// the columns j .. j + r - 1 inside the tile.
void FactorTile(const int* xenv, const float* env, const float* diag, int j, int common,
  Block& block)
{
  const float* lr[TileRows]; // lr[r][k - fr[r]] = L(j + r, k)
  int fr[TileRows];
  const float* x[TileRows];
  for (int r = 0; r < TileRows; ++r)
  {
    fr[r] = FirstColumn(xenv, j + r);
    lr[r] = env + (xenv[j + r] - 1);
    x[r] = lr[r] + (common - fr[r]);
  }
  const float* y[BlockRows];
  block.Columns(common, y);
  double tile[TileRows * BlockRows];
  DotTile(x, y, j - common, tile);

  for (int r = 0; r < TileRows; ++r)
  {
    double* sums = tile + BlockRows * r;
    const int from = std::max(fr[r], block.Lowest);
    if (common - from > ShortHead)
    {
      double head[BlockRows];
      block.Columns(from, y);
      DotBlock(lr[r] + (from - fr[r]), y, common - from, head);
      for (int q = 0; q < BlockRows; ++q)
      {
        sums[q] += head[q];
      }
    }
    else
    {
      AddColumns(lr[r], fr[r], from, common, block, sums);
    }
  }
#if defined(__x86_64__)
  if (HasWideKernels())
  {
    StoreTileWide(block, j, lr, fr, tile, diag);
    return;
  }
#endif
  for (int r = 0; r < TileRows; ++r)
  {
    const int jr = j + r;
    double* sums = tile + BlockRows * r;
    AddColumns(lr[r], fr[r], j, jr, block, sums);
    block.Store(jr, sums, diag[jr]);
  }
}

} // namespace

void solve_lower_envelope(int n, const int* xenv, const float* env, const float* diag, float* rhs)
{
  if (n <= 0)
  {
    return;
  }

  // Leading zeros of the right-hand side stay zero.
  int first = n - 1;
  for (int i = 0; i < n - 1; ++i)
  {
    if (rhs[i] != 0.0f)
    {
      first = i;
      break;
    }
  }

  // The most recent row whose component came out nonzero: every component
  // after it is zero.
  int last = 0;
  for (int i = first; i < n; ++i)
  {
    int len = xenv[i + 1] - xenv[i];
    if (len > i)
    {
      len = i;
    }
    const int c = i - len;

    double s = rhs[i];
    rhs[i] = 0.0f;
    if (len > 0 && last >= c)
    {
      const float* row = env + (xenv[i + 1] - 1 - len);
      s -= envelope_dot(row, rhs + c, len);
    }
    if (s != 0.0)
    {
      rhs[i] = static_cast<float>(s / diag[i]);
      last = i;
    }
  }
}

void solve_upper_envelope(int n, const int* xenv, const float* env, const float* diag, float* rhs)
{
  for (int i = n - 1; i >= 0; --i)
  {
    if (rhs[i] == 0.0f)
    {
      continue;
    }
    const float t = static_cast<float>(static_cast<double>(rhs[i]) / diag[i]);
    rhs[i] = t;

    int len = xenv[i + 1] - xenv[i];
    if (len > i)
    {
      len = i;
    }
    if (len <= 0)
    {
      continue;
    }
    const int c = i - len;
    const float* row = env + (xenv[i + 1] - 1 - len);
    for (int k = 0; k < len; ++k)
    {
      rhs[c + k] =
        static_cast<float>(rhs[c + k] - static_cast<double>(t) * static_cast<double>(row[k]));
    }
  }
}

void solve_envelope_columns(
  int n, const int* xenv, const float* env, const float* diag, int count, float* const* rhs)
{
  if (n <= 0)
  {
    return;
  }
  for (int g = 0; g < count; g += ColumnGroup)
  {
    const int group = std::min(ColumnGroup, count - g);
    SolveLowerColumns(n, xenv, env, diag, group, rhs + g);
    SolveUpperColumns(n, xenv, env, diag, group, rhs + g);
  }
}

void envelope_wide_kernels(int on)
{
#if defined(__x86_64__)
  WideKernelsWanted = on != 0;
#else
  (void)on;
#endif
}

void factor_envelope(int n, const int* xenv, float* env, float* diag, int* flag)
{
  if (!(diag[0] > 0.0f))
  {
    *flag = 1;
    return;
  }
  diag[0] = static_cast<float>(std::sqrt(static_cast<double>(diag[0])));
  if (n <= 1)
  {
    return;
  }

  // Entry (i, j) of L is (A(i, j) - sum_k L(i, k) L(j, k)) / L(j, j), the sum
  // over the columns k < j that both envelopes hold. Rows are taken in blocks
  // of six: first every column left of the block, for all six rows at once
  // and, where the rows share their columns, against four finished rows at
  // once; then the small triangle inside the block and the diagonals, row by
  // row. The rows of the block are worked on in scratch rows aligned on their
  // columns, with zeros left of each row's first column, so that the kernels
  // run over all six rows at once; they stay floats, which keeps six rows of
  // up to about 1,300 entries in a 32 KB first-level cache.
  int longest = 0;
  for (int i = 1; i < n; ++i)
  {
    longest = std::max(longest, xenv[i + 1] - xenv[i]);
  }
  const size_t stride = static_cast<size_t>(longest) + BlockRows;
  float* scratch = static_cast<float*>(malloc(sizeof(float) * stride * BlockRows));
  if (scratch == nullptr)
  {
    FactorRowByRow(n, xenv, env, diag, flag);
    return;
  }

  for (int i0 = 1; i0 < n; i0 += BlockRows)
  {
    Block block;
    block.Start(xenv, env, i0, std::min(BlockRows, n - i0), scratch, stride);
    const int lowest = block.Lowest;
    const int* first = block.First;
    float* const* l = block.L;
    const int rows = block.Rows;

    // Columns left of the block: four at a time where four finished rows
    // share a long enough run of columns.
    for (int j = lowest; j < i0;)
    {
      if (j + TileRows <= i0)
      {
        int common = lowest; // first column rows j .. j + 3 share
        for (int r = 0; r < TileRows; ++r)
        {
          common = std::max(common, FirstColumn(xenv, j + r));
        }
        if (j - common >= ShortestTile)
        {
          FactorTile(xenv, env, diag, j, common, block);
          j += TileRows;
          continue;
        }
      }
      FactorColumn(xenv, env, diag, j, block);
      ++j;
    }

    // The block's own triangle and the diagonals.
    for (int q = 0; q < rows; ++q)
    {
      const int i = i0 + q;
      for (int j = std::max(i0, first[q]); j < i; ++j)
      {
        const int fj = FirstColumn(xenv, j);
        const float* lj = env + (xenv[j] - 1);
        const int from = std::max(first[q], fj);
        double s = l[q][j - lowest];
        if (j > from)
        {
          s -= DotRow(lj + (from - fj), l[q] + (from - lowest), j - from);
        }
        l[q][j - lowest] = Entry(s, diag[j]);
      }
      block.Finish(i0, q);
      double t = diag[i];
      if (i > first[q])
      {
        t -= SumSquares(l[q] + (first[q] - lowest), i - first[q]);
      }
      if (t > 0.0)
      {
        diag[i] = static_cast<float>(std::sqrt(t));
      }
      else
      {
        // The row keeps its unfactorised diagonal; the rest goes on.
        *flag = 1;
      }
    }
  }
  free(scratch);
}

int envelope_cholesky(int mode, float* rhs)
{
  switch (mode)
  {
    case 0:
    case 1:
      factor_envelope(EnvOrder, Xenv, Env, Diag, &Iflag);
      if (Iflag == 1 && !ReportsAreQuiet())
      {
        printf("Matrix is not positive  Iflag =%d\n", Iflag);
        fflush(stdout);
      }
      if (mode == 0)
      {
        solve_lower_envelope(EnvOrder, Xenv, Env, Diag, rhs);
        solve_upper_envelope(EnvOrder, Xenv, Env, Diag, rhs);
      }
      break;
    case 2:
      solve_lower_envelope(EnvOrder, Xenv, Env, Diag, rhs);
      solve_upper_envelope(EnvOrder, Xenv, Env, Diag, rhs);
      break;
    default:
      break;
  }
  return Iflag;
}
