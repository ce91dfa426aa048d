#include "FmaPeak.h"
#include "ThreadClock.h"

#include <algorithm>
#include <chrono>

namespace
{
using Clock = ThreadClock;

typedef double Lanes2 __attribute__((vector_size(16)));
typedef double Lanes4 __attribute__((vector_size(32)));
typedef double Lanes8 __attribute__((vector_size(64)));

// Twelve independent chains: more than the multiply-add latency times the
// units, so that none waits. The result is returned so that nothing is
// optimised away.
#define FMA_CHAINS(LANES)                                                                          \
  LANES a[12];                                                                                     \
  for (int k = 0; k < 12; ++k)                                                                     \
  {                                                                                                \
    a[k] = LANES{} + seed * (k + 1);                                                               \
  }                                                                                                \
  const LANES m = LANES{} + 0.999999;                                                              \
  const LANES c = LANES{} + 1e-7;                                                                  \
  for (long i = 0; i < iterations; ++i)                                                            \
  {                                                                                                \
    _Pragma("GCC unroll 12") for (int k = 0; k < 12; ++k)                                          \
    {                                                                                              \
      a[k] = a[k] * m + c;                                                                         \
    }                                                                                              \
  }                                                                                                \
  LANES s = LANES{};                                                                               \
  for (int k = 0; k < 12; ++k)                                                                     \
  {                                                                                                \
    s += a[k];                                                                                     \
  }                                                                                                \
  return s[0];

__attribute__((noinline, target("arch=x86-64-v4"))) double Chains8(long iterations, double seed)
{
  FMA_CHAINS(Lanes8)
}

__attribute__((noinline, target("arch=x86-64-v3"))) double Chains4(long iterations, double seed)
{
  FMA_CHAINS(Lanes4)
}

__attribute__((noinline)) double Chains2(long iterations, double seed)
{
  FMA_CHAINS(Lanes2)
}

// GFLOP/s of one width, best of the tries within the time.
double Measure(double (*chains)(long, double), int lanes, double seconds)
{
  const long iterations = 2000000;
  const double flops = 2.0 * 12 * lanes * iterations;
  double best = 0;
  volatile double sink = 0;
  const Clock::time_point end =
    Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  do
  {
    const Clock::time_point start = Clock::now();
    sink = sink + chains(iterations, 1.0);
    const double t = std::chrono::duration<double>(Clock::now() - start).count();
    best = std::max(best, flops / t * 1e-9);
  } while (Clock::now() < end);
  return best;
}
} // namespace

FmaPeak MeasureFmaPeak(double seconds)
{
  __builtin_cpu_init();
  FmaPeak peak;
  peak.GigaFlops = Measure(Chains2, 2, seconds / 3);
  peak.Unit = "SSE2 (no FMA)";
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"))
  {
    const double avx2 = Measure(Chains4, 4, seconds / 3);
    if (avx2 > peak.GigaFlops)
    {
      peak.GigaFlops = avx2;
      peak.Unit = "AVX2 + FMA";
    }
  }
  if (__builtin_cpu_supports("avx512f"))
  {
    const double avx512 = Measure(Chains8, 8, seconds / 3);
    if (avx512 > peak.GigaFlops)
    {
      peak.GigaFlops = avx512;
      peak.Unit = "AVX-512";
    }
  }
  return peak;
}
