#include "EnvelopeCholesky.h"

#include <cmath>
#include <cstdio>

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

  for (int i = 1; i < n; ++i)
  {
    const int len = xenv[i + 1] - xenv[i];
    double t = diag[i];
    if (len > 0)
    {
      // Row i of L solves L(f..i-1, f..i-1) l = a on the rows of its own
      // envelope; the solve works in place on the row's stored segment.
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
      // The row keeps its unfactorised diagonal; the rest goes on.
      *flag = 1;
    }
  }
}

int envelope_cholesky(int mode, float* rhs)
{
  switch (mode)
  {
    case 0:
    case 1:
      factor_envelope(EnvOrder, Xenv, Env, Diag, &Iflag);
      if (Iflag == 1)
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
