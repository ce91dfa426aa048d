#ifndef GetWellOderredList_h
#define GetWellOderredList_h

class vtkPoints;
class vtkPointLocator;

/**
 * Breadth-first renumbering of a point set by neighbourhood.
 *
 * Two points are neighbours when they lie within radius of each other. The
 * numbering starts at point 0, places the neighbours of each placed point in
 * the order in which the locator returns them, and starts every further
 * component at the lowest point id not yet placed. Neighbours are not sorted
 * by degree and the order is not reversed.
 *
 * @param max    out: the half-bandwidth of the new numbering, the largest
 *               position difference between two neighbours (0 when no point
 *               has a neighbour).
 * @param n      number of points to order, ids 0 .. n-1 of points.
 * @param radius neighbourhood radius in the coordinates of points.
 * @param points the point set; only coordinates and the count are read.
 * @param tree   a locator already built over the same points and ids.
 * @return a new array of n ints (free store, release with delete[]): entry k
 *         is the id of the point at position k.
 *
 * Throws "GetWellOderredList: Can not allocate result array!" (a const char*)
 * when its arrays cannot be allocated.
 */
int* GetWellOderredList(int* max, int n, float radius, vtkPoints* points, vtkPointLocator* tree);

#endif
