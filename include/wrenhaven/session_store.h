// Where a page host keeps its visitors' session values between pages, and
// the limits of a session's life.
#ifndef WRENHAVEN_SESSION_STORE_H_
#define WRENHAVEN_SESSION_STORE_H_

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "wrenhaven/variant.h"

namespace wrenhaven {

using SessionClock = std::chrono::system_clock;

struct SessionLimits {
  // A session unused this long is gone (each page restarts the count).
  std::chrono::seconds idle = std::chrono::minutes(20);
  // A session is gone this long after it began, however busy.
  std::chrono::seconds absolute = std::chrono::hours(12);
};

// Implementations are safe to use from several threads at once.
class SessionStore {
 public:
  struct Entry {
    std::vector<std::pair<std::string, Variant>> values;
    SessionClock::time_point created;
  };
  virtual ~SessionStore() = default;

  // The live session `id`, its idle time restarted; nullopt when there is
  // none or it has run out (it is removed then).
  virtual std::optional<Entry> Load(const std::string& id) = 0;
  // Stores the session under `id`, replacing what was there; its idle time
  // restarts.
  virtual void Save(const std::string& id, Entry entry) = 0;
  virtual void Remove(const std::string& id) = 0;
  // Sessions that have not run out, for the host's metrics; nullopt when
  // the store cannot tell.
  virtual std::optional<size_t> CountOpen() { return std::nullopt; }
};

// Sessions held in the memory of this process. `now` is the clock the
// limits are measured with.
std::unique_ptr<SessionStore> MakeMemorySessionStore(
    SessionLimits limits,
    std::function<SessionClock::time_point()> now = &SessionClock::now);

}  // namespace wrenhaven

#endif  // WRENHAVEN_SESSION_STORE_H_
