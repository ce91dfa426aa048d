#include "ModelFile.h"

#include "TextScan.h"

#include <vtkAOSDataArrayTemplate.h>
#include <vtkCellArray.h>
#include <vtkDataArray.h>
#include <vtkDoubleArray.h>
#include <vtkFloatArray.h>
#include <vtkFieldData.h>
#include <vtkNew.h>
#include <vtkObjectFactory.h>
#include <vtkOutputWindow.h>
#include <vtkPoints.h>
#include <vtkPolyDataReader.h>
#include <vtkTypeInt64Array.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <istream>
#include <locale>
#include <memory>
#include <sstream>
#include <vector>

#include <climits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
// True for the type names of integer arrays in a legacy file.
bool IsIntegerType(const char* type)
{
  static const char* const names[] = { "vtktypeint64", "vtktypeint32", "vtktypeuint64",
    "vtktypeuint32", "vtkidtype", "int", "unsigned_int", "long", "unsigned_long" };
  for (const char* name : names)
  {
    if (strcmp(type, name) == 0)
    {
      return true;
    }
  }
  return false;
}

// The position of the first id of ids[0, size) outside 0..count-1, or size.
template <typename T>
vtkIdType FirstStray(const T* ids, vtkIdType size, vtkIdType count)
{
  for (vtkIdType k = 0; k < size; ++k)
  {
    if (ids[k] < 0 || ids[k] >= count)
    {
      return k;
    }
  }
  return size;
}

// The cell of the connectivity entry at, from the offsets of count cells.
template <typename T>
vtkIdType CellOfEntry(const T* offsets, vtkIdType cells, vtkIdType at)
{
  return static_cast<vtkIdType>(std::upper_bound(offsets, offsets + cells + 1, at) - offsets) - 1;
}

// The first cell of cells whose point ids are not all in 0..count-1, with the
// offending id; false when every id is in range. firstCell is the id of the
// first cell of this array in the model.
bool FindStrayPoint(vtkCellArray* cells, vtkIdType firstCell, vtkIdType count, vtkIdType* cell,
  vtkIdType* point)
{
  if (cells == nullptr)
  {
    return false;
  }
  const vtkIdType size = cells->GetNumberOfConnectivityIds();
  const vtkIdType cellCount = cells->GetNumberOfCells();
  vtkIdType at = 0;
  if (cells->IsStorage64Bit())
  {
    const auto* ids = cells->GetConnectivityArray64()->GetPointer(0);
    at = FirstStray(ids, size, count);
    if (at < size)
    {
      *cell = firstCell + CellOfEntry(cells->GetOffsetsArray64()->GetPointer(0), cellCount, at);
      *point = ids[at];
    }
  }
  else
  {
    const auto* ids = cells->GetConnectivityArray32()->GetPointer(0);
    at = FirstStray(ids, size, count);
    if (at < size)
    {
      *cell = firstCell + CellOfEntry(cells->GetOffsetsArray32()->GetPointer(0), cellCount, at);
      *point = ids[at];
    }
  }
  return at < size;
}

// The first point whose x or y is not finite, or a point before it; the
// points' count when all are finite. Float and double coordinates are
// scanned in place.
vtkIdType FirstNonFinitePlanePosition(vtkPoints* points)
{
  vtkDataArray* data = points ? points->GetData() : nullptr;
  if (data == nullptr || data->GetNumberOfComponents() != 3)
  {
    return 0;
  }
  const vtkIdType count = data->GetNumberOfTuples();
  auto scan = [count](const auto* p) {
    vtkIdType i = 0;
    while (i < count && std::isfinite(p[3 * i]) && std::isfinite(p[3 * i + 1]))
    {
      ++i;
    }
    return i;
  };
  if (auto* floats = vtkAOSDataArrayTemplate<float>::FastDownCast(data))
  {
    return scan(floats->GetPointer(0));
  }
  if (auto* doubles = vtkAOSDataArrayTemplate<double>::FastDownCast(data))
  {
    return scan(doubles->GetPointer(0));
  }
  return 0;
}

// While it lives, stands in for VTK's output window: hands every message on to
// the window it replaced and notes whether VTK complained (an error or a
// warning). VTK's readers warn about data shorter than its declaration and
// still return the array, part of it never filled.
class ComplaintWatch : public vtkOutputWindow
{
public:
  static ComplaintWatch* New();
  vtkTypeMacro(ComplaintWatch, vtkOutputWindow);

  void Watch()
  {
    this->Previous = vtkOutputWindow::GetInstance();
    vtkOutputWindow::SetInstance(this);
  }
  void Stop()
  {
    if (this->Previous)
    {
      vtkOutputWindow::SetInstance(this->Previous);
      this->Previous = nullptr;
    }
  }

  void DisplayText(const char* text) override { this->Previous->DisplayText(text); }
  void DisplayErrorText(const char* text) override
  {
    this->Complained = true;
    this->Previous->DisplayErrorText(text);
  }
  void DisplayWarningText(const char* text) override
  {
    this->Complained = true;
    this->Previous->DisplayWarningText(text);
  }
  void DisplayGenericWarningText(const char* text) override
  {
    this->Complained = true;
    this->Previous->DisplayGenericWarningText(text);
  }
  void DisplayDebugText(const char* text) override { this->Previous->DisplayDebugText(text); }

  bool Complained = false;

protected:
  ComplaintWatch() = default;
  ~ComplaintWatch() override = default;

private:
  vtkSmartPointer<vtkOutputWindow> Previous;
};
vtkStandardNewMacro(ComplaintWatch);

// The bytes of the model file, read in one piece: the reader's stream reads
// from them (ModelTextReader), and the number lists of an ASCII file are
// read from them directly (see TextScan.h), the stream then set past them.
// Empty (Data null) when the reader reads the file itself.
struct ModelText
{
  std::unique_ptr<char[]> Bytes;
  const char* Data = nullptr;
  size_t Size = 0;
};

// Reads the whole of the regular file path into text. False, with text
// empty, for anything else, which the reader then opens itself and reports
// as it does: a missing or unreadable file, a directory, an empty file, one
// of 2 GB or more.
bool LoadModelText(const char* path, ModelText& text)
{
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0)
  {
    return false;
  }
  struct stat info;
  bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0 &&
    info.st_size < INT_MAX;
  std::unique_ptr<char[]> bytes;
  size_t done = 0;
  if (ok)
  {
    const size_t size = static_cast<size_t>(info.st_size);
    bytes.reset(new char[size]);
    char* data = bytes.get();
    while (ok && done < size)
    {
      const ssize_t got = read(fd, data + done, size - done);
      ok = got > 0 || (got < 0 && errno == EINTR);
      done += got > 0 ? static_cast<size_t>(got) : 0;
    }
    // A file that grew meanwhile is read as far as its size said.
  }
  close(fd);
  if (!ok)
  {
    return false;
  }
  text.Data = bytes.get();
  text.Bytes = std::move(bytes);
  text.Size = done;
  return true;
}

// An input stream over bytes in memory that can tell and set its position,
// as the reader's use of its stream needs.
class TextBuffer : public std::streambuf
{
public:
  TextBuffer(const char* data, size_t size)
  {
    char* begin = const_cast<char*>(data); // only ever read
    this->setg(begin, begin, begin + size);
  }

protected:
  pos_type seekoff(off_type offset, std::ios_base::seekdir from, std::ios_base::openmode which)
    override
  {
    const off_type size = this->egptr() - this->eback();
    const off_type here = this->gptr() - this->eback();
    const off_type base =
      from == std::ios_base::beg ? 0 : from == std::ios_base::cur ? here : size;
    const off_type to = base + offset;
    if (!(which & std::ios_base::in) || to < 0 || to > size)
    {
      return pos_type(off_type(-1));
    }
    this->setg(this->eback(), this->eback() + to, this->egptr());
    return pos_type(to);
  }
  pos_type seekpos(pos_type position, std::ios_base::openmode which) override
  {
    return this->seekoff(off_type(position), std::ios_base::beg, which);
  }
};

class TextStream : public std::istream
{
public:
  TextStream(const char* data, size_t size)
    : std::istream(nullptr)
    , Buffer(data, size)
  {
    this->rdbuf(&this->Buffer);
    this->imbue(std::locale::classic());
  }

private:
  TextBuffer Buffer;
};

// A polydata reader that reads from the file's bytes in memory without
// copying them, as OpenVTKFile would have it read from the file. It keeps
// the class name of vtkPolyDataReader (no vtkTypeMacro), which VTK's error
// messages name.
class ModelTextReader : public vtkPolyDataReader
{
public:
  static ModelTextReader* New();
  using Superclass = vtkPolyDataReader;

  // Opens the file as OpenVTKFile does, or its bytes when text holds them.
  bool Open(const char* path, const ModelText& text)
  {
    if (text.Data == nullptr)
    {
      return this->OpenVTKFile(path) != 0;
    }
    this->CloseVTKFile();
    this->CurrentFileName = path;
    this->IS = new TextStream(text.Data, text.Size);
    return true;
  }

protected:
  ModelTextReader() = default;
  ~ModelTextReader() override = default;
};
vtkStandardNewMacro(ModelTextReader);

// The number of bytes of the file after the reader's position.
vtkIdType RemainingBytes(vtkPolyDataReader* reader, const char* path, const ModelText& text)
{
  struct stat info;
  std::istream* in = reader->GetIStream();
  if (in == nullptr)
  {
    return 0;
  }
  std::streamoff size = static_cast<std::streamoff>(text.Size);
  if (text.Data == nullptr)
  {
    if (stat(path, &info) != 0)
    {
      return 0;
    }
    size = info.st_size;
  }
  const std::streamoff at = in->tellg();
  return at >= 0 && at <= size ? static_cast<vtkIdType>(size - at) : 0;
}

// The reader's position in text, or -1 when the lists cannot be read from
// text directly (a binary file, a file the reader reads itself).
std::streamoff ScanStart(vtkPolyDataReader* reader, const ModelText& text)
{
  std::istream* in = reader->GetIStream();
  if (text.Data == nullptr || in == nullptr || reader->GetFileType() != VTK_ASCII)
  {
    return -1;
  }
  const std::streamoff at = in->tellg();
  return at >= 0 && static_cast<size_t>(at) <= text.Size ? at : -1;
}

// Sets the reader's stream to offset end of text, after a list read from it.
void ContinueAt(vtkPolyDataReader* reader, size_t end)
{
  reader->GetIStream()->seekg(static_cast<std::streamoff>(end));
}

// An offsets or connectivity array of count values of the (lower-case) type,
// read from text in one pass; null when the reader has to read it (another
// type, a binary file, a malformed list, metadata after the values). Of the
// integer types only vtktypeint64 is taken, the one VTK's writer writes: the
// reader reads the others into arrays of their own types, or refuses them
// (vtktypeint32).
vtkDataArray* ScanIdArray(
  vtkPolyDataReader* reader, const ModelText& text, const char* type, vtkIdType count)
{
  const std::streamoff at = ScanStart(reader, text);
  if (at < 0 || strcmp(type, "vtktypeint64") != 0)
  {
    return nullptr;
  }
  size_t end = 0;
  vtkNew<vtkTypeInt64Array> values;
  values->SetNumberOfValues(count);
  if (!ScanIntegers(text.Data, text.Size, static_cast<size_t>(at), static_cast<size_t>(count),
        values->GetPointer(0), &end) ||
    NextWordStartsWith(text.Data, text.Size, end, "metadata"))
  {
    return nullptr;
  }
  ContinueAt(reader, end);
  values->Register(nullptr); // handed over as ReadArray hands over its array
  return values;
}

// The cells of a section before version 5 ("ncells size", then size ints,
// each cell "n id id ..."), read from text in one pass into the offsets and
// connectivity that InsertNextCell would build; null when the reader has to
// read them (a binary file, a malformed list or structure).
vtkSmartPointer<vtkCellArray> ScanLegacyCells(
  vtkPolyDataReader* reader, const ModelText& text, vtkIdType cellCount, vtkIdType size)
{
  const std::streamoff at = ScanStart(reader, text);
  if (at < 0)
  {
    return nullptr;
  }
  if (size < cellCount)
  {
    return nullptr;
  }
  vtkNew<vtkTypeInt64Array> offsets;
  vtkNew<vtkTypeInt64Array> connectivity;
  offsets->SetNumberOfValues(cellCount + 1);
  connectivity->SetNumberOfValues(size - cellCount);
  long long* offset = offsets->GetPointer(0);
  long long* ids = connectivity->GetPointer(0);
  offset[0] = 0;
  size_t end = static_cast<size_t>(at);
  for (vtkIdType cell = 0; cell < cellCount; ++cell)
  {
    // The lists must fill size exactly with cellCount cells.
    long long length = 0;
    if (!ScanIntsWidened(text.Data, text.Size, end, 1, &length, &end) || length < 0 ||
      offset[cell] + length > size - cellCount)
    {
      return nullptr;
    }
    if (!ScanIntsWidened(text.Data, text.Size, end, static_cast<size_t>(length),
          ids + offset[cell], &end))
    {
      return nullptr;
    }
    offset[cell + 1] = offset[cell] + length;
  }
  if (offset[cellCount] != size - cellCount)
  {
    return nullptr;
  }
  auto cells = vtkSmartPointer<vtkCellArray>::New();
  cells->SetData(offsets, connectivity);
  ContinueAt(reader, end);
  return cells;
}

// Reads one cell section (VERTICES, LINES, POLYGONS or TRIANGLE_STRIPS, the
// keyword already read) and checks its structure, so that nothing later walks
// past the end of its arrays: VTK trusts the counts of the file. Files before
// version 5 hold one list "n id id ..." per cell; later ones an offsets and a
// connectivity array.
bool ReadCellSection(vtkPolyDataReader* reader, const char* path, const ModelText& text,
  const std::string& keyword, vtkSmartPointer<vtkCellArray>& cells, std::string& problem)
{
  std::ostringstream malformed;
  malformed << "The " << keyword << " section of model " << path << " is malformed";
  std::istream* in = reader->GetIStream();
  const std::streamoff start = in ? static_cast<std::streamoff>(in->tellg()) : -1;
  vtkIdType first = 0;
  vtkIdType second = 0;
  if (start < 0 || !reader->Read(&first) || !reader->Read(&second))
  {
    problem = malformed.str();
    return false;
  }
  // Every value takes two bytes at least (a digit and a separator, or four
  // bytes in binary).
  // Before version 5 the counts are of cells and of values, later ones of
  // offsets and of connectivity entries.
  const bool legacy = reader->GetFileMajorVersion() < 5;
  const vtkIdType room = RemainingBytes(reader, path, text) / 2 + 2;
  const bool fits = first >= 0 && second >= 0 && first <= room && second <= room &&
    (legacy ? first <= second : first + second <= room);
  if (!fits)
  {
    std::ostringstream text;
    text << "The " << keyword << " section of model " << path << " declares " << first << " "
         << second << " values, more than the rest of the file can hold";
    problem = text.str();
    return false;
  }

  if (!legacy)
  {
    // "OFFSETS type" and "CONNECTIVITY type", each followed by its array.
    // The arrays are read here rather than by vtkDataReader::ReadCells, so
    // that their types are checked first: VTK's reading of a text array
    // overruns its buffer on a malformed file.
    vtkSmartPointer<vtkDataArray> parts[2];
    const char* const names[2] = { "offsets", "connectivity" };
    const vtkIdType counts[2] = { first, second };
    for (int part = 0; part < 2; ++part)
    {
      char word[256];
      char type[256];
      if (!reader->ReadString(word) || strcmp(reader->LowerCase(word), names[part]) != 0 ||
        !reader->ReadString(type))
      {
        problem = malformed.str();
        return false;
      }
      if (!IsIntegerType(reader->LowerCase(type)))
      {
        problem = malformed.str() + ": its " + names[part] + " are of type " + type;
        return false;
      }
      vtkAbstractArray* array = ScanIdArray(reader, text, type, counts[part]);
      if (array == nullptr)
      {
        array = reader->ReadArray(type, counts[part], 1);
      }
      if (array == nullptr)
      {
        return false;
      }
      parts[part].TakeReference(vtkDataArray::SafeDownCast(array));
      if (!parts[part])
      {
        array->Delete();
        problem = malformed.str();
        return false;
      }
    }
    if (first == 0 && second == 0)
    {
      return true; // an empty section: no cells
    }
    cells = vtkSmartPointer<vtkCellArray>::New();
    if (!cells->SetData(parts[0], parts[1]))
    {
      cells = nullptr;
      problem = malformed.str();
      return false;
    }
    vtkDataArray* offsets = cells->GetOffsetsArray();
    vtkDataArray* connectivity = cells->GetConnectivityArray();
    const vtkIdType count = offsets ? offsets->GetNumberOfValues() : 0;
    bool valid = offsets && connectivity && count >= 1 && offsets->GetComponent(0, 0) == 0.0 &&
      offsets->GetComponent(count - 1, 0) ==
        static_cast<double>(connectivity->GetNumberOfValues());
    for (vtkIdType k = 1; valid && k < count; ++k)
    {
      valid = offsets->GetComponent(k, 0) >= offsets->GetComponent(k - 1, 0);
    }
    if (!valid)
    {
      cells = nullptr;
      problem = malformed.str();
      return false;
    }
    return true;
  }

  // Before version 5: "ncells size", then size ints.
  cells = ScanLegacyCells(reader, text, first, second);
  if (cells)
  {
    return true;
  }
  std::vector<int> data(static_cast<size_t>(second));
  if (second > 0 && !reader->ReadCellsLegacy(second, data.data()))
  {
    return false;
  }
  cells = vtkSmartPointer<vtkCellArray>::New();
  vtkIdType listed = 0;
  std::vector<vtkIdType> ids;
  for (vtkIdType at = 0; at < second; ++listed)
  {
    const vtkIdType size = data[static_cast<size_t>(at)];
    if (size < 0 || size > second - at - 1)
    {
      cells = nullptr;
      problem = malformed.str();
      return false;
    }
    ids.assign(data.begin() + at + 1, data.begin() + at + 1 + size);
    cells->InsertNextCell(size, ids.data());
    at += size + 1;
  }
  if (listed != first)
  {
    cells = nullptr;
    problem = malformed.str();
    return false;
  }
  return true;
}

// Reads the coordinates of count points written as ASCII text, word by word:
// VTK's reader cannot read the words nan, inf and -inf, which its own writer
// puts into ASCII files for non-finite values (elevation models mark their
// voids so). Every word must be a whole number; null with problem set if one
// is not, or if the section ends early.
vtkDataArray* ReadAsciiReals(
  vtkPolyDataReader* reader, const char* type, vtkIdType count, const char* path,
  std::string& problem)
{
  vtkSmartPointer<vtkDataArray> data;
  const bool single = strcmp(type, "double") != 0;
  if (!single)
  {
    data = vtkSmartPointer<vtkDoubleArray>::New();
  }
  else
  {
    data = vtkSmartPointer<vtkFloatArray>::New();
  }
  data->SetNumberOfComponents(3);
  data->SetNumberOfTuples(count);
  const vtkIdType values = 3 * count;
  char word[256];
  for (vtkIdType k = 0; k < values; ++k)
  {
    // Floats are parsed as floats: a detour through double could round twice.
    char* end = nullptr;
    double value = 0.0;
    if (reader->ReadString(word))
    {
      value = single ? static_cast<double>(strtof(word, &end)) : strtod(word, &end);
    }
    if (end == nullptr || end == word || *end != '\0')
    {
      std::ostringstream text;
      text << "Coordinate " << k % 3 << " of point " << k / 3 << " of model " << path;
      if (end == nullptr)
      {
        text << " is missing: the POINTS section ends early";
      }
      else
      {
        text << " is not a number (" << word << ")";
      }
      problem = text.str();
      return nullptr;
    }
    data->SetComponent(k / 3, static_cast<int>(k % 3), value);
  }
  data->Register(nullptr); // handed over as ReadArray hands over its array
  return data;
}

// The coordinates of count points (type float or double) read from text in
// one pass; null when ReadAsciiReals has to read them word by word and say
// what is wrong.
vtkDataArray* ScanAsciiReals(
  vtkPolyDataReader* reader, const ModelText& text, const char* type, vtkIdType count)
{
  const std::streamoff at = ScanStart(reader, text);
  if (at < 0)
  {
    return nullptr;
  }
  const size_t values = 3 * static_cast<size_t>(count);
  size_t end = 0;
  vtkSmartPointer<vtkDataArray> data;
  bool read = false;
  if (strcmp(type, "double") == 0)
  {
    auto reals = vtkSmartPointer<vtkDoubleArray>::New();
    reals->SetNumberOfComponents(3);
    reals->SetNumberOfTuples(count);
    read = ScanReals(text.Data, text.Size, static_cast<size_t>(at), values,
      reals->GetPointer(0), &end);
    data = reals;
  }
  else
  {
    auto reals = vtkSmartPointer<vtkFloatArray>::New();
    reals->SetNumberOfComponents(3);
    reals->SetNumberOfTuples(count);
    read = ScanReals(text.Data, text.Size, static_cast<size_t>(at), values,
      reals->GetPointer(0), &end);
    data = reals;
  }
  if (!read)
  {
    return nullptr;
  }
  ContinueAt(reader, end);
  data->Register(nullptr); // handed over as ReadArray hands over its array
  return data;
}

// Reads the coordinates of a POINTS section of count points, as
// vtkDataReader::ReadPointCoordinates does, but refuses an array that is not
// numeric (a "string" array) instead of losing it.
bool ReadPoints(vtkPolyDataReader* reader, const ModelText& text, vtkPolyData* output,
  vtkIdType count, const char* path, std::string& problem)
{
  char type[256];
  if (!reader->ReadString(type))
  {
    return false;
  }
  // Only numbers are handed to VTK: its reading of a malformed text array
  // can ask for gigabytes.
  if (!IsIntegerType(reader->LowerCase(type)) && strcmp(type, "float") != 0 &&
    strcmp(type, "double") != 0)
  {
    problem = std::string("Model ") + path + " has point coordinates of type " + type +
      ", not numbers";
    return false;
  }
  const bool real = strcmp(type, "float") == 0 || strcmp(type, "double") == 0;
  vtkAbstractArray* array = nullptr;
  if (real && reader->GetFileType() == VTK_ASCII)
  {
    array = ScanAsciiReals(reader, text, type, count);
    if (array == nullptr)
    {
      array = ReadAsciiReals(reader, type, count, path, problem);
    }
  }
  else
  {
    array = reader->ReadArray(type, count, 3);
  }
  if (array == nullptr)
  {
    return false;
  }
  vtkDataArray* data = vtkDataArray::SafeDownCast(array);
  if (data == nullptr)
  {
    array->Delete();
    return false;
  }
  vtkNew<vtkPoints> points;
  points->SetData(data);
  data->Delete();
  output->SetPoints(points);
  return true;
}

// Reads the sections after DATASET POLYDATA into output; false at the first
// section that fails. VTK has reported the reason by then, unless problem
// tells it. The file may be closed after a failure and must not be read
// further.
bool ReadSections(vtkPolyDataReader* reader, const ModelText& text, vtkPolyData* output,
  const char* path, std::string& problem)
{
  char line[256];
  while (reader->ReadString(line))
  {
    const std::string keyword = line;
    reader->LowerCase(line);
    if (!strncmp(line, "field", 5))
    {
      vtkFieldData* field = reader->ReadFieldData();
      if (field == nullptr)
      {
        return false;
      }
      output->SetFieldData(field);
      field->Delete();
    }
    else if (!strncmp(line, "points", 6))
    {
      vtkIdType count = 0;
      if (!reader->Read(&count) || count < 0)
      {
        return false;
      }
      // Every coordinate takes a byte at least, with its separator two in
      // text and four in binary: a count the rest of the file cannot hold
      // is refused before VTK allocates the array for it.
      if (count > RemainingBytes(reader, path, text) / 3)
      {
        std::ostringstream text;
        text << "Model " << path << " declares " << count
             << " points, more than the rest of the file can hold";
        problem = text.str();
        return false;
      }
      if (!ReadPoints(reader, text, output, count, path, problem))
      {
        return false;
      }
    }
    else if (!strncmp(line, "vertices", 8) || !strncmp(line, "lines", 5) ||
      !strncmp(line, "polygons", 8) || !strncmp(line, "triangle_strips", 15))
    {
      const char kind = line[0];
      vtkSmartPointer<vtkCellArray> cells;
      if (!ReadCellSection(reader, path, text, keyword, cells, problem))
      {
        return false;
      }
      if (cells)
      {
        switch (kind)
        {
          case 'v':
            output->SetVerts(cells);
            break;
          case 'l':
            output->SetLines(cells);
            break;
          case 'p':
            output->SetPolys(cells);
            break;
          default:
            output->SetStrips(cells);
            break;
        }
      }
    }
    else if (!strncmp(line, "cell_data", 9))
    {
      vtkIdType count = 0;
      if (!reader->Read(&count) || count != output->GetNumberOfCells())
      {
        return false;
      }
      return reader->ReadCellData(output, count) != 0;
    }
    else if (!strncmp(line, "point_data", 10))
    {
      vtkIdType count = 0;
      if (!reader->Read(&count) || count != output->GetNumberOfPoints())
      {
        return false;
      }
      return reader->ReadPointData(output, count) != 0;
    }
    else
    {
      return false;
    }
  }
  return true;
}
} // namespace

vtkSmartPointer<vtkPolyData> ReadModelFile(const char* path, std::string& problem)
{
  problem.clear();
  if (path == nullptr)
  {
    return nullptr;
  }
  vtkNew<ComplaintWatch> watch;
  watch->Watch();
  vtkNew<ModelTextReader> reader;
  reader->SetFileName(path);
  ModelText text;
  LoadModelText(path, text);
  auto output = vtkSmartPointer<vtkPolyData>::New();
  bool read = false;
  if (reader->Open(path, text))
  {
    char line[256];
    read = reader->ReadHeader(path) && reader->ReadString(line) &&
      !strncmp(reader->LowerCase(line), "dataset", 7) && reader->ReadString(line) &&
      !strncmp(reader->LowerCase(line), "polydata", 8) &&
      ReadSections(reader, text, output, path, problem);
    reader->CloseVTKFile(); // harmless when a failed section has closed it already
  }
  watch->Stop();
  if (!read || watch->Complained)
  {
    return nullptr;
  }

  if (!CheckModel(output, path, problem))
  {
    return nullptr;
  }
  return output;
}

bool CheckModel(vtkPolyData* model, const char* name, std::string& problem)
{
  vtkPoints* points = model->GetPoints();
  const vtkIdType count = points ? points->GetNumberOfPoints() : 0;
  for (vtkIdType i = FirstNonFinitePlanePosition(points); i < count; ++i)
  {
    double p[3];
    points->GetPoint(i, p);
    for (double v : { p[0], p[1] }) // a height may be missing: a void
    {
      if (!std::isfinite(v))
      {
        std::ostringstream text;
        text << "Point " << i << " of model " << name << " has a non-finite coordinate (" << v
             << ")";
        problem = text.str();
        return false;
      }
    }
  }

  // Cells are numbered as VTK numbers them: vertices, lines, polygons, strips.
  vtkCellArray* kinds[4] = { model->GetVerts(), model->GetLines(), model->GetPolys(),
    model->GetStrips() };
  vtkIdType first = 0;
  for (vtkCellArray* cells : kinds)
  {
    vtkIdType cell = 0;
    vtkIdType point = 0;
    if (FindStrayPoint(cells, first, count, &cell, &point))
    {
      std::ostringstream text;
      text << "Cell " << cell << " of model " << name << " refers to point " << point
           << ", which is out of range (the model has " << count << " points)";
      problem = text.str();
      return false;
    }
    first += cells ? cells->GetNumberOfCells() : 0;
  }
  return true;
}
