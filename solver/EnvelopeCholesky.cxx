#include "EnvelopeCholesky.h"
#include "Console.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int EnvOrder = 0;
int* Xenv = nullptr;
float* Env = nullptr;
float* Diag = nullptr;
int Iflag = 0;

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

// Vector kernels of the factorisation. Four double lanes are four
// independent partial sums; GCC's generic vectors keep the same lanes (and
// so the same results) whatever instructions carry them. Each kernel is
// compiled twice, for AVX2 with FMA and for the baseline x86-64, and the
// loader picks the one the processor runs. A fused multiply-add rounds like
// a multiply followed by an add here, since the product of a float and a
// double that holds a float is exact.
typedef double Lanes __attribute__((vector_size(32)));
typedef float FloatLanes __attribute__((vector_size(16)));

inline __attribute__((always_inline)) Lanes LoadLanes(const float* p)
{
  FloatLanes f;
  memcpy(&f, p, sizeof f);
  return __builtin_convertvector(f, Lanes);
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

#define ENVELOPE_CLONES __attribute__((target_clones("arch=x86-64-v3", "default")))

// Sum of x[k] * y[k], k = 0 .. len - 1.
ENVELOPE_CLONES double DotRow(const float* x, const double* y, int len)
{
  Lanes a = { 0, 0, 0, 0 };
  Lanes b = a;
  int k = 0;
  for (; k + 8 <= len; k += 8)
  {
    a += LoadLanes(x + k) * LoadLanes(y + k);
    b += LoadLanes(x + k + 4) * LoadLanes(y + k + 4);
  }
  if (k + 4 <= len)
  {
    a += LoadLanes(x + k) * LoadLanes(y + k);
    k += 4;
  }
  double s = SumLanes(a + b);
  for (; k < len; ++k)
  {
    s += static_cast<double>(x[k]) * y[k];
  }
  return s;
}

// Sum of y[k]^2, k = 0 .. len - 1.
ENVELOPE_CLONES double SumSquares(const double* y, int len)
{
  Lanes a = { 0, 0, 0, 0 };
  Lanes b = a;
  int k = 0;
  for (; k + 8 <= len; k += 8)
  {
    a += LoadLanes(y + k) * LoadLanes(y + k);
    b += LoadLanes(y + k + 4) * LoadLanes(y + k + 4);
  }
  if (k + 4 <= len)
  {
    a += LoadLanes(y + k) * LoadLanes(y + k);
    k += 4;
  }
  double s = SumLanes(a + b);
  for (; k < len; ++k)
  {
    s += y[k] * y[k];
  }
  return s;
}

// The four sums of x[k] * y_q[k], k = 0 .. len - 1, q = 0 .. 3, in out[q]:
// one pass over x serves four rows.
ENVELOPE_CLONES void DotFourRows(const float* x, const double* y0, const double* y1,
  const double* y2, const double* y3, int len, double* out)
{
  Lanes a0 = { 0, 0, 0, 0 };
  Lanes a1 = a0, a2 = a0, a3 = a0, b0 = a0, b1 = a0, b2 = a0, b3 = a0;
  int k = 0;
  for (; k + 8 <= len; k += 8)
  {
    const Lanes u = LoadLanes(x + k);
    const Lanes v = LoadLanes(x + k + 4);
    a0 += u * LoadLanes(y0 + k);
    a1 += u * LoadLanes(y1 + k);
    a2 += u * LoadLanes(y2 + k);
    a3 += u * LoadLanes(y3 + k);
    b0 += v * LoadLanes(y0 + k + 4);
    b1 += v * LoadLanes(y1 + k + 4);
    b2 += v * LoadLanes(y2 + k + 4);
    b3 += v * LoadLanes(y3 + k + 4);
  }
  if (k + 4 <= len)
  {
    const Lanes u = LoadLanes(x + k);
    a0 += u * LoadLanes(y0 + k);
    a1 += u * LoadLanes(y1 + k);
    a2 += u * LoadLanes(y2 + k);
    a3 += u * LoadLanes(y3 + k);
    k += 4;
  }
  double s0 = SumLanes(a0 + b0);
  double s1 = SumLanes(a1 + b1);
  double s2 = SumLanes(a2 + b2);
  double s3 = SumLanes(a3 + b3);
  for (; k < len; ++k)
  {
    const double xk = x[k];
    s0 += xk * y0[k];
    s1 += xk * y1[k];
    s2 += xk * y2[k];
    s3 += xk * y3[k];
  }
  out[0] = s0;
  out[1] = s1;
  out[2] = s2;
  out[3] = s3;
}

// Rows factorised together: each finished row of L is read once for all of
// them.
constexpr int BlockRows = 4;

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
  // of four: first every column left of the block, for all four rows at once,
  // then the small triangle inside the block and the diagonals, row by row.
  // The rows of the block are kept as doubles in a scratch array (each value
  // the float that is stored), so the inner loops convert only the finished
  // row they read.
  int longest = 0;
  for (int i = 1; i < n; ++i)
  {
    longest = std::max(longest, xenv[i + 1] - xenv[i]);
  }
  const size_t stride = static_cast<size_t>(longest) + BlockRows;
  double* scratch = static_cast<double*>(malloc(sizeof(double) * stride * BlockRows));
  if (scratch == nullptr)
  {
    FactorRowByRow(n, xenv, env, diag, flag);
    return;
  }

  for (int i0 = 1; i0 < n; i0 += BlockRows)
  {
    const int rows = std::min(BlockRows, n - i0);
    int first[BlockRows];   // first column of each row
    float* a[BlockRows];    // a[q][j - first[q]]: stored entry (i0 + q, j)
    double* l[BlockRows];   // l[q][j - lowest]: the same entry of L, as a double
    int lowest = i0 + rows; // smallest first column of the block
    int highest = 0;        // largest first column of the block
    for (int q = 0; q < rows; ++q)
    {
      const int i = i0 + q;
      first[q] = FirstColumn(xenv, i);
      a[q] = env + (xenv[i] - 1);
      lowest = std::min(lowest, first[q]);
      highest = std::max(highest, first[q]);
    }
    for (int q = 0; q < rows; ++q)
    {
      l[q] = scratch + q * stride;
    }

    // Columns left of the block.
    for (int j = lowest; j < i0; ++j)
    {
      const int fj = FirstColumn(xenv, j);
      const float* lj = env + (xenv[j] - 1); // lj[k - fj] = L(j, k)
      const float djj = diag[j];
      if (rows == BlockRows && j >= highest)
      {
        // The columns that every row shares with row j go through one pass;
        // a row that starts earlier than the others adds its own head.
        const int common = std::max(fj, highest);
        double shared[BlockRows] = { 0.0, 0.0, 0.0, 0.0 };
        if (j > common)
        {
          const int c = common - lowest;
          DotFourRows(lj + (common - fj), l[0] + c, l[1] + c, l[2] + c, l[3] + c, j - common,
            shared);
        }
        for (int q = 0; q < BlockRows; ++q)
        {
          const int from = std::max(first[q], fj);
          double s = a[q][j - first[q]];
          if (from < common)
          {
            s -= DotRow(lj + (from - fj), l[q] + (from - lowest), common - from);
          }
          s -= shared[q];
          const float v = Entry(s, djj);
          a[q][j - first[q]] = v;
          l[q][j - lowest] = v;
        }
      }
      else
      {
        for (int q = 0; q < rows; ++q)
        {
          if (first[q] > j)
          {
            continue;
          }
          const int from = std::max(first[q], fj);
          double s = a[q][j - first[q]];
          if (j > from)
          {
            s -= DotRow(lj + (from - fj), l[q] + (from - lowest), j - from);
          }
          const float v = Entry(s, djj);
          a[q][j - first[q]] = v;
          l[q][j - lowest] = v;
        }
      }
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
        double s = a[q][j - first[q]];
        if (j > from)
        {
          s -= DotRow(lj + (from - fj), l[q] + (from - lowest), j - from);
        }
        const float v = Entry(s, diag[j]);
        a[q][j - first[q]] = v;
        l[q][j - lowest] = v;
      }
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
