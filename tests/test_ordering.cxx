// Breadth-first neighbourhood ordering of the spline points.

#include "GetWellOderredList.h"
#include "NeighbourSearch.h"

#include <gtest/gtest.h>

#include <vtkIdList.h>
#include <vtkNew.h>
#include <vtkPointLocator.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace
{
// A point set with its locator, built the way the reader builds them.
struct PointSet
{
  vtkNew<vtkPoints> Points;
  vtkNew<vtkPolyData> Data;
  vtkNew<vtkPointLocator> Tree;

  explicit PointSet(const std::vector<std::vector<double>>& coords)
  {
    for (const auto& c : coords)
    {
      this->Points->InsertNextPoint(c[0], c[1], c[2]);
    }
    this->Data->SetPoints(this->Points);
    this->Tree->Initialize();
    this->Tree->SetDataSet(this->Data);
    if (!coords.empty())
    {
      this->Tree->BuildLocator();
    }
  }

  int Size() const { return static_cast<int>(this->Points->GetNumberOfPoints()); }

  std::vector<int> Order(float radius, int* max)
  {
    int* list = GetWellOderredList(max, this->Size(), radius, this->Points, this->Tree);
    std::vector<int> order(list, list + this->Size());
    delete[] list;
    return order;
  }

  // The numbering written out plainly: a fresh id list with room for every
  // point per query, and a scan from id 0 for each new component.
  std::vector<int> ReferenceOrder(float radius, int* max)
  {
    const int n = this->Size();
    std::vector<int> result(n, INT_MAX);
    std::vector<int> label(n, INT_MAX);
    *max = 0;
    int head = 0;
    int tail = 0;
    if (n > 0)
    {
      do
      {
        if (result[head] == INT_MAX)
        {
          int id = 0;
          while (label[id] != INT_MAX)
          {
            ++id;
          }
          result[head] = id;
          label[id] = head;
          ++tail;
        }
        int p = result[head];
        vtkIdList* ids = vtkIdList::New();
        ids->Allocate(n, 0);
        this->Tree->FindPointsWithinRadius(radius, this->Points->GetPoint(p), ids);
        for (vtkIdType k = 0; k < ids->GetNumberOfIds(); ++k)
        {
          int q = static_cast<int>(ids->GetId(k));
          if (label[q] != INT_MAX)
          {
            continue;
          }
          *max = std::max(*max, tail - head);
          result[tail] = q;
          label[q] = tail;
          ++tail;
        }
        ids->Delete();
        ++head;
      } while (tail < n);
    }
    return result;
  }
};

std::vector<int> Iota(int n)
{
  std::vector<int> v(n);
  for (int i = 0; i < n; ++i)
  {
    v[i] = i;
  }
  return v;
}
} // namespace

TEST(Ordering, ChainIsNumberedInChainOrder)
{
  // Ids along the chain: 0 at x=0, 2 at x=1, 1 at x=2, 3 at x=3.
  PointSet chain({ { 0, 0, 0 }, { 2, 0, 0 }, { 1, 0, 0 }, { 3, 0, 0 } });
  int max = -1;
  EXPECT_EQ(chain.Order(1.5f, &max), (std::vector<int>{ 0, 2, 1, 3 }));
  EXPECT_EQ(max, 1);
}

TEST(Ordering, IsolatedPointsKeepTheirIdsWithZeroBandwidth)
{
  PointSet isolated({ { 0, 0, 0 }, { 5, 0, 0 }, { 0, 5, 0 }, { 5, 5, 5 }, { 9, 9, 9 } });
  int max = -1;
  EXPECT_EQ(isolated.Order(1.0f, &max), Iota(5));
  EXPECT_EQ(max, 0);
}

TEST(Ordering, EverythingNearPointZeroFollowsItInLocatorOrder)
{
  PointSet star({ { 0, 0, 0 }, { 0.5, 0, 0 }, { -0.5, 0, 0 }, { 0, 0.5, 0 }, { 0, -0.3, 0.2 },
    { 0.1, 0.1, 0.1 } });
  vtkNew<vtkIdList> near;
  star.Tree->FindPointsWithinRadius(1.0, star.Points->GetPoint(0), near);
  std::vector<int> expected{ 0 };
  for (vtkIdType k = 0; k < near->GetNumberOfIds(); ++k)
  {
    if (near->GetId(k) != 0)
    {
      expected.push_back(static_cast<int>(near->GetId(k)));
    }
  }
  int max = -1;
  EXPECT_EQ(star.Order(1.0f, &max), expected);
  EXPECT_EQ(max, star.Size() - 1);
}

TEST(Ordering, NewComponentStartsAtLowestUnplacedId)
{
  // Component {0, 3} far from component {1, 2, 4}.
  PointSet two({ { 0, 0, 0 }, { 10, 0, 0 }, { 10.5, 0, 0 }, { 0.5, 0, 0 }, { 11, 0, 0 } });
  int max = -1;
  std::vector<int> order = two.Order(0.6f, &max);
  EXPECT_EQ(order, (std::vector<int>{ 0, 3, 1, 2, 4 }));
  EXPECT_EQ(max, 1);
}

TEST(Ordering, CoincidentPointsAreNeighbours)
{
  PointSet twins({ { 0, 0, 0 }, { 3, 0, 0 }, { 0, 0, 0 } });
  int max = -1;
  EXPECT_EQ(twins.Order(0.5f, &max), (std::vector<int>{ 0, 2, 1 }));
  EXPECT_EQ(max, 1);
}

TEST(Ordering, EmptyPointSet)
{
  PointSet none({});
  int max = -1;
  EXPECT_TRUE(none.Order(1.0f, &max).empty());
  EXPECT_EQ(max, 0);
}

// On random point sets the numbering is a permutation, every pair of
// neighbours lies at most max positions apart, and the numbering equals the
// plain breadth-first reference exactly.
TEST(Ordering, RandomSetsMatchReferenceAndBoundTheBandwidth)
{
  std::mt19937 random(20261207);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int trial = 0; trial < 12; ++trial)
  {
    const int n = 50 + 40 * trial;
    const float radius = static_cast<float>(0.05 + 0.02 * (trial % 5));
    std::vector<std::vector<double>> coords;
    for (int i = 0; i < n; ++i)
    {
      // Mostly a plane (like constraint points), a few off it, some clusters.
      double z = (i % 17 == 0) ? unit(random) : 0.0;
      coords.push_back({ unit(random), unit(random) * (trial % 3 ? 1.0 : 0.3), z });
    }
    PointSet set(coords);
    int max = -1;
    std::vector<int> order = set.Order(radius, &max);
    int referenceMax = -1;
    ASSERT_EQ(order, set.ReferenceOrder(radius, &referenceMax)) << "trial " << trial;
    EXPECT_EQ(max, referenceMax) << "trial " << trial;

    std::vector<int> position(n, -1);
    for (int k = 0; k < n; ++k)
    {
      ASSERT_GE(order[k], 0);
      ASSERT_LT(order[k], n);
      ASSERT_EQ(position[order[k]], -1) << "id placed twice";
      position[order[k]] = k;
    }
    EXPECT_EQ(order[0], 0);
    int widest = 0;
    for (int i = 0; i < n; ++i)
    {
      for (int j = i + 1; j < n; ++j)
      {
        double d2 = 0;
        for (int c = 0; c < 3; ++c)
        {
          d2 += (coords[i][c] - coords[j][c]) * (coords[i][c] - coords[j][c]);
        }
        if (d2 <= static_cast<double>(radius) * radius * (1 - 1e-6))
        {
          int gap = std::abs(position[i] - position[j]);
          widest = std::max(widest, gap);
          EXPECT_LE(gap, max) << "trial " << trial << " pair " << i << "," << j;
        }
      }
    }
    EXPECT_EQ(widest, max) << "trial " << trial;
  }
}

// The neighbour search stands in for the locator's own radius search: the same
// ids in the same order, for the point sets the program builds (a plane of
// constraint points with the 12 frame points around it), on a lattice where
// many distances equal the radius exactly, with coincident points, with query
// points outside the data and with a radius so small that the search has to
// widen its cells.
TEST(NeighbourSearch, AnswersAsThePointLocator)
{
  std::mt19937 random(7);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  struct Set
  {
    const char* Name;
    std::vector<std::vector<double>> Coords;
    std::vector<double> Radii;
  };
  std::vector<Set> sets;

  Set plane{ "plane with frame points", {}, { 0.01, 0.03, 0.08, 0.2, 0.7 } };
  for (double x : { -0.1, 0.5, 1.1 })
  {
    for (double y : { -0.1, 0.5, 1.1 })
    {
      if (x != 0.5 || y != 0.5)
      {
        plane.Coords.push_back({ x, y, x == y ? 1.1 : -0.1 });
      }
    }
  }
  plane.Coords.push_back({ 0.5, 0.5, 0.5 });
  plane.Coords.push_back({ 0.0, 0.0, 1.1 });
  plane.Coords.push_back({ 1.0, 1.0, -0.1 });
  plane.Coords.push_back({ 0.2, 0.9, 1.1 });
  // Enough points for the search to make its columns as wide as the radius.
  for (int i = 0; i < 9000; ++i)
  {
    plane.Coords.push_back({ unit(random), unit(random), 0.0 });
  }
  sets.push_back(plane);

  // Points in a small part of the frame, and a few far out: the grid covers
  // the middle, and the far points fall in its edge cells.
  Set patch{ "patch with far points", {}, { 0.004, 0.02, 0.3 } };
  for (double x : { -0.1, 1.1 })
  {
    for (double y : { -0.1, 1.1 })
    {
      patch.Coords.push_back({ x, y, x == y ? 1.1 : -0.1 });
    }
  }
  for (int i = 0; i < 5; ++i)
  {
    patch.Coords.push_back({ 50.0 + i, 0.5, 0.0 });
    patch.Coords.push_back({ 0.5, -30.0 - 0.001 * i, 0.0 });
  }
  for (int i = 0; i < 4000; ++i)
  {
    patch.Coords.push_back({ 0.4 + 0.2 * unit(random), 0.4 + 0.2 * unit(random), 0.0 });
  }
  sets.push_back(patch);

  Set lattice{ "lattice with ties", {}, { 0.125, 0.25, 0.375 } };
  for (int i = 0; i <= 16; ++i)
  {
    for (int j = 0; j <= 16; ++j)
    {
      lattice.Coords.push_back({ i / 16.0, j / 16.0, (i + j) % 5 == 0 ? 0.25 : 0.0 });
    }
  }
  sets.push_back(lattice);

  Set volume{ "volume with coincident points", {}, { 0.0, 0.05, 0.3 } };
  for (int i = 0; i < 3000; ++i)
  {
    volume.Coords.push_back({ unit(random), unit(random), unit(random) });
    if (i % 10 == 0)
    {
      volume.Coords.push_back(volume.Coords.back());
    }
  }
  sets.push_back(volume);

  Set tiny{ "tiny radius", {}, { 1e-7 } };
  for (int i = 0; i < 500; ++i)
  {
    tiny.Coords.push_back({ unit(random), unit(random), unit(random) * 1e-3 });
  }
  sets.push_back(tiny);

  vtkNew<vtkIdList> expected;
  vtkNew<vtkIdList> found;
  std::vector<int> ids;
  for (const Set& s : sets)
  {
    PointSet set(s.Coords);
    for (double radius : s.Radii)
    {
      std::vector<std::array<double, 3>> queries(3000);
      for (size_t q = 0; q < queries.size(); ++q)
      {
        double* x = queries[q].data();
        if (q % 2 == 0)
        {
          set.Points->GetPoint(static_cast<vtkIdType>(q % set.Size()), x);
        }
        else
        {
          for (int axis = 0; axis < 3; ++axis)
          {
            x[axis] = 1.4 * unit(random) - 0.2;
          }
        }
      }
      // A second search prepared around two thirds of the queries only (in
      // single precision, as the shape transform gives them): the others
      // must get the same answers all the same.
      std::vector<float> preparedX;
      std::vector<float> preparedY;
      for (size_t q = 0; q < queries.size(); q += 3)
      {
        for (size_t r = q + 1; r < std::min(q + 3, queries.size()); ++r)
        {
          preparedX.push_back(static_cast<float>(queries[r][0]));
          preparedY.push_back(static_cast<float>(queries[r][1]));
        }
      }
      NeighbourSearch everywhere(set.Tree, set.Points, radius);
      NeighbourSearch prepared(
        set.Tree, set.Points, radius, preparedX.data(), preparedY.data(), preparedX.size());
      for (NeighbourSearch* search : { &everywhere, &prepared })
      {
        const std::string name =
          std::string(s.Name) + (search == &prepared ? ", prepared around some queries" : "");
        for (size_t q = 0; q < queries.size(); ++q)
        {
          const double* x = queries[q].data();
          set.Tree->FindPointsWithinRadius(radius, x, expected);
          search->FindPointsWithinRadius(x, found);
          ASSERT_EQ(found->GetNumberOfIds(), expected->GetNumberOfIds())
            << name << ", radius " << radius << ", query " << q;
          search->FindPointsWithinRadius(x, ids);
          ASSERT_EQ(static_cast<vtkIdType>(ids.size()), expected->GetNumberOfIds())
            << name << ", radius " << radius << ", query " << q;
          const int* keptIds = nullptr;
          const double* squared = nullptr;
          ASSERT_EQ(static_cast<vtkIdType>(search->FindPointsWithinRadius(x, keptIds, squared)),
            expected->GetNumberOfIds())
            << name << ", radius " << radius << ", query " << q;
          for (vtkIdType k = 0; k < expected->GetNumberOfIds(); ++k)
          {
            ASSERT_EQ(found->GetId(k), expected->GetId(k))
              << name << ", radius " << radius << ", query " << q << ", entry " << k;
            ASSERT_EQ(ids[static_cast<size_t>(k)], expected->GetId(k))
              << name << ", radius " << radius << ", query " << q << ", entry " << k;
            ASSERT_EQ(keptIds[k], expected->GetId(k))
              << name << ", radius " << radius << ", query " << q << ", entry " << k;
            double p[3];
            set.Points->GetPoint(expected->GetId(k), p);
            const double d[3] = { x[0] - p[0], x[1] - p[1], x[2] - p[2] };
            ASSERT_EQ(squared[k], d[0] * d[0] + d[1] * d[1] + d[2] * d[2])
              << name << ", radius " << radius << ", query " << q << ", entry " << k;
          }
        }
      }
    }
  }
}
