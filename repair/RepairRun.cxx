#include "RepairRun.h"

#include "CostEstimate.h"
#include "RadiusChooser.h"
#include "Console.h"
#include "Stopwatch.h"

#include <vtkTransformPolyDataFilter.h>

#include <cstdlib>
#include <sstream>

namespace
{
// The name the reader's messages give the model (the reader borrows it).
char InputModelName[] = "(input)";
} // namespace

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
    this->Reach = choice.Reach;
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
