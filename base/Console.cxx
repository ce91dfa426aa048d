#include "Console.h"

#include <vtkLogger.h>
#include <vtkOutputWindow.h>

#include <iostream>
#include <ostream>

namespace
{
thread_local int QuietDepth = 0;

// A stream without a buffer: everything written to it is dropped.
std::ostream& NullStream()
{
  static std::ostream null(nullptr);
  return null;
}
} // namespace

void SetUpConsole()
{
  vtkLogger::SetStderrVerbosity(vtkLogger::VERBOSITY_OFF);
  vtkOutputWindow::GetInstance()->SetDisplayModeToAlwaysStdErr();
}

std::ostream& Report()
{
  if (QuietDepth > 0)
  {
    std::ostream& null = NullStream();
    null.clear(); // a stream without a buffer marks itself bad on every write
    return null;
  }
  return std::cout;
}

bool ReportsAreQuiet()
{
  return QuietDepth > 0;
}

QuietReports::QuietReports()
{
  ++QuietDepth;
}

QuietReports::~QuietReports()
{
  --QuietDepth;
}
