#include "vtkSurfaceRepairFilter.h"

#include "Console.h"
#include "CostEstimate.h"
#include "RadiusChooser.h"
#include "Stopwatch.h"
#include "vtkDatReader.h"
#include "vtkShapeTransform.h"
#include "vtkSingleMatrixSolver.h"

#include <vtkCommand.h>
#include <vtkIdList.h>
#include <vtkInformation.h>
#include <vtkInformationVector.h>
#include <vtkNew.h>
#include <vtkObjectFactory.h>
#include <vtkPolyData.h>
#include <vtkTransformPolyDataFilter.h>

#include <cmath>
#include <cstdlib>
#include <new>
#include <optional>
#include <sstream>
#include <string>

vtkStandardNewMacro(vtkSurfaceRepairFilter);
vtkCxxSetObjectMacro(vtkSurfaceRepairFilter, InsideIds, vtkIdList);
vtkCxxSetObjectMacro(vtkSurfaceRepairFilter, OutsideIds, vtkIdList);

namespace
{
// The name the reader's messages give the model (the reader borrows it).
char InputModelName[] = "(input)";

// A refusal of the repair: the message text the filter reports.
struct RepairFailure
{
  std::string Text;
};

// Keeps the message of the last error report of the object it observes,
// without the report's frame ("ERROR: In <file>, line <n>\n<class> (<address>): ").
// Observing the reader's errors keeps them from reaching the output window on
// their own: the filter reports them as its own.
class ErrorTextObserver : public vtkCommand
{
public:
  static ErrorTextObserver* New() { return new ErrorTextObserver; }

  void Execute(vtkObject*, unsigned long, void* callData) override
  {
    std::string report = callData ? static_cast<const char*>(callData) : "";
    const std::size_t lineEnd = report.find('\n');
    const std::size_t start = report.find("): ", lineEnd == std::string::npos ? 0 : lineEnd);
    if (lineEnd != std::string::npos && start != std::string::npos)
    {
      report.erase(0, start + 3);
    }
    while (!report.empty() && report.back() == '\n')
    {
      report.pop_back();
    }
    this->Text = report;
  }

  std::string Text;
};

// One repair, stage by stage as the program runs it: the reader prepares the
// spline problem, the solver fits the spline, the shape transform moves the
// inside vertices through a vtkTransformPolyDataFilter. Every refusal is
// thrown as a RepairFailure; whatever a stage made is released with the run.
class RepairRun
{
public:
  RepairRun(vtkPolyData* input, vtkIdList* inside, vtkIdList* outside, float radius)
    : Radius(radius)
  {
    // The reader holds the model by reference: a copy keeps the pipeline's
    // input object out of the internal pipeline.
    this->Model->ShallowCopy(input);
    this->Inside = inside ? inside : this->NoIds.GetPointer();
    this->Outside = outside ? outside : this->NoIds.GetPointer();
    this->Reader->AddObserver(vtkCommand::ErrorEvent, this->ReaderErrors);
  }

  ~RepairRun() { free(this->SplineCoeff); }

  RepairRun(const RepairRun&) = delete;
  RepairRun& operator=(const RepairRun&) = delete;

  void ReadConstraints();
  void CheckInside();
  void ChooseRadiusFromData();
  void CheckCost();
  void PrepareSystem();
  void Solve();
  void Move(bool jitter, vtkPolyData* output);

  float GetRadius() const { return this->Radius; }

private:
  vtkNew<vtkPolyData> Model;
  vtkNew<vtkIdList> NoIds;
  vtkIdList* Inside;
  vtkIdList* Outside;
  float Radius;
  vtkNew<ErrorTextObserver> ReaderErrors;
  vtkNew<vtkDatReader> Reader;
  vtkNew<vtkSingleMatrixSolver> Solver;
  vtkNew<vtkShapeTransform> Transform; // released before the solver and the reader
  float* SplineCoeff = nullptr;        // the solver's result

  void ThrowOnReaderFailure(int status);
};

//------------------------------------------------------------------------------
// The model and the outside ids: the spline points and their values.
void RepairRun::ReadConstraints()
{
  if (this->Model->GetNumberOfPoints() == 0)
  {
    throw RepairFailure{ "The input has no points" };
  }
  this->Reader->ModelName = InputModelName;
  this->Reader->SetModel(this->Model);
  this->Reader->SetOutsideIds(this->Outside);
  this->ThrowOnReaderFailure(this->Reader->ReadConstraints());
  // Only the 12 frame points: nothing to fit the surface to.
  if (this->Reader->GetPointArray()->GetNumberOfPoints() <= 12)
  {
    throw RepairFailure{ "The outside ids hold no vertex id" };
  }
}

//------------------------------------------------------------------------------
// An inside id the model does not have stops the repair, as in the program.
void RepairRun::CheckInside()
{
  const vtkIdType modelSize = this->Model->GetNumberOfPoints();
  for (vtkIdType k = 0; k < this->Inside->GetNumberOfIds(); ++k)
  {
    const vtkIdType id = this->Inside->GetId(k);
    if (id < 0 || id >= modelSize)
    {
      std::ostringstream text;
      text << "Vertex id " << id << " at position " << k + 1
           << " of the inside ids is out of range (the model has " << modelSize << " points)";
      throw RepairFailure{ text.str() };
    }
  }
}

//------------------------------------------------------------------------------
// The radius the program's auto chooses: above the reach of the inside
// vertices, within the memory of the machine, the closest to the kriged
// reference. The budget of the trial fits is reckoned from the model as the
// program reckons it, so that the filter and the program choose alike.
void RepairRun::ChooseRadiusFromData()
{
  try
  {
    const RadiusChoice choice = ChooseRadius(this->Reader->GetModel(),
      this->Reader->GetPointArray(), this->Reader->GetValues(), this->Inside, AvailableMemory(),
      EstimatedRunSeconds(this->Reader->GetModel()));
    this->Radius = static_cast<float>(choice.Radius);
  }
  catch (const char* message)
  {
    throw RepairFailure{ message };
  }
}

//------------------------------------------------------------------------------
// The cost guard: a radius whose system cannot fit is refused before the
// ordering enumerates a neighbour pair.
void RepairRun::CheckCost()
{
  const std::string refusal =
    CostRefusal(this->Reader->GetPointArray(), this->Radius, AvailableMemory());
  if (!refusal.empty())
  {
    throw RepairFailure{ refusal };
  }
}

//------------------------------------------------------------------------------
// The locator, the ordering at the radius and the right-hand side.
void RepairRun::PrepareSystem()
{
  this->Reader->SetRadius(this->Radius);
  this->ThrowOnReaderFailure(this->Reader->PrepareSystem());
}

//------------------------------------------------------------------------------
// The reader reports its errors through its own error output; the observer
// keeps the text for the filter's report instead.
void RepairRun::ThrowOnReaderFailure(int status)
{
  if (status != 0)
  {
    throw RepairFailure{ this->ReaderErrors->Text.empty() ? "Some error during reading input data..."
                                                          : this->ReaderErrors->Text };
  }
}

//------------------------------------------------------------------------------
void RepairRun::Solve()
{
  this->Solver->SetRadius(this->Radius);
  this->Solver->SetPointArray(this->Reader->GetPointArray());
  this->Solver->SetList(this->Reader->GetList());
  this->Solver->SetMax(this->Reader->GetMax());
  this->Solver->SetB(this->Reader->GetB());
  try
  {
    this->Solver->Solve();
  }
  catch (const char* message)
  {
    throw RepairFailure{ message };
  }
  this->SplineCoeff = this->Solver->GetSplineCoeff();
}

//------------------------------------------------------------------------------
// Runs the shape transform over the checked model, as the program's output
// stage does, and hands the result to output.
void RepairRun::Move(bool jitter, vtkPolyData* output)
{
  this->Transform->SetParameters(this->Radius, this->Reader->GetPointArray(),
    this->SplineCoeff, this->Inside, this->Reader->GetUnList(), this->Reader->GetTree());
  this->Transform->SetJitter(jitter);
  vtkNew<vtkTransformPolyDataFilter> mover;
  mover->SetTransform(this->Transform);
  mover->SetInputData(this->Reader->GetModel());
  StartTimer();
  mover->Update();
  Report() << "Transform time: " << GetElapsedTime() << std::endl;
  output->ShallowCopy(mover->GetOutput());
}
} // namespace

//------------------------------------------------------------------------------
vtkSurfaceRepairFilter::vtkSurfaceRepairFilter()
{
  this->InsideIds = nullptr;
  this->OutsideIds = nullptr;
  this->Radius = 0.12;
  this->ChosenRadius = 0.0;
  this->AutoRadius = false;
  this->Jitter = true;
  this->Verbose = false;
}

//------------------------------------------------------------------------------
vtkSurfaceRepairFilter::~vtkSurfaceRepairFilter()
{
  this->SetInsideIds(nullptr);
  this->SetOutsideIds(nullptr);
}

//------------------------------------------------------------------------------
vtkMTimeType vtkSurfaceRepairFilter::GetMTime()
{
  vtkMTimeType time = this->Superclass::GetMTime();
  for (vtkIdList* ids : { this->InsideIds, this->OutsideIds })
  {
    if (ids && ids->GetMTime() > time)
    {
      time = ids->GetMTime();
    }
  }
  return time;
}

//------------------------------------------------------------------------------
int vtkSurfaceRepairFilter::RequestData(
  vtkInformation*, vtkInformationVector** inputVector, vtkInformationVector* outputVector)
{
  vtkPolyData* input = vtkPolyData::GetData(inputVector[0]);
  vtkPolyData* output = vtkPolyData::GetData(outputVector);
  this->ChosenRadius = 0.0;
  output->Initialize();

  std::optional<QuietReports> quiet;
  if (!this->Verbose)
  {
    quiet.emplace();
  }
  const float radius = static_cast<float>(this->Radius);
  float used = 0.0f;
  try
  {
    if (!this->AutoRadius && !(std::isfinite(radius) && radius > 0.0f))
    {
      throw RepairFailure{ "Radius must be a positive number" };
    }
    RepairRun run(input, this->InsideIds, this->OutsideIds, radius);
    run.ReadConstraints();
    run.CheckInside();
    if (this->AutoRadius)
    {
      run.ChooseRadiusFromData();
    }
    run.CheckCost();
    run.PrepareSystem();
    run.Solve();
    vtkNew<vtkPolyData> result;
    run.Move(this->Jitter, result);
    output->ShallowCopy(result);
    used = run.GetRadius();
  }
  catch (const RepairFailure& failure)
  {
    vtkErrorMacro(<< failure.Text);
    return 0;
  }
  catch (const std::bad_alloc&)
  {
    vtkErrorMacro("Not enough memory");
    return 0;
  }
  this->ChosenRadius = used;
  return 1;
}

//------------------------------------------------------------------------------
void vtkSurfaceRepairFilter::PrintSelf(ostream& os, vtkIndent indent)
{
  this->Superclass::PrintSelf(os, indent);
  os << indent << "InsideIds: ";
  if (this->InsideIds)
  {
    os << this->InsideIds->GetNumberOfIds() << " ids\n";
  }
  else
  {
    os << "(none)\n";
  }
  os << indent << "OutsideIds: ";
  if (this->OutsideIds)
  {
    os << this->OutsideIds->GetNumberOfIds() << " ids\n";
  }
  else
  {
    os << "(none)\n";
  }
  os << indent << "Radius: " << this->Radius << "\n";
  os << indent << "AutoRadius: " << (this->AutoRadius ? "On" : "Off") << "\n";
  os << indent << "ChosenRadius: " << this->ChosenRadius << "\n";
  os << indent << "Jitter: " << (this->Jitter ? "On" : "Off") << "\n";
  os << indent << "Verbose: " << (this->Verbose ? "On" : "Off") << "\n";
}
