// The camcorder driver component as the library calls it: interface
// identifiers, the records the interfaces pass, and the interfaces with their
// methods at fixed positions of the table of virtual operations.
//
// Positions are a binary contract with the driver: slots 0 to 2 are IUnknown's,
// and positions the library never calls are declared as reserved methods so
// that the called ones keep their places. Never reorder, insert or remove a
// method. Interfaces have no virtual destructor (with g++ it would take two
// positions); objects are deleted by their own Release.
//
// Everything that the driver leaves open is fixed here, once:
// - records are passed by pointer;
// - strings handed to the driver are zero-terminated wide texts that the
//   driver copies before the call returns; strings the driver hands out stay
//   the driver's and live as long as the object that handed them out;
// - DRIVER_CLASS_LIST::classes is COM task memory that the caller frees;
// - the deck command, status and event codes are listed at the end.
#pragma once

#include "host/foundation/TimeCodeRecord.h"
#include "platform/com.h"

namespace zelto::driver {

// Every identifier is {0227CFxx-1F01-11D6-A4E5-00E02921EA26}.
constexpr GUID DriverGuid(BYTE xx) {
  return GUID{0x0227CF00u | xx, 0x1F01, 0x11D6, {0xA4, 0xE5, 0x00, 0xE0, 0x29, 0x21, 0xEA, 0x26}};
}

}  // namespace zelto::driver

inline constexpr CLSID CLSID_DriverClassEnumerator = zelto::driver::DriverGuid(0x51);
inline constexpr GUID STREAMTYPE_VIDEOSYSTEM0 = zelto::driver::DriverGuid(0xD2);
inline constexpr GUID STREAMTYPE_VIDEOSYSTEM1 = zelto::driver::DriverGuid(0xD3);

inline constexpr IID IID_IDriverClassEnumerator = zelto::driver::DriverGuid(0x05);
inline constexpr IID IID_IUnitCollection = zelto::driver::DriverGuid(0x08);
inline constexpr IID IID_IUnitProperties = zelto::driver::DriverGuid(0x0A);
inline constexpr IID IID_IStreamTransmit = zelto::driver::DriverGuid(0x12);
inline constexpr IID IID_IPreviewControl = zelto::driver::DriverGuid(0x13);
inline constexpr IID IID_ISmartControl = zelto::driver::DriverGuid(0x10);
inline constexpr IID IID_IDeckControl = zelto::driver::DriverGuid(0x14);
inline constexpr IID IID_IStreamReceive = zelto::driver::DriverGuid(0x20);
inline constexpr IID IID_IDecodeQuality = zelto::driver::DriverGuid(0x33);
inline constexpr IID IID_ITapeScan = zelto::driver::DriverGuid(0x40);
// The unit enumerator and the unit itself are never asked for by identifier;
// the simulated driver answers QueryInterface for these all the same.
inline constexpr IID IID_IEnumUnits = zelto::driver::DriverGuid(0x09);
inline constexpr IID IID_IUnitMoniker = zelto::driver::DriverGuid(0x0B);

// The driver classes that handle the asked-for stream types.
struct DRIVER_CLASS_LIST {
  DWORD count;
  CLSID* classes;  // count entries; COM task memory, freed by the caller
};

// Stream types for IStreamReceive::SetStreamTypes.
struct GUID_LIST {
  DWORD count;
  GUID* guids;
};

// What wParam of a driver event message points to. The driver keeps it
// alive until the message has been dispatched.
struct DRIVER_EVENT_RECORD {
  DWORD reserved;
  DWORD code;  // DriverEventCode
};

// What lParam of DRIVER_EVENT_FILE_COMPLETE points to.
struct DRIVER_FILE_RECORD {
  const WCHAR* path;  // the completed capture file
  DWORD reserved;
};

struct IUnitMoniker;

struct IDriverClassEnumerator : public IUnknown {
  // 3: the classes that handle any of the count stream types.
  virtual HRESULT STDMETHODCALLTYPE GetDriverClasses(DWORD count, const GUID* streamTypes,
                                                     DRIVER_CLASS_LIST* classes) = 0;
};

struct IEnumUnits : public IUnknown {
  // 3: S_OK with one unit, S_FALSE when none is left.
  virtual HRESULT STDMETHODCALLTYPE Next(ULONG count, IUnitMoniker** units, ULONG* fetched) = 0;
};

struct IUnitCollection : public IUnknown {
  // 3
  virtual HRESULT STDMETHODCALLTYPE EnumUnits(IEnumUnits** units) = 0;
};

struct IUnitMoniker : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Reserved3() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved4() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved5() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved6() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved7() = 0;
  // 8: the unit's driver object; bindContext and left are always null.
  virtual HRESULT STDMETHODCALLTYPE BindToObject(IUnknown* bindContext, IUnitMoniker* left, REFIID iid,
                                                 void** object) = 0;
};

struct IUnitProperties : public IUnknown {
  // 3: the text stays the driver's.
  virtual HRESULT STDMETHODCALLTYPE GetStringProperty(const WCHAR* name, const WCHAR** value) = 0;
};

struct ISmartControl : public IUnknown {
  // 3: events are posted to the window until it is unadvised.
  virtual HRESULT STDMETHODCALLTYPE AdviseWindow(HWND window, DWORD* cookie) = 0;
  // 4
  virtual HRESULT STDMETHODCALLTYPE UnadviseWindow(DWORD cookie) = 0;
};

struct IDeckControl : public IUnknown {
  // 3: a DeckCommand, or DECK_COMMAND_SEEK_ATN | track number.
  virtual HRESULT STDMETHODCALLTYPE SendCommand(DWORD command) = 0;
  // 4: a DeckStatusKind; the value is a code of that kind.
  virtual HRESULT STDMETHODCALLTYPE GetStatus(DWORD kind, DWORD* value) = 0;
  // 5
  virtual HRESULT STDMETHODCALLTYPE GetTimeCode(__MIDL___MIDL_itf_plgdefs_0000_0001* timeCode) = 0;
  // 6
  virtual HRESULT STDMETHODCALLTYPE SetRecordMode(BOOL record) = 0;
};

struct IStreamReceive : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Stop() = 0;                                       // 3
  virtual HRESULT STDMETHODCALLTYPE SetFolder(const WCHAR* path) = 0;                 // 4
  virtual HRESULT STDMETHODCALLTYPE SetFileName(const WCHAR* pattern, DWORD kind) = 0;  // 5
  virtual HRESULT STDMETHODCALLTYPE SetOptions(DWORD flags) = 0;                      // 6
  virtual HRESULT STDMETHODCALLTYPE SetStreamTypes(const GUID_LIST* types) = 0;       // 7
  virtual HRESULT STDMETHODCALLTYPE StartDirect() = 0;                                // 8
  virtual HRESULT STDMETHODCALLTYPE Abort() = 0;                                      // 9
  virtual HRESULT STDMETHODCALLTYPE Reserved10() = 0;                                 // 10
  virtual HRESULT STDMETHODCALLTYPE SetMaxFileSize(ULONGLONG bytes) = 0;              // 11
  virtual HRESULT STDMETHODCALLTYPE Reserved12() = 0;                                 // 12
  virtual HRESULT STDMETHODCALLTYPE ClearBatch() = 0;                                 // 13
  // 14: a section starting at inPoint (hundredths of a second of tape),
  // captured into files named by pattern.
  virtual HRESULT STDMETHODCALLTYPE AddBatchItem(DWORD inPoint, DWORD reserved, const WCHAR* pattern,
                                                 DWORD kind) = 0;
  virtual HRESULT STDMETHODCALLTYPE StartBatch() = 0;  // 15
  virtual HRESULT STDMETHODCALLTYPE StopBatch() = 0;   // 16
};

struct ITapeScan : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Reserved3() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved4() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved5() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved6() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved7() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved8() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved9() = 0;
  virtual HRESULT STDMETHODCALLTYPE StartScan(DWORD flags) = 0;  // 10
  virtual HRESULT STDMETHODCALLTYPE StopScan() = 0;              // 11
};

struct IStreamTransmit : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetFile(const WCHAR* path) = 0;              // 3
  virtual HRESULT STDMETHODCALLTYPE Start() = 0;                                 // 4
  virtual HRESULT STDMETHODCALLTYPE Stop() = 0;                                  // 5
  virtual HRESULT STDMETHODCALLTYPE SetMargins(DWORD first, DWORD second) = 0;  // 6
};

struct IPreviewControl : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetOwnerWindow(HWND window) = 0;    // 3
  virtual HRESULT STDMETHODCALLTYPE SetWindowRect(const RECT* rect) = 0;  // 4
  virtual HRESULT STDMETHODCALLTYPE SetMode(DWORD mode) = 0;            // 5
  virtual HRESULT STDMETHODCALLTYPE SetVolume(DWORD level) = 0;         // 6
};

struct IDecodeQuality : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Reserved3() = 0;
  virtual HRESULT STDMETHODCALLTYPE SetQuality(DWORD code, BOOL deinterlace) = 0;  // 4
};

// IDeckControl::SendCommand codes.
enum DeckCommand : DWORD {
  DECK_COMMAND_PLAY = 1,
  DECK_COMMAND_PAUSE = 2,
  DECK_COMMAND_STOP = 3,
  DECK_COMMAND_RECORD = 4,
  DECK_COMMAND_RECORD_PAUSE = 5,
  DECK_COMMAND_REWIND = 6,
  DECK_COMMAND_FAST_FORWARD = 7,
  DECK_COMMAND_PLAY_FASTEST_FORWARD = 8,
  DECK_COMMAND_PLAY_SLOWEST_FORWARD = 9,
  DECK_COMMAND_PLAY_FASTEST_REVERSE = 10,
  DECK_COMMAND_PLAY_SLOWEST_REVERSE = 11,
  DECK_COMMAND_SEEK_ATN = 0x10000000,  // OR the absolute track number
};

// IDeckControl::GetStatus kinds.
enum DeckStatusKind : DWORD {
  DECK_STATUS_DECK_STATE = 1,
  DECK_STATUS_MEDIA_INFO = 2,
  DECK_STATUS_CAMCORDER_MODE = 3,
};

// Deck-state codes (kind 1). 0 to 2: the deck is not ready (no power, no
// answer, busy). 13 to 16 have no deck state of their own on the host's side.
enum DeckStateCode : DWORD {
  DECK_STATE_NOT_READY = 0,
  DECK_STATE_NO_ANSWER = 1,
  DECK_STATE_BUSY = 2,
  DECK_STATE_PLAY = 3,
  DECK_STATE_PAUSE = 4,
  DECK_STATE_STOP = 5,
  DECK_STATE_RECORD = 6,
  DECK_STATE_RECORD_PAUSE = 7,
  DECK_STATE_REWIND = 8,
  DECK_STATE_FAST_FORWARD = 9,
  DECK_STATE_PLAY_FASTEST_FORWARD = 10,
  DECK_STATE_PLAY_SLOWEST_FORWARD = 11,
  DECK_STATE_PLAY_FASTEST_REVERSE = 12,
  DECK_STATE_PLAY_SLOWEST_REVERSE = 13,
  DECK_STATE_WINDING_TO_TRACK = 14,
  DECK_STATE_LOADING = 15,
  DECK_STATE_STALLED = 16,
};

// Media-information codes (kind 2): 4 a cassette that can be recorded on,
// 2 a write-protected cassette, 3 a cassette whose memory cannot be read;
// 0 and 1 no cassette.
enum MediaInfoCode : DWORD {
  MEDIA_INFO_NONE = 0,
  MEDIA_INFO_EJECTING = 1,
  MEDIA_INFO_WRITE_PROTECTED = 2,
  MEDIA_INFO_NO_MEMORY = 3,
  MEDIA_INFO_RECORDABLE = 4,
};

// Camcorder-mode codes (kind 3): 3 the deck (VCR) mode, 4 the camera mode;
// others while the camcorder switches or is off.
enum CamcorderModeCode : DWORD {
  CAMCORDER_MODE_OFF = 0,
  CAMCORDER_MODE_SWITCHING = 1,
  CAMCORDER_MODE_DECK = 3,
  CAMCORDER_MODE_CAMERA = 4,
};

// Driver event codes (DRIVER_EVENT_RECORD::code); lParam is the argument.
enum DriverEventCode : DWORD {
  DRIVER_EVENT_STREAM_TYPE_CHANGED = 2,
  DRIVER_EVENT_FILE_CREATED = 3,
  DRIVER_EVENT_FILE_COMPLETE = 4,      // lParam: DRIVER_FILE_RECORD*
  DRIVER_EVENT_DEVICE_ERROR = 5,       // lParam: DRIVER_ERROR_DEVICE_REMOVED when unplugged
  DRIVER_EVENT_TRANSMIT_PROGRESS = 7,
  DRIVER_EVENT_RECORDING_ERROR = 8,
  DRIVER_EVENT_RECORDING_COMPLETE = 9,
  DRIVER_EVENT_VIDEO_SYSTEM = 10,      // lParam: non-zero for video system 1
  DRIVER_EVENT_DISPLAY_SIZE = 11,      // lParam: 1 for the wide picture
  DRIVER_EVENT_SCAN_PROGRESS = 18,
  DRIVER_EVENT_THUMBNAIL = 19,
  DRIVER_EVENT_SCAN_ERROR = 20,
  DRIVER_EVENT_SCAN_COMPLETE = 21,
  DRIVER_EVENT_BATCH_COMPLETE = 23,
  DRIVER_EVENT_BATCH_PROGRESS = 24,
  DRIVER_EVENT_SECTION_COMPLETE = 25,
  DRIVER_EVENT_SEARCH_IN = 27,
  DRIVER_EVENT_SEARCH_OUT = 28,
  DRIVER_EVENT_DECK_STATE = 29,
  DRIVER_EVENT_CAMCORDER_MODE = 30,
  DRIVER_EVENT_MEDIA_INFO = 31,
  DRIVER_EVENT_STREAMING = 32,         // lParam: non-zero when the stream is on
};

inline constexpr LPARAM DRIVER_ERROR_DEVICE_REMOVED = 0x20000003;
// DRIVER_EVENT_DEVICE_ERROR arguments of a capture that had to end: its file
// could not be written (the disk is full, the file cannot be made), or the
// deck would not search for a batch section (no cassette, camera mode).
inline constexpr LPARAM DRIVER_ERROR_CAPTURE_WRITE = 0x20000004;
inline constexpr LPARAM DRIVER_ERROR_CAPTURE_DECK = 0x20000005;

// The window message the driver posts events with.
inline constexpr const WCHAR* DRIVER_EVENT_MESSAGE_NAME = L"VELDMARKDEVICEEVENTMESSAGEID";
