#ifndef FuzzSupport_h
#define FuzzSupport_h

// Shared by the fuzz targets: a quiet process (VTK's messages and the
// reader's timing lines dropped) and a check that stops the run on a broken
// promise, so that the fuzzer records the input.

#include <cstdio>
#include <cstdlib>

namespace fuzzsupport
{
/// Silences VTK's output window and standard output, once per process. The
/// output window keeps receiving messages (the model reader watches them);
/// it just shows none.
void Quiet();

/// A scratch directory for the files of one run, made once per process.
const char* ScratchDir();
} // namespace fuzzsupport

#define FUZZ_CHECK(condition)                                                                      \
  do                                                                                               \
  {                                                                                                \
    if (!(condition))                                                                              \
    {                                                                                              \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);                \
      abort();                                                                                     \
    }                                                                                              \
  } while (0)

#endif
