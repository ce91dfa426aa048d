#include "Report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ostream>

TextTable::TextTable(std::vector<std::string> header)
{
  this->Rows.push_back(std::move(header));
  this->Rows.emplace_back();
}

void TextTable::AddRow(std::vector<std::string> row)
{
  this->Rows.push_back(std::move(row));
}

void TextTable::AddRule()
{
  this->Rows.emplace_back();
}

void TextTable::Print(std::ostream& out) const
{
  std::vector<size_t> widths;
  for (const auto& row : this->Rows)
  {
    widths.resize(std::max(widths.size(), row.size()), 0);
    for (size_t c = 0; c < row.size(); ++c)
    {
      widths[c] = std::max(widths[c], row[c].size());
    }
  }
  size_t total = 0;
  for (size_t w : widths)
  {
    total += w + 2;
  }
  for (const auto& row : this->Rows)
  {
    if (row.empty())
    {
      out << std::string(total > 2 ? total - 2 : 0, '-') << '\n';
      continue;
    }
    for (size_t c = 0; c < row.size(); ++c)
    {
      const std::string pad(widths[c] - row[c].size(), ' ');
      out << (c == 0 ? row[c] + pad : pad + row[c]);
      out << (c + 1 < row.size() ? "  " : "\n");
    }
  }
}

std::string Millis(double seconds)
{
  if (!std::isfinite(seconds))
  {
    return "-";
  }
  const double ms = seconds * 1000.0;
  char text[32];
  if (ms < 10.0)
  {
    snprintf(text, sizeof(text), "%.2f", ms);
  }
  else if (ms < 100.0)
  {
    snprintf(text, sizeof(text), "%.1f", ms);
  }
  else
  {
    snprintf(text, sizeof(text), "%.0f", ms);
  }
  return text;
}

std::string Fixed(double value, int decimals)
{
  if (!std::isfinite(value))
  {
    return "-";
  }
  char text[32];
  snprintf(text, sizeof(text), "%.*f", decimals, value);
  return text;
}

std::string Count(long long value)
{
  std::string digits = std::to_string(value < 0 ? -value : value);
  std::string text;
  for (size_t k = 0; k < digits.size(); ++k)
  {
    if (k > 0 && (digits.size() - k) % 3 == 0)
    {
      text += ',';
    }
    text += digits[k];
  }
  return value < 0 ? "-" + text : text;
}

std::string Ratio(double a, double b)
{
  if (!(a > 0.0) || !(b > 0.0) || !std::isfinite(a) || !std::isfinite(b))
  {
    return "-";
  }
  return Fixed(a / b, 2);
}

std::string Scientific(double value)
{
  if (!std::isfinite(value))
  {
    return "-";
  }
  char text[32];
  snprintf(text, sizeof(text), "%.1e", value);
  return text;
}

double GrowthExponent(const std::vector<double>& sizes, const std::vector<double>& times)
{
  const size_t count = std::min(sizes.size(), times.size());
  double sx = 0, sy = 0, sxx = 0, sxy = 0;
  for (size_t k = 0; k < count; ++k)
  {
    if (!(sizes[k] > 0.0) || !(times[k] > 0.0))
    {
      return NAN;
    }
    const double x = std::log(sizes[k]);
    const double y = std::log(times[k]);
    sx += x;
    sy += y;
    sxx += x * x;
    sxy += x * y;
  }
  const double spread = count * sxx - sx * sx;
  if (count < 2 || !(spread > 1e-12 * std::max(1.0, sxx)))
  {
    return NAN;
  }
  return (count * sxy - sx * sy) / spread;
}
