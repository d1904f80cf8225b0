#include "app/StatusCommand.h"

#include <nlohmann/json.hpp>
#include <sstream>

#include "app/ExitCode.h"
#include "app/Names.h"
#include "app/Session.h"
#include "zelto/device/ZeltoVideoDevice.h"

namespace zelto::app {

namespace {

bool Told(const zelto::sim::PreviewSettings& p) {
  return p.ownerWindow != 0 || p.rect || p.mode || p.quality || p.volume != zelto::sim::PreviewSettings{}.volume;
}

std::string WindowText(std::uint64_t window) {
  std::ostringstream text;
  text << "0x" << std::hex << std::uppercase << window;
  return text.str();
}

const char* PreviewModeName(DWORD mode) {
  switch (mode) {
    case 0:
      return "hidden";
    case 2:
      return "shown";
    case 3:
      return "scapturing";
    default:
      return "?";
  }
}

}  // namespace

StatusReport StatusReport::Read(Session& session) {
  ZeltoVideoDevice& device = session.Device();
  StatusReport report;
  report.model = session.Model();
  report.driver = session.Simulated() ? "simulated" : "system";
  report.state = device.GetDeviceState();
  report.media = device.GetMediaInfo();
  report.mode = device.GetCamcorderMode();
  report.timeCode = device.GetTimecode();
  report.tape = session.Position();
  if (auto preview = session.Preview(); preview && Told(*preview)) report.preview = preview;
  if (const auto& files = session.JobFiles()) report.job = ReadJobHolder(*files);
  return report;
}

std::string StatusReport::Json() const {
  nlohmann::ordered_json json;
  json["version"] = 1;
  json["camcorder"] = model;
  json["driver"] = driver;
  json["deckState"] = {{"value", static_cast<int>(state)}, {"name", DeviceStateName(state)}};
  json["media"] = {{"value", static_cast<int>(media)}, {"name", MediaInfoName(media)}};
  json["camcorderMode"] = {{"value", static_cast<int>(mode)}, {"name", CamcorderModeName(mode)}};
  // null on blank tape, where there is no time code to show.
  json["timeCode"] = timeCode.IsNoTimeCode() ? nlohmann::ordered_json() : nlohmann::ordered_json(TimeCodeText(timeCode));
  // null where the driver does not tell (the system's) or without a cassette.
  json["tape"] = tape ? nlohmann::ordered_json{{"atn", tape->track},
                                               {"counter", TapeCounterText(tape->track)},
                                               {"lengthAtn", tape->lengthTracks}}
                      : nlohmann::ordered_json();
  // null until something told the simulated camcorder's preview anything.
  json["preview"] = nlohmann::ordered_json();
  if (preview) {
    auto optional = [](const std::optional<DWORD>& v) {
      return v ? nlohmann::ordered_json(*v) : nlohmann::ordered_json();
    };
    json["preview"] = {
        {"window", preview->ownerWindow ? nlohmann::ordered_json(WindowText(preview->ownerWindow))
                                        : nlohmann::ordered_json()},
        {"rect", preview->rect ? nlohmann::ordered_json{preview->rect->left, preview->rect->top,
                                                        preview->rect->right, preview->rect->bottom}
                               : nlohmann::ordered_json()},
        {"mode", optional(preview->mode)},
        {"volume", preview->volume},
        {"quality", optional(preview->quality)},
        {"deinterlace", preview->deinterlace}};
  }
  // null while no job holds the camcorder.
  json["job"] = job ? nlohmann::ordered_json{{"command", job->job},
                                             {"process", job->process ? nlohmann::ordered_json(*job->process)
                                                                      : nlohmann::ordered_json()},
                                             {"since", job->since ? nlohmann::ordered_json(*job->since)
                                                                  : nlohmann::ordered_json()}}
                    : nlohmann::ordered_json();
  // Names and model text come from the driver: never let bad bytes throw.
  return json.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string StatusReport::Lines() const {
  std::ostringstream text;
  text << "camcorder    " << model << " (" << driver << " driver)\n"
       << "deck state   " << DeviceStateName(state) << '\n'
       << "media        " << MediaInfoName(media) << '\n'
       << "mode         " << CamcorderModeName(mode) << '\n'
       << "time code    " << (timeCode.IsNoTimeCode() ? std::string("none (blank tape)") : TimeCodeText(timeCode)) << '\n';
  if (tape)
    text << "tape         ATN " << tape->track << " of " << tape->lengthTracks << ", counter "
         << TapeCounterText(tape->track) << '\n';
  if (preview) {
    text << "preview      ";
    text << (preview->mode ? PreviewModeName(*preview->mode) : "mode not set") << ", volume " << preview->volume;
    if (preview->quality) text << ", quality " << *preview->quality;
    text << ", deinterlace " << (preview->deinterlace ? "on" : "off");
    if (preview->ownerWindow) text << ", window " << WindowText(preview->ownerWindow);
    if (preview->rect)
      text << " at " << preview->rect->left << ',' << preview->rect->top << '-' << preview->rect->right << ','
           << preview->rect->bottom;
    text << '\n';
  }
  if (job) text << "job          " << JobText(*job) << " is using the camcorder\n";
  return text.str();
}

std::string DeckPositionText(Session& session) {
  const Orvex::OxTimeCode timeCode = session.Device().GetTimecode();
  std::string where = timeCode.IsNoTimeCode() ? "blank tape" : "time code " + TimeCodeText(timeCode);
  if (const auto tape = session.Position()) where += ", counter " + TapeCounterText(tape->track);
  return where;
}

std::string TapeEndText(Session& session) {
  const std::optional<TapePosition> tape = session.Position();
  if (!tape || tape->track < tape->lengthTracks) return {};
  return "the tape is at its end, ATN " + std::to_string(tape->track) + " (it runs from ATN 0 to " +
         std::to_string(tape->lengthTracks) + ")";
}

int RunStatus(Session& session, const StatusOptions& options, Console& console) {
  const StatusReport report = StatusReport::Read(session);
  if (options.json) console.Line(report.Json());
  else console.Out() << report.Lines() << std::flush;
  return kExitOk;
}

}  // namespace zelto::app
