#include "DenseSolve.h"

#include <cmath>
#include <cstddef>
#include <cstdlib>

const int DenseOrder = 4;
__thread float DenseMatrix[16];
__thread float DenseRhs[4];

namespace
{

const char* const ScratchFailure = "Not enough memory for the dense solve";

/// Number of slots of an inclusive index range lo .. hi; an empty range
/// still gets one slot so that its block has an address of its own.
std::size_t RangeSize(int lo, int hi)
{
  const unsigned ulo = static_cast<unsigned>(lo);
  const unsigned uhi = static_cast<unsigned>(hi);
  return ulo <= uhi ? static_cast<std::size_t>(uhi - ulo) + 1 : 1;
}

float* AllocateScratch(int m)
{
  float* scratch = static_cast<float*>(std::malloc(static_cast<std::size_t>(m > 0 ? m : 1) * sizeof(float)));
  if (scratch == nullptr)
  {
    throw ScratchFailure;
  }
  return scratch;
}

/// Entry (r, j) of DenseMatrix read by columns of stride m.
inline float& C(int m, int r, int j)
{
  return DenseMatrix[j * m + r];
}

} // namespace

float** allocate_matrix(int nrl, int nrh, int ncl, int nch)
{
  float** block = static_cast<float**>(std::malloc(RangeSize(nrl, nrh) * sizeof(float*)));
  if (block == nullptr)
  {
    throw "allocation faliture for the matrix in allocate_matrix";
  }
  // Shifted so that index nrl reaches the first slot.
  float** m = block - nrl;
  if (static_cast<unsigned>(nrl) > static_cast<unsigned>(nrh))
  {
    return m;
  }

  const std::size_t cols = RangeSize(ncl, nch);
  for (int r = nrl; r <= nrh; ++r)
  {
    float* row = static_cast<float*>(std::malloc(cols * sizeof(float)));
    if (row == nullptr)
    {
      throw "allocation faliture for the rows of matrix in allocate_matrix";
    }
    m[r] = row - ncl;
  }
  return m;
}

void deallocate_matrix(float** m, int nrl, int nrh, int ncl, int /*nch*/)
{
  if (static_cast<unsigned>(nrl) <= static_cast<unsigned>(nrh))
  {
    for (int r = nrl; r <= nrh; ++r)
    {
      std::free(m[r] + ncl);
    }
  }
  std::free(m + nrl);
}

double vector_norm(const float* x, int n)
{
  double sum = 0.0;
  for (int k = 0; k < n; ++k)
  {
    sum += static_cast<double>(x[k]) * static_cast<double>(x[k]);
  }
  return std::sqrt(sum);
}

double dot_product(const float* x, const float* y, int n)
{
  double sum = 0.0;
  for (int k = 0; k < n; ++k)
  {
    sum += static_cast<double>(x[k]) * static_cast<double>(y[k]);
  }
  return sum;
}

void scale_vector(float a, float* x, int n)
{
  for (int k = 0; k < n; ++k)
  {
    x[k] = static_cast<float>(static_cast<double>(a) * static_cast<double>(x[k]));
  }
}

void add_scaled_vector(float a, const float* x, float* y, int n)
{
  for (int k = 0; k < n; ++k)
  {
    y[k] = static_cast<float>(static_cast<double>(y[k]) + static_cast<double>(a) * static_cast<double>(x[k]));
  }
}

void householder_factor(int m, int p, float* lead)
{
  for (int k = 0; k + 1 < m; ++k)
  {
    lead[k] = 0.0f;
  }
  float* v = AllocateScratch(m);

  // Step i works on rows i .. m-1 of column j; j lags behind i only after a
  // column part of zero norm, which forms no reflection.
  int j = 0;
  for (int i = 0; i + 1 < m && j < p; ++i)
  {
    const int a = m - i;
    float* x = &C(m, i, j);
    const double nu = vector_norm(x, a);
    if (nu == 0.0)
    {
      lead[j] = 0.0f;
      continue;
    }

    // The sign of sigma follows x[0], so that 1 + |x[0]| / nu does not cancel.
    float sigma = static_cast<float>(nu);
    if (x[0] < 0.0f)
    {
      sigma = -sigma;
    }
    scale_vector(static_cast<float>(1.0 / static_cast<double>(sigma)), x, a);
    x[0] = static_cast<float>(static_cast<double>(x[0]) + 1.0);

    for (int k = 0; k < a; ++k)
    {
      v[k] = x[k];
    }
    const double v0 = v[0];
    lead[j] = v[0];
    C(m, i, j) = -sigma;

    // H = I - v v^T / v0 on the columns right of the one just reduced
    // (v^T v = 2 v0).
    ++j;
    for (int c = j; c < p; ++c)
    {
      float* y = &C(m, i, c);
      const float alpha = static_cast<float>(-dot_product(v, y, a) / v0);
      add_scaled_vector(alpha, v, y, a);
    }
  }
  std::free(v);
}

void solve_transposed_triangle(float* b, int m, int /*p*/)
{
  for (int k = 0; k < m; ++k)
  {
    b[k] = static_cast<float>(static_cast<double>(b[k]) / C(m, k, k));
    for (int l = k + 1; l < m; ++l)
    {
      b[l] = static_cast<float>(b[l] - static_cast<double>(b[k]) * C(m, k, l));
    }
  }
}

void apply_reflections(const float* lead, float* z, int m, int /*p*/)
{
  if (m <= 0)
  {
    return;
  }
  float* t = AllocateScratch(m);
  t[m - 1] = z[m - 1];
  for (int i = m - 2; i >= 0; --i)
  {
    t[i] = z[i];
    if (lead[i] == 0.0f)
    {
      continue;
    }
    // Column i from row i down is v_i once its leading component is back in
    // place of R(i, i).
    float* v = &C(m, i, i);
    const float rii = *v;
    *v = lead[i];
    const float alpha = static_cast<float>(-dot_product(v, t + i, m - i) / lead[i]);
    add_scaled_vector(alpha, v, t + i, m - i);
    *v = rii;
  }
  for (int k = 0; k < m; ++k)
  {
    z[k] = t[k];
  }
  std::free(t);
}

void solve_dense_system()
{
  float* lead = AllocateScratch(DenseOrder);
  try
  {
    householder_factor(DenseOrder, DenseOrder, lead);
    solve_transposed_triangle(DenseRhs, DenseOrder, DenseOrder);
    apply_reflections(lead, DenseRhs, DenseOrder, DenseOrder);
  }
  catch (...)
  {
    std::free(lead);
    throw;
  }
  std::free(lead);
}
