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

double Distance(const std::array<double, 2>& a, const std::array<double, 2>& b)
{
  return std::hypot(a[0] - b[0], a[1] - b[1]);
}

// Solves a x = b in place (a: n x n, row after row; b becomes x) by Gaussian
// elimination with partial pivoting. False when a pivot vanishes against
// the size of its column.
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
} // namespace

//------------------------------------------------------------------------------
double VariogramExponent(
  const PlanePoints& points, const std::vector<double>& values, double longest)
{
  const size_t n = points.size();
  double closest = std::numeric_limits<double>::max();
  for (size_t i = 0; i < n; ++i)
  {
    for (size_t j = i + 1; j < n; ++j)
    {
      const double d = Distance(points[i], points[j]);
      if (d > 0.0)
      {
        closest = std::min(closest, d);
      }
    }
  }
  if (!(closest < longest))
  {
    return 1.0;
  }
  // Bin b holds the pairs with closest * step^b <= d < closest * step^(b+1).
  const double logStep = std::log(longest / closest) / VariogramBins;
  double sumD[VariogramBins] = {};
  double sumG[VariogramBins] = {};
  int count[VariogramBins] = {};
  for (size_t i = 0; i < n; ++i)
  {
    for (size_t j = i + 1; j < n; ++j)
    {
      const double d = Distance(points[i], points[j]);
      if (!(d > 0.0) || d > longest)
      {
        continue;
      }
      const int b = std::min(VariogramBins - 1,
        static_cast<int>(std::log(d / closest) / logStep));
      const double dz = values[i] - values[j];
      sumD[b] += d;
      sumG[b] += 0.5 * dz * dz;
      ++count[b];
    }
  }
  // Least-squares slope of log(mean semivariance) against log(mean distance).
  double sx = 0.0, sy = 0.0, sxx = 0.0, sxy = 0.0;
  int bins = 0;
  for (int b = 0; b < VariogramBins; ++b)
  {
    if (count[b] <= PairsPerBin || !(sumG[b] > 0.0))
    {
      continue;
    }
    const double x = std::log(sumD[b] / count[b]);
    const double y = std::log(sumG[b] / count[b]);
    sx += x;
    sy += y;
    sxx += x * x;
    sxy += x * y;
    ++bins;
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
      row[j] = i == j ? 0.0 : -std::pow(Distance(points[i], points[j]), alpha);
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
      const double d = Distance(q, points[i]);
      s -= d > 0.0 ? b[i] * std::pow(d, alpha) : 0.0;
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
