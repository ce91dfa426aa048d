#include "StagePipeline.h"
#include "ThreadClock.h"

#include "EnvelopeCholesky.h"
#include "GetWellOderredList.h"
#include "PointIdFile.h"
#include "ResultFile.h"
#include "vtkDatReader.h"
#include "EnvelopeProfile.h"
#include "NeighbourSearch.h"
#include "NormalisedFrame.h"
#include "vtkShapeTransform.h"
#include "vtkSingleMatrixSolver.h"

#include <vtkIdList.h>
#include <vtkNew.h>
#include <vtkPointLocator.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkSmartPointer.h>
#include <vtkTransformPolyDataFilter.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <malloc.h>
#include <new>
#include <sstream>
#include <unistd.h>

namespace
{
using Clock = ThreadClock;

double Since(Clock::time_point start)
{
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Sends standard output (the report lines of the objects) to a file while it
// lives, so that the benchmark's own tables stay readable.
class StdoutCapture
{
public:
  explicit StdoutCapture(const std::string& path)
    : Path(path)
  {
    std::cout.flush();
    fflush(stdout);
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0)
    {
      this->Saved = dup(STDOUT_FILENO);
      dup2(fd, STDOUT_FILENO);
      close(fd);
    }
  }
  ~StdoutCapture() { this->Finish(); }

  /// Restores standard output and returns what was written meanwhile.
  std::string Finish()
  {
    if (this->Saved < 0)
    {
      return std::string();
    }
    std::cout.flush();
    fflush(stdout);
    dup2(this->Saved, STDOUT_FILENO);
    close(this->Saved);
    this->Saved = -1;
    std::ifstream in(this->Path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

private:
  std::string Path;
  int Saved = -1;
};

// The envelope of the solver, rebuilt from the reader's ordering: rows over
// the window of Max columns left of the diagonal, leading zeros skipped.
// Returns the seconds of the row loop, the part the solver reports as its
// construction time.
double AssembleEnvelope(vtkPoints* points, const int* list, int max, float radiusF,
  EnvelopeSystem& system)
{
  const int n = static_cast<int>(points->GetNumberOfPoints());
  const double radius = radiusF;
  const double radius2 = radius * radius;
  system.Order = n;
  system.Max = max;
  std::vector<float> position(3 * static_cast<size_t>(n));
  for (int i = 0; i < n; ++i)
  {
    double p[3];
    points->GetPoint(list[i], p);
    for (int c = 0; c < 3; ++c)
    {
      position[3 * static_cast<size_t>(i) + c] = static_cast<float>(p[c]);
    }
  }
  for (int k = 0; k < 4; ++k)
  {
    system.Tail[k].resize(n);
  }
  for (int i = 0; i < n; ++i)
  {
    system.Tail[0][i] = 1.0f;
    system.Tail[1][i] = position[3 * static_cast<size_t>(i)];
    system.Tail[2][i] = position[3 * static_cast<size_t>(i) + 1];
    system.Tail[3][i] = position[3 * static_cast<size_t>(i) + 2];
  }
  system.Diag.assign(n, 1.0f);
  system.Xenv.resize(static_cast<size_t>(n) + 1);
  // Storage as the solver manages it: a C array of two thirds of the band,
  // grown by 5 n entries with realloc (which can remap instead of copying).
  const size_t growth = 5 * static_cast<size_t>(n);
  size_t capacity = std::max<size_t>(
    1, static_cast<size_t>(std::max(0.0, n * (max - 1) * (2.0 / 3.0))));
  float* env = static_cast<float*>(malloc(sizeof(float) * capacity));
  size_t stored = 0;
  system.Xenv[0] = 1;
  const Clock::time_point start = Clock::now();
  const std::vector<int> first = EnvelopeFirstColumns(position, n, max, radius, radius2);
  for (int i = 0; i < n && env; ++i)
  {
    const float* pi = &position[3 * static_cast<size_t>(i)];
    const int column = first[static_cast<size_t>(i)];
    const size_t length = static_cast<size_t>(std::max(i - column, 0));
    while (stored + length > capacity)
    {
      capacity += growth;
      float* grown = static_cast<float*>(realloc(env, sizeof(float) * capacity));
      if (!grown)
      {
        free(env);
        throw std::bad_alloc();
      }
      env = grown;
    }
    BasisRow(&position[3 * static_cast<size_t>(column)], pi, static_cast<int>(length), radius,
      radius2, env + stored);
    stored += length;
    system.Xenv[i + 1] = static_cast<int>(stored + 1);
  }
  const double seconds = Since(start);
  if (!env)
  {
    throw std::bad_alloc();
  }
  system.Env.assign(env, env + stored);
  free(env);
  return seconds;
}

// The vertex-centre pairs the transform evaluates: for each inside vertex of
// the model, the centres within R of its place in the normalised frame.
long long CountTransformPairs(
  vtkPoints* model, vtkIdList* inside, vtkPoints* centres, vtkPointLocator* tree, float radius)
{
  double bounds[6];
  model->GetBounds(bounds);
  const float lo[2] = { static_cast<float>(bounds[0]), static_cast<float>(bounds[2]) };
  const float hi[2] = { static_cast<float>(bounds[1]), static_cast<float>(bounds[3]) };
  NeighbourSearch search(tree, centres, radius);
  std::vector<char> seen(static_cast<size_t>(model->GetNumberOfPoints()), 0);
  std::vector<int> near;
  long long pairs = 0;
  for (vtkIdType k = 0; k < inside->GetNumberOfIds(); ++k)
  {
    const vtkIdType id = inside->GetId(k);
    if (id < 0 || id >= model->GetNumberOfPoints() || seen[static_cast<size_t>(id)])
    {
      continue;
    }
    seen[static_cast<size_t>(id)] = 1;
    double p[3];
    model->GetPoint(id, p);
    const double q[3] = { Normalised(static_cast<float>(p[0]), lo[0], hi[0]),
      Normalised(static_cast<float>(p[1]), lo[1], hi[1]), 0.0 };
    search.FindPointsWithinRadius(q, near);
    pairs += static_cast<long long>(near.size());
  }
  return pairs;
}
} // namespace

//------------------------------------------------------------------------------
void StageTimes::KeepFaster(const StageTimes& o)
{
  this->Read = std::min(this->Read, o.Read);
  this->Tree = std::min(this->Tree, o.Tree);
  this->Order = std::min(this->Order, o.Order);
  this->Solve = std::min(this->Solve, o.Solve);
  this->InsideList = std::min(this->InsideList, o.InsideList);
  this->Transform = std::min(this->Transform, o.Transform);
  this->Write = std::min(this->Write, o.Write);
}

//------------------------------------------------------------------------------
long long EnvelopeSystem::Nonzeros() const
{
  return static_cast<long long>(
    this->Env.size() - std::count(this->Env.begin(), this->Env.end(), 0.0f));
}

double EnvelopeSystem::Flops() const
{
  double flops = 0.0;
  for (int i = 0; i < this->Order; ++i)
  {
    const double len = this->Xenv[i + 1] - this->Xenv[i];
    flops += len * len;
  }
  return flops;
}

//------------------------------------------------------------------------------
RunOutcome RunStages(const std::string& model, const std::string& inside,
  const std::string& outside, float radius, const std::string& resultPath,
  const std::string& scratch, EnvelopeSystem* system)
{
  RunOutcome outcome;
  StageTimes& times = outcome.Times;
  StdoutCapture capture(scratch);

  // The reader borrows the names.
  std::string modelName = model;
  std::string outsideName = outside;
  auto reader = vtkSmartPointer<vtkDatReader>::Take(vtkDatReader::New());
  reader->ModelName = &modelName[0];
  reader->OutsideName = &outsideName[0];
  reader->SetRadius(radius);
  Clock::time_point start = Clock::now();
  const int status = reader->ReadData();
  const double readData = Since(start);
  if (status != 0)
  {
    outcome.Failure = "ReadData failed";
    outcome.Output = capture.Finish();
    return outcome;
  }
  vtkPoints* points = reader->GetPointArray();
  const int n = static_cast<int>(points->GetNumberOfPoints());

  // ReadData builds the locator and orders the points inside one call: both
  // are repeated here on the same points, with the same calls, to time them
  // apart from the file reading.
  {
    vtkNew<vtkPolyData> carrier;
    carrier->SetPoints(points);
    vtkNew<vtkPointLocator> locator;
    locator->Initialize();
    locator->SetDataSet(carrier);
    start = Clock::now();
    locator->BuildLocator();
    times.Tree = Since(start);

    int max = 0;
    start = Clock::now();
    int* list = GetWellOderredList(&max, n, radius, points, locator);
    int* unList = new int[n];
    for (int k = 0; k < n; ++k)
    {
      unList[list[k]] = k;
    }
    times.Order = Since(start);
    outcome.OrderingRepeats =
      max == reader->GetMax() && std::equal(list, list + n, reader->GetList());
    delete[] list;
    delete[] unList;
  }
  times.Read = std::max(0.0, readData - times.Tree - times.Order);

  if (system)
  {
    system->Rhs.assign(reader->GetB(), reader->GetB() + n);
    AssembleEnvelope(points, reader->GetList(), reader->GetMax(), radius, *system);
  }

  auto solver = vtkSmartPointer<vtkSingleMatrixSolver>::Take(vtkSingleMatrixSolver::New());
  solver->SetRadius(radius);
  solver->SetPointArray(points);
  solver->SetList(reader->GetList());
  solver->SetMax(reader->GetMax());
  solver->SetB(reader->GetB());
  start = Clock::now();
  try
  {
    solver->Solve();
    outcome.Solved = true;
  }
  catch (const char* message)
  {
    outcome.Failure = message;
  }
  times.Solve = Since(start);
  if (!outcome.Solved)
  {
    outcome.Output = capture.Finish();
    return outcome;
  }
  float* coefficients = solver->GetSplineCoeff();

  {
    start = Clock::now();
    vtkNew<vtkIdList> insideList;
    std::vector<PointIdEntry> ids;
    if (!ReadPointIdFile(inside.c_str(), ids))
    {
      outcome.Failure = "cannot read the inside list";
    }
    for (const PointIdEntry& entry : ids)
    {
      insideList->InsertNextId(entry.Id);
    }
    times.InsideList = Since(start);

    vtkNew<vtkShapeTransform> transform;
    transform->SetParameters(
      radius, points, coefficients, insideList, reader->GetUnList(), reader->GetTree());

    // The transform runs on the model the reader has read, as the driver does.
    start = Clock::now();
    vtkNew<vtkTransformPolyDataFilter> filter;
    filter->SetTransform(transform);
    filter->SetInputData(reader->GetModel());
    filter->Update();
    times.Transform = Since(start);
    outcome.TransformPairs = CountTransformPairs(reader->GetModel()->GetPoints(), insideList,
      points, reader->GetTree(), radius);

    start = Clock::now();
    if (!WriteResultFile(filter->GetOutput(), resultPath.c_str()))
    {
      outcome.Failure = "cannot write the result";
    }
    times.Write = Since(start);
  }
  free(coefficients);

  // The assembly is timed on its own, last, from a heap handed back to the
  // system, so that every envelope fills fresh pages, as the solver's own
  // does once it outgrows the memory the reading freed (otherwise the
  // envelopes small enough for that memory look cheaper per entry), while
  // the stages before it keep the memory they reuse.
  if (system)
  {
    malloc_trim(0);
    EnvelopeSystem timed;
    outcome.AssemblySeconds =
      AssembleEnvelope(points, reader->GetList(), reader->GetMax(), radius, timed);
  }
  outcome.Output = capture.Finish();
  return outcome;
}

//------------------------------------------------------------------------------
FactorOutcome FactorEnvelope(const EnvelopeSystem& system)
{
  FactorOutcome outcome;
  const int n = system.Order;
  std::vector<float> env = system.Env;
  std::vector<float> diag = system.Diag;
  if (env.empty())
  {
    env.push_back(0.0f); // a valid pointer for a diagonal matrix
  }
  int flag = 0;
  Clock::time_point start = Clock::now();
  factor_envelope(n, system.Xenv.data(), env.data(), diag.data(), &flag);
  outcome.Factor = Since(start);
  outcome.Positive = flag == 0;

  // The five solves of Solve(), the four polynomial columns and b, in one
  // pass as Solve() does them.
  std::vector<float> rhs[5] = { system.Tail[0], system.Tail[1], system.Tail[2], system.Tail[3],
    system.Rhs };
  float* columns[5] = { rhs[0].data(), rhs[1].data(), rhs[2].data(), rhs[3].data(),
    rhs[4].data() };
  start = Clock::now();
  solve_envelope_columns(n, system.Xenv.data(), env.data(), diag.data(), 5, columns);
  outcome.Substitute = Since(start);
  outcome.Solution = rhs[4];
  return outcome;
}
