#include "ResultFile.h"

#include <vtkAOSDataArrayTemplate.h>
#include <vtkCellArray.h>
#include <vtkCellData.h>
#include <vtkDataArray.h>
#include <vtkFieldData.h>
#include <vtkInformation.h>
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
#include <cstdint>
#include <cstdlib>
#include <cstring>
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
// Appends value in big-endian byte order, as VTK's binary files hold it.
inline char* PutBigEndian(char* at, uint32_t value)
{
  value = __builtin_bswap32(value);
  memcpy(at, &value, sizeof(value));
  return at + sizeof(value);
}

inline char* PutBigEndian(char* at, uint64_t value)
{
  value = __builtin_bswap64(value);
  memcpy(at, &value, sizeof(value));
  return at + sizeof(value);
}

template <typename T, typename Bits>
void AppendBigEndian(std::string& out, const T* values, size_t count)
{
  const size_t start = out.size();
  out.resize(start + count * sizeof(T));
  char* at = &out[start];
  for (size_t k = 0; k < count; ++k)
  {
    Bits bits;
    memcpy(&bits, values + k, sizeof(bits));
    at = PutBigEndian(at, bits);
  }
}

// True when data holds nothing but points and cells, so that vtkPolyDataWriter
// would write nothing but the header, the points and the four cell sections:
// no point, cell or field data, points of float or double without the
// component names or information keys that it writes as metadata.
bool HoldsOnlyPointsAndCells(vtkPolyData* data)
{
  vtkPoints* points = data->GetPoints();
  vtkDataArray* coordinates = points ? points->GetData() : nullptr;
  auto* floats = vtkAOSDataArrayTemplate<float>::FastDownCast(coordinates);
  auto* doubles = vtkAOSDataArrayTemplate<double>::FastDownCast(coordinates);
  if ((floats == nullptr && doubles == nullptr) || coordinates->GetNumberOfComponents() != 3 ||
    coordinates->GetNumberOfTuples() < 1 || coordinates->HasAComponentName() ||
    (coordinates->HasInformation() && coordinates->GetInformation()->GetNumberOfKeys() > 0))
  {
    return false;
  }
  for (vtkFieldData* arrays :
    { static_cast<vtkFieldData*>(data->GetPointData()),
      static_cast<vtkFieldData*>(data->GetCellData()), data->GetFieldData() })
  {
    if (arrays != nullptr && arrays->GetNumberOfArrays() != 0)
    {
      return false;
    }
  }
  return true;
}

// Appends one cell section as the legacy writer writes it: keyword, cell
// count and list size, then each cell's size and point ids as big-endian
// ints. Nothing for an empty array.
bool AppendCells(std::string& out, const char* keyword, vtkCellArray* cells)
{
  const vtkIdType count = cells ? cells->GetNumberOfCells() : 0;
  if (count < 1)
  {
    return true;
  }
  const vtkIdType size = count + cells->GetNumberOfConnectivityIds();
  if (size > INT32_MAX)
  {
    return false; // beyond the int lists of the legacy layout
  }
  out += std::string(keyword) + " " + std::to_string(count) + " " + std::to_string(size) + "\n";
  const size_t start = out.size();
  out.resize(start + 4 * static_cast<size_t>(size));
  char* at = &out[start];
  vtkIdType length = 0;
  const vtkIdType* ids = nullptr;
  cells->InitTraversal();
  while (cells->GetNextCell(length, ids))
  {
    at = PutBigEndian(at, static_cast<uint32_t>(length));
    for (vtkIdType k = 0; k < length; ++k)
    {
      if (ids[k] > INT32_MAX)
      {
        return false;
      }
      at = PutBigEndian(at, static_cast<uint32_t>(static_cast<int>(ids[k])));
    }
  }
  out += "\n";
  return true;
}

} // namespace

std::string FormBinaryPointsAndCells(vtkPolyData* data)
{
  if (!HoldsOnlyPointsAndCells(data))
  {
    return std::string();
  }
  vtkDataArray* coordinates = data->GetPoints()->GetData();
  const vtkIdType count = coordinates->GetNumberOfTuples();
  const bool single = coordinates->GetDataType() == VTK_FLOAT;
  std::string out;
  vtkIdType ids = data->GetNumberOfCells();
  for (vtkCellArray* cells : { data->GetVerts(), data->GetLines(), data->GetPolys(),
         data->GetStrips() })
  {
    ids += cells ? cells->GetNumberOfConnectivityIds() : 0;
  }
  out.reserve(
    256 + 3 * static_cast<size_t>(count) * (single ? 4 : 8) + 4 * static_cast<size_t>(ids));
  out += "# vtk DataFile Version 4.2\nvtk output\nBINARY\nDATASET POLYDATA\n";
  out += "POINTS " + std::to_string(count) + (single ? " float\n" : " double\n");
  if (single)
  {
    AppendBigEndian<float, uint32_t>(
      out, vtkAOSDataArrayTemplate<float>::FastDownCast(coordinates)->GetPointer(0), 3 * count);
  }
  else
  {
    AppendBigEndian<double, uint64_t>(
      out, vtkAOSDataArrayTemplate<double>::FastDownCast(coordinates)->GetPointer(0), 3 * count);
  }
  out += "\n";
  if (!AppendCells(out, "VERTICES", data->GetVerts()) ||
    !AppendCells(out, "LINES", data->GetLines()) ||
    !AppendCells(out, "POLYGONS", data->GetPolys()) ||
    !AppendCells(out, "TRIANGLE_STRIPS", data->GetStrips()))
  {
    return std::string();
  }
  return out;
}

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
  const bool binary = !AsciiKeepsEveryValue(data);
  const std::string formed = binary ? FormBinaryPointsAndCells(data) : std::string();
  vtkNew<vtkPolyDataWriter> writer;
  const char* text = formed.data();
  size_t size = formed.size();
  if (formed.empty())
  {
    writer->SetInputData(data);
    writer->SetFileVersion(vtkDataWriter::VTK_LEGACY_READER_VERSION_4_2);
    if (binary)
    {
      writer->SetFileTypeToBinary();
    }
    writer->WriteToOutputStringOn();
    if (writer->Write() != 1 || writer->GetErrorCode() != 0)
    {
      return false;
    }
    text = writer->GetOutputString();
    size = static_cast<size_t>(writer->GetOutputStringLength());
  }

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
