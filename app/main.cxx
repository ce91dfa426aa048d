// surface_repair: refits the heights of a damaged region of a triangulated
// height field with a compactly supported radial basis spline.
//
//   surface_repair <model.vtk> <points_inside.pts> <points_outside.pts> <radius>
//
// With any other number of arguments the program prints a usage line and asks
// for the four inputs on the console.

#include "Console.h"
#include "Stopwatch.h"
#include "vtkDatReader.h"

#include <cmath>
#include <iostream>
#include <new>
#include <string>

namespace
{
const char* const InputEnded = "Input ended before all four inputs were given";

// The four inputs of a run. The reader borrows the names, so they live as
// long as the run.
struct RunInputs
{
  std::string Model;
  std::string Inside;
  std::string Outside;
  float Radius = 0.0f;
};

// Asks one question of the dialogue and returns the next word typed.
std::string AskName(const char* question)
{
  std::cout << question << std::endl;
  std::cout << ">" << std::flush;
  std::string word;
  if (!(std::cin >> word))
  {
    throw InputEnded;
  }
  return word;
}

float AskRadius(const char* question)
{
  std::cout << question << std::endl;
  std::cout << ">" << std::flush;
  float radius = 0.0f;
  if (!(std::cin >> radius))
  {
    if (std::cin.eof())
    {
      throw InputEnded;
    }
    // Not a number: the radius check after the echo refuses it.
    radius = 0.0f;
  }
  return radius;
}

RunInputs GetInputs(int argc, char* argv[])
{
  RunInputs inputs;
  if (argc == 5)
  {
    inputs.Model = argv[1];
    inputs.Inside = argv[2];
    inputs.Outside = argv[3];
    inputs.Radius = static_cast<float>(atof(argv[4]));
    return inputs;
  }
  std::cout << "Usage: " << (argc > 0 && argv[0] ? argv[0] : "")
            << " <model.vtk> <points_inside.pts> <points_outside.pts> <radius>" << std::endl;
  inputs.Model = AskName("Enter file name with model");
  inputs.Inside = AskName("Enter file name with points inside");
  inputs.Outside = AskName("Enter file name with points outside");
  inputs.Radius = AskRadius("Enter radius R");
  return inputs;
}

// The objects of a run. Teardown() releases them in the program's fixed order;
// it also runs when a stage throws, so an error leaves nothing behind.
struct RunObjects
{
  vtkDatReader* Reader = nullptr;

  ~RunObjects() { this->Teardown(); }

  void Teardown()
  {
    Release(this->Reader);
  }

  template <typename T>
  static void Release(T*& object)
  {
    if (object)
    {
      object->Delete();
      object = nullptr;
    }
  }
};

void Run(int argc, char* argv[])
{
  RunInputs inputs = GetInputs(argc, argv);
  std::cout << "Source model: " << inputs.Model << std::endl;
  std::cout << "Points inside: " << inputs.Inside << std::endl;
  std::cout << "Points outside: " << inputs.Outside << std::endl;
  std::cout << "Radius: " << inputs.Radius << std::endl;
  if (!(std::isfinite(inputs.Radius) && inputs.Radius > 0.0f))
  {
    throw "Radius must be a positive number";
  }

  RunObjects run;
  run.Reader = vtkDatReader::New();
  run.Reader->ModelName = inputs.Model.data();
  run.Reader->OutsideName = inputs.Outside.data();
  run.Reader->SetRadius(inputs.Radius);
  if (run.Reader->ReadData() != 0)
  {
    throw "Some error during reading input data...";
  }

  run.Teardown();
  std::cout << "Thank you for using our application" << std::endl;
}
} // namespace

int main(int argc, char* argv[])
{
  SetUpConsole();
  try
  {
    Run(argc, argv);
  }
  catch (const char* message)
  {
    std::cerr << message << std::endl;
    return 1;
  }
  catch (const std::bad_alloc&)
  {
    std::cerr << "Not enough memory" << std::endl;
    return 1;
  }
  return 0;
}
