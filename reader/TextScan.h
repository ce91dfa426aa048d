#ifndef TextScan_h
#define TextScan_h

#include <cstddef>
#include <cstdint>

/**
 * Fast readers of the number lists of an ASCII model file held in memory.
 *
 * Each reads the words from offset `at` of text[0, size) as the stream
 * extraction of vtkDataReader would (words separated by white space, a word
 * at most 255 characters long) and gives the offset after the last word it
 * used, where the reader's stream continues. Each gives false, having stored
 * nothing the caller may use, wherever the stream reading might differ from
 * it or would fail: a word that is not a plain number, a value out of range,
 * a list ending early. The caller then reads the section the slow way, from
 * the same position, and that reading reports what is wrong.
 */

/**
 * count reals; the ones that the C library reads differently from
 * std::from_chars (nan, inf, hexadecimal, a leading +) are read with strtof
 * (float) or strtod (double), as the word-by-word reading does.
 */
bool ScanReals(const char* text, size_t size, size_t at, size_t count, float* values,
  size_t* end);
bool ScanReals(const char* text, size_t size, size_t at, size_t count, double* values,
  size_t* end);

/**
 * count integers as operator>> reads them into the type: an optional minus
 * sign and decimal digits, each word ending at white space.
 */
bool ScanIntegers(const char* text, size_t size, size_t at, size_t count, int* values,
  size_t* end);
bool ScanIntegers(const char* text, size_t size, size_t at, size_t count, long long* values,
  size_t* end);

/// count ints, as operator>> reads them into int, stored widened.
bool ScanIntsWidened(const char* text, size_t size, size_t at, size_t count, long long* values,
  size_t* end);

/**
 * True if the next word from at starts with prefix, compared without case
 * (prefix in lower case).
 */
bool NextWordStartsWith(const char* text, size_t size, size_t at, const char* prefix);

#endif
