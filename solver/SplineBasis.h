#ifndef SplineBasis_h
#define SplineBasis_h

#include <cmath>

/**
 * The basis of the spline, phi(d) = (1 - d/R)^2 for d < R and 0 beyond,
 * between two points given as three floats, evaluated in double precision.
 * radius2 is radius * radius.
 */
inline double SplineBasis(const float* a, const float* b, double radius, double radius2)
{
  const double dx = static_cast<double>(a[0]) - b[0];
  const double dy = static_cast<double>(a[1]) - b[1];
  const double dz = static_cast<double>(a[2]) - b[2];
  const double d2 = dx * dx + dy * dy + dz * dz;
  if (!(d2 < radius2))
  {
    return 0.0;
  }
  const double t = 1.0 - std::sqrt(d2) / radius;
  return t * t;
}

#endif
