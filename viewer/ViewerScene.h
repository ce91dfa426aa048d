#ifndef ViewerScene_h
#define ViewerScene_h

#include <vtkSmartPointer.h>

class vtkIdList;
class vtkLookupTable;
class vtkPolyData;

/**
 * The pieces of the viewer's scene that are computed rather than set: the
 * height range, the vertical exaggeration, the colours and the outline of the
 * repaired region.
 */

/**
 * The bounds of data's points, each coordinate over its finite values only
 * (a void in a height field may carry NaN heights). False, with bounds left
 * alone, when some coordinate has no finite value at all.
 */
bool FiniteBounds(vtkPolyData* data, double bounds[6]);

/**
 * The range of the finite heights of data's points that are not in
 * excluded (the inside vertices, whose heights are the damage the repair
 * replaces): the colour range, which a spike or pit in the damaged region
 * would otherwise stretch. Ids out of range in excluded are ignored; a null
 * excluded excludes nothing. False, with range left alone, when no such
 * point has a finite height.
 */
bool KeptHeightRange(vtkPolyData* data, vtkIdList* excluded, double range[2]);

/**
 * The factor that stretches (or squeezes) heights so that the height range of
 * bounds shows as ReliefFraction of the larger horizontal extent: relief reads
 * alike on a plain and in the mountains. 1 for a flat model or a model with
 * no horizontal extent.
 */
double VerticalExaggeration(const double bounds[6]);
constexpr double ReliefFraction = 0.2;

/**
 * One colour map for heights over range (low to high: dark violet, blue,
 * green, yellow), saturated everywhere so that shading never greys it out;
 * heights outside the range take the end colours, NaN heights grey. A range
 * of zero width is widened by half a unit on each side.
 */
vtkSmartPointer<vtkLookupTable> HeightColours(const double range[2]);

/**
 * The outline of the repaired region: the boundary edges of the cells
 * (polygons and triangle strips) that have at least one vertex whose
 * coordinates differ between source and result, as lines on result's points.
 * source and result have the same points in the same order and the same
 * cells. Empty when nothing moved.
 */
vtkSmartPointer<vtkPolyData> MovedCellsOutline(vtkPolyData* source, vtkPolyData* result);

#endif
