/**
 * @class   vtkHeightGridFill
 * @brief   fills the voids of a block of a raster, as surface_fill fills them
 *
 * vtkHeightGridFill runs the fill of the program surface_fill on a block of
 * a raster held in memory: the heights of its cells (a vtkDoubleArray of
 * width * height values, rows from the top, filled in place) and the mask of
 * its voids (non-zero: a void cell). The block's columns and rows count from
 * those of the larger raster it is cut from, so that a block that holds the
 * whole window of a group of voids fills that group exactly as the fill of
 * the whole raster does: positions, windows and borders are those of the
 * larger raster. This is what lets the workers of a cluster fill the voids of
 * one raster window by window (surface_repair.fill in Python).
 *
 * Each void (eight-connected void cells), or group of voids whose rings meet,
 * is repaired on its own window by the program's stages, at Radius or at the
 * radius the chooser takes for it. With seeds, only the groups that hold a
 * seed cell are filled. A group that cannot be filled keeps its heights and
 * says why in the report.
 *
 * @warning
 * The void cells' heights are set to NaN before the fill: a void cell that
 * still holds NaN afterwards was not filled. The spline is fitted and
 * evaluated in single precision, as in the program.
 *
 * @sa
 * vtkSurfaceRepairFilter
 */
#ifndef vtkHeightGridFill_h
#define vtkHeightGridFill_h

#include "SurfaceRepairFilterModule.h" // for the export macro
#include <vtkObject.h>

#include <string> // for the report

class vtkDataArray;
class vtkIdList;
class vtkIdTypeArray;

class SURFACEREPAIRFILTER_EXPORT vtkHeightGridFill : public vtkObject
{
public:
  static vtkHeightGridFill* New();
  vtkTypeMacro(vtkHeightGridFill, vtkObject);
  void PrintSelf(ostream& os, vtkIndent indent) override;

  ///@{
  /**
   * The block's heights: a vtkDoubleArray of width * height values, one
   * component, rows from the top; filled in place. Default null.
   */
  virtual void SetHeights(vtkDataArray* heights);
  vtkGetObjectMacro(Heights, vtkDataArray);
  ///@}

  ///@{
  /**
   * The block's voids: width * height values of any type, non-zero for a
   * void cell (an unsigned char array is usual). Default null.
   */
  virtual void SetMask(vtkDataArray* mask);
  vtkGetObjectMacro(Mask, vtkDataArray);
  ///@}

  /**
   * The block: its size, its first column and row in the larger raster and
   * the larger raster's size (0: the block's own). Default: 0 x 0 at 0, 0.
   */
  void SetBlock(int width, int height, int column0, int row0, int fullWidth, int fullHeight);
  vtkGetVector6Macro(Block, int);

  ///@{
  /**
   * The raster's geotransform, as GDAL gives it: x = g0 + column * g1 +
   * row * g2, y = g3 + column * g4 + row * g5 at a cell's corner. Default
   * 0, 1, 0, 0, 0, 1 (pixel units).
   */
  vtkSetVector6Macro(GeoTransform, double);
  vtkGetVector6Macro(GeoTransform, double);
  ///@}

  ///@{
  /**
   * Rings of known cells around each void that the spline goes through
   * (surface_fill's --ring). Default 6, at least 1.
   */
  vtkSetClampMacro(Rings, int, 1, 1000);
  vtkGetMacro(Rings, int);
  ///@}

  ///@{
  /**
   * The spline's support radius in each window's normalised frame; 0 (the
   * default): chosen for each group from its data, as --radius auto.
   */
  vtkSetClampMacro(Radius, double, 0.0, VTK_DOUBLE_MAX);
  vtkGetMacro(Radius, double);
  ///@}

  ///@{
  /**
   * Groups repaired at once; 0 (the default): the machine's cores. The
   * heights do not depend on it.
   */
  vtkSetClampMacro(Threads, int, 0, 1024);
  vtkGetMacro(Threads, int);
  ///@}

  ///@{
  /**
   * Cell ids of the block (row * width + column): when the list holds any,
   * only the groups with one of these cells are filled. Default null (all).
   */
  virtual void SetSeeds(vtkIdList* seeds);
  vtkGetObjectMacro(Seeds, vtkIdList);
  ///@}

  /**
   * Fills the voids. Returns the number of voids filled, or -1 after an
   * error (a missing or wrongly sized array, a block outside the larger
   * raster, a seed outside the block, memory that ran out), reported with
   * vtkErrorMacro and in GetReport().
   */
  int Fill();

  /**
   * The voids of the last Fill that were not skipped, one CSV line each, in
   * the order of their first cells:
   * column,row,cells,ring_points,radius,model_radius,seconds,status,message
   * (column and row of the void's first cell in the larger raster; status as
   * surface_fill's report words it: filled, no ring, out of reach, refused,
   * failed). After an error: the error's message.
   */
  const char* GetReport() { return this->Report.c_str(); }

  /**
   * The block's cell ids that the last Fill wrote, ascending.
   */
  void GetFilledCells(vtkIdTypeArray* cells);

  ///@{
  /**
   * What the last Fill found: voids in the block, groups, and voids filled.
   */
  vtkGetMacro(NumberOfVoids, vtkIdType);
  vtkGetMacro(NumberOfGroups, vtkIdType);
  vtkGetMacro(NumberOfFilledVoids, vtkIdType);
  ///@}

protected:
  vtkHeightGridFill();
  ~vtkHeightGridFill() override;

  vtkDataArray* Heights = nullptr;
  vtkDataArray* Mask = nullptr;
  vtkIdList* Seeds = nullptr;
  int Block[6] = { 0, 0, 0, 0, 0, 0 };
  double GeoTransform[6] = { 0.0, 1.0, 0.0, 0.0, 0.0, 1.0 };
  int Rings = 6;
  double Radius = 0.0;
  int Threads = 0;
  vtkIdType NumberOfVoids = 0;
  vtkIdType NumberOfGroups = 0;
  vtkIdType NumberOfFilledVoids = 0;
  std::string Report;
  vtkIdTypeArray* Filled = nullptr;

private:
  bool CheckInput();
  vtkHeightGridFill(const vtkHeightGridFill&) = delete;
  void operator=(const vtkHeightGridFill&) = delete;
};

#endif
