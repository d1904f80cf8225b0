#include "app/MicCommand.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <ctime>
#include <sstream>

#include "app/ExitCode.h"
#include "app/Names.h"
#include "app/Picture.h"
#include "app/SceneDamage.h"
#include "app/Session.h"
#include "platform/PlatformExtras.h"
#include "zelto/device/ZeltoVideoDevice.h"

namespace zelto::app {

using namespace Orvex;

namespace {

std::string Utf8(const OxString& text) { return zelto::platform::ToUtf8(text.GetStdString()); }

int Pictures(const _OxMICRecInfo& record) {
  return (record.firstPicture.GetBitmapSize() > 0 ? 1 : 0) + (record.secondPicture.GetBitmapSize() > 0 ? 1 : 0);
}

// What the captures found of a scene: none when no capture held it.
nlohmann::ordered_json SceneDamageJson(const std::optional<SceneDamage>& d) {
  if (!d) return nullptr;
  return {{"result", d->Damaged() ? "damaged" : "whole"},
          {"file", d->file},
          {"checked", d->checked},
          {"from", d->from},
          {"to", d->to},
          {"packetsLost", d->packetsLost},
          {"packetsFlagged", d->packetsFlagged},
          {"picturesDamaged", d->picturesDamaged},
          {"stretches", d->stretches}};
}

std::string DamageWord(const std::optional<SceneDamage>& d) {
  if (!d) return "-";
  return d->Damaged() ? "damaged" : "whole";
}

int Show(ZeltoVideoDevice& device, const SceneDamageLedger& ledger, bool json, Console& console) {
  OxString title, text;
  device.GetTapeTitle(title);
  device.GetTapeText(text);
  const bool cleaning = device.IsCleaningTape();
  const std::vector<_OxMICRecInfo> records = SceneRecords(device);
  if (json) {
    nlohmann::ordered_json out;
    out["version"] = 1;
    out["title"] = Utf8(title);
    out["text"] = Utf8(text);
    out["cleaning"] = cleaning;
    out["scenes"] = nlohmann::ordered_json::array();
    unsigned number = 0;
    for (const _OxMICRecInfo& r : records) {
      out["scenes"].push_back({{"scene", ++number},
                               {"id", r.id},
                               {"recorded", UtcDateText(r.recordedAt)},
                               {"start", PackedTimeCodeText(r.startTimeCode)},
                               {"end", PackedTimeCodeText(r.endTimeCode)},
                               {"lengthMs", r.duration},
                               {"flag", r.flag},
                               {"note", Utf8(r.text)},
                               {"pictures", Pictures(r)},
                               {"damage", SceneDamageJson(ledger.Find(r))}});
    }
    console.Line(out.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace));
    return kExitOk;
  }
  console.Line("title      " + (title.IsEmpty() ? std::string("(none)") : Utf8(title)));
  console.Line("text       " + (text.IsEmpty() ? std::string("(none)") : Utf8(text)));
  console.Line(std::string("cleaning   ") + (cleaning ? "yes: a cleaning cassette" : "no"));
  if (records.empty()) {
    console.Line("scenes     none recorded in the cassette memory");
    return kExitOk;
  }
  console.Line("scenes     " + std::to_string(records.size()));
  console.Line("  #  start        end          length      recorded             flag  pictures  captured  note");
  unsigned number = 0;
  for (const _OxMICRecInfo& r : records) {
    char row[160];
    std::snprintf(row, sizeof row, "%3u  %s  %s  %-10s  %-19s  %-4s  %-8d  %-8s  ", ++number,
                  PackedTimeCodeText(r.startTimeCode).c_str(), PackedTimeCodeText(r.endTimeCode).c_str(),
                  MillisecondsText(r.duration).c_str(), UtcDateText(r.recordedAt).c_str(), r.flag ? "yes" : "no",
                  Pictures(r), DamageWord(ledger.Find(r)).c_str());
    console.Line(row + Utf8(r.text));
  }
  return kExitOk;
}

int SetText(ZeltoVideoDevice& device, const std::string& text, Console& console) {
  // The database would take the text, but it follows the cassette's memory
  // whenever it reads it again, and a protected memory keeps its old text:
  // the new one would be gone by the next command.
  switch (device.GetMediaInfo()) {
    case OX_MEDIA_NONE:
      console.Error("there is no cassette in the camcorder");
      return kExitRefused;
    case OX_MEDIA_WRITE_PROTECTED:
      console.Error("the cassette is write-protected: its memory cannot take the text");
      return kExitRefused;
    case OX_MEDIA_NO_MEMORY:
      console.Error("the cassette has no memory to keep a text in");
      return kExitRefused;
    default: break;
  }
  OxString wide(zelto::platform::FromUtf8(text).c_str());
  if (!device.SetTapeText(wide)) {
    console.Error("the cassette memory did not take the text (no cassette with memory, or a database problem)");
    return kExitRefused;
  }
  // What was written, not what is read back: another zelto may have set
  // its own text since, and the later text stands.
  console.Line("text set: " + Utf8(wide));
  return kExitOk;
}

int WritePicture(ZeltoVideoDevice& device, const MicOptions& options, Console& console) {
  const std::vector<_OxMICRecInfo> records = SceneRecords(device);
  if (options.scene == 0 || options.scene > records.size()) {
    console.Error("there is no scene " + std::to_string(options.scene) + " in the cassette memory (it holds " +
                  std::to_string(records.size()) + ")");
    return kExitUsage;
  }
  NewPngFile png;
  std::string why;
  switch (png.Make(options.output, &why)) {
    case NewPngFile::Claim::Made: break;
    case NewPngFile::Claim::Exists: console.Error(why); return kExitWouldOverwrite;
    case NewPngFile::Claim::Unusable: console.Error(why); return kExitUsage;
  }
  const _OxMICRecInfo& record = records[options.scene - 1];
  const OxBitmap& bitmap = options.second ? record.secondPicture : record.firstPicture;
  if (bitmap.GetBitmapSize() == 0) {
    console.Error("scene " + std::to_string(options.scene) + " has no " + (options.second ? "second " : "") +
                  "picture; zelto scan stores the pictures");
    return kExitRefused;
  }
  const std::optional<RgbImage> picture = DecodePackedBitmap(bitmap.GetBitmap(), bitmap.GetBitmapSize(), &why);
  if (!picture) {
    console.Error("the stored picture of scene " + std::to_string(options.scene) + " cannot be read: " + why);
    return kExitDeviceFailed;
  }
  if (!png.Write(*picture, &why)) {
    console.Error(why);
    return kExitOutputFailed;
  }
  console.Line("scene " + std::to_string(options.scene) + ": " + std::to_string(picture->width) + "x" +
               std::to_string(picture->height) + " written to " + PathText(options.output));
  return kExitOk;
}

}  // namespace

std::string UtcDateText(std::int64_t secondsSince1970) {
  if (secondsSince1970 <= 0) return "";
  const std::time_t at = static_cast<std::time_t>(secondsSince1970);
  std::tm parts{};
#ifdef _WIN32
  if (gmtime_s(&parts, &at) != 0) return "";
#else
  if (gmtime_r(&at, &parts) == nullptr) return "";
#endif
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
  return text;
}

std::string PackedTimeCodeText(std::uint32_t packed) {
  char text[16];
  std::snprintf(text, sizeof text, "%02u:%02u:%02u:%02u", packed >> 24, packed >> 16 & 0xFF, packed >> 8 & 0xFF,
                packed & 0xFF);
  return text;
}

std::string MillisecondsText(std::uint32_t milliseconds) {
  const std::uint32_t tenths = milliseconds / 100;
  char text[32];
  std::snprintf(text, sizeof text, "%u:%02u:%02u.%u", tenths / 36000, tenths / 600 % 60, tenths / 10 % 60,
                tenths % 10);
  return text;
}

std::vector<_OxMICRecInfo> SceneRecords(ZeltoVideoDevice& device) {
  std::vector<_OxMICRecInfo> records;
  device.GetMICRecInfo(records);
  return records;
}

int RunMic(Session& session, const MicOptions& options, Console& console) {
  ZeltoVideoDevice& device = session.Device();
  switch (options.action) {
    case MicOptions::Action::Show: return Show(device, SceneDamageLedger(session.DataFolder()), options.json, console);
    case MicOptions::Action::Text: return SetText(device, options.text, console);
    case MicOptions::Action::Picture: return WritePicture(device, options, console);
  }
  return kExitUsage;
}

}  // namespace zelto::app
