#ifndef TestSupport_h
#define TestSupport_h

// Helpers shared by the test programs: scratch directories, small files,
// generated height-field models, and running surface_repair as a process.

#include <functional>
#include <string>
#include <vector>

class vtkCellArray;
class vtkOutputWindow;
class vtkPolyData;

namespace testsupport
{

/// A fresh directory under /tmp, removed with its contents on destruction.
class TempDir
{
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return this->Dir; }
  /// Path of a file name inside the directory.
  std::string File(const std::string& name) const { return this->Dir + "/" + name; }

private:
  std::string Dir;
};

void WriteText(const std::string& path, const std::string& text);
std::string ReadText(const std::string& path);
bool FileExists(const std::string& path);

/// One id per line, each followed by a line end.
void WriteIds(const std::string& path, const std::vector<int>& ids);

/**
 * Writes a regular nx by ny height field as VTK legacy ASCII polydata: vertex
 * (i, j) has id j * nx + i and sits at (x0 + i * dx, y0 + j * dy,
 * height(x, y)); every grid cell is split into two triangles.
 */
void WriteHeightField(const std::string& path, int nx, int ny, double dx, double dy,
  const std::function<double(double, double)>& height, double x0 = 0.0, double y0 = 0.0);

/**
 * Appends the triangles of a regular nx by ny grid whose vertex (i, j) has id
 * j * nx + i: each cell, row after row, as (a, a + 1, a + nx + 1) and then
 * (a, a + nx + 1, a + nx), a its lower left vertex (the triangles
 * WriteHeightField writes).
 */
void AddGridTriangles(vtkCellArray* cells, int nx, int ny);

/// Reads a VTK legacy polydata file; fails the current test if it cannot.
vtkPolyData* ReadPolyData(const std::string& path); // caller deletes

/// What a finished process left behind.
struct ProcessResult
{
  int Status = -1;   // exit status, or 128 + signal number
  std::string Out;   // standard output
  std::string Err;   // standard error
};

/**
 * Runs a program with the given arguments (argument zero is added) in
 * directory cwd, with input fed to its standard input, and waits for it.
 * extraEnv holds NAME=VALUE strings added to (or replacing in) the
 * environment; a bare NAME removes that variable.
 */
/// childSetup, when given, runs in the child just before the program starts
/// (to lower a limit, change the user, ...).
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
  const std::string& cwd, const std::string& input = "",
  const std::vector<std::string>& extraEnv = {}, int timeoutSeconds = 120,
  const std::function<void()>& childSetup = nullptr);

/// Runs surface_repair without a display (DISPLAY removed).
ProcessResult RunRepair(const std::vector<std::string>& args, const std::string& cwd,
  const std::string& input = "", const std::function<void()>& childSetup = nullptr);

/**
 * Catches the messages that VTK objects hand to the output window (error
 * reports, debug traces, warnings) while it lives, and restores the previous
 * output window when it goes.
 */
class OutputCapture
{
public:
  OutputCapture();
  ~OutputCapture();
  OutputCapture(const OutputCapture&) = delete;
  OutputCapture& operator=(const OutputCapture&) = delete;

  const std::string& Errors() const;
  const std::string& Debug() const;
  const std::string& Warnings() const;
  void Clear();

private:
  vtkOutputWindow* Previous;
  vtkOutputWindow* Window;
};

/// Solves m x = r in double by Gaussian elimination with partial pivoting:
/// the independent reference for the program's single-precision solves.
std::vector<double> SolveDense(std::vector<std::vector<double>> m, std::vector<double> r);

/// Splits text into lines (line ends dropped).
std::vector<std::string> Lines(const std::string& text);

/// Path of the bundled sample's files.
std::string SampleFile(const std::string& name);

} // namespace testsupport

#endif
