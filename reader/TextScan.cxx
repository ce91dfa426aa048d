#include "TextScan.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <system_error>

namespace
{
// The longest word vtkDataReader::ReadString extracts (its buffers hold 256
// characters); a longer one is split, which the fast readers leave to it.
const size_t LongestWord = 255;

// White space as the classic locale's ctype classifies it.
inline bool IsSpace(char c)
{
  return c == ' ' || (c >= '\t' && c <= '\r');
}

inline size_t SkipSpace(const char* text, size_t size, size_t at)
{
  while (at < size && IsSpace(text[at]))
  {
    ++at;
  }
  return at;
}

// A word the C library reads: copied to end in a null, as ReadString gives
// it to strtof and strtod.
bool ReadWithCLibrary(const char* word, size_t length, float* value)
{
  char copy[LongestWord + 1];
  memcpy(copy, word, length);
  copy[length] = '\0';
  char* end = nullptr;
  *value = strtof(copy, &end);
  return end != copy && *end == '\0';
}

bool ReadWithCLibrary(const char* word, size_t length, double* value)
{
  char copy[LongestWord + 1];
  memcpy(copy, word, length);
  copy[length] = '\0';
  char* end = nullptr;
  *value = strtod(copy, &end);
  return end != copy && *end == '\0';
}

template <typename T>
bool ScanRealList(const char* text, size_t size, size_t at, size_t count, T* values, size_t* end)
{
  for (size_t k = 0; k < count; ++k)
  {
    at = SkipSpace(text, size, at);
    size_t stop = at;
    while (stop < size && !IsSpace(text[stop]))
    {
      ++stop;
    }
    const size_t length = stop - at;
    if (length == 0 || length >= LongestWord)
    {
      return false;
    }
    // Both round correctly; from_chars refuses what it does not read alike.
    T value = 0;
    const std::from_chars_result read =
      std::from_chars(text + at, text + stop, value, std::chars_format::general);
    if (read.ec != std::errc() || read.ptr != text + stop || !std::isfinite(value))
    {
      if (!ReadWithCLibrary(text + at, length, &value))
      {
        return false;
      }
    }
    values[k] = value;
    at = stop;
  }
  *end = at;
  return true;
}

// Reads an optional minus sign and decimal digits at text[at, size) into
// value as std::from_chars does (false for no digits or a value out of T's
// range), inline: the lists are mostly short numbers. Sets *stop after them.
template <typename T>
inline bool ParseInteger(const char* text, size_t size, size_t at, T* value, size_t* stop)
{
  using Wide = unsigned long long;
  const bool negative = at < size && text[at] == '-';
  at += negative ? 1 : 0;
  const size_t digits = at;
  const Wide limit = negative ? static_cast<Wide>(std::numeric_limits<T>::max()) + 1
                              : static_cast<Wide>(std::numeric_limits<T>::max());
  Wide v = 0;
  for (; at < size && static_cast<unsigned char>(text[at] - '0') < 10; ++at)
  {
    const unsigned digit = static_cast<unsigned char>(text[at] - '0');
    if (v > (limit - digit) / 10)
    {
      return false;
    }
    v = 10 * v + digit;
  }
  if (at == digits)
  {
    return false;
  }
  // Two's complement: the negation of v, within T's range by the limit.
  *value = static_cast<T>(negative ? ~v + 1 : v);
  *stop = at;
  return true;
}

// Values read as T, stored as Stored.
template <typename T, typename Stored>
bool ScanIntegerList(
  const char* text, size_t size, size_t at, size_t count, Stored* values, size_t* end)
{
  for (size_t k = 0; k < count; ++k)
  {
    at = SkipSpace(text, size, at);
    // A minus sign but no plus, and digits only.
    T value = 0;
    size_t stop = at;
    if (!ParseInteger(text, size, at, &value, &stop) || (stop < size && !IsSpace(text[stop])))
    {
      return false;
    }
    values[k] = value;
    at = stop;
  }
  *end = at;
  return true;
}
} // namespace

bool ScanReals(
  const char* text, size_t size, size_t at, size_t count, float* values, size_t* end)
{
  return ScanRealList(text, size, at, count, values, end);
}

bool ScanReals(
  const char* text, size_t size, size_t at, size_t count, double* values, size_t* end)
{
  return ScanRealList(text, size, at, count, values, end);
}

bool ScanIntegers(
  const char* text, size_t size, size_t at, size_t count, int* values, size_t* end)
{
  return ScanIntegerList<int>(text, size, at, count, values, end);
}

bool ScanIntegers(
  const char* text, size_t size, size_t at, size_t count, long long* values, size_t* end)
{
  return ScanIntegerList<long long>(text, size, at, count, values, end);
}

bool ScanIntsWidened(
  const char* text, size_t size, size_t at, size_t count, long long* values, size_t* end)
{
  return ScanIntegerList<int>(text, size, at, count, values, end);
}

bool NextWordStartsWith(const char* text, size_t size, size_t at, const char* prefix)
{
  at = SkipSpace(text, size, at);
  for (; *prefix != '\0'; ++prefix, ++at)
  {
    if (at >= size || (text[at] | 0x20) != *prefix)
    {
      return false;
    }
  }
  return true;
}
