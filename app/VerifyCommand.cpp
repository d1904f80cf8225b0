#include "app/VerifyCommand.h"

#include <nlohmann/json.hpp>

#include "app/CaptureReport.h"
#include "app/ExitCode.h"
#include "app/Names.h"
#include "streamcheck/ReportText.h"
#include "streamcheck/StreamInspector.h"
#include "streamcheck/TransportPacket.h"

namespace zelto::app {

namespace {

using zelto::streamcheck::DamagedStretch;
using zelto::streamcheck::InspectOutcome;
using zelto::streamcheck::PlaceText;
using zelto::streamcheck::StretchText;
using zelto::streamcheck::StreamReport;

std::string Time(const std::optional<std::int64_t>& clock, const StreamReport& r) {
  return clock ? zelto::streamcheck::TimeCodeText(*clock, r.framesPerSecond) : "no time";
}

nlohmann::ordered_json TimeJson(const std::optional<std::int64_t>& clock, const StreamReport& r) {
  if (!clock) return {{"time", nullptr}, {"seconds", nullptr}};
  return {{"time", Time(clock, r)}, {"seconds", static_cast<double>(*clock) / zelto::streamcheck::kClockHz}};
}

std::string PicturesText(const StreamReport& r) {
  if (!r.picturesChecked) return "pictures not checked (" + r.picturesNotCheckedWhy + ")";
  if (r.picturesDamaged == 0) return Count(r.pictures, "picture", "pictures") + ", none damaged";
  return std::to_string(r.picturesDamaged) + " of " + Count(r.pictures, "picture", "pictures") + " damaged";
}

void PrintText(Console& console, const std::string& name, const StreamReport& r) {
  std::string line = name + ": " + (r.Whole() ? "whole" : "damaged") + "; " + Count(r.packets, "packet", "packets");
  line += ", " + std::to_string(r.packetsLost) + " lost, " + std::to_string(r.packetsFlagged) + " flagged";
  if (r.syncLosses > 0)
    line += "; sync lost " + Count(r.syncLosses, "time", "times") + ", " +
            Count(r.bytesOutsidePackets, "byte", "bytes") + " outside packets";
  else if (r.bytesOutsidePackets > 0)
    line += "; " + Count(r.bytesOutsidePackets, "byte", "bytes") + " of a packet cut short at the end";
  console.Line(line + "; " + PicturesText(r));
  for (const DamagedStretch& s : r.stretches) {
    console.Line("  " + PlaceText(s.firstByte, s.endByte) + " (" + Time(s.clock, r) + "): " + StretchText(s));
  }
  if (r.stretchesNotListed > 0) console.Line("  and " + Count(r.stretchesNotListed, "stretch", "stretches") + " more");
  for (const auto& p : r.damagedPictures) console.Line("  picture " + Time(p.clock, r) + " damaged");
  if (r.damagedPicturesNotListed > 0)
    console.Line("  and " + Count(r.damagedPicturesNotListed, "damaged picture", "damaged pictures") + " more");
}

nlohmann::ordered_json ReportJson(const std::string& file, const StreamReport& r) {
  nlohmann::ordered_json j;
  j["version"] = 1;
  j["event"] = "file";
  j["file"] = file;
  j["result"] = r.Whole() ? "whole" : "damaged";
  j["bytes"] = r.bytes;
  j["packets"] = r.packets;
  j["packetsLost"] = r.packetsLost;
  j["packetsFlagged"] = r.packetsFlagged;
  j["duplicatePackets"] = r.duplicatePackets;
  j["syncLosses"] = r.syncLosses;
  j["resyncs"] = r.resyncs;
  j["bytesOutsidePackets"] = r.bytesOutsidePackets;
  nlohmann::ordered_json stretches = nlohmann::ordered_json::array();
  for (const DamagedStretch& s : r.stretches) {
    nlohmann::ordered_json o{{"firstByte", s.firstByte},         {"endByte", s.endByte},
                             {"packetsLost", s.packetsLost},     {"packetsFlagged", s.packetsFlagged},
                             {"bytesOutsidePackets", s.bytesOutsidePackets}};
    o.update(TimeJson(s.clock, r));
    stretches.push_back(o);
  }
  j["stretches"] = stretches;
  j["stretchesNotListed"] = r.stretchesNotListed;
  nlohmann::ordered_json pictures;
  pictures["checked"] = r.picturesChecked;
  pictures["notCheckedWhy"] = r.picturesChecked ? nlohmann::ordered_json() : nlohmann::ordered_json(r.picturesNotCheckedWhy);
  pictures["decoded"] = r.pictures;
  pictures["damaged"] = r.picturesDamaged;
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const auto& p : r.damagedPictures) list.push_back(TimeJson(p.clock, r));
  pictures["damagedList"] = list;
  pictures["damagedNotListed"] = r.damagedPicturesNotListed;
  j["pictures"] = pictures;
  j["framesPerSecond"] = r.framesPerSecond ? nlohmann::ordered_json(*r.framesPerSecond) : nlohmann::ordered_json();
  return j;
}

}  // namespace

int RunVerify(const VerifyOptions& options, Console& console) {
  CaptureReport report(console, options.json);
  std::size_t whole = 0;
  std::size_t damaged = 0;
  std::size_t failed = 0;
  for (const std::filesystem::path& file : options.files) {
    const std::string name = PathText(file);
    const InspectOutcome o = zelto::streamcheck::InspectFile(file, {options.pictures});
    if (o.failure != InspectOutcome::Failure::None) {
      ++failed;
      console.Error(name + ": " + o.why);
      if (options.json) {
        nlohmann::ordered_json j = report.Object("error");
        j["file"] = name;
        j["reason"] = o.why;
        j["status"] = static_cast<int>(kExitUsage);
        report.Print(j);
      }
      continue;
    }
    ++(o.report.Whole() ? whole : damaged);
    if (options.json) report.Print(ReportJson(name, o.report));
    else PrintText(console, name, o.report);
  }
  const int code = failed > 0 ? kExitUsage : damaged > 0 ? kExitDamaged : kExitOk;
  if (options.json) {
    nlohmann::ordered_json j = report.Object("summary");
    j["whole"] = whole;
    j["damaged"] = damaged;
    j["failed"] = failed;
    j["status"] = code;
    report.Print(j);
  } else if (options.files.size() > 1) {
    console.Line(Count(options.files.size(), "file", "files") + ": " + std::to_string(whole) + " whole, " +
                 std::to_string(damaged) + " damaged, " + std::to_string(failed) + " not inspected");
  }
  return code;
}

}  // namespace zelto::app
