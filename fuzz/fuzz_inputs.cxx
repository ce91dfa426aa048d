// Fuzz target: the whole input preparation, vtkDatReader::ReadData, on a
// model file and an outside list made from the input bytes.
//
// The input is the model's bytes, then a line "%%", then the outside list's
// bytes; without that line it is all model and the outside list is empty.
// After a successful read the prepared problem must be consistent: a
// permutation and its inverse over the spline points, finite coordinates
// and right-hand side, a half-bandwidth inside the point count.

#include "FuzzSupport.h"
#include "vtkDatReader.h"

#include <vtkNew.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace
{
void WriteFile(const std::string& path, const uint8_t* data, size_t size)
{
  FILE* file = fopen(path.c_str(), "wb");
  FUZZ_CHECK(file != nullptr);
  FUZZ_CHECK(size == 0 || fwrite(data, 1, size, file) == size);
  FUZZ_CHECK(fclose(file) == 0);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  fuzzsupport::Quiet();
  static const char separator[] = "\n%%\n";
  const size_t separatorSize = sizeof(separator) - 1;
  size_t modelSize = size;
  for (size_t k = 0; k + separatorSize <= size; ++k)
  {
    if (memcmp(data + k, separator, separatorSize) == 0)
    {
      modelSize = k + 1; // the model keeps its line end
      break;
    }
  }
  const size_t listStart = modelSize < size ? modelSize + separatorSize - 1 : size;

  static std::string model = std::string(fuzzsupport::ScratchDir()) + "/model.vtk";
  static std::string outside = std::string(fuzzsupport::ScratchDir()) + "/outside.pts";
  WriteFile(model, data, modelSize);
  WriteFile(outside, data + listStart, size - listStart);

  vtkNew<vtkDatReader> reader;
  reader->ModelName = model.data();
  reader->OutsideName = outside.data();
  reader->SetRadius(0.3f);
  if (reader->ReadData() != 0)
  {
    return 0;
  }

  const int n = static_cast<int>(reader->GetPointArray()->GetNumberOfPoints());
  FUZZ_CHECK(n >= 12);
  FUZZ_CHECK(reader->GetModelSize() > 0);
  FUZZ_CHECK(reader->GetMax() >= 0 && reader->GetMax() < n);
  const int* list = reader->GetList();
  const int* unList = reader->GetUnList();
  const float* b = reader->GetB();
  std::vector<char> seen(static_cast<size_t>(n), 0);
  for (int k = 0; k < n; ++k)
  {
    FUZZ_CHECK(list[k] >= 0 && list[k] < n);
    FUZZ_CHECK(!seen[static_cast<size_t>(list[k])]);
    seen[static_cast<size_t>(list[k])] = 1;
    FUZZ_CHECK(unList[list[k]] == k);
    FUZZ_CHECK(std::isfinite(b[k]));
    double p[3];
    reader->GetPointArray()->GetPoint(k, p);
    FUZZ_CHECK(std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]));
  }
  return 0;
}
