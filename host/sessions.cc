#include "host/sessions.h"

#include <sodium.h>

#include <mutex>
#include <unordered_map>
#include <utility>

#include "wrenhaven/error.h"
#include "wrenhaven/session_store.h"

namespace wrenhaven {
namespace host {
namespace {

constexpr size_t kIdBytes = 32;

void InitSodium() {
  static const bool ok = sodium_init() >= 0;
  if (!ok) Raise(ErrorCode::kHost, "The random source could not be set up");
}

std::string RandomHex(size_t bytes) {
  InitSodium();
  unsigned char random[kIdBytes];
  randombytes_buf(random, bytes);
  char hex[kIdBytes * 2 + 1];
  sodium_bin2hex(hex, sizeof hex, random, bytes);
  return std::string(hex, bytes * 2);
}

}  // namespace

std::string NewSessionId() { return RandomHex(kIdBytes); }

std::string NewReference() { return RandomHex(6); }

bool IsSessionId(std::string_view text) {
  if (text.size() != kIdBytes * 2) return false;
  for (const char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

}  // namespace host

namespace {

class MemorySessionStore : public SessionStore {
 public:
  MemorySessionStore(SessionLimits limits,
                     std::function<SessionClock::time_point()> now)
      : limits_(limits), now_(std::move(now)), last_sweep_(now_()) {}

  std::optional<Entry> Load(const std::string& id) override {
    const auto now = now_();
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = sessions_.find(id);
    if (it == sessions_.end()) return std::nullopt;
    if (Expired(it->second, now)) {
      sessions_.erase(it);
      return std::nullopt;
    }
    it->second.last_used = now;
    return it->second.entry;
  }

  void Save(const std::string& id, Entry entry) override {
    const auto now = now_();
    std::lock_guard<std::mutex> lock(mutex_);
    sessions_[id] = Stored{std::move(entry), now};
    if (now - last_sweep_ > std::chrono::minutes(1)) {
      last_sweep_ = now;
      for (auto it = sessions_.begin(); it != sessions_.end();) {
        it = Expired(it->second, now) ? sessions_.erase(it) : std::next(it);
      }
    }
  }

  void Remove(const std::string& id) override {
    std::lock_guard<std::mutex> lock(mutex_);
    sessions_.erase(id);
  }

  std::optional<size_t> CountOpen() override {
    const auto now = now_();
    std::lock_guard<std::mutex> lock(mutex_);
    size_t open = 0;
    for (const auto& [id, stored] : sessions_) {
      if (!Expired(stored, now)) ++open;
    }
    return open;
  }

 private:
  struct Stored {
    Entry entry;
    SessionClock::time_point last_used;
  };

  bool Expired(const Stored& s, SessionClock::time_point now) const {
    return now - s.last_used >= limits_.idle ||
           now - s.entry.created >= limits_.absolute;
  }

  const SessionLimits limits_;
  const std::function<SessionClock::time_point()> now_;
  std::mutex mutex_;
  std::unordered_map<std::string, Stored> sessions_;
  SessionClock::time_point last_sweep_;
};

}  // namespace

std::unique_ptr<SessionStore> MakeMemorySessionStore(
    SessionLimits limits, std::function<SessionClock::time_point()> now) {
  return std::make_unique<MemorySessionStore>(limits, std::move(now));
}

}  // namespace wrenhaven
