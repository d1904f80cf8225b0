#include "app/WatchCommand.h"

#include "app/EventPump.h"
#include "app/ExitCode.h"
#include "app/Session.h"

namespace zelto::app {

int RunWatch(Session& session, const WatchOptions& options, Console& console) {
  using Clock = EventPump::Clock;
  // Without --seconds, effectively until Ctrl-C (a span that cannot overflow the clock).
  const Clock::duration span =
      options.seconds ? std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(*options.seconds))
                      : std::chrono::duration_cast<Clock::duration>(std::chrono::hours(24 * 365));
  console.Err() << "watching " << session.Model() << (options.seconds ? "" : "; Ctrl-C ends") << '\n' << std::flush;
  EventPump pump(session.Device(), session.Feed(), console);
  // Ctrl-C is the way to end a watch: not a failure.
  return pump.For(span) == EventPump::Outcome::OutputFailed ? kExitOutputFailed : kExitOk;
}

}  // namespace zelto::app
