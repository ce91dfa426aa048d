#include "GetWellOderredList.h"
#include "NeighbourSearch.h"

#include <vtkPointLocator.h>
#include <vtkPoints.h>

#include <climits>
#include <new>
#include <vector>

int* GetWellOderredList(int* max, int n, float radius, vtkPoints* points, vtkPointLocator* tree)
{
  const int empty = INT_MAX;
  *max = 0;

  int count = n > 0 ? n : 0;
  int* result = new (std::nothrow) int[count];
  int* label = new (std::nothrow) int[count];
  if (result == nullptr || label == nullptr)
  {
    delete[] result;
    delete[] label;
    throw "GetWellOderredList: Can not allocate result array!";
  }
  for (int i = 0; i < count; ++i)
  {
    result[i] = empty;
    label[i] = empty;
  }

  // One neighbour list serves every query: the search empties it first. The
  // search answers as the locator does, in the locator's order.
  std::vector<int> neighbours;
  NeighbourSearch search(tree, points, radius);
  const double* coordinates = search.GetCoordinates();
  // Every id below this cursor has been placed, so a new component starts at
  // the first unplaced id at or after it.
  int lowestUnplaced = 0;
  int head = 0;
  int tail = 0;
  while (tail < n)
  {
    if (head == tail)
    {
      while (label[lowestUnplaced] != empty)
      {
        ++lowestUnplaced;
      }
      result[head] = lowestUnplaced;
      label[lowestUnplaced] = head;
      ++tail;
    }

    int p = result[head];
    search.FindPointsWithinRadius(coordinates + 3 * static_cast<size_t>(p), neighbours);
    for (const int q : neighbours)
    {
      if (label[q] != empty)
      {
        continue;
      }
      if (tail - head > *max)
      {
        *max = tail - head;
      }
      result[tail] = q;
      label[q] = tail;
      ++tail;
    }
    ++head;
  }

  delete[] label;
  return result;
}
