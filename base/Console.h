#ifndef Console_h
#define Console_h

#include <iosfwd>

/**
 * Console conventions of the program.
 *
 * Prompts, echoes, timing lines and reports go to standard output, one line at
 * a time, each followed by a line break and a flush (std::endl); floating-point
 * values use the stream's default format (six significant digits, as printf's
 * %g). Errors go to standard error.
 *
 * VTK 9 routes its messages through vtkLogger by default. SetUpConsole()
 * switches that off so that VTK's own errors and debug traces appear on
 * standard error in the toolkit's classic form:
 *
 *   ERROR: In <file>, line <n>
 *   <class> (<address>): <message>
 */
void SetUpConsole();

/**
 * The stream of the stages' report lines ("Tree build time: ", "Solving
 * time: ", "Affected points: ", ...): standard output, or a stream that drops
 * everything while a QuietReports lives. Trial work (fits that only help to
 * choose a parameter) and callers that embed the repair in their own program
 * use that to keep standard output clean.
 */
std::ostream& Report();

/// True while some QuietReports of this thread is alive.
bool ReportsAreQuiet();

/**
 * Silences Report() on this thread for its lifetime. Guards nest: the reports come back
 * when the last one goes.
 */
class QuietReports
{
public:
  QuietReports();
  ~QuietReports();
  QuietReports(const QuietReports&) = delete;
  QuietReports& operator=(const QuietReports&) = delete;
};

#endif
