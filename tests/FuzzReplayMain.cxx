// Runs a fuzz target's entry point on files, as libFuzzer does with a crash
// input: the seed corpus and the regression inputs of fuzz/ become ordinary
// tests of the suite (and, in the sanitizer build, sanitized ones).
//
//   fuzz_replay_<target> <file or directory>...

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace
{
void Replay(const std::filesystem::path& path, int& count)
{
  std::ifstream in(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  ++count;
}
} // namespace

int main(int argc, char* argv[])
{
  int count = 0;
  for (int k = 1; k < argc; ++k)
  {
    const std::filesystem::path path(argv[k]);
    if (std::filesystem::is_directory(path))
    {
      for (const auto& entry : std::filesystem::directory_iterator(path))
      {
        Replay(entry.path(), count);
      }
    }
    else
    {
      Replay(path, count);
    }
  }
  std::cerr << "Replayed " << count << " inputs" << std::endl;
  return count > 0 ? 0 : 1;
}
