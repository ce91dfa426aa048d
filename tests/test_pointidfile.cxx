// Reading of point-id list files: one id per line through a 10-byte buffer.

#include "PointIdFile.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <utility>

using testsupport::TempDir;
using testsupport::WriteText;

namespace
{
// Reads text as a list file and returns (id, line) pairs.
std::vector<std::pair<int, int>> Parse(const std::string& text)
{
  TempDir dir;
  WriteText(dir.File("ids.pts"), text);
  std::vector<PointIdEntry> entries;
  EXPECT_TRUE(ReadPointIdFile(dir.File("ids.pts").c_str(), entries));
  std::vector<std::pair<int, int>> pairs;
  for (const PointIdEntry& e : entries)
  {
    pairs.emplace_back(e.Id, e.Line);
  }
  return pairs;
}

using Ids = std::vector<std::pair<int, int>>;
} // namespace

TEST(PointIdFile, SkipsLinesWithoutAnInteger)
{
  EXPECT_EQ(Parse("5\n\nabc\n7\n"), (Ids{ { 5, 1 }, { 7, 4 } }));
  EXPECT_EQ(Parse("# header\nids follow\n  -3 \n"), (Ids{ { -3, 3 } }));
  EXPECT_EQ(Parse(""), Ids{});
  EXPECT_EQ(Parse("\n\n\n"), Ids{});
}

TEST(PointIdFile, TakesTheLeadingIntegerOfALine)
{
  EXPECT_EQ(Parse("  42 x\n"), (Ids{ { 42, 1 } }));
  EXPECT_EQ(Parse("\t8,9\n"), (Ids{ { 8, 1 } }));
  EXPECT_EQ(Parse("+12\n-0\n"), (Ids{ { 12, 1 }, { 0, 2 } }));
  EXPECT_EQ(Parse("x 12\n"), Ids{});
}

TEST(PointIdFile, LastLineWithOrWithoutLineEndIsReadOnce)
{
  EXPECT_EQ(Parse("3\n7\n"), (Ids{ { 3, 1 }, { 7, 2 } }));
  EXPECT_EQ(Parse("3\n7"), (Ids{ { 3, 1 }, { 7, 2 } }));
}

TEST(PointIdFile, CarriageReturnLineEnds)
{
  EXPECT_EQ(Parse("11\r\n12\r\n\r\n13"), (Ids{ { 11, 1 }, { 12, 2 }, { 13, 4 } }));
}

TEST(PointIdFile, LongLinesAreReadInPiecesOfNineCharacters)
{
  // Ten digits: the first nine form one id, the tenth another.
  EXPECT_EQ(Parse("1234567890\n"), (Ids{ { 123456789, 1 }, { 0, 1 } }));
  // Exactly nine characters: one id, the line end follows as an empty piece.
  EXPECT_EQ(Parse("123456789\n5\n"), (Ids{ { 123456789, 1 }, { 5, 2 } }));
  // No piece can overflow an int, however long the digit run.
  EXPECT_EQ(Parse("99999999999999999999\n"),
    (Ids{ { 999999999, 1 }, { 999999999, 1 }, { 99, 1 } }));
  // Trailing text long enough to form a piece of its own is parsed as such.
  EXPECT_EQ(Parse("1 comment  17 more\n"), (Ids{ { 1, 1 }, { 17, 1 } }));
}

TEST(PointIdFile, MissingOrUnreadableFileIsRefused)
{
  TempDir dir;
  std::vector<PointIdEntry> entries;
  EXPECT_FALSE(ReadPointIdFile(dir.File("missing.pts").c_str(), entries));
  EXPECT_FALSE(ReadPointIdFile(dir.Path().c_str(), entries)); // a directory
  EXPECT_TRUE(entries.empty());
}
