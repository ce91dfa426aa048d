// Models whose voids have no height: the checked reading of nan, inf and -inf
// in ASCII files, and surface_repair run as a process on models with voids
// inside the hole, in neither list and out of reach.

#include "ModelFile.h"
#include "RadiusChooser.h"
#include "ResultFile.h"
#include "TestSupport.h"
#include "vtkDatReader.h"

#include <gtest/gtest.h>

#include <vtkCellArray.h>
#include <vtkIdList.h>
#include <vtkNew.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkPolyDataWriter.h>
#include <vtkSmartPointer.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>

using namespace testsupport;

namespace
{
const std::string Header = "# vtk DataFile Version 3.0\nvoids\nASCII\nDATASET POLYDATA\n";

vtkSmartPointer<vtkPolyData> Read(const std::string& path, std::string& problem)
{
  return ReadModelFile(path.c_str(), problem);
}

TEST(VoidReading, AsciiWordsForNonFiniteHeights)
{
  TempDir dir;
  for (const char* type : { "float", "double" })
  {
    SCOPED_TRACE(type);
    WriteText(dir.File("m.vtk"), Header + "POINTS 6 " + type +
        "\n0 0 nan\n1 0 inf\n0 1 -inf\n1 1 NaN\n2 0 -nan\n2 1 0.1\nPOLYGONS 1 4\n3 0 1 2\n");
    std::string problem;
    vtkSmartPointer<vtkPolyData> model = Read(dir.File("m.vtk"), problem);
    ASSERT_TRUE(model) << problem;
    EXPECT_TRUE(std::isnan(model->GetPoint(0)[2]));
    EXPECT_EQ(model->GetPoint(1)[2], INFINITY);
    EXPECT_EQ(model->GetPoint(2)[2], -INFINITY);
    EXPECT_TRUE(std::isnan(model->GetPoint(3)[2]));
    EXPECT_TRUE(std::isnan(model->GetPoint(4)[2]));
    // Read in the file's precision, as VTK reads it: no double rounding.
    EXPECT_EQ(model->GetPoint(5)[2], strcmp(type, "float") == 0 ? 0.1f : 0.1);
    EXPECT_EQ(model->GetPoint(5)[0], 2.0);
    EXPECT_EQ(model->GetNumberOfPolys(), 1);
  }
}

TEST(VoidReading, PlaneCoordinatesMustBeFiniteNumbers)
{
  TempDir dir;
  const std::map<std::string, std::string> refusals = {
    { "0 0 0\nnan 1 1\n", "Point 1 of model m.vtk has a non-finite coordinate (nan)" },
    { "0 0 0\n1 -inf 1\n", "Point 1 of model m.vtk has a non-finite coordinate (-inf)" },
    { "0 0 0\n1 1.5x 1\n", "Coordinate 1 of point 1 of model m.vtk is not a number (1.5x)" },
    { "0 0 0\n1 1\n",
      "Coordinate 2 of point 1 of model m.vtk is missing: the POINTS section ends early" },
  };
  for (auto refusal : refusals)
  {
    WriteText(dir.File("m.vtk"), Header + "POINTS 2 float\n" + refusal.first);
    std::string problem;
    EXPECT_FALSE(Read(dir.File("m.vtk"), problem)) << refusal.first;
    const std::string m = "model " + dir.File("m.vtk");
    EXPECT_EQ(problem, refusal.second.replace(refusal.second.find("model m.vtk"), 11, m));
  }
}

TEST(VoidReading, AResultWithVoidsReadsBack)
{
  // Coordinates that ASCII would keep exactly, but for the voids: VTK writes
  // nan and inf there and its reader cannot read them back.
  for (double z : { std::nan(""), HUGE_VAL, -HUGE_VAL })
  {
    vtkNew<vtkPolyData> data;
    vtkNew<vtkPoints> points;
    points->InsertNextPoint(0, 0, 1);
    points->InsertNextPoint(1, 0, z);
    points->InsertNextPoint(0, 1, 2);
    data->SetPoints(points);
    vtkNew<vtkCellArray> polys;
    const vtkIdType triangle[3] = { 0, 1, 2 };
    polys->InsertNextCell(3, triangle);
    data->SetPolys(polys);
    TempDir dir;
    ASSERT_TRUE(WriteResultFile(data, dir.File("r.vtk").c_str()));
    // Read by VTK's own reader, as other tools read the result.
    OutputCapture capture;
    vtkSmartPointer<vtkPolyData> back = vtkSmartPointer<vtkPolyData>::Take(
      ReadPolyData(dir.File("r.vtk")));
    EXPECT_EQ(capture.Errors(), "");
    ASSERT_EQ(back->GetNumberOfPoints(), 3);
    EXPECT_EQ(back->GetPoint(0)[2], 1.0);
    EXPECT_TRUE(std::isnan(z) ? std::isnan(back->GetPoint(1)[2]) : back->GetPoint(1)[2] == z);
    EXPECT_EQ(back->GetNumberOfPolys(), 1);
  }
}

// The test model: a 12 x 12 grid, heights rising from one corner to the
// other (so that the heights inside never set the bounds), a hole of 2 x 2
// vertices at (5..6, 5..6) and as the outside list the rest of the square
// (2..9, 2..9).
const int N = 12;
double Height(double x, double y)
{
  return x + 0.5 * y + 0.05 * x * y;
}
int Id(int i, int j)
{
  return j * N + i;
}
std::vector<int> Hole()
{
  return { Id(5, 5), Id(6, 5), Id(5, 6), Id(6, 6) };
}
std::vector<int> Ring()
{
  std::vector<int> ids;
  for (int j = 2; j <= 9; ++j)
  {
    for (int i = 2; i <= 9; ++i)
    {
      if (!(i >= 5 && i <= 6 && j >= 5 && j <= 6))
      {
        ids.push_back(Id(i, j));
      }
    }
  }
  return ids;
}

// Writes the model with the given heights replaced: as ASCII words, or as
// binary values when binary is set.
void WriteModel(const std::string& path, const std::map<int, std::string>& words, bool binary)
{
  WriteHeightField(path, N, N, 1.0, 1.0, Height);
  std::vector<std::string> lines = Lines(ReadText(path));
  std::string text;
  for (size_t k = 0; k < lines.size(); ++k)
  {
    const int point = static_cast<int>(k) - 5; // the points start on line 6
    auto word = words.find(point);
    if (word != words.end())
    {
      lines[k] = std::to_string(point % N) + " " + std::to_string(point / N) + " " + word->second;
    }
    text += lines[k] + "\n";
  }
  WriteText(path, text);
  if (binary)
  {
    std::string problem;
    vtkSmartPointer<vtkPolyData> model = Read(path, problem);
    ASSERT_TRUE(model) << problem;
    vtkNew<vtkPolyDataWriter> writer;
    writer->SetInputData(model);
    writer->SetFileTypeToBinary();
    writer->SetFileName(path.c_str());
    ASSERT_EQ(writer->Write(), 1);
    ASSERT_NE(ReadText(path).find("BINARY"), std::string::npos);
  }
}

struct Repair
{
  ProcessResult Run;
  vtkSmartPointer<vtkPolyData> Result;
};

Repair RunOn(const std::map<int, std::string>& words, bool binary, std::vector<int> inside,
  const std::string& radius)
{
  TempDir dir;
  WriteModel(dir.File("m.vtk"), words, binary);
  WriteIds(dir.File("in.pts"), inside);
  WriteIds(dir.File("out.pts"), Ring());
  Repair r;
  r.Run = RunRepair({ "m.vtk", "in.pts", "out.pts", radius }, dir.Path());
  std::string problem;
  r.Result = Read(dir.File("reconstucted_shape.vtk"), problem);
  EXPECT_TRUE(r.Result) << problem << "\n" << r.Run.Err;
  return r;
}

std::map<int, std::string> Voids(const std::vector<int>& ids, const std::string& word)
{
  std::map<int, std::string> words;
  for (int id : ids)
  {
    words[id] = word;
  }
  return words;
}

TEST(VoidRepair, AVoidIsFilledAsTheSameHoleWithHeights)
{
  // The same hole with its true heights: the frame is the same, so the fit
  // and the filled heights are too, but for the random jitter of each run.
  const std::vector<int> hole = Hole();
  const Repair finite = RunOn({}, false, hole, "0.3");
  ASSERT_EQ(finite.Run.Status, 0) << finite.Run.Err;
  const struct
  {
    const char* Word;
    bool Binary;
  } voids[] = { { "nan", false }, { "nan", true }, { "-inf", false }, { "inf", true } };
  for (const auto& v : voids)
  {
    SCOPED_TRACE(std::string(v.Word) + (v.Binary ? " binary" : " ascii"));
    const Repair r = RunOn(Voids(Hole(), v.Word), v.Binary, Hole(), "0.3");
    ASSERT_EQ(r.Run.Status, 0) << r.Run.Err;
    ASSERT_TRUE(r.Result && finite.Result);
    EXPECT_NE(r.Run.Out.find("Affected points: 4."), std::string::npos) << r.Run.Out;
    EXPECT_EQ(r.Run.Out.find("Voids left"), std::string::npos);
    for (int id = 0; id < N * N; ++id)
    {
      const double z = r.Result->GetPoint(id)[2];
      const double expected = finite.Result->GetPoint(id)[2];
      const bool moved = std::count(hole.begin(), hole.end(), id) > 0;
      // Two jitters of at most 1/60 each, and single-precision heights.
      EXPECT_NEAR(z, expected, moved ? 1.0 / 30 + 1e-4 : 0.0) << id;
      if (moved)
      {
        // The smooth surface met to within 5% of its height range (0 .. 23).
        EXPECT_NEAR(z, Height(id % N, id / N), 1.2) << id;
      }
    }
  }
}

TEST(VoidRepair, VoidsOutOfReachOrInNeitherListStayAndAreCounted)
{
  // (0, 11) is in neither list; (11, 5) is inside but R = 0.15 reaches it from
  // no centre (the nearest outside vertex is 2/11 away); the hole is reached.
  std::vector<int> inside = Hole();
  inside.push_back(Id(11, 5));
  std::map<int, std::string> words = Voids(inside, "nan");
  words[Id(0, 11)] = "nan";
  words[Id(0, 10)] = "-inf";
  const Repair r = RunOn(words, false, inside, "0.15");
  ASSERT_EQ(r.Run.Status, 0) << r.Run.Err;
  EXPECT_NE(r.Run.Out.find("Affected points: 4.\n"
                           "Voids left as they are (vertices in neither list without a finite "
                           "height): 2\n"),
    std::string::npos)
    << r.Run.Out;
  EXPECT_NE(r.Run.Err.find("TransformPoints: 1 inside vertices out of reach of every centre keep "
                           "a height that is not finite: the result still holds a void"),
    std::string::npos)
    << r.Run.Err;
  ASSERT_TRUE(r.Result);
  for (int id = 0; id < N * N; ++id)
  {
    const double z = r.Result->GetPoint(id)[2];
    if (id == Id(11, 5) || id == Id(0, 11))
    {
      EXPECT_TRUE(std::isnan(z)) << id;
    }
    else if (id == Id(0, 10))
    {
      EXPECT_EQ(z, -INFINITY);
    }
    else
    {
      EXPECT_TRUE(std::isfinite(z)) << id;
    }
  }
}

// The radius auto chooses for a 40 x 40 grid with an 8 x 8 hole in the
// middle and a ring four cells wide, with the given vertices as voids in
// neither list. Every candidate radius is tried (a generous time budget).
RadiusChoice ChooseWithVoids(const std::vector<int>& voids)
{
  const int n = 40;
  TempDir dir;
  WriteHeightField(dir.File("g.vtk"), n, n, 1.0, 1.0,
    [](double x, double y) { return 20.0 * std::sin(x / 9.0) + 15.0 * std::cos(y / 11.0); });
  std::string problem;
  vtkSmartPointer<vtkPolyData> model = Read(dir.File("g.vtk"), problem);
  EXPECT_TRUE(model) << problem;
  for (int v : voids)
  {
    model->GetPoints()->SetPoint(v, v % n, v / n, std::nan(""));
  }
  vtkNew<vtkIdList> inside;
  vtkNew<vtkIdList> outside;
  for (int j = 12; j < 28; ++j)
  {
    for (int i = 12; i < 28; ++i)
    {
      const bool hole = i >= 16 && i < 24 && j >= 16 && j < 24;
      (hole ? inside : outside)->InsertNextId(j * n + i);
    }
  }
  vtkNew<vtkDatReader> reader;
  reader->SetModel(model);
  reader->SetOutsideIds(outside);
  EXPECT_EQ(reader->ReadConstraints(), 0);
  return ChooseRadius(reader->GetModel(), reader->GetPointArray(), reader->GetValues(), inside,
    1e9, 1000.0);
}

TEST(VoidRepair, VoidsElsewhereLeaveTheRadiusChoiceValidated)
{
  // Single voids on row 20 and column 20, 8 apart, none of them inside or
  // outside vertices: the choice reads only the constraint points, so it is
  // validated and the same as without them. (When it compared shifted
  // copies of the repair, a void's NaN made every candidate's error NaN and
  // the choice fell back to a fixed multiple without a word.)
  const int n = 40;
  std::vector<int> voids;
  for (int k : { 0, 8, 32, 38 })
  {
    voids.push_back(20 * n + k);
    voids.push_back(k * n + 20);
  }
  const RadiusChoice known = ChooseWithVoids({});
  const RadiusChoice holed = ChooseWithVoids(voids);
  ASSERT_GT(known.References, 0);
  EXPECT_GT(known.Fits, 1);
  EXPECT_EQ(holed.References, known.References);
  EXPECT_EQ(holed.Fits, known.Fits);
  EXPECT_DOUBLE_EQ(holed.Radius, known.Radius);
}
} // namespace
