// Dense matrices with index ranges, vector kernels and the 4 x 4 Householder
// solve.

#include "DenseSolve.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <random>
#include <vector>

namespace
{

// Loads the 16 values into DenseMatrix as given and b into DenseRhs, solves.
std::vector<float> Solve(const std::vector<float>& values, const std::vector<float>& b)
{
  std::copy(values.begin(), values.end(), DenseMatrix);
  std::copy(b.begin(), b.end(), DenseRhs);
  solve_dense_system();
  return std::vector<float>(DenseRhs, DenseRhs + 4);
}

// M x = b (M row after row) to single precision, checked in double against
// the backward error of Householder QR: |M x - b| <= 16 eps |M| |x|.
void ExpectSolves(const std::vector<float>& m, const std::vector<float>& b, const std::vector<float>& x)
{
  double mNorm = 0.0;
  double xNorm = 0.0;
  for (int r = 0; r < 4; ++r)
  {
    xNorm = std::max(xNorm, std::fabs(static_cast<double>(x[r])));
    double s = 0.0;
    for (int c = 0; c < 4; ++c)
    {
      s += std::fabs(m[r * 4 + c]);
    }
    mNorm = std::max(mNorm, s);
  }
  for (int r = 0; r < 4; ++r)
  {
    double residual = -static_cast<double>(b[r]);
    for (int c = 0; c < 4; ++c)
    {
      residual += static_cast<double>(m[r * 4 + c]) * x[c];
    }
    EXPECT_LE(std::fabs(residual), 16.0 * FLT_EPSILON * mNorm * xNorm) << "row " << r;
  }
}

std::vector<float> Transposed(const std::vector<float>& m)
{
  std::vector<float> t(16);
  for (int k = 0; k < 16; ++k)
  {
    t[(k % 4) * 4 + k / 4] = m[k];
  }
  return t;
}

} // namespace

TEST(DenseMatrixStorage, IndexRangesAreInclusive)
{
  float** m = allocate_matrix(0, 4, 0, 4);
  for (int k = 0; k < 25; ++k)
  {
    m[k / 5][k % 5] = static_cast<float>(k);
  }
  for (int k = 0; k < 25; ++k)
  {
    EXPECT_EQ(m[k / 5][k % 5], k);
  }
  deallocate_matrix(m, 0, 4, 0, 4);

  float** single = allocate_matrix(2, 2, 3, 3);
  single[2][3] = 7.5f;
  EXPECT_EQ(single[2][3], 7.5f);
  deallocate_matrix(single, 2, 2, 3, 3);
}

TEST(DenseVectorKernels, EmptyVectorsAndDoubleResults)
{
  float x[3] = { 3.0f, 4.0f, 12.0f };
  float y[3] = { 1.0f, 2.0f, 3.0f };
  for (int n : { 0, -1 })
  {
    EXPECT_EQ(vector_norm(x, n), 0.0);
    EXPECT_EQ(dot_product(x, y, n), 0.0);
    scale_vector(2.0f, x, n);
    add_scaled_vector(2.0f, x, y, n);
  }
  EXPECT_EQ(std::vector<float>(x, x + 3), (std::vector<float>{ 3.0f, 4.0f, 12.0f }));
  EXPECT_EQ(std::vector<float>(y, y + 3), (std::vector<float>{ 1.0f, 2.0f, 3.0f }));
  EXPECT_EQ(vector_norm(x, 3), 13.0);
  // Returned in double, not rounded to float.
  float u[2] = { 1.0f, std::ldexp(1.0f, -30) };
  EXPECT_EQ(dot_product(u, y, 2), 1.0 + std::ldexp(2.0, -30));
}

TEST(DenseSolve, IdentityAndDiagonal)
{
  const std::vector<float> b = { 0.1f, -2.5f, 3.0e7f, 1.0e-9f };
  std::vector<float> m(16, 0.0f);
  m[0] = m[5] = m[10] = m[15] = 1.0f;
  EXPECT_EQ(Solve(m, b), b);
  EXPECT_EQ(std::vector<float>({ DenseMatrix[0], DenseMatrix[5], DenseMatrix[10], DenseMatrix[15] }),
    (std::vector<float>{ -1.0f, -1.0f, -1.0f, 1.0f }));

  // Negative pivots: sigma takes their sign, R(k, k) = -sigma.
  const float d[4] = { -3.0f, 0.7f, -1.0e-3f, -250.0f };
  for (int k = 0; k < 4; ++k)
  {
    m[k * 5] = d[k];
  }
  const std::vector<float> x = Solve(m, b);
  for (int k = 0; k < 4; ++k)
  {
    EXPECT_NEAR(x[k], b[k] / d[k], 4.0 * FLT_EPSILON * std::fabs(b[k] / d[k])) << "k " << k;
  }
  EXPECT_EQ(std::vector<float>({ DenseMatrix[0], DenseMatrix[5], DenseMatrix[10], DenseMatrix[15] }),
    (std::vector<float>{ 3.0f, -0.7f, 1.0e-3f, -250.0f }));
}

// Stored row after row the solve gives M x = b; the same values column after
// column give M^T x = b. M(0, 0) = 0 keeps sigma positive in the first step.
TEST(DenseSolve, GeneralMatricesInBothStorageOrders)
{
  std::mt19937 random(4242);
  std::uniform_real_distribution<float> value(-5.0f, 5.0f);
  for (int trial = 0; trial < 20; ++trial)
  {
    SCOPED_TRACE(trial);
    std::vector<float> m(16);
    std::vector<float> b(4);
    std::generate(m.begin(), m.end(), [&] { return value(random); });
    std::generate(b.begin(), b.end(), [&] { return value(random); });
    if (trial % 2 == 0)
    {
      m[0] = 0.0f;
    }
    ExpectSolves(m, b, Solve(m, b));
    if (trial % 2 == 0)
    {
      const double sigma = std::sqrt(static_cast<double>(m[1]) * m[1] + static_cast<double>(m[2]) * m[2] + static_cast<double>(m[3]) * m[3]);
      EXPECT_EQ(DenseMatrix[0], -static_cast<float>(sigma));
    }
    ExpectSolves(Transposed(m), b, Solve(Transposed(m), b));
  }
}

// No singularity check: a zero row of M gives non-finite values, no crash.
TEST(DenseSolve, SingularMatrixGivesNonFiniteValues)
{
  for (int zeroRow : { 0, 2 })
  {
    std::vector<float> m = { 2, 1, 0, 1, 1, 3, 1, 0, 0, 1, 4, 1, 1, 0, 1, 5 };
    std::fill(m.begin() + zeroRow * 4, m.begin() + zeroRow * 4 + 4, 0.0f);
    const std::vector<float> x = Solve(m, { 1.0f, 2.0f, 3.0f, 4.0f });
    EXPECT_TRUE(std::any_of(x.begin(), x.end(), [](float v) { return !std::isfinite(v); }))
      << "zero row " << zeroRow;
  }
}
