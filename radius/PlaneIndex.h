#ifndef PlaneIndex_h
#define PlaneIndex_h

#include "RadiusChooser.h"

#include <cstdint>
#include <vector>

/**
 * A bucket grid over points of the plane, for the nearest point and for the
 * points within a distance. The cells are sized for a few points each.
 */
class PlaneIndex
{
public:
  explicit PlaneIndex(const PlanePoints& points);

  /// Index of the point nearest to q other than skip (-1: none skipped), and
  /// its distance in distance; -1 when there is no such point.
  int Nearest(const std::array<double, 2>& q, double* distance, int skip = -1) const;

  /// Appends to found the indices of the points within r of q (d <= r).
  void Within(const std::array<double, 2>& q, double r, std::vector<int>& found) const;

private:
  const PlanePoints& Points;
  double Origin[2] = { 0.0, 0.0 };
  double Cell = 1.0;
  int Size[2] = { 1, 1 };
  std::vector<int> Start; // points of cell c: Ids[Start[c] .. Start[c + 1])
  std::vector<int> Ids;

  int CellIndex(double v, int axis) const;
};

#endif
