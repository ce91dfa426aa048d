#ifndef ThreadClock_h
#define ThreadClock_h

#include <chrono>
#include <ctime>

/**
 * The clock of the benchmark's stage times: by default the processor time of
 * the calling thread, which other processes on a shared machine inflate far
 * less than the wall time (they still share the caches); the wall time
 * (steady clock) with ThreadClock::Wall set. Every measurement of one run
 * uses the same one.
 */
struct ThreadClock
{
  using duration = std::chrono::nanoseconds;
  using rep = duration::rep;
  using period = duration::period;
  using time_point = std::chrono::time_point<ThreadClock>;
  static constexpr bool is_steady = true;

  static inline bool Wall = false;

  static time_point now() noexcept
  {
    if (Wall)
    {
      return time_point(std::chrono::duration_cast<duration>(
        std::chrono::steady_clock::now().time_since_epoch()));
    }
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return time_point(duration(static_cast<rep>(t.tv_sec) * 1000000000 + t.tv_nsec));
  }
};

#endif
