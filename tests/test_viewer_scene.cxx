// The computed parts of the viewer's scene: the finite bounds behind the
// exaggeration, the colour range without the inside vertices, the colours,
// and the outline of the repaired cells.

#include "ViewerScene.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <vtkCellArray.h>
#include <vtkIdList.h>
#include <vtkLookupTable.h>
#include <vtkNew.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkSmartPointer.h>

#include <cmath>
#include <limits>
#include <set>
#include <utility>

namespace
{
// A height field of n x n points at unit spacing, two triangles per cell,
// all at height 10.
vtkSmartPointer<vtkPolyData> Grid(int n)
{
  vtkNew<vtkPoints> points;
  for (int j = 0; j < n; ++j)
  {
    for (int i = 0; i < n; ++i)
    {
      points->InsertNextPoint(i, j, 10.0);
    }
  }
  vtkNew<vtkCellArray> polys;
  testsupport::AddGridTriangles(polys, n, n);
  auto data = vtkSmartPointer<vtkPolyData>::New();
  data->SetPoints(points);
  data->SetPolys(polys);
  return data;
}

vtkSmartPointer<vtkPolyData> Moved(vtkPolyData* source, std::initializer_list<vtkIdType> ids)
{
  auto result = vtkSmartPointer<vtkPolyData>::New();
  result->DeepCopy(source);
  for (vtkIdType id : ids)
  {
    double p[3];
    result->GetPoint(id, p);
    result->GetPoints()->SetPoint(id, p[0], p[1], p[2] + 1.0);
  }
  return result;
}

std::set<std::pair<vtkIdType, vtkIdType>> Edges(vtkPolyData* outline)
{
  std::set<std::pair<vtkIdType, vtkIdType>> edges;
  vtkCellArray* lines = outline->GetLines();
  lines->InitTraversal();
  vtkIdType size = 0;
  const vtkIdType* ids = nullptr;
  while (lines->GetNextCell(size, ids))
  {
    EXPECT_EQ(size, 2);
    edges.insert({ std::min(ids[0], ids[1]), std::max(ids[0], ids[1]) });
  }
  EXPECT_EQ(edges.size(), static_cast<size_t>(lines->GetNumberOfCells())) << "an edge twice";
  return edges;
}
} // namespace

TEST(ViewerScene, BoundsAndExaggerationIgnoreNonFiniteHeights)
{
  auto grid = Grid(5); // 4 x 4 units, heights 10
  grid->GetPoints()->SetPoint(3, 3.0, 0.0, 12.0);
  grid->GetPoints()->SetPoint(7, 2.0, 1.0, std::numeric_limits<double>::quiet_NaN());
  grid->GetPoints()->SetPoint(8, 3.0, 1.0, HUGE_VAL);
  grid->GetPoints()->SetPoint(9, 4.0, 1.0, -HUGE_VAL);
  double bounds[6];
  ASSERT_TRUE(FiniteBounds(grid, bounds));
  const double expected[6] = { 0, 4, 0, 4, 10, 12 };
  for (int k = 0; k < 6; ++k)
  {
    EXPECT_EQ(bounds[k], expected[k]) << "bound " << k;
  }
  // The 2 units of relief show as a fifth of the 4 units across.
  EXPECT_DOUBLE_EQ(VerticalExaggeration(bounds) * 2.0, ReliefFraction * 4.0);

  // Flat, or without any finite height: no stretch, and no bounds.
  const double flat[6] = { 0, 4, 0, 4, 10, 10 };
  EXPECT_EQ(VerticalExaggeration(flat), 1.0);
  vtkNew<vtkPoints> voids;
  voids->InsertNextPoint(0.0, 0.0, std::numeric_limits<double>::quiet_NaN());
  vtkNew<vtkPolyData> empty;
  empty->SetPoints(voids);
  EXPECT_FALSE(FiniteBounds(empty, bounds));
  EXPECT_EQ(bounds[4], 10.0) << "bounds changed although none was found";
}

TEST(ViewerScene, HeightColoursSpanTheRangeSaturated)
{
  const double range[2] = { 100.0, 300.0 };
  auto colours = HeightColours(range);
  EXPECT_EQ(colours->GetTableRange()[0], 100.0);
  EXPECT_EQ(colours->GetTableRange()[1], 300.0);
  double low[3];
  double high[3];
  colours->GetColor(100.0, low);
  colours->GetColor(300.0, high);
  EXPECT_LT(low[0] + low[1] + low[2], 1.0) << "the lowest height is dark";
  EXPECT_GT(high[0] + high[1], 1.5) << "the highest height is bright yellow";
  for (double z = 100.0; z <= 300.0; z += 10.0)
  {
    double rgb[3];
    colours->GetColor(z, rgb);
    const double top = std::max({ rgb[0], rgb[1], rgb[2] });
    const double bottom = std::min({ rgb[0], rgb[1], rgb[2] });
    EXPECT_GT((top - bottom) / top, 0.4) << "pale at height " << z;
  }
  const double point[2] = { 5.0, 5.0 };
  auto widened = HeightColours(point);
  EXPECT_EQ(widened->GetTableRange()[0], 4.5);
  EXPECT_EQ(widened->GetTableRange()[1], 5.5);
}

TEST(ViewerScene, OutlineBoundsTheCellsOfTheMovedVertices)
{
  auto source = Grid(5);
  // Nothing moved: no outline.
  EXPECT_EQ(MovedCellsOutline(source, Moved(source, {}))->GetNumberOfLines(), 0);

  // An interior vertex: its six triangles, bounded by the hexagon of its
  const vtkIdType centre = 2 * 5 + 2;
  auto result = Moved(source, { centre });
  auto outline = MovedCellsOutline(source, result);
  EXPECT_EQ(outline->GetPoints(), result->GetPoints());
  // neighbours (the diagonals run from lower left to upper right).
  const std::set<std::pair<vtkIdType, vtkIdType>> hexagon = { { 6, 7 }, { 7, 13 }, { 13, 18 },
    { 17, 18 }, { 11, 17 }, { 6, 11 } };
  EXPECT_EQ(Edges(outline), hexagon);

  // A corner vertex: its two triangles, bounded partly by the model's edges.
  result = Moved(source, { 0 });
  const std::set<std::pair<vtkIdType, vtkIdType>> corner = { { 0, 1 }, { 1, 6 }, { 5, 6 }, { 0, 5 } };
  EXPECT_EQ(Edges(MovedCellsOutline(source, result)), corner);

  // A NaN height that stays NaN has not moved.
  source->GetPoints()->SetPoint(centre, 2.0, 2.0, std::numeric_limits<double>::quiet_NaN());
  result = Moved(source, {});
  EXPECT_EQ(MovedCellsOutline(source, result)->GetNumberOfLines(), 0);
}

// The colour range leaves out the inside vertices: a damage spike among them
// no longer squeezes the heights of the rest into part of the palette, and
// takes the end colour itself.
TEST(ViewerScene, ColourRangeLeavesOutTheInsideVertices)
{
  auto grid = Grid(5); // ids j * 5 + i, heights 10
  grid->GetPoints()->SetPoint(0, 0.0, 0.0, 9.0);
  grid->GetPoints()->SetPoint(24, 4.0, 4.0, 13.0);
  grid->GetPoints()->SetPoint(12, 2.0, 2.0, 40.0);  // spike, inside
  grid->GetPoints()->SetPoint(13, 3.0, 2.0, -50.0); // pit, inside
  grid->GetPoints()->SetPoint(7, 2.0, 1.0, std::numeric_limits<double>::quiet_NaN());
  vtkNew<vtkIdList> inside;
  for (vtkIdType id : { 12, 13, 7, 99, -1 }) // ids past the model are ignored
  {
    inside->InsertNextId(id);
  }
  double range[2] = { 0.0, 0.0 };
  ASSERT_TRUE(KeptHeightRange(grid, inside, range));
  EXPECT_EQ(range[0], 9.0);
  EXPECT_EQ(range[1], 13.0);
  ASSERT_TRUE(KeptHeightRange(grid, nullptr, range));
  EXPECT_EQ(range[0], -50.0);
  EXPECT_EQ(range[1], 40.0);

  // The heights of the rest span the palette; the spike takes its top colour.
  double kept[2];
  ASSERT_TRUE(KeptHeightRange(grid, inside, kept));
  auto colours = HeightColours(kept);
  double top[3];
  double spike[3];
  double low[3];
  colours->GetColor(13.0, top);
  colours->GetColor(40.0, spike);
  colours->GetColor(9.0, low);
  for (int c = 0; c < 3; ++c)
  {
    EXPECT_EQ(spike[c], top[c]);
  }
  EXPECT_GT(std::abs(top[0] - low[0]) + std::abs(top[1] - low[1]), 1.0);

  // Every vertex inside, or none of the rest with a finite height: no range.
  vtkNew<vtkIdList> all;
  for (vtkIdType id = 0; id < grid->GetNumberOfPoints(); ++id)
  {
    if (id != 7)
    {
      all->InsertNextId(id);
    }
  }
  range[0] = range[1] = -1.0;
  EXPECT_FALSE(KeptHeightRange(grid, all, range));
  EXPECT_EQ(range[0], -1.0);
  EXPECT_EQ(range[1], -1.0);
}
