// Feeds bytes as a file given to zelto record to the one check that both the
// command and the camcorder make (TransportStreamBytes): what it takes is
// whole packets of the file, each checked one beginning with the sync byte.
#include <sstream>

#include "app/RecordCommand.h"
#include "fuzz/FuzzSupport.h"
#include "simulator/Cassette.h"
#include "simulator/TransportStream.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::istringstream in(std::string(fuzz::Text(data, size)), std::ios::binary);
  std::string why;
  const std::optional<std::uint64_t> bytes = zelto::sim::TransportStreamBytes(in, size, &why);
  if (!bytes) {
    FUZZ_CHECK(!why.empty(), "a refusal says why");
    return 0;
  }
  constexpr std::uint64_t kPacket = zelto::sim::kPacketBytes;
  FUZZ_CHECK(*bytes % kPacket == 0 && *bytes <= size && size - *bytes < kPacket, "%llu of %zu bytes",
             static_cast<unsigned long long>(*bytes), size);
  FUZZ_CHECK(data[0] == 0x47 && data[*bytes - kPacket] == 0x47, "the first and last packets are in step");
  // The tape it fills: never less than the data.
  const std::uint64_t hundredths = zelto::app::RecordingHundredths(*bytes);
  FUZZ_CHECK(hundredths * 1'590'000 >= *bytes * 100, "the recording ends before the data");
  return 0;
}
