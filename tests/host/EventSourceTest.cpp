#include <gtest/gtest.h>

#include "host/devevents/OxReadingMicEvent.h"
#include "host/kel/OxSafeEventSource.h"

namespace {
struct MicListener : KelSafeEventListener<Orvex::OxReadingMicEvent> {
  int count = 0;
  void OnEvent(const Orvex::OxReadingMicEvent&) override { ++count; }
};
}  // namespace

TEST(EventSourceSmoke, Compiles) {
  Orvex::OxSafeEventSource<Orvex::OxReadingMicEvent> source;
  MicListener l;
  source.AddEventListener(&l);
  auto copy = source;
  copy.NotifyEvent(Orvex::OxReadingMicEvent(Orvex::OX_MIC_DATA_CHANGED));
  EXPECT_EQ(l.count, 1);
  EXPECT_TRUE(copy.RemoveEventListenerAndWait(&l));
}
