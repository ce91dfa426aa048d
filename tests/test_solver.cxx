// The spline solver: interpolation against an independent dense solve, the
// envelope layout as the size report shows it, failures, and the accessors.

#include "EnvelopeCholesky.h"
#include "EnvelopeProfile.h"
#include "GetWellOderredList.h"
#include "TestSupport.h"
#include "SplineBasis.h"
#include "vtkSingleMatrixSolver.h"

#include <gtest/gtest.h>

#include <vtkNew.h>
#include <vtkPointLocator.h>
#include <vtkPolyData.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <regex>
#include <sstream>
#include <vector>

using testsupport::Lines;
using testsupport::OutputCapture;

namespace
{
// What one Solve call gave: its return value (0 when it threw), the text it
// threw and what it printed on standard output.
struct SolveOutcome
{
  int Status = 0;
  std::string Thrown;
  std::string Out;
};

SolveOutcome SolveCapturing(vtkSingleMatrixSolver* solver)
{
  SolveOutcome outcome;
  testing::internal::CaptureStdout();
  try
  {
    outcome.Status = solver->Solve();
  }
  catch (const char* message)
  {
    outcome.Thrown = message;
  }
  outcome.Out = testing::internal::GetCapturedStdout();
  return outcome;
}

double Phi(const double* a, const double* b, double radius)
{
  double d2 = 0.0;
  for (int c = 0; c < 3; ++c)
  {
    d2 += (a[c] - b[c]) * (a[c] - b[c]);
  }
  if (!(d2 < radius * radius))
  {
    return 0.0;
  }
  double t = 1.0 - std::sqrt(d2) / radius;
  return t * t;
}

// A spline problem built the way the reader builds it: points, locator,
// ordering, and the right-hand side in ordering position.
struct Problem
{
  vtkNew<vtkPoints> Points;
  vtkNew<vtkPolyData> Data;
  vtkNew<vtkPointLocator> Tree;
  std::vector<int> List;
  std::vector<float> Rhs;    // in ordering position
  std::vector<float> Values; // by point id
  int Max = 0;
  float Radius = 0.0f;

  // Orders the points by neighbourhood and fills the right-hand side.
  void Prepare(float radius)
  {
    this->Radius = radius;
    this->Data->SetPoints(this->Points);
    this->Tree->SetDataSet(this->Data);
    this->Tree->BuildLocator();
    const int n = this->Size();
    int* list = GetWellOderredList(&this->Max, n, radius, this->Points, this->Tree);
    this->List.assign(list, list + n);
    delete[] list;
    this->Rhs.resize(n);
    for (int k = 0; k < n; ++k)
    {
      this->Rhs[k] = -this->Values[this->List[k]];
    }
  }

  int Size() const { return static_cast<int>(this->Points->GetNumberOfPoints()); }

  void Add(double x, double y, double z, float value)
  {
    this->Points->InsertNextPoint(x, y, z);
    this->Values.push_back(value);
  }

  // Runs Solve on a copy of the right-hand side; returns the coefficients
  // and the report lines.
  std::vector<float> Solve(std::vector<std::string>* report = nullptr, int max = -1)
  {
    std::vector<float> b = this->Rhs;
    vtkNew<vtkSingleMatrixSolver> solver;
    solver->SetRadius(this->Radius);
    solver->SetPointArray(this->Points);
    solver->SetList(this->List.data());
    solver->SetMax(max >= 0 ? max : this->Max);
    solver->SetB(b.data());
    const SolveOutcome outcome = SolveCapturing(solver);
    const std::string& thrown = outcome.Thrown;
    const std::string& out = outcome.Out;
    if (thrown.empty())
    {
      EXPECT_EQ(outcome.Status, 1);
    }
    if (report)
    {
      *report = Lines(out);
    }
    float* coeff = solver->GetSplineCoeff();
    if (!thrown.empty() || coeff == nullptr)
    {
      ADD_FAILURE() << "Solve failed: " << thrown << "\n" << out;
      return std::vector<float>(this->Size() + 4, NAN);
    }
    std::vector<float> result(coeff, coeff + this->Size() + 4);
    free(coeff);
    // The array given as B holds the radial coefficients as well.
    for (int i = 0; i < this->Size(); ++i)
    {
      EXPECT_EQ(b[i], result[i]);
    }
    return result;
  }

  // The saddle system [A P^T; P 0] [lambda; c] = [b; 0] in ordering
  // position, solved densely in double.
  std::vector<double> Reference() const
  {
    const int n = this->Size();
    std::vector<std::vector<double>> m(n + 4, std::vector<double>(n + 4, 0.0));
    std::vector<double> r(n + 4, 0.0);
    for (int i = 0; i < n; ++i)
    {
      double pi[3];
      this->Points->GetPoint(this->List[i], pi);
      for (int j = 0; j < n; ++j)
      {
        double pj[3];
        this->Points->GetPoint(this->List[j], pj);
        m[i][j] = Phi(pi, pj, this->Radius);
      }
      const double tail[4] = { 1.0, pi[0], pi[1], pi[2] };
      for (int k = 0; k < 4; ++k)
      {
        m[i][n + k] = tail[k];
        m[n + k][i] = tail[k];
      }
      r[i] = this->Rhs[i];
    }
    return testsupport::SolveDense(m, r);
  }

  // The spline with the given coefficients at point id.
  double Evaluate(const std::vector<float>& coeff, int id) const
  {
    const int n = this->Size();
    double q[3];
    this->Points->GetPoint(id, q);
    double s = coeff[n] + coeff[n + 1] * q[0] + coeff[n + 2] * q[1] + coeff[n + 3] * q[2];
    for (int i = 0; i < n; ++i)
    {
      double p[3];
      this->Points->GetPoint(this->List[i], p);
      s += coeff[i] * Phi(p, q, this->Radius);
    }
    return s;
  }
};

// The frame points of the reader, value 0.
void AddFrame(Problem& problem)
{
  const double c[3] = { -0.1, 0.5, 1.1 };
  for (double z : c)
  {
    problem.Add(-0.1, -0.1, z, 0.0f);
    problem.Add(-0.1, 1.1, z, 0.0f);
    problem.Add(1.1, 1.1, z, 0.0f);
    problem.Add(1.1, -0.1, z, 0.0f);
  }
}

// Stored envelope entries as the assembly should count them: each row from
// its first non-zero column inside the window up to the diagonal.
unsigned long long ReferenceEnvelopeCount(const Problem& problem, int max)
{
  unsigned long long count = 0;
  for (int i = 0; i < problem.Size(); ++i)
  {
    double pi[3];
    problem.Points->GetPoint(problem.List[i], pi);
    for (int j = std::max(0, i - max); j < i; ++j)
    {
      double pj[3];
      problem.Points->GetPoint(problem.List[j], pj);
      if (Phi(pi, pj, problem.Radius) != 0.0)
      {
        count += i - j;
        break;
      }
    }
  }
  return count;
}

// The stored-entry count and the relocations, read back from the report.
void ParseReport(const std::vector<std::string>& report, int n, unsigned long long* nnz,
  int* relocations)
{
  ASSERT_EQ(report.size(), 3u);
  std::smatch match;
  ASSERT_TRUE(std::regex_match(
    report[0], match, std::regex(R"(Constructing time: [0-9.e+-]+ sec\., \(([0-9]+) relocations\)\.)")))
    << report[0];
  *relocations = std::stoi(match[1]);
  ASSERT_TRUE(std::regex_match(report[1], match, std::regex(R"(Size of matrix A is \((\d+)\*\d+\): (\d+) bytes .*)")))
    << report[1];
  ASSERT_EQ(std::stoi(match[1]), n);
  *nnz = std::stoull(match[2]) / 4 - 2 * static_cast<unsigned long long>(n);
  EXPECT_EQ(report[1], EnvelopeSizeLine(n, *nnz));
  EXPECT_TRUE(std::regex_match(report[2], std::regex(R"(Solving time: [0-9.e+-]+ sec\.)")))
    << report[2];
}
} // namespace

TEST(SplineSolver, InterpolatesAndMatchesADenseDoubleSolve)
{
  std::mt19937 random(7);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int trial = 0; trial < 4; ++trial)
  {
    SCOPED_TRACE(trial);
    Problem problem;
    AddFrame(problem);
    const int count = 60 + 60 * trial;
    for (int i = 0; i < count; ++i)
    {
      double x = unit(random);
      double y = unit(random);
      problem.Add(x, y, 0.0, static_cast<float>(0.5 + 0.3 * std::sin(3 * x) * std::cos(2 * y)));
    }
    problem.Prepare(0.25f + 0.05f * trial);
    std::vector<std::string> report;
    std::vector<float> coeff = problem.Solve(&report);
    const int n = problem.Size();

    unsigned long long nnz = 0;
    int relocations = -1;
    ParseReport(report, n, &nnz, &relocations);
    EXPECT_EQ(nnz, ReferenceEnvelopeCount(problem, problem.Max));

    std::vector<double> reference = problem.Reference();
    double largest = 0.0;
    for (double v : reference)
    {
      largest = std::max(largest, std::fabs(v));
    }
    for (int i = 0; i < n + 4; ++i)
    {
      EXPECT_NEAR(coeff[i], reference[i], 2e-3 * largest) << "coefficient " << i;
    }
    // The spline takes the point values at every centre ...
    for (int id = 0; id < n; ++id)
    {
      EXPECT_NEAR(problem.Evaluate(coeff, id), -problem.Values[id], 2e-4) << "point " << id;
    }
    // ... and the radial coefficients are orthogonal to the tail: P lambda = 0.
    double moment[4] = { 0, 0, 0, 0 };
    for (int i = 0; i < n; ++i)
    {
      double p[3];
      problem.Points->GetPoint(problem.List[i], p);
      moment[0] += coeff[i];
      moment[1] += coeff[i] * p[0];
      moment[2] += coeff[i] * p[1];
      moment[3] += coeff[i] * p[2];
    }
    for (double m : moment)
    {
      EXPECT_NEAR(m, 0.0, 1e-3 * largest);
    }
  }
}

TEST(SplineSolver, ReproducesALinearFunctionWithTheTailAlone)
{
  Problem problem;
  std::mt19937 random(11);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  AddFrame(problem);
  // Frame points carry 0 in the program; here every point carries the value
  // of one plane, so the exact spline is the plane itself.
  problem.Values.clear();
  for (int i = 0; i < problem.Size(); ++i)
  {
    double p[3];
    problem.Points->GetPoint(i, p);
    problem.Values.push_back(static_cast<float>(0.2 + 0.5 * p[0] - 0.3 * p[1] + 0.1 * p[2]));
  }
  for (int i = 0; i < 80; ++i)
  {
    double x = unit(random);
    double y = unit(random);
    problem.Add(x, y, 0.0, static_cast<float>(0.2 + 0.5 * x - 0.3 * y));
  }
  problem.Prepare(0.3f);
  std::vector<float> coeff = problem.Solve();
  const int n = problem.Size();
  EXPECT_NEAR(coeff[n], -0.2, 1e-4);
  EXPECT_NEAR(coeff[n + 1], -0.5, 1e-4);
  EXPECT_NEAR(coeff[n + 2], 0.3, 1e-4);
  EXPECT_NEAR(coeff[n + 3], -0.1, 1e-4);
  for (int i = 0; i < n; ++i)
  {
    EXPECT_NEAR(coeff[i], 0.0, 1e-4);
  }
}

TEST(SplineSolver, ZeroRightHandSideGivesZeroCoefficients)
{
  Problem problem;
  AddFrame(problem);
  for (int i = 0; i < 5; ++i)
  {
    for (int j = 0; j < 5; ++j)
    {
      problem.Add(0.2 * i + 0.1, 0.2 * j + 0.1, 0.0, 0.0f);
    }
  }
  problem.Prepare(0.35f);
  for (float c : problem.Solve())
  {
    EXPECT_EQ(c, 0.0f);
  }
}

TEST(SplineSolver, EnvelopeLayoutAsReported)
{
  // No two points within the radius: A is the identity, nothing is stored,
  // and the envelope starts from the fallback capacity without relocations.
  {
    Problem isolated;
    AddFrame(isolated);
    isolated.Add(0.5, 0.5, 0.0, 0.5f);
    isolated.Prepare(0.2f);
    ASSERT_EQ(isolated.Max, 0);
    std::vector<std::string> report;
    std::vector<float> coeff = isolated.Solve(&report);
    unsigned long long nnz = 1;
    int relocations = -1;
    ParseReport(report, 13, &nnz, &relocations);
    EXPECT_EQ(nnz, 0u);
    EXPECT_EQ(relocations, 0);
    EXPECT_NE(report[1].find("): 104 bytes (0 MiB) <= 676 bytes (0 MiB)"), std::string::npos);
  }
  // A chain (each point near its predecessor only): Max = 1, an estimated
  // capacity of 0, so the first stored entry relocates once.
  {
    Problem chain;
    for (int i = 0; i < 20; ++i)
    {
      chain.Add(0.1 * i, 0.05 * (i % 2), 0.05 * ((i / 2) % 2), static_cast<float>(0.01 * i));
    }
    chain.Prepare(0.15f);
    ASSERT_EQ(chain.Max, 1);
    std::vector<std::string> report;
    chain.Solve(&report);
    unsigned long long nnz = 0;
    int relocations = -1;
    ParseReport(report, 20, &nnz, &relocations);
    EXPECT_EQ(nnz, 19u);
    EXPECT_EQ(relocations, 1);
  }
  // A window wider than the neighbourhoods: leading zeros of a row are not
  // stored, zeros between its first non-zero column and the diagonal are.
  {
    Problem line;
    // Points 0..4 nearly on a line with spacing 0.1 (slightly off it, so
    // that the linear tail is determined); radius 0.25 reaches two
    // neighbours on each side.
    for (int i = 0; i < 5; ++i)
    {
      line.Add(0.1 * i, 0.01 * (i % 2), 0.01 * ((i / 2) % 2), 0.1f * i);
    }
    line.Prepare(0.25f);
    line.List = { 0, 1, 2, 3, 4 };
    for (int k = 0; k < 5; ++k)
    {
      line.Rhs[k] = -line.Values[k];
    }
    std::vector<std::string> report;
    line.Solve(&report, 4);
    unsigned long long nnz = 0;
    int relocations = -1;
    ParseReport(report, 5, &nnz, &relocations);
    // Rows: 0 | 1: col 0 | 2: cols 0,1 | 3: cols 1,2 | 4: cols 2,3.
    EXPECT_EQ(nnz, 7u);
    // Points 1 and 3 swap positions.
    line.List = { 0, 3, 2, 1, 4 };
    for (int k = 0; k < 5; ++k)
    {
      line.Rhs[k] = -line.Values[line.List[k]];
    }
    line.Solve(&report, 4);
    ParseReport(report, 5, &nnz, &relocations);
    EXPECT_EQ(nnz, ReferenceEnvelopeCount(line, 4));
    // Row 1 (point 3): point 0 is 0.3 away, a leading zero: empty row.
    // Row 2 (point 2): cols 0..1. Row 3 (point 1): cols 0..2.
    // Row 4 (point 4): point 0 is out of reach, point 3 in reach: cols 1..3,
    // col 3 (point 1, 0.3 away) being an interior zero.
    EXPECT_EQ(nnz, 0u + 2u + 3u + 3u);
  }
  // Distance exactly R is outside the support.
  {
    Problem pair;
    pair.Add(0.0, 0.0, 0.0, 0.0f);
    pair.Add(0.5, 0.0, 0.0, 1.0f);
    pair.Add(0.0, 0.5, 0.0, 0.0f);
    pair.Add(0.0, 0.0, 0.5, 0.0f);
    pair.Add(0.5, 0.5, 0.5, 0.0f);
    pair.Prepare(0.5f);
    std::vector<std::string> report;
    pair.Solve(&report, 4);
    unsigned long long nnz = 1;
    int relocations = -1;
    ParseReport(report, 5, &nnz, &relocations);
    EXPECT_EQ(nnz, 0u);
  }
}

TEST(SplineSolver, SizeLineCountsInSixtyFourBits)
{
  EXPECT_EQ(EnvelopeSizeLine(1000, 306642),
    "Size of matrix A is (1000*1000): 1234568 bytes (1 MiB) <= 4000000 bytes (3 MiB) if stored "
    "as full matrix.");
  EXPECT_EQ(EnvelopeSizeLine(40000, 0),
    "Size of matrix A is (40000*40000): 320000 bytes (0 MiB) <= 6400000000 bytes (6103 MiB) if "
    "stored as full matrix.");
}

TEST(SplineSolver, SingularSystemIsRefused)
{
  // Two coincident centres in the first two positions: two equal rows, and
  // a pivot of exactly zero.
  Problem twins;
  twins.Add(0.5, 0.5, 0.0, 0.3f);
  twins.Add(0.5, 0.5, 0.0, 0.3f);
  twins.Add(0.3, 0.4, 0.0, 0.4f);
  twins.Add(0.7, 0.6, 0.0, 0.1f);
  twins.Add(0.4, 0.8, 0.0, 0.2f);
  twins.Add(0.5, 0.5, 0.5, 0.0f);
  twins.Prepare(0.3f);
  twins.List = { 0, 1, 2, 3, 4, 5 };
  std::vector<float> b = { -0.3f, -0.3f, -0.4f, -0.1f, -0.2f, 0.0f };
  vtkNew<vtkSingleMatrixSolver> solver;
  solver->SetRadius(twins.Radius);
  solver->SetPointArray(twins.Points);
  solver->SetList(twins.List.data());
  solver->SetMax(5);
  solver->SetB(b.data());
  const SolveOutcome outcome = SolveCapturing(solver);
  const std::string& thrown = outcome.Thrown;
  const std::string& out = outcome.Out;
  EXPECT_EQ(thrown,
    "The spline system is not positive definite: check the outside list and the radius");
  EXPECT_NE(out.find("Matrix is not positive  Iflag =1\n"), std::string::npos) << out;
  EXPECT_EQ(out.find("Solving time"), std::string::npos);
  EXPECT_EQ(solver->GetSplineCoeff(), nullptr);
}

TEST(SplineSolver, NonFiniteCoefficientsAreRefused)
{
  Problem problem;
  AddFrame(problem);
  problem.Add(0.5, 0.5, 0.0, std::nanf(""));
  problem.Add(0.6, 0.5, 0.0, 0.4f);
  problem.Prepare(0.3f);
  std::vector<float> b = problem.Rhs;
  vtkNew<vtkSingleMatrixSolver> solver;
  solver->SetRadius(problem.Radius);
  solver->SetPointArray(problem.Points);
  solver->SetList(problem.List.data());
  solver->SetMax(problem.Max);
  solver->SetB(b.data());
  testing::internal::CaptureStdout();
  EXPECT_THROW(solver->Solve(), const char*);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(solver->GetSplineCoeff(), nullptr);
}

TEST(SplineSolverObject, AccessorsModifyOnlyOnChange)
{
  vtkNew<vtkSingleMatrixSolver> solver;
  EXPECT_EQ(solver->GetPointArray(), nullptr);
  EXPECT_EQ(solver->GetSplineCoeff(), nullptr);
  EXPECT_EQ(solver->GetList(), nullptr);
  EXPECT_EQ(solver->GetB(), nullptr);
  EXPECT_EQ(solver->GetRadius(), 0.0f);
  EXPECT_EQ(solver->GetMax(), 0);

  int list[3] = { 0, 1, 2 };
  float b[3] = { 0, 0, 0 };
  solver->SetRadius(0.5f);
  solver->SetMax(3);
  solver->SetList(list);
  solver->SetB(b);
  solver->SetSplineCoeff(b);
  vtkMTimeType stamp = solver->GetMTime();
  solver->SetRadius(0.5f);
  solver->SetMax(3);
  solver->SetList(list);
  solver->SetB(b);
  solver->SetSplineCoeff(b);
  EXPECT_EQ(solver->GetMTime(), stamp);
  solver->SetMax(4);
  EXPECT_GT(solver->GetMTime(), stamp);
  solver->SetSplineCoeff(nullptr);
}

TEST(SplineSolverObject, PointArrayReferenceMovesWithTheSetter)
{
  vtkNew<vtkPoints> first;
  vtkNew<vtkPoints> second;
  {
    vtkNew<vtkSingleMatrixSolver> solver;
    solver->SetPointArray(first);
    EXPECT_EQ(first->GetReferenceCount(), 2);
    vtkMTimeType stamp = solver->GetMTime();
    solver->SetPointArray(first);
    EXPECT_EQ(first->GetReferenceCount(), 2);
    EXPECT_EQ(solver->GetMTime(), stamp);
    solver->SetPointArray(second);
    EXPECT_EQ(first->GetReferenceCount(), 1);
    EXPECT_EQ(second->GetReferenceCount(), 2);
    EXPECT_EQ(solver->GetPointArray(), second.GetPointer());
  }
  // The destructor releases the reference.
  EXPECT_EQ(second->GetReferenceCount(), 1);
}

TEST(SplineSolverObject, IdentityAndTrace)
{
  vtkNew<vtkSingleMatrixSolver> solver;
  EXPECT_STREQ(solver->GetClassName(), "vtkSingleMatrixSolver");
  EXPECT_EQ(solver->IsA("vtkSingleMatrixSolver"), 1);
  EXPECT_EQ(solver->IsA("vtkObject"), 1);
  EXPECT_EQ(solver->IsA("vtkDatReader"), 0);
  EXPECT_EQ(solver->IsA("vtkPoints"), 0);

  OutputCapture capture;
  solver->SetMax(2);
  EXPECT_EQ(capture.Debug(), "");

  std::ostringstream self;
  self << "vtkSingleMatrixSolver (" << static_cast<void*>(solver.GetPointer());
  const std::string who = self.str() + "): " + self.str();
  vtkNew<vtkPoints> points;
  std::ostringstream pointsAddress;
  pointsAddress << static_cast<void*>(points.GetPointer());
  solver->DebugOn();
  int list[1] = { 0 };
  float b[1] = { 0 };
  const std::vector<std::pair<std::function<void()>, std::pair<int, std::string>>> calls = {
    { [&] { solver->SetPointArray(points); }, { 20, "): setting PointArray to " + pointsAddress.str() } },
    { [&] { solver->GetPointArray(); }, { 21, "): returning PointArray address " + pointsAddress.str() } },
    { [&] { solver->SetSplineCoeff(nullptr); }, { 22, "): setting SplineCoeff to 0" } },
    { [&] { solver->GetSplineCoeff(); }, { 23, "): returning SplineCoeff of 0" } },
    { [&] { solver->SetList(list); }, { 24, "): setting List to 0x" } },
    { [&] { solver->GetList(); }, { 25, "): returning List of 0x" } },
    { [&] { solver->SetB(b); }, { 26, "): setting B to 0x" } },
    { [&] { solver->GetB(); }, { 27, "): returning B of 0x" } },
    { [&] { solver->SetRadius(0.125f); }, { 28, "): setting Radius to 0.125\n\n" } },
    { [&] { solver->GetRadius(); }, { 29, "): returning Radius of 0.125\n\n" } },
    { [&] { solver->SetMax(7); }, { 30, "): setting Max to 7\n\n" } },
    { [&] { solver->GetMax(); }, { 31, "): returning Max of 7\n\n" } },
  };
  for (const auto& [call, expect] : calls)
  {
    capture.Clear();
    call();
    const std::string& text = capture.Debug();
    SCOPED_TRACE(text);
    EXPECT_EQ(text.rfind("Debug: In ", 0), 0u);
    EXPECT_NE(text.find("vtkSingleMatrixSolver.h, line " + std::to_string(expect.first) + "\n" +
                who + expect.second),
      std::string::npos);
  }
  solver->DebugOff();
}

// The first columns found through the grid are the ones a scan of each
// row's window from its left end finds: random points in the plane and in a
// volume, coincident points, points off any grid (not numbers, infinite),
// windows narrower than the band, and radii that leave rows empty.
TEST(EnvelopeProfile, FirstColumnsAreThoseOfTheWindowScan)
{
  std::mt19937 random(3);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int trial = 0; trial < 12; ++trial)
  {
    SCOPED_TRACE(testing::Message() << "trial " << trial);
    const int n = 50 + 150 * trial;
    std::vector<float> position(3 * static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
    {
      for (int c = 0; c < 3; ++c)
      {
        position[3 * i + c] = c < 2 || trial % 3 == 2 ? static_cast<float>(unit(random)) : 0.0f;
      }
      if (i % 17 == 5)
      {
        std::copy_n(&position[3 * (i - 1)], 3, &position[3 * i]); // coincident
      }
    }
    if (trial % 4 == 1)
    {
      position[3 * 7] = NAN;
      position[3 * 9 + 1] = INFINITY;
      position[3 * 11 + 2] = -INFINITY;
    }
    const double radius = trial % 4 == 3 ? 1e-4 : 0.05 + 0.02 * trial;
    const double radius2 = radius * radius;
    for (int window : { n, n / 3, 7, 0 })
    {
      const std::vector<int> first = EnvelopeFirstColumns(position, n, window, radius, radius2);
      ASSERT_EQ(static_cast<int>(first.size()), n);
      long long entries = 0;
      for (int i = 0; i < n; ++i)
      {
        int j = std::max(0, i - window);
        while (j < i && SplineBasis(&position[3 * j], &position[3 * i], radius, radius2) == 0.0)
        {
          ++j;
        }
        ASSERT_EQ(first[i], j) << "row " << i << ", window " << window;
        entries += i - j;
      }
      EXPECT_EQ(EnvelopeEntries(first), entries);
    }
  }
}

// An envelope that Xenv's row starts cannot address is refused before the
// envelope is allocated, naming the radius; one entry less is solved. The
// limit is lowered so that the test needs no gigabytes.
TEST(SplineSolver, EnvelopeTooLargeForItsRowStartsIsRefused)
{
  Problem problem;
  AddFrame(problem);
  std::mt19937 random(5);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int i = 0; i < 80; ++i)
  {
    problem.Add(unit(random), unit(random), 0.0, static_cast<float>(unit(random)));
  }
  problem.Prepare(0.3f);
  const long long entries = static_cast<long long>(ReferenceEnvelopeCount(problem, problem.Max));
  ASSERT_GT(entries, 100);

  const long long limit = EnvelopeEntryLimit;
  EXPECT_EQ(limit, 2147483646LL); // the last row start, entries + 1, fits an int
  struct Restore
  {
    long long Limit;
    ~Restore() { EnvelopeEntryLimit = this->Limit; }
  } restore{ limit };

  EnvelopeEntryLimit = entries - 1;
  vtkNew<vtkSingleMatrixSolver> solver;
  std::vector<float> b = problem.Rhs;
  solver->SetRadius(problem.Radius);
  solver->SetPointArray(problem.Points);
  solver->SetList(problem.List.data());
  solver->SetMax(problem.Max);
  solver->SetB(b.data());
  const SolveOutcome outcome = SolveCapturing(solver);
  const std::string& thrown = outcome.Thrown;
  const std::string& out = outcome.Out;
  std::ostringstream expected;
  expected << "The spline system is too large: its envelope would hold " << entries
           << " entries, more than the " << entries - 1
           << " its row starts can address; choose a smaller radius than R = 0.3";
  EXPECT_EQ(thrown, expected.str());
  EXPECT_EQ(out, ""); // refused before the construction line
  EXPECT_EQ(solver->GetSplineCoeff(), nullptr);
  EXPECT_EQ(Env, nullptr);
  EXPECT_EQ(Xenv, nullptr);
  EXPECT_EQ(b, problem.Rhs);

  EnvelopeEntryLimit = entries;
  std::vector<std::string> report;
  const std::vector<float> coeff = problem.Solve(&report);
  unsigned long long nnz = 0;
  int relocations = -1;
  ParseReport(report, problem.Size(), &nnz, &relocations);
  EXPECT_EQ(nnz, static_cast<unsigned long long>(entries));
  EXPECT_EQ(coeff.size(), static_cast<size_t>(problem.Size() + 4));
}

// The rows of the envelope, eight entries at a time where the processor can:
// bit for bit the basis of the scalar code, for rows of every length around
// the block size, points inside, on and beyond the support's edge.
TEST(EnvelopeRows, BasisRowsAreTheScalarBasisBitForBit)
{
  std::mt19937 random(5);
  std::uniform_real_distribution<float> spread(-1.0f, 1.0f);
  const double radius = static_cast<double>(0.7f);
  const double radius2 = radius * radius;
  std::vector<float> positions;
  for (int k = 0; k < 400; ++k)
  {
    positions.push_back(spread(random));
    positions.push_back(spread(random));
    positions.push_back(k % 5 == 0 ? 0.0f : 0.01f * spread(random));
  }
  // Points exactly on the edge (d = R) and just inside it.
  const float pi[3] = { 0.0f, 0.0f, 0.0f };
  positions[3] = static_cast<float>(radius);
  positions[4] = 0.0f;
  positions[5] = 0.0f;
  positions[6] = std::nextafter(static_cast<float>(radius), 0.0f);
  positions[7] = 0.0f;
  positions[8] = 0.0f;
  for (int count : { 0, 1, 7, 8, 9, 15, 16, 17, 63, 399 })
  {
    for (int start : { 0, 1 })
    {
      std::vector<float> row(static_cast<size_t>(count) + 1, -1.0f);
      BasisRow(&positions[3 * static_cast<size_t>(start)], pi, count, radius, radius2, row.data());
      for (int k = 0; k < count; ++k)
      {
        const float expected = static_cast<float>(
          SplineBasis(&positions[3 * static_cast<size_t>(start + k)], pi, radius, radius2));
        ASSERT_EQ(0, memcmp(&row[k], &expected, sizeof(float)))
          << "count " << count << ", entry " << k << ": " << row[k] << " instead of " << expected;
      }
      EXPECT_EQ(row[static_cast<size_t>(count)], -1.0f) << "written past the row";
    }
  }
}
