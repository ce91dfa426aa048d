#include "vtkSurfaceRepairFilter.h"

#include "Console.h"
#include "RepairRun.h"

#include <vtkIdList.h>
#include <vtkInformation.h>
#include <vtkInformationVector.h>
#include <vtkNew.h>
#include <vtkObjectFactory.h>
#include <vtkPolyData.h>

#include <cmath>
#include <new>
#include <optional>
#include <string>

vtkStandardNewMacro(vtkSurfaceRepairFilter);
vtkCxxSetObjectMacro(vtkSurfaceRepairFilter, InsideIds, vtkIdList);
vtkCxxSetObjectMacro(vtkSurfaceRepairFilter, OutsideIds, vtkIdList);


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
