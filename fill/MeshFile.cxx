#include "MeshFile.h"

#include "ModelFile.h"
#include "ResultFile.h"

#include <vtkAlgorithm.h>
#include <vtkNew.h>
#include <vtkOBJReader.h>
#include <vtkOBJWriter.h>
#include <vtkPLYReader.h>
#include <vtkPLYWriter.h>
#include <vtkPolyData.h>
#include <vtkSTLReader.h>
#include <vtkSTLWriter.h>
#include <vtkXMLPolyDataReader.h>
#include <vtkXMLPolyDataWriter.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <unistd.h>

namespace
{

// Runs a VTK reader on path; null when it reports an error or gives no points.
template <typename Reader>
vtkSmartPointer<vtkPolyData> RunReader(const std::string& path)
{
  vtkNew<Reader> reader;
  reader->SetFileName(path.c_str());
  reader->Update();
  if (reader->GetErrorCode() != 0 || reader->GetOutput()->GetNumberOfPoints() == 0)
  {
    return nullptr;
  }
  vtkSmartPointer<vtkPolyData> model = reader->GetOutput();
  return model;
}

template <typename Writer>
bool RunWriter(vtkPolyData* model, const std::string& path)
{
  vtkNew<Writer> writer;
  writer->SetFileName(path.c_str());
  writer->SetInputData(model);
  return writer->Write() == 1 && writer->GetErrorCode() == 0;
}
} // namespace

std::string Extension(const std::string& path)
{
  const size_t dot = path.find_last_of('.');
  const size_t slash = path.find_last_of('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
  {
    return "";
  }
  std::string ext = path.substr(dot);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  return ext;
}

bool IsMeshName(const std::string& path)
{
  const std::string ext = Extension(path);
  return ext == ".vtk" || ext == ".vtp" || ext == ".ply" || ext == ".obj" || ext == ".stl";
}

vtkSmartPointer<vtkPolyData> ReadMesh(const std::string& path, vtkIdType& merged, std::string& problem)
{
  merged = 0;
  if (!std::ifstream(path).good())
  {
    problem = "Can not open " + path;
    return nullptr;
  }
  const std::string ext = Extension(path);
  vtkSmartPointer<vtkPolyData> model;
  if (ext == ".vtk")
  {
    model = ReadModelFile(path.c_str(), problem);
  }
  else if (ext == ".vtp")
  {
    model = RunReader<vtkXMLPolyDataReader>(path);
  }
  else if (ext == ".ply")
  {
    model = RunReader<vtkPLYReader>(path);
  }
  else if (ext == ".obj")
  {
    model = RunReader<vtkOBJReader>(path);
  }
  else if (ext == ".stl")
  {
    model = RunReader<vtkSTLReader>(path); // merges coincident points
    if (model)
    {
      merged = 3 * model->GetNumberOfPolys() - model->GetNumberOfPoints();
    }
  }
  if (model == nullptr || model->GetNumberOfPoints() == 0)
  {
    if (problem.empty())
    {
      problem = "Can not read the mesh " + path + " (no points, or not a valid " +
        (ext.empty() ? std::string("mesh") : ext.substr(1)) + " file)";
    }
    return nullptr;
  }
  if (!CheckModel(model, path.c_str(), problem))
  {
    return nullptr;
  }
  return model;
}

bool WriteMesh(vtkPolyData* model, const std::string& path, std::string& problem)
{
  const std::string ext = Extension(path);
  if (ext == ".vtk")
  {
    if (!WriteResultFile(model, path.c_str()))
    {
      problem = "Can not write " + path;
      return false;
    }
    return true;
  }
  // A temporary name beside path with the same extension, for the writers
  // that look at it.
  const std::string temporary = path + ".part" + std::to_string(getpid()) + ext;
  bool written = false;
  if (ext == ".vtp")
  {
    written = RunWriter<vtkXMLPolyDataWriter>(model, temporary);
  }
  else if (ext == ".ply")
  {
    written = RunWriter<vtkPLYWriter>(model, temporary);
  }
  else if (ext == ".obj")
  {
    written = RunWriter<vtkOBJWriter>(model, temporary);
  }
  else if (ext == ".stl")
  {
    vtkNew<vtkSTLWriter> writer;
    writer->SetFileTypeToBinary();
    writer->SetFileName(temporary.c_str());
    writer->SetInputData(model);
    written = writer->Write() == 1 && writer->GetErrorCode() == 0;
  }
  if (!written || std::rename(temporary.c_str(), path.c_str()) != 0)
  {
    std::remove(temporary.c_str());
    problem = "Can not write " + path;
    return false;
  }
  return true;
}
