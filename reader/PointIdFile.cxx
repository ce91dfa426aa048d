#include "PointIdFile.h"

#include <cstring>

bool ReadPointIds(FILE* file, std::vector<PointIdEntry>& ids)
{
  char buffer[10];
  int line = 1;
  while (fgets(buffer, sizeof(buffer), file) != nullptr)
  {
    int id;
    if (sscanf(buffer, "%d", &id) == 1)
    {
      ids.push_back(PointIdEntry{ id, line });
    }
    // A piece that ends with the line end closes its line; the pieces of a
    // long line all belong to the line they were cut from.
    size_t length = strlen(buffer);
    if (length > 0 && buffer[length - 1] == '\n')
    {
      ++line;
    }
  }
  return ferror(file) == 0;
}

bool ReadPointIdFile(const char* path, std::vector<PointIdEntry>& ids)
{
  FILE* file = fopen(path, "r");
  if (file == nullptr)
  {
    return false;
  }
  bool read = ReadPointIds(file, ids);
  fclose(file);
  return read;
}
