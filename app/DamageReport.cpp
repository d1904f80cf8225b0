#include "app/DamageReport.h"

#include "app/CaptureReport.h"
#include "streamcheck/ReportText.h"
#include "streamcheck/TransportPacket.h"

namespace zelto::app {

namespace {

using zelto::streamcheck::DamagedStretch;
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

}  // namespace

void PrintDamage(Console& console, const std::string& name, const StreamReport& r) {
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

nlohmann::ordered_json DamageJson(const StreamReport& r) {
  nlohmann::ordered_json j;
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

}  // namespace zelto::app
