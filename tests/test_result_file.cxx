// The result file: ASCII only when ASCII gives back every value of every
// array exactly, otherwise binary; either way everything reads back bit for
// bit.

#include "ResultFile.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <vtkCellArray.h>
#include <vtkCellData.h>
#include <vtkCharArray.h>
#include <vtkDoubleArray.h>
#include <vtkFieldData.h>
#include <vtkFloatArray.h>
#include <vtkIntArray.h>
#include <vtkLongArray.h>
#include <vtkLongLongArray.h>
#include <vtkNew.h>
#include <vtkPointData.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkPolyDataReader.h>
#include <vtkPolyDataWriter.h>
#include <vtkShortArray.h>
#include <vtkSmartPointer.h>
#include <vtkUnsignedCharArray.h>
#include <vtkUnsignedIntArray.h>
#include <vtkUnsignedLongArray.h>
#include <vtkUnsignedLongLongArray.h>
#include <vtkUnsignedShortArray.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <iomanip>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <dirent.h>

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
  EXPECT_TRUE(AsciiKeepsEveryValue(Strip(exact, false)));
  EXPECT_TRUE(AsciiKeepsEveryValue(Strip(exact, true)));
  for (size_t at : { size_t(0), size_t(2501), exact.size() - 1 })
  {
    std::vector<double> z = exact;
    z[at] = 1234.5678;
    EXPECT_FALSE(AsciiKeepsEveryValue(Strip(z, false))) << "at " << at;
    z[at] = 1.0 / 3.0;
    EXPECT_FALSE(AsciiKeepsEveryValue(Strip(z, true))) << "at " << at;
  }
  // %.11g keeps 0.1 for a double, %g keeps 1234.5 for a float.
  std::vector<double> z = exact;
  z[17] = 0.1;
  EXPECT_TRUE(AsciiKeepsEveryValue(Strip(z, true)));
  z[17] = 1234.5;
  EXPECT_TRUE(AsciiKeepsEveryValue(Strip(z, false)));
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

namespace
{
template <typename Array>
vtkSmartPointer<Array> Values(const char* name, int components, std::vector<double> values)
{
  auto array = vtkSmartPointer<Array>::New();
  array->SetName(name);
  array->SetNumberOfComponents(components);
  array->SetNumberOfTuples(static_cast<vtkIdType>(values.size()) / components);
  for (size_t k = 0; k < values.size(); ++k)
  {
    array->SetValue(static_cast<vtkIdType>(k), static_cast<typename Array::ValueType>(values[k]));
  }
  return array;
}

// Integer arrays of every width at both ends of their range.
template <typename Array>
void AddLimits(vtkFieldData* arrays, const char* name)
{
  using T = typename Array::ValueType;
  auto array = vtkSmartPointer<Array>::New();
  array->SetName(name);
  array->InsertNextValue(std::numeric_limits<T>::lowest());
  array->InsertNextValue(std::numeric_limits<T>::max());
  array->InsertNextValue(T(0));
  arrays->AddArray(array);
}

void AddEveryIntegerType(vtkFieldData* arrays)
{
  AddLimits<vtkCharArray>(arrays, "char");
  AddLimits<vtkUnsignedCharArray>(arrays, "uchar");
  AddLimits<vtkShortArray>(arrays, "short");
  AddLimits<vtkUnsignedShortArray>(arrays, "ushort");
  AddLimits<vtkIntArray>(arrays, "int");
  AddLimits<vtkUnsignedIntArray>(arrays, "uint");
  AddLimits<vtkLongArray>(arrays, "long");
  AddLimits<vtkUnsignedLongArray>(arrays, "ulong");
  AddLimits<vtkLongLongArray>(arrays, "longlong");
  AddLimits<vtkUnsignedLongLongArray>(arrays, "ulonglong");
}

// Every value of every array of expected is in actual, bit for bit.
void ExpectSameArrays(vtkFieldData* expected, vtkFieldData* actual, const char* where)
{
  for (int k = 0; k < expected->GetNumberOfArrays(); ++k)
  {
    vtkDataArray* want = expected->GetArray(k);
    vtkDataArray* got = actual->GetArray(want->GetName());
    ASSERT_NE(got, nullptr) << where << " array " << want->GetName() << " is missing";
    ASSERT_EQ(got->GetDataType(), want->GetDataType()) << where << " " << want->GetName();
    ASSERT_EQ(got->GetNumberOfValues(), want->GetNumberOfValues()) << where << " " << want->GetName();
    const int size = want->GetDataTypeSize();
    for (vtkIdType i = 0; i < want->GetNumberOfValues(); ++i)
    {
      ASSERT_EQ(memcmp(want->GetVoidPointer(i), got->GetVoidPointer(i), size), 0)
        << where << " " << want->GetName() << " value " << i;
    }
  }
}
} // namespace

TEST(ResultFile, AsciiOnlyWhenItKeepsEveryArray)
{
  const std::vector<double> z(300, 100.0);
  // Integers of every width at their limits, in point, cell and field data,
  // with floats and doubles of few digits: ASCII keeps them all.
  auto data = Strip(z, false);
  AddEveryIntegerType(data->GetPointData());
  AddEveryIntegerType(data->GetCellData());
  AddEveryIntegerType(data->GetFieldData());
  data->GetPointData()->AddArray(Values<vtkFloatArray>("float", 3, std::vector<double>(900, 0.25)));
  data->GetCellData()->AddArray(Values<vtkDoubleArray>("double", 1, { 0.1 }));
  EXPECT_TRUE(AsciiKeepsEveryValue(data));

  // One value that ASCII rounds or cannot read back, in each kind of data.
  struct Case
  {
    const char* What;
    std::function<void(vtkPolyData*)> Spoil;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<Case> cases = {
    { "float point data", [](vtkPolyData* d) {
       vtkFloatArray::SafeDownCast(d->GetPointData()->GetArray("float"))->SetValue(451, 1.0f / 3);
     } },
    { "double cell data", [](vtkPolyData* d) {
       vtkDoubleArray::SafeDownCast(d->GetCellData()->GetArray("double"))->SetValue(0, 1.0 / 3);
     } },
    { "double field data near the largest double", [](vtkPolyData* d) {
       d->GetFieldData()->AddArray(
         Values<vtkDoubleArray>("big", 1, { std::numeric_limits<double>::max() }));
     } },
    { "NaN in float point data", [nan](vtkPolyData* d) {
       vtkFloatArray::SafeDownCast(d->GetPointData()->GetArray("float"))->SetValue(2, nan);
     } },
    { "infinite point coordinate", [](vtkPolyData* d) {
       d->GetPoints()->SetPoint(7, 7.0, 0.0, HUGE_VAL);
     } },
  };
  for (const Case& c : cases)
  {
    auto spoilt = vtkSmartPointer<vtkPolyData>::New();
    spoilt->DeepCopy(data);
    c.Spoil(spoilt);
    EXPECT_FALSE(AsciiKeepsEveryValue(spoilt)) << c.What;
  }

  // Either way, every array reads back bit for bit.
  TempDir dir;
  for (bool lossy : { false, true })
  {
    auto written = vtkSmartPointer<vtkPolyData>::New();
    written->DeepCopy(data);
    if (lossy)
    {
      cases[0].Spoil(written);
      cases[3].Spoil(written);
    }
    const std::string path = dir.File(lossy ? "lossy.vtk" : "exact.vtk");
    ASSERT_TRUE(WriteResultFile(written, path.c_str()));
    EXPECT_EQ(IsBinary(path), lossy);
    vtkPolyData* back = ReadPolyData(path);
    ASSERT_NE(back, nullptr);
    ExpectSameArrays(written->GetPointData(), back->GetPointData(), "point data");
    ExpectSameArrays(written->GetCellData(), back->GetCellData(), "cell data");
    ExpectSameArrays(written->GetFieldData(), back->GetFieldData(), "field data");
    back->Delete();
  }
}

TEST(ResultFile, BinaryModelWithFloatPointDataKeptBitForBit)
{
  // The sample as a binary model with measured float values on its points;
  // with no vertex to move, the result must be the model, value for value.
  TempDir dir;
  vtkPolyData* model = ReadPolyData(SampleFile("model.vtk"));
  ASSERT_NE(model, nullptr);
  std::mt19937 random(15);
  std::uniform_real_distribution<float> measured(-1000.0f, 1000.0f);
  auto values = vtkSmartPointer<vtkFloatArray>::New();
  values->SetName("measured");
  for (vtkIdType i = 0; i < model->GetNumberOfPoints(); ++i)
  {
    values->InsertNextValue(measured(random));
  }
  model->GetPointData()->SetScalars(values);
  vtkNew<vtkPolyDataWriter> writer;
  writer->SetInputData(model);
  writer->SetFileTypeToBinary();
  writer->SetFileName(dir.File("model.vtk").c_str());
  ASSERT_EQ(writer->Write(), 1);
  WriteText(dir.File("inside.pts"), "");

  ProcessResult r = RunRepair({ dir.File("model.vtk"), dir.File("inside.pts"),
                                SampleFile("outside.pts"), "0.12" },
    dir.Path());
  ASSERT_EQ(r.Status, 0) << r.Err;
  vtkPolyData* result = ReadPolyData(dir.File("reconstucted_shape.vtk"));
  ASSERT_NE(result, nullptr);
  ExpectSameArrays(model->GetPointData(), result->GetPointData(), "point data");
  vtkNew<vtkFieldData> coordinates;
  coordinates->AddArray(model->GetPoints()->GetData());
  vtkNew<vtkFieldData> resultCoordinates;
  result->GetPoints()->GetData()->SetName(model->GetPoints()->GetData()->GetName());
  resultCoordinates->AddArray(result->GetPoints()->GetData());
  ExpectSameArrays(coordinates, resultCoordinates, "points");
  result->Delete();
  model->Delete();
}

TEST(ResultFile, ConcurrentRunsLeaveOneWholeResult)
{
  // Four runs in one directory at once, each with its own radius so that
  // their results differ; then each alone, for reference.
  const std::vector<std::string> radii = { "0.09", "0.12", "0.15", "0.18" };
  auto run = [](const std::string& radius, const std::string& where) {
    return RunRepair(
      { SampleFile("model.vtk"), SampleFile("inside.pts"), SampleFile("outside.pts"), radius },
      where);
  };
  TempDir shared;
  std::vector<ProcessResult> together(radii.size());
  std::vector<std::thread> threads;
  for (size_t k = 0; k < radii.size(); ++k)
  {
    threads.emplace_back([&, k] { together[k] = run(radii[k], shared.Path()); });
  }
  for (std::thread& t : threads)
  {
    t.join();
  }
  for (size_t k = 0; k < radii.size(); ++k)
  {
    ASSERT_EQ(together[k].Status, 0) << "R = " << radii[k] << ": " << together[k].Err;
  }
  DIR* listing = opendir(shared.Path().c_str());
  ASSERT_NE(listing, nullptr);
  std::vector<std::string> names;
  while (dirent* entry = readdir(listing))
  {
    if (entry->d_name[0] != '.')
    {
      names.emplace_back(entry->d_name);
    }
  }
  closedir(listing);
  EXPECT_EQ(names, std::vector<std::string>{ "reconstucted_shape.vtk" }) << "temporary files left";

  vtkPolyData* result = ReadPolyData(shared.File("reconstucted_shape.vtk"));
  ASSERT_NE(result, nullptr);
  ASSERT_EQ(result->GetNumberOfPoints(), 10000);
  EXPECT_EQ(result->GetNumberOfPolys(), 19602);
  // The file is one of the four results: equal to that run's result but for
  // the random offsets of at most 1/60 on each moved height.
  int matches = 0;
  for (const std::string& radius : radii)
  {
    TempDir alone;
    ASSERT_EQ(run(radius, alone.Path()).Status, 0);
    vtkPolyData* reference = ReadPolyData(alone.File("reconstucted_shape.vtk"));
    ASSERT_NE(reference, nullptr);
    bool same = reference->GetNumberOfPoints() == result->GetNumberOfPoints();
    for (vtkIdType i = 0; same && i < result->GetNumberOfPoints(); ++i)
    {
      double a[3];
      double b[3];
      result->GetPoint(i, a);
      reference->GetPoint(i, b);
      same = a[0] == b[0] && a[1] == b[1] && std::fabs(a[2] - b[2]) <= 2.0 / 60.0 + 1e-3;
    }
    matches += same ? 1 : 0;
    reference->Delete();
  }
  EXPECT_EQ(matches, 1);
  result->Delete();
}

TEST(ResultFile, ValueVerdictAgreesWithVtkAsciiRoundTrip)
{
  // Values with few digits, ties at the last printed digit, powers of two,
  // huge, tiny and subnormal values, and random ones: whether each survives
  // ASCII is what VTK's own writer and reader say.
  std::mt19937 random(7);
  std::vector<double> values = { 0.0, -0.0, 0.1, 0.25, 1234.5, 1234565.0, 123456.5, 8388608.5,
    16777216.0, 1.0 / 3.0, 1e30, 1e-30, 1e-40, 1e-310, 3.4e38, 1.7976931348e308, 2.0 / 3.0 };
  for (int k = 0; k < 2000; ++k)
  {
    const double magnitude = std::ldexp(1.0, static_cast<int>(random() % 80) - 40);
    const double v = std::uniform_real_distribution<double>(-1.0, 1.0)(random) * magnitude;
    values.push_back(k % 2 ? v : std::round(v * 1000.0) / 1000.0);
  }
  for (int type : { VTK_FLOAT, VTK_DOUBLE })
  {
    auto all = vtkSmartPointer<vtkDataArray>::Take(vtkDataArray::CreateDataArray(type));
    all->SetName("values");
    for (double v : values)
    {
      if (type == VTK_FLOAT && !(std::fabs(v) <= std::numeric_limits<float>::max()))
      {
        continue;
      }
      all->InsertNextTuple1(v);
    }
    auto data = Strip(std::vector<double>(3, 0.0), false);
    data->GetFieldData()->AddArray(all);
    vtkNew<vtkPolyDataWriter> writer;
    writer->SetInputData(data);
    writer->WriteToOutputStringOn();
    ASSERT_EQ(writer->Write(), 1);
    vtkNew<vtkPolyDataReader> reader;
    reader->ReadFromInputStringOn();
    reader->SetInputString(writer->GetOutputStdString());
    reader->Update();
    vtkDataArray* back = reader->GetOutput()->GetFieldData()->GetArray("values");
    ASSERT_NE(back, nullptr);
    ASSERT_EQ(back->GetNumberOfValues(), all->GetNumberOfValues());
    auto one = vtkSmartPointer<vtkDataArray>::Take(vtkDataArray::CreateDataArray(type));
    one->SetNumberOfTuples(1);
    int survivors = 0;
    for (vtkIdType i = 0; i < all->GetNumberOfValues(); ++i)
    {
      one->SetTuple1(0, all->GetTuple1(i));
      const bool survives = back->GetTuple1(i) == all->GetTuple1(i);
      survivors += survives ? 1 : 0;
      EXPECT_EQ(AsciiKeepsArray(one), survives)
        << all->GetDataTypeAsString() << " " << std::setprecision(17) << all->GetTuple1(i)
        << " reads back as " << back->GetTuple1(i);
    }
    // Both verdicts occur.
    EXPECT_GT(survivors, 500);
    EXPECT_LT(survivors, all->GetNumberOfValues() - 500);
  }
}

// A binary result of points and cells alone is formed without VTK's writer:
// the same bytes as VTK's writer gives, for every cell kind, float and double
// points, and models that carry more (written by VTK's writer).
TEST(ResultFile, BinaryFilesAreTheBytesVtksWriterWrites)
{
  std::mt19937 random(11);
  std::uniform_real_distribution<double> spread(-1e6, 1e6);
  auto model = [&](bool doubles, bool allKinds, bool pointData) {
    const int nx = 31;
    const int ny = 19;
    vtkNew<vtkPoints> points;
    points->SetDataType(doubles ? VTK_DOUBLE : VTK_FLOAT);
    for (int k = 0; k < nx * ny; ++k)
    {
      // Heights that ASCII would round, so that the file is binary.
      points->InsertNextPoint(k % nx, k / nx, spread(random) / 3.0);
    }
    auto data = vtkSmartPointer<vtkPolyData>::New();
    data->SetPoints(points);
    vtkNew<vtkCellArray> polys;
    for (int j = 0; j + 1 < ny; ++j)
    {
      for (int i = 0; i + 1 < nx; ++i)
      {
        const vtkIdType a = j * nx + i;
        const vtkIdType quad[4] = { a, a + 1, a + nx + 1, a + nx };
        polys->InsertNextCell(3 + (i + j) % 2, quad);
      }
    }
    data->SetPolys(polys);
    if (allKinds)
    {
      vtkNew<vtkCellArray> verts;
      vtkNew<vtkCellArray> lines;
      vtkNew<vtkCellArray> strips;
      const vtkIdType ids[5] = { 0, nx, 1, nx + 1, nx * ny - 1 };
      verts->InsertNextCell(1, ids + 4);
      lines->InsertNextCell(2, ids);
      lines->InsertNextCell(3, ids + 2);
      strips->InsertNextCell(5, ids);
      data->SetVerts(verts);
      data->SetLines(lines);
      data->SetStrips(strips);
    }
    if (pointData)
    {
      vtkNew<vtkFloatArray> values;
      values->SetName("values");
      values->SetNumberOfValues(nx * ny);
      values->Fill(0.5f);
      data->GetPointData()->AddArray(values);
    }
    return data;
  };
  for (bool doubles : { false, true })
  {
    for (bool allKinds : { false, true })
    {
      for (bool pointData : { false, true })
      {
        SCOPED_TRACE(std::string(doubles ? "double" : "float") + (allKinds ? ", every kind" : "") +
          (pointData ? ", point data" : ""));
        vtkSmartPointer<vtkPolyData> data = model(doubles, allKinds, pointData);
        vtkNew<vtkPolyDataWriter> writer;
        writer->SetInputData(data);
        writer->SetFileVersion(vtkDataWriter::VTK_LEGACY_READER_VERSION_4_2);
        writer->SetFileTypeToBinary();
        writer->WriteToOutputStringOn();
        ASSERT_EQ(writer->Write(), 1);
        const std::string expected(
          writer->GetOutputString(), static_cast<size_t>(writer->GetOutputStringLength()));
        const std::string formed = FormBinaryPointsAndCells(data);
        EXPECT_EQ(formed.empty(), pointData);
        EXPECT_TRUE(formed.empty() || formed == expected);
        TempDir dir;
        ASSERT_TRUE(WriteResultFile(data, dir.File("r.vtk").c_str()));
        const std::string written = ReadText(dir.File("r.vtk"));
        ASSERT_EQ(written.size(), expected.size());
        EXPECT_TRUE(written == expected);
      }
    }
  }
}
