#include "ResultFile.h"

#include <vtkAOSDataArrayTemplate.h>
#include <vtkCellData.h>
#include <vtkDataArray.h>
#include <vtkFieldData.h>
#include <vtkNew.h>
#include <vtkPointData.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkPolyDataWriter.h>

#include <algorithm>
#include <charconv>
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
// VTK's legacy writer prints floats as "%g" and doubles as "%.11g" in ASCII
// (six and eleven significant digits), and its reader takes the text back
// with the C++ stream operators, which round correctly but fail on "nan" and
// "inf". std::to_chars and std::from_chars give the same digits and values,
// twice as fast as the C formatted print and scan.
template <typename T>
bool ExactInAscii(T value, int digits)
{
  if (!std::isfinite(value))
  {
    return false;
  }
  char text[48];
  const std::to_chars_result end =
    std::to_chars(text, text + sizeof(text), value, std::chars_format::general, digits);
  T back = 0;
  std::from_chars(text, end.ptr, back, std::chars_format::general);
  return back == value;
}

bool ExactInAscii(float value)
{
  return ExactInAscii(value, 6);
}

bool ExactInAscii(double value)
{
  return ExactInAscii(value, 11);
}

template <typename T>
bool AsciiKeepsValues(vtkDataArray* array)
{
  const vtkIdType count = array->GetNumberOfValues();
  const int components = std::max(array->GetNumberOfComponents(), 1);
  auto* typed = vtkAOSDataArrayTemplate<T>::FastDownCast(array);
  auto exact = [&](vtkIdType k) {
    const T value = typed ? typed->GetValue(k)
                          : static_cast<T>(array->GetComponent(k / components,
                              static_cast<int>(k % components)));
    return ExactInAscii(value);
  };
  // A model that came from an ASCII file is exact but for the moved heights,
  // which lie together somewhere in the file: a sparse pass over the last
  // component (z of the points) finds one of them long before a pass from
  // the start would.
  const vtkIdType stride = components * 97;
  for (vtkIdType k = components - 1; k < count; k += stride)
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
} // namespace

bool AsciiKeepsArray(vtkDataArray* array)
{
  if (array == nullptr)
  {
    return true;
  }
  // Integers of every width, bits and text come back from ASCII exactly;
  // only the two floating-point types are rounded.
  switch (array->GetDataType())
  {
    case VTK_FLOAT:
      return AsciiKeepsValues<float>(array);
    case VTK_DOUBLE:
      return AsciiKeepsValues<double>(array);
    default:
      return true;
  }
}

bool AsciiKeepsEveryValue(vtkPolyData* data)
{
  if (data->GetPoints() != nullptr && !AsciiKeepsArray(data->GetPoints()->GetData()))
  {
    return false;
  }
  for (vtkFieldData* arrays :
    { static_cast<vtkFieldData*>(data->GetPointData()),
      static_cast<vtkFieldData*>(data->GetCellData()), data->GetFieldData() })
  {
    for (int k = 0; arrays != nullptr && k < arrays->GetNumberOfArrays(); ++k)
    {
      if (!AsciiKeepsArray(arrays->GetArray(k)))
      {
        return false;
      }
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
  if (!AsciiKeepsEveryValue(data))
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

  const std::string temporary = WriteTemporaryBeside(path, text, size);
  if (temporary.empty())
  {
    return false;
  }
  const bool ok = rename(temporary.c_str(), path) == 0;
  if (!ok)
  {
    unlink(temporary.c_str());
  }
  return ok;
}

std::string WriteTemporaryBeside(const std::string& path, const char* data, size_t size)
{
  std::string pattern = path + ".XXXXXX";
  std::vector<char> temporary(pattern.begin(), pattern.end());
  temporary.push_back('\0');
  int fd = mkstemp(temporary.data());
  if (fd < 0)
  {
    return std::string();
  }
  // mkstemp creates the file for the owner alone; give it the permissions a
  // plainly created file would have.
  mode_t mask = umask(0);
  umask(mask);
  bool ok = fchmod(fd, 0666 & ~mask) == 0;
  ok = ok && WriteAll(fd, data, size);
  ok = ok && fsync(fd) == 0;
  ok = (close(fd) == 0) && ok;
  if (!ok)
  {
    unlink(temporary.data());
    return std::string();
  }
  return std::string(temporary.data());
}
