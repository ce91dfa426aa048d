// surface_fill: fills every void of a raster or a mesh, each void on its own,
// in parallel, in one command.
//
//   surface_fill [--nan] [--nodata Z] [--below Z] [--above Z] [--array NAME]
//                [--inside FILE] [--ring K] [--radius R|auto] [--threads N]
//                [--jitter] [--report FILE] [-q] IN OUT
//
// IN and OUT are both rasters (any format GDAL reads; GeoTIFF and the like)
// or both meshes (.vtk, .vtp, .ply, .obj, .stl). The voids are the vertices
// the rules select (as surface_holes selects them); without a rule, the
// raster's nodata value and heights that are not finite. Each void, or group
// of voids whose rings meet, is repaired on a window around it by the stages
// of surface_repair, with its own radius (auto) unless --radius is given.
// Bad input ends the program with its message and status 1 before anything
// is written; voids that cannot be filled are counted and left as they were.

#include "Console.h"
#include "HoleSelection.h"
#include "MeshFile.h"
#include "RasterFile.h"
#include "VoidFill.h"

#include <vtkPoints.h>
#include <vtkPolyData.h>

#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace
{
const char* const Usage =
  "Usage: surface_fill [--nan] [--nodata Z] [--below Z] [--above Z] [--array NAME]\n"
  "                    [--inside FILE] [--ring K] [--radius R|auto] [--threads N]\n"
  "                    [--jitter] [--report FILE] [-q] IN OUT";

// A fatal error: its message goes to standard error.
struct Failure
{
  std::string Message;
  bool WithUsage = false;
};

struct Options
{
  SelectionRules Rules;
  FillOptions Fill;
  std::string In;
  std::string Out;
  std::string Report; // empty: none
  bool Quiet = false;
};

// A whole number in [low, high] given to option.
int WholeArgument(const std::string& option, const std::string& word, long low, long high)
{
  char* end = nullptr;
  const long value = strtol(word.c_str(), &end, 10);
  if (word.empty() || *end != '\0' || value < low || value > high)
  {
    throw Failure{ option + " needs a whole number from " + std::to_string(low) + " to " +
        std::to_string(high) + ", not '" + word + "'",
      true };
  }
  return static_cast<int>(value);
}

// auto, or a positive number written wholly as one.
double RadiusArgument(const std::string& word)
{
  if (word == "auto")
  {
    return 0.0;
  }
  char* end = nullptr;
  const double value = strtod(word.c_str(), &end);
  if (word.empty() || *end != '\0' || !std::isfinite(value) || !(value > 0.0))
  {
    throw Failure{ "--radius needs auto or a positive number (with a decimal point), not '" + word + "'",
      true };
  }
  return value;
}

// Options with a value other than the selection rules.
void TakeOption(Options& options, const std::string& word, const std::string& value)
{
  if (word == "--ring")
  {
    options.Fill.Rings = WholeArgument(word, value, 1, 1000);
  }
  else if (word == "--radius")
  {
    options.Fill.Radius = RadiusArgument(value);
  }
  else if (word == "--threads")
  {
    options.Fill.Threads = WholeArgument(word, value, 1, 1024);
  }
  else if (word == "--report")
  {
    options.Report = value;
  }
  else
  {
    try
    {
      if (!TakeSelectionOption(word, value, options.Rules))
      {
        throw Failure{ "Unknown option " + word, true };
      }
    }
    catch (const std::string& message)
    {
      throw Failure{ message, true };
    }
  }
}

Options ParseArguments(int argc, char* argv[])
{
  Options options;
  std::vector<std::string> files;
  for (int k = 1; k < argc; ++k)
  {
    const std::string word = argv[k];
    if (word == "-h" || word == "--help")
    {
      std::cout << Usage << std::endl;
      std::exit(0);
    }
    if (word == "--nan" || word == "--jitter" || word == "-q")
    {
      options.Rules.NonFinite = options.Rules.NonFinite || word == "--nan";
      options.Fill.Jitter = options.Fill.Jitter || word == "--jitter";
      options.Quiet = options.Quiet || word == "-q";
    }
    else if (word.rfind("--", 0) == 0)
    {
      if (k + 1 >= argc)
      {
        throw Failure{ word + " needs a value", true };
      }
      TakeOption(options, word, argv[++k]);
    }
    else
    {
      files.push_back(word);
    }
  }
  if (files.size() != 2)
  {
    throw Failure{ files.size() < 2 ? "An input and an output file are needed"
                                    : "Too many files given: " + files[2],
      true };
  }
  options.In = files[0];
  options.Out = files[1];
  if (IsMeshName(options.In) != IsMeshName(options.Out))
  {
    throw Failure{ "Input and output must both be meshes (.vtk, .vtp, .ply, .obj, .stl) or both "
                   "rasters: " +
      options.In + " and " + options.Out };
  }
  return options;
}

// The model read, as a field, with the flags of its voids.
struct Input
{
  bool IsRaster = false;
  Raster Grid;
  vtkSmartPointer<vtkPolyData> Mesh;
  SelectionRules Rules; // the rules in force
  std::vector<char> Selected;
  vtkIdType Count = 0;
};

// Rules for a raster: no arrays; without any rule its nodata value and
// non-finite heights.
void SelectRasterVoids(const Options& options, Input& input)
{
  SelectionRules& rules = input.Rules;
  rules = options.Rules;
  if (!rules.Arrays.empty())
  {
    throw Failure{ "--array " + rules.Arrays.front() + ": a raster has no point-data arrays" };
  }
  if (rules.Empty())
  {
    rules.NonFinite = true;
    if (input.Grid.HasNoData)
    {
      std::ostringstream text;
      text.precision(17);
      text << input.Grid.NoData;
      rules.NoData.push_back({ input.Grid.NoData, text.str() });
    }
  }
  const std::vector<double>& z = input.Grid.Heights;
  input.Count = static_cast<vtkIdType>(z.size());
  input.Selected.assign(z.size(), 0);
  MarkHeights(rules, false, input.Count, [&z](vtkIdType i) { return z[static_cast<size_t>(i)]; },
    input.Selected);
  std::string problem;
  if (!MarkListed(rules, input.Count, input.Selected, problem))
  {
    throw Failure{ problem };
  }
}

Input ReadInput(const Options& options)
{
  Input input;
  std::string problem;
  input.IsRaster = !IsMeshName(options.In);
  if (input.IsRaster)
  {
    if (!ReadRaster(options.In, input.Grid, problem))
    {
      throw Failure{ problem };
    }
    SelectRasterVoids(options, input);
    // A void's old heights play no part; NaN tells the filled cells after.
    for (size_t v = 0; v < input.Selected.size(); ++v)
    {
      if (input.Selected[v])
      {
        input.Grid.Heights[v] = std::nan("");
      }
    }
    return input;
  }
  vtkIdType merged = 0;
  input.Mesh = ReadMesh(options.In, merged, problem);
  if (!input.Mesh)
  {
    throw Failure{ problem };
  }
  if (merged > 0 && !options.Quiet)
  {
    std::cerr << "Merged " << merged << " coincident points of " << options.In
              << " (STL repeats each vertex in every triangle)" << std::endl;
  }
  input.Rules = options.Rules;
  input.Rules.NonFinite = input.Rules.NonFinite || input.Rules.Empty();
  if (!SelectVertices(input.Mesh, options.In.c_str(), input.Rules, input.Selected, problem))
  {
    throw Failure{ problem };
  }
  input.Count = input.Mesh->GetNumberOfPoints();
  return input;
}

// The progress line, on a terminal only: "Filling voids: 120/358 groups".
FillProgress ProgressLine(bool quiet)
{
  if (quiet || !isatty(fileno(stderr)))
  {
    return FillProgress();
  }
  return [](vtkIdType done, vtkIdType total) {
    if (done == total || done % 16 == 0)
    {
      std::cerr << "\rFilling voids: " << done << "/" << total << " groups" << std::flush;
      if (done == total)
      {
        std::cerr << std::endl;
      }
    }
  };
}

void WriteReport(const std::string& path, const FillSummary& summary)
{
  std::ofstream out(path);
  out << ReportText(summary);
  if (!out.flush())
  {
    throw Failure{ "Can not write the report " + path };
  }
}

// Writes the filled model: the raster's filled cells, or the mesh's points.
void WriteOutput(const Options& options, Input& input)
{
  std::string problem;
  if (!input.IsRaster)
  {
    if (!WriteMesh(input.Mesh, options.Out, problem))
    {
      throw Failure{ problem };
    }
    return;
  }
  // The vertices of the voids that were filled (all were NaN before).
  std::vector<char> filled(input.Selected.size(), 0);
  for (size_t v = 0; v < filled.size(); ++v)
  {
    filled[v] = input.Selected[v] && std::isfinite(input.Grid.Heights[v]) ? 1 : 0;
  }
  if (!WriteRaster(options.In, options.Out, input.Grid, filled, problem))
  {
    throw Failure{ problem };
  }
}

void PrintSummary(const FillSummary& summary, double seconds)
{
  std::map<std::string, vtkIdType> left;
  double low = HUGE_VAL, high = 0.0;
  for (const VoidRecord& v : summary.Voids)
  {
    if (v.Status == VoidStatus::Filled)
    {
      low = std::min(low, v.ModelRadius);
      high = std::max(high, v.ModelRadius);
    }
    else
    {
      ++left[StatusName(v.Status)];
    }
  }
  std::cout << "Voids filled: " << summary.FilledVoids << " of " << summary.Voids.size() << " ("
            << summary.Groups << " repairs)" << std::endl;
  std::cout << "Vertices moved: " << summary.MovedVertices << std::endl;
  if (summary.FilledVoids > 0)
  {
    std::cout << "Radii: " << low << " to " << high << " model units" << std::endl;
  }
  std::cout << "Time: " << seconds << " s" << std::endl;
  if (!left.empty())
  {
    std::cerr << "Voids left unfilled: " << summary.Voids.size() - summary.FilledVoids;
    const char* separator = " (";
    for (const auto& [cause, count] : left)
    {
      std::cerr << separator << count << " " << cause;
      separator = ", ";
    }
    std::cerr << ")" << std::endl;
  }
}

int Run(int argc, char* argv[])
{
  const auto start = std::chrono::steady_clock::now();
  const Options options = ParseArguments(argc, argv);
  Input input = ReadInput(options);
  const vtkIdType voidCells = std::count(input.Selected.begin(), input.Selected.end(), 1);
  std::cout << "Input: " << options.In << " (" << (input.IsRaster ? "raster, " : "mesh, ")
            << input.Count << " vertices, " << voidCells << " in voids)" << std::endl;
  if (voidCells == 0)
  {
    throw Failure{ "No void found in " + options.In + ": no vertex " + input.Rules.Describe() };
  }

  FillSummary summary;
  {
    std::unique_ptr<HeightField> field;
    if (input.IsRaster)
    {
      field = std::make_unique<GridField>(
        input.Grid.Heights.data(), input.Grid.Width, input.Grid.Height, input.Grid.Geo);
    }
    else
    {
      field = std::make_unique<MeshField>(input.Mesh);
    }
    summary = FillVoids(*field, input.Selected, options.Fill, ProgressLine(options.Quiet));
  }
  std::cout << "Voids found: " << summary.Voids.size() << std::endl;
  if (!options.Report.empty())
  {
    WriteReport(options.Report, summary);
  }
  if (summary.FilledVoids == 0)
  {
    PrintSummary(summary, 0.0);
    throw Failure{ "No void could be filled: " + options.Out + " is not written" };
  }
  WriteOutput(options, input);
  PrintSummary(summary,
    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  return 0;
}
// Freed blocks stay with the heap, so that each repair reuses the memory the
// ones before it freed instead of mapping fresh pages (each a page fault when
// first touched). The heap goes back to the system when the program ends.
void KeepFreedMemory()
{
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, std::numeric_limits<int>::max());
}
} // namespace

int main(int argc, char* argv[])
{
  KeepFreedMemory();
  SetUpConsole();
  try
  {
    return Run(argc, argv);
  }
  catch (const Failure& failure)
  {
    std::cerr << failure.Message << std::endl;
    if (failure.WithUsage)
    {
      std::cerr << Usage << std::endl;
    }
  }
  catch (const std::bad_alloc&)
  {
    std::cerr << "Not enough memory" << std::endl;
  }
  return 1;
}
