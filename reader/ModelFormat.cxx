#include "ModelFile.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

namespace
{
// Bytes read from the start of a file to tell its kind.
const size_t SniffSize = 4096;

std::string Upper(std::string text)
{
  for (char& c : text)
  {
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return text;
}

// The lines of text, each without its line end and the white space around it.
std::vector<std::string> TrimmedLines(const std::string& text)
{
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line))
  {
    const size_t first = line.find_first_not_of(" \t\r\v\f");
    const size_t last = line.find_last_not_of(" \t\r\v\f");
    lines.push_back(first == std::string::npos ? "" : line.substr(first, last - first + 1));
  }
  return lines;
}

// A VTK legacy file: the dataset kind its DATASET line names (upper case), or
// empty when it has none among the lines after the header's three.
std::string LegacyDataset(const std::vector<std::string>& lines)
{
  for (size_t k = 3; k < lines.size(); ++k)
  {
    if (lines[k].empty())
    {
      continue;
    }
    std::istringstream words(lines[k]);
    std::string keyword;
    std::string kind;
    words >> keyword >> kind;
    return Upper(keyword) == "DATASET" ? Upper(kind) : std::string();
  }
  return std::string();
}

// Binary STL: an 80-byte header, a 32-bit little-endian triangle count, 50
// bytes per triangle, and nothing else.
bool IsBinaryStl(const std::string& head, long long size)
{
  if (head.size() < 84)
  {
    return false;
  }
  uint32_t count = 0;
  for (int k = 3; k >= 0; --k)
  {
    count = (count << 8) | static_cast<unsigned char>(head[80 + static_cast<size_t>(k)]);
  }
  return size == 84 + 50LL * count;
}

// Wavefront OBJ: its first line that is neither empty nor a comment starts
// with one of its statements.
bool IsObj(const std::vector<std::string>& lines)
{
  for (const std::string& line : lines)
  {
    if (line.empty() || line[0] == '#')
    {
      continue;
    }
    std::istringstream words(line);
    std::string first;
    words >> first;
    for (const char* statement : { "v", "vt", "vn", "f", "o", "g", "mtllib", "usemtl" })
    {
      if (first == statement)
      {
        return true;
      }
    }
    return false;
  }
  return false;
}

// The type a VTK XML file names in its VTKFile element, with a space before
// it ("PolyData", "UnstructuredGrid", ...); empty when none is found.
std::string XmlType(const std::string& head)
{
  const size_t element = head.find("<VTKFile");
  const size_t type = element == std::string::npos ? element : head.find("type=\"", element);
  const size_t end = type == std::string::npos ? type : head.find('"', type + 6);
  if (end == std::string::npos || end - type > 64)
  {
    return std::string();
  }
  return " " + head.substr(type + 6, end - type - 6);
}

std::string Article(const std::string& word)
{
  return !word.empty() && std::strchr("AEIOU", word[0]) ? "an" : "a";
}
} // namespace

std::string DescribeOtherFormat(const char* path)
{
  struct stat info;
  if (path == nullptr || stat(path, &info) != 0 || !S_ISREG(info.st_mode))
  {
    return std::string();
  }
  std::ifstream file(path, std::ios::binary);
  std::string head(SniffSize, '\0');
  file.read(&head[0], static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<size_t>(file.gcount()));
  const std::vector<std::string> lines = TrimmedLines(head);
  const std::string first = lines.empty() ? std::string() : lines[0];
  if (first.rfind("# vtk DataFile", 0) == 0)
  {
    const std::string kind = LegacyDataset(lines);
    return kind.empty() || kind == "POLYDATA"
      ? std::string()
      : "it holds " + Article(kind) + " " + kind + " dataset";
  }
  if (IsBinaryStl(head, static_cast<long long>(info.st_size)) || first.rfind("solid", 0) == 0)
  {
    return "it is an STL file";
  }
  if (first == "ply")
  {
    return "it is a PLY file";
  }
  if (first.rfind("<?xml", 0) == 0 || first.rfind("<VTKFile", 0) == 0)
  {
    return "it is a VTK XML" + XmlType(head) + " file";
  }
  if (head.compare(0, 4, std::string("II*\0", 4)) == 0 ||
    head.compare(0, 4, std::string("MM\0*", 4)) == 0)
  {
    return "it is a TIFF image";
  }
  if (Upper(first).rfind("NCOLS", 0) == 0)
  {
    return "it is an ESRI ASCII grid";
  }
  if (IsObj(lines))
  {
    return "it is a Wavefront OBJ file";
  }
  return std::string();
}

std::string UnreadableModelMessage(const std::string& path, const char* program)
{
  const std::string found = DescribeOtherFormat(path.c_str());
  if (found.empty())
  {
    return "Can not read model " + path;
  }
  return "Can not read model " + path + ": " + found + "; " + program +
    " reads VTK legacy POLYDATA (surface_fill reads other mesh formats and rasters)";
}
