// The zelto program's pictures: packed bitmaps from the cassette memory read
// whole or refused (never read past their bytes), PNG files that never
// replace a file, a contact sheet with a cell per scene.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <fstream>
#include <vector>

#include "app/ContactSheet.h"
#include "app/Picture.h"
#include "app/RecordCommand.h"
#include "tests/TestFolder.h"

namespace {

using zelto::app::DecodePackedBitmap;
using zelto::app::RgbImage;

void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A packed bitmap: a 40-byte header, `tableBytes` of table, then rows of
// pixels whose every byte is `fill`.
std::vector<std::uint8_t> Packed(int width, int height, int bits, std::uint32_t tableBytes, std::uint8_t fill,
                                 std::uint32_t compression = 0) {
  const std::size_t stride = (static_cast<std::size_t>(width) * bits + 31) / 32 * 4;
  const std::size_t rows = static_cast<std::size_t>(height < 0 ? -height : height);
  std::vector<std::uint8_t> b(40 + tableBytes + stride * rows, fill);
  std::fill(b.begin(), b.begin() + 40 + tableBytes, 0);
  Put32(b, 0, 40);
  Put32(b, 4, static_cast<std::uint32_t>(width));
  Put32(b, 8, static_cast<std::uint32_t>(height));
  b[12] = 1;
  b[14] = static_cast<std::uint8_t>(bits);
  Put32(b, 16, compression);
  Put32(b, 20, static_cast<std::uint32_t>(stride * rows));
  return b;
}

TEST(PackedBitmap, ReadsTheFormatsOfAScenePictureAndKeepsItsColourTable) {
  // 24 bits, bottom-up: the first row in memory is the picture's last.
  std::vector<std::uint8_t> bottomUp = Packed(3, 2, 24, 0, 0);
  bottomUp[40] = 10, bottomUp[41] = 20, bottomUp[42] = 30;  // bottom-left pixel, blue-green-red
  std::string why;
  auto image = DecodePackedBitmap(bottomUp.data(), bottomUp.size(), &why);
  ASSERT_TRUE(image) << why;
  EXPECT_EQ(image->width, 3);
  EXPECT_EQ(image->height, 2);
  EXPECT_EQ(std::vector<std::uint8_t>(image->At(0, 1), image->At(0, 1) + 3), (std::vector<std::uint8_t>{30, 20, 10}));

  // 32 bits, top-down (negative height): the first row is the top.
  std::vector<std::uint8_t> topDown = Packed(2, -2, 32, 0, 0);
  topDown[40] = 1, topDown[41] = 2, topDown[42] = 3;
  image = DecodePackedBitmap(topDown.data(), topDown.size(), &why);
  ASSERT_TRUE(image) << why;
  EXPECT_EQ(image->At(0, 0)[0], 3);

  // 8 bits: the colour table lies between header and pixels, whole.
  std::vector<std::uint8_t> indexed = Packed(4, 1, 8, 2 * 4, 1);
  Put32(indexed, 32, 2);  // two colours
  indexed[40 + 4] = 200, indexed[40 + 5] = 100, indexed[40 + 6] = 50;  // colour 1: blue, green, red
  image = DecodePackedBitmap(indexed.data(), indexed.size(), &why);
  ASSERT_TRUE(image) << why;
  EXPECT_EQ(std::vector<std::uint8_t>(image->At(3, 0), image->At(3, 0) + 3), (std::vector<std::uint8_t>{50, 100, 200}));
}

TEST(PackedBitmap, RefusesHeadersThatLieAboutTheirBytes) {
  const std::vector<std::uint8_t> good = Packed(160, 90, 24, 0, 7);
  struct Case {
    const char* what;
    std::function<void(std::vector<std::uint8_t>&)> spoil;
  };
  const Case cases[] = {
      {"cut short by a byte", [](auto& b) { b.pop_back(); }},
      {"a header larger than the bytes", [](auto& b) { Put32(b, 0, 0x7FFFFFFF); }},
      {"a header smaller than any", [](auto& b) { Put32(b, 0, 12); }},
      {"a height whose rows overflow", [](auto& b) { Put32(b, 8, 0x80000000u); }},
      {"a width far beyond a picture", [](auto& b) { Put32(b, 4, 0x40000000u); }},
      {"a negative width", [](auto& b) { Put32(b, 4, 0xFFFFFFF0u); }},
      {"sixteen bits", [](auto& b) { b[14] = 16; }},
      {"run-length pixels", [](auto& b) { Put32(b, 16, 1); }},
      {"a colour table past the end", [](auto& b) { b[14] = 8; Put32(b, 4, 40000); }},
      {"nothing but a header", [](auto& b) { b.resize(40); }},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> bytes = good;
    c.spoil(bytes);
    // Exactly the bytes it has: the address sanitizer sees any read past them.
    std::vector<std::uint8_t> exact(bytes);
    std::string why;
    EXPECT_FALSE(DecodePackedBitmap(exact.data(), exact.size(), &why)) << c.what;
    EXPECT_FALSE(why.empty()) << c.what;
  }
  std::string why;
  EXPECT_FALSE(DecodePackedBitmap(nullptr, 100, &why));
}

class PictureFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = zelto::testing::TestFolder(std::string("zelto-pictures-") +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    zelto::testing::RemoveFolder(folder);
    std::filesystem::create_directories(folder);
  }
  void TearDown() override {
    std::error_code ignored;
    zelto::platform::RemoveTree(folder, ignored);
  }
  std::filesystem::path folder;
};

TEST_F(PictureFiles, APngIsWrittenNewOrNotAtAll) {
  const auto file = folder / "scene.png";
  std::string why;
  ASSERT_TRUE(zelto::app::WriteNewPng(RgbImage(16, 9, 128), file, &why)) << why;
  std::ifstream in(file, std::ios::binary);
  char signature[8] = {};
  in.read(signature, 8);
  EXPECT_EQ(std::memcmp(signature, "\x89PNG\r\n\x1a\n", 8), 0);

  // An existing file keeps its bytes; a folder that is missing is said so.
  const auto before = std::filesystem::file_size(file);
  EXPECT_FALSE(zelto::app::WriteNewPng(RgbImage(32, 18, 0), file, &why));
  EXPECT_NE(why.find("exists already"), std::string::npos) << why;
  EXPECT_EQ(std::filesystem::file_size(file), before);
  EXPECT_FALSE(zelto::app::WriteNewPng(RgbImage(4, 4, 0), folder / "missing" / "x.png", &why));
  EXPECT_FALSE(std::filesystem::exists(folder / "missing"));
}

TEST(ContactSheet, HasACellPerSceneFourToARowWithItsPictureAndText) {
  std::vector<zelto::app::SheetScene> scenes(5);
  for (unsigned i = 0; i < scenes.size(); ++i) {
    scenes[i].number = i + 1;
    scenes[i].times = "00:00:10:00-00:00:20:00";
    scenes[i].length = "0:00:10.0";
  }
  scenes[0].picture = RgbImage(160, 90, 255);  // white: shows where the first cell is
  const RgbImage one = zelto::app::ComposeContactSheet("Tape", {scenes[0]});
  const RgbImage five = zelto::app::ComposeContactSheet("Tape", scenes);
  // Five scenes are two rows of four: wider than one cell, and taller.
  EXPECT_GT(five.width, 3 * one.width);
  EXPECT_GT(five.height, one.height);
  // The first picture is in its cell, the text below it is drawn.
  int white = 0;
  for (int y = 0; y < five.height; ++y)
    for (int x = 0; x < five.width; ++x) white += five.rgb[(static_cast<std::size_t>(y) * five.width + x) * 3] == 255;
  EXPECT_GE(white, 160 * 90);
}

// The font has printable ASCII only; whatever else a title or a note
// holds is drawn as the nearest it has, never looked up outside its tables.
TEST(PictureText, WhatTheFontLacksIsDrawnAsItsBaseLetterOrAPlaceholder) {
  const std::pair<const char*, const char*> cases[] = {
      {"Holiday 2025", "Holiday 2025"},
      {"Caf\u00e9 cr\u00e8me \u00e0 No\u00ebl", "Cafe creme a Noel"},
      {"\u00c6r\u00f8 Stra\u00dfe \u0141\u00f3d\u017a \u0152uvre", "AEro Strasse Lodz OEuvre"},
      {"\u201cSommer\u201d \u2013 \u2018ja\u2019\u2026", "\"Sommer\" - 'ja'..."},
      {"tab\there", "tab here"},
      {"line\nbreak\x01\x7f", "line?break??"},
      {"\u65e5\u672c", "??"},
      {"\U0001F3A5 film", "? film"},  // one character, even where wide text is UTF-16
      {"bad \xff\xfe bytes", "bad ?? bytes"},
  };
  for (const auto& [text, drawn] : cases) EXPECT_EQ(zelto::app::FontText(text), drawn) << text;
}

TEST(RecordCommandFile, OnlyATransportStreamIsTakenAndItsLengthIsRoundedUp) {
  const auto folder = zelto::testing::TestFolder("zelto-record-file");
  zelto::testing::RemoveFolder(folder);
  std::filesystem::create_directories(folder);
  const auto write = [&](const char* name, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(folder / name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                         static_cast<std::streamsize>(bytes.size()));
    return folder / name;
  };
  std::vector<std::uint8_t> stream(188 * 20, 0xFF);
  for (std::size_t at = 0; at < stream.size(); at += 188) stream[at] = 0x47;
  const auto without = [&](std::size_t packet) {
    std::vector<std::uint8_t> broken = stream;
    broken[packet * 188] = 0;
    return broken;
  };
  std::uint64_t bytes = 0;
  std::string why;
  EXPECT_TRUE(zelto::app::CheckTransportStream(write("good.m2t", stream), &bytes, &why)) << why;
  EXPECT_EQ(bytes, stream.size());
  std::vector<std::uint8_t> cut = stream;
  cut.resize(cut.size() + 100, 0xFF);
  EXPECT_TRUE(zelto::app::CheckTransportStream(write("cut.m2t", cut), &bytes, &why)) << why;
  EXPECT_EQ(bytes, stream.size()) << "a packet cut off at the end is not sent";
  // What the camcorder refuses is refused here, before the deck moves: a
  // packet well into the file or the last one out of step too.
  for (const auto& [file, expected] : {std::pair{folder / "absent.m2t", "no such file"}, std::pair{folder, "not a file"},
                                       std::pair{write("short.m2t", {0x47, 0, 0}), "shorter than one packet"},
                                       std::pair{write("text.m2t", std::vector<std::uint8_t>(400, 'a')), "sync byte at byte 0"},
                                       std::pair{write("shifted.m2t", without(1)), "sync byte at byte 188"},
                                       std::pair{write("late.m2t", without(10)), "sync byte at byte 1880"},
                                       std::pair{write("last.m2t", without(19)), "sync byte at byte 3572"}}) {
    EXPECT_FALSE(zelto::app::CheckTransportStream(file, &bytes, &why)) << file;
    EXPECT_NE(why.find(expected), std::string::npos) << why;
  }
  // A byte more than a second of stream is a hundredth more of tape.
  EXPECT_EQ(zelto::app::RecordingHundredths(1'590'000), 100u);
  EXPECT_EQ(zelto::app::RecordingHundredths(1'590'001), 101u);
  EXPECT_EQ(zelto::app::RecordingHundredths(0), 0u);
  zelto::testing::RemoveFolder(folder);
}

}  // namespace
