#ifndef EnvelopeProfile_h
#define EnvelopeProfile_h

#include <vector>

/**
 * The first column of every row of the spline system's envelope, found
 * without scanning the rows' windows.
 *
 * position holds three floats per point in ordering position. Row i starts at
 * the smallest j in max(0, i - window) .. i - 1 whose basis value
 * SplineBasis(position j, position i) is not zero, and at i (an empty row)
 * when there is none: the column a scan of the window from its left end
 * finds first. Points are looked up in columns over x and y at least as wide
 * as the radius, so the work grows with the number of point pairs within the
 * radius, not with n times the window. A radius that is not a positive finite
 * number scans the windows instead.
 */
std::vector<int> EnvelopeFirstColumns(
  const std::vector<float>& position, int n, int window, double radius, double radius2);

/**
 * One row of the envelope: row[k] = SplineBasis(positions + 3 * k, pi) as a
 * float, k < count, bit for bit; in AVX-512 registers where the processor
 * has them.
 */
void BasisRow(
  const float* positions, const float* pi, int count, double radius, double radius2, float* row);
/// Entries the envelope of these rows stores: the sum of i - first[i].
long long EnvelopeEntries(const std::vector<int>& first);

/**
 * Most entries the envelope may hold: Xenv holds int row starts counted from
 * 1, so the last one, entries + 1, must not pass 2^31 - 1. Tests lower it to
 * reach the refusal without gigabytes.
 */
extern long long EnvelopeEntryLimit;

#endif
