// surface_repair: refits the heights of a damaged region of a triangulated
// height field with a compactly supported radial basis spline.
//
//   surface_repair <model.vtk> <points_inside.pts> <points_outside.pts> <radius>
//
// With any other number of arguments the program prints a usage line and asks
// for the four inputs on the console. The stages run once, in order: reading
// the model and the outside list, solving the spline system, reading the
// inside list, moving the inside vertices through a VTK pipeline, writing
// reconstucted_shape.vtk and showing source and result side by side.
//
// Every fatal error is thrown as its message text and caught in main(), which
// prints it on standard error and ends with status 1.

#include "Console.h"
#include "CostEstimate.h"
#include "PointIdFile.h"
#include "RadiusChooser.h"
#include "RepairViewer.h"
#include "ResultFile.h"
#include "SolveProgress.h"
#include "Stopwatch.h"
#include "vtkDatReader.h"
#include "vtkShapeTransform.h"
#include "vtkSingleMatrixSolver.h"

#include <vtkIdList.h>
#include <vtkPolyData.h>
#include <vtkTransformPolyDataFilter.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include <malloc.h>

namespace
{
const char* const InputEnded = "Input ended before all four inputs were given";
const char* const ResultName = "reconstucted_shape.vtk";
// The fourth input that lets the program choose the radius.
const char* const AutoRadius = "auto";
// Seconds of estimated factorisation above which the run says how long it
// will take and shows its progress.
const double LongFactorisation = 10.0;

// The four inputs of a run. The reader borrows the names, so they live as
// long as the run.
struct RunInputs
{
  std::string Model;
  std::string Inside;
  std::string Outside;
  float Radius = 0.0f;
  bool ChooseRadius = false; // the fourth input was "auto"
  std::string RadiusText;    // the fourth input as given
};

// Throws a message composed at run time. The handler catches message texts,
// so the text is kept in storage that outlives the throw.
[[noreturn]] void ThrowMessage(const std::string& text)
{
  static std::string message;
  message = text;
  throw message.c_str();
}

// The text without the white space around it.
std::string Trimmed(const std::string& text)
{
  const char* const space = " \t\n\v\f\r";
  const size_t first = text.find_first_not_of(space);
  if (first == std::string::npos)
  {
    return std::string();
  }
  return text.substr(first, text.find_last_not_of(space) - first + 1);
}

// Reads text as a whole decimal number, white space allowed around it; false
// when anything else is left over (a decimal comma, a unit, a second word).
bool ReadWholeNumber(const std::string& text, double& value)
{
  const char* start = text.c_str();
  char* end = nullptr;
  value = std::strtod(start, &end);
  if (end == start)
  {
    return false;
  }
  while (*end != '\0' && std::isspace(static_cast<unsigned char>(*end)))
  {
    ++end;
  }
  return *end == '\0';
}

// The fourth input: the word auto, or a number. Text that is not wholly a
// number is refused with what was typed and the form it should take; a
// decimal comma gets the same number with a point as the suggestion.
void SetRadiusInput(RunInputs& inputs, const std::string& text)
{
  inputs.RadiusText = text;
  inputs.ChooseRadius = text == AutoRadius;
  if (inputs.ChooseRadius)
  {
    inputs.Radius = 0.0f;
    return;
  }
  double value = 0.0;
  if (!ReadWholeNumber(text, value))
  {
    std::string pointed = text;
    std::replace(pointed.begin(), pointed.end(), ',', '.');
    double ignored = 0.0;
    const std::string advice = pointed != text && ReadWholeNumber(pointed, ignored)
      ? "write it with a decimal point (" + Trimmed(pointed) + ") or give " + AutoRadius
      : std::string("write it as a plain number, with a decimal point and no unit, or give ") +
        AutoRadius;
    ThrowMessage("Radius '" + text + "' is not a number: " + advice);
  }
  inputs.Radius = static_cast<float>(value);
}

// Asks one question of the dialogue and returns the next word typed.
std::string AskWord(const char* question)
{
  std::cout << question << std::endl;
  std::cout << ">" << std::flush;
  std::string word;
  if (!(std::cin >> word))
  {
    throw InputEnded;
  }
  return word;
}

RunInputs GetInputs(int argc, char* argv[])
{
  RunInputs inputs;
  if (argc == 5)
  {
    inputs.Model = argv[1];
    inputs.Inside = argv[2];
    inputs.Outside = argv[3];
    SetRadiusInput(inputs, argv[4]);
    return inputs;
  }
  std::cout << "Usage: " << (argc > 0 && argv[0] ? argv[0] : "")
            << " <model.vtk> <points_inside.pts> <points_outside.pts> <radius>" << std::endl;
  inputs.Model = AskWord("Enter file name with model");
  inputs.Inside = AskWord("Enter file name with points inside");
  inputs.Outside = AskWord("Enter file name with points outside");
  SetRadiusInput(inputs, AskWord("Enter radius R"));
  return inputs;
}

// The objects of a run. Teardown() releases them in the program's fixed order
// (the transform before the solver, the reader and the inside list it
// borrows from); it also runs when a stage throws, so an error leaves nothing
// behind.
struct RunObjects
{
  vtkShapeTransform* Transform = nullptr;
  vtkSingleMatrixSolver* Solver = nullptr;
  vtkTransformPolyDataFilter* Filter = nullptr;
  vtkDatReader* Reader = nullptr;
  vtkIdList* InsideList = nullptr;
  RepairViewer Viewer; // renderers, window, interactor, mappers and actors
  float* SplineCoeff = nullptr; // the solver's result, freed once nothing uses it
  double FactorSeconds = 0.0;   // the factorisation's estimated time at the radius

  ~RunObjects() { this->Teardown(); }

  void Teardown()
  {
    this->Viewer.ReleaseWindow();
    Release(this->Transform);
    Release(this->Solver);
    this->Viewer.ReleaseResultView();
    Release(this->Filter);
    Release(this->Reader);
    Release(this->InsideList);
    this->Viewer.ReleaseSourceView();
    free(this->SplineCoeff);
    this->SplineCoeff = nullptr;
    this->Viewer.ReleaseScene();
  }

  template <typename T>
  static void Release(T*& object)
  {
    if (object)
    {
      object->Delete();
      object = nullptr;
    }
  }
};

// Reads the inside list into run.InsideList; every id must be a vertex of
// the model.
void ReadInsideList(RunObjects& run, const RunInputs& inputs)
{
  run.InsideList = vtkIdList::New();
  std::vector<PointIdEntry> inside;
  if (!ReadPointIdFile(inputs.Inside.c_str(), inside))
  {
    throw "Not correct inside file name";
  }
  const vtkIdType modelSize = run.Reader->GetModelSize();
  for (const PointIdEntry& entry : inside)
  {
    if (entry.Id < 0 || entry.Id >= modelSize)
    {
      ThrowMessage("Vertex id " + std::to_string(entry.Id) + " on line " +
        std::to_string(entry.Line) + " of " + inputs.Inside + " is out of range (the model has " +
        std::to_string(modelSize) + " points)");
    }
    run.InsideList->InsertNextId(entry.Id);
  }
}

// Chooses the radius from the constraint points and the inside vertices
// (the trial fits print nothing) and reports it.
void ChooseRadiusStage(RunObjects& run, RunInputs& inputs)
{
  ReadInsideList(run, inputs);
  vtkPolyData* model = run.Reader->GetModel();
  const RadiusChoice choice = ChooseRadius(model, run.Reader->GetPointArray(),
    run.Reader->GetValues(), run.InsideList, AvailableMemory(), EstimatedRunSeconds(model));
  inputs.Radius = static_cast<float>(choice.Radius);
  std::cout << "Chosen radius: " << inputs.Radius << std::endl;
}

// Refuses a radius whose system would not fit, before the ordering has
// enumerated a neighbour pair; warns of a long factorisation.
void CheckCost(RunObjects& run, const RunInputs& inputs)
{
  vtkPoints* points = run.Reader->GetPointArray();
  const CostEstimate cost = EstimateCost(points, inputs.Radius);
  const std::string refusal = CostRefusal(cost, points, inputs.Radius, AvailableMemory());
  if (!refusal.empty())
  {
    ThrowMessage(refusal);
  }
  run.FactorSeconds = ExpectedFactorSeconds(cost, LongFactorisation);
  if (run.FactorSeconds > LongFactorisation)
  {
    std::cerr << "The factorisation at radius " << inputs.Radius << " will take about "
              << std::ceil(run.FactorSeconds) << " s (estimated)" << std::endl;
  }
}

// Reads the model and the outside list, settles the radius and prepares the
// spline problem: points, locator, ordering and right-hand side.
void ReadStage(RunObjects& run, RunInputs& inputs)
{
  run.Reader = vtkDatReader::New();
  run.Reader->ModelName = inputs.Model.data();
  run.Reader->OutsideName = inputs.Outside.data();
  if (run.Reader->ReadConstraints() != 0)
  {
    throw "Some error during reading input data...";
  }
  // Only the 12 frame points: nothing to fit the surface to.
  if (run.Reader->GetPointArray()->GetNumberOfPoints() <= 12)
  {
    ThrowMessage("The outside list " + inputs.Outside + " holds no vertex id");
  }
  if (inputs.ChooseRadius)
  {
    ChooseRadiusStage(run, inputs);
  }
  CheckCost(run, inputs);
  run.Reader->SetRadius(inputs.Radius);
  if (run.Reader->PrepareSystem() != 0)
  {
    throw "Some error during reading input data...";
  }
}

// Solves the spline system, reads the inside list and sets up the transform.
void SolveStage(RunObjects& run, const RunInputs& inputs)
{
  run.Solver = vtkSingleMatrixSolver::New();
  run.Solver->SetRadius(inputs.Radius);
  run.Solver->SetPointArray(run.Reader->GetPointArray());
  run.Solver->SetList(run.Reader->GetList());
  run.Solver->SetMax(run.Reader->GetMax());
  run.Solver->SetB(run.Reader->GetB());
  {
    const SolveProgress progress(run.FactorSeconds, LongFactorisation);
    run.Solver->Solve();
  }
  run.SplineCoeff = run.Solver->GetSplineCoeff();

  // Without auto the inside list is read only now, after the solve.
  if (run.InsideList == nullptr)
  {
    ReadInsideList(run, inputs);
  }

  run.Transform = vtkShapeTransform::New();
  run.Transform->SetParameters(inputs.Radius, run.Reader->GetPointArray(),
    run.Solver->GetSplineCoeff(), run.InsideList, run.Reader->GetUnList(),
    run.Reader->GetTree());
}

// Runs the transform through the pipeline, writes the result and shows the
// source model and the result side by side until the user closes the window.
// Without a display that can show the window the run ends after the write.
void OutputStage(RunObjects& run, const RunInputs& inputs)
{
  // The model the reader has read and checked: one read of the file, one set
  // of bounds for the reader and the transform.
  vtkPolyData* model = run.Reader->GetModel();

  StartTimer();
  run.Filter = vtkTransformPolyDataFilter::New();
  run.Filter->SetTransform(run.Transform);
  run.Filter->SetInputData(model);
  run.Filter->Update();
  std::cout << "Transform time: " << GetElapsedTime() << std::endl;

  if (!WriteResultFile(run.Filter->GetOutput(), ResultName))
  {
    throw "Can not write reconstucted_shape.vtk";
  }

  std::string unavailable;
  if (!run.Viewer.OpenDisplay(unavailable))
  {
    std::cerr << unavailable << std::endl;
    return;
  }
  run.Viewer.Show(model, run.Filter->GetOutput(), run.InsideList, inputs.Model);
}

// Large blocks come from the heap and stay there when freed, so that each
// stage reuses the memory the stages before it freed (the model's text, the
// candidate lists, the matrix) instead of mapping fresh pages, each of which
// costs a page fault when first touched. The run is short; the memory goes
// back to the system when it ends.
void KeepFreedMemory()
{
  mallopt(M_MMAP_THRESHOLD, 32 << 20); // the largest glibc takes
  mallopt(M_TRIM_THRESHOLD, std::numeric_limits<int>::max());
  mallopt(M_TOP_PAD, 64 << 20);
}

void Run(int argc, char* argv[])
{
  RunInputs inputs = GetInputs(argc, argv);
  std::cout << "Source model: " << inputs.Model << std::endl;
  std::cout << "Points inside: " << inputs.Inside << std::endl;
  std::cout << "Points outside: " << inputs.Outside << std::endl;
  if (inputs.ChooseRadius)
  {
    std::cout << "Radius: " << AutoRadius << std::endl;
  }
  else
  {
    std::cout << "Radius: " << inputs.Radius << std::endl;
  }
  if (!inputs.ChooseRadius && !(std::isfinite(inputs.Radius) && inputs.Radius > 0.0f))
  {
    ThrowMessage("Radius must be a positive number, not '" + inputs.RadiusText + "'");
  }

  RunObjects run;
  ReadStage(run, inputs);
  SolveStage(run, inputs);
  OutputStage(run, inputs);
  run.Teardown();
  std::cout << "Thank you for using our application" << std::endl;
}
} // namespace

int main(int argc, char* argv[])
{
  KeepFreedMemory();
  SetUpConsole();
  try
  {
    Run(argc, argv);
  }
  catch (const char* message)
  {
    std::cerr << message << std::endl;
    return 1;
  }
  catch (const std::bad_alloc&)
  {
    std::cerr << "Not enough memory" << std::endl;
    return 1;
  }
  return 0;
}
