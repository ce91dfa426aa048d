#ifndef ModelFile_h
#define ModelFile_h

#include <vtkPolyData.h>
#include <vtkSmartPointer.h>

#include <string>

/**
 * Reads a model file (VTK legacy polydata, ASCII or binary) and checks it.
 *
 * The file is read with the building blocks of vtkPolyDataReader, section by
 * section, and reading stops at the first section that fails. The reader's own
 * loop goes on after a failed cell section and then reads from a stream it has
 * already closed, which crashes the process on a truncated model. The file
 * is read into memory in one piece; the number lists of ASCII points and
 * cells are parsed from there in one pass where that gives exactly what the
 * word-by-word reading gives, and by that reading otherwise.
 *
 * A model is refused when
 * - it cannot be opened, its header is not that of a VTK legacy file, or it
 *   is not DATASET POLYDATA;
 * - any section (points, cells, point or cell attributes, field data) is
 *   short, malformed or of an unknown kind;
 * - an x or y coordinate is not finite (NaN or infinite): the normalised
 *   frame and the point locator need them. A height (z) that is not finite
 *   marks a void of the model and is accepted, in binary files and as the
 *   words nan, inf and -inf in ASCII ones (VTK's writer puts them there, but
 *   its reader cannot read them back);
 * - a cell refers to a point the model does not have.
 *
 * Returns the model, or null after a refusal. problem then holds a message
 * naming the file and the culprit, or stays empty when VTK has already
 * reported the reason through its error output (the caller then says which
 * file could not be read).
 */
vtkSmartPointer<vtkPolyData> ReadModelFile(const char* path, std::string& problem);

/**
 * The checks of ReadModelFile that apply to a model however it was obtained:
 * finite x and y at every point (the heights may be missing) and every cell
 * within the points. Returns
 * false with problem naming the culprit (name stands for the model in the
 * message).
 */
bool CheckModel(vtkPolyData* model, const char* name, std::string& problem);

// What a file that is not a model of this program holds, told from its first
// bytes, so that the refusal can say what was found and what is read
// (ModelFormat.cxx).

/**
 * What the file at path holds when it is a kind of file other than VTK legacy
 * polydata, for messages: "it holds an UNSTRUCTURED_GRID dataset" (another
 * VTK legacy dataset), "it is an STL file", "it is a PLY file", "it is a
 * Wavefront OBJ file", "it is a VTK XML file", "it is a TIFF image", "it is
 * an ESRI ASCII grid". Empty when the file cannot be opened, is VTK legacy
 * polydata, or is none of these.
 */
std::string DescribeOtherFormat(const char* path);

/**
 * The refusal of a model that could not be read: "Can not read model " and
 * path, followed, when DescribeOtherFormat tells what the file holds, by ": ",
 * that description, "; ", program, " reads VTK legacy POLYDATA (surface_fill
 * reads other mesh formats and rasters)".
 */
std::string UnreadableModelMessage(const std::string& path, const char* program);

#endif
