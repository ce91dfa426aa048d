#include "SolveProgress.h"

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>

//------------------------------------------------------------------------------
SolveProgress::SolveProgress(double estimatedSeconds, double thresholdSeconds)
{
  if (estimatedSeconds > thresholdSeconds && isatty(STDERR_FILENO))
  {
    this->Writer = std::thread([this, estimatedSeconds] { this->Show(estimatedSeconds); });
  }
}

//------------------------------------------------------------------------------
SolveProgress::~SolveProgress()
{
  if (this->Writer.joinable())
  {
    {
      const std::lock_guard<std::mutex> guard(this->Lock);
      this->Finished = true;
    }
    this->Done.notify_one();
    this->Writer.join();
  }
}

//------------------------------------------------------------------------------
void SolveProgress::Show(double estimatedSeconds)
{
  const auto start = std::chrono::steady_clock::now();
  std::unique_lock<std::mutex> guard(this->Lock);
  while (!this->Done.wait_for(guard, std::chrono::seconds(1), [this] { return this->Finished; }))
  {
    const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    fprintf(stderr, "\rSolving: %.0f s of about %.0f s ", std::floor(elapsed),
      std::ceil(estimatedSeconds));
    fflush(stderr);
  }
  fprintf(stderr, "\r%60s\r", "");
  fflush(stderr);
}
