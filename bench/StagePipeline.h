#ifndef StagePipeline_h
#define StagePipeline_h

// One run of surface_repair in process, stage by stage, timed with a steady
// clock; and the envelope system of that run, rebuilt exactly as
// vtkSingleMatrixSolver::Solve assembles it, for the factorisation timings.

#include <string>
#include <vector>

/// Seconds per stage of one run.
struct StageTimes
{
  double Read = 0;       // ReadData() less the tree build and the ordering
  double Tree = 0;       // BuildLocator() over the spline points
  double Order = 0;      // GetWellOderredList() and its inverse
  double Solve = 0;      // vtkSingleMatrixSolver::Solve(), all of it
  double InsideList = 0; // reading the inside list into a vtkIdList
  double Transform = 0;  // vtkTransformPolyDataFilter::Update()
  double Write = 0;      // WriteResultFile()

  /// Everything but reading and writing model files.
  double Compute() const
  {
    return this->Tree + this->Order + this->Solve + this->InsideList + this->Transform;
  }
  double Total() const { return this->Compute() + this->Read + this->Write; }
  /// Stage by stage minimum of two runs.
  void KeepFaster(const StageTimes& other);
};

/// The envelope system of a run: the arrays of EnvelopeCholesky.h and the
/// right-hand sides of the solve, all in ordering position.
struct EnvelopeSystem
{
  int Order = 0;
  std::vector<int> Xenv;    // Order + 1 row starts, counted from 1
  std::vector<float> Env;   // strict lower envelope
  std::vector<float> Diag;  // diagonal
  std::vector<float> Rhs;   // b: the reader's B before the solve
  std::vector<float> Tail[4]; // 1, x, y, z of each point: the polynomial columns
  int Max = 0;              // half-bandwidth of the ordering

  long long Stored() const { return static_cast<long long>(this->Env.size()); }
  /// Nonzero entries strictly below the diagonal.
  long long Nonzeros() const;
  /// sum over rows of the squared row length
  double Flops() const;
};

/// What one run gave besides its times.
struct RunOutcome
{
  StageTimes Times;
  bool Solved = false;       // Solve() returned
  std::string Failure;       // its message otherwise
  bool OrderingRepeats = true; // the repeated ordering matched the reader's
  double AssemblySeconds = 0;  // the rebuild of the envelope
  long long TransformPairs = 0; // inside vertices times the centres within R of each
  std::string Output;        // what the objects printed
};

/**
 * Runs the stages of the driver on the files: reader, solver, inside list,
 * transform filter, result file written to resultPath. When system is not
 * null the envelope system is rebuilt into it (the assembly is timed; it does
 * not count in the stage times). Standard output of the objects is captured
 * into the outcome, through scratch (a file path).
 */
RunOutcome RunStages(const std::string& model, const std::string& inside,
  const std::string& outside, float radius, const std::string& resultPath,
  const std::string& scratch, EnvelopeSystem* system);

/// Times of the factorisation kernel and the substitutions on a copy.
struct FactorOutcome
{
  double Factor = 0;      // factor_envelope()
  double Substitute = 0;  // five lower + upper solves, as Solve() does
  bool Positive = true;
  std::vector<float> Solution; // A^-1 b
};

/// Factorises a copy of the system and solves the five right-hand sides.
FactorOutcome FactorEnvelope(const EnvelopeSystem& system);

#endif
