// surface_repair run as a process: arguments, the console dialogue, the echo,
// the error handler and the exit status.

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

using namespace testsupport;

namespace
{
const char* const UsageTail = " <model.vtk> <points_inside.pts> <points_outside.pts> <radius>";

class DriverTest : public ::testing::Test
{
protected:
  void SetUp() override
  {
    // A gentle 12 x 12 height field; the ring of outside vertices surrounds a
    // hole of inside vertices.
    WriteHeightField(this->Dir.File("model.vtk"), 12, 12, 1.0, 1.0,
      [](double x, double y) { return 0.1 * x * x - 0.05 * y * x + y; });
    std::vector<int> inside;
    std::vector<int> outside;
    for (int j = 0; j < 12; ++j)
    {
      for (int i = 0; i < 12; ++i)
      {
        bool hole = i >= 4 && i <= 7 && j >= 4 && j <= 7;
        bool ring = !hole && i >= 2 && i <= 9 && j >= 2 && j <= 9;
        if (hole)
        {
          inside.push_back(j * 12 + i);
        }
        else if (ring)
        {
          outside.push_back(j * 12 + i);
        }
      }
    }
    WriteIds(this->Dir.File("inside.pts"), inside);
    WriteIds(this->Dir.File("outside.pts"), outside);
  }

  ProcessResult Run(const std::vector<std::string>& args, const std::string& input = "")
  {
    return RunRepair(args, this->Dir.Path(), input);
  }

  TempDir Dir;
};

// The lines of out that start with prefix.
std::vector<std::string> Starting(const std::string& out, const std::string& prefix)
{
  std::vector<std::string> found;
  for (const std::string& line : Lines(out))
  {
    if (line.rfind(prefix, 0) == 0)
    {
      found.push_back(line);
    }
  }
  return found;
}
} // namespace

TEST_F(DriverTest, FourArgumentsRunWithoutDialogue)
{
  ProcessResult r = this->Run({ "model.vtk", "inside.pts", "outside.pts", "0.5" });
  EXPECT_EQ(r.Status, 0) << r.Err;
  std::vector<std::string> lines = Lines(r.Out);
  ASSERT_GE(lines.size(), 7u) << r.Out;
  EXPECT_EQ(lines[0], "Source model: model.vtk");
  EXPECT_EQ(lines[1], "Points inside: inside.pts");
  EXPECT_EQ(lines[2], "Points outside: outside.pts");
  EXPECT_EQ(lines[3], "Radius: 0.5");
  EXPECT_EQ(lines[4].rfind("Tree build time: ", 0), 0u);
  EXPECT_EQ(lines[5].rfind("Sorting time: ", 0), 0u);
  EXPECT_EQ(lines.back(), "Thank you for using our application");
  EXPECT_EQ(r.Out.find("Usage"), std::string::npos);
}

TEST_F(DriverTest, RadiusEchoUsesSixSignificantDigits)
{
  for (auto [arg, echo] : std::vector<std::pair<std::string, std::string>>{
         { "0.25", "Radius: 0.25" }, { "2", "Radius: 2" }, { "0.3333333333", "Radius: 0.333333" },
         { "1e-7", "Radius: 1e-07" } })
  {
    ProcessResult r = this->Run({ "model.vtk", "inside.pts", "outside.pts", arg });
    EXPECT_EQ(Starting(r.Out, "Radius: "), std::vector<std::string>{ echo }) << arg;
  }
}

TEST_F(DriverTest, OtherArgumentCountsAskForAllFourInputs)
{
  const std::string answers = "model.vtk\ninside.pts\noutside.pts\n0.5\n";
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
         {}, { "a" }, { "a", "b", "c" }, { "a", "b", "c", "d", "e" } })
  {
    ProcessResult r = this->Run(args, answers);
    SCOPED_TRACE(r.Out + r.Err);
    EXPECT_EQ(r.Status, 0);
    std::vector<std::string> lines = Lines(r.Out);
    ASSERT_GE(lines.size(), 9u);
    EXPECT_EQ(lines[0], std::string("Usage: ") + SURFACE_REPAIR_EXE + UsageTail);
    EXPECT_EQ(lines[1], "Enter file name with model");
    EXPECT_EQ(lines[2], ">Enter file name with points inside");
    EXPECT_EQ(lines[3], ">Enter file name with points outside");
    EXPECT_EQ(lines[4], ">Enter radius R");
    // The echo shows the typed answers, not the arguments.
    EXPECT_EQ(lines[5], ">Source model: model.vtk");
    EXPECT_EQ(lines[8], "Radius: 0.5");
    EXPECT_EQ(lines.back(), "Thank you for using our application");
  }
}

TEST_F(DriverTest, AnswersAreWordsAndALineMayAnswerTwoQuestions)
{
  ProcessResult r = this->Run({}, "  model.vtk inside.pts\n\n outside.pts   0.5 extra\n");
  EXPECT_EQ(r.Status, 0) << r.Err;
  std::vector<std::string> lines = Lines(r.Out);
  ASSERT_GE(lines.size(), 9u);
  EXPECT_EQ(lines[2], ">Enter file name with points inside");
  EXPECT_EQ(lines[6], "Points inside: inside.pts");
  EXPECT_EQ(lines[7], "Points outside: outside.pts");
}

TEST_F(DriverTest, LongTypedNamesAreReadWhole)
{
  const std::string longName(600, 'm');
  ProcessResult r = this->Run({}, longName + " inside.pts outside.pts 0.5\n");
  EXPECT_EQ(Starting(r.Out, ">Source model: "),
    std::vector<std::string>{ ">Source model: " + longName });
  EXPECT_EQ(r.Status, 1);
  EXPECT_NE(r.Err.find("Can not read model " + longName), std::string::npos) << r.Err;
}

TEST_F(DriverTest, InputEndingEarlyIsAnError)
{
  for (const std::string& input : { std::string(""), std::string("model.vtk\n"),
         std::string("model.vtk inside.pts outside.pts"), std::string("a b c   \n") })
  {
    ProcessResult r = this->Run({}, input);
    SCOPED_TRACE(input);
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(r.Err, "Input ended before all four inputs were given\n");
    EXPECT_EQ(r.Out.find("Source model"), std::string::npos);
    EXPECT_EQ(r.Out.find("Thank you"), std::string::npos);
  }
}

TEST_F(DriverTest, RadiusMustBeAPositiveNumber)
{
  struct Case
  {
    std::vector<std::string> Args;
    std::string Input;
    std::string Echo;
    std::string Typed;
  };
  for (const Case& c : std::vector<Case>{
         { { "model.vtk", "inside.pts", "outside.pts", "0" }, "", "Radius: 0", "0" },
         { { "model.vtk", "inside.pts", "outside.pts", "-0.5" }, "", "Radius: -0.5", "-0.5" },
         { { "model.vtk", "inside.pts", "outside.pts", "nan" }, "", "Radius: nan", "nan" },
         { { "model.vtk", "inside.pts", "outside.pts", "inf" }, "", "Radius: inf", "inf" },
         { { "model.vtk", "inside.pts", "outside.pts", "1e40" }, "", "Radius: inf", "1e40" },
         { {}, "model.vtk inside.pts outside.pts -2\n", "Radius: -2", "-2" } })
  {
    ProcessResult r = this->Run(c.Args, c.Input);
    SCOPED_TRACE(c.Echo);
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(Starting(r.Out, "Radius: "), std::vector<std::string>{ c.Echo });
    EXPECT_EQ(r.Err, "Radius must be a positive number, not '" + c.Typed + "'\n");
    EXPECT_EQ(r.Out.find("Tree build time"), std::string::npos);
  }
}

// Text that is not wholly a number is refused as typed, before the echo, with
// the form a radius takes; only auto itself chooses the radius.
TEST_F(DriverTest, RadiusThatIsNotANumberIsRefusedAsTyped)
{
  const std::string plain = "write it as a plain number, with a decimal point and no unit, or "
                            "give auto\n";
  for (const auto& [args, input, err] :
    std::vector<std::tuple<std::vector<std::string>, std::string, std::string>>{
      { { "model.vtk", "inside.pts", "outside.pts", "abc" }, "",
        "Radius 'abc' is not a number: " + plain },
      { { "model.vtk", "inside.pts", "outside.pts", "Auto" }, "",
        "Radius 'Auto' is not a number: " + plain },
      { { "model.vtk", "inside.pts", "outside.pts", "" }, "",
        "Radius '' is not a number: " + plain },
      { { "model.vtk", "inside.pts", "outside.pts", " 1,5\t" }, "",
        "Radius ' 1,5\t' is not a number: write it with a decimal point (1.5) or give auto\n" },
      { { "model.vtk", "inside.pts", "outside.pts", "1,5m" }, "",
        "Radius '1,5m' is not a number: " + plain },
      { { "model.vtk", "inside.pts", "outside.pts", "0.5 0.6" }, "",
        "Radius '0.5 0.6' is not a number: " + plain },
      { {}, "model.vtk inside.pts outside.pts abc\n", "Radius 'abc' is not a number: " + plain },
      { {}, "model.vtk inside.pts outside.pts 0,25\n",
        "Radius '0,25' is not a number: write it with a decimal point (0.25) or give auto\n" } })
  {
    ProcessResult r = this->Run(args, input);
    SCOPED_TRACE(err);
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(r.Err, err);
    EXPECT_EQ(r.Out.find("Source model"), std::string::npos) << r.Out;
    EXPECT_FALSE(FileExists(this->Dir.File("reconstucted_shape.vtk")));
  }
}

// White space around the number is no part of it, on the command line and
// typed alike.
TEST_F(DriverTest, RadiusMayHaveWhiteSpaceAround)
{
  for (const auto& [args, input] : std::vector<std::pair<std::vector<std::string>, std::string>>{
         { { "model.vtk", "inside.pts", "outside.pts", "  0.5 \t" }, "" },
         { {}, "model.vtk inside.pts outside.pts \t 0.5\r\n" } })
  {
    ProcessResult r = this->Run(args, input);
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_NE(r.Out.find("Radius: 0.5\n"), std::string::npos) << r.Out;
  }
}

TEST_F(DriverTest, FailedReadStopsWithTheReadersMessage)
{
  ProcessResult r = this->Run({ "model.vtk", "inside.pts", "missing.pts", "0.5" });
  EXPECT_EQ(r.Status, 1);
  EXPECT_NE(r.Err.find("ERROR: In "), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("): Not correct OutsideName\n"), std::string::npos) << r.Err;
  // The handler's line comes last, and nothing follows on standard output.
  std::vector<std::string> errLines = Lines(r.Err);
  EXPECT_EQ(errLines.back(), "Some error during reading input data...");
  EXPECT_EQ(Lines(r.Out).back(), "Radius: 0.5");
  EXPECT_FALSE(FileExists(this->Dir.File("reconstucted_shape.vtk")));
}

TEST_F(DriverTest, OutOfRangeOutsideIdNamesFileAndLine)
{
  WriteText(this->Dir.File("bad.pts"), "14\n15\n\n144\n");
  ProcessResult r = this->Run({ "model.vtk", "inside.pts", "bad.pts", "0.5" });
  EXPECT_EQ(r.Status, 1);
  EXPECT_NE(r.Err.find("Vertex id 144 on line 4 of bad.pts is out of range (the model has 144 "
                       "points)"),
    std::string::npos)
    << r.Err;
  EXPECT_EQ(Lines(r.Err).back(), "Some error during reading input data...");
}

// With auto the program chooses R, says which after the echo, and then runs
// as if that R had been given; the choice itself prints nothing.
TEST_F(DriverTest, AutoRadiusFromTheArgument)
{
  ProcessResult r = this->Run({ "model.vtk", "inside.pts", "outside.pts", "auto" });
  EXPECT_EQ(r.Status, 0) << r.Err;
  std::vector<std::string> lines = Lines(r.Out);
  ASSERT_GE(lines.size(), 7u) << r.Out;
  EXPECT_EQ(lines[3], "Radius: auto");
  ASSERT_EQ(lines[4].rfind("Chosen radius: ", 0), 0u) << r.Out;
  EXPECT_EQ(lines[5].rfind("Tree build time: ", 0), 0u);
  const std::string chosen = lines[4].substr(15);
  // The hole is 4 x 4 vertices in a ring two vertices wide: its centre lies
  // two grid steps (2/11 of the frame) from the nearest outside vertex.
  EXPECT_GT(std::stod(chosen), 2.0 / 11.0);
  EXPECT_EQ(Starting(r.Out, "Affected points: "), std::vector<std::string>{ "Affected points: 16." });

  ProcessResult given = this->Run({ "model.vtk", "inside.pts", "outside.pts", chosen });
  EXPECT_EQ(Starting(r.Out, "Size of matrix A"), Starting(given.Out, "Size of matrix A"));
  EXPECT_EQ(Lines(r.Out).size(), Lines(given.Out).size() + 1);
}

TEST_F(DriverTest, AutoRadiusFromTheDialogue)
{
  ProcessResult r = this->Run({}, "model.vtk inside.pts outside.pts auto\n");
  EXPECT_EQ(r.Status, 0) << r.Err;
  std::vector<std::string> lines = Lines(r.Out);
  ASSERT_GE(lines.size(), 11u) << r.Out;
  EXPECT_EQ(lines[4], ">Enter radius R");
  EXPECT_EQ(lines[8], "Radius: auto");
  EXPECT_EQ(lines[9].rfind("Chosen radius: ", 0), 0u) << r.Out;
  ProcessResult argument = this->Run({ "model.vtk", "inside.pts", "outside.pts", "auto" });
  EXPECT_EQ(Starting(r.Out, "Chosen radius: "), Starting(argument.Out, "Chosen radius: "));
}

// Nothing to reach: the run completes and moves nothing.
TEST_F(DriverTest, AutoRadiusWithAnEmptyInsideList)
{
  WriteText(this->Dir.File("empty.pts"), "");
  ProcessResult r = this->Run({ "model.vtk", "empty.pts", "outside.pts", "auto" });
  EXPECT_EQ(r.Status, 0) << r.Err;
  const std::vector<std::string> chosen = Starting(r.Out, "Chosen radius: ");
  ASSERT_EQ(chosen.size(), 1u) << r.Out;
  const double radius = std::stod(chosen[0].substr(15));
  EXPECT_TRUE(radius > 0.0 && radius < 1.0) << radius;
  EXPECT_EQ(Starting(r.Out, "Affected points: "), std::vector<std::string>{ "Affected points: 0." });
}

// The choice needs the inside list, so with auto its errors come before any
// stage's lines; with a number they come after the solver's, as before.
TEST_F(DriverTest, AutoRadiusReadsTheInsideListFirst)
{
  ProcessResult chosen = this->Run({ "model.vtk", "missing.pts", "outside.pts", "auto" });
  EXPECT_EQ(chosen.Status, 1);
  EXPECT_EQ(chosen.Err, "Not correct inside file name\n");
  EXPECT_EQ(Lines(chosen.Out).back(), "Radius: auto");

  ProcessResult given = this->Run({ "model.vtk", "missing.pts", "outside.pts", "0.5" });
  EXPECT_EQ(given.Err, "Not correct inside file name\n");
  EXPECT_EQ(Lines(given.Out).back().rfind("Solving time: ", 0), 0u) << given.Out;

  WriteText(this->Dir.File("far.pts"), "5\n144\n");
  ProcessResult range = this->Run({ "model.vtk", "far.pts", "outside.pts", "auto" });
  EXPECT_EQ(range.Status, 1);
  EXPECT_EQ(range.Err,
    "Vertex id 144 on line 2 of far.pts is out of range (the model has 144 points)\n");
  EXPECT_EQ(range.Out.find("Tree build time"), std::string::npos);
}
