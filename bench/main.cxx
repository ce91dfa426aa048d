// surface_repair_bench: times every stage of a surface repair on generated
// height fields of growing size, fits the growth of each stage, and compares
// the envelope factorisation with Eigen's SimplicialLLT and CHOLMOD's
// supernodal Cholesky on the same matrix.
//
//   surface_repair_bench [--full] [--reps K] [--workdir DIR] [--keep]
//                        [--no-peers] [--no-program] [--verbose]
//                        [--only NAME] [--case MODEL INSIDE OUTSIDE R] [--wall]
//
// Single thread throughout: the process restarts itself with
// OPENBLAS_NUM_THREADS=1 and OMP_NUM_THREADS=1 when they are not set, since
// OpenBLAS and OpenMP read them when they are loaded, before main().

#include "BenchCases.h"
#include "Console.h"
#include "FmaPeak.h"
#include "PeerSolvers.h"
#include "Report.h"
#include "StagePipeline.h"
#include "ThreadClock.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <iostream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace
{
using Clock = std::chrono::steady_clock;

struct Options
{
  bool Full = false;
  int Repetitions = 3; // at most, for the stages of a case that runs in under a second
  std::string WorkDir;
  bool Keep = false;
  bool Peers = true;
  bool Program = true;
  bool Verbose = false;
  std::string Only;               // run only the cases whose name starts with this
  std::vector<std::string> Case;  // model, inside list, outside list, R
};

struct CaseResult
{
  BenchCase Case;
  CaseFiles Files;
  RunOutcome Run;         // stage times: the best of the repetitions
  int Order = 0;          // n: spline points, the 12 frame points included
  int Band = 0;
  long long Stored = 0;   // envelope entries
  long long Nonzeros = 0; // strictly lower nonzeros
  double Flops = 0;
  double Assembly = 0;
  FactorOutcome Envelope; // best factor and substitution times
  double EnvelopeResidual = NAN;
  PeerOutcome Eigen;
  PeerOutcome Cholmod;
  long long Moved = -1;
  long long SolverStored = -1; // envelope entries by the solver's own report
  long long TransformPairs = 0;

  // Pairs the ordering's searches return: every point with itself and with
  // each neighbour (an upper bound: the ordering stops once all are placed).
  long long OrderPairs() const { return this->Order + 2 * this->Nonzeros; }
  // Solving time: the factorisation and the five substitutions.
  double Solving() const { return this->Envelope.Factor + this->Envelope.Substitute; }
  double N() const { return static_cast<double>(this->Case.ModelSize()); }
  double MeanRow() const { return this->Order > 0 ? double(this->Stored) / this->Order : 0; }

  double MeanNeighbours() const { return this->Order > 0 ? 2.0 * this->Nonzeros / this->Order : 0; }
};

void Usage()
{
  std::cerr << "usage: surface_repair_bench [--full] [--reps K] [--workdir DIR] [--keep]\n"
               "                            [--no-peers] [--no-program] [--verbose]\n"
               "                            [--only NAME] [--case MODEL INSIDE OUTSIDE R] [--wall]\n"
               "  --full        all sizes: models up to 10^6 vertices, rings up to 20,000\n"
               "                points, every 25th vertex up to n = 40,000 (minutes)\n"
               "  --reps K      repeat fast cases up to K times, keep the best (default 3)\n"
               "  --workdir DIR generated files go here and stay (models are reused)\n"
               "  --keep        keep the temporary directory\n"
               "  --no-peers    skip Eigen and CHOLMOD\n"
               "  --no-program  skip the whole-program run of surface_repair\n"
               "  --verbose     echo what the stages print\n"
               "  --only NAME   only the generated cases whose name starts with NAME\n"
               "  --wall        stage times in wall time instead of the thread's processor\n"
               "                time\n"
               "  --case MODEL INSIDE OUTSIDE R\n"
               "                your own model, lists and radius instead of the generated\n"
               "                cases: stage and peer tables, and the whole program\n";
}

Options ParseOptions(int argc, char* argv[])
{
  Options options;
  for (int k = 1; k < argc; ++k)
  {
    const std::string arg = argv[k];
    if (arg == "--full")
    {
      options.Full = true;
    }
    else if (arg == "--reps" && k + 1 < argc)
    {
      options.Repetitions = std::max(1, atoi(argv[++k]));
    }
    else if (arg == "--workdir" && k + 1 < argc)
    {
      options.WorkDir = argv[++k];
    }
    else if (arg == "--keep")
    {
      options.Keep = true;
    }
    else if (arg == "--no-peers")
    {
      options.Peers = false;
    }
    else if (arg == "--no-program")
    {
      options.Program = false;
    }
    else if (arg == "--verbose")
    {
      options.Verbose = true;
    }
    else if (arg == "--wall")
    {
      ThreadClock::Wall = true;
    }
    else if (arg == "--only" && k + 1 < argc)
    {
      options.Only = argv[++k];
    }
    else if (arg == "--case" && k + 4 < argc)
    {
      options.Case.assign(argv + k + 1, argv + k + 5);
      k += 4;
    }
    else
    {
      Usage();
      exit(arg == "--help" || arg == "-h" ? 0 : 2);
    }
  }
  return options;
}

// OpenBLAS and libgomp take their thread counts from the environment when
// they are loaded, which is before main(): set them and start again.
void RestartSingleThreaded(char* argv[])
{
  const char* blas = getenv("OPENBLAS_NUM_THREADS");
  const char* omp = getenv("OMP_NUM_THREADS");
  if (blas && strcmp(blas, "1") == 0 && omp && strcmp(omp, "1") == 0)
  {
    return;
  }
  setenv("OPENBLAS_NUM_THREADS", "1", 1);
  setenv("OMP_NUM_THREADS", "1", 1);
  execv("/proc/self/exe", argv);
  // Could not restart: go on, and DescribeBlas() shows the thread count.
}

double Norm(const std::vector<double>& v)
{
  double s = 0;
  for (double x : v)
  {
    s += x * x;
  }
  return std::sqrt(s);
}

// Repeats cheap work (a run under a second) to take the best time.
int RepetitionsFor(double seconds, int most)
{
  return seconds < 1.0 ? most : 1;
}

// Envelope entries of the solver's size line, "Size of matrix A is (n*n): B bytes":
// B = 4 (entries + 2 n).
long long ParseStored(const std::string& output, int n)
{
  const std::string key = "): ";
  const size_t line = output.find("Size of matrix A is (");
  const size_t at = line == std::string::npos ? line : output.find(key, line);
  return at == std::string::npos ? -1 : atoll(output.c_str() + at + key.size()) / 4 - 2LL * n;
}

long long ParseMoved(const std::string& output)
{
  const std::string key = "Affected points: ";
  const size_t at = output.rfind(key);
  return at == std::string::npos ? -1 : atoll(output.c_str() + at + key.size());
}

CaseResult RunCase(const BenchCase& c, const std::string& dir, const Options& options)
{
  CaseResult result;
  result.Case = c;
  std::cerr << "  " << c.Name << ": files" << std::flush;
  result.Files = PrepareCase(c, dir);
  const float radius = static_cast<float>(c.Radius());
  const std::string resultPath = dir + "/" + c.Name + "_result.vtk";
  const std::string scratch = dir + "/stdout.txt";

  std::cerr << ", stages" << std::flush;
  EnvelopeSystem system;
  result.Run = RunStages(result.Files.Model, result.Files.Inside, result.Files.Outside, radius,
    resultPath, scratch, &system);
  if (options.Verbose)
  {
    std::cerr << "\n" << result.Run.Output;
  }
  result.Moved = ParseMoved(result.Run.Output);
  result.SolverStored = ParseStored(result.Run.Output, system.Order);
  result.Assembly = result.Run.AssemblySeconds;
  result.TransformPairs = result.Run.TransformPairs;
  const int stageReps = RepetitionsFor(result.Run.Times.Total(), options.Repetitions);
  for (int r = 1; r < stageReps && result.Run.Solved; ++r)
  {
    EnvelopeSystem rebuilt; // assembled again only for the time
    RunOutcome again = RunStages(result.Files.Model, result.Files.Inside, result.Files.Outside,
      radius, resultPath, scratch, &rebuilt);
    result.Run.Times.KeepFaster(again.Times);
    result.Assembly = std::min(result.Assembly, again.AssemblySeconds);
  }

  result.Order = system.Order;
  result.Band = system.Max;
  result.Stored = system.Stored();
  result.Nonzeros = system.Nonzeros();
  result.Flops = system.Flops();
  if (system.Order == 0)
  {
    std::cerr << " failed: " << result.Run.Failure << std::endl;
    return result;
  }

  std::cerr << ", envelope" << std::flush;
  result.Envelope = FactorEnvelope(system);
  const int factorReps = RepetitionsFor(result.Envelope.Factor, options.Repetitions);
  for (int r = 1; r < factorReps; ++r)
  {
    FactorOutcome again = FactorEnvelope(system);
    result.Envelope.Factor = std::min(result.Envelope.Factor, again.Factor);
    result.Envelope.Substitute = std::min(result.Envelope.Substitute, again.Substitute);
  }

  if (options.Peers)
  {
    const LowerMatrix lower = ToLowerCsc(system);
    const std::vector<double> b(system.Rhs.begin(), system.Rhs.end());
    const std::vector<double> x(result.Envelope.Solution.begin(), result.Envelope.Solution.end());
    result.EnvelopeResidual = RelativeResidual(lower, x, b);
    std::vector<float>().swap(system.Env); // the peers need the memory more
    std::cerr << ", Eigen" << std::flush;
    result.Eigen = RunEigen(lower, b, factorReps);
    std::cerr << ", CHOLMOD" << std::flush;
    result.Cholmod = RunCholmod(lower, b, factorReps);
  }
  std::cerr << std::endl;
  return result;
}

// Relative difference of two solutions of the same system.
double Difference(const std::vector<double>& x, const std::vector<float>& y)
{
  if (x.size() != y.size() || x.empty())
  {
    return NAN;
  }
  std::vector<double> d(x.size());
  for (size_t k = 0; k < x.size(); ++k)
  {
    d[k] = x[k] - y[k];
  }
  return Norm(d) / Norm(x);
}

void PrintStages(const std::vector<CaseResult>& results)
{
  TextTable table({ "case", "N", "n", "inside", "moved", "nbr", "band", "read", "tree", "order",
    "asm", "factor", "subst", "solve", "inside", "xform", "write", "compute",
    "total" });
  std::string family;
  for (const CaseResult& r : results)
  {
    if (!family.empty() && r.Case.Family != family)
    {
      table.AddRule();
    }
    family = r.Case.Family;
    const StageTimes& t = r.Run.Times;
    const bool solved = r.Run.Solved;
    table.AddRow({ r.Case.Name, Count(r.Case.ModelSize()), Count(r.Order),
      Count(r.Files.InsideCount), r.Moved >= 0 ? Count(r.Moved) : "-",
      Fixed(r.MeanNeighbours(), 0), Count(r.Band), Millis(t.Read), Millis(t.Tree),
      Millis(t.Order), Millis(r.Assembly), Millis(r.Envelope.Factor),
      Millis(r.Envelope.Substitute), solved ? Millis(t.Solve) : "FAIL",
      solved ? Millis(t.InsideList) : "-",
      solved ? Millis(t.Transform) : "-", solved ? Millis(t.Write) : "-",
      solved ? Millis(t.Compute()) : "-", solved ? Millis(t.Total()) : "-" });
  }
  std::cout << "\nStage times in ms (best of the repetitions; one thread)\n\n";
  table.Print(std::cout);

  TextTable pairs({ "case", "order pairs", "ns/pair", "xform pairs", "ns/pair" });
  family.clear();
  for (const CaseResult& r : results)
  {
    if (!family.empty() && r.Case.Family != family)
    {
      pairs.AddRule();
    }
    family = r.Case.Family;
    const StageTimes& t = r.Run.Times;
    pairs.AddRow({ r.Case.Name, Count(r.OrderPairs()),
      r.OrderPairs() > 0 ? Fixed(t.Order / r.OrderPairs() * 1e9, 2) : "-",
      Count(r.TransformPairs),
      r.TransformPairs > 0 ? Fixed(t.Transform / r.TransformPairs * 1e9, 2) : "-" });
  }
  std::cout << "\nPer pair: ordering (order / (n + 2 nnz)) and transform filter (xform / vertex-"
               "centre pairs)\n\n";
  pairs.Print(std::cout);
  for (const CaseResult& r : results)
  {
    if (!r.Run.Solved)
    {
      std::cout << r.Case.Name << ": " << r.Run.Failure << "\n";
    }
    if (r.Run.Solved && r.SolverStored != r.Stored)
    {
      std::cout << r.Case.Name << ": the rebuilt envelope has " << r.Stored
                << " entries, the solver reported " << r.SolverStored << "\n";
    }
    if (!r.Run.OrderingRepeats)
    {
      std::cout << r.Case.Name << ": the repeated ordering differs from the reader's\n";
    }
  }
}

void PrintPeers(const std::vector<CaseResult>& results, double peak)
{
  TextTable table({ "case", "n", "nnz(A)", "env(M)", "row", "flops", "env fac", "GF/s", "peak",
    "Eigen a+f", "env/Eig", "CHOLMOD an", "fac", "a+f", "env/CHM", "solve/CHM",
    "CHOLMOD order", "nnz(L) CHM", "res env", "res Eig", "res CHM", "dx Eig", "dx CHM" });
  std::string family;
  for (const CaseResult& r : results)
  {
    if (!family.empty() && r.Case.Family != family)
    {
      table.AddRule();
    }
    family = r.Case.Family;
    const double fac = r.Envelope.Factor;
    const double nnzA = static_cast<double>(r.Nonzeros) * 2 + r.Order;
    table.AddRow({ r.Case.Name, Count(r.Order), Count(static_cast<long long>(nnzA)),
      Fixed(r.Stored / 1e6, 2), Fixed(r.MeanRow(), 0), Scientific(r.Flops),
      r.Envelope.Positive ? Millis(fac) : "not PD", Fixed(r.Flops / fac * 1e-9, 2),
      Fixed(r.Flops / fac * 1e-9 / peak * 100, 0) + "%",
      r.Eigen.Ok ? Millis(r.Eigen.Total()) : r.Eigen.Note, Ratio(fac, r.Eigen.Total()),
      r.Cholmod.Ok ? Millis(r.Cholmod.Analyse) : "-", r.Cholmod.Ok ? Millis(r.Cholmod.Factor) : "-",
      r.Cholmod.Ok ? Millis(r.Cholmod.Total()) : "-", Ratio(fac, r.Cholmod.Total()),
      Ratio(r.Solving(), r.Cholmod.Total()),
      r.Cholmod.Note, Count(static_cast<long long>(r.Cholmod.FactorNonzeros)),
      Scientific(r.EnvelopeResidual), Scientific(r.Eigen.Residual),
      Scientific(r.Cholmod.Residual), Scientific(Difference(r.Eigen.Solution, r.Envelope.Solution)),
      Scientific(Difference(r.Cholmod.Solution, r.Envelope.Solution)) });
  }
  std::cout << "\nFactorisation of the same matrix (ms; envelope in float, Eigen and CHOLMOD in "
               "double); row = mean stored row length, peak = GF/s over the core's FMA peak, "
               "solve = factorisation + five substitutions\n\n";
  table.Print(std::cout);
}

// One stage of the growth table: its time in a case, and the size it grows with.
struct GrowthStage
{
  const char* Name;
  const char* Size;
  bool NotJudged; // grows with the band (factorisations, and the solver stages against n)
  double (*Time)(const CaseResult&);
  double (*Measure)(const CaseResult&);
};

double ModelSize(const CaseResult& r)
{
  return static_cast<double>(r.Case.ModelSize());
}
double Points(const CaseResult& r)
{
  return r.Order;
}
double InsideCount(const CaseResult& r)
{
  return r.Files.InsideCount;
}
double EnvelopeEntries(const CaseResult& r)
{
  return static_cast<double>(r.Stored);
}

const GrowthStage GrowthStages[] = {
  { "read", "N", false, [](const CaseResult& r) { return r.Run.Times.Read; }, ModelSize },
  { "tree", "n", false, [](const CaseResult& r) { return r.Run.Times.Tree; }, Points },
  // The ordering and the transform grow with the pairs they visit: against n
  // and N only where the neighbours per point stay the same (not in the hole
  // family, whose radius grows with the hole); judged against the pairs.
  { "order", "n", true, [](const CaseResult& r) { return r.Run.Times.Order; }, Points },
  { "order", "pairs", false, [](const CaseResult& r) { return r.Run.Times.Order; },
    [](const CaseResult& r) { return static_cast<double>(r.OrderPairs()); } },
  // The assembly and the substitutions walk the envelope once, so against n
  // they grow as the envelope does (with the band, like the factorisation);
  // they are judged against the envelope's size, in the rows after.
  { "asm", "n", true, [](const CaseResult& r) { return r.Assembly; }, Points },
  { "factor", "n", true, [](const CaseResult& r) { return r.Envelope.Factor; }, Points },
  { "subst", "n", true, [](const CaseResult& r) { return r.Envelope.Substitute; }, Points },
  { "asm", "env", false, [](const CaseResult& r) { return r.Assembly; }, EnvelopeEntries },
  { "subst", "env", false, [](const CaseResult& r) { return r.Envelope.Substitute; },
    EnvelopeEntries },
  { "solve", "n", true, [](const CaseResult& r) { return r.Run.Times.Solve; }, Points },
  { "inside", "inside", false, [](const CaseResult& r) { return r.Run.Times.InsideList; },
    InsideCount },
  { "xform", "N", true, [](const CaseResult& r) { return r.Run.Times.Transform; }, ModelSize },
  { "xform", "pairs", false, [](const CaseResult& r) { return r.Run.Times.Transform; },
    [](const CaseResult& r) { return r.N() + static_cast<double>(r.TransformPairs); } },
  { "write", "N", false, [](const CaseResult& r) { return r.Run.Times.Write; }, ModelSize },
  { "Eigen a+f", "n", true, [](const CaseResult& r) { return r.Eigen.Ok ? r.Eigen.Total() : 0.0; },
    Points },
  { "CHOLMOD a+f", "n", true,
    [](const CaseResult& r) { return r.Cholmod.Ok ? r.Cholmod.Total() : 0.0; }, Points },
};

// Above N log N over the sizes of the families: log(N log N) grows like
// N^1.09 from 10^4 to 10^6, and the fit of a few noisy points needs a margin.
const double NLogNLimit = 1.15;

std::vector<std::string> PrintGrowth(const std::vector<CaseResult>& results, bool full)
{
  std::vector<std::string> families;
  for (const CaseResult& r : results)
  {
    if (std::find(families.begin(), families.end(), r.Case.Family) == families.end())
    {
      families.push_back(r.Case.Family);
    }
  }
  std::vector<std::string> header = { "stage", "vs" };
  std::vector<std::string> fitted;
  for (const std::string& f : families)
  {
    size_t count = 0;
    for (const CaseResult& r : results)
    {
      count += r.Case.Family == f && r.Run.Solved;
    }
    if (count >= 3)
    {
      fitted.push_back(f);
      header.push_back(f + " (" + std::to_string(count) + ")");
    }
  }
  std::vector<std::string> flagged;
  TextTable table(header);
  for (const GrowthStage& stage : GrowthStages)
  {
    std::vector<std::string> row = { stage.Name, stage.Size };
    bool measured = false; // rows of peers that did not run are left out
    for (const std::string& f : fitted)
    {
      std::vector<double> sizes;
      std::vector<double> times;
      for (const CaseResult& r : results)
      {
        if (r.Case.Family == f && r.Run.Solved)
        {
          sizes.push_back(stage.Measure(r));
          times.push_back(stage.Time(r));
        }
      }
      const double exponent = GrowthExponent(sizes, times);
      std::string cell = Fixed(exponent, 2);
      if (!stage.NotJudged && exponent > NLogNLimit)
      {
        cell += " !";
        flagged.push_back(std::string(stage.Name) + " vs " + stage.Size + " in " + f + " (" +
          Fixed(exponent, 2) + ")");
      }
      measured = measured || std::isfinite(exponent);
      row.push_back(cell);
    }
    if (measured)
    {
      table.AddRow(row);
    }
  }
  std::cout << "\nGrowth exponents: least-squares slope of log(time) against log(size) over the "
               "cases of a family\n(N model vertices, n spline points, env stored envelope entries; "
               "'!' marks a stage\nother than the solver's against n above "
            << NLogNLimit << ")\n\n";
  table.Print(std::cout);
  if (!full)
  {
    std::cout << "(quick set: three sizes over one decade, a few milliseconds each; the fits are "
                 "indicative only.\n --full fits five sizes over two decades.)\n";
  }
  return flagged;
}

// Runs the built surface_repair without a display, in dir; wall seconds, or a
// negative value when it does not end with status 0. cpu receives the
// program's processor time (user and system).
double RunProgram(const CaseFiles& files, float radius, const std::string& dir, std::string& output,
  double* cpu)
{
  const std::string log = dir + "/program.txt";
  char radiusText[32];
  snprintf(radiusText, sizeof(radiusText), "%.9g", radius);
  const Clock::time_point start = Clock::now();
  const pid_t child = fork();
  if (child == 0)
  {
    if (chdir(dir.c_str()) != 0)
    {
      _exit(127);
    }
    const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0)
    {
      dup2(fd, STDOUT_FILENO);
      dup2(fd, STDERR_FILENO);
      close(fd);
    }
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    execl(SURFACE_REPAIR_EXE, SURFACE_REPAIR_EXE, files.Model.c_str(), files.Inside.c_str(),
      files.Outside.c_str(), radiusText, static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = -1;
  rusage usage{};
  if (child < 0 || wait4(child, &status, 0, &usage) != child)
  {
    return -1.0;
  }
  *cpu = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
    1e-6 * (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  FILE* in = fopen(log.c_str(), "r");
  output.clear();
  if (in)
  {
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof(buffer), in)) > 0)
    {
      output.append(buffer, got);
    }
    fclose(in);
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : -1.0;
}

// Median of some times.
double Median(std::vector<double> v)
{
  std::sort(v.begin(), v.end());
  return v.empty() ? NAN : v.size() % 2 ? v[v.size() / 2] : 0.5 * (v[v.size() / 2 - 1] + v[v.size() / 2]);
}

// The worst ratio over the cases that count, and the case that has it.
struct Worst
{
  double Ratio = -1;
  std::string Case;
  void Take(double ratio, const std::string& name)
  {
    if (ratio > this->Ratio)
    {
      this->Ratio = ratio;
      this->Case = name;
    }
  }
  bool Any() const { return this->Ratio >= 0; }
};

void PrintTargets(const std::vector<CaseResult>& results, const std::vector<std::string>& flagged,
  const Options& options, const std::string& dir, double peak)
{
  std::cout << "\nTargets\n\n";
  auto verdict = [](bool ok) { return ok ? "met" : "NOT MET"; };
  auto isHole = [](const CaseResult& r) { return r.Case.Family.compare(0, 4, "hole") == 0; };

  // 1. Solving time against CHOLMOD analyse + factor: rings and large holes.
  Worst rings;
  Worst holes;
  for (const CaseResult& r : results)
  {
    if (!r.Cholmod.Ok || !r.Envelope.Positive)
    {
      continue;
    }
    const double ratio = r.Solving() / r.Cholmod.Total();
    if (isHole(r))
    {
      holes.Take(ratio, r.Case.Name);
    }
    else if (r.Case.Ring > 0)
    {
      rings.Take(ratio, r.Case.Name);
    }
  }
  if (rings.Any())
  {
    std::cout << "1. rings, solving <= 0.3 x CHOLMOD a+f: worst " << Fixed(rings.Ratio, 2) << " ("
              << rings.Case << "): " << verdict(rings.Ratio <= 0.3) << "\n";
  }
  if (holes.Any())
  {
    std::cout << "2. large holes, solving <= 0.6 x CHOLMOD a+f: worst " << Fixed(holes.Ratio, 2)
              << " (" << holes.Case << "): " << verdict(holes.Ratio <= 0.6) << "\n";
  }

  // Every 25th vertex, n = 40,000: within twice CHOLMOD.
  const CaseResult* largest = nullptr;
  for (const CaseResult& r : results)
  {
    if (r.Case.Stride > 0 && r.Cholmod.Ok && (!largest || r.Order > largest->Order))
    {
      largest = &r;
    }
  }
  if (largest)
  {
    const double ratio = largest->Envelope.Factor / largest->Cholmod.Total();
    std::cout << "   grid, envelope <= 2 x CHOLMOD a+f at n = 40,000: " << largest->Case.Name
              << " (n = " << Count(largest->Order) << ") ratio " << Fixed(ratio, 2) << ": "
              << (largest->Order >= 40000 ? verdict(ratio <= 2.0) : "(run --full for n = 40,000)")
              << "\n";
  }

  // 3. The factorisation's share of the peak where rows are 500 entries or longer.
  Worst slowest; // of 1 - share, so that the worst is the lowest share
  for (const CaseResult& r : results)
  {
    if (r.MeanRow() >= 500 && r.Envelope.Positive && r.Envelope.Factor > 0)
    {
      slowest.Take(1.0 - r.Flops / r.Envelope.Factor * 1e-9 / peak, r.Case.Name);
    }
  }
  if (slowest.Any())
  {
    const double share = 1.0 - slowest.Ratio;
    std::cout << "3. factorisation >= 80% of the FMA peak (" << Fixed(peak, 1)
              << " GFLOP/s) on rows of 500+: lowest " << Fixed(100 * share, 0) << "% ("
              << slowest.Case << "): " << verdict(share >= 0.8) << "\n";
  }

  // 4. Ordering and transform per pair, on the cases with a million pairs or more.
  Worst order;
  Worst transform;
  for (const CaseResult& r : results)
  {
    if (!r.Run.Solved)
    {
      continue;
    }
    if (r.OrderPairs() >= 1000000)
    {
      order.Take(r.Run.Times.Order / r.OrderPairs() * 1e9, r.Case.Name);
    }
    if (r.TransformPairs >= 1000000)
    {
      transform.Take(r.Run.Times.Transform / r.TransformPairs * 1e9, r.Case.Name);
    }
  }
  if (order.Any())
  {
    std::cout << "4. ordering <= 5 ns per neighbour pair: worst " << Fixed(order.Ratio, 2) << " ("
              << order.Case << "): " << verdict(order.Ratio <= 5) << "\n";
  }
  if (transform.Any())
  {
    std::cout << "   transform <= 5 ns per vertex-centre pair: worst " << Fixed(transform.Ratio, 2)
              << " (" << transform.Case << "): " << verdict(transform.Ratio <= 5) << "\n";
  }

  // 5. No stage but the factorisation above N log N.
  std::cout << "5. growth of the other stages <= N log N: " << verdict(flagged.empty());
  for (const std::string& f : flagged)
  {
    std::cout << "\n     " << f;
  }
  std::cout << "\n";

  // 6. The whole-program cases.
  for (const CaseResult& r : results)
  {
    if (!r.Case.Target4 || !r.Run.Solved)
    {
      continue;
    }
    const StageTimes& t = r.Run.Times;
    std::cout << "6. " << r.Case.Name << ": " << Count(r.Case.ModelSize()) << " vertices, "
              << Fixed(r.Files.ModelBytes / 1e6, 1) << " MB, ring "
              << Count(r.Files.OutsideCount) << ", inside " << Count(r.Files.InsideCount)
              << ", n = " << Count(r.Order) << ", R = " << r.Case.Radius()
              << "\n   in process: compute stages " << Millis(t.Compute()) << " ms";
    if (r.Case.ComputeLimit > 0)
    {
      std::cout << " (limit " << Millis(r.Case.ComputeLimit)
                << "): " << verdict(t.Compute() <= r.Case.ComputeLimit);
    }
    std::cout << "; all stages " << Millis(t.Total()) << " ms\n";
    if (!options.Program)
    {
      continue;
    }
    const std::string runDir = dir + "/program";
    std::filesystem::create_directories(runDir);
    std::string output;
    std::vector<double> walls;
    std::vector<double> cpus;
    for (int k = 0; k < 5; ++k)
    {
      double cpu = 0;
      const double wall =
        RunProgram(r.Files, static_cast<float>(r.Case.Radius()), runDir, output, &cpu);
      if (wall < 0)
      {
        walls.clear();
        break;
      }
      walls.push_back(wall);
      cpus.push_back(cpu);
    }
    if (walls.empty())
    {
      std::cout << "   surface_repair failed:\n" << output;
      continue;
    }
    std::cout << "   surface_repair (no display, runs";
    for (double w : walls)
    {
      std::cout << " " << Millis(w);
    }
    const double median = Median(walls);
    std::cout << " ms): median " << Millis(median) << " ms, processor time median "
              << Millis(Median(cpus)) << " ms";
    if (r.Case.WholeLimit > 0)
    {
      std::cout << " (limit " << Millis(r.Case.WholeLimit) << "): " << verdict(median <= r.Case.WholeLimit);
    }
    std::cout << "\n";
    if (options.Verbose)
    {
      std::cout << output;
    }
  }
}

std::string MakeWorkDir(const Options& options)
{
  if (!options.WorkDir.empty())
  {
    std::filesystem::create_directories(options.WorkDir);
    return options.WorkDir;
  }
  char pattern[] = "/tmp/surface_repair_bench.XXXXXX";
  const char* made = mkdtemp(pattern);
  if (!made)
  {
    throw std::runtime_error("cannot make a temporary directory");
  }
  return made;
}
} // namespace

int main(int argc, char* argv[])
{
  const Options options = ParseOptions(argc, argv);
  RestartSingleThreaded(argv);
  LimitBlasThreads();
  SetUpConsole();

  const std::string dir = MakeWorkDir(options);
  std::cout << "surface_repair benchmark, " << (options.Full ? "full" : "quick")
            << " set; files in " << dir << "\n"
            << DescribeBlas() << "\n"
            << "threads: OPENBLAS_NUM_THREADS=" << getenv("OPENBLAS_NUM_THREADS")
            << " OMP_NUM_THREADS=" << getenv("OMP_NUM_THREADS") << std::endl;
  std::cout << "stage times: "
            << (ThreadClock::Wall ? "wall time" : "processor time of the benchmark's thread")
            << "; whole-program runs: wall time" << std::endl;
  const FmaPeak peak = MeasureFmaPeak(1.5);
  std::cout << "FMA peak of one core (" << peak.Unit << "): " << Fixed(peak.GigaFlops, 1)
            << " GFLOP/s" << std::endl;

  int status = 0;
  try
  {
    std::vector<CaseResult> results;
    std::vector<BenchCase> cases;
    if (!options.Case.empty())
    {
      char* end = nullptr;
      const double radius = strtod(options.Case[3].c_str(), &end);
      if (end == options.Case[3].c_str() || *end != '\0' || !(radius > 0.0))
      {
        throw std::runtime_error("R must be a positive number: " + options.Case[3]);
      }
      BenchCase c = UserCase(options.Case[0], options.Case[1], options.Case[2], radius);
      c.Target4 = true;
      cases.push_back(c);
    }
    else
    {
      for (const BenchCase& c : MakeCases(options.Full))
      {
        if (c.Name.compare(0, options.Only.size(), options.Only) == 0)
        {
          cases.push_back(c);
        }
      }
    }
    for (const BenchCase& c : cases)
    {
      results.push_back(RunCase(c, dir, options));
    }
    PrintStages(results);
    // Measured again after the cases: the machine may be busier or quieter
    // than at the start; the higher value is the peak.
    const FmaPeak after = MeasureFmaPeak(1.5);
    const double peakFlops = std::max(peak.GigaFlops, after.GigaFlops);
    std::cout << "\nFMA peak of one core: " << Fixed(peak.GigaFlops, 1) << " GFLOP/s before the "
              << "cases, " << Fixed(after.GigaFlops, 1) << " after (" << peak.Unit
              << "); ratios use " << Fixed(peakFlops, 1) << "\n";
    if (options.Peers)
    {
      PrintPeers(results, peakFlops);
    }
    const std::vector<std::string> flagged = PrintGrowth(results, options.Full);
    PrintTargets(results, flagged, options, dir, peakFlops);
    std::cout << "\nColumns: N model vertices; n spline points (outside points plus 12 frame "
                 "points); nbr mean\nneighbours per point; band the ordering's half-bandwidth; "
                 "compute = tree + order + solve +\ninside + xform; total adds read and "
                 "write; env = stored envelope entries.\nRatios < 1 mean the envelope is "
                 "faster."
              << std::endl;
  }
  catch (const std::exception& e)
  {
    std::cerr << "\nbenchmark failed: " << e.what() << std::endl;
    status = 1;
  }
  if (options.WorkDir.empty() && !options.Keep)
  {
    std::filesystem::remove_all(dir);
  }
  return status;
}
