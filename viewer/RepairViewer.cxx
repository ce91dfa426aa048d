#include "RepairViewer.h"

#include "ViewerDisplay.h"
#include "ViewerScene.h"

#include <vtkActor.h>
#include <vtkCallbackCommand.h>
#include <vtkCamera.h>
#include <vtkCoordinate.h>
#include <vtkInteractorStyleTrackballCamera.h>
#include <vtkLookupTable.h>
#include <vtkNew.h>
#include <vtkPolyData.h>
#include <vtkPolyDataMapper.h>
#include <vtkPolyDataNormals.h>
#include <vtkProperty.h>
#include <vtkRenderWindow.h>
#include <vtkRenderWindowInteractor.h>
#include <vtkRenderer.h>
#include <vtkScalarBarActor.h>
#include <vtkSimpleElevationFilter.h>
#include <vtkTextActor.h>
#include <vtkTextProperty.h>

#include <X11/Xlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace
{
const double Ink[3] = { 0.15, 0.15, 0.15 }; // labels and scale
const char* const HeightArray = "Elevation"; // what vtkSimpleElevationFilter names it

// Draws data coloured by its z coordinates through colours, shaded with
// smooth normals of the unstretched model (the actor's matrix carries its
// vertical stretch over to them).
vtkSmartPointer<vtkPolyDataMapper> HeightMapper(vtkPolyData* data, vtkLookupTable* colours)
{
  vtkNew<vtkSimpleElevationFilter> heights;
  heights->SetInputData(data);
  heights->SetVector(0.0, 0.0, 1.0);
  vtkNew<vtkPolyDataNormals> normals;
  normals->SetInputConnection(heights->GetOutputPort());
  normals->SplittingOff();

  auto mapper = vtkSmartPointer<vtkPolyDataMapper>::New();
  mapper->SetInputConnection(normals->GetOutputPort());
  mapper->SetLookupTable(colours);
  mapper->UseLookupTableScalarRangeOn();
  mapper->SetScalarModeToUsePointFieldData();
  mapper->SelectColorArray(HeightArray);
  mapper->ScalarVisibilityOn();
  mapper->InterpolateScalarsBeforeMappingOn();
  return mapper;
}

void StyleText(vtkTextProperty* text, int size, bool bold)
{
  text->SetColor(Ink[0], Ink[1], Ink[2]);
  text->SetFontSize(size);
  text->SetBold(bold);
  text->SetItalic(false);
  text->SetShadow(false);
}

// Labels with as many decimals as a range of that width needs: "%.0f" for
// hundreds of metres, "%.2f" for a few units.
std::string LabelFormat(const double range[2])
{
  const double width = range[1] - range[0];
  const int decimals =
    width > 0.0 ? std::max(0, 2 - static_cast<int>(std::floor(std::log10(width)))) : 2;
  return "%." + std::to_string(std::min(decimals, 9)) + "f";
}

// A text at (x, y), fractions of its renderer's viewport.
vtkSmartPointer<vtkTextActor> Label(const char* text, double x, double y, int size, bool bold)
{
  auto label = vtkSmartPointer<vtkTextActor>::New();
  label->SetInput(text);
  label->GetPositionCoordinate()->SetCoordinateSystemToNormalizedViewport();
  label->SetPosition(x, y);
  StyleText(label->GetTextProperty(), size, bold);
  return label;
}
} // namespace

RepairViewer::RepairViewer() = default;

RepairViewer::~RepairViewer()
{
  this->ReleaseWindow();
  this->ReleaseResultView();
  this->ReleaseSourceView();
  this->ReleaseScene();
}

bool RepairViewer::OpenDisplay(std::string& whyNot)
{
  this->ViewerDisplay = OpenViewerDisplay(whyNot);
  return this->ViewerDisplay != nullptr;
}

void RepairViewer::Show(
  vtkPolyData* source, vtkPolyData* result, vtkIdList* inside, const std::string& modelName)
{
  this->BuildWindow(modelName);
  this->BuildModels(source, result, inside);
  this->BuildAnnotations();
  this->AimCamera(source, result);
  this->Window->Render();
  this->Interactor->Start();
}

void RepairViewer::BuildWindow(const std::string& modelName)
{
  this->LeftRenderer = vtkSmartPointer<vtkRenderer>::New();
  this->RightRenderer = vtkSmartPointer<vtkRenderer>::New();
  this->LeftRenderer->SetBackground(1, 1, 1);
  this->RightRenderer->SetBackground(1, 1, 1);
  this->LeftRenderer->SetViewport(0, 0, 0.5, 1);
  this->RightRenderer->SetViewport(0.5, 0, 1, 1);
  this->Camera = vtkSmartPointer<vtkCamera>::New();
  this->LeftRenderer->SetActiveCamera(this->Camera);
  this->RightRenderer->SetActiveCamera(this->Camera);

  this->Window = vtkSmartPointer<vtkRenderWindow>::New();
  this->Window->AddRenderer(this->LeftRenderer);
  this->Window->AddRenderer(this->RightRenderer);
  this->Window->SetSize(1020, 510);
  this->Window->SetDisplayId(this->ViewerDisplay);
  this->Window->SetWindowName(("surface_repair: " + modelName).c_str());

  this->Interactor = vtkSmartPointer<vtkRenderWindowInteractor>::New();
  this->Interactor->SetRenderWindow(this->Window);
  vtkNew<vtkInteractorStyleTrackballCamera> style;
  this->Interactor->SetInteractorStyle(style);
}

void RepairViewer::BuildModels(vtkPolyData* source, vtkPolyData* result, vtkIdList* inside)
{
  double bounds[6] = { 0, 1, 0, 1, 0, 1 };
  FiniteBounds(source, bounds);
  double heights[2] = { bounds[4], bounds[5] };
  KeptHeightRange(source, inside, heights);
  this->Colours = HeightColours(heights);
  this->Exaggeration = VerticalExaggeration(bounds);

  this->SourceMapper = HeightMapper(source, this->Colours);
  this->SourceActor = vtkSmartPointer<vtkActor>::New();
  this->SourceActor->SetMapper(this->SourceMapper);
  this->SourceActor->GetProperty()->SetInterpolation(VTK_GOURAUD);
  this->SourceActor->SetScale(1.0, 1.0, this->Exaggeration);
  this->LeftRenderer->AddViewProp(this->SourceActor);

  this->ResultMapper = HeightMapper(result, this->Colours);
  this->ResultActor = vtkSmartPointer<vtkActor>::New();
  this->ResultActor->SetMapper(this->ResultMapper);
  this->ResultActor->SetScale(1.0, 1.0, this->Exaggeration);
  this->RightRenderer->AddViewProp(this->ResultActor);

  this->OutlineMapper = vtkSmartPointer<vtkPolyDataMapper>::New();
  this->OutlineMapper->SetInputData(MovedCellsOutline(source, result));
  this->OutlineMapper->ScalarVisibilityOff();
  this->OutlineActor = vtkSmartPointer<vtkActor>::New();
  this->OutlineActor->SetMapper(this->OutlineMapper);
  this->OutlineActor->GetProperty()->SetColor(1.0, 1.0, 1.0);
  this->OutlineActor->GetProperty()->SetLineWidth(1.5);
  this->OutlineActor->GetProperty()->LightingOff();
  this->OutlineActor->SetScale(1.0, 1.0, this->Exaggeration);
  this->RightRenderer->AddViewProp(this->OutlineActor);
}

void RepairViewer::BuildAnnotations()
{
  this->SourceLabel = Label("Source", 0.04, 0.92, 20, true);
  this->LeftRenderer->AddViewProp(this->SourceLabel);
  this->ResultLabel = Label("Result", 0.04, 0.92, 20, true);
  this->RightRenderer->AddViewProp(this->ResultLabel);

  char note[64];
  // Two significant digits, without an exponent: 2.3, 56, 5600, 0.054.
  const double unit = std::pow(10.0, std::floor(std::log10(this->Exaggeration)) - 1.0);
  snprintf(note, sizeof(note), "Vertical exaggeration %g",
    std::round(this->Exaggeration / unit) * unit);
  this->ScaleNote = Label(note, 0.04, 0.03, 12, false);
  this->LeftRenderer->AddViewProp(this->ScaleNote);

  // The bar's own title collides with its labels when it lies across the
  // window: the title stands beside it instead.
  this->ScalarBar = vtkSmartPointer<vtkScalarBarActor>::New();
  this->ScalarBar->SetLookupTable(this->Colours);
  this->ScalarBar->SetNumberOfLabels(5);
  this->ScalarBar->SetLabelFormat(LabelFormat(this->Colours->GetTableRange()).c_str());
  this->ScalarBar->UnconstrainedFontSizeOn();
  StyleText(this->ScalarBar->GetLabelTextProperty(), 12, false);
  this->ScalarBar->SetOrientationToHorizontal();
  this->ScalarBar->SetTextPositionToPrecedeScalarBar();
  this->ScalarBar->GetPositionCoordinate()->SetCoordinateSystemToNormalizedViewport();
  this->ScalarBar->SetPosition(0.50, 0.84);
  this->ScalarBar->SetWidth(0.46);
  this->ScalarBar->SetHeight(0.13);
  this->ScalarBar->SetTitle("");
  this->BarTitle = Label("Height", 0.335, 0.92, 14, true);
  this->RightRenderer->AddViewProp(this->BarTitle);
  this->RightRenderer->AddViewProp(this->ScalarBar);
}

void RepairViewer::AimCamera(vtkPolyData* source, vtkPolyData* result)
{
  // Both models as drawn, stretched, without the non-finite heights of voids
  // (which would leave the camera nowhere); the damaged source may reach
  // higher than the result.
  double bounds[6] = { 0, 1, 0, 1, 0, 1 };
  double other[6];
  FiniteBounds(source, bounds);
  if (FiniteBounds(result, other))
  {
    for (int c = 0; c < 3; ++c)
    {
      bounds[2 * c] = std::min(bounds[2 * c], other[2 * c]);
      bounds[2 * c + 1] = std::max(bounds[2 * c + 1], other[2 * c + 1]);
    }
  }
  bounds[4] *= this->Exaggeration;
  bounds[5] *= this->Exaggeration;

  // From the south-south-west, looking down at 35 degrees.
  this->Camera->SetFocalPoint(0.0, 0.0, 0.0);
  this->Camera->SetPosition(0.0, -1.0, 0.0);
  this->Camera->SetViewUp(0.0, 0.0, 1.0);
  this->Camera->Azimuth(-20.0);
  this->Camera->Elevation(35.0);
  this->Camera->OrthogonalizeViewUp();
  this->LeftRenderer->ResetCamera(bounds);
  this->Camera->Zoom(1.05);

  // The interactor fits the clipping planes to the half the user moves the
  // camera in; before each frame they are fitted to both models again, so
  // that the other half is not cut.
  std::copy(bounds, bounds + 6, this->SceneBounds);
  this->ClipToScene = vtkSmartPointer<vtkCallbackCommand>::New();
  this->ClipToScene->SetCallback(&RepairViewer::FitClippingRange);
  this->ClipToScene->SetClientData(this);
  this->Window->AddObserver(vtkCommand::StartEvent, this->ClipToScene);
  this->LeftRenderer->ResetCameraClippingRange(bounds);
}

void RepairViewer::FitClippingRange(vtkObject*, unsigned long, void* viewer, void*)
{
  auto* self = static_cast<RepairViewer*>(viewer);
  self->LeftRenderer->ResetCameraClippingRange(self->SceneBounds);
}

void RepairViewer::ReleaseWindow()
{
  this->RightRenderer = nullptr;
  this->Window = nullptr;
  this->Interactor = nullptr;
}

void RepairViewer::ReleaseResultView()
{
  this->ResultMapper = nullptr;
  this->ResultActor = nullptr;
}

void RepairViewer::ReleaseSourceView()
{
  this->SourceMapper = nullptr;
  this->SourceActor = nullptr;
  this->LeftRenderer = nullptr;
}

void RepairViewer::ReleaseScene()
{
  this->Colours = nullptr;
  this->Camera = nullptr;
  this->ClipToScene = nullptr;
  this->OutlineMapper = nullptr;
  this->OutlineActor = nullptr;
  this->ScalarBar = nullptr;
  this->BarTitle = nullptr;
  this->SourceLabel = nullptr;
  this->ResultLabel = nullptr;
  this->ScaleNote = nullptr;
  if (this->ViewerDisplay)
  {
    XCloseDisplay(this->ViewerDisplay);
    this->ViewerDisplay = nullptr;
  }
}
