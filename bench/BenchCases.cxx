#include "BenchCases.h"

#include <vtkCellArray.h>
#include <vtkNew.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkPolyDataWriter.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <fstream>
#include <stdexcept>
#include <sys/stat.h>

namespace
{
const double Pi = 3.14159265358979323846;

// Jitter of x and y: up to 2% of the grid spacing either way, enough that no
// two rows or columns are exactly regular.
const double JitterAmplitude = 0.02;

std::uint64_t Mix(std::uint64_t x)
{
  // splitmix64 finaliser: a fixed, well-spread hash of the vertex id.
  x += 0x9E3779B97F4A7C15ULL;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

// A value in [-1, 1) drawn from the hash of (id, salt).
double Noise(std::uint64_t id, std::uint64_t salt)
{
  const std::uint64_t h = Mix(id * 2 + salt);
  return static_cast<double>(h >> 11) * (2.0 / 9007199254740992.0) - 1.0;
}

// The terrain: a few smooth waves over the unit square, heights 15 .. 65.
double Terrain(double u, double v)
{
  return 40.0 + 15.0 * std::sin(2 * Pi * (1.3 * u + 0.2)) * std::cos(2 * Pi * 0.9 * v) +
    6.0 * std::sin(2 * Pi * (3.1 * u + 2.3 * v)) +
    2.5 * std::cos(2 * Pi * (7.0 * u - 5.5 * v + 0.3));
}

bool FileExists(const std::string& path)
{
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

long long FileSize(const std::string& path)
{
  struct stat info;
  return stat(path.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : 0;
}

// The model as VTK legacy ASCII polydata: vertex (i, j) at (i, j) in grid units
// plus jitter, every cell split into two triangles.
void WriteModel(const std::string& path, int nx, int ny)
{
  vtkNew<vtkPoints> points;
  points->SetDataTypeToFloat();
  points->SetNumberOfPoints(static_cast<vtkIdType>(nx) * ny);
  for (int j = 0; j < ny; ++j)
  {
    for (int i = 0; i < nx; ++i)
    {
      const vtkIdType id = static_cast<vtkIdType>(j) * nx + i;
      const double x = i + JitterAmplitude * Noise(id, 0);
      const double y = j + JitterAmplitude * Noise(id, 1);
      points->SetPoint(id, x, y, Terrain(x / (nx - 1), y / (ny - 1)));
    }
  }
  vtkNew<vtkCellArray> triangles;
  triangles->AllocateExact(2 * static_cast<vtkIdType>(nx - 1) * (ny - 1),
    6 * static_cast<vtkIdType>(nx - 1) * (ny - 1));
  for (int j = 0; j + 1 < ny; ++j)
  {
    for (int i = 0; i + 1 < nx; ++i)
    {
      const vtkIdType a = static_cast<vtkIdType>(j) * nx + i;
      const vtkIdType lower[3] = { a, a + 1, a + nx + 1 };
      const vtkIdType upper[3] = { a, a + nx + 1, a + nx };
      triangles->InsertNextCell(3, lower);
      triangles->InsertNextCell(3, upper);
    }
  }
  vtkNew<vtkPolyData> model;
  model->SetPoints(points);
  model->SetPolys(triangles);

  vtkNew<vtkPolyDataWriter> writer;
  writer->SetInputData(model);
  writer->SetFileName(path.c_str());
  writer->SetFileVersion(vtkDataWriter::VTK_LEGACY_READER_VERSION_4_2);
  writer->SetHeader("generated height field");
  if (writer->Write() != 1)
  {
    throw std::runtime_error("cannot write " + path);
  }
}

void WriteIds(const std::string& path, std::vector<int> ids)
{
  std::sort(ids.begin(), ids.end());
  std::ofstream out(path);
  for (int id : ids)
  {
    out << id << '\n';
  }
  if (!out)
  {
    throw std::runtime_error("cannot write " + path);
  }
}

// Vertex ids by distance from the centre of the grid, nearest first; ties go
// to the lower id. Integer distances keep the order independent of rounding.
std::vector<int> IdsByDistance(int nx, int ny)
{
  std::vector<std::pair<long long, int>> keyed;
  keyed.reserve(static_cast<size_t>(nx) * ny);
  for (int j = 0; j < ny; ++j)
  {
    for (int i = 0; i < nx; ++i)
    {
      const long long dx = 2LL * i - (nx - 1);
      const long long dy = 2LL * j - (ny - 1);
      keyed.emplace_back(dx * dx + dy * dy, j * nx + i);
    }
  }
  std::sort(keyed.begin(), keyed.end());
  std::vector<int> ids(keyed.size());
  for (size_t k = 0; k < keyed.size(); ++k)
  {
    ids[k] = keyed[k].second;
  }
  return ids;
}

// Every stride-th id of a grid nx wide is the lattice of (i, j) with
// i + j * nx = 0 (mod stride). Its shortest vector, for nx = residue (mod stride).
double ShortestLatticeVector(int stride, int residue)
{
  double best = stride;
  for (int j = 1; j < stride; ++j)
  {
    int i = static_cast<int>((-static_cast<long long>(j) * residue) % stride);
    if (i < 0)
    {
      i += stride;
    }
    if (i > stride / 2)
    {
      i -= stride;
    }
    best = std::min(best, std::hypot(static_cast<double>(i), static_cast<double>(j)));
  }
  return best;
}

// A near-square grid of about size vertices whose width makes every
// stride-th vertex an evenly spread lattice (for stride 25: a square lattice
// of spacing 5) rather than a set of columns.
BenchCase GridCase(const std::string& family, long long size, int stride, int neighbours)
{
  int bestResidue = 1;
  double bestLength = 0.0;
  for (int residue = 1; residue < stride; ++residue)
  {
    const double length = ShortestLatticeVector(stride, residue);
    if (length > bestLength + 1e-9)
    {
      bestLength = length;
      bestResidue = residue;
    }
  }
  int nx = static_cast<int>(std::lround(std::sqrt(static_cast<double>(size))));
  nx += ((bestResidue - nx) % stride + stride) % stride;
  BenchCase c;
  c.Family = family;
  c.Nx = nx;
  c.Ny = static_cast<int>(std::lround(static_cast<double>(size) / nx));
  c.Stride = stride;
  c.Inside = static_cast<int>(size / 20);
  c.Neighbours = neighbours;
  return c;
}

BenchCase RingCase(const std::string& family, long long size, int inside, int ring, int neighbours)
{
  BenchCase c;
  c.Family = family;
  c.Nx = static_cast<int>(std::lround(std::sqrt(static_cast<double>(size))));
  c.Ny = static_cast<int>(std::lround(static_cast<double>(size) / c.Nx));
  c.Inside = inside;
  c.Ring = ring;
  c.Neighbours = neighbours;
  return c;
}

// A hole of h cells radius on a model that grows with it (372 x 372 vertices
// for h = 25), a ring of the given width around it and R of reach cells.
BenchCase HoleCase(const std::string& family, int h, double width, double reach)
{
  BenchCase c;
  c.Family = family;
  c.Nx = static_cast<int>(std::lround(372.0 * (h < 40 ? h : 25) / 25.0));
  c.Ny = c.Nx;
  c.Inside = static_cast<int>(std::lround(Pi * h * h));
  const double outer = h + width;
  c.Ring = static_cast<int>(std::lround(Pi * outer * outer)) - c.Inside;
  c.Neighbours = static_cast<int>(std::lround(Pi * reach * reach));
  return c;
}

std::string SizeTag(long long n)
{
  if (n >= 1000000 && n % 1000000 == 0)
  {
    return std::to_string(n / 1000000) + "M";
  }
  if (n >= 1000)
  {
    return std::to_string((n + 500) / 1000) + "k";
  }
  return std::to_string(n);
}
} // namespace

double BenchCase::Radius() const
{
  if (!this->ModelFile.empty())
  {
    return this->GivenRadius;
  }
  double density = static_cast<double>(this->Nx - 1) * (this->Ny - 1);
  if (this->Stride > 0)
  {
    density /= this->Stride;
  }
  return std::sqrt(this->Neighbours / (Pi * density));
}

std::vector<BenchCase> MakeCases(bool full)
{
  std::vector<BenchCase> cases;

  // Rings around a hole, the common repair: model size, inside count, ring
  // count. The ring widens slowly with the hole.
  struct RingSize
  {
    long long Model;
    int Inside;
    int Ring;
  };
  std::vector<RingSize> rings = { { 10000, 1000, 1000 }, { 30000, 3000, 2000 },
    { 100000, 10000, 4000 } };
  if (full)
  {
    rings.push_back({ 300000, 30000, 8000 });
    rings.push_back({ 1000000, 100000, 20000 });
  }
  for (int neighbours : { 30, 80, 200 })
  {
    const std::string family = "ring" + std::to_string(neighbours);
    for (const RingSize& r : rings)
    {
      BenchCase c = RingCase(family, r.Model, r.Inside, r.Ring, neighbours);
      c.Name = family + "-" + SizeTag(r.Model);
      cases.push_back(c);
    }
  }

  // Every 25th vertex of the whole model: constraints fill the square, the
  // hard case for an envelope.
  std::vector<long long> grids = { 25000, 50000, 100000 };
  if (full)
  {
    grids = { 25000, 100000, 250000, 500000, 1000000 };
  }
  for (long long size : grids)
  {
    BenchCase c = GridCase("grid80", size, 25, 80);
    c.Name = "grid80-" + SizeTag(size);
    cases.push_back(c);
  }

  // Large holes, near-dense systems: a hole of h cells radius, a ring 0.6 h
  // wide and R = 1.336 h cells, so that a centre has 1,000 to 3,000 others
  // within R. The model grows with the hole; hole25 is the 138,632-vertex
  // terrain with a 25-cell hole (n = 3,036, R = 0.09).
  std::vector<int> holes = { 15, 20, 25 };
  if (full)
  {
    holes.push_back(30);
    holes.push_back(35);
  }
  for (int h : holes)
  {
    BenchCase c = HoleCase("hole", h, 0.6 * h, 1.336 * h);
    c.Name = "hole" + std::to_string(h);
    if (h == 25)
    {
      c.Target4 = true;
      c.ComputeLimit = 0.10;
      c.WholeLimit = 0.22;
    }
    cases.push_back(c);
  }
  // A 40-cell hole on the same terrain with a ring 8 cells wide, every
  // centre within R = 0.25 of every other (n = 2,152).
  BenchCase wide = HoleCase("hole40", 40, 7.8, 0.25 * 371);
  wide.Name = "hole40-138k";
  wide.Target4 = true;
  wide.ComputeLimit = 0.15;
  cases.push_back(wide);

  // The whole-program case: a 138,000-vertex model, a 3,000-point ring,
  // 2,000 inside vertices.
  BenchCase t = RingCase("138k", 138000, 2000, 3000, 80);
  t.Name = "ring80-138k";
  t.Target4 = true;
  t.ComputeLimit = 0.15;
  t.WholeLimit = 1.0;
  cases.push_back(t);
  return cases;
}

namespace
{
// Vertex count from the POINTS line of a legacy VTK header; 0 when missing.
long long HeaderVertices(const std::string& path)
{
  std::ifstream in(path, std::ios::binary);
  std::string line;
  for (int k = 0; k < 64 && std::getline(in, line); ++k)
  {
    if (line.compare(0, 7, "POINTS ") == 0)
    {
      return atoll(line.c_str() + 7);
    }
  }
  return 0;
}

// Lines of a list file that hold something.
int CountEntries(const std::string& path)
{
  std::ifstream in(path);
  std::string line;
  int count = 0;
  while (std::getline(in, line))
  {
    count += line.find_first_not_of(" \t\r") != std::string::npos;
  }
  return count;
}
} // namespace

BenchCase UserCase(
  const std::string& model, const std::string& inside, const std::string& outside, double radius)
{
  for (const std::string& path : { model, inside, outside })
  {
    if (!FileExists(path))
    {
      throw std::runtime_error("cannot open " + path);
    }
  }
  BenchCase c;
  c.Name = "case";
  c.Family = "case";
  c.ModelFile = model;
  c.InsideFile = inside;
  c.OutsideFile = outside;
  c.GivenRadius = radius;
  c.GivenVertices = HeaderVertices(model);
  return c;
}

CaseFiles PrepareCase(const BenchCase& c, const std::string& dir)
{
  CaseFiles files;
  if (!c.ModelFile.empty())
  {
    files.Model = c.ModelFile;
    files.Inside = c.InsideFile;
    files.Outside = c.OutsideFile;
    files.ModelBytes = FileSize(files.Model);
    files.InsideCount = CountEntries(files.Inside);
    files.OutsideCount = CountEntries(files.Outside);
    return files;
  }
  const std::string grid = std::to_string(c.Nx) + "x" + std::to_string(c.Ny);
  files.Model = dir + "/model_" + grid + ".vtk";
  if (!FileExists(files.Model))
  {
    WriteModel(files.Model, c.Nx, c.Ny);
  }
  files.ModelBytes = FileSize(files.Model);

  const int size = c.Nx * c.Ny;
  const std::vector<int> byDistance = IdsByDistance(c.Nx, c.Ny);
  std::vector<int> inside;
  std::vector<int> outside;
  if (c.Stride > 0)
  {
    for (int id = 0; id < size; id += c.Stride)
    {
      outside.push_back(id);
    }
    for (int id : byDistance)
    {
      if (static_cast<int>(inside.size()) >= c.Inside)
      {
        break;
      }
      if (id % c.Stride != 0)
      {
        inside.push_back(id);
      }
    }
  }
  else
  {
    if (c.Inside + c.Ring > size)
    {
      throw std::runtime_error("case " + c.Name + " does not fit its model");
    }
    inside.assign(byDistance.begin(), byDistance.begin() + c.Inside);
    outside.assign(byDistance.begin() + c.Inside, byDistance.begin() + c.Inside + c.Ring);
  }
  files.Inside = dir + "/" + c.Name + "_inside.pts";
  files.Outside = dir + "/" + c.Name + "_outside.pts";
  WriteIds(files.Inside, inside);
  WriteIds(files.Outside, outside);
  files.InsideCount = static_cast<int>(inside.size());
  files.OutsideCount = static_cast<int>(outside.size());
  return files;
}
