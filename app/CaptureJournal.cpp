#include "app/CaptureJournal.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <utility>

#include "app/CaptureFolder.h"
#include "app/Names.h"
#include "platform/PlatformExtras.h"

namespace zelto::app {

namespace {

constexpr std::string_view kHeader = "zelto capture list 1";

std::string DeclarationLine(const CaptureNames& names) {
  switch (names.kind) {
    case CaptureNames::Kind::Direct: return "begin direct " + names.base;
    case CaptureNames::Kind::Batch:
      return "begin batch " + std::to_string(names.first) + " " + std::to_string(names.sections) + " " + names.base;
    case CaptureNames::Kind::Tape: return "begin tape " + names.base;
  }
  return {};
}

std::optional<std::uint64_t> ParseCount(std::string_view text) {
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

// "WORD REST": the first word and the rest of the line after one space.
std::pair<std::string_view, std::string_view> FirstWord(std::string_view line) {
  const std::size_t space = line.find(' ');
  if (space == std::string_view::npos) return {line, {}};
  return {line.substr(0, space), line.substr(space + 1)};
}

std::optional<CaptureNames> Declaration(std::string_view rest) {
  CaptureNames names;
  const auto [kind, more] = FirstWord(rest);
  if (kind == "direct" || kind == "tape") {
    names.kind = kind == "direct" ? CaptureNames::Kind::Direct : CaptureNames::Kind::Tape;
    names.base = std::string(more);
  } else if (kind == "batch") {
    const auto [first, afterFirst] = FirstWord(more);
    const auto [sections, base] = FirstWord(afterFirst);
    const auto f = ParseCount(first), n = ParseCount(sections);
    if (!f || !n || *f > 1'000'000 || *n > 1'000'000) return std::nullopt;
    names.kind = CaptureNames::Kind::Batch;
    names.first = static_cast<int>(*f);
    names.sections = static_cast<std::size_t>(*n);
    names.base = std::string(base);
  } else {
    return std::nullopt;
  }
  if (!BaseNameProblem(names.base).empty()) return std::nullopt;
  return names;
}

}  // namespace

std::string CaptureJournal::Append(const std::string& line) {
  const std::filesystem::path file = folder / kFileName;
  std::error_code ec;
  const bool fresh = !std::filesystem::exists(file, ec);
  // One write of whole lines; a line cut short by a crash is never read.
  std::string text = (fresh ? std::string(kHeader) + "\n" : std::string()) + line + "\n";
  std::ofstream out(file, std::ios::binary | std::ios::app);
  out << text;
  out.flush();
  if (!out) {
    return "cannot keep the list of whole files " + PathText(file) + ": " +
           WriteProblemWords(std::error_code(errno, std::generic_category()));
  }
  started = started || fresh;
  return {};
}

std::string CaptureJournal::Begin(const CaptureNames& names) { return Append(DeclarationLine(names)); }

std::string CaptureJournal::Complete(const std::string& name) {
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(folder / zelto::platform::PathFromUtf8(name), ec);
  if (ec) return {};  // gone: nothing to vouch for
  // Listed again only with another size: the later line is the one read.
  const auto it = listed.find(name);
  if (it != listed.end() && it->second == size) return {};
  listed[name] = size;
  return Append("complete " + std::to_string(size) + " " + name);
}

std::string CaptureJournal::Replacing(const std::string& name, std::uintmax_t size) {
  return Append("replacing " + std::to_string(size) + " " + name);
}

void CaptureJournal::Withdraw() {
  if (!started || !listed.empty()) return;
  std::error_code ec;
  std::filesystem::remove(folder / kFileName, ec);
  started = false;
}

std::vector<std::string> CaptureJournal::Unfinished(const std::filesystem::path& folder) {
  std::ifstream in(folder / kFileName, std::ios::binary);
  if (!in) return {};
  std::stringstream text;
  text << in.rdbuf();
  const std::string all = text.str();
  if (all.rfind(std::string(kHeader) + "\n", 0) != 0) return {};

  std::vector<CaptureNames> declared;
  std::map<std::string, std::set<std::uint64_t>> whole;  // name -> the sizes it is whole at
  for (std::size_t at = kHeader.size() + 1; at < all.size();) {
    const std::size_t end = all.find('\n', at);
    if (end == std::string::npos) break;  // cut short: never finished
    const std::string_view line(all.data() + at, end - at);
    at = end + 1;
    const auto [word, rest] = FirstWord(line);
    if (word == "begin") {
      const std::optional<CaptureNames> names = Declaration(rest);
      if (!names) continue;
      // Names declared again start afresh: a file listed before under one
      // of them was since removed, or the capture was refused.
      for (auto it = whole.begin(); it != whole.end();) it = names->Covers(it->first) ? whole.erase(it) : std::next(it);
      declared.push_back(*names);
    } else if (word == "complete") {
      const auto [size, name] = FirstWord(rest);
      if (const auto bytes = ParseCount(size); bytes && !name.empty()) whole[std::string(name)] = {*bytes};
    } else if (word == "replacing") {
      const auto [size, name] = FirstWord(rest);
      if (const auto bytes = ParseCount(size); bytes && !name.empty()) whole[std::string(name)].insert(*bytes);
    }
  }

  std::vector<std::string> unfinished;
  for (const CaptureNames& names : declared) {
    for (const std::string& name : CoveredFiles(folder, names)) {
      std::error_code ec;
      const std::uintmax_t size = std::filesystem::file_size(folder / zelto::platform::PathFromUtf8(name), ec);
      const auto listed = whole.find(name);
      if (!ec && (listed == whole.end() || !listed->second.count(size)) &&
          std::find(unfinished.begin(), unfinished.end(), name) == unfinished.end())
        unfinished.push_back(name);
    }
  }
  std::sort(unfinished.begin(), unfinished.end(), NaturalLess);
  return unfinished;
}

}  // namespace zelto::app
