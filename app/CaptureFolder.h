// The folder a capture writes into: made when it is missing, proved
// writable before anything moves (a probe file made and deleted), and taken
// away again, with every folder made for it, when the command leaves it
// empty.
#pragma once

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace zelto::app {

// Why a file could not be written, by its plain name: "permission denied",
// "the disk is full", ...
std::string WriteProblemWords(const std::error_code& error);

class CaptureFolder {
public:
  // Empty when the folder takes files and has room for a second of tape at
  // least; otherwise why not, naming the folder.
  std::string Prepare(const std::filesystem::path& asked);
  // The folder, absolute (after Prepare).
  const std::filesystem::path& Path() const { return path; }
  // Why the camcorder could not write a file here, as far as the folder
  // tells: "the disk is full" (or the simulated camcorder's disk is),
  // "permission denied", ...; empty when it tells nothing.
  std::string WhyNoWrite(bool simulatedDiskFull) const;
  // Removes the folders Prepare made, deepest first, as far as they are
  // empty. A folder that was there before is never touched.
  void RemoveIfMadeAndEmpty();

private:
  std::filesystem::path path;
  std::vector<std::filesystem::path> made;  // outermost first
};

}  // namespace zelto::app
