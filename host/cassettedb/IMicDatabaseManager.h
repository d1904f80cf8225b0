// OxCassetteDb: the cassette-memory database manager.
//
// The manager keeps what the cassettes' memories hold in one database file:
// per cassette a title, a text, a cleaning-tape mark and one
// recording-information record per scene with up to two pictures. One
// cassette is the current one (the last selected, remembered in the file);
// the tape operations below all act on it, so a record of another cassette
// can be neither read nor changed through them.
//
// The order of the virtual operations is a binary contract: callers reach
// them by their position in the table, so never reorder, insert or remove
// one; add new operations only after the last.
//
// Threads: every operation may be called from any thread; the connection is
// guarded by one lock, which is never held while listeners run.
//
// Events (OxReadingMicEvent, raised on the calling thread):
//   Open, SelectCassette: OX_MIC_READING_START, then OX_MIC_READING_COMPLETE
//     on success or OX_MIC_READING_ERROR on failure.
//   Successful writes: OX_MIC_DATA_CHANGED.
//   Any operation that fails because the file fails (locked, corrupt, full,
//     read-only): OX_MIC_READING_ERROR. Requests that merely do not apply (no
//     database open, no current cassette, unknown record) raise nothing.
#pragma once

#include <cstdint>
#include <vector>

#include "host/devevents/OxReadingMicEvent.h"
#include "host/foundation/OxBitmap.h"
#include "host/foundation/OxString.h"
#include "host/kel/KelSafeEventListener.h"

struct ISmartControl;

namespace Orvex {

// The manager's form of one recording-information record.
struct _OxMicDbRecInfo {
  std::int32_t id = 0;  // the record's key; never reused within a file
  // Recording date and time: seconds since 1970-01-01 00:00:00 UTC.
  alignas(8) std::int64_t recordedAt = 0;
  // Time codes packed as 0xHHMMSSFF (one binary field per byte), so that
  // numeric order is tape order.
  std::uint32_t startTimeCode = 0;
  std::uint32_t endTimeCode = 0;
  std::uint32_t duration = 0;  // scene length in milliseconds
  bool hasFirstPicture = false;
  bool hasSecondPicture = false;
  bool flag = false;  // the scene has been captured (UpdateRecInfo)
  OxString text;
};

// Values of Open's mode.
enum _OxMicDbOpenMode : int { OX_MIC_DB_OPEN_READWRITE = 0, OX_MIC_DB_OPEN_READONLY = 1 };

class IMicDatabaseManager {
 public:
  // 0: the interface version, kMicDatabaseManagerVersion.
  virtual long GetVersion() const = 0;
  // 1: closes the database and deletes the manager.
  virtual void Destroy() = 0;
  // 2: opens an existing database file (wide Windows-style path); a file
  // that is missing, locked, not ours or damaged fails. Replaces any
  // database opened before.
  virtual bool Open(const OxString& path, int mode) = 0;
  // 3: makes the cassette with this identity current; an unknown identity
  // is added when create is true, else the call fails.
  virtual bool SelectCassette(const OxString& identity, bool create) = 0;
  // 4: the current cassette's identity; false when none is current.
  virtual bool GetCassetteIdentity(OxString& identity) = 0;
  // 5
  virtual bool IsCleaningTape() = 0;
  // 6
  virtual bool SetCleaningTape(bool cleaning) = 0;
  // 7
  virtual bool SetTapeTitle(const OxString& title) = 0;
  // 8: removes a cassette with all its records; if it was current, no
  // cassette is current afterwards.
  virtual bool RemoveCassette(const OxString& identity) = 0;
  // 9
  virtual bool GetTapeTitle(OxString& title) = 0;
  // 10
  virtual bool SetTapeText(OxString& text) = 0;
  // 11
  virtual bool GetTapeText(OxString& text) = 0;
  // 12: 0 also when it cannot be read.
  virtual long GetRecInfoCount() = 0;
  // 13: replaces list's contents with the records in tape order.
  virtual bool GetRecInfoList(std::vector<_OxMicDbRecInfo>& list) = 0;
  // 14: stores the first picture. With replace false a picture already there
  // is kept and the call fails. An empty bitmap removes the picture.
  virtual bool SetRecInfoPicture(long id, OxBitmap& picture, bool replace) = 0;
  // 15: adds a record with info's fields (id and picture marks are ignored)
  // and stores its new id in info.id.
  virtual bool AddRecInfo(_OxMicDbRecInfo& info) = 0;
  // 16
  virtual bool RemoveRecInfo(long id) = 0;
  // 17: an empty bitmap when the record has no first picture.
  virtual bool GetRecInfoPicture(long id, OxBitmap& picture) = 0;
  // 18
  virtual bool SetRecInfoText(long id, const OxString& text) = 0;
  // 19: as SetRecInfoPicture, for the second picture.
  virtual bool SetRecInfoSecondPicture(long id, OxBitmap& picture, bool replace) = 0;
  // 20
  virtual bool GetRecInfo(long id, _OxMicDbRecInfo& info) = 0;
  // 21: the identities of all cassettes in the file, sorted.
  virtual bool GetCassetteList(std::vector<OxString>& identities) = 0;
  // 22
  virtual bool GetRecInfoSecondPicture(long id, OxBitmap& picture) = 0;
  // 23: removes every record of the current cassette.
  virtual bool RemoveAllRecInfo() = 0;
  // 24: sets the flag of the record whose id is key.
  virtual bool UpdateRecInfo(long key, bool flag) = 0;
  // 25: the driver interface through which the cassette memory will be
  // read; stored as given (no reference is taken), so it must outlive its
  // use here (null lets go of it). Where the driver offers ICassetteMemory
  // (host/cassettedb/ICassetteMemory.h) the memory is read into the open
  // database at once, and again whenever an operation on the current
  // cassette (IsCleaningTape, GetTapeTitle, GetTapeText, SetTapeText,
  // GetRecInfoCount, GetRecInfoList, GetCassetteIdentity) finds that it
  // changed (a cassette in or out, a scene recorded): the cassette becomes
  // current, with the memory's title, text and cleaning mark and one record
  // per scene (a scene keeps its record, with its pictures and flag, when
  // its key or else its date and start match), and each record's id is
  // written back to the memory as its key. With no cassette, or a cassette
  // without memory, no cassette is current. A database opened read-only is
  // never written; one opened later reads the memory afresh. SetTapeText also writes the text into the memory of the
  // cassette in the camcorder when that is the current one, first: a
  // memory that refuses it (or cannot be read, or could not be read last
  // time) fails the call and the database keeps its text; a write-protected
  // memory keeps its own and the database takes the text all the same.
  // A driver that once answered for its memory and no longer does has a
  // memory that cannot be read. A read raises OX_MIC_READING_START, then COMPLETE or ERROR.
  virtual void SetSmartControl(ISmartControl* smartControl) = 0;
  // 26: closes the database; false when none was open.
  virtual bool Close() = 0;
  // 27
  virtual void AddEventListener(KelSafeEventListener<OxReadingMicEvent>* listener) = 0;
  // 28: once this returns, the listener is called no more and may be
  // destroyed (unless it is called from within that listener).
  virtual void RemoveEventListener(KelSafeEventListener<OxReadingMicEvent>* listener) = 0;

 protected:
  // Not virtual: a virtual destructor would take table positions of its
  // own. Destroy is the way to delete a manager.
  ~IMicDatabaseManager() = default;
};

inline constexpr long kMicDatabaseManagerVersion = 1;

// A new manager with no database open; null on failure.
IMicDatabaseManager* CreateMicDatabaseManager();

// Creates an empty database file. Succeeds without change when the file
// already is a sound database of ours, and initialises an existing empty
// file; fails, leaving the file alone, for any other existing file.
bool CreateMicDatabase(const OxString& path);

// Writes a compacted copy of the database source to destination. The
// destination must not exist or must be an empty file (as a temporary-name
// creator leaves it); a non-empty destination is never overwritten. On
// failure the source is untouched and the destination is as it was before
// (absent, or empty). The last two arguments are reserved and ignored.
bool CompactDatabase(const OxString* source, const OxString* destination, const OxString* reserved1,
                     const OxString* reserved2);

}  // namespace Orvex
