// The cassette-memory road (the host's database reading the cassette in the
// camcorder through the driver, and the host writing the tape text) runs with every driver call it makes failing in turn (see
// RoadSweep.h). Whatever fails, each call returns within its bound, each
// reading the host hears begins once and ends once, and every write the
// host was told succeeded is in the database file afterwards, also once the
// cassette has been taken out and put back.
#include "host/cassettedb/IMicDatabaseManager.h"
#include "host/devevents/OxReadingMicEvent.h"
#include "tests/e2e/RoadSweep.h"

namespace {

using namespace Orvex;
using e2e::Method;
using ReadingRecorder = e2e::Recorder<OxReadingMicEvent>;

class MemoryRoadFaultsE2e : public e2e::RoadSweepTest {
protected:
  MemoryRoadFaultsE2e() {
    config.camcorder.cassette = Cassette(0);
    timeScale = 0.05;
  }
  void Listen() override {
    reading.WakeOnEvent(arrived);
    device->AddEventListener(&reading);
  }
  void Unlisten() override {
    if (device) device->RemoveEventListener(&reading);
  }

  // A cassette the database has never seen: two scenes, no keys yet.
  static zelto::sim::Cassette Cassette(unsigned n) {
    zelto::sim::Cassette c = e2e::Tape(20, 0.5, {e2e::SceneAt(1, 2), e2e::SceneAt(5, 6)});
    c.identity = "ROAD-" + std::to_string(n);
    c.title = "Road " + std::to_string(n);
    c.text = "before";
    return c;
  }

  // Each reading heard from `from` on begins, then ends once, before the
  // next begins; the number of readings.
  std::size_t CheckReadings(std::size_t from) {
    const auto entries = reading.Entries();
    std::size_t readings = 0;
    bool open = false;
    for (std::size_t i = from; i < entries.size(); ++i) {
      switch (entries[i].value.GetEventID()) {
        case OX_MIC_READING_START:
          EXPECT_FALSE(open) << "a reading began before the last one ended";
          open = true;
          ++readings;
          break;
        case OX_MIC_READING_COMPLETE:
        case OX_MIC_READING_ERROR:
          EXPECT_TRUE(open) << "a reading ended that never began, or ended twice";
          open = false;
          break;
        default:
          break;
      }
    }
    EXPECT_FALSE(open) << "a reading never ended";
    return readings;
  }
  std::size_t CountFrom(std::size_t from, _OxReadingMicEventID id) {
    std::size_t n = 0;
    const auto entries = reading.Entries();
    for (std::size_t i = from; i < entries.size(); ++i) n += entries[i].value.GetEventID() == id;
    return n;
  }

  // What the host was told it wrote: a cassette's text.
  struct Written {
    std::string identity;
    std::wstring text;
  };

  // Every write the host was told succeeded (from the `from`th on) is in
  // the database file, read by a manager of its own. The file's current
  // cassette is put back after.
  void CheckWritesKept(std::size_t from = 0) {
    IMicDatabaseManager* checker = CreateMicDatabaseManager();
    ASSERT_NE(checker, nullptr);
    const std::wstring path = zelto::platform::WidePath(folder / "db" / "micdb.mdb");
    if (!checker->Open(OxString(path.c_str()), OX_MIC_DB_OPEN_READWRITE)) {
      checker->Destroy();
      FAIL() << "the database file cannot be opened";
    }
    OxString current;
    const bool hadCurrent = checker->GetCassetteIdentity(current);
    for (std::size_t i = from; i < written.size(); ++i) {
      const Written& w = written[i];
      SCOPED_TRACE(w.identity);
      if (!checker->SelectCassette(OxString(zelto::platform::FromUtf8(w.identity).c_str()), false)) {
        ADD_FAILURE() << "a cassette written to is gone from the database";
        continue;
      }
      OxString text;
      EXPECT_TRUE(checker->GetTapeText(text));
      EXPECT_EQ(text.GetStdString(), w.text) << "a tape text reported written is lost";
    }
    if (hadCurrent) checker->SelectCassette(current, false);
    checker->Destroy();
  }

  // The host reads the fresh cassette's records, sets the tape text and reads
  // it back; then the cassette goes out and in again and the host reads the
  // text and the records once more: each scene keeps its record.
  Road MemoryRoad() {
    return Road{{Method::QueryCassetteMemory, Method::GetMemoryHeader, Method::GetMemoryRecord,
                 Method::SetMemoryRecordKey, Method::SetMemoryText},
                [this](bool clean) {
                  EXPECT_EQ(reading.Count(), heardByLastRun) << "a reading heard after the last run had ended";
                  // The last run's writes here; all of them once the sweep is over.
                  ASSERT_NO_FATAL_FAILURE(CheckWritesKept(checkedSoFar));
                  checkedSoFar = written.size();
                  const unsigned n = ++runs;
                  ASSERT_NO_FATAL_FAILURE(LoadCassette(Cassette(n)));
                  const std::size_t from = reading.Count();
                  const std::wstring text = L"text of run " + std::to_wstring(n);
                  long count = 0;
                  bool textSet = false;
                  OxString readBack;
                  std::vector<_OxMICRecInfo> records;
                  EXPECT_LT(e2e::Timed([&] {
                              count = device->GetMICRecInfoCount();
                              OxString t(text.c_str());
                              textSet = device->SetTapeText(t);
                              device->GetTapeText(readBack);
                              device->GetMICRecInfo(records);
                            }),
                            e2e::kCallBound);
                  if (textSet) written.push_back(Written{Cassette(n).identity, text});
                  const std::size_t readings = CheckReadings(from);
                  if (clean) {
                    EXPECT_EQ(count, 2);
                    EXPECT_TRUE(textSet);
                    EXPECT_EQ(readBack.GetStdString(), text);
                    ASSERT_EQ(records.size(), 2u);
                    EXPECT_EQ(readings, 1u);
                    EXPECT_EQ(CountFrom(from, OX_MIC_READING_ERROR), 0u);
                    // The database's ids went back to the memory as its records' keys,
                    // and the text with them.
                    const std::optional<zelto::sim::Cassette> tape = Panel().CurrentCassette();
                    ASSERT_TRUE(tape);
                    EXPECT_EQ(tape->scenes[0].memoryKey, static_cast<std::uint32_t>(records[0].id));
                    EXPECT_EQ(tape->scenes[1].memoryKey, static_cast<std::uint32_t>(records[1].id));
                    EXPECT_EQ(zelto::platform::FromUtf8(tape->text), text);
                  }

                  // Out and in again: the database reads the memory afresh.
                  const std::optional<zelto::sim::Cassette> left = Panel().CurrentCassette();
                  if (!left && !clean) {
                    // Taken out in this run: its writes are checked by the next.
                    heardByLastRun = reading.Count();
                    return;
                  }
                  ASSERT_TRUE(left);
                  ASSERT_NO_FATAL_FAILURE(LoadCassette(*left));
                  const std::size_t again = reading.Count();
                  OxString textAgain;
                  std::vector<_OxMICRecInfo> recordsAgain;
                  EXPECT_LT(e2e::Timed([&] {
                              device->GetTapeText(textAgain);
                              device->GetMICRecInfo(recordsAgain);
                            }),
                            e2e::kCallBound);
                  CheckReadings(again);
                  if (clean) {
                    EXPECT_EQ(textAgain.GetStdString(), text);
                    ASSERT_EQ(recordsAgain.size(), 2u);
                    EXPECT_EQ(recordsAgain[0].id, records[0].id) << "a scene lost its record";
                    EXPECT_EQ(recordsAgain[1].id, records[1].id) << "a scene lost its record";
                  }
                  heardByLastRun = reading.Count();
                }};
  }

  ReadingRecorder reading;
  std::vector<Written> written;
  std::size_t checkedSoFar = 0;
  std::size_t heardByLastRun = 0;
  unsigned runs = 0;
};

TEST_F(MemoryRoadFaultsE2e, WritesReportedDoneAreKeptWhicheverCallFails) {
  EXPECT_GT(Sweep(MemoryRoad()), 0u);
  CheckWritesKept();
}

TEST_F(MemoryRoadFaultsE2e, WritesReportedDoneAreKeptWhereverTheCamcorderIsRemoved) {
  EXPECT_GT(SweepEvents(MemoryRoad(), e2e::EventAction::Remove), 0u);
  CheckWritesKept();
}

TEST_F(MemoryRoadFaultsE2e, WritesReportedDoneAreKeptWhereverTheCassetteIsEjected) {
  EXPECT_GT(SweepEvents(MemoryRoad(), e2e::EventAction::Eject), 0u);
  CheckWritesKept();
}

}  // namespace
