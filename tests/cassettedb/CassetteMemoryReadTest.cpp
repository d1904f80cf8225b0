// The manager reading the cassette in the camcorder through the driver it
// is given (SetSmartControl and ICassetteMemory): what goes into the
// database, the keys that go back to the memory, what a changed memory keeps
// and drops, and the memories it cannot or must not read.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>

#include "host/cassettedb/ICassetteMemory.h"
#include "platform/PlatformExtras.h"
#include "tests/cassettedb/TestSupport.h"

namespace {

using namespace Orvex;
using cassettedb_test::ManagerPtr;
using cassettedb_test::Picture;
using cassettedb_test::Recorder;
using cassettedb_test::ScratchDir;

template <std::size_t N>
void Copy(WCHAR (&to)[N], const std::wstring& text) {
  const std::size_t n = std::min(text.size(), N - 1);
  std::copy_n(text.begin(), n, to);
  to[n] = 0;
}

// A driver whose smart control offers a cassette memory kept in plain
// fields; a test changes them as a camcorder would.
class FakeMemory final : public ICassetteMemory {
 public:
  struct Record {
    DWORD key = 0;
    DWORD start = 0;
    LONGLONG recordedAt = 0;
    std::wstring text;
  };

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    *out = nullptr;
    if (!offered || (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_ICassetteMemory))) {
      // Its own identity always answers; the memory only when offered.
      if (!IsEqualIID(iid, IID_IUnknown)) return E_NOINTERFACE;
    }
    *out = static_cast<ICassetteMemory*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }

  HRESULT STDMETHODCALLTYPE GetHeader(CASSETTE_MEMORY_HEADER* header) override {
    ++headerReads;
    *header = CASSETTE_MEMORY_HEADER{};
    if (unreadable) return E_FAIL;
    if (!present) return S_FALSE;
    header->sequence = sequence;
    header->recordCount = static_cast<DWORD>(records.size());
    header->cleaning = cleaning;
    Copy(header->identity, identity);
    Copy(header->title, title);
    Copy(header->text, text);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetRecord(DWORD seq, DWORD index, CASSETTE_MEMORY_RECORD* record) override {
    *record = CASSETTE_MEMORY_RECORD{};
    if (changesWhileRead > 0) {
      --changesWhileRead;
      ++sequence;
    }
    if (seq != sequence) return CASSETTE_MEMORY_E_CHANGED;
    if (index >= records.size()) return E_INVALIDARG;
    const Record& r = records[index];
    record->key = r.key;
    record->startTimeCode = r.start;
    record->endTimeCode = r.start + 0x0500;
    record->durationMs = 5000;
    record->recordedAt = r.recordedAt;
    Copy(record->text, r.text);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetRecordKey(DWORD seq, DWORD index, DWORD key) override {
    if (seq != sequence) return CASSETTE_MEMORY_E_CHANGED;
    if (index >= records.size()) return E_INVALIDARG;
    records[index].key = key;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetText(const WCHAR* newText) override {
    if (writeProtected) return static_cast<HRESULT>(0x80070013L);
    if (FAILED(textFailure)) return textFailure;
    text = newText;
    ++sequence;
    return S_OK;
  }

  ISmartControl* AsSmartControl() { return reinterpret_cast<ISmartControl*>(static_cast<IUnknown*>(this)); }
  std::vector<DWORD> Keys() const {
    std::vector<DWORD> keys;
    for (const Record& r : records) keys.push_back(r.key);
    return keys;
  }

  bool offered = true;
  bool present = true;
  bool writeProtected = false;
  bool unreadable = false;      // GetHeader fails
  HRESULT textFailure = S_OK;   // what SetText fails with, if anything
  BOOL cleaning = FALSE;
  DWORD sequence = 1;
  int changesWhileRead = 0;
  std::wstring identity = L"ZL-CASSETTE-1";
  std::wstring title = L"Holiday";
  std::wstring text = L"Tape text";
  std::vector<Record> records = {{0, 0x00000000, 1'752'300'000, L"Harbour"},
                                 {0, 0x00013000, 1'752'310'000, L"Market"},
                                 {0, 0x00021000, 1'752'390'000, L"Ferry"}};
  std::atomic<int> references{0};
  int headerReads = 0;
};

std::vector<std::int32_t> Ids(IMicDatabaseManager& manager) {
  std::vector<_OxMicDbRecInfo> list;
  EXPECT_TRUE(manager.GetRecInfoList(list));
  std::vector<std::int32_t> ids;
  for (const auto& r : list) ids.push_back(r.id);
  return ids;
}

std::vector<DWORD> AsKeys(const std::vector<std::int32_t>& ids) { return {ids.begin(), ids.end()}; }

class CassetteMemoryReadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CreateMicDatabase(path));
    manager.reset(CreateMicDatabaseManager());
    ASSERT_NE(manager, nullptr);
    manager->AddEventListener(&recorder);
    ASSERT_TRUE(manager->Open(path, OX_MIC_DB_OPEN_READWRITE));
    recorder.take();
  }
  void TearDown() override {
    manager->SetSmartControl(nullptr);
    manager->RemoveEventListener(&recorder);
    manager.reset();
    EXPECT_EQ(memory.references.load(), 0) << "every reference taken is given back";
  }

  ScratchDir dir;
  std::filesystem::path file = dir.file("micdb.mdb");
  OxString path{zelto::platform::WidePath(file).c_str()};
  ManagerPtr manager;
  Recorder recorder;
  FakeMemory memory;
};


TEST_F(CassetteMemoryReadTest, TheMemoryBecomesTheCurrentCassetteAndEveryRecordIsKeyedWithItsId) {
  memory.cleaning = TRUE;
  manager->SetSmartControl(memory.AsSmartControl());
  EXPECT_EQ(recorder.take(), (std::vector<_OxReadingMicEventID>{OX_MIC_READING_START, OX_MIC_READING_COMPLETE}));

  OxString identity, title, text;
  ASSERT_TRUE(manager->GetCassetteIdentity(identity));
  EXPECT_EQ(identity.GetStdString(), L"ZL-CASSETTE-1");
  ASSERT_TRUE(manager->GetTapeTitle(title));
  EXPECT_EQ(title.GetStdString(), L"Holiday");
  ASSERT_TRUE(manager->GetTapeText(text));
  EXPECT_EQ(text.GetStdString(), L"Tape text");
  EXPECT_TRUE(manager->IsCleaningTape());

  std::vector<_OxMicDbRecInfo> list;
  ASSERT_TRUE(manager->GetRecInfoList(list));
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[1].text.GetStdString(), L"Market");
  EXPECT_EQ(list[1].startTimeCode, 0x00013000u);
  EXPECT_EQ(list[1].endTimeCode, 0x00013500u);
  EXPECT_EQ(list[1].recordedAt, 1'752'310'000);
  EXPECT_EQ(list[1].duration, 5000u);
  EXPECT_EQ(memory.Keys(), AsKeys(Ids(*manager))) << "the driver hands these keys back with its thumbnails";
  EXPECT_GT(list[0].id, 0);

  // Unchanged: asked again, nothing is read again and nothing is raised.
  const int reads = memory.headerReads;
  EXPECT_EQ(manager->GetRecInfoCount(), 3);
  EXPECT_EQ(memory.headerReads, reads + 1) << "one look at the header";
  EXPECT_TRUE(recorder.take().empty());
}

TEST_F(CassetteMemoryReadTest, AChangedMemoryIsReadAgainAndItsScenesKeepWhatTheDatabaseAdded) {
  manager->SetSmartControl(memory.AsSmartControl());
  const std::vector<std::int32_t> before = Ids(*manager);
  auto picture = Picture(3000, 5);
  ASSERT_TRUE(manager->SetRecInfoPicture(before[1], picture, true));
  ASSERT_TRUE(manager->UpdateRecInfo(before[2], true));

  // The first scene recorded over, a new one after the last.
  memory.records.erase(memory.records.begin());
  memory.records.push_back({0, 0x00030000, 1'752'400'000, L"Beach"});
  ++memory.sequence;
  recorder.take();
  const std::vector<std::int32_t> after = Ids(*manager);
  EXPECT_EQ(recorder.take(), (std::vector<_OxReadingMicEventID>{OX_MIC_READING_START, OX_MIC_READING_COMPLETE}));
  ASSERT_EQ(after.size(), 3u);
  EXPECT_EQ(after[0], before[1]);
  EXPECT_EQ(after[1], before[2]);
  EXPECT_GT(after[2], before[2]) << "a new scene, a new id";
  EXPECT_EQ(memory.Keys(), AsKeys(after));
  OxBitmap kept;
  ASSERT_TRUE(manager->GetRecInfoPicture(after[0], kept));
  EXPECT_EQ(kept.GetBitmapSize(), 3000u);
  _OxMicDbRecInfo flagged;
  ASSERT_TRUE(manager->GetRecInfo(after[1], flagged));
  EXPECT_TRUE(flagged.flag);
  _OxMicDbRecInfo gone;
  EXPECT_FALSE(manager->GetRecInfo(before[0], gone)) << "the scene recorded over is gone";

  // The same scenes without their keys (a fresh copy of the camcorder's
  // state, or keys another database gave): matched by date and start.
  for (auto& r : memory.records) r.key = r.key == static_cast<DWORD>(after[0]) ? 0 : 999'999;
  ++memory.sequence;
  EXPECT_EQ(Ids(*manager), after);
  EXPECT_EQ(memory.Keys(), AsKeys(after));
  ASSERT_TRUE(manager->GetRecInfoPicture(after[0], kept));
  EXPECT_EQ(kept.GetBitmapSize(), 3000u);
}

TEST_F(CassetteMemoryReadTest, AMemoryThatChangesWhileReadIsReadAgainOrLeftForTheNextCall) {
  memory.changesWhileRead = 1;
  manager->SetSmartControl(memory.AsSmartControl());
  EXPECT_EQ(recorder.take(), (std::vector<_OxReadingMicEventID>{OX_MIC_READING_START, OX_MIC_READING_COMPLETE}));
  EXPECT_EQ(memory.Keys(), AsKeys(Ids(*manager)));

  // One that will not hold still is an error, and is tried again next time.
  memory.changesWhileRead = 1000;
  ++memory.sequence;
  recorder.take();
  EXPECT_EQ(manager->GetRecInfoCount(), 3) << "the database keeps what it had";
  EXPECT_EQ(recorder.take(), (std::vector<_OxReadingMicEventID>{OX_MIC_READING_START, OX_MIC_READING_ERROR}));
  memory.changesWhileRead = 0;
  memory.records.pop_back();
  EXPECT_EQ(manager->GetRecInfoCount(), 2);
  EXPECT_EQ(recorder.take(), (std::vector<_OxReadingMicEventID>{OX_MIC_READING_START, OX_MIC_READING_COMPLETE}));
}

TEST_F(CassetteMemoryReadTest, WhatIsNotThereOrCannotBeReadOrWritten) {
  // No cassette (or one without memory): no cassette is current.
  manager->SetSmartControl(memory.AsSmartControl());
  memory.present = false;
  ++memory.sequence;
  OxString identity;
  EXPECT_FALSE(manager->GetCassetteIdentity(identity));
  EXPECT_EQ(manager->GetRecInfoCount(), 0);
  memory.present = true;
  ++memory.sequence;
  EXPECT_TRUE(manager->GetCassetteIdentity(identity));

  // A driver without the interface: the database stays as it is.
  FakeMemory silent;
  silent.offered = false;
  manager->SetSmartControl(silent.AsSmartControl());
  ASSERT_TRUE(manager->SelectCassette(L"chosen by hand", true));
  EXPECT_TRUE(manager->GetCassetteIdentity(identity));
  EXPECT_EQ(identity.GetStdString(), L"chosen by hand");
  EXPECT_EQ(silent.headerReads, 0);
  manager->SetSmartControl(nullptr);
  EXPECT_EQ(silent.references.load(), 0);

  // A database opened to be read only takes nothing and reports nothing.
  ASSERT_TRUE(manager->Open(path, OX_MIC_DB_OPEN_READONLY));
  ++memory.sequence;
  memory.identity = L"ZL-CASSETTE-2";
  recorder.take();
  manager->SetSmartControl(memory.AsSmartControl());
  EXPECT_TRUE(manager->GetCassetteIdentity(identity));
  EXPECT_EQ(identity.GetStdString(), L"chosen by hand");
  EXPECT_TRUE(recorder.take().empty());

  // Opened again to be written, it reads the memory at the next question.
  ASSERT_TRUE(manager->Open(path, OX_MIC_DB_OPEN_READWRITE));
  EXPECT_TRUE(manager->GetCassetteIdentity(identity));
  EXPECT_EQ(identity.GetStdString(), L"ZL-CASSETTE-2");
  // So does another database, though the memory has not changed since.
  const std::filesystem::path other = dir.file("other.mdb");
  const OxString otherPath{zelto::platform::WidePath(other).c_str()};
  ASSERT_TRUE(CreateMicDatabase(otherPath));
  ASSERT_TRUE(manager->Open(otherPath, OX_MIC_DB_OPEN_READWRITE));
  EXPECT_EQ(manager->GetRecInfoCount(), 3);
}

TEST_F(CassetteMemoryReadTest, TapeTextGoesIntoTheMemoryOfTheCassetteInTheCamcorder) {
  manager->SetSmartControl(memory.AsSmartControl());
  OxString text(L"Summer 2025");
  ASSERT_TRUE(manager->SetTapeText(text));
  EXPECT_EQ(memory.text, L"Summer 2025");
  const int reads = memory.headerReads;
  OxString back;
  ASSERT_TRUE(manager->GetTapeText(back));
  EXPECT_EQ(back.GetStdString(), L"Summer 2025");
  EXPECT_EQ(memory.headerReads, reads + 1) << "its own write is not a change to read again";

  // Write-protected: the database keeps the text, the memory cannot.
  memory.writeProtected = true;
  OxString protectedText(L"not on tape");
  EXPECT_TRUE(manager->SetTapeText(protectedText));
  EXPECT_EQ(memory.text, L"Summer 2025");
  ASSERT_TRUE(manager->GetTapeText(back));
  EXPECT_EQ(back.GetStdString(), L"not on tape");

  // Another cassette made current by hand: the one in the camcorder is left alone.
  memory.writeProtected = false;
  ASSERT_TRUE(manager->SelectCassette(L"on the shelf", true));
  OxString shelf(L"shelf text");
  EXPECT_TRUE(manager->SetTapeText(shelf));
  EXPECT_EQ(memory.text, L"Summer 2025");
}

// A text the camcorder's memory did not take is not reported written: the
// database would give it up for the memory's at the next reading.
TEST_F(CassetteMemoryReadTest, ATextTheMemoryCouldNotTakeIsRefused) {
  struct Case {
    const char* what;
    std::function<void(FakeMemory&, bool)> fault;
  };
  const std::vector<Case> cases = {
      {"the memory refuses the text", [](FakeMemory& m, bool on) { m.textFailure = on ? E_FAIL : S_OK; }},
      {"the memory cannot be read", [](FakeMemory& m, bool on) { m.unreadable = on; }},
      {"the driver no longer answers for its memory", [](FakeMemory& m, bool on) { m.offered = !on; }},
  };
  manager->SetSmartControl(memory.AsSmartControl());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    OxString before(L"kept");
    ASSERT_TRUE(manager->SetTapeText(before));
    c.fault(memory, true);
    OxString refused(L"refused");
    EXPECT_FALSE(manager->SetTapeText(refused));
    EXPECT_EQ(memory.text, L"kept");
    c.fault(memory, false);
    ++memory.sequence;  // read afresh: the database says what the memory says
    OxString back;
    ASSERT_TRUE(manager->GetTapeText(back));
    EXPECT_EQ(back.GetStdString(), L"kept");
  }
}

}  // namespace
