#ifndef NeighbourSearch_h
#define NeighbourSearch_h

#include <vtkType.h>

#include <cstdint>
#include <utility>
#include <vector>

class vtkIdList;
class vtkPointLocator;
class vtkPoints;

/**
 * Fixed-radius neighbour search that answers exactly as a vtkPointLocator
 * built over the same points does, in the same order, but in time that does
 * not grow with the number of points.
 *
 * The neighbourhood ordering and the spline evaluation take neighbours in the
 * order the point locator returns them, so that order is part of the result.
 * The locator returns the points of the buckets that overlap the search
 * sphere, bucket after bucket in increasing (i, j, k) with k running fastest,
 * the points of each bucket in increasing id, and the points of the bucket
 * that holds the query point last. With its default settings the locator
 * sizes its buckets for points spread through a volume; the points here lie
 * in a plane (the frame points aside), so its buckets hold many points each
 * and every query scans a number of them that grows with the point count.
 *
 * This search finds the same points through a grid of cells as wide as the
 * radius, then sorts them by the locator's bucket (the bucket of each point
 * is asked of the locator itself) and by id. A point is within the radius
 * when its squared distance, computed as the locator computes it, is not
 * greater than the squared radius.
 */
class NeighbourSearch
{
public:
  /**
   * Indexes points for searches of the given radius. tree must be a locator
   * over the same points with the same ids; it is brought up to date here.
   * Neither is kept beyond the object's life, and neither may change while
   * the object is used.
   */
  NeighbourSearch(vtkPointLocator* tree, vtkPoints* points, double radius);

  /**
   * Replaces the ids in result with those of the points within the radius of
   * x, in the order tree->FindPointsWithinRadius(radius, x, result) gives.
   */
  void FindPointsWithinRadius(const double x[3], vtkIdList* result);

private:
  vtkPointLocator* Tree;
  double Radius;
  double Radius2;
  std::vector<double> Coordinates;  // x, y, z of each point
  std::vector<std::int64_t> Bucket; // the locator's bucket of each point, in its scan order

  double Origin[3];
  double InverseCell[3];
  int Cells[3];
  std::vector<int> CellStart; // points of cell c: CellPoints[CellStart[c] .. CellStart[c + 1])
  std::vector<int> CellPoints;

  std::vector<std::pair<std::int64_t, vtkIdType>> Found;

  std::int64_t BucketOf(const double x[3]) const;
  int CellIndex(double v, int axis) const;
};

#endif
