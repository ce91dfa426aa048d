#ifndef DenseSolve_h
#define DenseSolve_h

/**
 * Dense side of the spline solver: matrices with inclusive index ranges, four
 * vector kernels, and a small Householder (QR) solver for the 4 x 4 system
 * that couples the polynomial tail to the radial part.
 *
 * Every stored value is a float; sums and intermediate results are carried
 * in double and rounded to float when stored.
 *
 * The dense solver works on DenseMatrix and DenseRhs, one pair per thread, and is
 * therefore not reentrant within a thread. It reads DenseMatrix by columns: entry (r, j) of
 * the matrix C it factorises is DenseMatrix[j * DenseOrder + r]. A matrix M
 * written row after row (M(r, c) at r * DenseOrder + c) is thus read as
 * C = M^T, and the solve is arranged so that the result satisfies M x = b.
 */

// DenseMatrix and DenseRhs are per thread (__thread: see EnvelopeCholesky.h).

/// Order of the dense system: the number of polynomial terms (1, x, y, z).
extern const int DenseOrder;
/// The dense system matrix on entry to solve_dense_system(), its QR
/// factorisation on return.
extern __thread float DenseMatrix[16];
/// The right-hand side b on entry to solve_dense_system(), x on return.
extern __thread float DenseRhs[4];

/**
 * Allocates a float matrix m reached as m[r][c] for nrl <= r <= nrh and
 * ncl <= c <= nch (both ranges inclusive; bounds are non-negative). Rows are
 * separate blocks from the C heap; elements are not initialised. With
 * nrl > nrh the matrix has no rows.
 *
 * Throws (a const char*) "allocation faliture for the matrix in
 * allocate_matrix" or "allocation faliture for the rows of matrix in
 * allocate_matrix"; what was allocated before the failure is not released.
 * Release the matrix with deallocate_matrix() and the same bounds.
 */
float** allocate_matrix(int nrl, int nrh, int ncl, int nch);

/// Releases a matrix from allocate_matrix(); the bounds must be the ones it
/// was made with (nch is not needed and not used).
void deallocate_matrix(float** m, int nrl, int nrh, int ncl, int nch);

/// Euclidean norm of x (input, size n), squares summed in index order in
/// double without scaling; 0 when n <= 0.
double vector_norm(const float* x, int n);

/// Inner product of x and y (inputs, size n), summed in index order in
/// double; 0 when n <= 0.
double dot_product(const float* x, const float* y, int n);

/// x := a x. x: in/out, size n; nothing happens when n <= 0.
void scale_vector(float a, float* x, int n);

/// y := y + a x. x: input, size n; y: in/out, size n; nothing happens when
/// n <= 0.
void add_scaled_vector(float a, const float* x, float* y, int n);

/**
 * Householder factorisation C = Q R of DenseMatrix in place, no pivoting.
 *
 * @param m    number of rows of C; also the column stride in DenseMatrix.
 * @param p    number of columns of C (the program uses p = m = DenseOrder).
 * @param lead output, size m - 1 (all entries written): entry k is component
 *             0 of reflection vector v_k, or 0 when no reflection was formed.
 *
 * On return R lies on and above the diagonal (diagonal of a reduced column:
 * -sigma_k, the signed norm of its remaining part), and components 1, 2, ...
 * of v_k lie below the diagonal of column k. Each reflection is
 * H_k = I - v_k v_k^T / v_k[0] and Q = H_0 H_1 ... H_{m-2}. A column part of
 * zero norm forms no reflection; the matrix is then singular and the later
 * solves yield infinite or undefined values.
 *
 * Allocates a scratch vector of m floats; throws "Not enough memory for the
 * dense solve" (a const char*) if it cannot.
 */
void householder_factor(int m, int p, float* lead);

/**
 * Forward substitution R^T z = b with R from DenseMatrix after
 * householder_factor().
 *
 * @param b in/out, size m: b on entry, z on return.
 * @param m order of R; also the column stride in DenseMatrix.
 * @param p number of columns of the factorised matrix (must equal m).
 */
void solve_transposed_triangle(float* b, int m, int p);

/**
 * z := Q z with the reflections kept by householder_factor(), applied last
 * to first.
 *
 * @param lead input, size m - 1: leading components from householder_factor().
 * @param z    in/out, size m.
 * @param m    order; also the column stride in DenseMatrix.
 * @param p    number of columns of the factorised matrix (must equal m).
 *
 * DenseMatrix is modified during the call and restored before it returns.
 * Allocates a scratch vector of m floats; throws "Not enough memory for the
 * dense solve" (a const char*) if it cannot.
 */
void apply_reflections(const float* lead, float* z, int m, int p);

/**
 * Solves M x = b for the process-wide system: M written row after row in
 * DenseMatrix, b in DenseRhs. On return DenseRhs holds x and DenseMatrix
 * holds the factorisation. No check for singularity is made.
 *
 * Throws "Not enough memory for the dense solve" (a const char*) when its
 * scratch vectors cannot be allocated.
 */
void solve_dense_system();

#endif
