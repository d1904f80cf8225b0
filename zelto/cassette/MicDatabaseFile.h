// Where the cassette-memory database file lies, and its compaction when the
// device goes away.
#pragma once

#include "host/foundation/OxString.h"

namespace zelto::cassette {

// The host's database folder, one backslash, "micdb.mdb". A folder path
// that already ends in a backslash keeps it: the result then has two.
void MicDataBaseFileFullPath(Orvex::OxString& out);

// Compacts the database file into a temporary file and puts the copy in its
// place. Any failure leaves the file as it was; nothing is reported.
void CompactMicDataBase();

}  // namespace zelto::cassette
