#ifndef KrigingReference_h
#define KrigingReference_h

#include "RadiusChooser.h"

#include <vector>

/**
 * The reference predictions that the radius is chosen against: kriging of
 * the heights from the constraint points nearest to the hole.
 *
 * Terrain heights are modelled as a random surface plus a linear trend, in
 * two ways. With a variogram that grows as a power of the distance,
 * gamma(d) = c d^alpha with 0 < alpha < 2 (a fractal surface: rough for a
 * small alpha, smooth for one near 2), the best linear unbiased prediction
 * is intrinsic kriging with the generalised covariance -d^alpha; it carries
 * the slopes around a hole on into it. With a stationary variogram of finite
 * range (StableVariogram) it is universal kriging with that covariance; it
 * forgets the surroundings beyond the range and falls back on the trend.
 * Both drift terms are 1, x, y, and the scale of either variogram drops out.
 * The spline of the repair is not of these forms, but the radius whose
 * spline comes closest to them is a radius chosen from the terrain's own
 * statistics.
 */

/**
 * The exponent alpha of the power-law variogram of the values over the
 * points: pairs closer than longest are binned by distance on a logarithmic
 * scale (11 bins from the closest pair to longest), and alpha is the slope
 * of log(semivariance) against log(distance) fitted by least squares over
 * the bins holding more than 20 pairs. The result is clamped to
 * [0.1, 1.9]; with fewer than two such bins it is 1 (a linear variogram).
 */
double VariogramExponent(
  const PlanePoints& points, const std::vector<double>& values, double longest);

/**
 * The intrinsic kriging prediction at the queries from the values at the
 * points, with generalised covariance -d^alpha and a linear drift: the
 * weights w and drift coefficients c solve
 *
 *     [ G   T ] [ w ]   [ values ]
 *     [ T^T 0 ] [ c ] = [   0    ],   G_ij = -|p_i - p_j|^alpha,
 *                                     T_i = (1, x_i, y_i),
 *
 * and the prediction at q is sum_i w_i (-|q - p_i|^alpha) + c . (1, x, y).
 * It interpolates the values and reproduces a linear function exactly.
 * Solved densely in double (Gaussian elimination with partial pivoting), so
 * meant for a few hundred points. Returns false, with nothing in predicted,
 * when the system is singular (fewer than three points not on one line).
 */
bool IntrinsicKriging(const PlanePoints& points, const std::vector<double>& values,
  double alpha, const PlanePoints& queries, std::vector<double>& predicted);

/**
 * A stationary alternative to the power law: the stable variogram
 * gamma(d) = Sill (1 - exp(-(d / Range)^Shape)), whose covariance
 * Sill exp(-(d / Range)^Shape) is positive definite for 0 < Shape <= 2. Where
 * the power law carries the ring's slopes on into the hole, this model
 * forgets them beyond its range and falls back on the trend.
 */
struct StableVariogram
{
  double Range = 0.0; ///< 0: no model fitted
  double Shape = 0.0;
  double Sill = 0.0;
};

/**
 * The stable variogram closest to binned semivariances: distance[b],
 * semivariance[b] (positive) and pairs[b] of each bin. Range is searched
 * over 40 values spaced evenly on a log scale from shortest to longest,
 * Shape over 0.5, 0.75, ..., 1.75 and 1.95; the sill of each pair is the
 * least-squares one, and the pair kept is the one with the least
 * pair-weighted squared difference of the logarithms. Fewer than two bins
 * give no model (Range 0).
 */
StableVariogram FitStableVariogram(const std::vector<double>& distance,
  const std::vector<double>& semivariance, const std::vector<double>& pairs, double shortest,
  double longest);

/**
 * The stable variogram of the values about their least-squares plane over
 * the points: pairs binned in 15 bins spaced evenly on a log scale from the
 * closest pair to the farthest, bins of more than 20 pairs kept, fitted by
 * FitStableVariogram with ranges from the closest pair (at least 0.001) to
 * longestRange.
 */
StableVariogram StationaryVariogram(
  const PlanePoints& points, const std::vector<double>& values, double longestRange);

/**
 * The universal kriging prediction at the queries from the values at the
 * points, with the covariance exp(-(d / Range)^Shape) of model (the sill
 * drops out) and a linear drift: as IntrinsicKriging with G_ij that
 * covariance. Returns false, with nothing in predicted, without a model or
 * when the system is singular.
 */
bool UniversalKriging(const PlanePoints& points, const std::vector<double>& values,
  const StableVariogram& model, const PlanePoints& queries, std::vector<double>& predicted);

#endif
