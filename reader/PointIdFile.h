#ifndef PointIdFile_h
#define PointIdFile_h

#include <cstdio>
#include <vector>

/**
 * Reading of a point-id list file: the inside and the outside vertex lists.
 *
 * The format is plain text with one zero-based vertex id per line, as the C
 * "%d" conversion reads it (optional white space, optional sign, digits);
 * anything after the integer is ignored, and a line that does not start with
 * an integer (empty line, header, comment) is skipped without a message.
 *
 * Lines are read through a buffer of 10 bytes, so at most 9 characters at a
 * time, the line end counted as one. A longer line is consumed in successive
 * pieces and every piece is parsed as a line of its own: "1234567890" yields
 * the ids 123456789 and 0. No piece can hold an integer too large for an int.
 * A last line without a line end is used like any other.
 */

/// One id taken from a list file, with the (one-based) line it stood on.
struct PointIdEntry
{
  int Id;
  int Line;
};

/**
 * Reads every id of an open list file, in file order, appending to ids.
 * Reading ends at end of file or at a read error; the result is false after a
 * read error (a directory, an I/O failure). The file is not closed.
 */
bool ReadPointIds(FILE* file, std::vector<PointIdEntry>& ids);

/**
 * Opens path for reading in text mode and reads it as above.
 * Returns false when the file cannot be opened or read.
 */
bool ReadPointIdFile(const char* path, std::vector<PointIdEntry>& ids);

#endif
