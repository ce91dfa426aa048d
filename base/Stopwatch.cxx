#include "Stopwatch.h"

#include <chrono>

namespace
{
thread_local long long StartMark = 0;
}

long long GetMillisecondTicks()
{
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void StartTimer()
{
  StartMark = GetMillisecondTicks();
}

float GetElapsedTime()
{
  return static_cast<float>(GetMillisecondTicks() - StartMark) * 0.001f;
}
