// Broken inputs, one table: surface_repair runs as a process on each case and
// must end with its message on standard error and its exit status, leaving no
// new reconstucted_shape.vtk behind and an earlier one untouched. Every
// failing case runs twice, in a directory without a result and in one holding
// an earlier result.
//
// A few cases are inputs that look broken but that the list format accepts
// (text around the ids, repeated ids, an empty inside list, no display): they
// must run through and write the result.

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

using namespace testsupport;

namespace
{
const char* const ResultName = "reconstucted_shape.vtk";
const char* const Earlier = "an earlier result\n";
const char* const ReadFailed = "Some error during reading input data...";
// The refusals of a radius typed as text.
std::string BadRadius(const std::string& typed)
{
  return "Radius must be a positive number, not '" + typed + "'\n";
}
std::string NotANumber(const std::string& typed, const std::string& pointed = "")
{
  return "Radius '" + typed + "' is not a number: " +
    (pointed.empty() ? "write it as a plain number, with a decimal point and no unit, or give auto"
                     : "write it with a decimal point (" + pointed + ") or give auto") +
    "\n";
}
const char* const InputEnded = "Input ended before all four inputs were given\n";
const char* const NoDisplay = "No display available: the viewer is not shown\n";

// How the run is started.
enum class As
{
  Owner,        // as the user running the tests
  Unprivileged, // as "nobody" when the tests run as root, so that modes apply
};

// What the run must leave in its directory.
enum class Result
{
  Untouched, // no new result, an earlier one intact
  Written,   // the run succeeded and wrote the result
};

struct Case
{
  std::string Name;
  std::vector<std::string> Args; // default: the good inputs, R = 0.5
  std::string Input;             // standard input
  std::function<void(const TempDir&)> Prepare;
  std::vector<std::string> Err; // each must appear on standard error
  bool ErrExact = false;         // Err[0] is the whole of standard error
  int Status = 1;
  Result Expect = Result::Untouched;
  As Run = As::Owner;
};

std::ostream& operator<<(std::ostream& out, const Case& c)
{
  return out << c.Name;
}

const std::vector<std::string> Good = { "model.vtk", "inside.pts", "outside.pts", "0.5" };

std::vector<std::string> With(int slot, const std::string& value)
{
  std::vector<std::string> args = Good;
  args[static_cast<size_t>(slot)] = value;
  return args;
}

const std::string Header = "# vtk DataFile Version 3.0\nbroken\nASCII\nDATASET POLYDATA\n";

// A 3 x 3 grid as VTK legacy binary (big-endian floats and ints), with the
// coordinates of one point replaced.
std::string BinaryModel(int point, float x, float y, float z)
{
  auto put32 = [](std::string& text, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
    {
      text.push_back(static_cast<char>((v >> shift) & 0xff));
    }
  };
  std::string text = "# vtk DataFile Version 3.0\nbroken\nBINARY\nDATASET POLYDATA\nPOINTS 9 float\n";
  for (int k = 0; k < 9; ++k)
  {
    float p[3] = { static_cast<float>(k % 3), static_cast<float>(k / 3), 0.5f * k };
    if (k == point)
    {
      p[0] = x;
      p[1] = y;
      p[2] = z;
    }
    for (float v : p)
    {
      uint32_t bits;
      std::memcpy(&bits, &v, sizeof(bits));
      put32(text, bits);
    }
  }
  text += "\nPOLYGONS 2 8\n";
  for (uint32_t v : { 3u, 0u, 1u, 4u, 3u, 0u, 4u, 3u })
  {
    put32(text, v);
  }
  return text + "\n";
}

// Writes name into the case directory with the given text.
std::function<void(const TempDir&)> File(const std::string& name, const std::string& text)
{
  return [name, text](const TempDir& dir) { WriteText(dir.File(name), text); };
}

// Makes an input unreadable: mode 000, with the run dropped to "nobody".
std::function<void(const TempDir&)> Unreadable(const std::string& name)
{
  return [name](const TempDir& dir) { chmod(dir.File(name).c_str(), 0); };
}

// The good model text, cut after its first `keep` characters.
std::string CutModel(size_t keep);

// The good model as the fixture writes it.
std::string GoodModelText()
{
  TempDir dir;
  WriteHeightField(dir.File("m.vtk"), 12, 12, 1.0, 1.0,
    [](double x, double y) { return 0.1 * x * x - 0.05 * y * x + y; });
  return ReadText(dir.File("m.vtk"));
}

std::string CutModel(size_t keep)
{
  return GoodModelText().substr(0, keep);
}

// The good model with the height of one vertex written as nan.
std::string ModelWithVoid(int point)
{
  std::vector<std::string> lines = Lines(GoodModelText());
  std::string text;
  for (size_t k = 0; k < lines.size(); ++k)
  {
    if (static_cast<int>(k) == point + 5) // the points start on line 6
    {
      lines[k] = lines[k].substr(0, lines[k].rfind(' ')) + " nan";
    }
    text += lines[k] + "\n";
  }
  return text;
}

std::string CutInPolygons()
{
  const std::string text = GoodModelText();
  return text.substr(0, text.find("POLYGONS") + 200);
}

// A 300 x 300 height field with every vertex in the outside list: at R = 1
// all 90,000 constraint points are neighbours of each other.
void WriteWholeModelOutside(const TempDir& dir)
{
  WriteHeightField(dir.File("big.vtk"), 300, 300, 1.0, 1.0,
    [](double x, double y) { return 0.01 * x + 0.02 * y; });
  std::vector<int> all(90000);
  for (int k = 0; k < 90000; ++k)
  {
    all[static_cast<size_t>(k)] = k;
  }
  WriteIds(dir.File("all.pts"), all);
}

// What the refusal of a model of another kind says after what it found.
const std::string ReadsPolydata = "; surface_repair reads VTK legacy POLYDATA (surface_fill reads "
                                  "other mesh formats and rasters)\n";

std::vector<Case> Cases()
{
  const std::string outOfRange = " is out of range (the model has 144 points)";
  return {
    // Missing, unreadable and empty files, for each of the three inputs.
    { "MissingModel", With(0, "missing.vtk"), "", nullptr,
      { "Can not read model missing.vtk\n", ReadFailed } },
    { "UnreadableModel", Good, "", Unreadable("model.vtk"),
      { "Can not read model model.vtk\n", ReadFailed }, false, 1, Result::Untouched,
      As::Unprivileged },
    { "EmptyModel", With(0, "empty.vtk"), "", File("empty.vtk", ""),
      { "Can not read model empty.vtk\n", ReadFailed } },
    { "ModelIsADirectory", With(0, "."), "", nullptr, { "Can not read model .\n", ReadFailed } },
    { "MissingInsideList", With(1, "missing.pts"), "", nullptr,
      { "Not correct inside file name\n" }, true },
    { "UnreadableInsideList", Good, "", Unreadable("inside.pts"),
      { "Not correct inside file name\n" }, true, 1, Result::Untouched, As::Unprivileged },
    { "InsideListIsADirectory", With(1, "."), "", nullptr, { "Not correct inside file name\n" },
      true },
    { "MissingOutsideList", With(2, "missing.pts"), "", nullptr,
      { "Not correct OutsideName\n", ReadFailed } },
    { "UnreadableOutsideList", Good, "", Unreadable("outside.pts"),
      { "Not correct OutsideName\n", ReadFailed }, false, 1, Result::Untouched, As::Unprivileged },
    { "EmptyOutsideList", With(2, "empty.pts"), "", File("empty.pts", ""),
      { "The outside list empty.pts holds no vertex id\n" }, true },
    { "OutsideListWithoutIds", With(2, "words.pts"), "", File("words.pts", "# ids\nnone here\n"),
      { "The outside list words.pts holds no vertex id\n" }, true },

    // Models that are not what they claim.
    { "ModelIsNotVtk", With(0, "text.vtk"), "", File("text.vtk", "hello\nworld\n"),
      { "Can not read model text.vtk\n", ReadFailed } },
    { "ModelIsNotPolydata", With(0, "grid.vtk"), "",
      File("grid.vtk",
        "# vtk DataFile Version 3.0\ng\nASCII\nDATASET STRUCTURED_POINTS\nDIMENSIONS 2 2 1\n"),
      { "Can not read model grid.vtk: it holds a STRUCTURED_POINTS dataset" + ReadsPolydata,
        ReadFailed } },
    { "ModelIsAnUnstructuredGrid", With(0, "mesh.vtk"), "",
      File("mesh.vtk",
        "# vtk DataFile Version 3.0\nm\nASCII\n\nDATASET UNSTRUCTURED_GRID\nPOINTS 3 float\n"
        "0 0 0\n1 0 0\n0 1 0\nCELLS 1 4\n3 0 1 2\nCELL_TYPES 1\n5\n"),
      { "Can not read model mesh.vtk: it holds an UNSTRUCTURED_GRID dataset" + ReadsPolydata,
        ReadFailed } },
    { "ModelIsAnAsciiStl", With(0, "dem.stl"), "",
      File("dem.stl",
        "solid dem\n facet normal 0 0 1\n  outer loop\n   vertex 0 0 0\n   vertex 1 0 0\n"
        "   vertex 0 1 0\n  endloop\n endfacet\nendsolid dem\n"),
      { "Can not read model dem.stl: it is an STL file" + ReadsPolydata, ReadFailed } },
    { "ModelIsABinaryStl", With(0, "dem.stl"), "",
      File("dem.stl", std::string(80, ' ') + std::string("\x01\0\0\0", 4) + std::string(50, '\0')),
      { "Can not read model dem.stl: it is an STL file" + ReadsPolydata, ReadFailed } },
    { "ModelIsAPly", With(0, "dem.ply"), "",
      File("dem.ply",
        "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\n"
        "property float z\nend_header\n0 0 0\n1 0 0\n0 1 0\n"),
      { "Can not read model dem.ply: it is a PLY file" + ReadsPolydata, ReadFailed } },
    { "ModelCutEarlyInItsPoints", With(0, "cut.vtk"), "", File("cut.vtk", CutModel(400)),
      { "Model cut.vtk declares 144 points, more than the rest of the file can hold\n",
        ReadFailed } },
    { "ModelCutLateInItsPoints", With(0, "cut.vtk"), "",
      File("cut.vtk", CutModel(GoodModelText().find("POLYGONS") - 40)),
      { "Coordinate 1 of point 140 of model cut.vtk is missing: the POINTS section ends early\n",
        ReadFailed } },
    { "ModelCutInItsPolygons", With(0, "cut.vtk"), "", File("cut.vtk", CutInPolygons()),
      { "The POLYGONS section of model cut.vtk declares 242 968 values, more than the rest of the "
        "file can hold\n",
        ReadFailed } },
    { "BinaryModelCutInItsPoints", With(0, "cut.vtk"), "",
      File("cut.vtk", BinaryModel(-1, 0, 0, 0).substr(0, 120)),
      { "Can not read model cut.vtk\n", ReadFailed } },
    { "ModelWithNoPoints", With(0, "none.vtk"), "", File("none.vtk", Header + "POINTS 0 float\n"),
      { "Can not read model none.vtk\n", ReadFailed } },
    { "ModelWithoutPointsSection", With(0, "none.vtk"), "", File("none.vtk", Header),
      { "Can not read model none.vtk\n", ReadFailed } },
    { "ModelWithNanCoordinate", With(0, "nan.vtk"), "",
      File("nan.vtk", BinaryModel(5, std::nanf(""), 1.0f, 2.5f)),
      { "Point 5 of model nan.vtk has a non-finite coordinate (nan)\n", ReadFailed } },
    { "AsciiModelWithNanInY", With(0, "nan.vtk"), "",
      File("nan.vtk", Header + "POINTS 3 float\n0 0 0\n1 nan 1\n0 1 2\n"),
      { "Point 1 of model nan.vtk has a non-finite coordinate (nan)\n", ReadFailed } },
    { "AsciiModelWithAWordForACoordinate", With(0, "word.vtk"), "",
      File("word.vtk", Header + "POINTS 3 float\n0 0 0\n1 0 high\n0 1 2\n"),
      { "Coordinate 2 of point 1 of model word.vtk is not a number (high)\n", ReadFailed } },
    { "OutsideVertexWithoutHeight", With(0, "void.vtk"), "", File("void.vtk", ModelWithVoid(27)),
      { "Vertex id 27 on line 2 of outside.pts has no finite height (nan): an outside vertex "
        "must constrain the fit\n",
        ReadFailed } },
    { "ModelWithInfiniteCoordinate", With(0, "inf.vtk"), "",
      File("inf.vtk", BinaryModel(2, -INFINITY, 0.0f, 1.0f)),
      { "Point 2 of model inf.vtk has a non-finite coordinate (-inf)\n", ReadFailed } },
    { "ModelCellNamesAMissingPoint", With(0, "cells.vtk"), "",
      File("cells.vtk", Header + "POINTS 3 float\n0 0 0\n1 0 1\n0 1 2\nPOLYGONS 1 4\n3 0 1 7\n"),
      { "Cell 0 of model cells.vtk refers to point 7, which is out of range (the model has 3 "
        "points)\n",
        ReadFailed } },
    { "ModelCellListOverrunsItsSize", With(0, "cells.vtk"), "",
      File("cells.vtk", Header + "POINTS 3 float\n0 0 0\n1 0 1\n0 1 2\nPOLYGONS 1 4\n9 0 1 2\n"),
      { "The POLYGONS section of model cells.vtk is malformed\n", ReadFailed } },
    { "ModelWithTextPoints", With(0, "text.vtk"), "",
      File("text.vtk", Header + "POINTS 3 string\n0 0 0\n1 0 1\n0 1 2\n"),
      { "Model text.vtk has point coordinates of type string, not numbers\n", ReadFailed } },
    { "ModelWithTextCellOffsets", With(0, "cells.vtk"), "",
      File("cells.vtk",
        "# vtk DataFile Version 5.1\nbroken\nASCII\nDATASET POLYDATA\nPOINTS 3 float\n"
        "0 0 0\n1 0 1\n0 1 2\nPOLYGONS 2 3\nOFFSETS string\n0 3\n"
        "CONNECTIVITY vtktypeint64\n0 1 2\n"),
      { "The POLYGONS section of model cells.vtk is malformed: its offsets are of type string\n",
        ReadFailed } },
    { "ModelDeclaresAbsurdPointCount", With(0, "huge.vtk"), "",
      File("huge.vtk", Header + "POINTS 4000000000000 float\n0 0 0\n"),
      { "Model huge.vtk declares 4000000000000 points, more than the rest of the file can hold\n",
        ReadFailed } },
    { "ModelWithZeroExtentInX", With(0, "flat.vtk"), "",
      File("flat.vtk", Header + "POINTS 3 float\n1 0 0\n1 1 0\n1 2 1\n"),
      { "Model has zero extent along x\n", ReadFailed } },

    // Ids.
    { "NegativeOutsideId", With(2, "bad.pts"), "", File("bad.pts", "26\n-1\n"),
      { "Vertex id -1 on line 2 of bad.pts" + outOfRange + "\n", ReadFailed } },
    { "OutsideIdPastTheEnd", With(2, "bad.pts"), "", File("bad.pts", "26\n\n144\n"),
      { "Vertex id 144 on line 3 of bad.pts" + outOfRange + "\n", ReadFailed } },
    { "TenDigitOutsideId", With(2, "bad.pts"), "", File("bad.pts", "26\n1234567890\n"),
      { "Vertex id 123456789 on line 2 of bad.pts" + outOfRange + "\n", ReadFailed } },
    { "NegativeInsideId", With(1, "bad.pts"), "", File("bad.pts", "52\n53\n-7\n"),
      { "Vertex id -7 on line 3 of bad.pts" + outOfRange + "\n" }, true },
    { "InsideIdPastTheEnd", With(1, "bad.pts"), "", File("bad.pts", "52\n\n\n99999\n"),
      { "Vertex id 99999 on line 4 of bad.pts" + outOfRange + "\n" }, true },
    { "TenDigitInsideId", With(1, "bad.pts"), "", File("bad.pts", "9999999999\n"),
      { "Vertex id 999999999 on line 1 of bad.pts" + outOfRange + "\n" }, true },
    { "InsideIdsWithTextAround", With(1, "text.pts"), "",
      File("text.pts", "# damaged region\n52 first\n  53,\nnote: 54\n\t65\r\n"), { NoDisplay },
      true, 0, Result::Written },
    { "OutsideIdsWithTextAround", With(2, "text.pts"), "",
      File("text.pts", "ids:\n26 a\n27b\n 28 \n29\t#\n30\n31\n38\n43\n"), { NoDisplay }, true, 0,
      Result::Written },
    { "RepeatedInsideIds", With(1, "twice.pts"), "", File("twice.pts", "52\n52\n53\n52\n"),
      { NoDisplay }, true, 0, Result::Written },
    { "RepeatedOutsideIds", With(2, "twice.pts"), "",
      File("twice.pts", "26\n27\n26\n28\n27\n29\n30\n"), { NoDisplay }, true, 0, Result::Written },
    { "EmptyInsideList", With(1, "empty.pts"), "", File("empty.pts", ""), { NoDisplay }, true, 0,
      Result::Written },

    // The radius.
    { "RadiusZero", With(3, "0"), "", nullptr, { BadRadius("0") }, true },
    { "RadiusNegative", With(3, "-0.5"), "", nullptr, { BadRadius("-0.5") }, true },
    { "RadiusNan", With(3, "nan"), "", nullptr, { BadRadius("nan") }, true },
    { "RadiusInfinite", With(3, "inf"), "", nullptr, { BadRadius("inf") }, true },
    { "RadiusNotANumber", With(3, "abc"), "", nullptr, { NotANumber("abc") }, true },
    { "TypedRadiusNotANumber", {}, "model.vtk inside.pts outside.pts abc\n", nullptr,
      { NotANumber("abc") }, true },
    { "RadiusWithDecimalComma", With(3, "1,5"), "", nullptr, { NotANumber("1,5", "1.5") }, true },
    { "RadiusWithUnit", With(3, "0.12m"), "", nullptr, { NotANumber("0.12m") }, true },
    { "RadiusWithUnitAfterASpace", With(3, "12 m"), "", nullptr, { NotANumber("12 m") }, true },
    { "TypedRadiusWithDecimalComma", {}, "model.vtk inside.pts outside.pts 0,12\n", nullptr,
      { NotANumber("0,12", "0.12") }, true },
    { "TypedRadiusWithUnit", {}, "model.vtk inside.pts outside.pts 0.12m\n", nullptr,
      { NotANumber("0.12m") }, true },
    { "RadiusWithSpacesAround", With(3, " 0.5  "), "", nullptr, { NoDisplay }, true, 0,
      Result::Written },

    // Standard input ending at each question.
    { "InputEndsAtTheModelQuestion", {}, "", nullptr, { InputEnded }, true },
    { "InputEndsAtTheInsideQuestion", {}, "model.vtk\n", nullptr, { InputEnded }, true },
    { "InputEndsAtTheOutsideQuestion", {}, "model.vtk inside.pts", nullptr, { InputEnded },
      true },
    { "InputEndsAtTheRadiusQuestion", {}, "model.vtk inside.pts outside.pts\n", nullptr,
      { InputEnded }, true },

    // A radius the machine cannot afford: refused before the ordering, with
    // the estimate and a radius that would fit.
    { "RadiusTooLargeForTheSolver", { "big.vtk", "inside.pts", "all.pts", "1" }, "",
      WriteWholeModelOutside,
      { "Radius 1 is too large for 90012 spline points: the system would need about 11.3 GiB "
        "(3.03828e+09 envelope entries), more than the 2147483646 entries the solver can address; "
        "the largest radius that fits is about 0.351\n" },
      true },
    { "AutoRadiusWithMissingInsideList", With(3, "auto"), "",
      [](const TempDir& dir) { std::filesystem::remove(dir.File("inside.pts")); },
      { "Not correct inside file name\n" }, true },

    // The surroundings.
    { "UnwritableWorkingDirectory", Good, "",
      [](const TempDir& dir) { chmod(dir.Path().c_str(), 0555); },
      { "Can not write reconstucted_shape.vtk\n" }, true, 1, Result::Untouched, As::Unprivileged },
    { "NoDisplay", Good, "", nullptr, { NoDisplay }, true, 0, Result::Written },
  };
}

class BadInput : public ::testing::TestWithParam<Case>
{
protected:
  // The good inputs: a 12 x 12 height field, a hole of inside vertices and a
  // ring of outside vertices around it.
  static void WriteGoodInputs(const TempDir& dir)
  {
    WriteText(dir.File("model.vtk"), GoodModelText());
    std::vector<int> inside;
    std::vector<int> outside;
    for (int j = 0; j < 12; ++j)
    {
      for (int i = 0; i < 12; ++i)
      {
        const bool hole = i >= 4 && i <= 7 && j >= 4 && j <= 7;
        const bool ring = !hole && i >= 2 && i <= 9 && j >= 2 && j <= 9;
        if (hole)
        {
          inside.push_back(j * 12 + i);
        }
        else if (ring)
        {
          outside.push_back(j * 12 + i);
        }
      }
    }
    WriteIds(dir.File("inside.pts"), inside);
    WriteIds(dir.File("outside.pts"), outside);
  }

  static void RunCase(const Case& c, bool withEarlier)
  {
    SCOPED_TRACE(withEarlier ? "with an earlier result" : "without an earlier result");
    TempDir dir;
    WriteGoodInputs(dir);
    const std::string result = dir.File(ResultName);
    if (withEarlier)
    {
      WriteText(result, Earlier);
    }
    const bool drop = c.Run == As::Unprivileged && geteuid() == 0;
    if (drop)
    {
      // "nobody" must reach the directory and, but for the case's own
      // culprit, read the inputs and write the result.
      chmod(dir.Path().c_str(), 0777);
      for (const char* name : { "model.vtk", "inside.pts", "outside.pts", ResultName })
      {
        chmod(dir.File(name).c_str(), 0666);
      }
    }
    if (c.Prepare)
    {
      c.Prepare(dir);
    }
    ProcessResult r = RunRepair(c.Args, dir.Path(), c.Input, [drop] {
      if (drop && (setgid(65534) != 0 || setuid(65534) != 0))
      {
        _exit(126);
      }
    });
    chmod(dir.Path().c_str(), 0700);

    EXPECT_EQ(r.Status, c.Status) << r.Err;
    if (c.ErrExact)
    {
      EXPECT_EQ(r.Err, c.Err.at(0));
    }
    for (const std::string& text : c.Err)
    {
      EXPECT_NE(r.Err.find(text), std::string::npos) << "missing: " << text << "\nin: " << r.Err;
    }
    // Whatever VTK reports comes before the program's own last word.
    if (!c.Err.empty() && !r.Err.empty())
    {
      EXPECT_EQ(Lines(r.Err).back() + "\n", c.Err.back().back() == '\n' ? c.Err.back()
                                                                         : c.Err.back() + "\n");
    }
    if (c.Expect == Result::Written)
    {
      EXPECT_EQ(ReadText(result).rfind("# vtk DataFile Version", 0), 0u);
      EXPECT_NE(r.Out.find("Thank you for using our application"), std::string::npos);
    }
    else
    {
      if (withEarlier)
      {
        EXPECT_EQ(ReadText(result), Earlier);
      }
      else
      {
        EXPECT_FALSE(FileExists(result));
      }
      EXPECT_EQ(r.Out.find("Thank you"), std::string::npos);
    }
    // No temporary file of the result writer is left behind.
    std::ostringstream listing;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
    {
      const std::string name = entry.path().filename().string();
      EXPECT_NE(name.rfind(std::string(ResultName) + ".", 0), 0u) << name;
    }
  }
};
} // namespace

TEST_P(BadInput, EndsAsExpected)
{
  const Case& c = GetParam();
  RunCase(c, false);
  if (c.Expect == Result::Untouched)
  {
    RunCase(c, true);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, BadInput, ::testing::ValuesIn(Cases()),
  [](const ::testing::TestParamInfo<Case>& info) { return info.param.Name; });
