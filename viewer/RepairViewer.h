#ifndef RepairViewer_h
#define RepairViewer_h

#include <vtkSmartPointer.h>

#include <string>

class vtkActor;
class vtkCallbackCommand;
class vtkCamera;
class vtkIdList;
class vtkLookupTable;
class vtkObject;
class vtkPolyData;
class vtkPolyDataMapper;
class vtkRenderWindow;
class vtkRenderWindowInteractor;
class vtkRenderer;
class vtkScalarBarActor;
class vtkTextActor;
typedef struct _XDisplay Display;

/**
 * @class RepairViewer
 * @brief The window that shows a repair: the source model on the left, the
 * result on the right, until the user presses q or closes it.
 *
 * One 1020 x 510 window on white, split into two 510 x 510 halves. Both
 * models are coloured by height through their mappers, with one lookup table
 * over the finite heights of the source's vertices outside the repaired
 * region (the inside vertices' damage would stretch it), so equal colours
 * mean equal heights left and right; a scalar bar on the right gives the heights in
 * model units. One camera serves both halves: rotating, panning or zooming
 * either moves both. The first view looks down at the whole model at about 35
 * degrees, the heights stretched alike in both actors (through their scale)
 * so that the relief shows as a fifth of the model's width. On the right a
 * light line outlines the cells of the moved vertices. The halves carry the
 * labels "Source" and "Result", the window title the model's file name.
 *
 * The objects are released in groups, so that the driver can fit them into
 * its fixed teardown order: ReleaseWindow (the right renderer, the render
 * window, the interactor), ReleaseResultView (result mapper and actor),
 * ReleaseSourceView (source mapper and actor, left renderer), then
 * ReleaseScene (everything else, the X connection last). The destructor
 * releases what is left in that order.
 */
class RepairViewer
{
public:
  RepairViewer();
  ~RepairViewer();

  /**
   * Opens the X display and checks that it can show the window. False, with
   * the message for the console in whyNot, when there is no display or it
   * has no OpenGL.
   */
  bool OpenDisplay(std::string& whyNot);

  /**
   * Shows source and result (the same points in the same order, the same
   * cells) and returns when the user ends the interaction. OpenDisplay must
   * have succeeded. inside holds the ids of the vertices to be repaired,
   * whose heights the colour range leaves out (null: none).
   * modelName goes into the window title.
   */
  void Show(vtkPolyData* source, vtkPolyData* result, vtkIdList* inside,
    const std::string& modelName);

  ///@{
  /// The release groups, in the order the driver calls them.
  void ReleaseWindow();
  void ReleaseResultView();
  void ReleaseSourceView();
  void ReleaseScene();
  ///@}

private:
  RepairViewer(const RepairViewer&) = delete;
  void operator=(const RepairViewer&) = delete;

  void BuildWindow(const std::string& modelName);
  void BuildModels(vtkPolyData* source, vtkPolyData* result, vtkIdList* inside);
  void BuildAnnotations();
  void AimCamera(vtkPolyData* source, vtkPolyData* result);
  static void FitClippingRange(vtkObject*, unsigned long, void* viewer, void*);

  // The objects of the driver's teardown order.
  vtkSmartPointer<vtkRenderer> RightRenderer;
  vtkSmartPointer<vtkRenderWindow> Window;
  vtkSmartPointer<vtkRenderWindowInteractor> Interactor;
  vtkSmartPointer<vtkPolyDataMapper> ResultMapper;
  vtkSmartPointer<vtkActor> ResultActor;
  vtkSmartPointer<vtkPolyDataMapper> SourceMapper;
  vtkSmartPointer<vtkActor> SourceActor;
  vtkSmartPointer<vtkRenderer> LeftRenderer;

  // The rest of the scene.
  vtkSmartPointer<vtkLookupTable> Colours;
  vtkSmartPointer<vtkCamera> Camera;
  vtkSmartPointer<vtkCallbackCommand> ClipToScene;
  double SceneBounds[6] = { 0, 1, 0, 1, 0, 1 }; // both models as drawn
  vtkSmartPointer<vtkPolyDataMapper> OutlineMapper;
  vtkSmartPointer<vtkActor> OutlineActor;
  vtkSmartPointer<vtkScalarBarActor> ScalarBar;
  vtkSmartPointer<vtkTextActor> BarTitle;
  vtkSmartPointer<vtkTextActor> SourceLabel;
  vtkSmartPointer<vtkTextActor> ResultLabel;
  vtkSmartPointer<vtkTextActor> ScaleNote;
  double Exaggeration = 1.0;
  Display* ViewerDisplay = nullptr; // the window's X connection, closed after the window
};

#endif
