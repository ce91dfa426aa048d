#include "vtkSurfaceFillFilter.h"

#include "HoleSelection.h"
#include "VoidFill.h"

#include <vtkInformation.h>
#include <vtkInformationVector.h>
#include <vtkNew.h>
#include <vtkObjectFactory.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>

#include <cmath>
#include <new>

vtkStandardNewMacro(vtkSurfaceFillFilter);

//------------------------------------------------------------------------------
vtkSurfaceFillFilter::vtkSurfaceFillFilter()
{
  this->MaskArray = nullptr;
  this->Rings = 6;
  this->AutoRadius = true;
  this->Radius = 0.12;
  this->Threads = 0;
  this->Jitter = false;
  this->NumberOfVoids = 0;
  this->NumberOfFilledVoids = 0;
}

//------------------------------------------------------------------------------
vtkSurfaceFillFilter::~vtkSurfaceFillFilter()
{
  this->SetMaskArray(nullptr);
}

//------------------------------------------------------------------------------
int vtkSurfaceFillFilter::RequestData(
  vtkInformation*, vtkInformationVector** inputVector, vtkInformationVector* outputVector)
{
  vtkPolyData* input = vtkPolyData::GetData(inputVector[0]);
  vtkPolyData* output = vtkPolyData::GetData(outputVector);
  this->NumberOfVoids = this->NumberOfFilledVoids = 0;
  this->Report.clear();
  output->Initialize();
  if (!input || !input->GetPoints() || input->GetNumberOfPoints() == 0)
  {
    vtkErrorMacro("The input has no points");
    return 0;
  }
  if (!this->AutoRadius && !(this->Radius > 0.0 && std::isfinite(this->Radius)))
  {
    vtkErrorMacro("Radius must be a positive number, not " << this->Radius);
    return 0;
  }
  // The voids by surface_fill's own selection: the mask array, or the
  // heights that are not finite.
  SelectionRules rules;
  if (this->MaskArray)
  {
    rules.Arrays.push_back(this->MaskArray);
  }
  rules.NonFinite = rules.Arrays.empty();
  std::vector<char> selected;
  std::string problem;
  if (!SelectVertices(input, "(input)", rules, selected, problem))
  {
    vtkErrorMacro(<< problem);
    return 0;
  }
  // The output's own points, filled in place.
  output->ShallowCopy(input);
  vtkNew<vtkPoints> points;
  points->DeepCopy(input->GetPoints());
  output->SetPoints(points);
  FillOptions options;
  options.Rings = this->Rings;
  options.Radius = this->AutoRadius ? 0.0 : this->Radius;
  options.Threads = this->Threads;
  options.Jitter = this->Jitter;
  try
  {
    MeshField field(output);
    const FillSummary summary = FillVoids(field, selected, options);
    this->NumberOfVoids = static_cast<vtkIdType>(summary.Voids.size());
    this->NumberOfFilledVoids = summary.FilledVoids;
    this->Report = ReportText(summary);
  }
  catch (const std::bad_alloc&)
  {
    output->Initialize();
    vtkErrorMacro("Not enough memory");
    return 0;
  }
  return 1;
}

//------------------------------------------------------------------------------
void vtkSurfaceFillFilter::PrintSelf(ostream& os, vtkIndent indent)
{
  this->Superclass::PrintSelf(os, indent);
  os << indent << "MaskArray: " << (this->MaskArray ? this->MaskArray : "(none)") << "\n";
  os << indent << "Rings: " << this->Rings << "\n";
  os << indent << "AutoRadius: " << (this->AutoRadius ? "On" : "Off") << "\n";
  os << indent << "Radius: " << this->Radius << "\n";
  os << indent << "Threads: " << this->Threads << "\n";
  os << indent << "Jitter: " << (this->Jitter ? "On" : "Off") << "\n";
  os << indent << "NumberOfVoids: " << this->NumberOfVoids << "\n";
  os << indent << "NumberOfFilledVoids: " << this->NumberOfFilledVoids << "\n";
}
