#include "KrigingReference.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace
{
constexpr int VariogramBins = 11;
constexpr int PairsPerBin = 20; // a bin counts with more pairs than this
constexpr double LowestExponent = 0.1;
constexpr double HighestExponent = 1.9;
constexpr int StationaryBins = 15;
constexpr int RangeSteps = 40;

double Distance(const std::array<double, 2>& a, const std::array<double, 2>& b)
{
  return std::hypot(a[0] - b[0], a[1] - b[1]);
}

// Solves a x = b in place (a: n x n, row after row; b becomes x) by Gaussian
// elimination with partial pivoting. False when a pivot vanishes against
// the largest entry of the matrix (below 1e-13 n times it).
bool SolveInPlace(std::vector<double>& a, std::vector<double>& b, int n)
{
  double largest = 0.0;
  for (const double v : a)
  {
    largest = std::max(largest, std::fabs(v));
  }
  const double tiny = largest * 1e-13 * n;
  for (int k = 0; k < n; ++k)
  {
    int pivot = k;
    for (int r = k + 1; r < n; ++r)
    {
      if (std::fabs(a[static_cast<size_t>(r) * n + k]) > std::fabs(a[static_cast<size_t>(pivot) * n + k]))
      {
        pivot = r;
      }
    }
    if (!(std::fabs(a[static_cast<size_t>(pivot) * n + k]) > tiny))
    {
      return false;
    }
    if (pivot != k)
    {
      std::swap_ranges(a.begin() + static_cast<std::ptrdiff_t>(k) * n,
        a.begin() + static_cast<std::ptrdiff_t>(k + 1) * n,
        a.begin() + static_cast<std::ptrdiff_t>(pivot) * n);
      std::swap(b[k], b[pivot]);
    }
    const double* row = &a[static_cast<size_t>(k) * n];
    for (int r = k + 1; r < n; ++r)
    {
      double* target = &a[static_cast<size_t>(r) * n];
      const double f = target[k] / row[k];
      if (f == 0.0)
      {
        continue;
      }
      for (int c = k; c < n; ++c)
      {
        target[c] -= f * row[c];
      }
      b[r] -= f * b[k];
    }
  }
  for (int k = n - 1; k >= 0; --k)
  {
    const double* row = &a[static_cast<size_t>(k) * n];
    double s = b[k];
    for (int c = k + 1; c < n; ++c)
    {
      s -= row[c] * b[c];
    }
    b[k] = s / row[k];
  }
  return true;
}

// Semivariances of values over pairs of points, binned by distance.
struct Semivariogram
{
  double Closest = 0.0;  // distance of the closest pair apart
  double Farthest = 0.0; // and of the farthest
  // The bins kept: mean distance, mean semivariance and pair count of each.
  std::vector<double> Distance, Semivariance, Pairs;
};

// The pairs no farther apart than upper (0: the farthest pair) in bins
// spaced evenly on a log scale from the closest pair to upper, bin b
// holding closest * step^b <= d < closest * step^(b+1) (the last one up to
// upper); the bins of more than PairsPerBin pairs and some variation are
// kept. Coincident points pair with nothing; without two distinct points,
// or with upper not beyond the closest pair, no bin is kept.
Semivariogram BinnedSemivariances(
  const PlanePoints& points, const std::vector<double>& values, int bins, double upper)
{
  Semivariogram binned;
  const size_t n = points.size();
  binned.Closest = std::numeric_limits<double>::max();
  for (size_t i = 0; i < n; ++i)
  {
    for (size_t j = i + 1; j < n; ++j)
    {
      const double d = Distance(points[i], points[j]);
      if (d > 0.0)
      {
        binned.Closest = std::min(binned.Closest, d);
        binned.Farthest = std::max(binned.Farthest, d);
      }
    }
  }
  const double closest = binned.Closest;
  const double longest = upper > 0.0 ? upper : binned.Farthest;
  if (!(closest < longest))
  {
    return binned;
  }
  const double logStep = std::log(longest / closest) / bins;
  std::vector<double> sumD(static_cast<size_t>(bins), 0.0);
  std::vector<double> sumG(static_cast<size_t>(bins), 0.0);
  std::vector<int> count(static_cast<size_t>(bins), 0);
  for (size_t i = 0; i < n; ++i)
  {
    for (size_t j = i + 1; j < n; ++j)
    {
      const double d = Distance(points[i], points[j]);
      if (!(d > 0.0) || d > longest)
      {
        continue;
      }
      const size_t b = static_cast<size_t>(
        std::min(bins - 1, static_cast<int>(std::log(d / closest) / logStep)));
      const double dz = values[i] - values[j];
      sumD[b] += d;
      sumG[b] += 0.5 * dz * dz;
      ++count[b];
    }
  }
  for (size_t b = 0; b < static_cast<size_t>(bins); ++b)
  {
    if (count[b] > PairsPerBin && sumG[b] > 0.0)
    {
      binned.Distance.push_back(sumD[b] / count[b]);
      binned.Semivariance.push_back(sumG[b] / count[b]);
      binned.Pairs.push_back(count[b]);
    }
  }
  return binned;
}

// The kriging prediction at the queries from the values at the points, with
// the (generalised) covariance g(d) and a linear drift: the weights w and
// drift coefficients c solve [G T; T^T 0] [w; c] = [values; 0] with
// G_ij = g(|p_i - p_j|) and T_i = (1, x_i, y_i), and the prediction at q is
// sum_i w_i g(|q - p_i|) + c . (1, x, y).
template <typename Covariance>
bool Krige(const PlanePoints& points, const std::vector<double>& values, Covariance g,
  const PlanePoints& queries, std::vector<double>& predicted)
{
  predicted.clear();
  const int n = static_cast<int>(points.size());
  const int m = n + 3;
  if (n < 3)
  {
    return false;
  }
  std::vector<double> a(static_cast<size_t>(m) * m, 0.0);
  std::vector<double> b(static_cast<size_t>(m), 0.0);
  for (int i = 0; i < n; ++i)
  {
    double* row = &a[static_cast<size_t>(i) * m];
    for (int j = 0; j < n; ++j)
    {
      row[j] = g(i == j ? 0.0 : Distance(points[i], points[j]));
    }
    row[n] = 1.0;
    row[n + 1] = points[i][0];
    row[n + 2] = points[i][1];
    a[static_cast<size_t>(n) * m + i] = 1.0;
    a[static_cast<size_t>(n + 1) * m + i] = points[i][0];
    a[static_cast<size_t>(n + 2) * m + i] = points[i][1];
    b[i] = values[i];
  }
  if (!SolveInPlace(a, b, m))
  {
    return false;
  }
  for (const auto& q : queries)
  {
    double s = b[n] + b[n + 1] * q[0] + b[n + 2] * q[1];
    for (int i = 0; i < n; ++i)
    {
      s += b[i] * g(Distance(q, points[i]));
    }
    if (!std::isfinite(s))
    {
      predicted.clear();
      return false;
    }
    predicted.push_back(s);
  }
  return true;
}
} // namespace

//------------------------------------------------------------------------------
double VariogramExponent(
  const PlanePoints& points, const std::vector<double>& values, double longest)
{
  const Semivariogram binned = BinnedSemivariances(points, values, VariogramBins, longest);
  // Least-squares slope of log(mean semivariance) against log(mean distance).
  double sx = 0.0, sy = 0.0, sxx = 0.0, sxy = 0.0;
  const int bins = static_cast<int>(binned.Distance.size());
  for (int b = 0; b < bins; ++b)
  {
    const double x = std::log(binned.Distance[static_cast<size_t>(b)]);
    const double y = std::log(binned.Semivariance[static_cast<size_t>(b)]);
    sx += x;
    sy += y;
    sxx += x * x;
    sxy += x * y;
  }
  const double spread = bins * sxx - sx * sx;
  if (bins < 2 || !(spread > 0.0))
  {
    return 1.0;
  }
  const double slope = (bins * sxy - sx * sy) / spread;
  return std::isfinite(slope) ? std::clamp(slope, LowestExponent, HighestExponent) : 1.0;
}

//------------------------------------------------------------------------------
bool IntrinsicKriging(const PlanePoints& points, const std::vector<double>& values,
  double alpha, const PlanePoints& queries, std::vector<double>& predicted)
{
  return Krige(
    points, values, [alpha](double d) { return d > 0.0 ? -std::pow(d, alpha) : 0.0; }, queries,
    predicted);
}

//------------------------------------------------------------------------------
StableVariogram FitStableVariogram(const std::vector<double>& distance,
  const std::vector<double>& semivariance, const std::vector<double>& pairs, double shortest,
  double longest)
{
  StableVariogram best;
  const size_t bins = distance.size();
  if (bins < 2 || !(shortest > 0.0) || !(longest > shortest))
  {
    return best;
  }
  const double shapes[] = { 0.5, 0.75, 1.0, 1.25, 1.5, 1.75, 1.95 };
  double bestMisfit = std::numeric_limits<double>::max();
  std::vector<double> rise(bins);
  for (int r = 0; r < RangeSteps; ++r)
  {
    const double range = shortest * std::pow(longest / shortest, r / (RangeSteps - 1.0));
    for (const double shape : shapes)
    {
      double fg = 0.0, ff = 0.0;
      for (size_t b = 0; b < bins; ++b)
      {
        rise[b] = 1.0 - std::exp(-std::pow(distance[b] / range, shape));
        fg += pairs[b] * rise[b] * semivariance[b];
        ff += pairs[b] * rise[b] * rise[b];
      }
      if (!(ff > 0.0))
      {
        continue;
      }
      const double sill = fg / ff;
      double misfit = 0.0;
      for (size_t b = 0; b < bins; ++b)
      {
        const double e = std::log(sill * rise[b] + 1e-300) - std::log(semivariance[b]);
        misfit += pairs[b] * e * e;
      }
      if (misfit < bestMisfit)
      {
        bestMisfit = misfit;
        best.Range = range;
        best.Shape = shape;
        best.Sill = sill;
      }
    }
  }
  return best;
}

//------------------------------------------------------------------------------
StableVariogram StationaryVariogram(
  const PlanePoints& points, const std::vector<double>& values, double longestRange)
{
  const size_t n = points.size();
  if (n < 4)
  {
    return {};
  }
  // The least-squares plane c0 + c1 x + c2 y, from its normal equations.
  std::vector<double> normal(9, 0.0);
  std::vector<double> plane(3, 0.0);
  for (size_t i = 0; i < n; ++i)
  {
    const double t[3] = { 1.0, points[i][0], points[i][1] };
    for (int r = 0; r < 3; ++r)
    {
      for (int c = 0; c < 3; ++c)
      {
        normal[static_cast<size_t>(3 * r + c)] += t[r] * t[c];
      }
      plane[static_cast<size_t>(r)] += t[r] * values[i];
    }
  }
  if (!SolveInPlace(normal, plane, 3))
  {
    return {};
  }
  std::vector<double> residual(n);
  for (size_t i = 0; i < n; ++i)
  {
    residual[i] = values[i] - (plane[0] + plane[1] * points[i][0] + plane[2] * points[i][1]);
  }

  const Semivariogram binned = BinnedSemivariances(points, residual, StationaryBins, 0.0);
  return FitStableVariogram(binned.Distance, binned.Semivariance, binned.Pairs,
    std::max(binned.Closest, 1e-3), longestRange);
}

//------------------------------------------------------------------------------
bool UniversalKriging(const PlanePoints& points, const std::vector<double>& values,
  const StableVariogram& model, const PlanePoints& queries, std::vector<double>& predicted)
{
  predicted.clear();
  if (!(model.Range > 0.0))
  {
    return false;
  }
  const double range = model.Range;
  const double shape = model.Shape;
  return Krige(
    points, values, [range, shape](double d) { return std::exp(-std::pow(d / range, shape)); },
    queries, predicted);
}
