#include "streamcheck/AssemblyReport.h"

#include <algorithm>

#include "streamcheck/ReportText.h"

namespace zelto::streamcheck {

namespace {

bool Touch(std::uint64_t first, std::uint64_t end, std::uint64_t otherFirst, std::uint64_t otherEnd) {
  return first <= otherEnd && otherFirst <= end;
}

// As a time code where the primary's frame rate is known.
std::string Time(const std::optional<std::int64_t>& clock, const AssemblyReport& report) {
  return clock ? TimeCodeText(*clock, report.primary.framesPerSecond) : "no time";
}

std::string RepairText(std::uint64_t recovered, std::uint64_t replaced) {
  std::string text;
  if (recovered > 0) text = CountText(recovered, "packet recovered", "packets recovered");
  if (replaced > 0) text += (text.empty() ? "" : ", ") + CountText(replaced, "flagged packet replaced", "flagged packets replaced");
  return text;
}

std::string PassList(const std::vector<std::size_t>& passes) {
  std::string text = passes.size() == 1 ? "pass " : "passes ";
  for (std::size_t k = 0; k < passes.size(); ++k)
    text += (k == 0 ? "" : k + 1 == passes.size() ? " and " : ", ") + std::to_string(passes[k]);
  return text;
}

// "damaged; 16914 packets, 3 lost, 1 flagged", as zelto verify puts it.
std::string Summary(const StreamReport& r) {
  std::string line = std::string(r.Whole() ? "whole" : "damaged") + "; " + CountText(r.packets, "packet", "packets") +
                     ", " + std::to_string(r.packetsLost) + " lost, " + std::to_string(r.packetsFlagged) + " flagged";
  if (r.bytesOutsidePackets > 0) line += ", " + CountText(r.bytesOutsidePackets, "byte", "bytes") + " outside packets";
  return line;
}

}  // namespace

void AssemblyReport::AddRepair(const RepairedStretch& repair) {
  if (!repairs.empty()) {
    RepairedStretch& last = repairs.back();
    if (last.pass == repair.pass && Touch(last.firstByte, last.endByte, repair.firstByte, repair.endByte)) {
      last.firstByte = std::min(last.firstByte, repair.firstByte);
      last.endByte = std::max(last.endByte, repair.endByte);
      last.packetsRecovered += repair.packetsRecovered;
      last.packetsReplaced += repair.packetsReplaced;
      return;
    }
  }
  if (repairs.size() < kMostListed) repairs.push_back(repair);
  else ++repairsNotListed;
}

StretchRepair RepairOf(const AssemblyReport& report, const DamagedStretch& stretch) {
  StretchRepair result;
  for (const RepairedStretch& r : report.repairs) {
    if (!Touch(stretch.firstByte, stretch.endByte, r.firstByte, r.endByte)) continue;
    result.packetsRecovered += r.packetsRecovered;
    result.packetsReplaced += r.packetsReplaced;
    if (std::find(result.passes.begin(), result.passes.end(), r.pass) == result.passes.end())
      result.passes.push_back(r.pass);
  }
  std::sort(result.passes.begin(), result.passes.end());
  return result;
}

std::vector<std::string> AssemblyReportLines(const AssemblyReport& report) {
  std::vector<std::string> lines;
  if (report.failure != AssemblyReport::Failure::None) return {"not assembled: " + report.why};
  lines.push_back("primary: " + Summary(report.primary));
  for (const DamagedStretch& s : report.primary.stretches) {
    const StretchRepair repair = RepairOf(report, s);
    std::string fate = "not repaired";
    if (!repair.passes.empty())
      fate = std::string(repair.Whole(s) ? "repaired" : "partly repaired") + " from " + PassList(repair.passes) + " (" +
             RepairText(repair.packetsRecovered, repair.packetsReplaced) + ")";
    lines.push_back("  " + PlaceText(s.firstByte, s.endByte) + " (" + Time(s.clock, report) + "): " + StretchText(s) + "; " +
                    fate);
  }
  if (report.primary.stretchesNotListed > 0)
    lines.push_back("  and " + CountText(report.primary.stretchesNotListed, "stretch", "stretches") + " more");
  // Repairs where the primary's counters showed nothing: a PID's counter
  // comes round again after 16 packets, so a longer loss may not show.
  for (const RepairedStretch& r : report.repairs) {
    const bool inStretch = std::any_of(report.primary.stretches.begin(), report.primary.stretches.end(),
                                       [&](const DamagedStretch& s) {
                                         return Touch(s.firstByte, s.endByte, r.firstByte, r.endByte);
                                       });
    if (!inStretch)
      lines.push_back("  " + PlaceText(r.firstByte, r.endByte) + " (" + Time(r.clock, report) + "): " +
                      RepairText(r.packetsRecovered, r.packetsReplaced) + " from pass " + std::to_string(r.pass) +
                      ", where the primary showed no damage");
  }
  for (std::size_t k = 0; k < report.passes.size(); ++k) {
    const PassOutcome& o = report.passes[k];
    std::string line = "pass " + std::to_string(k + 2) + ": ";
    if (o.fate == PassOutcome::Fate::Refused) {
      line += "refused: " + o.why;
    } else {
      line += (o.fate == PassOutcome::Fate::Used ? "used over " : "used in part, over ") +
              PlaceText(o.firstByte, o.endByte) + " of the primary";
      const std::string repaired = RepairText(o.packetsRecovered, o.packetsReplaced);
      line += "; " + (repaired.empty() ? std::string("nothing to repair there") : repaired);
      if (o.fate == PassOutcome::Fate::Partly) line += "; " + o.why;
    }
    lines.push_back(line);
  }
  lines.push_back("assembled: " + Summary(report.assembled));
  for (const DamagedStretch& s : report.assembled.stretches)
    lines.push_back("  " + PlaceText(s.firstByte, s.endByte) + " (" + Time(s.clock, report) + "): " + StretchText(s));
  if (report.assembled.stretchesNotListed > 0)
    lines.push_back("  and " + CountText(report.assembled.stretchesNotListed, "stretch", "stretches") + " more");
  return lines;
}

}  // namespace zelto::streamcheck
