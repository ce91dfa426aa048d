#include "TestSupport.h"

#include <gtest/gtest.h>

#include <vtkCellArray.h>
#include <vtkObjectFactory.h>
#include <vtkOutputWindow.h>
#include <vtkPolyData.h>
#include <vtkPolyDataReader.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace testsupport
{
namespace
{
class CaptureWindow : public vtkOutputWindow
{
public:
  static CaptureWindow* New();
  vtkTypeMacro(CaptureWindow, vtkOutputWindow);

  void DisplayText(const char* text) override { this->Other += text; }
  void DisplayErrorText(const char* text) override { this->Errors += text; }
  void DisplayWarningText(const char* text) override { this->Warnings += text; }
  void DisplayGenericWarningText(const char* text) override { this->Warnings += text; }
  void DisplayDebugText(const char* text) override { this->Debug += text; }

  std::string Errors;
  std::string Warnings;
  std::string Debug;
  std::string Other;

protected:
  CaptureWindow() = default;
};
vtkStandardNewMacro(CaptureWindow);
} // namespace

OutputCapture::OutputCapture()
{
  this->Previous = vtkOutputWindow::GetInstance();
  this->Previous->Register(nullptr);
  this->Window = CaptureWindow::New();
  vtkOutputWindow::SetInstance(this->Window);
}

OutputCapture::~OutputCapture()
{
  vtkOutputWindow::SetInstance(this->Previous);
  this->Previous->UnRegister(nullptr);
  this->Window->Delete();
}

const std::string& OutputCapture::Errors() const
{
  return static_cast<CaptureWindow*>(this->Window)->Errors;
}

const std::string& OutputCapture::Debug() const
{
  return static_cast<CaptureWindow*>(this->Window)->Debug;
}

const std::string& OutputCapture::Warnings() const
{
  return static_cast<CaptureWindow*>(this->Window)->Warnings;
}

void OutputCapture::Clear()
{
  auto* window = static_cast<CaptureWindow*>(this->Window);
  window->Errors.clear();
  window->Warnings.clear();
  window->Debug.clear();
  window->Other.clear();
}

TempDir::TempDir()
{
  char pattern[] = "/tmp/surface_repair_test.XXXXXX";
  char* made = mkdtemp(pattern);
  if (made == nullptr)
  {
    ADD_FAILURE() << "mkdtemp failed: " << strerror(errno);
    return;
  }
  this->Dir = made;
}

TempDir::~TempDir()
{
  if (!this->Dir.empty())
  {
    std::error_code ignored;
    std::filesystem::permissions(this->Dir, std::filesystem::perms::owner_all,
      std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(this->Dir, ignored);
  }
}

void WriteText(const std::string& path, const std::string& text)
{
  std::ofstream out(path, std::ios::binary);
  out << text;
  if (!out)
  {
    ADD_FAILURE() << "cannot write " << path;
  }
}

std::string ReadText(const std::string& path)
{
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool FileExists(const std::string& path)
{
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

void WriteIds(const std::string& path, const std::vector<int>& ids)
{
  std::ostringstream text;
  for (int id : ids)
  {
    text << id << "\n";
  }
  WriteText(path, text.str());
}

void AddGridTriangles(vtkCellArray* cells, int nx, int ny)
{
  for (int j = 0; j + 1 < ny; ++j)
  {
    for (int i = 0; i + 1 < nx; ++i)
    {
      const vtkIdType a = static_cast<vtkIdType>(j) * nx + i;
      const vtkIdType lower[3] = { a, a + 1, a + nx + 1 };
      const vtkIdType upper[3] = { a, a + nx + 1, a + nx };
      cells->InsertNextCell(3, lower);
      cells->InsertNextCell(3, upper);
    }
  }
}

void WriteHeightField(const std::string& path, int nx, int ny, double dx, double dy,
  const std::function<double(double, double)>& height, double x0, double y0)
{
  std::ostringstream text;
  text.precision(9);
  text << "# vtk DataFile Version 3.0\ngenerated height field\nASCII\nDATASET POLYDATA\n";
  text << "POINTS " << nx * ny << " float\n";
  for (int j = 0; j < ny; ++j)
  {
    for (int i = 0; i < nx; ++i)
    {
      double x = x0 + i * dx;
      double y = y0 + j * dy;
      text << x << " " << y << " " << height(x, y) << "\n";
    }
  }
  int cells = 2 * (nx - 1) * (ny - 1);
  text << "POLYGONS " << cells << " " << cells * 4 << "\n";
  for (int j = 0; j + 1 < ny; ++j)
  {
    for (int i = 0; i + 1 < nx; ++i)
    {
      int a = j * nx + i;
      int b = a + 1;
      int c = a + nx;
      int d = c + 1;
      text << "3 " << a << " " << b << " " << d << "\n";
      text << "3 " << a << " " << d << " " << c << "\n";
    }
  }
  WriteText(path, text.str());
}

vtkPolyData* ReadPolyData(const std::string& path)
{
  vtkPolyDataReader* reader = vtkPolyDataReader::New();
  reader->SetFileName(path.c_str());
  reader->Update();
  vtkPolyData* data = vtkPolyData::New();
  data->DeepCopy(reader->GetOutput());
  EXPECT_EQ(reader->GetErrorCode(), 0) << "cannot read " << path;
  reader->Delete();
  return data;
}

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
  const std::string& cwd, const std::string& input, const std::vector<std::string>& extraEnv,
  int timeoutSeconds, const std::function<void()>& childSetup)
{
  ProcessResult result;
  TempDir io;
  const std::string inPath = io.File("stdin");
  const std::string outPath = io.File("stdout");
  const std::string errPath = io.File("stderr");
  WriteText(inPath, input);

  // The environment of the child, prepared before fork.
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e)
  {
    env.emplace_back(*e);
  }
  for (const std::string& change : extraEnv)
  {
    std::string name = change.substr(0, change.find('='));
    for (auto it = env.begin(); it != env.end();)
    {
      it = (it->compare(0, name.size() + 1, name + "=") == 0) ? env.erase(it) : it + 1;
    }
    if (change.find('=') != std::string::npos)
    {
      env.push_back(change);
    }
  }
  std::vector<char*> envp;
  for (std::string& e : env)
  {
    envp.push_back(e.data());
  }
  envp.push_back(nullptr);
  std::vector<std::string> argStore;
  argStore.push_back(program);
  argStore.insert(argStore.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argStore)
  {
    argv.push_back(a.data());
  }
  argv.push_back(nullptr);

  pid_t pid = fork();
  if (pid == 0)
  {
    int in = open(inPath.c_str(), O_RDONLY);
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
      chdir(cwd.c_str()) != 0)
    {
      _exit(127);
    }
    if (childSetup)
    {
      childSetup();
    }
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  if (pid < 0)
  {
    ADD_FAILURE() << "fork failed";
    return result;
  }

  int status = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  for (;;)
  {
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid)
    {
      break;
    }
    if (std::chrono::steady_clock::now() > deadline)
    {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      ADD_FAILURE() << program << " did not finish within " << timeoutSeconds << " s";
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  result.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.Out = ReadText(outPath);
  result.Err = ReadText(errPath);
  return result;
}

ProcessResult RunRepair(const std::vector<std::string>& args, const std::string& cwd,
  const std::string& input, const std::function<void()>& childSetup)
{
  return RunProcess(SURFACE_REPAIR_EXE, args, cwd, input, { "DISPLAY" }, 120, childSetup);
}

std::vector<double> SolveDense(std::vector<std::vector<double>> m, std::vector<double> r)
{
  const size_t n = r.size();
  for (size_t col = 0; col < n; ++col)
  {
    size_t pivot = col;
    for (size_t row = col + 1; row < n; ++row)
    {
      if (std::fabs(m[row][col]) > std::fabs(m[pivot][col]))
      {
        pivot = row;
      }
    }
    std::swap(m[col], m[pivot]);
    std::swap(r[col], r[pivot]);
    for (size_t row = col + 1; row < n; ++row)
    {
      const double f = m[row][col] / m[col][col];
      if (f == 0.0)
      {
        continue;
      }
      for (size_t k = col; k < n; ++k)
      {
        m[row][k] -= f * m[col][k];
      }
      r[row] -= f * r[col];
    }
  }
  std::vector<double> x(n);
  for (size_t i = n; i-- > 0;)
  {
    double s = r[i];
    for (size_t k = i + 1; k < n; ++k)
    {
      s -= m[i][k] * x[k];
    }
    x[i] = s / m[i][i];
  }
  return x;
}

std::vector<std::string> Lines(const std::string& text)
{
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line))
  {
    lines.push_back(line);
  }
  return lines;
}

std::string SampleFile(const std::string& name)
{
  return std::string(SURFACE_REPAIR_SAMPLE_DIR) + "/" + name;
}

} // namespace testsupport
