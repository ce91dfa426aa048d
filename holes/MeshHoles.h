#ifndef MeshHoles_h
#define MeshHoles_h

#include <vtkType.h>

#include <cstdint>
#include <vector>

class vtkPolyData;

/**
 * The edges of a model's surface cells (polygons and triangle strips), as
 * neighbour lists in compressed form. An edge is listed once for every cell
 * that uses it, so that a vertex on the border of the surface (on an edge of
 * one cell only) can be told from an inner one. Vertices and lines are not
 * part of the surface and give no edges.
 *
 * Building is linear in the size of the model.
 */
class MeshAdjacency
{
public:
  explicit MeshAdjacency(vtkPolyData* model);

  vtkIdType GetNumberOfVertices() const { return static_cast<vtkIdType>(this->Offsets.size()) - 1; }

  /// The neighbours of vertex v, [Begin(v), End(v)), with repeats.
  const std::int32_t* Begin(vtkIdType v) const { return this->Ids.data() + this->Offsets[v]; }
  const std::int32_t* End(vtkIdType v) const { return this->Ids.data() + this->Offsets[v + 1]; }

  /// True when v lies on an edge that only one cell uses (or on none at all).
  bool OnBorder(vtkIdType v) const;

private:
  std::vector<vtkIdType> Offsets; // number of vertices + 1
  std::vector<std::int32_t> Ids;
};

/// One hole: a connected component of the inside vertices.
struct Hole
{
  vtkIdType FirstVertex = 0; ///< its lowest vertex id
  vtkIdType Vertices = 0;    ///< its number of vertices
  double Extent[2] = { 0.0, 0.0 }; ///< width in x and y, model units
  double Reach = 0.0;      ///< largest distance to the nearest outside vertex, model units
  double FrameReach = 0.0; ///< the same in the normalised frame
  bool Border = false;     ///< one of its vertices lies on the border of the model
};

/**
 * The connected components of the inside vertices (inside[i] != 0) over the
 * edges of the model's cells, ordered by their lowest vertex id. Reaches are
 * left 0 (see MeasureReach).
 */
std::vector<Hole> FindHoles(
  vtkPolyData* model, const MeshAdjacency& edges, const std::vector<char>& inside);

/**
 * The outside vertices: every vertex within rings edge-steps of an inside
 * vertex that is not inside itself and has a finite height, in ascending
 * order.
 */
std::vector<vtkIdType> RingAround(vtkPolyData* model, const MeshAdjacency& edges,
  const std::vector<char>& inside, int rings);

/**
 * Fills in the reach of each hole: the largest distance, in the x-y plane,
 * from one of its vertices to the nearest vertex of outside, in model units
 * and in the normalised frame of the model. holes must come from FindHoles
 * with the same inside flags; outside must not be empty.
 */
void MeasureReach(vtkPolyData* model, const MeshAdjacency& edges, const std::vector<char>& inside,
  const std::vector<vtkIdType>& outside, std::vector<Hole>& holes);

#endif
