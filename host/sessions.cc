#include "host/sessions.h"

#include <sodium.h>

#include <algorithm>
#include <iterator>
#include <mutex>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "wrenhaven/error.h"
#include "wrenhaven/session_store.h"

namespace wrenhaven {
namespace host {
namespace {

constexpr size_t kIdBytes = 32;

std::string RandomHex(size_t bytes) {
  InitSodiumOnce();
  unsigned char random[kIdBytes];
  randombytes_buf(random, bytes);
  char hex[kIdBytes * 2 + 1];
  sodium_bin2hex(hex, sizeof hex, random, bytes);
  return std::string(hex, bytes * 2);
}

}  // namespace

void InitSodiumOnce() {
  static const bool ok = sodium_init() >= 0;
  if (!ok) Raise(ErrorCode::kHost, "The random source could not be set up");
}

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

bool SameAccount(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) {
      return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

bool Matches(const SessionHolder& holder, const SessionQuery& query) {
  if (holder.person.empty()) return false;
  if (!query.person.empty() && holder.person != query.person) return false;
  return query.account.empty() || SameAccount(holder.account, query.account);
}

// Sessions by key. An ended session leaves its key behind until it could
// no longer have lived anyway (its absolute limit), so that a page still
// running when it ended cannot store it again.
class MemorySessionStore : public SessionStore {
 public:
  MemorySessionStore(SessionLimits limits,
                     std::function<SessionClock::time_point()> now,
                     SessionsEnded ended)
      : limits_(limits),
        now_(std::move(now)),
        ended_(std::move(ended)),
        last_sweep_(now_()) {}

  std::optional<Entry> Load(const std::string& id) override {
    const auto now = now_();
    std::vector<int64_t> ended;
    std::optional<Entry> out;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto it = sessions_.find(SessionKey(id));
      if (it != sessions_.end()) {
        if (Expired(it->second, now)) {
          EndLocked(it, ended);
        } else {
          it->second.last_used = now;
          out = it->second.entry;
        }
      }
      SweepLockedIfDue(now, ended);
    }
    Report(std::move(ended));
    return out;
  }

  void Save(const std::string& id, Entry entry) override {
    const auto now = now_();
    std::vector<int64_t> ended;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      const std::string key = SessionKey(id);
      if (gone_.count(key) == 0 && now - entry.created < limits_.absolute) {
        sessions_[key] = Stored{std::move(entry), now};
      }
      SweepLockedIfDue(now, ended);
    }
    Report(std::move(ended));
  }

  void Remove(const std::string& id) override {
    std::vector<int64_t> ended;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      const std::string key = SessionKey(id);
      auto it = sessions_.find(key);
      if (it != sessions_.end()) {
        EndLocked(it, ended);
      } else {
        gone_[key] = now_() + limits_.absolute;
      }
    }
    Report(std::move(ended));
  }

  SessionList List(const SessionQuery& query) override {
    const auto now = now_();
    // The matching sessions are ordered only as far as the page reaches,
    // and only the page's rows are copied: a main window lists a few of
    // its holder's sessions among thousands.
    struct Found {
      const std::string* key;
      const Stored* stored;
    };
    const auto newer = [](const Found& a, const Found& b) {
      if (a.stored->entry.created != b.stored->entry.created) {
        return a.stored->entry.created > b.stored->entry.created;
      }
      return *a.key < *b.key;
    };
    SessionList out;
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Found> found;
    for (const auto& [key, stored] : sessions_) {
      if (Expired(stored, now) || !Matches(stored.entry.holder, query)) {
        continue;
      }
      found.push_back(Found{&key, &stored});
    }
    out.total = found.size();
    const size_t from = std::min(query.offset, found.size());
    const size_t to = from + std::min(query.limit, found.size() - from);
    std::partial_sort(found.begin(),
                      found.begin() + static_cast<std::ptrdiff_t>(to),
                      found.end(), newer);
    out.rows.reserve(to - from);
    for (size_t i = from; i < to; ++i) {
      const Stored& stored = *found[i].stored;
      out.rows.push_back(ListedSession{*found[i].key, stored.entry.holder,
                                       stored.entry.created, stored.last_used});
    }
    return out;
  }

  bool End(const std::string& key, const std::string& person) override {
    const auto now = now_();
    std::vector<int64_t> ended;
    bool found = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto it = sessions_.find(key);
      if (it != sessions_.end() && !Expired(it->second, now) &&
          !it->second.entry.holder.person.empty() &&
          (person.empty() || it->second.entry.holder.person == person)) {
        EndLocked(it, ended);
        found = true;
      }
    }
    Report(std::move(ended));
    return found;
  }

  size_t EndAllOf(const std::string& person) override {
    if (person.empty()) return 0;
    const auto now = now_();
    std::vector<int64_t> ended;
    size_t count = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (auto it = sessions_.begin(); it != sessions_.end();) {
        auto next = std::next(it);
        if (it->second.entry.holder.person == person) {
          if (!Expired(it->second, now)) ++count;
          EndLocked(it, ended);
        }
        it = next;
      }
    }
    Report(std::move(ended));
    return count;
  }

  void Sweep() override {
    std::vector<int64_t> ended;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      SweepLocked(now_(), ended);
    }
    Report(std::move(ended));
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
  using Map = std::unordered_map<std::string, Stored>;

  bool Expired(const Stored& s, SessionClock::time_point now) const {
    return now - s.last_used >= limits_.idle ||
           now - s.entry.created >= limits_.absolute;
  }

  // Forgets the session, keeps its key from coming back and notes its
  // login record.
  void EndLocked(Map::iterator it, std::vector<int64_t>& ended) {
    const Stored& s = it->second;
    if (s.entry.holder.login_id > 0) ended.push_back(s.entry.holder.login_id);
    gone_[it->first] = s.entry.created + limits_.absolute;
    sessions_.erase(it);
  }

  void SweepLockedIfDue(SessionClock::time_point now,
                        std::vector<int64_t>& ended) {
    if (now - last_sweep_ > std::chrono::minutes(1)) SweepLocked(now, ended);
  }

  void SweepLocked(SessionClock::time_point now, std::vector<int64_t>& ended) {
    last_sweep_ = now;
    for (auto it = sessions_.begin(); it != sessions_.end();) {
      auto next = std::next(it);
      if (Expired(it->second, now)) EndLocked(it, ended);
      it = next;
    }
    for (auto it = gone_.begin(); it != gone_.end();) {
      it = it->second <= now ? gone_.erase(it) : std::next(it);
    }
  }

  // Hands the ended sessions' records, with any that could not be
  // recorded before, to `ended_`; on failure they wait for the next call.
  void Report(std::vector<int64_t> ended) {
    if (!ended_) return;
    std::vector<int64_t> batch;
    {
      std::lock_guard<std::mutex> lock(pending_mutex_);
      pending_.insert(pending_.end(), ended.begin(), ended.end());
      if (pending_.empty()) return;
      batch.swap(pending_);
    }
    try {
      ended_(batch);
    } catch (...) {
      std::lock_guard<std::mutex> lock(pending_mutex_);
      pending_.insert(pending_.end(), batch.begin(), batch.end());
      throw;
    }
  }

  const SessionLimits limits_;
  const std::function<SessionClock::time_point()> now_;
  const SessionsEnded ended_;
  std::mutex mutex_;
  Map sessions_;
  // Keys of ended sessions, until when they are kept.
  std::unordered_map<std::string, SessionClock::time_point> gone_;
  SessionClock::time_point last_sweep_;
  std::mutex pending_mutex_;
  std::vector<int64_t> pending_;
};

}  // namespace

std::string SessionKey(const std::string& id) {
  host::InitSodiumOnce();
  unsigned char digest[crypto_hash_sha256_BYTES];
  crypto_hash_sha256(digest, reinterpret_cast<const unsigned char*>(id.data()),
                     id.size());
  char hex[crypto_hash_sha256_BYTES * 2 + 1];
  sodium_bin2hex(hex, sizeof hex, digest, sizeof digest);
  return std::string(hex, crypto_hash_sha256_BYTES * 2);
}

std::unique_ptr<SessionStore> MakeMemorySessionStore(
    SessionLimits limits, std::function<SessionClock::time_point()> now,
    SessionsEnded ended) {
  return std::make_unique<MemorySessionStore>(limits, std::move(now),
                                              std::move(ended));
}

}  // namespace wrenhaven
