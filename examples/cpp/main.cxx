// repair_sample: repairs a model with vtkSurfaceRepairFilter and writes the
// result, as surface_repair does but without the viewer.
//
//   repair_sample MODEL INSIDE OUTSIDE R|auto OUT
//
// MODEL is VTK legacy polydata, INSIDE and OUTSIDE are id lists (one
// zero-based vertex id per line), R the support radius or auto, OUT the
// result (VTK legacy polydata, binary).
#include <vtkIdList.h>
#include <vtkNew.h>
#include <vtkPolyData.h>
#include <vtkPolyDataReader.h>
#include <vtkPolyDataWriter.h>
#include <vtkSurfaceRepairFilter.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>

namespace
{
// Reads the ids of an id list into ids, skipping empty lines; false, with a
// message naming the file and line, when the file cannot be read or a line
// holds no id.
bool ReadIdList(const std::string& path, vtkIdList* ids)
{
  std::ifstream in(path);
  if (!in)
  {
    std::cerr << "Can not read the id list " << path << "\n";
    return false;
  }
  std::string line;
  for (int number = 1; std::getline(in, line); ++number)
  {
    if (line.find_first_not_of(" \t\r") == std::string::npos)
    {
      continue; // an empty line
    }
    try
    {
      ids->InsertNextId(std::stoll(line));
    }
    catch (const std::exception&)
    {
      std::cerr << "Line " << number << " of " << path << " holds no vertex id\n";
      return false;
    }
  }
  return true;
}
} // namespace

int main(int argc, char* argv[])
{
  if (argc != 6)
  {
    std::cerr << "Usage: repair_sample MODEL INSIDE OUTSIDE R|auto OUT\n";
    return 1;
  }
  const std::string radius = argv[4];
  char* end = nullptr;
  const double r = std::strtod(radius.c_str(), &end);
  if (radius != "auto" && (*end != '\0' || !std::isfinite(r) || r <= 0))
  {
    std::cerr << "Radius must be a positive number or auto, not '" << radius << "'\n";
    return 1;
  }

  vtkNew<vtkIdList> inside;
  vtkNew<vtkIdList> outside;
  if (!ReadIdList(argv[2], inside) || !ReadIdList(argv[3], outside))
  {
    return 1;
  }

  vtkNew<vtkPolyDataReader> reader;
  reader->SetFileName(argv[1]);
  vtkNew<vtkSurfaceRepairFilter> repair;
  repair->SetInputConnection(reader->GetOutputPort());
  repair->SetInsideIds(inside);
  repair->SetOutsideIds(outside);
  if (radius == "auto")
  {
    repair->SetAutoRadius(true);
  }
  else
  {
    repair->SetRadius(r);
  }
  repair->Update();
  if (repair->GetOutput()->GetNumberOfPoints() == 0)
  {
    std::cerr << "The repair of " << argv[1] << " failed (see the error above)\n";
    return 1;
  }

  // Written beside OUT and renamed once whole, so that a failed write leaves
  // no half-written result and an earlier one intact.
  const std::string out = argv[5];
  const std::string part = out + ".part";
  vtkNew<vtkPolyDataWriter> writer;
  writer->SetInputConnection(repair->GetOutputPort());
  writer->SetFileName(part.c_str());
  writer->SetFileTypeToBinary(); // ASCII would round the moved heights
  if (!writer->Write() || std::rename(part.c_str(), out.c_str()) != 0)
  {
    std::remove(part.c_str());
    std::cerr << "Can not write " << out << "\n";
    return 1;
  }
  std::cout << "Radius " << repair->GetChosenRadius() << ": " << out << " written\n";
  return 0;
}
