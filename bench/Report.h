#ifndef Report_h
#define Report_h

// Plain-text tables and the growth fit of the benchmark report.

#include <iosfwd>
#include <string>
#include <vector>

/// A table of right-aligned columns; the first column is left-aligned.
class TextTable
{
public:
  explicit TextTable(std::vector<std::string> header);
  void AddRow(std::vector<std::string> row);
  /// A horizontal rule before the next row.
  void AddRule();
  void Print(std::ostream& out) const;

private:
  std::vector<std::vector<std::string>> Rows; // an empty row is a rule
};

/// Milliseconds of a time in seconds, with two to three significant digits.
std::string Millis(double seconds);
/// A number with the given count of decimals.
std::string Fixed(double value, int decimals);
/// An integer with thousands separators.
std::string Count(long long value);
/// A ratio a / b, or "-" if either is not a positive number.
std::string Ratio(double a, double b);
/// A value in scientific notation with two digits, e.g. 3.1e-07.
std::string Scientific(double value);

/**
 * Least-squares slope of log(time) against log(size): the growth exponent.
 * NaN with fewer than two distinct sizes or with a time that is not positive.
 */
double GrowthExponent(const std::vector<double>& sizes, const std::vector<double>& times);

#endif
