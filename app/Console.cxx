#include "Console.h"

#include <vtkLogger.h>
#include <vtkOutputWindow.h>

void SetUpConsole()
{
  vtkLogger::SetStderrVerbosity(vtkLogger::VERBOSITY_OFF);
  vtkOutputWindow::GetInstance()->SetDisplayModeToAlwaysStdErr();
}
