#ifndef NeighbourSearch_h
#define NeighbourSearch_h

#include <vtkType.h>

#include <cstddef>
#include <cstdint>
#include <memory>
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
 * This search finds the same points through a grid of columns over x and y,
 * half as wide as the radius (as wide as it when the copies below would take
 * much memory). Each column keeps the points of the five by five (three by
 * three) columns around it, sorted once by the locator's bucket (the bucket of
 * each point is asked of the locator itself) and by id, so that a query only
 * filters one list by distance, in order, and moves the points of its own
 * bucket behind the others. A query whose reach the neighbourhood does not
 * cover (the radius changed by rounding, a query far off the grid) is
 * answered by scanning the columns and sorting what it finds. A point is
 * within the radius when its squared distance, computed as the locator
 * computes it, is not greater than the squared radius.
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
   * The same, for searches to be made around the points (queryX[k],
   * queryY[k], any z), k < queries: only their neighbourhoods are prepared,
   * which saves time and memory when they cover a small part of the points.
   * A search elsewhere still gets the same answer, by a slower scan.
   */
  NeighbourSearch(vtkPointLocator* tree, vtkPoints* points, double radius, const float* queryX,
    const float* queryY, std::size_t queries);

  /**
   * Replaces the ids in result with those of the points within the radius of
   * x, in the order tree->FindPointsWithinRadius(radius, x, result) gives.
   */
  void FindPointsWithinRadius(const double x[3], vtkIdList* result);

  /**
   * The same ids, in the same order, in ids (replaced), without the
   * vtkIdList.
   */
  void FindPointsWithinRadius(const double x[3], std::vector<int>& ids);

  /**
   * The same ids, and in squared[k] the squared distance of point ids[k]
   * from x, as the search computed it for the radius test: (x - p) . (x - p),
   * the three squares added from x to z.
   */
  void FindPointsWithinRadius(
    const double x[3], std::vector<int>& ids, std::vector<double>& squared);

  /**
   * The same ids and squared distances without copying them: they stay in the
   * search's own buffers, where ids and squared point, until its next search.
   * Returns their number.
   */
  std::size_t FindPointsWithinRadius(const double x[3], const int*& ids, const double*& squared);

  /// x, y, z of point id at [3 * id .. 3 * id + 2], as read from the points.
  const double* GetCoordinates() const { return this->Coordinates.data(); }

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
  std::vector<int> ColumnOf; // the cell of each point

  // Candidates of cell c, the points of the cells within Reach columns of it
  // in the locator's order: entries NearStart[c] .. NearStart[c + 1] of the
  // arrays below.
  struct Candidate
  {
    double X[3];
    int Bucket; // rank of the point's bucket among the buckets in use
    int Id;
  };
  int Reach = 0;
  std::vector<std::size_t> NearStart;
  std::unique_ptr<Candidate[]> Near; // filled in full, so left uninitialised when allocated
  std::vector<char> Prepared;        // of each column, when not all are
  std::vector<std::int64_t> Buckets; // the buckets in use, increasing

  // The buckets' (i, j, k) numbered densely over the ranges in use, when
  // they are not many more than the points: the rank among the buckets in
  // use of each, -1 for the others.
  std::int64_t DenseLow[3] = { 0, 0, 0 };
  std::int64_t DenseSpan[3] = { 0, 0, 0 };
  std::vector<int> DenseRank;

  std::vector<std::pair<std::int64_t, int>> Found;
  std::vector<int> KeptIds; // the ids found, and their squared distances
  std::vector<double> KeptSquared;
  std::vector<int> Scanned; // the ids a scan found
  std::vector<int> Result; // the ids handed to a vtkIdList

  std::int64_t BucketOf(const double x[3]) const;
  int CellIndex(double v, int axis) const;
  void Index(vtkPoints* points, bool everyColumn);
  std::vector<int> LocatorOrder();
  size_t DenseIndex(std::int64_t key) const;
  int RankOfBucket(std::int64_t key) const; // -1 for a bucket without points
  // The neighbourhood lists: the points in the locator's order, the rank of
  // each point's bucket among those in use, the lists' lengths (and which
  // columns' points join any prepared list), then the lists.
  void BuildNeighbourhoods();
  std::vector<int> RankBuckets(const std::vector<int>& order);
  std::vector<char> CountLists();
  void FillLists(
    const std::vector<int>& order, const std::vector<int>& rank, const std::vector<char>& feeds);
  template <typename Visit>
  void EachColumnNear(size_t column, Visit&& visit) const; // the columns within Reach of it
  template <bool WithDistances>
  bool FindInNeighbourhood(const double x[3], size_t& found); // into KeptIds (and KeptSquared)
  void FindByScan(const double x[3], std::vector<int>& ids);
  // Appends the candidates begin .. end within the radius of x at ids[found]
  // (and their squared distances); returns the new count.
  template <bool WithDistances>
  size_t Filter(const double x[3], const Candidate* begin, const Candidate* end, int* ids,
    double* squared, size_t found) const;
};

#endif
