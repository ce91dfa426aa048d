#ifndef ResultFile_h
#define ResultFile_h

#include <cstddef>
#include <string>

class vtkDataArray;
class vtkPolyData;

/**
 * Writes data as VTK legacy polydata to path, safely: the file is first
 * written in full to a temporary file beside path, flushed to disk, and only
 * then renamed onto path. A failure (directory not writable, disk full)
 * returns false, removes the temporary file and leaves an existing file at
 * path untouched.
 *
 * The file is ASCII in the classic layout (file version 4.2, readable by old
 * and new VTK readers alike), unless ASCII would change a value: VTK prints
 * floats with six significant digits and doubles with eleven, which would
 * move vertices with large coordinates (map projections, say) by metres and
 * round measured point data, and its reader cannot take back NaN or infinite
 * values. Such a model is written in binary, which keeps every value of
 * every array exactly.
 */
bool WriteResultFile(vtkPolyData* data, const char* path);

/**
 * The binary legacy file (version 4.2) that vtkPolyDataWriter writes for
 * data, byte for byte, formed directly: VTK's writer hands every value to its
 * stream on its own, which took most of the result's writing. Empty when data
 * holds more than points and cells (point, cell or field data, metadata of
 * the points, ids beyond int); VTK's writer writes those.
 */
std::string FormBinaryPointsAndCells(vtkPolyData* data);
/**
 * Writes size bytes of data to a new file beside path (path and a unique
 * suffix), with the permissions a plainly created file would have, and
 * flushes it to disk. Returns the new file's name, for the caller to rename
 * onto path; or an empty string after a failure, which leaves no file.
 */
std::string WriteTemporaryBeside(const std::string& path, const char* data, size_t size);

/**
 * True when VTK's ASCII output gives back every value exactly: the point
 * coordinates and every array of the point data, the cell data and the field
 * data.
 */
bool AsciiKeepsEveryValue(vtkPolyData* data);

/// True when VTK's ASCII output gives back every value of array exactly.
bool AsciiKeepsArray(vtkDataArray* array);

#endif
