// The manager as the device sees it: table positions, round trips through
// the interface, events, damaged and locked files, concurrent callers.
#include "host/cassettedb/IMicDatabaseManager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <tuple>

#include "platform/PlatformExtras.h"
#include "tests/cassettedb/TestSupport.h"

namespace {

using namespace Orvex;
using cassettedb_test::DumpDatabase;
using cassettedb_test::ManagerPtr;
using cassettedb_test::Picture;
using cassettedb_test::Recorder;
using cassettedb_test::ReadBytes;
using cassettedb_test::ScratchDir;
using cassettedb_test::WriteBytes;

// Itanium C++ ABI (g++ on Linux and mingw): a pointer to a virtual member
// function holds 1 + the byte offset of its entry in the table.
template <typename F>
std::size_t Slot(F member) {
  static_assert(sizeof(F) == 2 * sizeof(std::uintptr_t));
  std::uintptr_t words[2];
  std::memcpy(words, &member, sizeof words);
  EXPECT_EQ(words[0] % sizeof(void*), 1u) << "not a virtual function";
  return (words[0] - 1) / sizeof(void*);
}

TEST(MicDatabaseManagerLayout, OperationsSitAtTheirTablePositions) {
  using M = IMicDatabaseManager;
  const std::pair<std::size_t, std::size_t> slots[] = {
      {Slot(&M::GetVersion), 0},          {Slot(&M::Destroy), 1},
      {Slot(&M::Open), 2},                {Slot(&M::SelectCassette), 3},
      {Slot(&M::IsCleaningTape), 5},      {Slot(&M::GetTapeTitle), 9},
      {Slot(&M::SetTapeText), 10},        {Slot(&M::GetTapeText), 11},
      {Slot(&M::GetRecInfoCount), 12},    {Slot(&M::GetRecInfoList), 13},
      {Slot(&M::SetRecInfoPicture), 14},  {Slot(&M::GetRecInfoPicture), 17},
      {Slot(&M::SetRecInfoSecondPicture), 19}, {Slot(&M::GetRecInfoSecondPicture), 22},
      {Slot(&M::UpdateRecInfo), 24},      {Slot(&M::SetSmartControl), 25},
      {Slot(&M::Close), 26},              {Slot(&M::AddEventListener), 27},
      {Slot(&M::RemoveEventListener), 28},
  };
  for (const auto& [actual, expected] : slots) EXPECT_EQ(actual, expected) << "the operation for slot " << expected;
}

_OxMicDbRecInfo RecInfo(std::uint32_t start, const wchar_t* text) {
  _OxMicDbRecInfo r;
  r.recordedAt = 1'700'000'000 + start;
  r.startTimeCode = start;
  r.endTimeCode = start + 0x0100;
  r.duration = 4000;
  r.text = text;
  return r;
}

class MicDatabaseManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CreateMicDatabase(path));
    manager.reset(CreateMicDatabaseManager());
    ASSERT_NE(manager, nullptr);
    manager->AddEventListener(&recorder);
  }
  void TearDown() override {
    if (manager) manager->RemoveEventListener(&recorder);
  }
  // Two cassettes: "other" with a record and a picture, then "main" current.
  void fillTwoCassettes() {
    ASSERT_TRUE(manager->Open(path, 0));
    ASSERT_TRUE(manager->SelectCassette(L"other", true));
    auto scene = RecInfo(0x00000100, L"other scene");
    ASSERT_TRUE(manager->AddRecInfo(scene));
    auto picture = Picture(5000, 1);
    ASSERT_TRUE(manager->SetRecInfoPicture(scene.id, picture, true));
    ASSERT_TRUE(manager->SelectCassette(L"main", true));
    OxString text(L"main text");
    ASSERT_TRUE(manager->SetTapeText(text));
    recorder.take();
  }

  ScratchDir dir;
  std::filesystem::path file = dir.file("micdb \u00e9.mdb");
  OxString path{zelto::platform::WidePath(file).c_str()};
  ManagerPtr manager;
  Recorder recorder;
};

TEST_F(MicDatabaseManagerTest, RoundTripSurvivesANewManager) {
  ASSERT_TRUE(manager->Open(path, 0));
  ASSERT_TRUE(manager->SelectCassette(L"cassette 1", true));
  ASSERT_TRUE(manager->SetTapeTitle(L"Summer \u00fc"));
  ASSERT_TRUE(manager->SetCleaningTape(true));
  auto second = RecInfo(0x00102000, L"second");
  auto first = RecInfo(0x00001000, L"first");
  ASSERT_TRUE(manager->AddRecInfo(second));
  ASSERT_TRUE(manager->AddRecInfo(first));  // listed in tape order, not insertion order
  auto big = Picture(200'000, 7);
  auto small = Picture(1, 9);
  ASSERT_TRUE(manager->SetRecInfoPicture(first.id, big, true));
  ASSERT_TRUE(manager->SetRecInfoSecondPicture(first.id, small, true));
  ASSERT_TRUE(manager->UpdateRecInfo(second.id, true));
  EXPECT_TRUE(manager->Close());
  EXPECT_FALSE(manager->Close());  // nothing left to close

  ManagerPtr again(CreateMicDatabaseManager());
  ASSERT_TRUE(again->Open(path, 0));
  OxString title, identity;
  EXPECT_TRUE(again->GetTapeTitle(title) && again->GetCassetteIdentity(identity));
  EXPECT_EQ(title, OxString(L"Summer \u00fc"));
  EXPECT_EQ(identity, OxString(L"cassette 1"));
  EXPECT_TRUE(again->IsCleaningTape());
  EXPECT_EQ(again->GetRecInfoCount(), 2);
  std::vector<_OxMicDbRecInfo> list(5);  // stale contents are replaced
  ASSERT_TRUE(again->GetRecInfoList(list));
  ASSERT_EQ(list.size(), 2u);
  const auto& r = list[0];
  EXPECT_EQ(std::tie(r.id, r.recordedAt, r.startTimeCode, r.endTimeCode, r.duration),
            std::tie(first.id, first.recordedAt, first.startTimeCode, first.endTimeCode, first.duration));
  EXPECT_TRUE(r.hasFirstPicture && r.hasSecondPicture && !r.flag);
  EXPECT_EQ(r.text, OxString(L"first"));
  EXPECT_EQ(list[1].id, second.id);
  EXPECT_TRUE(!list[1].hasFirstPicture && !list[1].hasSecondPicture && list[1].flag);

  OxBitmap got = Picture(3, 3);
  EXPECT_TRUE(again->GetRecInfoPicture(first.id, got));
  EXPECT_EQ(got, big);
  EXPECT_TRUE(again->GetRecInfoSecondPicture(first.id, got));
  EXPECT_EQ(got, small);
  EXPECT_TRUE(again->GetRecInfoPicture(second.id, got));
  EXPECT_EQ(got.GetBitmapSize(), 0u);
}

TEST_F(MicDatabaseManagerTest, NothingAppliesWithoutADatabaseOrCassette) {
  OxString title(L"untouched");
  OxBitmap bitmap = Picture(4, 4);
  std::vector<_OxMicDbRecInfo> list(1);
  EXPECT_FALSE(manager->GetTapeTitle(title));
  EXPECT_FALSE(manager->SetTapeText(title));
  EXPECT_EQ(manager->GetRecInfoCount(), 0);
  ASSERT_TRUE(manager->Open(path, 0));  // a fresh file: no cassette is current
  EXPECT_FALSE(manager->GetTapeTitle(title));
  EXPECT_FALSE(manager->GetRecInfoPicture(1, bitmap));
  EXPECT_FALSE(manager->GetRecInfoList(list));
  // Ids beyond 32 bits name no record rather than wrapping onto one.
  ASSERT_TRUE(manager->SelectCassette(L"c", true));
  auto scene = RecInfo(1, L"s");
  ASSERT_TRUE(manager->AddRecInfo(scene));
  const long long wrapped = (1LL << 32) + scene.id;
  if (wrapped <= std::numeric_limits<long>::max()) {
    EXPECT_FALSE(manager->UpdateRecInfo(static_cast<long>(wrapped), true));
  }
  EXPECT_EQ(title, OxString(L"untouched"));
  EXPECT_EQ(bitmap, Picture(4, 4));
  EXPECT_EQ(list.size(), 1u);
  EXPECT_FALSE(manager->Open(path, 5));
  EXPECT_FALSE(manager->GetTapeTitle(title));  // a failed Open leaves nothing open
}

TEST_F(MicDatabaseManagerTest, EventsFollowReadingAndWritingWithoutTheLockHeld) {
  ASSERT_TRUE(manager->Open(path, 0));
  EXPECT_EQ(recorder.take(), (std::vector{OX_MIC_READING_START, OX_MIC_READING_COMPLETE}));
  ASSERT_TRUE(manager->SelectCassette(L"c", true));
  EXPECT_EQ(recorder.take(), (std::vector{OX_MIC_READING_START, OX_MIC_READING_COMPLETE}));
  EXPECT_FALSE(manager->UpdateRecInfo(12345, true));  // not applicable: silent
  EXPECT_FALSE(manager->SelectCassette(L"missing", false));
  EXPECT_EQ(recorder.take(), (std::vector{OX_MIC_READING_START, OX_MIC_READING_ERROR}));

  // Calling back from inside an event proves no lock is held while raising;
  // a listener may also remove itself there.
  OxString heard;
  recorder.action = [&](const OxReadingMicEvent& e) {
    if (e.GetEventID() == OX_MIC_DATA_CHANGED) manager->GetTapeTitle(heard);
  };
  Recorder once;
  once.action = [&](const OxReadingMicEvent&) { manager->RemoveEventListener(&once); };
  manager->AddEventListener(&once);
  ASSERT_TRUE(manager->SetTapeTitle(L"heard"));
  EXPECT_EQ(heard, OxString(L"heard"));
  ASSERT_TRUE(manager->SetTapeTitle(L"again"));
  EXPECT_EQ(once.take(), std::vector{OX_MIC_DATA_CHANGED});
  EXPECT_EQ(recorder.take(), (std::vector{OX_MIC_DATA_CHANGED, OX_MIC_DATA_CHANGED}));
  recorder.action = nullptr;
}

TEST_F(MicDatabaseManagerTest, DamagedOrMissingFilesFailCleanly) {
  fillTwoCassettes();
  manager->Close();
  const auto good = ReadBytes(file);
  ASSERT_GT(good.size(), 8192u);

  std::vector<char> garbage(good.size());
  for (std::size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<char>(i * 31 + 7);
  WriteBytes(file, garbage);
  EXPECT_FALSE(CreateMicDatabase(path));
  EXPECT_EQ(ReadBytes(file), garbage);
  EXPECT_FALSE(manager->Open(path, 0));
  EXPECT_EQ(recorder.take(), (std::vector{OX_MIC_READING_START, OX_MIC_READING_ERROR}));

  WriteBytes(file, std::vector<char>(good.begin(), good.begin() + static_cast<long>(good.size() / 2)));
  EXPECT_FALSE(manager->Open(path, 0));
  EXPECT_FALSE(CreateMicDatabase(path));

  std::filesystem::remove(file);
  EXPECT_FALSE(manager->Open(path, 0));
  EXPECT_FALSE(std::filesystem::exists(file));  // opening never creates
  EXPECT_TRUE(CreateMicDatabase(path));
  EXPECT_TRUE(manager->Open(path, 0));
}

TEST_F(MicDatabaseManagerTest, ALockedFileFailsWithinTheTimeoutAndRecovers) {
  fillTwoCassettes();
  const std::string before = DumpDatabase(file);
  OxString title(L"untouched");
  {
    cassettedb_test::ExclusiveLock lock(file);
    const auto start = std::chrono::steady_clock::now();
    OxString text(L"blocked");
    EXPECT_FALSE(manager->SetTapeText(text));
    EXPECT_FALSE(manager->GetTapeTitle(title));
    EXPECT_FALSE(manager->SelectCassette(L"other", false));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    const auto events = recorder.take();
    EXPECT_EQ(std::count(events.begin(), events.end(), OX_MIC_READING_ERROR), 3);
  }
  EXPECT_EQ(title, OxString(L"untouched"));
  EXPECT_EQ(before, DumpDatabase(file));
  ASSERT_TRUE(manager->SelectCassette(L"other", false));
  OxBitmap picture;
  std::vector<_OxMicDbRecInfo> list;
  ASSERT_TRUE(manager->GetRecInfoList(list));
  ASSERT_EQ(list.size(), 1u);
  ASSERT_TRUE(manager->GetRecInfoPicture(list[0].id, picture));
  EXPECT_EQ(picture, Picture(5000, 1));
}

TEST_F(MicDatabaseManagerTest, ConcurrentCallersSeeConsistentData) {
  ASSERT_TRUE(manager->Open(path, 0));
  ASSERT_TRUE(manager->SelectCassette(L"c", true));
  constexpr int kPerThread = 40;
  std::atomic<int> changed{0};
  recorder.action = [&](const OxReadingMicEvent& e) { changed += e.GetEventID() == OX_MIC_DATA_CHANGED; };
  std::atomic<bool> failed{false};
  auto writer = [&](std::uint32_t base) {
    for (std::uint32_t i = 0; i < kPerThread; ++i) {
      auto scene = RecInfo(base + i, L"w");
      OxBitmap picture = Picture(64, static_cast<std::uint8_t>(i));
      if (!manager->AddRecInfo(scene) || !manager->SetRecInfoPicture(scene.id, picture, true)) failed = true;
    }
  };
  std::thread a(writer, 0x01000000u), b(writer, 0x02000000u);
  for (int i = 0; i < kPerThread; ++i) {
    std::vector<_OxMicDbRecInfo> list;
    OxBitmap picture;
    if (!manager->GetRecInfoList(list)) failed = true;
    for (const auto& r : list) failed = failed || (r.hasFirstPicture && !manager->GetRecInfoPicture(r.id, picture));
  }
  a.join();
  b.join();
  EXPECT_FALSE(failed);
  EXPECT_EQ(manager->GetRecInfoCount(), 2 * kPerThread);
  EXPECT_EQ(changed.load(), 4 * kPerThread);
  recorder.action = nullptr;
}

}  // namespace
