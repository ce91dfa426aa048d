// Fuzz target: the point-id list reader, fed the input bytes as a file.
//
// Checks beyond "no crash": every id comes with a line number between 1 and
// the number of lines of the input, in non-decreasing order, and no more ids
// than the input has bytes.

#include "FuzzSupport.h"
#include "PointIdFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  // An empty input reads as an empty file.
  FILE* file = size > 0 ? fmemopen(const_cast<uint8_t*>(data), size, "r") : fopen("/dev/null", "r");
  FUZZ_CHECK(file != nullptr);
  std::vector<PointIdEntry> ids;
  const bool read = ReadPointIds(file, ids);
  fclose(file);
  FUZZ_CHECK(read);

  size_t lines = 1;
  for (size_t k = 0; k < size; ++k)
  {
    lines += data[k] == '\n';
  }
  FUZZ_CHECK(ids.size() <= size);
  int previous = 1;
  for (const PointIdEntry& entry : ids)
  {
    FUZZ_CHECK(entry.Line >= previous);
    FUZZ_CHECK(static_cast<size_t>(entry.Line) <= lines);
    previous = entry.Line;
  }
  return 0;
}
