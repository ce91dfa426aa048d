// Envelope Cholesky factorisation and solves.

#include "EnvelopeCholesky.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace
{

bool SameBits(const std::vector<float>& a, const std::vector<float>& b)
{
  return a.size() == b.size() &&
    (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0);
}

// A matrix in envelope form owned by the test.
struct Envelope
{
  std::vector<int> X{ 1 };
  std::vector<float> E;
  std::vector<float> D;

  int N() const { return static_cast<int>(this->D.size()); }
  int Len(int i) const { return this->X[i + 1] - this->X[i]; }
  // Entry (i, j) for i - Len(i) <= j <= i.
  float At(int i, int j) const { return i == j ? this->D[i] : this->E[this->X[i + 1] - 1 - (i - j)]; }
  void Row(const std::vector<float>& entries, float diag)
  {
    this->X.push_back(this->X.back() + static_cast<int>(entries.size()));
    this->E.insert(this->E.end(), entries.begin(), entries.end());
    this->D.push_back(diag);
  }
  void Install()
  {
    EnvOrder = this->N();
    Xenv = this->X.data();
    Env = this->E.data();
    Diag = this->D.data();
  }
  bool Same(const Envelope& o) const { return this->X == o.X && SameBits(this->E, o.E) && SameBits(this->D, o.D); }
};

// Random symmetric matrix with rows of 1 .. maxLen entries (a share of them
// empty, some zeros inside the runs) and diagonal d_i = r_i + delta R (1 + u),
// r_i the off-diagonal absolute row sum and R the largest one: by Gershgorin
// its eigenvalues lie in [delta R, 2 R (1 + delta)].
Envelope RandomSpd(unsigned seed, int n, int maxLen, double emptyShare, double delta)
{
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  Envelope a;
  std::vector<double> rowSum(n, 0.0);
  for (int i = 0; i < n; ++i)
  {
    const int longest = std::min(i, maxLen);
    const int len = (longest == 0 || unit(random) < emptyShare) ? 0 : 1 + static_cast<int>(unit(random) * longest);
    std::vector<float> row(len);
    for (int k = 0; k < len; ++k)
    {
      row[k] = (k > 0 && unit(random) < 0.1) ? 0.0f : static_cast<float>(2.0 * unit(random) - 1.0);
      rowSum[i] += std::fabs(row[k]);
      rowSum[i - len + k] += std::fabs(row[k]);
    }
    a.Row(row, 0.0f);
  }
  const double r = std::max(1.0, *std::max_element(rowSum.begin(), rowSum.end()));
  for (int i = 0; i < n; ++i)
  {
    a.D[i] = static_cast<float>(rowSum[i] + delta * r * (1.0 + unit(random)));
  }
  return a;
}

// Rows of the given lengths, entries uniform in [-0.5, 0.5), diagonal one
// more than the off-diagonal absolute row sum: diagonally dominant, so
// positive definite, with every pivot at least about one.
Envelope DominantRows(unsigned seed, const std::vector<int>& lengths)
{
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const int n = static_cast<int>(lengths.size());
  Envelope a;
  std::vector<double> rowSum(n, 0.0);
  for (int i = 0; i < n; ++i)
  {
    const int len = lengths[i];
    std::vector<float> row(len);
    for (int k = 0; k < len; ++k)
    {
      row[k] = static_cast<float>(unit(random) - 0.5);
      rowSum[i] += std::fabs(row[k]);
      rowSum[i - len + k] += std::fabs(row[k]);
    }
    a.Row(row, 0.0f);
  }
  for (int i = 0; i < n; ++i)
  {
    a.D[i] = static_cast<float>(rowSum[i] + 1.0);
  }
  return a;
}

// The full symmetric matrix in double, row after row.
std::vector<double> Full(const Envelope& a)
{
  const int n = a.N();
  std::vector<double> m(static_cast<size_t>(n) * n, 0.0);
  for (int i = 0; i < n; ++i)
  {
    for (int j = i - a.Len(i); j <= i; ++j)
    {
      m[i * n + j] = m[j * n + i] = a.At(i, j);
    }
  }
  return m;
}

// Independent solve in double: Gaussian elimination (a positive definite
// matrix needs no pivoting).
std::vector<double> DenseSolve(std::vector<double> m, const std::vector<float>& b)
{
  const int n = static_cast<int>(b.size());
  std::vector<double> x(b.begin(), b.end());
  for (int k = 0; k < n; ++k)
  {
    for (int r = k + 1; r < n; ++r)
    {
      const double f = m[r * n + k] / m[k * n + k];
      for (int c = k; c < n && f != 0.0; ++c)
      {
        m[r * n + c] -= f * m[k * n + c];
      }
      x[r] -= f * x[k];
    }
  }
  for (int k = n - 1; k >= 0; --k)
  {
    for (int c = k + 1; c < n; ++c)
    {
      x[k] -= m[k * n + c] * x[c];
    }
    x[k] /= m[k * n + k];
  }
  return x;
}

// The factorisation and lower solve written plainly: one sequential double
// sum per inner product.
void PlainLower(int n, const int* xenv, const float* env, const float* diag, float* b)
{
  int first = n - 1;
  for (int i = n - 2; i >= 0; --i)
  {
    first = b[i] != 0.0f ? i : first;
  }
  int last = 0;
  for (int i = first; i < n; ++i)
  {
    const int len = std::min(xenv[i + 1] - xenv[i], i);
    double s = b[i];
    b[i] = 0.0f;
    for (int k = 0; k < len && last >= i - len; ++k)
    {
      s -= static_cast<double>(env[xenv[i + 1] - 1 - len + k]) * b[i - len + k];
    }
    if (s != 0.0)
    {
      b[i] = static_cast<float>(s / diag[i]);
      last = i;
    }
  }
}

void PlainFactor(Envelope& a, int* flag)
{
  if (!(a.D[0] > 0.0f))
  {
    *flag = 1;
    return;
  }
  a.D[0] = static_cast<float>(std::sqrt(static_cast<double>(a.D[0])));
  for (int i = 1; i < a.N(); ++i)
  {
    const int len = a.Len(i);
    float* row = a.E.data() + a.X[i] - 1;
    if (len > 0)
    {
      PlainLower(len, a.X.data() + i - len, a.E.data(), a.D.data() + i - len, row);
    }
    double t = a.D[i];
    for (int k = 0; k < len; ++k)
    {
      t -= static_cast<double>(row[k]) * row[k];
    }
    if (t > 0.0)
    {
      a.D[i] = static_cast<float>(std::sqrt(t));
    }
    else
    {
      *flag = 1;
    }
  }
}

double MaxAbs(const std::vector<double>& v)
{
  double m = 0.0;
  for (double x : v)
  {
    m = std::max(m, std::fabs(x));
  }
  return m;
}

class EnvelopeCholeskyTest : public testing::Test
{
protected:
  void SetUp() override { Iflag = 0; }
};

const char* const Warning = "Matrix is not positive  Iflag =1\n";

// A = [4 2; 2 10] = L L^T with L = [2 0; 1 3].
Envelope Small()
{
  Envelope a;
  a.Row({}, 4.0f);
  a.Row({ 2.0f }, 10.0f);
  return a;
}

} // namespace

// Random positive definite systems. Mode 0, and mode 1 then mode 2, against a
// dense double solve; the production kernels against the plain reference.
// Tolerances follow Cholesky's backward error in single precision, about
// (len + 1) eps |A| (times the condition bound for the solution itself);
// the production and plain kernels differ only in the order of double
// additions, so they agree far inside that.
TEST_F(EnvelopeCholeskyTest, RandomSystems)
{
  struct Case { unsigned Seed; int N, MaxLen; double Empty, Delta; };
  for (const Case& c : { Case{ 1, 1, 0, 0, 1 }, Case{ 2, 2, 1, 0, 1 }, Case{ 3, 10, 9, 0.3, 0.5 },
         Case{ 4, 57, 20, 0.3, 0.2 }, Case{ 5, 400, 150, 0.05, 0.1 }, Case{ 6, 300, 299, 0, 0.05 },
         Case{ 7, 1000, 300, 0.05, 0.5 } })
  {
    SCOPED_TRACE(testing::Message() << "seed " << c.Seed << " n " << c.N << " rows up to " << c.MaxLen);
    const Envelope a = RandomSpd(c.Seed, c.N, c.MaxLen, c.Empty, c.Delta);
    const double cond = 2.0 * (1.0 + c.Delta) / c.Delta;
    int maxLen = 0;
    for (int i = 0; i < c.N; ++i)
    {
      maxLen = std::max(maxLen, a.Len(i));
    }
    const double gamma = 2.0 * (maxLen + 2) * FLT_EPSILON;
    std::mt19937 random(c.Seed);
    std::uniform_real_distribution<float> value(-10.0f, 10.0f);
    std::vector<float> b(c.N);
    std::generate(b.begin(), b.end(), [&] { return value(random); });

    Envelope once = a;
    once.Install();
    std::vector<float> x = b;
    ASSERT_EQ(envelope_cholesky(0, x.data()), 0);
    Envelope twice = a;
    twice.Install();
    std::vector<float> x2 = b;
    ASSERT_EQ(envelope_cholesky(1, nullptr), 0);
    ASSERT_EQ(envelope_cholesky(2, x2.data()), 0);
    EXPECT_TRUE(twice.Same(once));
    EXPECT_EQ(x2, x);

    const std::vector<double> full = Full(a);
    const std::vector<double> exact = DenseSolve(full, b);
    double aNorm = 0.0;
    for (int i = 0; i < c.N; ++i)
    {
      double rowAbs = 0.0;
      for (int j = 0; j < c.N; ++j)
      {
        rowAbs += std::fabs(full[i * c.N + j]);
      }
      aNorm = std::max(aNorm, rowAbs);
    }
    for (int i = 0; i < c.N; ++i)
    {
      double ax = 0.0;
      for (int j = 0; j < c.N; ++j)
      {
        ax += full[i * c.N + j] * x[j];
      }
      ASSERT_NEAR(x[i], exact[i], gamma * cond * MaxAbs(exact)) << "x[" << i << "]";
      ASSERT_NEAR(ax, b[i], gamma * aNorm * MaxAbs(exact)) << "(Ax - b)[" << i << "]";
    }

    Envelope plain = a;
    int flag = 0;
    PlainFactor(plain, &flag);
    ASSERT_EQ(flag, 0);
    for (int i = 0; i < c.N; ++i)
    {
      // |L(i, j)| <= sqrt(A(i, i)).
      const double tol = 4.0 * (a.Len(i) + 1) * FLT_EPSILON * std::sqrt(a.D[i]);
      for (int j = i - a.Len(i); j <= i; ++j)
      {
        ASSERT_NEAR(once.At(i, j), plain.At(i, j), tol) << "L(" << i << ", " << j << ")";
      }
    }
    std::vector<float> y = b;
    std::vector<float> yPlain = b;
    solve_lower_envelope(c.N, once.X.data(), once.E.data(), once.D.data(), y.data());
    PlainLower(c.N, once.X.data(), once.E.data(), once.D.data(), yPlain.data());
    const std::vector<double> yScale(yPlain.begin(), yPlain.end());
    for (int i = 0; i < c.N; ++i)
    {
      ASSERT_NEAR(y[i], yPlain[i], 4.0 * (maxLen + 1) * FLT_EPSILON * MaxAbs(yScale)) << "y[" << i << "]";
    }

    // Leading zeros stay zero; a zero right-hand side gives exact zeros.
    const int k = c.N / 2;
    std::fill(y.begin(), y.end(), 1.0f);
    std::fill(y.begin(), y.begin() + k, 0.0f);
    solve_lower_envelope(c.N, once.X.data(), once.E.data(), once.D.data(), y.data());
    EXPECT_EQ(std::count(y.begin(), y.begin() + k, 0.0f), k);
    std::vector<float> zero(c.N, 0.0f);
    ASSERT_EQ(envelope_cholesky(2, zero.data()), 0);
    EXPECT_EQ(zero, std::vector<float>(c.N, 0.0f));
  }
}

// Row lengths of an ordering of scattered points over a band: nearly as long
// as the band, first columns creeping forward unevenly; with gaps, empty and
// short rows among them.
std::vector<int> BandedLengths(int n, int band, bool gaps)
{
  std::vector<int> lengths(n);
  for (int i = 0; i < n; ++i)
  {
    int len = std::min(i, band - (i * 7) % 11 - (band >= 500 && i % 5 == 0 ? 12 : 0));
    if (gaps && i % 29 == 3)
    {
      len = 0;
    }
    else if (gaps && i % 13 == 0)
    {
      len = std::min(i, 5);
    }
    lengths[i] = std::max(0, len);
  }
  return lengths;
}

// Rows as an ordering of scattered points gives them: nearly as long as the
// band, first columns creeping forward unevenly, so that rows factorised
// together start in different columns, and orders that leave a short last
// block. Long bands run the tiles of four finished rows, with heads both
// short and long; gaps put empty and short rows among them (a block row that
// starts after the columns of the tile, a finished row too short for one).
// Factor and solution against the plain reference and a residual.
TEST_F(EnvelopeCholeskyTest, BandedRowsAgreeWithThePlainFactorisation)
{
  struct Shape
  {
    int N;
    int Band;
    bool Gaps;
  };
  for (const Shape shape : { Shape{ 5, 97, false }, Shape{ 6, 97, false }, Shape{ 7, 97, false },
         Shape{ 8, 97, false }, Shape{ 203, 97, false }, Shape{ 702, 97, false },
         Shape{ 1303, 600, false }, Shape{ 1100, 520, true }, Shape{ 260, 40, true } })
  {
    const int n = shape.N;
    const int band = shape.Band;
    SCOPED_TRACE(testing::Message() << "n " << n << ", band " << band << ", gaps " << shape.Gaps);
    const Envelope a = DominantRows(n, BandedLengths(n, band, shape.Gaps));

    Envelope fast = a;
    Envelope plain = a;
    int flag = 0;
    int plainFlag = 0;
    factor_envelope(n, fast.X.data(), fast.E.data(), fast.D.data(), &flag);
    PlainFactor(plain, &plainFlag);
    ASSERT_EQ(flag, 0);
    ASSERT_EQ(plainFlag, 0);
    for (int i = 0; i < n; ++i)
    {
      const double tol = 4.0 * (a.Len(i) + 1) * FLT_EPSILON * std::sqrt(a.D[i]);
      for (int j = i - a.Len(i); j <= i; ++j)
      {
        ASSERT_NEAR(fast.At(i, j), plain.At(i, j), tol) << "L(" << i << ", " << j << ")";
      }
    }

    std::vector<float> b(n);
    for (int i = 0; i < n; ++i)
    {
      b[i] = static_cast<float>(i % 13) - 6.0f;
    }
    std::vector<float> x = b;
    fast.Install();
    ASSERT_EQ(envelope_cholesky(2, x.data()), 0);
    const std::vector<double> full = Full(a);
    const std::vector<double> xd(x.begin(), x.end());
    double aNorm = 0.0;
    for (int i = 0; i < n; ++i)
    {
      double rowAbs = 0.0;
      for (int j = 0; j < n; ++j)
      {
        rowAbs += std::fabs(full[i * n + j]);
      }
      aNorm = std::max(aNorm, rowAbs);
    }
    const double gamma = 2.0 * (band + 2) * FLT_EPSILON;
    for (int i = 0; i < n; ++i)
    {
      double ax = 0.0;
      for (int j = 0; j < n; ++j)
      {
        ax += full[i * n + j] * x[j];
      }
      ASSERT_NEAR(ax, b[i], gamma * aNorm * MaxAbs(xd)) << "(Ax - b)[" << i << "]";
    }
  }
}

// Several right-hand sides in one pass give, bit for bit, what one forward
// and one backward solve give each of them: random factors with empty rows
// and zeros inside the rows, right-hand sides with leading zeros of different
// lengths (negative zeros among them), a single late nonzero, zeros
// throughout, and more of them than one pass carries.
namespace
{
// Solves the right-hand sides b with L in one pass, count of them at a time,
// and expects each result bit for bit equal to its own pair of solves.
void ExpectSameAsSingleSolves(const Envelope& l, const std::vector<std::vector<float>>& b)
{
  const int n = l.N();
  for (const size_t count : { size_t(1), size_t(5), b.size() })
  {
    std::vector<std::vector<float>> many(b.begin(), b.begin() + std::min(count, b.size()));
    std::vector<float*> columns;
    for (std::vector<float>& v : many)
    {
      columns.push_back(v.data());
    }
    solve_envelope_columns(n, l.X.data(), l.E.data(), l.D.data(), static_cast<int>(many.size()),
      columns.data());
    for (size_t r = 0; r < many.size(); ++r)
    {
      std::vector<float> one = b[r];
      solve_lower_envelope(n, l.X.data(), l.E.data(), l.D.data(), one.data());
      solve_upper_envelope(n, l.X.data(), l.E.data(), l.D.data(), one.data());
      EXPECT_TRUE(SameBits(many[r], one)) << "right-hand side " << r << " of " << many.size();
    }
  }
}
} // namespace

// Several right-hand sides in one pass give, bit for bit, what one forward
// and one backward solve give each of them: random factors with empty rows
// and zeros inside the rows, right-hand sides with leading zeros of different
// lengths (negative zeros among them), a single late nonzero, zeros
// throughout, and more of them than one pass carries. Then products of 2^60
// and -2^60 beside ones, placed so that any other grouping of the four
// partial sums, or a tail added to another one, changes the result.
TEST_F(EnvelopeCholeskyTest, SeveralRightHandSidesMatchSingleSolves)
{
  struct Case { unsigned Seed; int N, MaxLen; double Empty; };
  for (const Case& c : { Case{ 11, 1, 0, 0 }, Case{ 12, 9, 8, 0.3 }, Case{ 13, 300, 120, 0.2 },
         Case{ 14, 700, 699, 0.02 } })
  {
    SCOPED_TRACE(testing::Message() << "seed " << c.Seed << " n " << c.N);
    Envelope a = RandomSpd(c.Seed, c.N, c.MaxLen, c.Empty, 0.2);
    int flag = 0;
    factor_envelope(c.N, a.X.data(), a.E.data(), a.D.data(), &flag);
    ASSERT_EQ(flag, 0);

    std::mt19937 random(c.Seed);
    std::uniform_real_distribution<float> value(-10.0f, 10.0f);
    std::vector<std::vector<float>> b;
    for (const int zeros : { 0, c.N / 3, c.N - 1, c.N, c.N / 2, 0, 1, 2 * c.N / 3 })
    {
      std::vector<float> v(c.N);
      std::generate(v.begin(), v.end(), [&] { return value(random); });
      std::fill(v.begin(), v.begin() + zeros, b.size() % 2 == 0 ? 0.0f : -0.0f);
      for (int i = zeros; i < c.N; i += 7)
      {
        v[i] = 0.0f;
      }
      b.push_back(v);
    }
    b.back().assign(c.N, 0.0f);
    b.back().back() = 3.0f;
    ExpectSameAsSingleSolves(a, b);
  }

  // Rows 0 .. 5 empty, row 6 all ones over columns 0 .. 5 (one group of four
  // and a tail of two), unit diagonal.
  Envelope l;
  for (int i = 0; i < 6; ++i)
  {
    l.Row({}, 1.0f);
  }
  l.Row(std::vector<float>(6, 1.0f), 1.0f);
  const float big = std::ldexp(1.0f, 60);
  std::vector<std::vector<float>> b = { { 1, 0, big, -big, 0, 0, 5 },
    { big, -big, 1, 0, 0, 0, 5 }, { 0, 1, big, 0, -big, 0, 5 }, { big, 0, 0, 1, -big, 0, 5 },
    { 0, 0, 0, 0, big, -big, 5 }, { -big, 1, 0, 0, big, 1, 5 } };
  ExpectSameAsSingleSolves(l, b);
}

// L L^T against A on envelopes that reach every case of the blocked kernels:
// full rows (every length modulo eight, tiles from the start of the row), and
// rows whose first columns step up unevenly (finished rows of a tile that do
// not start together, runs too short for a tile).
TEST_F(EnvelopeCholeskyTest, FactorsMultiplyBackToTheMatrix)
{
  for (const int reach : { 1000, 37 })
  {
    SCOPED_TRACE(testing::Message() << "rows of up to " << reach << " entries");
    const int n = 90;
    std::vector<int> lengths(n);
    for (int i = 0; i < n; ++i)
    {
      lengths[i] = std::min(i, reach - (i * 5) % 7);
    }
    const Envelope a = DominantRows(reach, lengths);
    Envelope l = a;
    int flag = 0;
    factor_envelope(n, l.X.data(), l.E.data(), l.D.data(), &flag);
    ASSERT_EQ(flag, 0);
    for (int i = 0; i < n; ++i)
    {
      for (int j = i - a.Len(i); j <= i; ++j)
      {
        // (L L^T)(i, j) over the columns both rows of L hold, in double.
        double p = 0.0;
        for (int k = std::max(i - l.Len(i), j - l.Len(j)); k <= j; ++k)
        {
          p += static_cast<double>(l.At(i, k)) * l.At(j, k);
        }
        const double tol = 4.0 * (a.Len(i) + 1) * FLT_EPSILON * std::sqrt(a.D[i] * a.D[j]);
        ASSERT_NEAR(p, a.At(i, j), tol) << "(L L^T)(" << i << ", " << j << ")";
      }
    }
  }
}

// The AVX-512 kernels and the portable ones (the AVX2 clones on a processor
// that has AVX2) give the same factor, bit for bit, on the banded shapes and
// on full rows of every length modulo eight. Where the processor has no
// AVX-512 both runs take the portable kernels; envelope_cpus.sh compares
// the instruction sets under an emulator.
TEST_F(EnvelopeCholeskyTest, WideAndPortableKernelsGiveTheSameFactor)
{
  std::vector<std::vector<int>> shapes = { BandedLengths(1303, 600, false),
    BandedLengths(1100, 520, true), BandedLengths(260, 40, true), BandedLengths(7, 97, false) };
  std::vector<int> full(90);
  for (int i = 0; i < 90; ++i)
  {
    full[i] = i;
  }
  shapes.push_back(full);
  for (const std::vector<int>& lengths : shapes)
  {
    const int n = static_cast<int>(lengths.size());
    SCOPED_TRACE(testing::Message() << "n " << n << ", longest row " << lengths.back());
    const Envelope a = DominantRows(n + 1, lengths);
    Envelope wide = a;
    Envelope portable = a;
    int wideFlag = 0;
    int portableFlag = 0;
    factor_envelope(n, wide.X.data(), wide.E.data(), wide.D.data(), &wideFlag);
    envelope_wide_kernels(0);
    factor_envelope(n, portable.X.data(), portable.E.data(), portable.D.data(), &portableFlag);
    envelope_wide_kernels(1);
    ASSERT_EQ(wideFlag, 0);
    ASSERT_EQ(portableFlag, 0);
    ASSERT_EQ(0, memcmp(wide.E.data(), portable.E.data(), sizeof(float) * wide.E.size()));
    ASSERT_EQ(0, memcmp(wide.D.data(), portable.D.data(), sizeof(float) * wide.D.size()));
  }
}

// With 2^30 and -2^30 among the products, a float sum in any grouping would
// lose some of the ones: row 17 holds seventeen ones, rows 1 .. 16 are empty.
TEST_F(EnvelopeCholeskyTest, InnerProductsAreSummedInDouble)
{
  Envelope l;
  for (int i = 0; i < 17; ++i)
  {
    l.Row({}, 1.0f);
  }
  l.Row(std::vector<float>(17, 1.0f), 1.0f);
  std::vector<float> b(18, 1.0f);
  b[0] = 1073741824.0f;
  b[9] = -1073741824.0f;
  b[17] = 0.0f;
  solve_lower_envelope(18, l.X.data(), l.E.data(), l.D.data(), b.data());
  EXPECT_EQ(b[17], -15.0f);
}

TEST_F(EnvelopeCholeskyTest, OrderOneAndEmptyRow)
{
  Envelope a;
  a.Row({}, 2.0f);
  a.Install();
  float rhs = 5.0f;
  EXPECT_EQ(envelope_cholesky(0, &rhs), 0);
  const float d = static_cast<float>(std::sqrt(2.0));
  EXPECT_EQ(a.D[0], d);
  EXPECT_EQ(rhs, static_cast<float>(static_cast<float>(5.0 / d) / d));

  // A row with an empty envelope: only its diagonal is replaced by the root.
  Envelope b = Small();
  b.Row({}, 9.0f);
  int flag = 0;
  factor_envelope(3, b.X.data(), b.E.data(), b.D.data(), &flag);
  EXPECT_EQ(flag, 0);
  EXPECT_EQ(b.D, (std::vector<float>{ 2.0f, 3.0f, 3.0f }));
  EXPECT_EQ(b.E, (std::vector<float>{ 1.0f }));
}

// Diag[0] <= 0 or NaN: the flag goes up, nothing changes; modes 0 and 1 print
// the warning and mode 0 still solves on the arrays as they are.
TEST_F(EnvelopeCholeskyTest, FirstPivotNotPositive)
{
  for (float d0 : { 0.0f, -4.0f, std::numeric_limits<float>::quiet_NaN() })
  {
    Envelope original = Small();
    original.D[0] = d0;
    for (int mode : { 1, 0 })
    {
      Iflag = 0;
      Envelope a = original;
      a.Install();
      std::vector<float> rhs = { 1.0f, 2.0f };
      std::vector<float> expected = rhs;
      if (mode == 0)
      {
        solve_lower_envelope(2, original.X.data(), original.E.data(), original.D.data(), expected.data());
        solve_upper_envelope(2, original.X.data(), original.E.data(), original.D.data(), expected.data());
      }
      testing::internal::CaptureStdout();
      EXPECT_EQ(envelope_cholesky(mode, rhs.data()), 1);
      EXPECT_EQ(testing::internal::GetCapturedStdout(), Warning) << "mode " << mode << ", d0 " << d0;
      EXPECT_TRUE(a.Same(original)) << "mode " << mode << ", d0 " << d0;
      EXPECT_TRUE(SameBits(rhs, expected)) << "mode " << mode << ", d0 " << d0;
    }
  }
}

// A = [1 2 0; 2 1 1; 0 1 5]: row 1 fails and keeps A(1, 1) = 1, row 2 is
// still factorised with it: L(2, 1) = 1 / 1, L(2, 2) = sqrt(5 - 1).
TEST_F(EnvelopeCholeskyTest, LaterPivotNotPositive)
{
  Envelope a;
  a.Row({}, 1.0f);
  a.Row({ 2.0f }, 1.0f);
  a.Row({ 1.0f }, 5.0f);
  a.Install();
  testing::internal::CaptureStdout();
  EXPECT_EQ(envelope_cholesky(1, nullptr), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), Warning);
  EXPECT_EQ(a.D, (std::vector<float>{ 1.0f, 1.0f, 2.0f }));
  EXPECT_EQ(a.E, (std::vector<float>{ 2.0f, 1.0f }));
}

// The flag is never cleared here: a good factorisation after a failed one
// still reports it, and the kernel never stores 0.
TEST_F(EnvelopeCholeskyTest, FlagIsSticky)
{
  for (int mode : { 1, 0 })
  {
    Envelope a = Small();
    a.Install();
    Iflag = 1;
    std::vector<float> rhs = { 4.0f, 2.0f };
    testing::internal::CaptureStdout();
    EXPECT_EQ(envelope_cholesky(mode, rhs.data()), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), Warning) << "mode " << mode;
    EXPECT_EQ(a.D, (std::vector<float>{ 2.0f, 3.0f }));
  }
  Envelope b = Small();
  int flag = 1;
  factor_envelope(2, b.X.data(), b.E.data(), b.D.data(), &flag);
  EXPECT_EQ(flag, 1);
}

// Modes outside 0 .. 2 change nothing and return the flag; mode 1 leaves rhs
// alone. Nothing is printed while the flag is down.
TEST_F(EnvelopeCholeskyTest, ModesThatDoNotSolve)
{
  const std::vector<float> b = { 1.0f, -2.0f };
  for (int flag : { 0, 1 })
  {
    for (int mode : { -1, 3 })
    {
      Envelope a = Small();
      a.Install();
      Iflag = flag;
      std::vector<float> rhs = b;
      testing::internal::CaptureStdout();
      EXPECT_EQ(envelope_cholesky(mode, rhs.data()), flag);
      EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << "mode " << mode;
      EXPECT_EQ(rhs, b) << "mode " << mode;
      EXPECT_TRUE(a.Same(Small())) << "mode " << mode;
    }
  }
  Envelope a = Small();
  a.Install();
  Iflag = 0;
  std::vector<float> rhs = b;
  testing::internal::CaptureStdout();
  EXPECT_EQ(envelope_cholesky(1, rhs.data()), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(rhs, b);
  EXPECT_EQ(a.D, (std::vector<float>{ 2.0f, 3.0f }));
}
