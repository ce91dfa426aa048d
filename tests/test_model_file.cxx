// The model reading's one-pass lists: ReadModelFile gives the polydata VTK's
// own reader gives, for every file kind the writer makes, and the words the
// one-pass reading hands back to the slow one are read as before.

#include "ModelFile.h"
#include "TestSupport.h"
#include "TextScan.h"

#include <gtest/gtest.h>

#include <vtkCellArray.h>
#include <vtkDataArray.h>
#include <vtkFloatArray.h>
#include <vtkNew.h>
#include <vtkPointData.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkPolyDataReader.h>
#include <vtkPolyDataWriter.h>
#include <vtkSmartPointer.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

using namespace testsupport;

namespace
{
// A height field of nx by ny vertices with irregular coordinates (many
// digits), triangles, a strip, two lines, vertices and a point array.
vtkSmartPointer<vtkPolyData> MakeModel(int nx, int ny, bool doublePoints)
{
  std::mt19937 random(7);
  std::uniform_real_distribution<double> noise(-0.3, 0.3);
  vtkNew<vtkPoints> points;
  points->SetDataType(doublePoints ? VTK_DOUBLE : VTK_FLOAT);
  for (int j = 0; j < ny; ++j)
  {
    for (int i = 0; i < nx; ++i)
    {
      points->InsertNextPoint(i + noise(random), 1e-3 * j + 1e-5 * noise(random),
        1e4 * std::sin(0.1 * i) * noise(random));
    }
  }
  vtkNew<vtkCellArray> polys;
  testsupport::AddGridTriangles(polys, nx, ny);
  vtkNew<vtkCellArray> strips;
  const vtkIdType strip[5] = { 0, nx, 1, nx + 1, 2 };
  strips->InsertNextCell(5, strip);
  vtkNew<vtkCellArray> lines;
  const vtkIdType line[2] = { 0, nx - 1 };
  lines->InsertNextCell(2, line);
  lines->InsertNextCell(2, line);
  vtkNew<vtkCellArray> verts;
  const vtkIdType vertex = nx * ny - 1;
  verts->InsertNextCell(1, &vertex);
  vtkNew<vtkFloatArray> values;
  values->SetName("values");
  for (vtkIdType k = 0; k < points->GetNumberOfPoints(); ++k)
  {
    values->InsertNextValue(static_cast<float>(k) * 0.25f);
  }
  auto model = vtkSmartPointer<vtkPolyData>::New();
  model->SetPoints(points);
  model->SetPolys(polys);
  model->SetStrips(strips);
  model->SetLines(lines);
  model->SetVerts(verts);
  model->GetPointData()->AddArray(values);
  return model;
}

void ExpectSameArray(vtkDataArray* expected, vtkDataArray* actual)
{
  ASSERT_NE(expected, nullptr);
  ASSERT_NE(actual, nullptr);
  EXPECT_EQ(actual->GetDataType(), expected->GetDataType());
  EXPECT_EQ(actual->GetNumberOfComponents(), expected->GetNumberOfComponents());
  ASSERT_EQ(actual->GetNumberOfValues(), expected->GetNumberOfValues());
  const int components = expected->GetNumberOfComponents();
  for (vtkIdType k = 0; k < expected->GetNumberOfValues(); ++k)
  {
    const double e = expected->GetComponent(k / components, static_cast<int>(k % components));
    const double a = actual->GetComponent(k / components, static_cast<int>(k % components));
    if (!(e == a || (std::isnan(e) && std::isnan(a))))
    {
      ADD_FAILURE() << "value " << k << ": " << a << " instead of " << e;
      return;
    }
  }
}

void ExpectSameCells(vtkCellArray* expected, vtkCellArray* actual, const char* kind)
{
  SCOPED_TRACE(kind);
  ASSERT_EQ(actual == nullptr, expected == nullptr);
  if (expected == nullptr)
  {
    return;
  }
  EXPECT_EQ(actual->IsStorage64Bit(), expected->IsStorage64Bit());
  ExpectSameArray(expected->GetOffsetsArray(), actual->GetOffsetsArray());
  ExpectSameArray(expected->GetConnectivityArray(), actual->GetConnectivityArray());
}

void ExpectSamePolyData(vtkPolyData* expected, vtkPolyData* actual)
{
  ASSERT_NE(actual, nullptr);
  ExpectSameArray(expected->GetPoints()->GetData(), actual->GetPoints()->GetData());
  ExpectSameCells(expected->GetVerts(), actual->GetVerts(), "verts");
  ExpectSameCells(expected->GetLines(), actual->GetLines(), "lines");
  ExpectSameCells(expected->GetPolys(), actual->GetPolys(), "polys");
  ExpectSameCells(expected->GetStrips(), actual->GetStrips(), "strips");
  ASSERT_EQ(actual->GetPointData()->GetNumberOfArrays(),
    expected->GetPointData()->GetNumberOfArrays());
  for (int k = 0; k < expected->GetPointData()->GetNumberOfArrays(); ++k)
  {
    ExpectSameArray(expected->GetPointData()->GetArray(k), actual->GetPointData()->GetArray(k));
    EXPECT_STREQ(actual->GetPointData()->GetArrayName(k),
      expected->GetPointData()->GetArrayName(k));
  }
}

vtkSmartPointer<vtkPolyData> ReadWithVtk(const std::string& path)
{
  vtkNew<vtkPolyDataReader> reader;
  reader->SetFileName(path.c_str());
  reader->Update();
  return reader->GetOutput();
}

const std::string Header = "# vtk DataFile Version 4.2\nwords\nASCII\nDATASET POLYDATA\n";
} // namespace

TEST(ModelFile, GivesWhatVtksReaderGivesForEveryKindOfFile)
{
  for (bool doublePoints : { false, true })
  {
    const vtkSmartPointer<vtkPolyData> source = MakeModel(23, 17, doublePoints);
    for (bool binary : { false, true })
    {
      for (bool newest : { false, true })
      {
        SCOPED_TRACE(std::string(doublePoints ? "double" : "float") +
          (binary ? ", binary" : ", ASCII") + (newest ? ", 5.1" : ", 4.2"));
        TempDir dir;
        const std::string path = dir.File("m.vtk");
        vtkNew<vtkPolyDataWriter> writer;
        writer->SetInputData(source);
        writer->SetFileName(path.c_str());
        if (!newest)
        {
          writer->SetFileVersion(vtkDataWriter::VTK_LEGACY_READER_VERSION_4_2);
        }
        if (binary)
        {
          writer->SetFileTypeToBinary();
        }
        ASSERT_EQ(writer->Write(), 1);
        std::string problem;
        vtkSmartPointer<vtkPolyData> model = ReadModelFile(path.c_str(), problem);
        EXPECT_EQ(problem, "");
        ExpectSamePolyData(ReadWithVtk(path), model);
      }
    }
  }
}

TEST(ModelFile, GivesWhatVtksReaderGivesForTheBundledSample)
{
  const std::string path = SampleFile("model.vtk");
  std::string problem;
  vtkSmartPointer<vtkPolyData> model = ReadModelFile(path.c_str(), problem);
  EXPECT_EQ(problem, "");
  ExpectSamePolyData(ReadWithVtk(path), model);
}

// Cells are numbered across the kinds (vertices first), empty cells counted.
TEST(ModelFile, AStrayPointIdNamesItsCell)
{
  TempDir dir;
  WriteText(dir.File("m.vtk"), Header +
      "POINTS 3 float\n0 0 0 1 0 0 0 1 0\nVERTICES 1 2\n1 0\n"
      "POLYGONS 3 9\n0\n3 0 1 2\n3 0 1 9\n");
  std::string problem;
  EXPECT_EQ(ReadModelFile(dir.File("m.vtk").c_str(), problem), nullptr);
  EXPECT_EQ(problem,
    "Cell 3 of model " + dir.File("m.vtk") +
      " refers to point 9, which is out of range (the model has 3 points)");
}

// Words the C library reads but from_chars does not, numbers in other
// spellings, cells of another integer type: each read as the slow reading
// reads it, and what follows the section still read.
TEST(ModelFile, WordsOutsideTheOnePassReadingAreReadAsBefore)
{
  const std::string longNumber = "0." + std::string(260, '0') + "1";
  const std::string cells = "POLYGONS 1 4\n3 0 1 2\n";
  struct Case
  {
    const char* Name;
    std::string Text;
    std::vector<double> Heights; // of the three points
  };
  const Case cases[] = {
    { "plus signs, hexadecimal", Header + "POINTS 3 float\n+1 0 +2.5  1 0 0x1p3  0 1 -0\n" + cells,
      { 2.5, 8.0, -0.0 } },
    { "out of float's range", Header + "POINTS 3 float\n0 0 1e-42  1 0 1e60  0 1 -1e60\n" + cells,
      { std::strtof("1e-42", nullptr), HUGE_VAL, -HUGE_VAL } },
    { "voids", Header + "POINTS 3 double\n0 0 nan  1 0 -inf  0 1 INF\n" + cells,
      { NAN, -HUGE_VAL, HUGE_VAL } },
    { "tabs, carriage returns, no final line end",
      Header + "POINTS 3 float\r\n0\t0\t1\r\n1\f0\v2\r\n0 1 3\r\nPOLYGONS 1 4\r\n3 0 1 2",
      { 1.0, 2.0, 3.0 } },
  };
  for (const Case& c : cases)
  {
    SCOPED_TRACE(c.Name);
    TempDir dir;
    WriteText(dir.File("m.vtk"), c.Text);
    std::string problem;
    vtkSmartPointer<vtkPolyData> model = ReadModelFile(dir.File("m.vtk").c_str(), problem);
    ASSERT_NE(model, nullptr) << problem;
    ASSERT_EQ(model->GetNumberOfPoints(), 3);
    for (vtkIdType k = 0; k < 3; ++k)
    {
      const double z = model->GetPoint(k)[2];
      const double expected = c.Heights[static_cast<size_t>(k)];
      EXPECT_TRUE(z == expected || (std::isnan(z) && std::isnan(expected)))
        << "point " << k << ": " << z << " instead of " << expected;
      EXPECT_EQ(std::signbit(z), std::signbit(expected)) << "point " << k;
    }
    EXPECT_EQ(model->GetPolys()->GetNumberOfCells(), 1);
  }

  // Integer spellings and types that VTK's own reader reads: the same cells.
  const std::string integers[] = {
    Header + "POINTS 3 float\n0 0 0 1 0 0 0 1 0\nPOLYGONS 1 4\n+3 00 +1 2\n",
    "# vtk DataFile Version 5.1\nw\nASCII\nDATASET POLYDATA\nPOINTS 3 float\n0 0 0 1 0 0 0 1 "
    "0\nPOLYGONS 2 3\nOFFSETS vtktypeint64\n0 +3\nCONNECTIVITY vtktypeint64\n0 001 2\n",
    "# vtk DataFile Version 5.1\nw\nASCII\nDATASET POLYDATA\nPOINTS 3 float\n0 0 0 1 0 0 0 1 "
    "0\nPOLYGONS 2 3\nOFFSETS long\n0 3\nCONNECTIVITY long\n0 +1 2\n",
  };
  for (const std::string& text : integers)
  {
    SCOPED_TRACE(text);
    TempDir dir;
    WriteText(dir.File("m.vtk"), text);
    std::string problem;
    ExpectSamePolyData(ReadWithVtk(dir.File("m.vtk")),
      ReadModelFile(dir.File("m.vtk").c_str(), problem));
  }

  // 32-bit offsets, which VTK's reader does not read, stay refused.
  {
    TempDir dir;
    WriteText(dir.File("m.vtk"), "# vtk DataFile Version 5.1\nw\nASCII\nDATASET POLYDATA\n"
      "POINTS 3 float\n0 0 0 1 0 0 0 1 0\nPOLYGONS 2 3\nOFFSETS vtktypeint32\n0 3\n"
      "CONNECTIVITY vtktypeint32\n0 1 2\n");
    std::string problem;
    EXPECT_EQ(ReadModelFile(dir.File("m.vtk").c_str(), problem), nullptr);
  }

  // A word longer than the reader's 255 characters is split by it, and its
  // rest is the next coordinate.
  TempDir dir;
  WriteText(dir.File("m.vtk"), Header + "POINTS 2 float\n0 0 " + longNumber + " 5 6\n");
  std::string problem;
  vtkSmartPointer<vtkPolyData> model = ReadModelFile(dir.File("m.vtk").c_str(), problem);
  ASSERT_NE(model, nullptr) << problem;
  ASSERT_EQ(model->GetNumberOfPoints(), 2);
  EXPECT_EQ(model->GetPoint(0)[2], 0.0);
  EXPECT_EQ(model->GetPoint(1)[0], 1.0);
  EXPECT_EQ(model->GetPoint(1)[2], 6.0);
}

TEST(TextScan, ReadsPlainNumbersAndHandsBackEverythingElse)
{
  auto integers = [](const std::string& text, size_t count, std::vector<long long>* values) {
    values->assign(count, -1);
    size_t end = 0;
    return ScanIntegers(text.data(), text.size(), 0, count, values->data(), &end) &&
      end <= text.size();
  };
  std::vector<long long> values;
  ASSERT_TRUE(integers(" 12\n-7\t0009 9223372036854775807", 4, &values));
  EXPECT_EQ(values, (std::vector<long long>{ 12, -7, 9, 9223372036854775807LL }));
  ASSERT_TRUE(integers("-9223372036854775808 -0 -12", 3, &values));
  EXPECT_EQ(values, (std::vector<long long>{ -9223372036854775807LL - 1, 0, -12 }));
  for (const char* refused : { "1 2", "1 +2 3", "1 2x 3", "1 9223372036854775808 3", "1 2.5 3",
         "1 - 3", "1 -9223372036854775809 3", "1 99999999999999999999 3" })
  {
    EXPECT_FALSE(integers(refused, 3, &values)) << refused;
  }
  int narrow[2];
  size_t end = 0;
  EXPECT_FALSE(ScanIntegers("1 2147483648", 12, 0, 2, narrow, &end));
  ASSERT_TRUE(ScanIntegers("1 -2147483648 tail", 18, 0, 2, narrow, &end));
  EXPECT_EQ(narrow[1], -2147483647 - 1);
  EXPECT_EQ(end, 13u); // right after the last number, as the stream stops

  // Floats rounded once, from the decimal text: the same as strtof.
  std::mt19937 random(3);
  std::uniform_real_distribution<double> spread(-40.0, 40.0);
  std::string text;
  std::vector<float> expected;
  for (int k = 0; k < 2000; ++k)
  {
    char word[64];
    snprintf(word, sizeof(word), "%.*g", 6 + k % 12, std::pow(10.0, spread(random)) * (k % 3 - 1));
    text += word;
    text += k % 7 ? " " : "\n";
    expected.push_back(std::strtof(word, nullptr));
  }
  std::vector<float> floats(expected.size());
  ASSERT_TRUE(ScanReals(text.data(), text.size(), 0, floats.size(), floats.data(), &end));
  EXPECT_EQ(0, memcmp(floats.data(), expected.data(), 4 * floats.size()));
  EXPECT_EQ(end, text.size() - 1);
  for (const char* refused : { "1 2", "1 2,5 3", "1 x 3", "1 1e 3" })
  {
    EXPECT_FALSE(ScanReals(refused, strlen(refused), 0, 3, floats.data(), &end)) << refused;
  }

  EXPECT_TRUE(NextWordStartsWith("\n  MetaData\n", 12, 0, "metadata"));
  EXPECT_FALSE(NextWordStartsWith("\n  POINT_DATA 3\n", 16, 0, "metadata"));
  EXPECT_FALSE(NextWordStartsWith("meta", 4, 0, "metadata"));
}

// A file of another kind is told by its first bytes; a polydata file, a
// missing one and text of no known kind are not described.
TEST(ModelFormat, TellsWhatAFileOfAnotherKindHolds)
{
  TempDir dir;
  const std::string legacy = "# vtk DataFile Version 3.0\nsolid\nASCII\n";
  const std::vector<std::pair<std::string, std::string>> cases = {
    { legacy + "DATASET POLYDATA\nPOINTS 0 float\n", "" },
    { legacy + "dataset polydata\n", "" },
    { legacy + "\nDATASET RECTILINEAR_GRID\n", "it holds a RECTILINEAR_GRID dataset" },
    { legacy + "DATASET UNSTRUCTURED_GRID\n", "it holds an UNSTRUCTURED_GRID dataset" },
    { "solid x\nendsolid x\n", "it is an STL file" },
    { std::string(80, 'h') + std::string("\x02\0\0\0", 4) + std::string(100, '\0'),
      "it is an STL file" },
    // 80 + 4 bytes claiming 2 triangles, one short: not a binary STL.
    { std::string(80, 'h') + std::string("\x02\0\0\0", 4) + std::string(50, '\0'), "" },
    { "ply\r\nformat binary_little_endian 1.0\r\n", "it is a PLY file" },
    { "<?xml version=\"1.0\"?>\n<VTKFile type=\"UnstructuredGrid\" version=\"1.0\">\n",
      "it is a VTK XML UnstructuredGrid file" },
    { "<VTKFile version=\"1.0\">\n", "it is a VTK XML file" },
    { std::string("II*\0", 4) + "rest", "it is a TIFF image" },
    { std::string("MM\0*", 4) + "rest", "it is a TIFF image" },
    { "ncols 10\nnrows 10\n", "it is an ESRI ASCII grid" },
    { "# made by hand\n\nv 0 0 0\nv 1 0 0\n", "it is a Wavefront OBJ file" },
    { "hello\nworld\n", "" },
  };
  for (size_t k = 0; k < cases.size(); ++k)
  {
    const std::string path = dir.File("file" + std::to_string(k));
    WriteText(path, cases[k].first);
    EXPECT_EQ(DescribeOtherFormat(path.c_str()), cases[k].second) << "case " << k;
  }
  EXPECT_EQ(DescribeOtherFormat(dir.File("missing").c_str()), "");
  EXPECT_EQ(DescribeOtherFormat(dir.Path().c_str()), "");
  EXPECT_EQ(DescribeOtherFormat(nullptr), "");

  WriteText(dir.File("g.vtk"), legacy + "DATASET STRUCTURED_GRID\n");
  EXPECT_EQ(UnreadableModelMessage(dir.File("g.vtk"), "surface_holes"),
    "Can not read model " + dir.File("g.vtk") +
      ": it holds a STRUCTURED_GRID dataset; surface_holes reads VTK legacy POLYDATA "
      "(surface_fill reads other mesh formats and rasters)");
  EXPECT_EQ(UnreadableModelMessage(dir.File("missing"), "surface_repair"),
    "Can not read model " + dir.File("missing"));
}
