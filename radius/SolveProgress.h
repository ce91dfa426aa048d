#ifndef SolveProgress_h
#define SolveProgress_h

#include <condition_variable>
#include <mutex>
#include <thread>

/**
 * A progress line for a long solve, on standard error, updated in place once
 * a second ("Solving: 12 s of about 40 s") while the object lives, and wiped
 * when it goes. It is shown only when the estimated time exceeds the
 * threshold and standard error is a terminal, so logs and pipes stay clean.
 * The line is written by a thread of its own, since the factorisation has no
 * place to report from; the solve itself runs on as before.
 */
class SolveProgress
{
public:
  SolveProgress(double estimatedSeconds, double thresholdSeconds);
  ~SolveProgress();
  SolveProgress(const SolveProgress&) = delete;
  SolveProgress& operator=(const SolveProgress&) = delete;

private:
  void Show(double estimatedSeconds);

  std::mutex Lock;
  std::condition_variable Done;
  bool Finished = false;
  std::thread Writer;
};

#endif
