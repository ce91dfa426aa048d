#ifndef EnvelopeCholesky_h
#define EnvelopeCholesky_h

/**
 * Envelope (profile) Cholesky factorisation A = L L^T of a symmetric positive
 * definite matrix, and the triangular solves that go with it.
 *
 * Storage of a matrix of order n (rows and columns numbered from 0):
 *
 * - Row i keeps every entry from its first nonzero column f_i up to column
 *   i - 1 (f_i = i when the row has nothing left of the diagonal), zeros inside
 *   the run included. Its length is len_i = i - f_i; row 0 is always empty.
 * - xenv has n + 1 entries: xenv[0] = 1 and xenv[i + 1] = xenv[i] + len_i.
 *   They are positions counted from 1, so xenv[n] - 1 entries are stored.
 * - env holds the rows one after the other in increasing column order. Entry
 *   (i, j) of the envelope is env[xenv[i + 1] - 1 - (i - j)].
 * - diag[i] holds A(i, i).
 *
 * The factorisation overwrites the arrays with L in the same layout (L fills
 * nothing outside the envelope of A): diag[i] = L(i, i), the envelope entry
 * (i, j) = L(i, j).
 *
 * Every stored value is a float; inner products and the sums of squares are
 * accumulated in double and rounded to float only when stored.
 *
 * The kernels do not print and do not check the layout of their arrays; only
 * the factorisation allocates (a scratch copy of six rows, and it
 * goes on row by row without it when memory is short). Only
 * envelope_cholesky() reads the state below, which each thread has its own copy of, and reports a failed
 * factorisation on standard output.
 */

// The arrays are per thread (__thread rather than thread_local: plain
// per-thread storage, without the access wrapper C++ gives a thread_local
// variable used from another file, which the undefined-behaviour checker
// reports as a null pointer).

/// Order n of this thread's envelope system.
extern __thread int EnvOrder;
/// This thread's row starts, EnvOrder + 1 entries counted from 1.
extern __thread int* Xenv;
/// This thread's strict lower envelope, Xenv[EnvOrder] - 1 entries.
extern __thread float* Env;
/// This thread's diagonal, EnvOrder entries: A(i, i), after factorisation L(i, i).
extern __thread float* Diag;
/// 1 once a factorisation has met a pivot that is not greater than zero.
/// Raised by the factorisation, never cleared by it; the caller resets it.
extern __thread int Iflag;

/**
 * Factorises and/or solves this thread's envelope system.
 *
 * @param mode 0: factorise, then solve A x = rhs;
 *             1: factorise only (rhs is not touched);
 *             2: solve A x = rhs with arrays factorised before;
 *             any other value: nothing is done.
 * @param rhs  in/out, size EnvOrder: b on entry, x on return from modes 0 and 2.
 *             Not referenced by the other modes.
 * @return Iflag after the work.
 *
 * After a factorisation (modes 0 and 1) with Iflag equal to 1, prints
 * "Matrix is not positive  Iflag =1" on standard output (not while the
 * reports are quiet, Console.h). Mode 0 solves even then, with whatever the
 * arrays hold.
 */
int envelope_cholesky(int mode, float* rhs);

/**
 * Factorises A = L L^T in place.
 *
 * @param n    order of A, at least 1 (diag[0] is examined before n).
 * @param xenv input, size n + 1: row starts, counted from 1.
 * @param env  in/out, size xenv[n] - 1: envelope of A on entry, of L on return.
 * @param diag in/out, size n: diagonal of A on entry, of L on return.
 * @param flag output: set to 1 when a pivot is not greater than zero (zero,
 *             negative or NaN); never set to 0.
 *
 * diag[0] <= 0 stops at once with nothing changed. A bad pivot in a later row
 * i leaves diag[i] = A(i, i) and the remaining rows are still factorised.
 */
void factor_envelope(int n, const int* xenv, float* env, float* diag, int* flag);

/**
 * Forward substitution L y = b.
 *
 * @param n    order of L.
 * @param xenv input, size n + 1: row starts, counted from 1.
 * @param env  input, size xenv[n] - 1: envelope of L.
 * @param diag input, size n: diagonal of L.
 * @param rhs  in/out, size n: b on entry, y on return.
 *
 * Row i uses only its last min(len_i, i) entries, so that the call works on a
 * slice of rows f .. f + n - 1 of a larger matrix (xenv + f, diag + f, the
 * same env): entries left of the slice are ignored. Leading zeros of b stay
 * zero and products with components known to be zero are skipped.
 */
void solve_lower_envelope(int n, const int* xenv, const float* env, const float* diag, float* rhs);

/**
 * Back substitution L^T x = y.
 *
 * @param n    order of L.
 * @param xenv input, size n + 1: row starts, counted from 1.
 * @param env  input, size xenv[n] - 1: envelope of L.
 * @param diag input, size n: diagonal of L.
 * @param rhs  in/out, size n: y on entry, x on return.
 *
 * A zero component is skipped: nothing is divided or scattered for it.
 */
void solve_upper_envelope(int n, const int* xenv, const float* env, const float* diag, float* rhs);

/**
 * Solves L L^T x_r = b_r for several right-hand sides in one forward and one
 * backward pass over L, so that the envelope is read twice in all instead of
 * twice per right-hand side.
 *
 * @param n     order of L.
 * @param xenv  input, size n + 1: row starts, counted from 1.
 * @param env   input, size xenv[n] - 1: envelope of L.
 * @param diag  input, size n: diagonal of L.
 * @param count number of right-hand sides, at least 0.
 * @param rhs   input, size count: pointers to count distinct arrays of size n,
 *              each b_r on entry and x_r on return.
 *
 * Each x_r is bit for bit what solve_lower_envelope() followed by
 * solve_upper_envelope() give for b_r alone: every right-hand side keeps its
 * own leading zeros, skipped products and order of operations.
 */
void solve_envelope_columns(int n, const int* xenv, const float* env, const float* diag,
  int count, float* const* rhs);

/**
 * Chooses the factorisation's kernels: on (the default), the AVX-512 ones
 * where the processor runs them; off, the portable ones (AVX2 with FMA where
 * the processor has it, else the baseline x86-64). All give the same factor
 * bit for bit; the switch is there to test that. Not to be changed while a
 * factorisation runs.
 */
void envelope_wide_kernels(int on);

#endif
