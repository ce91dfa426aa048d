// The constraint point reader: normalised frame, frame points, ordering,
// right-hand side, error reports and the accessor trace.

#include "Console.h"
#include "TestSupport.h"
#include "vtkDatReader.h"

#include <gtest/gtest.h>

#include <vtkIdList.h>
#include <vtkNew.h>
#include <vtkPolyData.h>
#include <vtkSmartPointer.h>

#include <cmath>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

using namespace testsupport;

namespace
{
// Height of the generated 5 x 4 model: x in 0..8, y in 0..9, z in 10..45.
double Height(double x, double y)
{
  return 10.0 + x + y + 0.25 * x * y;
}

class ReaderTest : public ::testing::Test
{
protected:
  void SetUp() override
  {
    this->Model = this->Dir.File("model.vtk");
    WriteHeightField(this->Model, 5, 4, 2.0, 3.0, Height);
  }

  // Runs ReadData on the model with the given outside list text.
  int Read(const std::string& outsideText, float radius = 0.3f)
  {
    this->Outside = this->Dir.File("outside.pts");
    WriteText(this->Outside, outsideText);
    return this->ReadFiles(this->Model, this->Outside, radius);
  }

  int ReadFiles(const std::string& model, const std::string& outside, float radius = 0.3f)
  {
    this->ModelName = model;
    this->OutsideName = outside;
    this->Reader->ModelName = this->ModelName.data();
    this->Reader->OutsideName = this->OutsideName.data();
    this->Reader->SetRadius(radius);
    return this->Reader->ReadData();
  }

  int Size() { return static_cast<int>(this->Reader->GetPointArray()->GetNumberOfPoints()); }

  // Value of point id: minus the right-hand side at its position.
  float Value(int id) { return -this->Reader->GetB()[this->Reader->GetUnList()[id]]; }

  void ExpectPoint(int id, double x, double y, double z)
  {
    double p[3];
    this->Reader->GetPointArray()->GetPoint(id, p);
    EXPECT_FLOAT_EQ(p[0], x) << "point " << id;
    EXPECT_FLOAT_EQ(p[1], y) << "point " << id;
    EXPECT_FLOAT_EQ(p[2], z) << "point " << id;
  }

  TempDir Dir;
  std::string Model;
  std::string Outside;
  std::string ModelName;
  std::string OutsideName;
  vtkNew<vtkDatReader> Reader;
};
} // namespace

TEST_F(ReaderTest, FramePointsThenConstraintPointsInTheNormalisedFrame)
{
  testing::internal::CaptureStdout();
  ASSERT_EQ(this->Read("0\n19\n7\n"), 0);
  std::string out = testing::internal::GetCapturedStdout();

  ASSERT_EQ(this->Size(), 15);
  const double c[3] = { -0.1, 0.5, 1.1 };
  for (int h = 0; h < 3; ++h)
  {
    this->ExpectPoint(4 * h + 0, -0.1, -0.1, c[h]);
    this->ExpectPoint(4 * h + 1, -0.1, 1.1, c[h]);
    this->ExpectPoint(4 * h + 2, 1.1, 1.1, c[h]);
    this->ExpectPoint(4 * h + 3, 1.1, -0.1, c[h]);
  }
  for (int id = 0; id < 12; ++id)
  {
    EXPECT_EQ(this->Value(id), 0.0f);
  }
  // Vertex 0 is the lowest corner, vertex 19 the highest, vertex 7 = (2, 1).
  this->ExpectPoint(12, 0.0, 0.0, 0.0);
  EXPECT_FLOAT_EQ(this->Value(12), 0.0f);
  this->ExpectPoint(13, 1.0, 1.0, 0.0);
  EXPECT_FLOAT_EQ(this->Value(13), 1.0f);
  this->ExpectPoint(14, 0.5, 1.0 / 3.0, 0.0);
  EXPECT_FLOAT_EQ(this->Value(14), static_cast<float>((Height(4, 3) - 10.0) / 35.0));

  // Exactly two report lines, tree first.
  std::vector<std::string> lines = Lines(out);
  ASSERT_EQ(lines.size(), 2u) << out;
  EXPECT_EQ(lines[0].rfind("Tree build time: ", 0), 0u);
  EXPECT_EQ(lines[1].rfind("Sorting time: ", 0), 0u);
}

TEST_F(ReaderTest, OrderingArraysAndRightHandSideAgree)
{
  testing::internal::CaptureStdout();
  std::ostringstream all;
  for (int id = 0; id < 20; ++id)
  {
    all << id << "\n";
  }
  ASSERT_EQ(this->Read(all.str(), 0.4f), 0);
  testing::internal::GetCapturedStdout();

  const int n = this->Size();
  ASSERT_EQ(n, 32);
  int* list = this->Reader->GetList();
  int* unlist = this->Reader->GetUnList();
  std::vector<int> seen(n, 0);
  for (int k = 0; k < n; ++k)
  {
    ASSERT_GE(list[k], 0);
    ASSERT_LT(list[k], n);
    ++seen[list[k]];
    EXPECT_EQ(unlist[list[k]], k);
  }
  EXPECT_EQ(seen, std::vector<int>(n, 1));
  EXPECT_EQ(list[0], 0);
  EXPECT_GT(this->Reader->GetMax(), 0);
  // B[k] is minus the value of point List[k]; vertex v is point 12 + v.
  for (int k = 0; k < n; ++k)
  {
    float expected = 0.0f;
    if (list[k] >= 12)
    {
      const int v = list[k] - 12;
      expected = -static_cast<float>((Height(2.0 * (v % 5), 3.0 * (v / 5)) - 10.0) / 35.0);
    }
    EXPECT_FLOAT_EQ(this->Reader->GetB()[k], expected) << "position " << k;
  }
}

TEST_F(ReaderTest, ListFormatExamples)
{
  testing::internal::CaptureStdout();
  ASSERT_EQ(this->Read("5\n\nabc\n7\n"), 0);
  testing::internal::GetCapturedStdout();
  ASSERT_EQ(this->Size(), 14);
  this->ExpectPoint(12, 0.0, 1.0 / 3.0, 0.0); // vertex 5 = (0, 1)
  this->ExpectPoint(13, 0.5, 1.0 / 3.0, 0.0); // vertex 7 = (2, 1)
}

TEST_F(ReaderTest, EmptyListGivesTheFramePointsAlone)
{
  testing::internal::CaptureStdout();
  ASSERT_EQ(this->Read("no ids here\n"), 0);
  testing::internal::GetCapturedStdout();
  ASSERT_EQ(this->Size(), 12);
  for (int k = 0; k < 12; ++k)
  {
    EXPECT_EQ(this->Reader->GetB()[k], 0.0f);
  }
  // The frame points lie 1.2 apart at least: no neighbours at this radius.
  EXPECT_EQ(this->Reader->GetMax(), 0);
}

TEST_F(ReaderTest, RepeatedOutsidePointsAreSkippedAndCounted)
{
  // Vertex 7 twice, vertex 3 three times: the first of each is kept.
  testing::internal::CaptureStdout();
  ASSERT_EQ(this->Read("7\n3\n7\n3\n8\n3\n"), 0);
  std::string out = testing::internal::GetCapturedStdout();
  ASSERT_EQ(this->Size(), 15);
  this->ExpectPoint(12, 0.5, 1.0 / 3.0, 0.0);
  this->ExpectPoint(13, 0.75, 0.0, 0.0);
  this->ExpectPoint(14, 0.75, 1.0 / 3.0, 0.0);
  std::vector<std::string> lines = Lines(out);
  ASSERT_EQ(lines.size(), 3u) << out;
  EXPECT_EQ(lines[0], "Skipped 3 repeated outside points");
}

TEST_F(ReaderTest, StackedVerticesWithTheSamePlanePositionAreSkipped)
{
  // Two vertices above each other: same normalised (X, Y), different heights.
  WriteText(this->Model, "# vtk DataFile Version 3.0\nstacked\nASCII\nDATASET POLYDATA\n"
                         "POINTS 4 float\n0 0 0\n1 0 1\n0 1 2\n0 0 5\n");
  testing::internal::CaptureStdout();
  ASSERT_EQ(this->Read("0\n1\n2\n3\n"), 0);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(this->Size(), 15);
  EXPECT_FLOAT_EQ(this->Value(12), 0.0f); // the first of the pair is kept
  EXPECT_EQ(Lines(out)[0], "Skipped 1 repeated outside points");
}

TEST_F(ReaderTest, FlatModelGivesZeroValues)
{
  WriteHeightField(this->Model, 3, 3, 1.0, 1.0, [](double, double) { return 7.0; });
  testing::internal::CaptureStdout();
  ASSERT_EQ(this->Read("0\n4\n8\n"), 0);
  testing::internal::GetCapturedStdout();
  for (int id = 12; id < 15; ++id)
  {
    EXPECT_EQ(this->Value(id), 0.0f);
  }
}

TEST_F(ReaderTest, ErrorsAreReportedThroughTheToolkitAndGiveMinusOne)
{
  struct Case
  {
    std::string Name;
    std::string ModelText; // empty: keep the generated model
    std::string OutsideText;
    bool MissingOutside;
    std::string Message;
  };
  const std::string header = "# vtk DataFile Version 3.0\nm\nASCII\nDATASET POLYDATA\n";
  const std::vector<Case> cases = {
    { "missing outside list", "", "", true, "): Not correct OutsideName\n\n" },
    { "negative id", "", "1\n2\n-4\n", false,
      "): Vertex id -4 on line 3 of OUTSIDE is out of range (the model has 20 points)\n\n" },
    { "id past the end", "", "1\n\n20\n", false,
      "): Vertex id 20 on line 3 of OUTSIDE is out of range (the model has 20 points)\n\n" },
    { "not a model", "hello\n", "1\n", false, "): Can not read model MODEL\n\n" },
    { "no points", header + "POINTS 0 float\n", "", false, "): Can not read model MODEL\n\n" },
    { "zero extent along x", header + "POINTS 3 float\n1 0 0\n1 1 0\n1 2 1\n", "0\n", false,
      "): Model has zero extent along x\n\n" },
    { "zero extent along y", header + "POINTS 3 float\n0 4 0\n1 4 0\n2 4 1\n", "0\n", false,
      "): Model has zero extent along y\n\n" },
  };
  for (const Case& c : cases)
  {
    SCOPED_TRACE(c.Name);
    TempDir dir;
    std::string model = this->Model;
    if (!c.ModelText.empty())
    {
      model = dir.File("bad.vtk");
      WriteText(model, c.ModelText);
    }
    std::string outside = dir.File("outside.pts");
    if (!c.MissingOutside)
    {
      WriteText(outside, c.OutsideText);
    }
    vtkNew<vtkDatReader> reader;
    std::string modelName = model;
    std::string outsideName = outside;
    reader->ModelName = modelName.data();
    reader->OutsideName = outsideName.data();
    reader->SetRadius(0.3f);
    OutputCapture capture;
    testing::internal::CaptureStdout();
    EXPECT_EQ(reader->ReadData(), -1);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.find("Tree build time"), std::string::npos);

    std::string message = c.Message;
    for (auto [token, value] : { std::pair<std::string, std::string>{ "OUTSIDE", outside },
           { "MODEL", model } })
    {
      size_t at = message.find(token);
      if (at != std::string::npos)
      {
        message.replace(at, token.size(), value);
      }
    }
    std::ostringstream prefix;
    prefix << "vtkDatReader (" << static_cast<void*>(reader.GetPointer()) << message;
    EXPECT_NE(capture.Errors().find("ERROR: In "), std::string::npos) << capture.Errors();
    EXPECT_NE(capture.Errors().find("vtkDatReader.cxx, line "), std::string::npos);
    EXPECT_NE(capture.Errors().find(prefix.str()), std::string::npos) << capture.Errors();
    if (c.MissingOutside)
    {
      EXPECT_NE(capture.Errors().find("vtkDatReader.cxx, line 121\n"), std::string::npos);
      EXPECT_EQ(reader->GetPointArray()->GetNumberOfPoints(), 0);
    }
  }
}

TEST_F(ReaderTest, AccessorTraceCarriesTheHeaderLines)
{
  testing::internal::CaptureStdout();
  ASSERT_EQ(this->Read("1\n2\n"), 0);
  testing::internal::GetCapturedStdout();

  std::ostringstream self;
  self << "vtkDatReader (" << static_cast<void*>(this->Reader.GetPointer());
  const std::string who = self.str() + "): " + self.str();

  OutputCapture capture;
  this->Reader->GetTree(); // Debug off: silent
  this->Reader->SetRadius(0.5f);
  EXPECT_EQ(capture.Debug(), "");

  this->Reader->DebugOn();
  struct Expect
  {
    int Line;
    std::string Tail;
  };
  std::ostringstream tree, points, b, unlist, list;
  tree << static_cast<void*>(this->Reader->GetTree());
  capture.Clear();
  const std::vector<std::pair<std::function<void()>, Expect>> calls = {
    { [&] { this->Reader->GetTree(); }, { 25, "): returning Tree address " + tree.str() } },
    { [&] { this->Reader->GetPointArray(); }, { 26, "): returning PointArray address " } },
    { [&] { this->Reader->GetB(); }, { 27, "): returning B of " } },
    { [&] { this->Reader->GetUnList(); }, { 28, "): returning UnList of " } },
    { [&] { this->Reader->GetList(); }, { 29, "): returning List of " } },
    { [&] { this->Reader->SetRadius(0.25f); }, { 30, "): setting Radius to 0.25" } },
    { [&] { this->Reader->GetMax(); }, { 31, "): returning Max of " } },
  };
  for (const auto& [call, expect] : calls)
  {
    capture.Clear();
    call();
    const std::string& text = capture.Debug();
    SCOPED_TRACE(text);
    EXPECT_EQ(text.rfind("Debug: In ", 0), 0u);
    std::string place = "vtkDatReader.h, line " + std::to_string(expect.Line) + "\n" + who;
    EXPECT_NE(text.find(place + expect.Tail), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 2), "\n\n");
  }
  capture.Clear();
  this->Reader->GetMax();
  EXPECT_NE(capture.Debug().find(
              "): returning Max of " + std::to_string(this->Reader->GetMax()) + "\n\n"),
    std::string::npos);
  this->Reader->DebugOff();
}

TEST_F(ReaderTest, SetRadiusModifiesOnlyOnChange)
{
  this->Reader->SetRadius(0.5f);
  vtkMTimeType before = this->Reader->GetMTime();
  this->Reader->SetRadius(0.5f);
  EXPECT_EQ(this->Reader->GetMTime(), before);
  this->Reader->SetRadius(0.75f);
  EXPECT_GT(this->Reader->GetMTime(), before);
}

// A model and outside ids handed over in memory give exactly what the files
// give, in two steps as in one, and the model is kept for the later stages.
TEST_F(ReaderTest, InputsInMemoryAndTheTwoStepRead)
{
  testing::internal::CaptureStdout();
  ASSERT_EQ(this->Read("0\n19\n7\n3\n"), 0);
  testing::internal::GetCapturedStdout();
  ASSERT_NE(this->Reader->GetModel(), nullptr);
  EXPECT_EQ(this->Reader->GetModel()->GetNumberOfPoints(), 20);

  auto model = vtkSmartPointer<vtkPolyData>::Take(ReadPolyData(this->Model));
  vtkNew<vtkIdList> ids;
  for (int id : { 0, 19, 7, 3 })
  {
    ids->InsertNextId(id);
  }
  vtkNew<vtkDatReader> memory;
  memory->SetModel(model);
  memory->SetOutsideIds(ids);
  memory->SetRadius(0.3f);
  {
    QuietReports quiet; // the report lines go nowhere
    testing::internal::CaptureStdout();
    ASSERT_EQ(memory->ReadConstraints(), 0);
    EXPECT_EQ(memory->GetValues()->GetNumberOfTuples(), 16);
    ASSERT_EQ(memory->PrepareSystem(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  }
  EXPECT_EQ(memory->GetModel(), model.GetPointer());
  ASSERT_EQ(memory->GetPointArray()->GetNumberOfPoints(), this->Size());
  EXPECT_EQ(memory->GetMax(), this->Reader->GetMax());
  for (int k = 0; k < this->Size(); ++k)
  {
    EXPECT_EQ(memory->GetList()[k], this->Reader->GetList()[k]);
    EXPECT_EQ(memory->GetB()[k], this->Reader->GetB()[k]);
  }

  // Errors of in-memory inputs name the position and the model's checks apply.
  OutputCapture capture;
  ids->InsertNextId(20);
  vtkNew<vtkDatReader> stray;
  stray->SetModel(model);
  stray->SetOutsideIds(ids);
  EXPECT_EQ(stray->ReadConstraints(), -1);
  EXPECT_NE(capture.Errors().find("Vertex id 20 at position 5 of the outside ids is out of range "
                                  "(the model has 20 points)"),
    std::string::npos)
    << capture.Errors();
  capture.Clear();
  model->GetPoints()->SetPoint(4, 1.0, std::nan(""), 2.0);
  vtkNew<vtkDatReader> broken;
  broken->SetModel(model);
  broken->SetOutsideIds(ids);
  EXPECT_EQ(broken->ReadConstraints(), -1);
  EXPECT_NE(capture.Errors().find("vtkDatReader.cxx, line 106\n"), std::string::npos);
  EXPECT_NE(capture.Errors().find("Point 4 of model (none) has a non-finite coordinate"),
    std::string::npos)
    << capture.Errors();
}
