#include "HoleFiles.h"
#include "ResultFile.h"

#include <vtkFloatArray.h>
#include <vtkNew.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkPolyDataWriter.h>

#include <cmath>
#include <cstdio>
#include <unistd.h>

void StagedFiles::Add(const std::string& path, std::string contents)
{
  this->Files.emplace_back(path, std::move(contents));
}

bool StagedFiles::Commit(std::string& failed)
{
  std::vector<std::string> temporaries;
  bool ok = true;
  for (const auto& file : this->Files)
  {
    const std::string temporary =
      WriteTemporaryBeside(file.first, file.second.data(), file.second.size());
    if (temporary.empty())
    {
      failed = file.first;
      ok = false;
      break;
    }
    temporaries.push_back(temporary);
  }
  for (size_t k = 0; ok && k < temporaries.size(); ++k)
  {
    if (rename(temporaries[k].c_str(), this->Files[k].first.c_str()) != 0)
    {
      failed = this->Files[k].first;
      ok = false;
    }
    else
    {
      temporaries[k].clear();
    }
  }
  for (const std::string& temporary : temporaries)
  {
    if (!temporary.empty())
    {
      unlink(temporary.c_str());
    }
  }
  return ok;
}

std::string IdListText(const std::vector<vtkIdType>& ids)
{
  std::string text;
  text.reserve(ids.size() * 8);
  char line[32];
  for (vtkIdType id : ids)
  {
    const int length = snprintf(line, sizeof(line), "%lld\n", static_cast<long long>(id));
    text.append(line, static_cast<size_t>(length));
  }
  return text;
}

std::vector<vtkIdType> FlaggedIds(const std::vector<char>& flags)
{
  std::vector<vtkIdType> ids;
  for (size_t i = 0; i < flags.size(); ++i)
  {
    if (flags[i])
    {
      ids.push_back(static_cast<vtkIdType>(i));
    }
  }
  return ids;
}

vtkSmartPointer<vtkPolyData> ModelWithVoids(vtkPolyData* model, const std::vector<char>& flags)
{
  auto copy = vtkSmartPointer<vtkPolyData>::New();
  copy->ShallowCopy(model); // cells and data shared: only the points change
  vtkPoints* in = model->GetPoints();
  vtkNew<vtkPoints> points;
  const int type = in->GetDataType();
  points->SetDataType(type == VTK_DOUBLE ? VTK_DOUBLE : VTK_FLOAT);
  points->SetNumberOfPoints(in->GetNumberOfPoints());
  for (vtkIdType i = 0; i < in->GetNumberOfPoints(); ++i)
  {
    double p[3];
    in->GetPoint(i, p);
    if (flags[static_cast<size_t>(i)])
    {
      p[2] = std::nan("");
    }
    points->SetPoint(i, p);
  }
  copy->SetPoints(points);
  return copy;
}

std::string BinaryModelText(vtkPolyData* model)
{
  vtkNew<vtkPolyDataWriter> writer;
  writer->SetInputData(model);
  writer->SetFileVersion(vtkDataWriter::VTK_LEGACY_READER_VERSION_4_2);
  writer->SetFileTypeToBinary();
  writer->WriteToOutputStringOn();
  if (writer->Write() != 1 || writer->GetErrorCode() != 0)
  {
    return std::string();
  }
  return std::string(writer->GetOutputString(),
    static_cast<size_t>(writer->GetOutputStringLength()));
}
