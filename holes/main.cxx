// surface_holes: finds the holes of a model that surface_repair is to fill and
// writes its two id lists.
//
//   surface_holes [--nan] [--nodata Z] [--below Z] [--above Z] [--array NAME]
//                 [--inside FILE] [--ring K] [--out-inside FILE]
//                 [--out-outside FILE] [--model-out FILE] MODEL
//
// The inside vertices are those that any of the rules selects; the holes are
// their connected components over the edges of the model's cells; the outside
// vertices are those within K edge-rings of the inside ones that are not inside
// and have a finite height. Every error ends the program with its message on
// standard error and status 1, before anything is written.

#include "Console.h"
#include "HoleFiles.h"
#include "HoleSelection.h"
#include "MeshHoles.h"
#include "ModelFile.h"
#include "NextCommand.h"

#include <vtkPoints.h>
#include <vtkPolyData.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace
{
const char* const Usage =
  "Usage: surface_holes [--nan] [--nodata Z] [--below Z] [--above Z] [--array NAME]\n"
  "                     [--inside FILE] [--ring K] [--out-inside FILE] [--out-outside FILE]\n"
  "                     [--model-out FILE] MODEL";

// A fatal error: its message goes to standard error.
struct Failure
{
  std::string Message;
  bool WithUsage = false;
};

struct Options
{
  SelectionRules Rules;
  int Rings = 6;
  std::string Model;
  std::string InsideOut = "inside.pts";
  std::string OutsideOut = "outside.pts";
  std::string ModelOut; // empty: no copy
};

// A selection rule with its value (--nodata Z, --below Z, --above Z,
// --array NAME, --inside FILE) into rules; false for another option.
bool TakeRule(const std::string& option, const std::string& value, SelectionRules& rules)
{
  try
  {
    return TakeSelectionOption(option, value, rules);
  }
  catch (const std::string& message)
  {
    throw Failure{ message, true };
  }
}

int RingArgument(const std::string& word)
{
  char* end = nullptr;
  const long value = strtol(word.c_str(), &end, 10);
  if (word.empty() || *end != '\0' || value < 1 || value > 1000000)
  {
    throw Failure{ "--ring needs a whole number of at least 1, not '" + word + "'", true };
  }
  return static_cast<int>(value);
}

Options ParseArguments(int argc, char* argv[])
{
  Options options;
  for (int k = 1; k < argc; ++k)
  {
    const std::string word = argv[k];
    if (word == "-h" || word == "--help")
    {
      std::cout << Usage << std::endl;
      std::exit(0);
    }
    if (word == "--nan")
    {
      options.Rules.NonFinite = true;
      continue;
    }
    if (word.rfind("-", 0) != 0 || word == "-")
    {
      if (!options.Model.empty())
      {
        throw Failure{ "One model only: " + options.Model + " and " + word + " given", true };
      }
      options.Model = word;
      continue;
    }
    static const char* const valued[] = { "--nodata", "--below", "--above", "--array", "--inside",
      "--ring", "--out-inside", "--out-outside", "--model-out" };
    bool known = false;
    for (const char* name : valued)
    {
      known = known || word == name;
    }
    if (!known)
    {
      throw Failure{ "Unknown option " + word, true };
    }
    if (k + 1 >= argc)
    {
      throw Failure{ word + " needs a value", true };
    }
    const std::string value = argv[++k];
    if (TakeRule(word, value, options.Rules))
    {
      continue;
    }
    if (word == "--ring")
    {
      options.Rings = RingArgument(value);
    }
    else if (word == "--out-inside")
    {
      options.InsideOut = value;
    }
    else if (word == "--out-outside")
    {
      options.OutsideOut = value;
    }
    else
    {
      options.ModelOut = value;
    }
  }
  if (options.Model.empty())
  {
    throw Failure{ "No model given", true };
  }
  if (options.InsideOut == options.OutsideOut || options.ModelOut == options.InsideOut ||
    options.ModelOut == options.OutsideOut)
  {
    const std::string& both =
      options.InsideOut == options.OutsideOut ? options.InsideOut : options.ModelOut;
    throw Failure{ "Two outputs are to be written to " + both, true };
  }
  if (options.Rules.Empty())
  {
    throw Failure{ "No selection rule given: use --nan, --nodata Z, --below Z, --above Z, "
                   "--array NAME or --inside FILE",
      true };
  }
  return options;
}

vtkSmartPointer<vtkPolyData> ReadModel(const std::string& path)
{
  std::string problem;
  vtkSmartPointer<vtkPolyData> model = ReadModelFile(path.c_str(), problem);
  if (model == nullptr || model->GetNumberOfPoints() == 0)
  {
    throw Failure{ problem.empty() ? UnreadableModelMessage(path, "surface_holes") : problem };
  }
  return model;
}

// The inside flags by the rules; refuses a selection of nothing or of all.
std::vector<char> SelectInside(vtkPolyData* model, const Options& options, vtkIdType& count)
{
  std::vector<char> inside;
  std::string problem;
  if (!SelectVertices(model, options.Model.c_str(), options.Rules, inside, problem))
  {
    throw Failure{ problem };
  }
  count = 0;
  for (char flag : inside)
  {
    count += flag ? 1 : 0;
  }
  if (count == 0)
  {
    throw Failure{ "no vertex of " + options.Model + " " + options.Rules.Describe() };
  }
  if (count == model->GetNumberOfPoints())
  {
    throw Failure{ "every vertex of " + options.Model +
      " is selected: no vertex is left outside to fit the surface to" };
  }
  return inside;
}

void PrintHoles(const std::vector<Hole>& holes)
{
  for (size_t k = 0; k < holes.size(); ++k)
  {
    const Hole& h = holes[k];
    std::cout << "Hole " << k + 1 << ": " << h.Vertices
              << (h.Vertices == 1 ? " vertex" : " vertices") << ", extent " << h.Extent[0] << " x " << h.Extent[1] << ", reach " << h.Reach
              << " (" << h.FrameReach << " in the normalised frame)";
    if (h.Border)
    {
      std::cout << ", touches the border of the model: its ring is one-sided";
    }
    std::cout << std::endl;
  }
}

// Warns when selected vertices keep finite heights beyond those of the rest:
// surface_repair would stretch its normalised frame over them.
void WarnOfStretch(vtkPolyData* model, const std::vector<char>& inside, const Options& options)
{
  if (!options.ModelOut.empty())
  {
    return;
  }
  vtkPoints* points = model->GetPoints();
  double range[2][2] = { { HUGE_VAL, -HUGE_VAL }, { HUGE_VAL, -HUGE_VAL } }; // rest, selected
  for (vtkIdType i = 0; i < points->GetNumberOfPoints(); ++i)
  {
    const double z = points->GetPoint(i)[2];
    if (std::isfinite(z))
    {
      double* r = range[inside[static_cast<size_t>(i)] ? 1 : 0];
      r[0] = std::min(r[0], z);
      r[1] = std::max(r[1], z);
    }
  }
  if (range[1][0] < range[0][0] || range[1][1] > range[0][1])
  {
    std::cerr << "Warning: selected vertices of " << options.Model << " hold heights from "
              << range[1][0] << " to " << range[1][1] << ", beyond those of the rest ("
              << range[0][0] << " to " << range[0][1]
              << "): surface_repair would stretch its frame over them; give --model-out FILE "
                 "for a copy with these heights as NaN and repair that"
              << std::endl;
  }
}

// The next step: surface_repair on the lists, by a name that runs from here.
// Selected vertices that keep finite heights (--nodata, --below, --above
// without --model-out) would stretch its frame, so then the step starts with
// this run again, writing a copy of the model with them as NaN.
void PrintNext(int argc, char* argv[], const Options& options)
{
  const std::string repair = SiblingProgram("surface_repair");
  const SelectionRules& rules = options.Rules;
  const bool heightsKept = options.ModelOut.empty() &&
    !(rules.NoData.empty() && rules.Below.empty() && rules.Above.empty());
  if (!heightsKept)
  {
    const std::string& model = options.ModelOut.empty() ? options.Model : options.ModelOut;
    std::cout << "Next: "
              << ShellLine({ repair, model, options.InsideOut, options.OutsideOut, "auto" })
              << std::endl;
    return;
  }
  const std::string copy = VoidsCopyName(options.Model);
  std::vector<std::string> again = { argv[0], "--model-out", copy };
  again.insert(again.end(), argv + 1, argv + argc);
  std::cout << "The selected vertices keep their heights in " << options.Model
            << ": repair a copy with them as NaN, which --model-out writes" << std::endl;
  std::cout << "Next: " << ShellLine(again) << " && "
            << ShellLine({ repair, copy, options.InsideOut, options.OutsideOut, "auto" })
            << std::endl;
}

void Run(int argc, char* argv[])
{
  const Options options = ParseArguments(argc, argv);
  vtkSmartPointer<vtkPolyData> model = ReadModel(options.Model);
  if (model->GetNumberOfPoints() > std::numeric_limits<std::int32_t>::max())
  {
    throw Failure{ "Model " + options.Model + " has more vertices than surface_holes can handle" };
  }
  vtkIdType selected = 0;
  const std::vector<char> inside = SelectInside(model, options, selected);

  const MeshAdjacency edges(model);
  std::vector<Hole> holes = FindHoles(model, edges, inside);
  const std::vector<vtkIdType> outside = RingAround(model, edges, inside, options.Rings);
  if (outside.empty())
  {
    std::ostringstream text;
    text << "No vertex within " << options.Rings << " rings of the inside vertices of "
         << options.Model << " has a finite height (are there any polygons?): there is nothing "
         << "to fit the surface to";
    throw Failure{ text.str() };
  }
  MeasureReach(model, edges, inside, outside, holes);

  StagedFiles files;
  files.Add(options.InsideOut, IdListText(FlaggedIds(inside)));
  files.Add(options.OutsideOut, IdListText(outside));
  if (!options.ModelOut.empty())
  {
    std::string text = BinaryModelText(ModelWithVoids(model, inside));
    if (text.empty())
    {
      throw Failure{ "Can not write " + options.ModelOut };
    }
    files.Add(options.ModelOut, std::move(text));
  }
  std::string failed;
  if (!files.Commit(failed))
  {
    throw Failure{ "Can not write " + failed };
  }

  std::cout << "Model: " << options.Model << " (" << model->GetNumberOfPoints() << " vertices)"
            << std::endl;
  PrintHoles(holes);
  WarnOfStretch(model, inside, options);
  std::cout << "Inside vertices: " << selected << " in " << holes.size()
            << (holes.size() == 1 ? " hole" : " holes") << ", written to " << options.InsideOut
            << std::endl;
  std::cout << "Outside vertices: " << outside.size() << " within " << options.Rings
            << (options.Rings == 1 ? " ring" : " rings") << ", written to " << options.OutsideOut
            << std::endl;
  if (!options.ModelOut.empty())
  {
    std::cout << "Model with the selected heights as NaN: " << options.ModelOut << std::endl;
  }
  double reach = 0.0;
  for (const Hole& h : holes)
  {
    reach = std::max(reach, h.FrameReach);
  }
  std::cout << "Largest reach in the normalised frame: " << reach
            << " (an explicit radius R must exceed it)" << std::endl;
  PrintNext(argc, argv, options);
}
} // namespace

int main(int argc, char* argv[])
{
  SetUpConsole();
  try
  {
    Run(argc, argv);
  }
  catch (const Failure& failure)
  {
    std::cerr << failure.Message << std::endl;
    if (failure.WithUsage)
    {
      std::cerr << Usage << std::endl;
    }
    return 1;
  }
  catch (const std::bad_alloc&)
  {
    std::cerr << "Not enough memory" << std::endl;
    return 1;
  }
  return 0;
}
