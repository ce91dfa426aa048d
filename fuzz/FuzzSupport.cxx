#include "FuzzSupport.h"

#include <vtkLogger.h>
#include <vtkObjectFactory.h>
#include <vtkOutputWindow.h>

#include <cstdlib>
#include <iostream>
#include <streambuf>
#include <string>
#include <unistd.h>

namespace
{
class SilentWindow : public vtkOutputWindow
{
public:
  static SilentWindow* New();
  vtkTypeMacro(SilentWindow, vtkOutputWindow);
  void DisplayText(const char*) override {}
  void DisplayErrorText(const char*) override {}
  void DisplayWarningText(const char*) override {}
  void DisplayGenericWarningText(const char*) override {}
  void DisplayDebugText(const char*) override {}

protected:
  SilentWindow() = default;
};
vtkStandardNewMacro(SilentWindow);

class NullBuffer : public std::streambuf
{
protected:
  int overflow(int c) override { return traits_type::not_eof(c); }
};
} // namespace

namespace fuzzsupport
{
void Quiet()
{
  static bool done = false;
  if (done)
  {
    return;
  }
  done = true;
  vtkLogger::SetStderrVerbosity(vtkLogger::VERBOSITY_OFF);
  SilentWindow* window = SilentWindow::New();
  vtkOutputWindow::SetInstance(window);
  window->Delete();
  // Kept for the whole process: the stream is flushed once more at exit.
  static NullBuffer* sink = new NullBuffer;
  std::cout.rdbuf(sink);
}

const char* ScratchDir()
{
  static std::string dir;
  if (dir.empty())
  {
    char pattern[] = "/tmp/surface_repair_fuzz.XXXXXX";
    if (mkdtemp(pattern) == nullptr)
    {
      abort();
    }
    dir = pattern;
  }
  return dir.c_str();
}
} // namespace fuzzsupport
