#ifndef BenchCases_h
#define BenchCases_h

// The generated cases of the benchmark: regular height-field models with a
// small deterministic jitter, and the outside and inside vertex lists of a
// repair on them.

#include <string>
#include <vector>

/// One benchmark case, before its files exist.
struct BenchCase
{
  std::string Name;   // unique label, shown in the tables
  std::string Family; // cases of one family share a growth fit
  int Nx = 0;         // model grid: Nx * Ny vertices, id = j * Nx + i
  int Ny = 0;
  int Inside = 0;     // vertices to move: the Inside ones nearest the centre
  int Ring = 0;       // > 0: the outside set is the next Ring vertices by distance
  int Stride = 0;     // > 0: the outside set is every Stride-th vertex id
  int Neighbours = 0; // nominal count of centres within R of a centre
  bool Target4 = false; // the case of the whole-program check
  double ComputeLimit = 0; // > 0: seconds the compute stages may take together
  double WholeLimit = 0;   // > 0: seconds the whole program may take (no viewer)

  // A case on the user's own files (ModelFile not empty): no grid, the
  // radius as given, the vertex count read from the model's header.
  std::string ModelFile;
  std::string InsideFile;
  std::string OutsideFile;
  double GivenRadius = 0.0;
  long long GivenVertices = 0;

  long long ModelSize() const
  {
    return this->ModelFile.empty() ? static_cast<long long>(this->Nx) * this->Ny
                                   : this->GivenVertices;
  }

  /**
   * R in the normalised frame (x and y mapped onto 0..1) that puts about
   * Neighbours centres within R of a centre whose surroundings are full of
   * centres: centres per unit area times pi R^2.
   */
  double Radius() const;
};

/// The files of a prepared case.
struct CaseFiles
{
  std::string Model;
  std::string Inside;
  std::string Outside;
  long long ModelBytes = 0;
  int InsideCount = 0;
  int OutsideCount = 0;
};

/// The quick default set (well under a minute) or the full set.
std::vector<BenchCase> MakeCases(bool full);

/// The case of a user's model, inside and outside lists and radius.
BenchCase UserCase(const std::string& model, const std::string& inside,
  const std::string& outside, double radius);

/**
 * Writes the model (once per grid size: later cases reuse the file) and the
 * two id lists of a case into dir.
 */
CaseFiles PrepareCase(const BenchCase& benchCase, const std::string& dir);

#endif
