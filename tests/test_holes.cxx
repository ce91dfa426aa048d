// surface_holes: the selection rules, the holes and their rings on small
// meshes in process, and the command as a process (its files, its report and
// its errors, after which nothing is written).

#include "HoleFiles.h"
#include "HoleSelection.h"
#include "MeshHoles.h"
#include "ModelFile.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <vtkCellArray.h>
#include <vtkIntArray.h>
#include <vtkNew.h>
#include <vtkPointData.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkSmartPointer.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <set>

using namespace testsupport;

namespace
{
const int N = 10; // the test grid: N x N vertices, spacing 1, id j * N + i

// The grid of WriteHeightField (diagonals from (i, j) to (i + 1, j + 1)) in
// memory, with z = x + 2 y.
vtkSmartPointer<vtkPolyData> Grid()
{
  TempDir dir;
  WriteHeightField(dir.File("g.vtk"), N, N, 1.0, 1.0, [](double x, double y) { return x + 2 * y; });
  std::string problem;
  vtkSmartPointer<vtkPolyData> model = ReadModelFile(dir.File("g.vtk").c_str(), problem);
  EXPECT_TRUE(model) << problem;
  return model;
}

int Id(int i, int j)
{
  return j * N + i;
}

// Edge steps between two grid vertices of that triangulation: a step along a
// diagonal moves in x and y at once, but only with the same sign.
int Steps(int a, int b)
{
  const int di = b % N - a % N;
  const int dj = b / N - a / N;
  return (di >= 0) == (dj >= 0) ? std::max(std::abs(di), std::abs(dj))
                                : std::abs(di) + std::abs(dj);
}

std::vector<char> Flags(const std::vector<int>& ids)
{
  std::vector<char> flags(N * N, 0);
  for (int id : ids)
  {
    flags[static_cast<size_t>(id)] = 1;
  }
  return flags;
}

TEST(Holes, ComponentsExtentsBordersAndReach)
{
  vtkSmartPointer<vtkPolyData> model = Grid();
  // A 3 x 3 block; a diagonal pair joined by an edge; an anti-diagonal pair
  // that no edge joins; a pair on the left border.
  const std::vector<int> inside = { Id(2, 2), Id(3, 2), Id(4, 2), Id(2, 3), Id(3, 3), Id(4, 3),
    Id(2, 4), Id(3, 4), Id(4, 4), Id(7, 1), Id(8, 2), Id(7, 6), Id(6, 7), Id(0, 8), Id(0, 9) };
  const std::vector<char> flags = Flags(inside);
  MeshAdjacency edges(model);
  std::vector<Hole> holes = FindHoles(model, edges, flags);
  ASSERT_EQ(holes.size(), 5u);
  const vtkIdType first[5] = { Id(7, 1), Id(2, 2), Id(7, 6), Id(6, 7), Id(0, 8) };
  const vtkIdType size[5] = { 2, 9, 1, 1, 2 };
  const double extent[5][2] = { { 1, 1 }, { 2, 2 }, { 0, 0 }, { 0, 0 }, { 0, 1 } };
  for (int k = 0; k < 5; ++k)
  {
    SCOPED_TRACE(k);
    EXPECT_EQ(holes[k].FirstVertex, first[k]);
    EXPECT_EQ(holes[k].Vertices, size[k]);
    EXPECT_DOUBLE_EQ(holes[k].Extent[0], extent[k][0]);
    EXPECT_DOUBLE_EQ(holes[k].Extent[1], extent[k][1]);
    EXPECT_EQ(holes[k].Border, k == 4);
  }
  // Every vertex but the block's centre has an outside neighbour at 1.
  MeasureReach(model, edges, flags, RingAround(model, edges, flags, 6), holes);
  const double reach[5] = { 1, 2, 1, 1, 1 };
  for (int k = 0; k < 5; ++k)
  {
    EXPECT_DOUBLE_EQ(holes[k].Reach, reach[k]) << k;
    EXPECT_NEAR(holes[k].FrameReach, reach[k] / (N - 1), 1e-6) << k; // frame in floats
  }
  // Border vertices: exactly the grid's outline.
  for (int v = 0; v < N * N; ++v)
  {
    const bool outline = v % N == 0 || v % N == N - 1 || v / N == 0 || v / N == N - 1;
    EXPECT_EQ(edges.OnBorder(v), outline) << v;
  }
}

TEST(Holes, RingsMatchTheEdgeDistance)
{
  vtkSmartPointer<vtkPolyData> model = Grid();
  const std::vector<int> inside = { Id(4, 4), Id(5, 4), Id(1, 7) };
  MeshAdjacency edges(model);
  for (int rings : { 1, 2, 3, 20 })
  {
    std::vector<vtkIdType> expected;
    for (int v = 0; v < N * N; ++v)
    {
      int d = INT_MAX;
      for (int u : inside)
      {
        d = std::min(d, Steps(u, v));
      }
      if (d >= 1 && d <= rings)
      {
        expected.push_back(v);
      }
    }
    EXPECT_EQ(RingAround(model, edges, Flags(inside), rings), expected) << rings;
  }
  // A vertex without a height is no outside vertex.
  model->GetPoints()->SetPoint(Id(6, 5), 6, 5, std::nan(""));
  const std::vector<vtkIdType> ring = RingAround(model, edges, Flags(inside), 1);
  EXPECT_EQ(std::count(ring.begin(), ring.end(), Id(6, 5)), 0);
  EXPECT_EQ(std::count(ring.begin(), ring.end(), Id(6, 4)), 1);
}

TEST(Holes, EachRuleSelectsItsVertices)
{
  vtkSmartPointer<vtkPolyData> model = Grid(); // heights x + 2 y: 0 .. 27
  vtkPoints* points = model->GetPoints();
  points->SetPoint(11, 1, 1, std::nan(""));
  points->SetPoint(12, 2, 1, INFINITY);
  points->SetPoint(13, 3, 1, -9999);
  points->SetPoint(14, 4, 1, 0.1); // stored as the float nearest 0.1
  vtkNew<vtkIntArray> mask;
  mask->SetName("damage");
  mask->SetNumberOfComponents(2);
  mask->SetNumberOfTuples(N * N);
  mask->Fill(0);
  mask->SetComponent(40, 1, 3);
  mask->SetComponent(41, 0, -1);
  model->GetPointData()->AddArray(mask);
  TempDir dir;
  WriteText(dir.File("list.pts"), "# damaged\n50\n51 x\n50\n");

  auto select = [&](const SelectionRules& rules) {
    std::vector<char> flags;
    std::string problem;
    EXPECT_TRUE(SelectVertices(model, "g.vtk", rules, flags, problem)) << problem;
    return FlaggedIds(flags);
  };
  SelectionRules nan;
  nan.NonFinite = true;
  EXPECT_EQ(select(nan), (std::vector<vtkIdType>{ 11, 12 }));
  SelectionRules nodata;
  nodata.NoData = { { -9999, "-9999" }, { 0.1, "0.1" } };
  EXPECT_EQ(select(nodata), (std::vector<vtkIdType>{ 13, 14 }));
  SelectionRules below;
  below.Below = { { 1, "1" } }; // 0 at vertex 0, -9999, 0.1; not NaN
  EXPECT_EQ(select(below), (std::vector<vtkIdType>{ 0, 13, 14 }));
  SelectionRules above;
  above.Above = { { 26, "26" } }; // only 27 at (9, 9); +inf
  EXPECT_EQ(select(above), (std::vector<vtkIdType>{ 12, 99 }));
  SelectionRules array;
  array.Arrays = { "damage" };
  EXPECT_EQ(select(array), (std::vector<vtkIdType>{ 40, 41 }));
  SelectionRules list;
  list.Lists = { dir.File("list.pts") };
  EXPECT_EQ(select(list), (std::vector<vtkIdType>{ 50, 51 }));
  SelectionRules all = nan;
  all.Arrays = array.Arrays;
  all.Lists = list.Lists;
  EXPECT_EQ(select(all), (std::vector<vtkIdType>{ 11, 12, 40, 41, 50, 51 }));
  EXPECT_EQ(all.Describe(), "has a height that is not finite or has a non-zero value in array "
                            "damage or is listed in " + dir.File("list.pts"));

  // The rules' own errors.
  auto refused = [&](const SelectionRules& rules) {
    std::vector<char> flags;
    std::string problem;
    EXPECT_FALSE(SelectVertices(model, "g.vtk", rules, flags, problem));
    return problem;
  };
  SelectionRules unknown;
  unknown.Arrays = { "mask" };
  EXPECT_EQ(refused(unknown), "Model g.vtk has no point-data array mask (it has damage)");
  WriteText(dir.File("far.pts"), "3\n100\n");
  SelectionRules far;
  far.Lists = { dir.File("far.pts") };
  EXPECT_EQ(refused(far), "Vertex id 100 on line 2 of " + dir.File("far.pts") +
      " is out of range (the model has 100 points)");
  SelectionRules missing;
  missing.Lists = { dir.File("none.pts") };
  EXPECT_EQ(refused(missing), "Can not read the inside list " + dir.File("none.pts"));
}

TEST(Holes, StripsGiveTheirTrianglesEdges)
{
  // One strip of four points: triangles 0 1 2 and 1 2 3, the edge 1-2 inner.
  vtkNew<vtkPolyData> model;
  vtkNew<vtkPoints> points;
  for (int k = 0; k < 4; ++k)
  {
    points->InsertNextPoint(k / 2, k % 2, 0);
  }
  model->SetPoints(points);
  vtkNew<vtkCellArray> strips;
  const vtkIdType ids[4] = { 0, 1, 2, 3 };
  strips->InsertNextCell(4, ids);
  model->SetStrips(strips);
  MeshAdjacency edges(model);
  std::multiset<int> around1(edges.Begin(1), edges.End(1));
  EXPECT_EQ(around1, (std::multiset<int>{ 0, 2, 2, 3 }));
  EXPECT_TRUE(edges.OnBorder(1)); // 0-1 and 1-3 are used once
}

// A PATH value whose one directory holds an executable surface_repair (a
// stub), so that the next command names it bare.
std::string PathWithRepair()
{
  static TempDir bin;
  const std::string stub = bin.File("surface_repair");
  if (!FileExists(stub))
  {
    WriteText(stub, "#!/bin/sh\n");
    std::filesystem::permissions(stub, std::filesystem::perms::owner_all);
  }
  return "PATH=" + bin.Path();
}

// surface_holes as a process; surface_repair is on its PATH unless env says
// otherwise.
ProcessResult RunHoles(const std::vector<std::string>& args, const std::string& cwd,
  const std::vector<std::string>& env = { PathWithRepair() })
{
  return RunProcess(SURFACE_HOLES_EXE, args, cwd, "", env);
}

// A 10 x 10 grid whose 2 x 2 block at (4..5, 4..5) has the height word.
void WriteVoidModel(const std::string& path, const std::string& word)
{
  WriteHeightField(path, N, N, 1.0, 1.0, [](double x, double y) { return x + 2 * y; });
  std::vector<std::string> lines = Lines(ReadText(path));
  std::string text;
  for (size_t k = 0; k < lines.size(); ++k)
  {
    const int point = static_cast<int>(k) - 5; // the points start on line 6
    const int i = point % N;
    const int j = point / N;
    if (point >= 0 && point < N * N && i >= 4 && i <= 5 && j >= 4 && j <= 5)
    {
      lines[k] = std::to_string(i) + " " + std::to_string(j) + " " + word;
    }
    text += lines[k] + "\n";
  }
  WriteText(path, text);
}

TEST(HolesCommand, WritesTheListsTheReportAndTheNextCommand)
{
  TempDir dir;
  WriteVoidModel(dir.File("m.vtk"), "nan");
  ProcessResult r = RunHoles({ "--nan", "--ring", "1", "m.vtk" }, dir.Path());
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Err, "");
  EXPECT_EQ(ReadText(dir.File("inside.pts")), "44\n45\n54\n55\n");
  // One ring: the edge neighbours of the block (no corners (3, 6), (6, 3)).
  EXPECT_EQ(ReadText(dir.File("outside.pts")),
    "33\n34\n35\n43\n46\n53\n56\n64\n65\n66\n");
  EXPECT_EQ(r.Out,
    "Model: m.vtk (100 vertices)\n"
    "Hole 1: 4 vertices, extent 1 x 1, reach 1 (0.111111 in the normalised frame)\n"
    "Inside vertices: 4 in 1 hole, written to inside.pts\n"
    "Outside vertices: 10 within 1 ring, written to outside.pts\n"
    "Largest reach in the normalised frame: 0.111111 (an explicit radius R must exceed it)\n"
    "Next: surface_repair m.vtk inside.pts outside.pts auto\n");
}

TEST(HolesCommand, NodataBecomesNanInTheModelCopy)
{
  TempDir dir;
  WriteVoidModel(dir.File("m.vtk"), "-9999");
  ProcessResult r = RunHoles({ "--nodata", "-9999", "--model-out", "v.vtk", "--out-inside",
                               "in.pts", "--out-outside", "out.pts", "m.vtk" },
    dir.Path());
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_NE(r.Out.find("Next: surface_repair v.vtk in.pts out.pts auto\n"), std::string::npos);
  EXPECT_EQ(ReadText(dir.File("in.pts")), "44\n45\n54\n55\n");
  const std::string copy = ReadText(dir.File("v.vtk"));
  EXPECT_EQ(Lines(copy).at(2), "BINARY");
  std::string problem;
  vtkSmartPointer<vtkPolyData> in = ReadModelFile(dir.File("m.vtk").c_str(), problem);
  vtkSmartPointer<vtkPolyData> out = ReadModelFile(dir.File("v.vtk").c_str(), problem);
  ASSERT_TRUE(out) << problem;
  ASSERT_EQ(out->GetNumberOfPoints(), in->GetNumberOfPoints());
  EXPECT_EQ(out->GetNumberOfPolys(), in->GetNumberOfPolys());
  for (vtkIdType v = 0; v < in->GetNumberOfPoints(); ++v)
  {
    const double* p = in->GetPoint(v);
    const double* q = out->GetPoint(v);
    EXPECT_EQ(q[0], p[0]);
    EXPECT_EQ(q[1], p[1]);
    if (p[2] == -9999)
    {
      EXPECT_TRUE(std::isnan(q[2])) << v;
    }
    else
    {
      EXPECT_EQ(q[2], p[2]) << v;
    }
  }
  // Without --model-out the nodata heights would stretch the frame: a warning.
  r = RunHoles({ "--nodata", "-9999", "m.vtk" }, dir.Path());
  EXPECT_EQ(r.Status, 0);
  EXPECT_NE(r.Err.find("hold heights from -9999 to -9999, beyond those of the rest (0 to 27)"),
    std::string::npos) << r.Err;
}

struct CommandError
{
  std::string Name;
  std::vector<std::string> Args;
  std::string Message; // the last line of standard error (VTK may report before)
};

TEST(HolesCommand, ErrorsNameTheCulpritAndWriteNothing)
{
  const std::vector<CommandError> cases = {
    { "NoRule", { "m.vtk" }, "No selection rule given: use --nan, --nodata Z, --below Z, "
                             "--above Z, --array NAME or --inside FILE" },
    { "NoModel", { "--nan" }, "No model given" },
    { "TwoModels", { "--nan", "m.vtk", "n.vtk" }, "One model only: m.vtk and n.vtk given" },
    { "UnknownOption", { "--void", "m.vtk" }, "Unknown option --void" },
    { "MissingValue", { "m.vtk", "--nodata" }, "--nodata needs a value" },
    { "BadNumber", { "--below", "low", "m.vtk" }, "--below needs a finite number, not 'low'" },
    { "OneFileForTwoOutputs", { "--nan", "--out-outside", "inside.pts", "m.vtk" },
      "Two outputs are to be written to inside.pts" },
    { "BadRing", { "--nan", "--ring", "0", "m.vtk" },
      "--ring needs a whole number of at least 1, not '0'" },
    { "NothingSelected", { "--nan", "f.vtk" },
      "no vertex of f.vtk has a height that is not finite" },
    { "NothingSelectedByTwo", { "--above", "100", "--nodata", "-1", "f.vtk" },
      "no vertex of f.vtk has the height -1 or has a height above 100" },
    { "EverythingSelected", { "--below", "1000", "f.vtk" },
      "every vertex of f.vtk is selected: no vertex is left outside to fit the surface to" },
    { "UnknownArray", { "--array", "mask", "m.vtk" },
      "Model m.vtk has no point-data array mask (it has none)" },
    { "MissingModel", { "--nan", "gone.vtk" }, "Can not read model gone.vtk" },
    { "MalformedModel", { "--nan", "bad.vtk" },
      "Coordinate 1 of point 1 of model bad.vtk is not a number (x)" },
    { "NoCells", { "--nan", "dots.vtk" },
      "No vertex within 6 rings of the inside vertices of dots.vtk has a finite height (are "
      "there any polygons?): there is nothing to fit the surface to" },
    { "UnwritableList", { "--nan", "--out-outside", "no/such/dir/o.pts", "m.vtk" },
      "Can not write no/such/dir/o.pts" },
  };
  for (const CommandError& c : cases)
  {
    SCOPED_TRACE(c.Name);
    TempDir dir;
    WriteVoidModel(dir.File("m.vtk"), "nan");
    WriteHeightField(dir.File("f.vtk"), 3, 3, 1.0, 1.0, [](double x, double) { return x; });
    WriteText(dir.File("bad.vtk"),
      "# vtk DataFile Version 3.0\nb\nASCII\nDATASET POLYDATA\nPOINTS 2 float\n0 0 0\n1 x 1\n");
    WriteText(dir.File("dots.vtk"),
      "# vtk DataFile Version 3.0\nb\nASCII\nDATASET POLYDATA\nPOINTS 2 float\n0 0 nan\n1 1 1\n");
    std::set<std::string> before;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
    {
      before.insert(entry.path().filename().string());
    }
    ProcessResult r = RunHoles(c.Args, dir.Path());
    EXPECT_EQ(r.Status, 1);
    const std::vector<std::string> lines = Lines(r.Err);
    // Usage errors add the usage lines.
    const bool usage = lines.size() >= 3 && lines[lines.size() - 3].rfind("Usage: ", 0) == 0;
    EXPECT_EQ(usage ? lines[lines.size() - 4] : lines.back(), c.Message);
    EXPECT_EQ(r.Out, "");
    std::set<std::string> after;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
    {
      after.insert(entry.path().filename().string());
    }
    EXPECT_EQ(after, before);
  }
}

// The last line of text that starts with prefix; empty when there is none.
std::string LineStarting(const std::string& text, const std::string& prefix)
{
  std::string found;
  for (const std::string& line : Lines(text))
  {
    if (line.rfind(prefix, 0) == 0)
    {
      found = line;
    }
  }
  return found;
}

// Without surface_repair on PATH the next command names the one of this build,
// by the shorter of its absolute path and its path from the directory the
// command runs in.
TEST(HolesCommand, NextCommandNamesSurfaceRepairSoThatItRunsFromHere)
{
  namespace fs = std::filesystem;
  TempDir dir;
  WriteVoidModel(dir.File("m.vtk"), "nan");
  const fs::path repair = fs::canonical(SURFACE_REPAIR_EXE);
  const std::vector<std::string> args = { "--nan", "--out-inside", dir.File("i.pts"),
    "--out-outside", dir.File("o.pts"), dir.File("m.vtk") };
  const std::string tail = " " + dir.File("m.vtk") + " " + dir.File("i.pts") + " " +
    dir.File("o.pts") + " auto";
  // A file called surface_repair on PATH that is not executable does not count.
  TempDir bin;
  WriteText(bin.File("surface_repair"), "not a program\n");
  fs::permissions(bin.File("surface_repair"), fs::perms::owner_read | fs::perms::owner_write);
  struct Case
  {
    std::string Cwd;
    std::string Path;
    std::string Repair;
  };
  // From the scratch directory: the shorter way there.
  const fs::path up = repair.lexically_relative(fs::canonical(dir.Path()));
  const std::string fromDir =
    up.string().size() < repair.string().size() ? up.string() : repair.string();
  for (const Case& c : std::vector<Case>{
         { dir.Path(), "PATH=" + bin.Path(), fromDir },
         { dir.Path(), "PATH", fromDir },
         { repair.parent_path().parent_path().string(), "PATH=/nonexistent:" + bin.Path(),
           "app/surface_repair" },
         { repair.parent_path().string(), "PATH=" + bin.Path(), "./surface_repair" },
         { repair.parent_path().string(), PathWithRepair(), "surface_repair" } })
  {
    SCOPED_TRACE(c.Cwd + " " + c.Path);
    ProcessResult r = RunHoles(args, c.Cwd, { c.Path });
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(LineStarting(r.Out, "Next: "), "Next: " + c.Repair + tail);
  }
}

// Rules that keep the selected heights in the model (--nodata, --below,
// --above) without --model-out: the next step runs the same selection again
// with --model-out and repairs that copy. Its first command, run by a shell,
// writes the copy and then suggests the repair of it directly.
TEST(HolesCommand, RulesThatKeepHeightsGiveTheSafeNextCommands)
{
  struct Case
  {
    std::vector<std::string> Rules;
    std::string Model;
    std::string Copy; // as the shell word of the next line
  };
  for (const Case& c : std::vector<Case>{ { { "--nodata", "-9999" }, "m.vtk", "m_voids.vtk" },
         { { "--below", "-100" }, "dem", "dem_voids.vtk" },
         { { "--nan", "--above", "1e6", "--ring", "2" }, "my dem.vtk", "'my dem_voids.vtk'" } })
  {
    SCOPED_TRACE(c.Model);
    TempDir dir;
    WriteVoidModel(dir.File(c.Model), c.Rules[0] == "--nan" ? "nan" : "-9999");
    std::vector<std::string> args = c.Rules;
    args.push_back(c.Model);
    ProcessResult r = RunHoles(args, dir.Path());
    ASSERT_EQ(r.Status, 0) << r.Err;
    std::string again = std::string(SURFACE_HOLES_EXE) + " --model-out " + c.Copy;
    for (const std::string& word : args)
    {
      again += " " + (word == c.Model && c.Copy[0] == '\'' ? "'" + word + "'" : word);
    }
    const std::string repair = "surface_repair " + c.Copy + " inside.pts outside.pts auto";
    EXPECT_EQ(LineStarting(r.Out, "Next: "), "Next: " + again + " && " + repair);
    EXPECT_NE(r.Out.find("The selected vertices keep their heights in " + c.Model +
                ": repair a copy with them as NaN, which --model-out writes\n"),
      std::string::npos)
      << r.Out;
    EXPECT_EQ(r.Out.find("Next: surface_repair " + c.Model), std::string::npos);

    ProcessResult first =
      RunProcess("/bin/sh", { "-c", again }, dir.Path(), "", { PathWithRepair() });
    ASSERT_EQ(first.Status, 0) << first.Err;
    EXPECT_EQ(LineStarting(first.Out, "Next: "), "Next: " + repair);
    std::string problem;
    const std::string copy = c.Copy[0] == '\'' ? c.Copy.substr(1, c.Copy.size() - 2) : c.Copy;
    EXPECT_TRUE(ReadModelFile(dir.File(copy).c_str(), problem)) << problem;
  }
}
} // namespace
