// The result file: ASCII only when ASCII gives back every coordinate exactly,
// otherwise binary; either way the points read back bit for bit.

#include "ResultFile.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <vtkCellArray.h>
#include <vtkDoubleArray.h>
#include <vtkNew.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkSmartPointer.h>

#include <string>
#include <vector>

using namespace testsupport;

namespace
{
// A strip of count points along x at heights z, with one triangle.
vtkSmartPointer<vtkPolyData> Strip(const std::vector<double>& z, bool doublePrecision)
{
  vtkNew<vtkPoints> points;
  points->SetDataType(doublePrecision ? VTK_DOUBLE : VTK_FLOAT);
  for (size_t i = 0; i < z.size(); ++i)
  {
    points->InsertNextPoint(static_cast<double>(i), 0.5 * static_cast<double>(i % 7), z[i]);
  }
  auto data = vtkSmartPointer<vtkPolyData>::New();
  data->SetPoints(points);
  vtkNew<vtkCellArray> polys;
  const vtkIdType triangle[3] = { 0, 1, 2 };
  polys->InsertNextCell(3, triangle);
  data->SetPolys(polys);
  return data;
}

bool IsBinary(const std::string& path)
{
  return ReadText(path).find("\nBINARY\n") != std::string::npos;
}
} // namespace

TEST(ResultFile, AsciiOnlyWhenItKeepsEveryCoordinate)
{
  // Heights with few digits, as an ASCII model gives them; then one height
  // with more digits than ASCII keeps, at the start, in the middle (between
  // the samples of a sparse pass) and at the end.
  std::vector<double> exact(5000);
  for (size_t i = 0; i < exact.size(); ++i)
  {
    exact[i] = 100.0 + 0.25 * static_cast<double>(i % 40);
  }
  EXPECT_TRUE(AsciiKeepsCoordinates(Strip(exact, false)));
  EXPECT_TRUE(AsciiKeepsCoordinates(Strip(exact, true)));
  for (size_t at : { size_t(0), size_t(2501), exact.size() - 1 })
  {
    std::vector<double> z = exact;
    z[at] = 1234.5678;
    EXPECT_FALSE(AsciiKeepsCoordinates(Strip(z, false))) << "at " << at;
    z[at] = 1.0 / 3.0;
    EXPECT_FALSE(AsciiKeepsCoordinates(Strip(z, true))) << "at " << at;
  }
  // %.11g keeps 0.1 for a double, %g keeps 1234.5 for a float.
  std::vector<double> z = exact;
  z[17] = 0.1;
  EXPECT_TRUE(AsciiKeepsCoordinates(Strip(z, true)));
  z[17] = 1234.5;
  EXPECT_TRUE(AsciiKeepsCoordinates(Strip(z, false)));
}

TEST(ResultFile, PointsReadBackBitForBit)
{
  TempDir dir;
  std::vector<double> z(300);
  for (size_t i = 0; i < z.size(); ++i)
  {
    z[i] = 50.0 + 0.5 * static_cast<double>(i % 9);
  }
  for (bool lossy : { false, true })
  {
    if (lossy)
    {
      z[150] = 51.123456789;
    }
    auto data = Strip(z, false);
    const std::string path = dir.File(lossy ? "lossy.vtk" : "exact.vtk");
    ASSERT_TRUE(WriteResultFile(data, path.c_str()));
    EXPECT_EQ(IsBinary(path), lossy);
    vtkPolyData* back = ReadPolyData(path);
    ASSERT_NE(back, nullptr);
    ASSERT_EQ(back->GetNumberOfPoints(), data->GetNumberOfPoints());
    for (vtkIdType i = 0; i < data->GetNumberOfPoints(); ++i)
    {
      for (int c = 0; c < 3; ++c)
      {
        ASSERT_EQ(static_cast<float>(back->GetPoint(i)[c]), static_cast<float>(data->GetPoint(i)[c]))
          << "point " << i << " component " << c;
      }
    }
    EXPECT_EQ(back->GetNumberOfPolys(), 1);
    back->Delete();
  }
}
