#ifndef RepairRun_h
#define RepairRun_h

#include "vtkDatReader.h"
#include "vtkShapeTransform.h"
#include "vtkSingleMatrixSolver.h"

#include <vtkCommand.h>
#include <vtkIdList.h>
#include <vtkNew.h>
#include <vtkPolyData.h>

#include <string>

/**
 * The repair of a polydata in memory, stage by stage as surface_repair runs
 * it on its files: the reader's checks and constraint points, the chooser
 * (auto), the cost guard, the ordering, the solve and the shape transform.
 * The VTK filter and the void fill both run their repairs through it.
 */
// A refusal of the repair: the message text to report.
struct RepairFailure
{
  std::string Text;
};

// Keeps the message of the last error report of the object it observes,
// without the report's frame ("ERROR: In <file>, line <n>\n<class> (<address>): ").
// Observing the reader's errors keeps them from reaching the output window on
// their own: the filter reports them as its own.
class ErrorTextObserver : public vtkCommand
{
public:
  static ErrorTextObserver* New() { return new ErrorTextObserver; }

  void Execute(vtkObject*, unsigned long, void* callData) override
  {
    std::string report = callData ? static_cast<const char*>(callData) : "";
    const std::size_t lineEnd = report.find('\n');
    const std::size_t start = report.find("): ", lineEnd == std::string::npos ? 0 : lineEnd);
    if (lineEnd != std::string::npos && start != std::string::npos)
    {
      report.erase(0, start + 3);
    }
    while (!report.empty() && report.back() == '\n')
    {
      report.pop_back();
    }
    this->Text = report;
  }

  std::string Text;
};

// One repair, stage by stage as the program runs it: the reader prepares the
// spline problem, the solver fits the spline, the shape transform moves the
// inside vertices through a vtkTransformPolyDataFilter. Every refusal is
// thrown as a RepairFailure; whatever a stage made is released with the run.
class RepairRun
{
public:
  RepairRun(vtkPolyData* input, vtkIdList* inside, vtkIdList* outside, float radius)
    : Radius(radius)
  {
    // The reader holds the model by reference: a copy keeps the pipeline's
    // input object out of the internal pipeline.
    this->Model->ShallowCopy(input);
    this->Inside = inside ? inside : this->NoIds.GetPointer();
    this->Outside = outside ? outside : this->NoIds.GetPointer();
    this->Reader->AddObserver(vtkCommand::ErrorEvent, this->ReaderErrors);
  }

  ~RepairRun() { free(this->SplineCoeff); }

  RepairRun(const RepairRun&) = delete;
  RepairRun& operator=(const RepairRun&) = delete;

  void ReadConstraints();
  void CheckInside();
  void ChooseRadiusFromData();
  void CheckCost();
  void PrepareSystem();
  void Solve();
  void Move(bool jitter, vtkPolyData* output);

  float GetRadius() const { return this->Radius; }
  /// The reach the chooser measured (normalised frame); 0 without auto.
  double GetReach() const { return this->Reach; }

private:
  vtkNew<vtkPolyData> Model;
  vtkNew<vtkIdList> NoIds;
  vtkIdList* Inside;
  vtkIdList* Outside;
  float Radius;
  vtkNew<ErrorTextObserver> ReaderErrors;
  vtkNew<vtkDatReader> Reader;
  vtkNew<vtkSingleMatrixSolver> Solver;
  vtkNew<vtkShapeTransform> Transform; // released before the solver and the reader
  float* SplineCoeff = nullptr;        // the solver's result
  double Reach = 0.0;                  // from the chooser

  void ThrowOnReaderFailure(int status);
};

#endif
