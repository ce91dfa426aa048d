#ifndef ResultFile_h
#define ResultFile_h

class vtkPolyData;

/**
 * Writes data as VTK legacy polydata to path, safely: the file is first
 * written in full to a temporary file beside path, flushed to disk, and only
 * then renamed onto path. A failure (directory not writable, disk full)
 * returns false, removes the temporary file and leaves an existing file at
 * path untouched.
 *
 * The file is ASCII in the classic layout (file version 4.2, readable by old
 * and new VTK readers alike), unless ASCII would round the point coordinates:
 * VTK prints floats with six significant digits, which would move vertices
 * with large coordinates (map projections, say) by metres. Such a model is
 * written in binary, which keeps every coordinate exactly.
 */
bool WriteResultFile(vtkPolyData* data, const char* path);

/// True when VTK's ASCII output gives back every point coordinate exactly.
bool AsciiKeepsCoordinates(vtkPolyData* data);

#endif
