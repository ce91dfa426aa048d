#include "PeerSolvers.h"
#include "ThreadClock.h"

#include "StagePipeline.h"

#include <Eigen/OrderingMethods>
#include <Eigen/SparseCholesky>
#include <cholmod.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <dlfcn.h>
#include <link.h>
#include <sstream>

namespace
{
using Clock = ThreadClock;

// A factorisation that takes this many seconds is not repeated: its time is
// long enough to stand on its own.
const double LongRun = 1.0;

double Since(Clock::time_point start)
{
  return std::chrono::duration<double>(Clock::now() - start).count();
}

Eigen::Map<const Eigen::VectorXd> View(const std::vector<double>& v)
{
  return Eigen::Map<const Eigen::VectorXd>(v.data(), static_cast<Eigen::Index>(v.size()));
}

const char* OrderingName(int ordering)
{
  switch (ordering)
  {
    case CHOLMOD_NATURAL:
      return "natural";
    case CHOLMOD_GIVEN:
      return "given";
    case CHOLMOD_AMD:
      return "AMD";
    case CHOLMOD_METIS:
      return "METIS";
    case CHOLMOD_NESDIS:
      return "NESDIS";
    case CHOLMOD_COLAMD:
      return "COLAMD";
    default:
      return "other";
  }
}

int CollectBlas(struct dl_phdr_info* info, size_t, void* data)
{
  auto* names = static_cast<std::vector<std::string>*>(data);
  const std::string name = info->dlpi_name ? info->dlpi_name : "";
  if (name.find("blas") != std::string::npos)
  {
    char resolved[PATH_MAX];
    names->push_back(realpath(name.c_str(), resolved) ? std::string(resolved) : name);
  }
  return 0;
}

using Dgemm = void (*)(const char*, const char*, const int*, const int*, const int*,
  const double*, const double*, const int*, const double*, const int*, const double*, double*,
  const int*);
} // namespace

//------------------------------------------------------------------------------
LowerMatrix ToLowerCsc(const EnvelopeSystem& system)
{
  const int n = system.Order;
  std::vector<Eigen::Triplet<double, int>> entries;
  entries.reserve(static_cast<size_t>(system.Nonzeros()) + n);
  for (int i = 0; i < n; ++i)
  {
    entries.emplace_back(i, i, system.Diag[i]);
    const int len = system.Xenv[i + 1] - system.Xenv[i];
    const float* row = system.Env.data() + (system.Xenv[i] - 1);
    for (int k = 0; k < len; ++k)
    {
      if (row[k] != 0.0f)
      {
        entries.emplace_back(i, i - len + k, row[k]);
      }
    }
  }
  LowerMatrix lower(n, n);
  lower.setFromTriplets(entries.begin(), entries.end());
  lower.makeCompressed();
  return lower;
}

double RelativeResidual(
  const LowerMatrix& lower, const std::vector<double>& x, const std::vector<double>& b)
{
  Eigen::VectorXd r =
    lower.selfadjointView<Eigen::Lower>() * View(x) - View(b);
  const double norm = View(b).norm();
  return norm > 0 ? r.norm() / norm : r.norm();
}

//------------------------------------------------------------------------------
PeerOutcome RunEigen(const LowerMatrix& lower, const std::vector<double>& b, int repetitions)
{
  using Solver = Eigen::SimplicialLLT<LowerMatrix, Eigen::Lower, Eigen::AMDOrdering<int>>;
  PeerOutcome outcome;
  outcome.Analyse = outcome.Factor = INFINITY;
  for (int r = 0; r < std::max(1, repetitions); ++r)
  {
    Solver llt;
    Clock::time_point start = Clock::now();
    llt.analyzePattern(lower);
    const double analyse = Since(start);
    start = Clock::now();
    llt.factorize(lower);
    const double factor = Since(start);
    if (llt.info() != Eigen::Success)
    {
      outcome.Note = "not positive definite";
      return outcome;
    }
    outcome.Analyse = std::min(outcome.Analyse, analyse);
    outcome.Factor = std::min(outcome.Factor, factor);
    if (r == 0)
    {
      Eigen::VectorXd x = llt.solve(View(b));
      outcome.Solution.assign(x.data(), x.data() + x.size());
      outcome.FactorNonzeros = static_cast<double>(llt.matrixL().nestedExpression().nonZeros());
    }
    if (analyse + factor >= LongRun)
    {
      break;
    }
  }
  outcome.Residual = RelativeResidual(lower, outcome.Solution, b);
  outcome.Ok = true;
  return outcome;
}

//------------------------------------------------------------------------------
PeerOutcome RunCholmod(const LowerMatrix& lower, const std::vector<double>& b, int repetitions)
{
  PeerOutcome outcome;
  outcome.Analyse = outcome.Factor = INFINITY;
  cholmod_common common;
  cholmod_start(&common);
  common.supernodal = CHOLMOD_SUPERNODAL;

  // A view of the Eigen matrix; CHOLMOD reads it only.
  cholmod_sparse a = {};
  a.nrow = a.ncol = static_cast<size_t>(lower.rows());
  a.nzmax = static_cast<size_t>(lower.nonZeros());
  a.p = const_cast<int*>(lower.outerIndexPtr());
  a.i = const_cast<int*>(lower.innerIndexPtr());
  a.x = const_cast<double*>(lower.valuePtr());
  a.stype = -1; // lower triangle
  a.itype = CHOLMOD_INT;
  a.xtype = CHOLMOD_REAL;
  a.dtype = CHOLMOD_DOUBLE;
  a.sorted = 1;
  a.packed = 1;

  cholmod_factor* factor = nullptr;
  for (int r = 0; r < std::max(1, repetitions); ++r)
  {
    if (factor)
    {
      cholmod_free_factor(&factor, &common);
    }
    Clock::time_point start = Clock::now();
    factor = cholmod_analyze(&a, &common);
    const double analyse = Since(start);
    if (!factor)
    {
      outcome.Note = "analyse failed";
      cholmod_finish(&common);
      return outcome;
    }
    start = Clock::now();
    cholmod_factorize(&a, factor, &common);
    const double numeric = Since(start);
    if (common.status != CHOLMOD_OK || factor->minor != factor->n)
    {
      outcome.Note = "not positive definite";
      cholmod_free_factor(&factor, &common);
      cholmod_finish(&common);
      return outcome;
    }
    outcome.Analyse = std::min(outcome.Analyse, analyse);
    outcome.Factor = std::min(outcome.Factor, numeric);
    if (analyse + numeric >= LongRun)
    {
      break;
    }
  }
  outcome.FactorNonzeros = common.lnz;
  outcome.Note = OrderingName(common.method[common.selected].ordering);
  outcome.Note += factor->is_super ? ", supernodal" : ", simplicial";

  cholmod_dense rhs = {};
  rhs.nrow = rhs.d = rhs.nzmax = b.size();
  rhs.ncol = 1;
  rhs.x = const_cast<double*>(b.data());
  rhs.xtype = CHOLMOD_REAL;
  rhs.dtype = CHOLMOD_DOUBLE;
  cholmod_dense* x = cholmod_solve(CHOLMOD_A, factor, &rhs, &common);
  if (x)
  {
    const double* values = static_cast<const double*>(x->x);
    outcome.Solution.assign(values, values + b.size());
    cholmod_free_dense(&x, &common);
    outcome.Residual = RelativeResidual(lower, outcome.Solution, b);
    outcome.Ok = true;
  }
  else
  {
    outcome.Note = "solve failed";
  }
  cholmod_free_factor(&factor, &common);
  cholmod_finish(&common);
  return outcome;
}

//------------------------------------------------------------------------------
void LimitBlasThreads()
{
  using SetThreads = void (*)(int);
  if (auto set = reinterpret_cast<SetThreads>(dlsym(RTLD_DEFAULT, "openblas_set_num_threads")))
  {
    set(1);
  }
}

std::string DescribeBlas()
{
  std::ostringstream text;
  std::vector<std::string> libraries;
  dl_iterate_phdr(CollectBlas, &libraries);
  std::sort(libraries.begin(), libraries.end());
  libraries.erase(std::unique(libraries.begin(), libraries.end()), libraries.end());
  text << "BLAS loaded:";
  for (const std::string& name : libraries)
  {
    text << " " << name;
  }
  using Config = char* (*)();
  using Threads = int (*)();
  auto config = reinterpret_cast<Config>(dlsym(RTLD_DEFAULT, "openblas_get_config"));
  auto threads = reinterpret_cast<Threads>(dlsym(RTLD_DEFAULT, "openblas_get_num_threads"));
  if (config)
  {
    text << "\n  OpenBLAS: " << config() << ", threads " << (threads ? threads() : -1);
  }
  else
  {
    text << "\n  not OpenBLAS (reference BLAS?): CHOLMOD will be slower than it can be";
  }

  // A dgemm of order 500 shows the BLAS's real speed on this machine.
  if (auto dgemm = reinterpret_cast<Dgemm>(dlsym(RTLD_DEFAULT, "dgemm_")))
  {
    const int m = 500;
    std::vector<double> a(static_cast<size_t>(m) * m, 0.5);
    std::vector<double> b(a);
    std::vector<double> c(a.size(), 0.0);
    const double one = 1.0;
    const double zero = 0.0;
    double best = INFINITY;
    for (int r = 0; r < 3; ++r)
    {
      Clock::time_point start = Clock::now();
      dgemm("N", "N", &m, &m, &m, &one, a.data(), &m, b.data(), &m, &zero, c.data(), &m);
      best = std::min(best, Since(start));
    }
    text << "\n  dgemm 500^3: " << static_cast<int>(2.0 * m * m * m / best * 1e-6) << " MFLOP/s";
  }
  return text.str();
}
