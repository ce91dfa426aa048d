#include "vtkHeightGridFill.h"

#include "VoidFill.h"

#include <vtkDataArray.h>
#include <vtkDoubleArray.h>
#include <vtkIdList.h>
#include <vtkIdTypeArray.h>
#include <vtkObjectFactory.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <sstream>
#include <vector>

vtkStandardNewMacro(vtkHeightGridFill);
vtkCxxSetObjectMacro(vtkHeightGridFill, Heights, vtkDataArray);
vtkCxxSetObjectMacro(vtkHeightGridFill, Mask, vtkDataArray);
vtkCxxSetObjectMacro(vtkHeightGridFill, Seeds, vtkIdList);

//------------------------------------------------------------------------------
vtkHeightGridFill::vtkHeightGridFill()
{
  this->Filled = vtkIdTypeArray::New();
}

//------------------------------------------------------------------------------
vtkHeightGridFill::~vtkHeightGridFill()
{
  this->SetHeights(nullptr);
  this->SetMask(nullptr);
  this->SetSeeds(nullptr);
  this->Filled->Delete();
}

//------------------------------------------------------------------------------
void vtkHeightGridFill::SetBlock(
  int width, int height, int column0, int row0, int fullWidth, int fullHeight)
{
  const int block[6] = { width, height, column0, row0, fullWidth, fullHeight };
  if (!std::equal(block, block + 6, this->Block))
  {
    std::copy(block, block + 6, this->Block);
    this->Modified();
  }
}

//------------------------------------------------------------------------------
bool vtkHeightGridFill::CheckInput()
{
  const int* b = this->Block;
  const vtkIdType cells = static_cast<vtkIdType>(b[0]) * b[1];
  const int fullWidth = b[4] > 0 ? b[4] : b[2] + b[0];
  const int fullHeight = b[5] > 0 ? b[5] : b[3] + b[1];
  std::ostringstream problem;
  if (b[0] < 1 || b[1] < 1 || b[2] < 0 || b[3] < 0 || b[2] + b[0] > fullWidth ||
    b[3] + b[1] > fullHeight)
  {
    problem << "Fill: the block " << b[0] << " x " << b[1] << " at column " << b[2] << ", row "
            << b[3] << " does not lie in a raster of " << fullWidth << " x " << fullHeight
            << " cells";
  }
  else if (!vtkDoubleArray::SafeDownCast(this->Heights) ||
    this->Heights->GetNumberOfComponents() != 1 || this->Heights->GetNumberOfTuples() != cells)
  {
    problem << "Fill: the heights must be a vtkDoubleArray of " << cells << " values";
  }
  else if (!this->Mask || this->Mask->GetNumberOfComponents() != 1 ||
    this->Mask->GetNumberOfTuples() != cells)
  {
    problem << "Fill: the mask must hold " << cells << " values";
  }
  else if (this->Seeds)
  {
    for (vtkIdType k = 0; k < this->Seeds->GetNumberOfIds(); ++k)
    {
      const vtkIdType id = this->Seeds->GetId(k);
      if (id < 0 || id >= cells)
      {
        problem << "Fill: the seed " << id << " is not a cell of the block (0 to " << cells - 1
                << ")";
        break;
      }
    }
  }
  this->Report = problem.str();
  if (!this->Report.empty())
  {
    vtkErrorMacro(<< this->Report);
    return false;
  }
  return true;
}

//------------------------------------------------------------------------------
int vtkHeightGridFill::Fill()
{
  this->NumberOfVoids = this->NumberOfGroups = this->NumberOfFilledVoids = 0;
  this->Filled->Reset();
  if (!this->CheckInput())
  {
    return -1;
  }
  const int* b = this->Block;
  const vtkIdType cells = static_cast<vtkIdType>(b[0]) * b[1];
  double* heights = vtkDoubleArray::SafeDownCast(this->Heights)->GetPointer(0);
  try
  {
    std::vector<char> selected(static_cast<size_t>(cells), 0);
    for (vtkIdType v = 0; v < cells; ++v)
    {
      if (this->Mask->GetComponent(v, 0) != 0.0)
      {
        selected[static_cast<size_t>(v)] = 1;
        heights[v] = std::numeric_limits<double>::quiet_NaN();
      }
    }
    FillOptions options;
    options.Rings = this->Rings;
    options.Radius = this->Radius;
    options.Threads = this->Threads;
    if (this->Seeds)
    {
      for (vtkIdType k = 0; k < this->Seeds->GetNumberOfIds(); ++k)
      {
        options.Seeds.push_back(this->Seeds->GetId(k));
      }
    }
    GridField field(heights, b[0], b[1], this->GeoTransform, b[2], b[3], b[4], b[5]);
    const FillSummary summary = FillVoids(field, selected, options);
    this->NumberOfVoids = static_cast<vtkIdType>(summary.Voids.size());
    this->NumberOfGroups = summary.Groups;
    this->NumberOfFilledVoids = summary.FilledVoids;
    std::ostringstream report;
    report.precision(9);
    for (const VoidRecord& v : summary.Voids)
    {
      if (v.Status == VoidStatus::Skipped)
      {
        continue;
      }
      report << b[2] + v.FirstVertex % b[0] << "," << b[3] + v.FirstVertex / b[0] << ","
             << v.Vertices << "," << v.RingPoints << "," << v.Radius << "," << v.ModelRadius
             << "," << v.Seconds << "," << StatusName(v.Status) << "," << v.Message << "\n";
    }
    this->Report = report.str();
    for (vtkIdType v = 0; v < cells; ++v)
    {
      if (selected[static_cast<size_t>(v)] && std::isfinite(heights[v]))
      {
        this->Filled->InsertNextValue(v);
      }
    }
  }
  catch (const std::bad_alloc&)
  {
    this->Report = "Fill: not enough memory";
    vtkErrorMacro(<< this->Report);
    return -1;
  }
  this->Heights->Modified();
  return static_cast<int>(this->NumberOfFilledVoids);
}

//------------------------------------------------------------------------------
void vtkHeightGridFill::GetFilledCells(vtkIdTypeArray* cells)
{
  if (cells)
  {
    cells->DeepCopy(this->Filled);
  }
}

//------------------------------------------------------------------------------
void vtkHeightGridFill::PrintSelf(ostream& os, vtkIndent indent)
{
  this->Superclass::PrintSelf(os, indent);
  os << indent << "Heights: " << this->Heights << "\n";
  os << indent << "Mask: " << this->Mask << "\n";
  os << indent << "Block: " << this->Block[0] << " x " << this->Block[1] << " at "
     << this->Block[2] << ", " << this->Block[3] << " of " << this->Block[4] << " x "
     << this->Block[5] << "\n";
  os << indent << "GeoTransform: " << this->GeoTransform[0] << " " << this->GeoTransform[1] << " "
     << this->GeoTransform[2] << " " << this->GeoTransform[3] << " " << this->GeoTransform[4]
     << " " << this->GeoTransform[5] << "\n";
  os << indent << "Rings: " << this->Rings << "\n";
  os << indent << "Radius: " << this->Radius << "\n";
  os << indent << "Threads: " << this->Threads << "\n";
  os << indent << "Seeds: " << this->Seeds << "\n";
  os << indent << "NumberOfVoids: " << this->NumberOfVoids << "\n";
  os << indent << "NumberOfFilledVoids: " << this->NumberOfFilledVoids << "\n";
}
