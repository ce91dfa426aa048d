#include "vtkDatReader.h"
#include "NormalisedFrame.h"

#include "GetWellOderredList.h"
#include "ModelFile.h"
#include "PointIdFile.h"
#include "Stopwatch.h"

#include <vtkFloatArray.h>
#include <vtkNew.h>
#include <vtkObjectFactory.h>
#include <vtkPolyData.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
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

// The coordinates of the constraint points come from Normalised()
// (NormalisedFrame.h), the rule the shape transform maps the model's vertices
// with. The error reports of ReadData stand on fixed lines of this file (the
// model at 106, the outside list at 121, the memory at 195), which tests and
// users' logs rely on: keep the lines above them as they are.

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
// Reads the model (checked by ReadModelFile) and the outside list, builds the
// spline points with their values in the normalised frame, the locator, the
// ordering and the right-hand side. Every failure is reported through
// vtkErrorMacro and gives -1, with nothing of the model kept.
// The outside ids are checked against the model: an id outside the model
// stops the read, and a constraint point that falls on the (X, Y) of an
// earlier one (the same vertex listed twice, or two vertices stacked above
// each other) is skipped, since two coincident centres make the spline
// system singular.
int vtkDatReader::ReadData()
{
  std::string problem; // names the culprit when VTK has not reported it
  vtkSmartPointer<vtkPolyData> model = ReadModelFile(this->ModelName, problem);
  vtkPoints* modelPoints = model ? model->GetPoints() : nullptr;
  if (modelPoints == nullptr || modelPoints->GetNumberOfPoints() == 0)
  {
    vtkErrorMacro(<< (problem.empty() ? "Can not read model " +
                           std::string(this->ModelName ? this->ModelName : "(none)")
                                       : problem));
    return -1;
  }
  const vtkIdType modelSize = this->ModelSize = modelPoints->GetNumberOfPoints();
  vtkNew<vtkFloatArray> values;
  values->SetNumberOfComponents(1);

  // The outside list: every id with the line it stood on, in file order.
  std::vector<PointIdEntry> outsideIds;
  if (this->OutsideName == nullptr || !ReadPointIdFile(this->OutsideName, outsideIds))
  {
    // A file that exists but cannot be read (a directory, an I/O error) is
    // refused like a missing one.
    vtkErrorMacro("Not correct OutsideName");
    return -1;
  }
  double bounds[6];
  modelPoints->GetBounds(bounds); // brings the bounds up to date first
  const float xmin = static_cast<float>(bounds[0]);
  const float xmax = static_cast<float>(bounds[1]);
  const float ymin = static_cast<float>(bounds[2]);
  const float ymax = static_cast<float>(bounds[3]);
  const float zmin = static_cast<float>(bounds[4]);
  const float zmax = static_cast<float>(bounds[5]);
  const char* flatAxis = !(xmax > xmin) ? "x" : (!(ymax > ymin) ? "y" : nullptr);
  if (flatAxis)
  {
    vtkErrorMacro("Model has zero extent along " << flatAxis);
    return -1;
  }

  for (const auto& corner : FramePoints)
  {
    this->PointArray->InsertNextPoint(corner[0], corner[1], corner[2]);
    values->InsertNextTuple1(0.0);
  }

  std::unordered_set<std::uint64_t> taken;
  vtkIdType skipped = 0;
  for (const PointIdEntry& entry : outsideIds)
  {
    if (entry.Id < 0 || entry.Id >= modelSize)
    {
      vtkErrorMacro("Vertex id " << entry.Id << " on line " << entry.Line << " of "
                                 << this->OutsideName << " is out of range (the model has "
                                 << modelSize << " points)");
      return -1;
    }
    double p[3];
    modelPoints->GetPoint(entry.Id, p);
    const float X = Normalised(static_cast<float>(p[0]), xmin, xmax);
    const float Y = Normalised(static_cast<float>(p[1]), ymin, ymax);
    const float V = Normalised(static_cast<float>(p[2]), zmin, zmax); // 0 for a flat model
    if (!taken.insert(PlaneKey(X, Y)).second)
    {
      ++skipped;
      continue;
    }
    this->PointArray->InsertNextPoint(X, Y, 0.0);
    values->InsertNextTuple1(V);
  }
  if (skipped > 0)
  {
    std::cout << "Skipped " << skipped << " repeated outside points" << std::endl;
  }
  this->PolyData->SetPoints(this->PointArray);
  this->Tree->SetDataSet(this->PolyData);

  StartTimer();
  this->Tree->BuildLocator();
  std::cout << "Tree build time: " << GetElapsedTime() << std::endl;

  const int n = static_cast<int>(this->PointArray->GetNumberOfPoints());
  StartTimer();
  int bandwidth = 0;
  this->List = GetWellOderredList(&bandwidth, n, this->Radius, this->PointArray, this->Tree);
  this->UnList = new int[n];
  for (int k = 0; k < n; ++k)
  {
    this->UnList[this->List[k]] = k;
  }
  std::cout << "Sorting time: " << GetElapsedTime() << std::endl;
  this->Max = bandwidth;

  this->B = static_cast<float*>(malloc(sizeof(float) * static_cast<size_t>(n)));
  if (this->B == nullptr)
  {
    vtkErrorMacro("Not enough memory");
    return -1;
  }
  for (int k = 0; k < n; ++k)
  {
    this->B[k] = -values->GetValue(this->List[k]);
  }
  return 0;
}
