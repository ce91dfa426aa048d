#include "vtkDatReader.h"
#include "NormalisedFrame.h"

#include "Console.h"
#include "GetWellOderredList.h"
#include "ModelFile.h"
#include "PointIdFile.h"
#include "Stopwatch.h"

#include <vtkFloatArray.h>
#include <vtkObjectFactory.h>
#include <vtkPolyData.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <unordered_set>
#include <vector>

vtkObjectFactoryNewMacro(vtkDatReader);

namespace
{
// The twelve frame points: the corners of [-0.1, 1.1] x [-0.1, 1.1] at the
// heights -0.1, 0.5 and 1.1, lowest first. They anchor the spline with the
// value 0 around the unit square of the normalised frame.
const double FramePoints[12][3] = {
  { -0.1, -0.1, -0.1 }, { -0.1, 1.1, -0.1 }, { 1.1, 1.1, -0.1 }, { 1.1, -0.1, -0.1 },
  { -0.1, -0.1, 0.5 }, { -0.1, 1.1, 0.5 }, { 1.1, 1.1, 0.5 }, { 1.1, -0.1, 0.5 },
  { -0.1, -0.1, 1.1 }, { -0.1, 1.1, 1.1 }, { 1.1, 1.1, 1.1 }, { 1.1, -0.1, 1.1 },
};

// Key of a constraint point's position in the plane of the frame, built from
// the bits of its single-precision X and Y. Two constraint points with the
// same key would make the spline system singular.
std::uint64_t PlaneKey(float x, float y)
{
  x += 0.0f; // +0 and -0 are the same position
  y += 0.0f;
  std::uint32_t xb;
  std::uint32_t yb;
  std::memcpy(&xb, &x, sizeof(xb));
  std::memcpy(&yb, &y, sizeof(yb));
  return (static_cast<std::uint64_t>(xb) << 32) | yb;
}

std::string OutsideProblem(const double* p, vtkIdType size); // why an outside vertex is refused
// Points are placed with Normalised() (NormalisedFrame.h), as the shape transform maps vertices.
// The error reports stand on fixed lines (the model at 106, the outside list at 121, the memory
// at 195), which tests and users' logs rely on: keep them there.
} // namespace

//------------------------------------------------------------------------------
vtkDatReader::vtkDatReader()
{
  this->PointArray = vtkPoints::New();
  this->PolyData = vtkPolyData::New();
  this->Tree = vtkPointLocator::New();
  this->Tree->Initialize();
  this->List = nullptr;
  this->UnList = nullptr;
  this->B = nullptr;
  this->Radius = 0.0f;
  this->Max = 0;
  this->ModelSize = 0;
  this->OutsideName = nullptr;
  this->ModelName = nullptr;
}

//------------------------------------------------------------------------------
vtkDatReader::~vtkDatReader()
{
  this->PointArray->Delete();
  this->PolyData->Delete();
  this->Tree->Delete();
  delete[] this->List;
  delete[] this->UnList;
  if (this->B)
  {
    free(this->B);
  }
}

//------------------------------------------------------------------------------
// Reads the model (checked by ReadModelFile, or the one given by SetModel) and
// the outside list (OutsideName, or the ids given by SetOutsideIds), then
// places the spline points with their values in the normalised frame. Nothing
// is ordered yet: the radius may still change before PrepareSystem. Every
// failure gives an error report and -1.
int vtkDatReader::ReadConstraints()
{
  std::string problem; // names the culprit when VTK has not reported it
  const std::string name = this->ModelName ? this->ModelName : "(none)";
  // A model given in memory is checked as a model file is.
  vtkSmartPointer<vtkPolyData> model = this->Model == nullptr
    ? ReadModelFile(this->ModelName, problem)
    : (CheckModel(this->Model, name.c_str(), problem) ? this->Model : nullptr);
  vtkPoints* modelPoints = model ? model->GetPoints() : nullptr;
  if (modelPoints == nullptr || modelPoints->GetNumberOfPoints() == 0)
  {
    vtkErrorMacro(<< (problem.empty() ? UnreadableModelMessage(name, "surface_repair") : problem));
    return -1;
  }
  this->Model = model;
  this->ModelSize = modelPoints->GetNumberOfPoints();
  // The outside list: every id with the line (or position) it stood on.
  std::vector<PointIdEntry> outsideIds;
  for (vtkIdType k = 0; this->OutsideIds && k < this->OutsideIds->GetNumberOfIds(); ++k)
  {
    const vtkIdType id = std::clamp<vtkIdType>(this->OutsideIds->GetId(k), INT_MIN, INT_MAX);
    outsideIds.push_back(PointIdEntry{ static_cast<int>(id), static_cast<int>(k + 1) });
  }
  if (!this->OutsideIds &&
    (this->OutsideName == nullptr || !ReadPointIdFile(this->OutsideName, outsideIds)))
  {
    vtkErrorMacro("Not correct OutsideName"); // also for a file that opens but cannot be read
    return -1;
  }
  return this->PlaceConstraintPoints(outsideIds);
}

//------------------------------------------------------------------------------
// The frame points, then one constraint point per outside id in the normalised frame (see
// FrameBounds). An id outside the model or a vertex without a finite height stops the read; a
// repeated or stacked vertex (on the X, Y of an earlier one) is skipped: A would be singular.
int vtkDatReader::PlaceConstraintPoints(const std::vector<PointIdEntry>& outsideIds)
{
  vtkPoints* modelPoints = this->Model->GetPoints();
  const char* source = this->OutsideIds ? "the outside ids" : this->OutsideName;
  this->Values = vtkSmartPointer<vtkFloatArray>::New();
  double b[6]; // the heights of a void are left out of the frame
  FrameBounds(modelPoints, b);
  const float xmin = static_cast<float>(b[0]), xmax = static_cast<float>(b[1]);
  const float ymin = static_cast<float>(b[2]), ymax = static_cast<float>(b[3]);
  const float zmin = static_cast<float>(b[4]), zmax = static_cast<float>(b[5]);
  const char* flatAxis = !(xmax > xmin) ? "x" : (!(ymax > ymin) ? "y" : nullptr);
  if (flatAxis)
  {
    vtkErrorMacro("Model has zero extent along " << flatAxis);
    return -1;
  }
  for (const auto& corner : FramePoints)
  {
    this->PointArray->InsertNextPoint(corner[0], corner[1], corner[2]);
    this->Values->InsertNextTuple1(0.0);
  }
  std::unordered_set<std::uint64_t> taken;
  vtkIdType skipped = 0;
  for (const PointIdEntry& entry : outsideIds)
  {
    const bool known = entry.Id >= 0 && entry.Id < this->ModelSize;
    const double* p = known ? modelPoints->GetPoint(entry.Id) : nullptr;
    if (p == nullptr || !std::isfinite(p[2])) // a void cannot constrain the fit
    {
      vtkErrorMacro("Vertex id " << entry.Id << (this->OutsideIds ? " at position " : " on line ")
                                 << entry.Line << " of " << source
                                 << OutsideProblem(p, this->ModelSize));
      return -1;
    }
    const float X = Normalised(static_cast<float>(p[0]), xmin, xmax);
    const float Y = Normalised(static_cast<float>(p[1]), ymin, ymax);
    const float V = Normalised(static_cast<float>(p[2]), zmin, zmax); // 0 for a flat model
    if (!taken.insert(PlaneKey(X, Y)).second)
    {
      ++skipped;
      continue;
    }
    this->PointArray->InsertNextPoint(X, Y, 0.0);
    this->Values->InsertNextTuple1(V);
  }
  if (skipped > 0)
  {
    Report() << "Skipped " << skipped << " repeated outside points" << std::endl;
  }
  return 0;
}

//------------------------------------------------------------------------------
// The locator, the ordering at the current radius and the right-hand side.
int vtkDatReader::PrepareSystem()
{
  if (this->BuildTreeAndOrdering() != 0)
  {
    return -1;
  }
  const int n = static_cast<int>(this->PointArray->GetNumberOfPoints());
  this->B = static_cast<float*>(malloc(sizeof(float) * static_cast<size_t>(n)));
  if (this->B == nullptr)
  {
    vtkErrorMacro("Not enough memory");
    return -1;
  }
  for (int k = 0; k < n; ++k)
  {
    this->B[k] = -this->Values->GetValue(this->List[k]);
  }
  return 0;
}

//------------------------------------------------------------------------------
int vtkDatReader::ReadData()
{
  if (this->ReadConstraints() != 0)
  {
    return -1;
  }
  return this->PrepareSystem();
}

//------------------------------------------------------------------------------
void vtkDatReader::SetModel(vtkPolyData* model)
{
  if (this->Model != model)
  {
    this->Model = model;
    this->Modified();
  }
}

//------------------------------------------------------------------------------
void vtkDatReader::SetOutsideIds(vtkIdList* ids)
{
  if (this->OutsideIds != ids)
  {
    this->OutsideIds = ids;
    this->Modified();
  }
}

//------------------------------------------------------------------------------
// Builds the locator over the spline points and orders them breadth-first by
// neighbourhood at the current radius: List, UnList and Max.
int vtkDatReader::BuildTreeAndOrdering()
{
  this->PolyData->SetPoints(this->PointArray);
  this->Tree->SetDataSet(this->PolyData);

  StartTimer();
  this->Tree->BuildLocator();
  Report() << "Tree build time: " << GetElapsedTime() << std::endl;

  const int n = static_cast<int>(this->PointArray->GetNumberOfPoints());
  StartTimer();
  int bandwidth = 0;
  this->List = GetWellOderredList(&bandwidth, n, this->Radius, this->PointArray, this->Tree);
  this->UnList = new int[n];
  for (int k = 0; k < n; ++k)
  {
    this->UnList[this->List[k]] = k;
  }
  Report() << "Sorting time: " << GetElapsedTime() << std::endl;
  this->Max = bandwidth;
  return 0;
}

namespace
{
// The tail of the report on an outside vertex that cannot constrain the fit:
// p is its point, null when its id is not in the model.
std::string OutsideProblem(const double* p, vtkIdType size)
{
  std::ostringstream text;
  if (p == nullptr)
  {
    text << " is out of range (the model has " << size << " points)";
  }
  else
  {
    text << " has no finite height (" << p[2] << "): an outside vertex must constrain the fit";
  }
  return text.str();
}
} // namespace
