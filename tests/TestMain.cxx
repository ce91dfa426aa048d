// Entry point of every test program: VTK's messages take the program's own
// console form (no vtkLogger lines), as in surface_repair itself.

#include "Console.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
  SetUpConsole();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
