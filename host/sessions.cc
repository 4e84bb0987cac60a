#include "host/sessions.h"

#include <sodium.h>

#include <algorithm>
#include <iterator>
#include <mutex>
#include <set>
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
// running when it ended cannot store it again. The signed-in sessions are
// indexed by person as well, so that one person's list, and the ending of
// all of them, reads only that person's sessions.
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
          Stored& s = it->second;
          if (SessionClock::to_time_t(s.last_used) !=
              SessionClock::to_time_t(now)) {
            BumpLocked(s.entry.holder.person);
          }
          s.last_used = now;
          out = s.entry;
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
        StoreLocked(key, Stored{std::move(entry), now});
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
    if (!query.person.empty()) return ListOf(query);
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
    const size_t from = std::min(query.offset, found.size());
    const size_t to = from + std::min(query.limit, found.size() - from);
    std::partial_sort(found.begin(),
                      found.begin() + static_cast<std::ptrdiff_t>(to),
                      found.end(), newer);
    out.rows.reserve(to - from);
    for (size_t i = from; i < to; ++i) {
      out.rows.push_back(Listed(*found[i].key, *found[i].stored));
    }
    out.total = query.count ? found.size()
                            : host::UncountedTotal(from, out.rows.size());
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
      for (auto at = by_person_.lower_bound(person);
           at != by_person_.end() && PersonOf(*at) == person;) {
        const Node* node = *at++;
        if (!Expired(node->second, now)) ++count;
        EndLocked(sessions_.find(node->first), ended);
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

  std::optional<uint64_t> ListVersion(const std::string& person) override {
    if (person.empty()) return std::nullopt;
    const auto now = now_();
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = marks_.find(person);
    if (it == marks_.end()) return 0;
    ListMark& mark = it->second;
    if (now >= mark.earliest_end) {
      // A session may have run out: its row leaves the list without any
      // call to the store. The earliest end is found again among the
      // sessions still live (it only ever comes later by their use).
      auto earliest = SessionClock::time_point::max();
      bool ran_out = false;
      for (auto at = by_person_.lower_bound(person);
           at != by_person_.end() && PersonOf(*at) == person; ++at) {
        const Stored& s = (*at)->second;
        if (Expired(s, now)) {
          ran_out = true;
        } else {
          earliest = std::min(earliest, EndOf(s));
        }
      }
      mark.earliest_end = earliest;
      if (ran_out) mark.version = ++changes_;
    }
    return mark.version;
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
  using Node = Map::value_type;

  static const std::string& PersonOf(const Node* node) {
    return node->second.entry.holder.person;
  }

  // The index's order: by person, then newest sign-in first, then by key
  // (List's order within one person). A person alone finds the first of
  // that person's sessions.
  struct ByPerson {
    using is_transparent = void;
    bool operator()(const Node* a, const Node* b) const {
      if (PersonOf(a) != PersonOf(b)) return PersonOf(a) < PersonOf(b);
      if (a->second.entry.created != b->second.entry.created) {
        return a->second.entry.created > b->second.entry.created;
      }
      return a->first < b->first;
    }
    bool operator()(const Node* a, std::string_view person) const {
      return PersonOf(a) < person;
    }
    bool operator()(std::string_view person, const Node* b) const {
      return person < PersonOf(b);
    }
  };

  static ListedSession Listed(const std::string& key, const Stored& stored) {
    return ListedSession{key, stored.entry.holder, stored.entry.created,
                         stored.last_used};
  }

  // One person's sessions from the index, in order; the walk ends with
  // the page when no total is asked for.
  SessionList ListOf(const SessionQuery& query) {
    const auto now = now_();
    SessionList out;
    size_t matched = 0;
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto at = by_person_.lower_bound(query.person);
         at != by_person_.end() && PersonOf(*at) == query.person; ++at) {
      if (!query.count && out.rows.size() >= query.limit) break;
      const Node& node = **at;
      if (Expired(node.second, now) ||
          !Matches(node.second.entry.holder, query))
        continue;
      if (matched >= query.offset && out.rows.size() < query.limit) {
        out.rows.push_back(Listed(node.first, node.second));
      }
      ++matched;
    }
    out.total = query.count
                    ? matched
                    : host::UncountedTotal(query.offset, out.rows.size());
    return out;
  }

  // Stores `stored` under `key`, keeping the index in step: a session
  // whose person or sign-in time changes moves in it. When the index
  // cannot take the session, it is not kept at all.
  void StoreLocked(const std::string& key, Stored stored) {
    auto [it, fresh] = sessions_.try_emplace(key);
    Node* node = &*it;
    const bool moves = fresh ||
                       node->second.entry.created != stored.entry.created ||
                       PersonOf(node) != stored.entry.holder.person;
    if (!fresh && PersonOf(node) != stored.entry.holder.person) {
      LeftLocked(PersonOf(node), node);
    }
    if (moves && !fresh) by_person_.erase(node);
    node->second = std::move(stored);
    const bool indexed = moves && !PersonOf(node).empty();
    try {
      if (indexed) by_person_.insert(node);
      MovedLocked(PersonOf(node), EndOf(node->second));
    } catch (...) {
      // Not kept at all: out of the index first, wherever it stands.
      if (!PersonOf(node).empty()) by_person_.erase(node);
      sessions_.erase(it);
      throw;
    }
  }

  // When a session can no longer be used: at the first of its idle and
  // absolute limits.
  SessionClock::time_point EndOf(const Stored& s) const {
    return std::min(s.last_used + limits_.idle,
                    s.entry.created + limits_.absolute);
  }

  // `person`'s list may show something else now; `end` is when a session
  // of theirs runs out at the earliest.
  void MovedLocked(const std::string& person, SessionClock::time_point end) {
    if (person.empty()) return;
    ListMark& mark = marks_[person];
    mark.version = ++changes_;
    mark.earliest_end = std::min(mark.earliest_end, end);
  }

  // The same for a person whose sessions are already marked (the earliest
  // end only comes later by use); never allocates.
  void BumpLocked(const std::string& person) {
    const auto it = marks_.find(person);
    if (it != marks_.end()) it->second.version = ++changes_;
  }

  // `node` is leaving `person`'s list: the list moves on, and its mark is
  // forgotten with the person's last session.
  void LeftLocked(std::string person, const Node* node) {
    if (person.empty()) return;
    auto at = by_person_.lower_bound(person);
    const bool others =
        at != by_person_.end() && PersonOf(*at) == person &&
        (*at != node || (++at != by_person_.end() && PersonOf(*at) == person));
    if (others) {
      BumpLocked(person);
    } else {
      marks_.erase(person);
    }
  }

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
    LeftLocked(s.entry.holder.person, &*it);
    by_person_.erase(&*it);
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
  // The signed-in sessions of sessions_ (not the values: pointers to its
  // elements, which stay put while it grows). A session's person and
  // sign-in time change only while it is out of the index.
  std::set<const Node*, ByPerson> by_person_;
  // Per person with sessions in by_person_: the version ListVersion gives
  // (a number of changes_, so none is given twice) and a time by which
  // none of their sessions runs out (at most the earliest end).
  struct ListMark {
    uint64_t version = 0;
    SessionClock::time_point earliest_end = SessionClock::time_point::max();
  };
  std::unordered_map<std::string, ListMark> marks_;
  uint64_t changes_ = 0;
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
