#include "app/VerifyCommand.h"

#include <nlohmann/json.hpp>

#include "app/CaptureReport.h"
#include "app/DamageReport.h"
#include "app/ExitCode.h"
#include "app/Names.h"
#include "streamcheck/StreamInspector.h"

namespace zelto::app {

using zelto::streamcheck::InspectOutcome;

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
    if (options.json) {
      nlohmann::ordered_json j = report.Object("file");
      j["file"] = name;
      j.update(DamageJson(o.report));
      report.Print(j);
    } else {
      PrintDamage(console, name, o.report);
    }
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
