#ifndef Stopwatch_h
#define Stopwatch_h

/**
 * The stopwatch behind the timing lines of the program, one per thread.
 *
 * One start mark per thread: timings do not nest, and every
 * StartTimer() discards the previous mark. The ticks are milliseconds of
 * wall-clock time taken from a steady clock.
 */

/// Stores the current millisecond reading as the start mark.
void StartTimer();

/// Seconds since the last StartTimer(), with millisecond resolution.
/// The start mark is left unchanged.
float GetElapsedTime();

/// Current reading of the millisecond tick source used by the stopwatch.
/// Stages that keep a start mark of their own read it through this.
long long GetMillisecondTicks();

#endif
