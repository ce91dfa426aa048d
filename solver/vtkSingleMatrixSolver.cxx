#include "vtkSingleMatrixSolver.h"
#include "SplineBasis.h"

#include "Console.h"
#include "DenseSolve.h"
#include "EnvelopeCholesky.h"
#include "EnvelopeProfile.h"
#include "Stopwatch.h"

#include <vtkObjectFactory.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <vector>

vtkObjectFactoryNewMacro(vtkSingleMatrixSolver);

namespace
{
const char* const NotPositiveDefinite =
  "The spline system is not positive definite: check the outside list and the radius";

// The work arrays of one solve. Whatever is still held when a failure is
// thrown is released on the way out, so an error leaves no memory behind.
struct SolveArrays
{
  int N = 0;
  float** P = nullptr;      // rows 0..4 x columns 0..n: 1, x, y, z of point List[i]
  float** S = nullptr;      // rows 0..4 x columns 0..4: -(P A^-1 P^T)
  float** W = nullptr;      // rows 0..n x columns 0..4: A^-1 P^T
  float* FrightPart = nullptr; // 4: -(P A^-1 b), then the tail coefficients
  float* FFF = nullptr;     // 4 n: the columns of P^T, solved in place

  ~SolveArrays() { this->Release(); }

  void Release()
  {
    if (this->P)
    {
      deallocate_matrix(this->P, 0, 4, 0, this->N);
      this->P = nullptr;
    }
    if (this->S)
    {
      deallocate_matrix(this->S, 0, 4, 0, 4);
      this->S = nullptr;
    }
    if (this->W)
    {
      deallocate_matrix(this->W, 0, this->N, 0, 4);
      this->W = nullptr;
    }
    ReleaseEnvelope();
    free(this->FFF);
    this->FFF = nullptr;
    free(this->FrightPart);
    this->FrightPart = nullptr;
  }

  // The thread's envelope arrays belong to the solve while it runs.
  static void ReleaseEnvelope()
  {
    free(Xenv);
    free(Env);
    free(Diag);
    Xenv = nullptr;
    Env = nullptr;
    Diag = nullptr;
    EnvOrder = 0;
  }
};

// Refuses an envelope that Xenv's int row starts cannot address, naming the
// radius that makes it so large. The text outlives the throw.
[[noreturn]] void ThrowEnvelopeTooLarge(long long entries, float radius)
{
  thread_local std::string message;
  std::ostringstream text;
  text << "The spline system is too large: its envelope would hold " << entries
       << " entries, more than the " << EnvelopeEntryLimit
       << " its row starts can address; choose a smaller radius than R = " << radius;
  message = text.str();
  throw message.c_str();
}

template <typename T>
T* AllocateArray(size_t count, const char* failure)
{
  T* array = static_cast<T*>(malloc(sizeof(T) * (count > 0 ? count : 1)));
  if (array == nullptr)
  {
    throw failure;
  }
  return array;
}
} // namespace

//------------------------------------------------------------------------------
std::string EnvelopeSizeLine(int n, unsigned long long nnz)
{
  const std::uint64_t order = n > 0 ? static_cast<std::uint64_t>(n) : 0;
  const std::uint64_t envelopeBytes = 4 * (nnz + 2 * order);
  const std::uint64_t fullBytes = 4 * order * order;
  std::ostringstream line;
  line << "Size of matrix A is (" << n << "*" << n << "): " << envelopeBytes << " bytes ("
       << envelopeBytes / 1048576 << " MiB) <= " << fullBytes << " bytes (" << fullBytes / 1048576
       << " MiB) if stored as full matrix.";
  return line.str();
}

//------------------------------------------------------------------------------
vtkSingleMatrixSolver::vtkSingleMatrixSolver()
{
  this->PointArray = nullptr;
  this->SplineCoeff = nullptr;
  this->List = nullptr;
  this->B = nullptr;
  this->Radius = 0.0f;
  this->Max = 0;
}

//------------------------------------------------------------------------------
vtkSingleMatrixSolver::~vtkSingleMatrixSolver()
{
  // The coefficient array is dropped, not freed: whoever uses the spline
  // after the solver is gone releases it.
  this->SetSplineCoeff(nullptr);
  this->SetPointArray(nullptr);
  this->SetList(nullptr);
  this->SetB(nullptr);
}

//------------------------------------------------------------------------------
int vtkSingleMatrixSolver::Solve()
{
  const int n = static_cast<int>(this->PointArray->GetNumberOfPoints());
  const int w = this->Max;
  const double radius = this->Radius;
  const double radius2 = radius * radius;

  SolveArrays work;
  work.N = n;
  Diag = AllocateArray<float>(n, "Not enough memory to allocate Diag");
  Xenv = AllocateArray<int>(static_cast<size_t>(n) + 1, "Not enough memory to allocate Xenv");
  work.P = allocate_matrix(0, 4, 0, n);
  work.S = allocate_matrix(0, 4, 0, 4);
  work.W = allocate_matrix(0, n, 0, 4);
  work.FrightPart = AllocateArray<float>(4, "allocation faliture for the Fright_part");
  work.FFF = AllocateArray<float>(4 * static_cast<size_t>(n), "allocation faliture for the FFF");
  EnvOrder = n;

  // The points in ordering position, three floats each.
  std::vector<float> position(3 * static_cast<size_t>(n));
  for (int i = 0; i < n; ++i)
  {
    double p[3];
    this->PointArray->GetPoint(this->List[i], p);
    for (int c = 0; c < 3; ++c)
    {
      position[3 * i + c] = static_cast<float>(p[c]);
    }
  }

  for (int k = 0; k < 4; ++k)
  {
    work.FrightPart[k] = 0.0f;
    for (int l = 0; l < 4; ++l)
    {
      work.S[k][l] = 0.0f;
    }
  }
  for (int i = 0; i < n; ++i)
  {
    work.P[0][i] = 1.0f;
    work.P[1][i] = position[3 * i];
    work.P[2][i] = position[3 * i + 1];
    work.P[3][i] = position[3 * i + 2];
    Diag[i] = 1.0f;
  }

  // Each row's first column, counted before anything of the envelope is
  // allocated: a system whose envelope the row starts cannot address is
  // refused here.
  Env = nullptr;
  const long long constructionStart = GetMillisecondTicks();
  const std::vector<int> firstColumn = EnvelopeFirstColumns(position, n, w, radius, radius2);
  const long long entries = EnvelopeEntries(firstColumn);
  if (entries > EnvelopeEntryLimit)
  {
    ThrowEnvelopeTooLarge(entries, this->Radius);
  }

  // Envelope capacity: an estimate of two thirds of the band, then growth by
  // 5 n floats whenever the rows need more.
  const size_t growth = 5 * static_cast<size_t>(n);
  long long estimate =
    static_cast<long long>(static_cast<long long>(n) * (w - 1) * 0.6666666666666666);
  size_t capacity = 0;
  Env = nullptr;
  if (estimate >= 0)
  {
    capacity = static_cast<size_t>(estimate);
    Env = static_cast<float*>(malloc(sizeof(float) * (capacity > 0 ? capacity : 1)));
  }
  if (Env == nullptr)
  {
    capacity = growth;
    Env = AllocateArray<float>(capacity, "Not enough memory to allocate Env");
  }

  Xenv[0] = 1;
  size_t nnz = 0;
  int relocations = 0;
  for (int i = 0; i < n; ++i)
  {
    const float* pi = &position[3 * static_cast<size_t>(i)];
    // Leading zeros of the window are not stored: the row starts at its
    // first non-zero column. The envelope grows as it would entry by entry
    // (a growth is longer than any row).
    const int first = firstColumn[static_cast<size_t>(i)];
    const size_t length = static_cast<size_t>(std::max(i - first, 0));
    while (nnz + length > capacity)
    {
      float* grown = static_cast<float*>(realloc(Env, sizeof(float) * (capacity + growth)));
      if (grown == nullptr)
      {
        throw "Not enogh memory to relocate Env";
      }
      Env = grown;
      capacity += growth;
      ++relocations;
    }
    BasisRow(&position[3 * static_cast<size_t>(first)], pi, static_cast<int>(length), radius,
      radius2, Env + nnz);
    nnz += length;
    Xenv[i + 1] = static_cast<int>(nnz + 1);
  }
  Report() << "Constructing time: " << (GetMillisecondTicks() - constructionStart) * 0.001
            << " sec., (" << relocations << " relocations)." << std::endl;

  Report() << EnvelopeSizeLine(n, nnz) << std::endl;

  // Trim the envelope to its size; if that fails the larger array serves.
  if (nnz == 0)
  {
    free(Env);
    Env = nullptr;
  }
  else if (float* trimmed = static_cast<float*>(realloc(Env, sizeof(float) * nnz)))
  {
    Env = trimmed;
  }

  const long long solvingStart = GetMillisecondTicks();
  Iflag = 0;
  envelope_cholesky(1, this->B);
  if (Iflag != 0)
  {
    throw NotPositiveDefinite;
  }

  // W = A^-1 P^T, one column per polynomial term, and B = A^-1 b: the five
  // solves in one forward and one backward pass over L.
  float* columns[5] = { work.FFF, work.FFF + n, work.FFF + 2 * static_cast<size_t>(n),
    work.FFF + 3 * static_cast<size_t>(n), this->B };
  for (int k = 0; k < 4; ++k)
  {
    std::copy(work.P[k], work.P[k] + n, columns[k]);
  }
  solve_envelope_columns(n, Xenv, Env, Diag, 5, columns);
  for (int k = 0; k < 4; ++k)
  {
    for (int i = 0; i < n; ++i)
    {
      work.W[i][k] = columns[k][i];
    }
  }

  // S = -(P W), the Schur complement of A.
  for (int k = 0; k < 4; ++k)
  {
    for (int l = 0; l < 4; ++l)
    {
      double sum = 0.0;
      for (int i = 0; i < n; ++i)
      {
        sum += static_cast<double>(work.P[k][i]) * work.W[i][l];
      }
      work.S[k][l] = static_cast<float>(work.S[k][l] - sum);
    }
  }

  // The reduced right-hand side -(P A^-1 b).
  for (int k = 0; k < 4; ++k)
  {
    double sum = 0.0;
    for (int i = 0; i < n; ++i)
    {
      sum += static_cast<double>(work.P[k][i]) * this->B[i];
    }
    work.FrightPart[k] = static_cast<float>(work.FrightPart[k] - sum);
  }

  // The tail coefficients c from S c = -(P A^-1 b).
  for (int r = 0; r < 4; ++r)
  {
    for (int c = 0; c < 4; ++c)
    {
      DenseMatrix[r * DenseOrder + c] = work.S[r][c];
    }
    DenseRhs[r] = work.FrightPart[r];
  }
  solve_dense_system();
  for (int r = 0; r < 4; ++r)
  {
    work.FrightPart[r] = DenseRhs[r];
  }

  // lambda = A^-1 (b - P^T c).
  for (int i = 0; i < n; ++i)
  {
    double sum = 0.0;
    for (int k = 0; k < 4; ++k)
    {
      sum += static_cast<double>(work.W[i][k]) * work.FrightPart[k];
    }
    this->B[i] = static_cast<float>(this->B[i] - sum);
  }
  Report() << "Solving time: " << (GetMillisecondTicks() - solvingStart) * 0.001 << " sec."
            << std::endl;

  float tail[4] = { work.FrightPart[0], work.FrightPart[1], work.FrightPart[2],
    work.FrightPart[3] };
  work.Release();

  const int count = static_cast<int>(this->PointArray->GetNumberOfPoints());
  float* coefficients =
    AllocateArray<float>(static_cast<size_t>(count) + 4, "allocation faliture for the SplineCoeff");
  bool finite = true;
  for (int i = 0; i < count; ++i)
  {
    coefficients[i] = this->B[i];
    finite = finite && std::isfinite(coefficients[i]);
  }
  for (int k = 0; k < 4; ++k)
  {
    coefficients[count + k] = tail[k];
    finite = finite && std::isfinite(tail[k]);
  }
  if (!finite)
  {
    free(coefficients);
    throw NotPositiveDefinite;
  }
  this->SplineCoeff = coefficients;
  return 1;
}
