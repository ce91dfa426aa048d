#ifndef PeerSolvers_h
#define PeerSolvers_h

// The peers of the envelope factorisation on the same matrix: Eigen's
// SimplicialLLT with AMD ordering and CHOLMOD's supernodal Cholesky, both in
// double precision.

#include <Eigen/SparseCore>

#include <string>
#include <vector>

struct EnvelopeSystem;

/// The nonzeros of the lower triangle, diagonal included, in double.
using LowerMatrix = Eigen::SparseMatrix<double, Eigen::ColMajor, int>;

LowerMatrix ToLowerCsc(const EnvelopeSystem& system);

/// ||A x - b|| / ||b|| for the symmetric matrix stored by its lower triangle.
double RelativeResidual(const LowerMatrix& lower, const std::vector<double>& x,
  const std::vector<double>& b);

/// One peer on one matrix; times in seconds, the best of at most the given
/// number of repetitions (a factorisation of a second or more runs once).
struct PeerOutcome
{
  bool Ok = false;
  std::string Note;       // failure, or the ordering CHOLMOD chose
  double Analyse = 0;     // ordering and symbolic factorisation
  double Factor = 0;      // numeric factorisation
  double FactorNonzeros = 0; // entries of L
  double Residual = 0;    // of the peer's solution
  std::vector<double> Solution;

  double Total() const { return this->Analyse + this->Factor; }
};

/// Eigen::SimplicialLLT<LowerMatrix, Eigen::Lower, Eigen::AMDOrdering<int>>.
PeerOutcome RunEigen(const LowerMatrix& lower, const std::vector<double>& b, int repetitions);

/// cholmod_analyze + cholmod_factorize with Common.supernodal = CHOLMOD_SUPERNODAL
/// and the default orderings (AMD, METIS when AMD fills too much).
PeerOutcome RunCholmod(const LowerMatrix& lower, const std::vector<double>& b, int repetitions);

/**
 * Which BLAS the process has loaded (the library path behind libblas.so.3),
 * its thread count and a dgemm rate, so that a run on the reference BLAS or
 * on several threads shows at once.
 */
std::string DescribeBlas();

/// Asks OpenBLAS, if it is the loaded BLAS, to use one thread.
void LimitBlasThreads();

#endif
