// Unique temporary file names.
#pragma once

#include "host/foundation/OxString.h"

namespace Orvex {

class OxTemporaryNameCreator {
public:
  // Creates a new, empty file folder\prefixNNNN.extension (NNNN four decimal
  // digits; no dot when the extension is empty; a leading dot in the
  // extension is not doubled) and returns its full path in outName. The file
  // is created exclusively, so concurrent callers, in this process or
  // another, never receive the same name. False, with outName unchanged, when
  // the folder is missing or unwritable, when the prefix or extension holds a
  // path separator, or when all 10,000 names are taken.
  static bool CreateTempFileName(const OxString& folder, const OxString& prefix,
                                 const OxString& extension, OxString& outName);
};

}  // namespace Orvex
