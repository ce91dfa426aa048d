/**
 * @class   vtkDatReader
 * @brief   prepares the spline problem of a surface repair
 *
 * Reads the model (VTK legacy polydata) and the outside point-id list, maps the outside vertices
 * into the normalised frame of the model's bounding box as constraint points with their
 * normalised heights, puts 12 frame points of value 0 ahead of them, builds a point locator over
 * all of them, orders them breadth-first by neighbourhood and fills the right-hand side.
 */
#ifndef vtkDatReader_h
#define vtkDatReader_h
#include <vtkFloatArray.h>   // for the Values accessor
#include <vtkIdList.h>       // for the in-memory outside ids
#include <vtkPointLocator.h> // for the Tree accessor
#include <vtkPoints.h>       // for the PointArray accessor
#include <vtkPolyData.h>     // for the Model accessor
#include <vtkSmartPointer.h> // for the Model and input members
#include "PointIdFile.h"      // for the outside ids
class vtkDatReader : public vtkObject
{
public:
  vtkTypeMacro(vtkDatReader, vtkObject);
  static vtkDatReader* New();

  vtkGetObjectMacro(Tree, vtkPointLocator);
  vtkGetObjectMacro(PointArray, vtkPoints);
  vtkGetMacro(B, float*);
  vtkGetMacro(UnList, int*);
  vtkGetMacro(List, int*);
  vtkSetMacro(Radius, float);
  vtkGetMacro(Max, int);
  /// Number of points of the model, known after a successful ReadData (else 0).
  vtkGetMacro(ModelSize, vtkIdType);
  /// The model as read and checked (or as given to SetModel); null before.
  vtkPolyData* GetModel() { return this->Model; }
  /// Value of each point of PointArray: 0 for the frame points, then the
  /// normalised heights of the constraint points; empty before.
  vtkFloatArray* GetValues() { return this->Values; }

  ///@{
  /**
   * Inputs in memory instead of files. SetModel gives a model to use instead
   * of reading ModelName; it is checked as a file would be (finite
   * coordinates, cells within the points) and held by reference, not copied.
   * SetOutsideIds gives the outside ids instead of the list OutsideName. Both
   * default to null: the files are read.
   */
  void SetModel(vtkPolyData* model);
  void SetOutsideIds(vtkIdList* ids);
  ///@}

  ///@{
  /**
   * ReadData in two steps, for callers that look at the spline points before
   * the radius is settled. ReadConstraints reads the model and the outside
   * list and fills PointArray and the values; PrepareSystem then builds the
   * locator, the ordering at the current radius and the right-hand side.
   * Each returns 0 on success and -1 after an error report.
   */
  int ReadConstraints();
  int PrepareSystem();
  ///@}

  /**
   * Reads the model and the outside list and prepares the spline problem.
   * ModelName, OutsideName and the radius must be set. Returns 0 on success
   * and -1 on failure, after an error report through the toolkit's error
   * output. Meant to be called once.
   */
  int ReadData();

protected:
  vtkDatReader();
  ~vtkDatReader() override;

  vtkPoints* PointArray;   // frame points (ids 0..11), then constraint points
  vtkPolyData* PolyData;   // carries PointArray for the locator
  vtkPointLocator* Tree;   // locator over PointArray
  int* List;               // position -> point id (n entries)
  int* UnList;             // point id -> position (n entries)
  float* B;                // minus the value of point List[k], k = 0..n-1
  float Radius;            // support radius in the normalised frame
  int Max;                 // half-bandwidth of the ordering
  vtkIdType ModelSize;     // number of points of the model
  vtkSmartPointer<vtkPolyData> Model;      // the model as read and checked
  vtkSmartPointer<vtkFloatArray> Values;   // value of each point of PointArray
  vtkSmartPointer<vtkIdList> OutsideIds;   // outside ids given in memory, if any

  // The steps of ReadConstraints and PrepareSystem.
  int PlaceConstraintPoints(const std::vector<PointIdEntry>& outside);
  int BuildTreeAndOrdering();

public:
  ///@{
  /**
   * Paths of the outside point-id list and of the model file. Assigned
   * directly by the caller; the strings are borrowed, never copied or freed,
   * and must outlive the reader.
   */
  char* OutsideName;
  char* ModelName;
  ///@}

private:
  vtkDatReader(const vtkDatReader&) = delete;
  void operator=(const vtkDatReader&) = delete;
};

#endif
