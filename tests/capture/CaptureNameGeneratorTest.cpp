// The capture file names and the patterns handed to the driver: numbers,
// wrapping, padding, an empty base name and a base name holding '%'.
#include <gtest/gtest.h>

#include <string>

#include "zelto/capture/ZeltoCaptureNameGenerator.h"

using namespace Orvex;

namespace {

struct NameCase {
  const wchar_t* base;
  std::int32_t file, part, first, patternNumber;
  const wchar_t *filePart, *filePattern, *partName, *partPattern, *firstPart, *firstPartPattern;
  std::int32_t fileCount;
};

// The generator as a capture leaves it: base name, file number, part number
// reached by NextPart, first number.
void Prepare(ZeltoCaptureNameGenerator& names, const NameCase& c) {
  names.SetBaseName(OxString(c.base));
  names.ResetCounters();
  names.SetFileNumber(c.file);
  for (std::int32_t i = 0; i < c.part; ++i) names.NextPart();
  names.SetFirstNumber(c.first);
}

std::wstring Filled(const OxString& pattern, std::int32_t number) {
  OxString out;
  out.Format(pattern.GetString(), static_cast<int>(number));
  return out.GetStdString();
}

TEST(CaptureNameGenerator, NamesAndPatternsFollowTheGrammar) {
  const NameCase cases[] = {
      {L"Tape", 0, 0, 1, 1, L"Tape-000-00.zlt", L"Tape-001-%02d.zlt", L"Tape-00.zlt", L"Tape-%02d.zlt",
       L"Tape-000-01.zlt", L"Tape-%03d-01.zlt", 0},
      {L"Tape", 1, 1, 1, 12, L"Tape-001-01.zlt", L"Tape-012-%02d.zlt", L"Tape-01.zlt", L"Tape-%02d.zlt",
       L"Tape-001-01.zlt", L"Tape-%03d-01.zlt", 1},
      {L"Tape", 12, 3, 1, 12, L"Tape-012-03.zlt", L"Tape-012-%02d.zlt", L"Tape-03.zlt", L"Tape-%02d.zlt",
       L"Tape-012-01.zlt", L"Tape-%03d-01.zlt", 12},
      // The last number before the wrap, and the first ones after it.
      {L"Tape", 999, 9, 999, 999, L"Tape-999-09.zlt", L"Tape-999-%02d.zlt", L"Tape-09.zlt", L"Tape-%02d.zlt",
       L"Tape-999-01.zlt", L"Tape-%03d-01.zlt", 1},
      {L"Tape", 1000, 1, 999, 1000, L"Tape-001-01.zlt", L"Tape-001-%02d.zlt", L"Tape-01.zlt", L"Tape-%02d.zlt",
       L"Tape-1000-01.zlt", L"Tape-%03d-01.zlt", 2},
      {L"Tape", 1001, 2, 999, 1001, L"Tape-002-02.zlt", L"Tape-002-%02d.zlt", L"Tape-02.zlt", L"Tape-%02d.zlt",
       L"Tape-1001-01.zlt", L"Tape-%03d-01.zlt", 3},
      // Three-digit part numbers are written whole; a first number of 0
      // counts the file number itself.
      {L"Tape", 1234, 100, 0, 1234, L"Tape-235-100.zlt", L"Tape-235-%02d.zlt", L"Tape-100.zlt", L"Tape-%02d.zlt",
       L"Tape-1234-01.zlt", L"Tape-%03d-01.zlt", 1234},
      {L"", 2, 5, 1, 3, L"-002-05.zlt", L"-003-%02d.zlt", L"-05.zlt", L"-%02d.zlt", L"-002-01.zlt", L"-%03d-01.zlt",
       2},
      // '%' stands as given in names and doubled in patterns.
      {L"50%d%s", 7, 2, 1, 7, L"50%d%s-007-02.zlt", L"50%%d%%s-007-%02d.zlt", L"50%d%s-02.zlt",
       L"50%%d%%s-%02d.zlt", L"50%d%s-007-01.zlt", L"50%%d%%s-%03d-01.zlt", 7},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "base " << OxString(c.base).GetStdString().size() << " chars, file " << c.file
                                    << ", part " << c.part << ", first " << c.first);
    ZeltoCaptureNameGenerator names(0, 0);
    Prepare(names, c);
    EXPECT_EQ(names.MakeFilePartName().GetStdString(), c.filePart);
    EXPECT_EQ(names.MakeFilePattern(c.patternNumber).GetStdString(), c.filePattern);
    EXPECT_EQ(names.MakePartName().GetStdString(), c.partName);
    EXPECT_EQ(names.MakePartPattern().GetStdString(), c.partPattern);
    EXPECT_EQ(names.MakeFirstPartName().GetStdString(), c.firstPart);
    EXPECT_EQ(names.MakeFirstPartPattern().GetStdString(), c.firstPartPattern);
    EXPECT_EQ(names.GetFileCount(), c.fileCount);

    // Whoever fills in a pattern gets the name the library looks for.
    EXPECT_EQ(Filled(names.MakeFilePattern(c.file), c.part), names.MakeFilePartName().GetStdString());
    EXPECT_EQ(Filled(names.MakePartPattern(), c.part), names.MakePartName().GetStdString());
    EXPECT_EQ(Filled(names.MakeFirstPartPattern(), c.file), names.MakeFirstPartName().GetStdString());
  }
}

}  // namespace
