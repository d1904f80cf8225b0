// ICassetteMemory: how the cassette-memory database manager reads the memory
// of the cassette in the camcorder, through the driver it is given
// (IMicDatabaseManager::SetSmartControl).
//
// It is not one of the camcorder driver's own interfaces: its identifier is
// of its own, outside the driver's family, and a driver that does not offer
// it answers E_NOINTERFACE when the smart control is queried for it. The
// manager then reads nothing and the database keeps what it had. Only this
// header is shared: the manager needs nothing of the driver's, and the
// driver nothing of the manager's.
//
// The memory holds a header (identity, title, text, cleaning mark) and one
// record per recorded scene, in tape order. Each record carries a key that
// the host gives it (SetRecordKey): the manager keys every record with the
// id its database gave that scene, and the driver hands the key back
// wherever it speaks of the scene (the tape scan's thumbnails). A record the
// host never keyed has key 0.
//
// Every change of the memory (a cassette going in or out, a scene recorded
// or cut, the text written) gives it a new sequence number, so that a
// reader can tell at the cost of one call whether what it read is still
// what the cassette holds. Record calls name the sequence they belong to
// and fail with CASSETTE_MEMORY_E_CHANGED when the memory has moved on: the
// reader starts again from the header.
//
// Threads: the object is free-threaded; every method may be called from any
// thread. Strings are zero-terminated and cut to the sizes below.
#pragma once

#include "platform/com.h"

// {5B0E3C21-7A44-4F1D-9C61-2E8A0D4C7B13}
inline constexpr IID IID_ICassetteMemory = {
    0x5B0E3C21, 0x7A44, 0x4F1D, {0x9C, 0x61, 0x2E, 0x8A, 0x0D, 0x4C, 0x7B, 0x13}};

inline constexpr HRESULT CASSETTE_MEMORY_E_CHANGED = static_cast<HRESULT>(0x80040201L);

inline constexpr unsigned CASSETTE_MEMORY_IDENTITY_CHARS = 32;
inline constexpr unsigned CASSETTE_MEMORY_TITLE_CHARS = 64;
inline constexpr unsigned CASSETTE_MEMORY_TEXT_CHARS = 256;
inline constexpr unsigned CASSETTE_MEMORY_RECORD_TEXT_CHARS = 64;

struct CASSETTE_MEMORY_HEADER {
  DWORD sequence;     // changes with every change of the memory
  DWORD recordCount;  // records, one per recorded scene
  BOOL cleaning;      // a cleaning cassette
  WCHAR identity[CASSETTE_MEMORY_IDENTITY_CHARS];  // never empty: names the cassette
  WCHAR title[CASSETTE_MEMORY_TITLE_CHARS];
  WCHAR text[CASSETTE_MEMORY_TEXT_CHARS];
};

struct CASSETTE_MEMORY_RECORD {
  DWORD key;            // the host's key (SetRecordKey); 0: none given
  DWORD startTimeCode;  // 0xHHMMSSFF, one binary field a byte
  DWORD endTimeCode;
  DWORD durationMs;
  LONGLONG recordedAt;  // seconds since 1970-01-01 00:00:00; 0 when unknown
  WCHAR text[CASSETTE_MEMORY_RECORD_TEXT_CHARS];
};

struct ICassetteMemory : public IUnknown {
  // 3: S_OK with the header; S_FALSE, the header zeroed, when there is no
  // memory to read (no cassette, or a cassette without memory).
  virtual HRESULT STDMETHODCALLTYPE GetHeader(CASSETTE_MEMORY_HEADER* header) = 0;
  // 4: record `index` (0 = the first scene on the tape) of the memory as it
  // was at `sequence`; E_INVALIDARG past the last.
  virtual HRESULT STDMETHODCALLTYPE GetRecord(DWORD sequence, DWORD index, CASSETTE_MEMORY_RECORD* record) = 0;
  // 5: gives record `index` of the memory at `sequence` the host's key.
  // Keys are not changes of the memory: the sequence stays.
  virtual HRESULT STDMETHODCALLTYPE SetRecordKey(DWORD sequence, DWORD index, DWORD key) = 0;
  // 6: writes the tape text (cut to its size); fails on a write-protected
  // cassette or one without memory.
  virtual HRESULT STDMETHODCALLTYPE SetText(const WCHAR* text) = 0;
};
