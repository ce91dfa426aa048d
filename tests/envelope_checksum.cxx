// Prints a checksum of the envelope factor of a few fixed matrices, one line
// each, so that one binary can be compared with itself bit for bit on
// processors of different instruction sets (or under an emulator that offers
// fewer): envelope_cpus.sh runs it natively and under qemu-x86_64.
#include "EnvelopeCholesky.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace
{

// A small linear congruential generator: the same numbers whatever library
// and processor.
struct Numbers
{
  std::uint64_t State;
  // Uniform in [-0.5, 0.5).
  float Next()
  {
    this->State = this->State * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<float>(this->State >> 40) / 16777216.0f - 0.5f;
  }
};

// FNV-1a over the bytes of the factor.
std::uint64_t Checksum(const std::vector<float>& env, const std::vector<float>& diag)
{
  std::uint64_t h = 1469598103934665603ull;
  for (const std::vector<float>* part : { &env, &diag })
  {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(part->data());
    for (size_t k = 0; k < part->size() * sizeof(float); ++k)
    {
      h = (h ^ bytes[k]) * 1099511628211ull;
    }
  }
  return h;
}

// Factorises the diagonally dominant matrix with rows of the given lengths
// and prints the checksum of its factor.
void FactorAndPrint(const char* name, const std::vector<int>& lengths, std::uint64_t seed)
{
  const int n = static_cast<int>(lengths.size());
  Numbers numbers{ seed };
  std::vector<int> xenv(static_cast<size_t>(n) + 1, 1);
  std::vector<float> env;
  std::vector<double> rowSum(static_cast<size_t>(n), 0.0);
  for (int i = 0; i < n; ++i)
  {
    const int len = lengths[static_cast<size_t>(i)];
    for (int k = 0; k < len; ++k)
    {
      const float v = numbers.Next();
      env.push_back(v);
      rowSum[static_cast<size_t>(i)] += v < 0 ? -v : v;
      rowSum[static_cast<size_t>(i - len + k)] += v < 0 ? -v : v;
    }
    xenv[static_cast<size_t>(i) + 1] = xenv[static_cast<size_t>(i)] + len;
  }
  std::vector<float> diag(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i)
  {
    diag[static_cast<size_t>(i)] = static_cast<float>(rowSum[static_cast<size_t>(i)] + 1.0);
  }
  int flag = 0;
  factor_envelope(n, xenv.data(), env.data(), diag.data(), &flag);
  std::printf("%s: flag %d, factor %016llx\n", name, flag,
    static_cast<unsigned long long>(Checksum(env, diag)));
}

} // namespace

int main()
{
  // Rows as an ordering of scattered points gives them, first columns
  // creeping forward unevenly, with empty and short rows among them.
  std::vector<int> banded(700);
  for (int i = 0; i < 700; ++i)
  {
    int len = std::min(i, 300 - (i * 7) % 11 - (i % 5 == 0 ? 12 : 0));
    if (i % 29 == 3)
    {
      len = 0;
    }
    else if (i % 13 == 0)
    {
      len = std::min(i, 5);
    }
    banded[static_cast<size_t>(i)] = std::max(0, len);
  }
  FactorAndPrint("banded", banded, 1);
  // Full rows of every length.
  std::vector<int> full(90);
  for (int i = 0; i < 90; ++i)
  {
    full[static_cast<size_t>(i)] = i;
  }
  FactorAndPrint("full", full, 2);
  return 0;
}
