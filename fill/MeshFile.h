#ifndef MeshFile_h
#define MeshFile_h

#include <vtkSmartPointer.h>
#include <vtkType.h>

#include <string>

class vtkPolyData;

/// The extension of a file name with its dot, in lower case ("" without one).
std::string Extension(const std::string& path);

/// True when path names a mesh format surface_fill reads and writes
/// (.vtk, .vtp, .ply, .obj, .stl, in any case).
bool IsMeshName(const std::string& path);

/**
 * Reads a mesh by its name's extension: VTK legacy polydata with the
 * program's own model reader (it takes nan and inf heights in ASCII files),
 * the others with VTK's readers. An STL file repeats each vertex in every
 * triangle: coincident points are merged, and merged tells how many points
 * went (0 for the other formats). Null with problem naming the file and the
 * reason after a failure; x and y must be finite.
 */
vtkSmartPointer<vtkPolyData> ReadMesh(const std::string& path, vtkIdType& merged, std::string& problem);

/**
 * Writes model by the name's extension, whole or not at all: to a temporary
 * file beside path, renamed onto it when complete. False with problem after
 * a failure, which leaves an earlier file at path as it was.
 */
bool WriteMesh(vtkPolyData* model, const std::string& path, std::string& problem);

#endif
