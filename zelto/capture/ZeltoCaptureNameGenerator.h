// Names of capture files. A base name and two counters make either a whole
// file name, used to find and report a file that the driver has made, or a
// pattern with a number left for the driver to fill in. Names carry no
// folder: callers put the folder and a backslash in front.
//
//   MakeFilePartName       base-FFF-PP.zlt     FFF = wrap(fileNumber)
//   MakeFilePattern(n)     base-NNN-%02d.zlt   NNN = wrap(n)
//   MakePartName           base-PP.zlt
//   MakePartPattern        base-%02d.zlt
//   MakeFirstPartName      base-FFF-01.zlt     FFF = fileNumber, not wrapped
//   MakeFirstPartPattern   base-%03d-01.zlt
//
// Numbers are written as %03d / %02d write them: zero-padded to three or two
// digits, longer numbers in full. wrap(n) = n / 1000 + n % 1000 in 32-bit
// signed arithmetic, so 1000 becomes 001 and 1234 becomes 235.
//
// A '%' in the base name. Only the suffix is ever used as a format, so in a
// name the base name stands exactly as given. A pattern, though, is a format
// for whoever fills it in (the driver, or getSectionFileSize), so in a
// pattern every '%' of the base name is doubled: filling in the pattern then
// gives exactly the name ("50%" gives the pattern 50%%-001-%02d.zlt, which
// filled in with 1 is 50%-001-01.zlt). A base name without '%' is untouched.
//
// Threads: the message receiver's thread advances the counters while the
// host's thread reads them for progress, so they are atomics; the base name,
// set when a capture starts, is read and written under a lock of its own.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "host/foundation/OxString.h"

class ZeltoCaptureNameGenerator {
public:
  ZeltoCaptureNameGenerator(std::int32_t fileNumber, std::int32_t partNumber);
  virtual ~ZeltoCaptureNameGenerator();
  ZeltoCaptureNameGenerator(const ZeltoCaptureNameGenerator&) = delete;
  ZeltoCaptureNameGenerator& operator=(const ZeltoCaptureNameGenerator&) = delete;

  void SetBaseName(Orvex::OxString name);
  void ResetCounters();
  void ResetPartNumber();
  void NextFile();
  void NextPart();
  std::int32_t GetFileNumber() const;
  void SetFileNumber(std::int32_t number);
  std::int32_t GetPartNumber() const;
  std::int32_t GetFirstNumber() const;
  void SetFirstNumber(std::int32_t number);
  // Files made so far: fileNumber when firstNumber is 0, else
  // fileNumber - (firstNumber - 1).
  std::int32_t GetFileCount() const;

  Orvex::OxString MakeFirstPartName() const;
  Orvex::OxString MakeFirstPartPattern() const;
  Orvex::OxString MakePartName() const;
  Orvex::OxString MakePartPattern() const;
  Orvex::OxString MakeFilePartName() const;
  Orvex::OxString MakeFilePattern(std::int32_t number) const;

private:
  // The base name, with each '%' doubled when it goes into a pattern.
  Orvex::OxString base(bool forPattern) const;

  Orvex::OxString baseName;
  std::atomic<std::int32_t> fileNumber;
  std::atomic<std::int32_t> partNumber;
  std::atomic<std::int32_t> firstNumber{1};
  mutable std::mutex baseNameLock;
};
