#ifndef FmaPeak_h
#define FmaPeak_h

#include <string>

/// The double-precision multiply-add peak of the core this runs on.
struct FmaPeak
{
  double GigaFlops = 0; // two flops per multiply-add
  std::string Unit;     // the widest vector unit measured
};

/**
 * Runs independent chains of fused multiply-adds, as many as keep the units
 * busy, in the widest vectors the processor has (AVX-512, AVX2 with FMA, or
 * SSE2 without FMA), for about seconds; the best of several tries.
 */
FmaPeak MeasureFmaPeak(double seconds);

#endif
