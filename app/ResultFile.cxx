#include "ResultFile.h"

#include <vtkDataArray.h>
#include <vtkNew.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkPolyDataWriter.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace
{
// Writes all of text to fd, retrying short writes; false on any error.
bool WriteAll(int fd, const char* text, size_t size)
{
  while (size > 0)
  {
    ssize_t written = write(fd, text, size);
    if (written < 0)
    {
      if (errno == EINTR)
      {
        continue;
      }
      return false;
    }
    text += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}
} // namespace

bool AsciiKeepsCoordinates(vtkPolyData* data)
{
  vtkPoints* points = data->GetPoints();
  if (points == nullptr)
  {
    return true;
  }
  vtkDataArray* values = points->GetData();
  const bool single = points->GetDataType() == VTK_FLOAT;
  // The formats VTK's legacy writer uses for the two precisions.
  const char* format = single ? "%g" : "%.11g";
  const vtkIdType count = values->GetNumberOfValues();
  auto exact = [&](vtkIdType k) {
    char text[64];
    const double value = values->GetComponent(k / 3, static_cast<int>(k % 3));
    if (!std::isfinite(value))
    {
      return false; // VTK writes nan and inf, but cannot read them back
    }
    snprintf(text, sizeof(text), format, value);
    return single ? strtof(text, nullptr) == static_cast<float>(value)
                  : strtod(text, nullptr) == value;
  };
  // A model that came from an ASCII file is exact but for the moved heights,
  // which lie together somewhere in the file: a sparse pass over the whole
  // array finds one of them long before a pass from the start would.
  const vtkIdType stride = 3 * 97;
  for (vtkIdType k = 2; k < count; k += stride)
  {
    if (!exact(k))
    {
      return false;
    }
  }
  for (vtkIdType k = 0; k < count; ++k)
  {
    if (!exact(k))
    {
      return false;
    }
  }
  return true;
}

bool WriteResultFile(vtkPolyData* data, const char* path)
{
  // The whole file is formed in memory first, so that every byte reaches the
  // disk through calls whose failure we see.
  vtkNew<vtkPolyDataWriter> writer;
  writer->SetInputData(data);
  writer->SetFileVersion(vtkDataWriter::VTK_LEGACY_READER_VERSION_4_2);
  if (!AsciiKeepsCoordinates(data))
  {
    writer->SetFileTypeToBinary();
  }
  writer->WriteToOutputStringOn();
  if (writer->Write() != 1 || writer->GetErrorCode() != 0)
  {
    return false;
  }
  const char* text = writer->GetOutputString();
  const size_t size = static_cast<size_t>(writer->GetOutputStringLength());

  std::string pattern = std::string(path) + ".XXXXXX";
  std::vector<char> temporary(pattern.begin(), pattern.end());
  temporary.push_back('\0');
  int fd = mkstemp(temporary.data());
  if (fd < 0)
  {
    return false;
  }
  // mkstemp creates the file for the owner alone; give it the permissions a
  // plainly created file would have.
  mode_t mask = umask(0);
  umask(mask);
  bool ok = fchmod(fd, 0666 & ~mask) == 0;
  ok = ok && WriteAll(fd, text, size);
  ok = ok && fsync(fd) == 0;
  ok = (close(fd) == 0) && ok;
  ok = ok && rename(temporary.data(), path) == 0;
  if (!ok)
  {
    unlink(temporary.data());
  }
  return ok;
}
