// Session identifiers and the memory store's limits.
#include "host/sessions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "wrenhaven/error.h"
#include "wrenhaven/http_host.h"

namespace wrenhaven {
namespace {

using namespace std::chrono_literals;

TEST(SessionIdTest, LongRandomAndRecognised) {
  std::set<std::string> seen;
  for (int i = 0; i < 200; ++i) {
    const std::string id = host::NewSessionId();
    ASSERT_EQ(id.size(), 64u);  // 256 bits
    EXPECT_TRUE(host::IsSessionId(id));
    seen.insert(id);
  }
  EXPECT_EQ(seen.size(), 200u);
  EXPECT_FALSE(host::IsSessionId(""));
  EXPECT_FALSE(host::IsSessionId("planted"));
  EXPECT_FALSE(host::IsSessionId(std::string(64, 'A')));
  EXPECT_FALSE(host::IsSessionId(std::string(63, 'a')));
}

class FakeClock {
 public:
  SessionClock::time_point now() const { return now_; }
  void Advance(SessionClock::duration d) { now_ += d; }

 private:
  SessionClock::time_point now_ = SessionClock::time_point(1000h);
};

SessionStore::Entry Entry(const FakeClock& clock, int32_t person) {
  return {{{"PersonID", Variant::Long(person)}}, clock.now()};
}

TEST(MemorySessionStoreTest, KeepsValuesUntilIdleTooLong) {
  FakeClock clock;
  auto store =
      MakeMemorySessionStore({20min, 12h}, [&] { return clock.now(); });
  store->Save("s", Entry(clock, 7));
  clock.Advance(19min);
  auto loaded = store->Load("s");
  ASSERT_TRUE(loaded.has_value());
  EXPECT_EQ(loaded->values.at(0).second, Variant::Long(7));
  // Each page restarts the idle count.
  clock.Advance(19min);
  EXPECT_TRUE(store->Load("s").has_value());
  clock.Advance(20min);
  EXPECT_FALSE(store->Load("s").has_value());
  // Gone for good, not only hidden.
  clock.Advance(-40min);
  EXPECT_FALSE(store->Load("s").has_value());
}

TEST(MemorySessionStoreTest, AbsoluteLimitHoldsHoweverBusy) {
  FakeClock clock;
  auto store = MakeMemorySessionStore({20min, 1h}, [&] { return clock.now(); });
  store->Save("s", Entry(clock, 7));
  for (int i = 0; i < 5; ++i) {
    clock.Advance(10min);
    EXPECT_TRUE(store->Load("s").has_value()) << i;
  }
  clock.Advance(10min);
  EXPECT_FALSE(store->Load("s").has_value());
}

TEST(MemorySessionStoreTest, RemoveAndUnknown) {
  FakeClock clock;
  auto store = MakeMemorySessionStore({}, [&] { return clock.now(); });
  store->Save("a", Entry(clock, 1));
  store->Save("b", Entry(clock, 2));
  store->Remove("a");
  EXPECT_FALSE(store->Load("a").has_value());
  EXPECT_EQ(store->Load("b")->values.at(0).second, Variant::Long(2));
  EXPECT_FALSE(store->Load("c").has_value());
}

// A signed-in entry of person `person`, account `account`, from login
// record `login`.
SessionStore::Entry SignedIn(const FakeClock& clock, const std::string& person,
                             const std::string& account, int64_t login) {
  SessionStore::Entry e{{{"PersonID", Variant::String(person)}}, clock.now()};
  e.holder = {person, account, login, "10.0.0." + person, "Browser " + person};
  return e;
}

// The login records a store reported ended, call by call.
struct Ended {
  std::vector<std::vector<int64_t>> calls;
  SessionsEnded Hook() {
    return [this](const std::vector<int64_t>& ids) { calls.push_back(ids); };
  }
};

TEST(MemorySessionStoreTest, ARemovedSessionIsNeverStoredAgain) {
  FakeClock clock;
  auto store =
      MakeMemorySessionStore({20min, 12h}, [&] { return clock.now(); });
  store->Save("s", Entry(clock, 7));
  // A page that started before the sign-out ends after it.
  const auto running = store->Load("s");
  ASSERT_TRUE(running.has_value());
  store->Remove("s");
  store->Save("s", *running);
  EXPECT_FALSE(store->Load("s").has_value());
  // Nor after an ending by force, nor after running out.
  store->Save("f", SignedIn(clock, "1", "ann", 5));
  const auto before = store->Load("f");
  ASSERT_TRUE(store->End(SessionKey("f")));
  store->Save("f", *before);
  EXPECT_FALSE(store->Load("f").has_value());
  store->Save("r", Entry(clock, 3));
  const auto old = store->Load("r");
  clock.Advance(21min);
  store->Sweep();
  store->Save("r", *old);
  EXPECT_FALSE(store->Load("r").has_value());
  // An entry older than the absolute limit is not stored at all.
  SessionStore::Entry stale = Entry(clock, 4);
  stale.created = clock.now() - 12h;
  store->Save("x", stale);
  EXPECT_FALSE(store->Load("x").has_value());
}

TEST(MemorySessionStoreTest, ListsSignedInSessionsNewestFirstByAccountAndPage) {
  FakeClock clock;
  auto store =
      MakeMemorySessionStore({20min, 12h}, [&] { return clock.now(); });
  store->Save("visitor", Entry(clock, 0));  // nobody signed in: not listed
  store->Save("old", SignedIn(clock, "1", "ann", 11));
  clock.Advance(1min);
  store->Save("ben", SignedIn(clock, "2", "ben", 12));
  clock.Advance(1min);
  store->Save("new", SignedIn(clock, "1", "Ann", 13));
  clock.Advance(1min);

  const SessionList all = store->List({});
  ASSERT_EQ(all.total, 3u);
  ASSERT_EQ(all.rows.size(), 3u);
  EXPECT_EQ(all.rows[0].key, SessionKey("new"));
  EXPECT_EQ(all.rows[1].key, SessionKey("ben"));
  EXPECT_EQ(all.rows[2].key, SessionKey("old"));
  EXPECT_EQ(all.rows[2].holder,
            (SessionHolder{"1", "ann", 11, "10.0.0.1", "Browser 1"}));
  EXPECT_EQ(all.rows[0].signed_in, clock.now() - 1min);
  // The key is no identifier: it does not load the session.
  EXPECT_FALSE(store->Load(all.rows[0].key).has_value());

  SessionQuery anns;
  anns.account = "ANN";
  const SessionList ann = store->List(anns);
  EXPECT_EQ(ann.total, 2u);
  ASSERT_EQ(ann.rows.size(), 2u);
  EXPECT_EQ(ann.rows[0].holder.login_id, 13);
  EXPECT_EQ(ann.rows[1].holder.login_id, 11);

  SessionQuery second_page;
  second_page.offset = 1;
  second_page.limit = 1;
  const SessionList page = store->List(second_page);
  EXPECT_EQ(page.total, 3u);
  ASSERT_EQ(page.rows.size(), 1u);
  EXPECT_EQ(page.rows[0].key, SessionKey("ben"));
  second_page.offset = 5;
  EXPECT_TRUE(store->List(second_page).rows.empty());

  SessionQuery person;
  person.person = "2";
  EXPECT_EQ(store->List(person).total, 1u);
  // Last use moves with each page; a run-out session is not listed.
  clock.Advance(17min);
  ASSERT_TRUE(store->Load("ben").has_value());
  clock.Advance(3min);
  const SessionList later = store->List({});
  ASSERT_EQ(later.total, 1u);
  EXPECT_EQ(later.rows[0].key, SessionKey("ben"));
  EXPECT_EQ(later.rows[0].last_seen, clock.now() - 3min);
}

TEST(MemorySessionStoreTest, EndingReportsEachLoginRecordOnce) {
  FakeClock clock;
  Ended ended;
  auto store = MakeMemorySessionStore(
      {20min, 12h}, [&] { return clock.now(); }, ended.Hook());
  store->Save("a", SignedIn(clock, "1", "ann", 21));
  store->Save("b", SignedIn(clock, "1", "ann", 22));
  store->Save("c", SignedIn(clock, "2", "ben", 23));
  store->Save("d", SignedIn(clock, "3", "cho", 24));
  store->Save("anon", Entry(clock, 0));

  // Another person's session is not ended in a person's name.
  EXPECT_FALSE(store->End(SessionKey("c"), "1"));
  EXPECT_TRUE(store->Load("c").has_value());
  EXPECT_TRUE(ended.calls.empty());
  EXPECT_TRUE(store->End(SessionKey("c"), "2"));
  EXPECT_FALSE(store->End(SessionKey("c")));  // once
  EXPECT_FALSE(store->Load("c").has_value());
  EXPECT_EQ(ended.calls, (std::vector<std::vector<int64_t>>{{23}}));

  EXPECT_EQ(store->EndAllOf("1"), 2u);
  EXPECT_EQ(store->EndAllOf("1"), 0u);
  ASSERT_EQ(ended.calls.size(), 2u);
  std::vector<int64_t> both = ended.calls[1];
  std::sort(both.begin(), both.end());
  EXPECT_EQ(both, (std::vector<int64_t>{21, 22}));
  EXPECT_FALSE(store->Load("a").has_value());

  // Sign-out of one without a record reports nothing.
  store->Remove("anon");
  EXPECT_EQ(ended.calls.size(), 2u);
  store->Remove("d");
  store->Remove("d");
  EXPECT_EQ(ended.calls.back(), std::vector<int64_t>{24});
  EXPECT_EQ(ended.calls.size(), 3u);
}

TEST(MemorySessionStoreTest, RunOutSessionsAreReportedByTheSweepOrTheNextLoad) {
  FakeClock clock;
  Ended ended;
  auto store = MakeMemorySessionStore(
      {20min, 12h}, [&] { return clock.now(); }, ended.Hook());
  store->Save("idle", SignedIn(clock, "1", "ann", 31));
  store->Save("asked", SignedIn(clock, "2", "ben", 32));
  clock.Advance(20min);
  EXPECT_FALSE(store->Load("asked").has_value());
  // The load noticed its own session, and the sweep that came with it
  // (a minute has passed) the other one.
  std::vector<int64_t> all;
  for (const auto& call : ended.calls)
    all.insert(all.end(), call.begin(), call.end());
  std::sort(all.begin(), all.end());
  EXPECT_EQ(all, (std::vector<int64_t>{31, 32}));
  store->Sweep();
  store->Sweep();
  size_t reported = 0;
  for (const auto& call : ended.calls) reported += call.size();
  EXPECT_EQ(reported, 2u);

  // Unobserved expiry: only the sweep finds it.
  Ended quiet;
  auto other = MakeMemorySessionStore(
      {20min, 12h}, [&] { return clock.now(); }, quiet.Hook());
  other->Save("x", SignedIn(clock, "3", "cho", 33));
  clock.Advance(30s);
  other->Save("y", Entry(clock, 0));  // no sweep within the minute
  clock.Advance(20min);
  EXPECT_TRUE(quiet.calls.empty());
  other->Sweep();
  EXPECT_EQ(quiet.calls, (std::vector<std::vector<int64_t>>{{33}}));
}

TEST(MemorySessionStoreTest, ARecordThatCouldNotBeWrittenIsTriedAgain) {
  FakeClock clock;
  int failures = 1;
  std::vector<int64_t> written;
  auto store = MakeMemorySessionStore(
      {20min, 12h}, [&] { return clock.now(); },
      [&](const std::vector<int64_t>& ids) {
        if (failures-- > 0) Raise(ErrorCode::kDatabase, "database down");
        written.insert(written.end(), ids.begin(), ids.end());
      });
  store->Save("a", SignedIn(clock, "1", "ann", 41));
  store->Save("b", SignedIn(clock, "2", "ben", 42));
  EXPECT_THROW(store->Remove("a"), Error);
  EXPECT_TRUE(written.empty());
  // Signed out all the same; the next call writes the record.
  EXPECT_FALSE(store->Load("a").has_value());
  EXPECT_EQ(written, std::vector<int64_t>{41});
  store->Remove("b");
  std::sort(written.begin(), written.end());
  EXPECT_EQ(written, (std::vector<int64_t>{41, 42}));
}

// The store as the plain full scan it was before the person index: the
// same limits, sweeps and ends, and every listing found by filtering all
// sessions and sorting them.
class ModelStore {
 public:
  ModelStore(SessionLimits limits, const FakeClock& clock)
      : limits_(limits), clock_(clock), last_sweep_(clock.now()) {}

  bool Load(const std::string& id) {
    const auto now = clock_.now();
    bool live = false;
    auto it = sessions_.find(SessionKey(id));
    if (it != sessions_.end()) {
      if (Expired(it->second, now)) {
        EndKey(it->first);
      } else {
        it->second.last_used = now;
        live = true;
      }
    }
    SweepIfDue(now);
    return live;
  }
  void Save(const std::string& id, const SessionStore::Entry& entry) {
    const auto now = clock_.now();
    const std::string key = SessionKey(id);
    if (gone_.count(key) == 0 && now - entry.created < limits_.absolute) {
      sessions_[key] = {entry, now};
    }
    SweepIfDue(now);
  }
  void Remove(const std::string& id) {
    const std::string key = SessionKey(id);
    if (sessions_.count(key) != 0) {
      EndKey(key);
    } else {
      gone_[key] = clock_.now() + limits_.absolute;
    }
  }
  bool End(const std::string& key, const std::string& person) {
    auto it = sessions_.find(key);
    if (it == sessions_.end() || Expired(it->second, clock_.now()) ||
        it->second.entry.holder.person.empty() ||
        (!person.empty() && it->second.entry.holder.person != person)) {
      return false;
    }
    EndKey(key);
    return true;
  }
  size_t EndAllOf(const std::string& person) {
    if (person.empty()) return 0;
    std::vector<std::string> keys;
    size_t live = 0;
    for (const auto& [key, s] : sessions_) {
      if (s.entry.holder.person != person) continue;
      keys.push_back(key);
      if (!Expired(s, clock_.now())) ++live;
    }
    for (const std::string& key : keys) EndKey(key);
    return live;
  }
  void Sweep() {
    const auto now = clock_.now();
    last_sweep_ = now;
    std::vector<std::string> keys;
    for (const auto& [key, s] : sessions_) {
      if (Expired(s, now)) keys.push_back(key);
    }
    for (const std::string& key : keys) EndKey(key);
    std::erase_if(gone_, [&](const auto& g) { return g.second <= now; });
  }
  SessionList List(const SessionQuery& query) const {
    std::vector<ListedSession> all;
    for (const auto& [key, s] : sessions_) {
      const SessionHolder& h = s.entry.holder;
      if (Expired(s, clock_.now()) || h.person.empty() ||
          (!query.person.empty() && h.person != query.person) ||
          (!query.account.empty() && !SameLetters(h.account, query.account))) {
        continue;
      }
      all.push_back({key, h, s.entry.created, s.last_used});
    }
    std::sort(all.begin(), all.end(), [](const auto& a, const auto& b) {
      return a.signed_in != b.signed_in ? a.signed_in > b.signed_in
                                        : a.key < b.key;
    });
    SessionList out;
    out.total = all.size();
    for (size_t i = query.offset;
         i < all.size() && out.rows.size() < query.limit; ++i) {
      out.rows.push_back(all[i]);
    }
    if (!query.count)
      out.total = out.rows.empty() ? 0 : query.offset + out.rows.size();
    return out;
  }

 private:
  struct Stored {
    SessionStore::Entry entry;
    SessionClock::time_point last_used;
  };
  static bool SameLetters(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) {
                        return std::tolower(static_cast<unsigned char>(x)) ==
                               std::tolower(static_cast<unsigned char>(y));
                      });
  }
  bool Expired(const Stored& s, SessionClock::time_point now) const {
    return now - s.last_used >= limits_.idle ||
           now - s.entry.created >= limits_.absolute;
  }
  void EndKey(const std::string& key) {
    gone_[key] = sessions_.at(key).entry.created + limits_.absolute;
    sessions_.erase(key);
  }
  void SweepIfDue(SessionClock::time_point now) {
    if (now - last_sweep_ > 1min) Sweep();
  }

  const SessionLimits limits_;
  const FakeClock& clock_;
  std::map<std::string, Stored> sessions_;
  std::map<std::string, SessionClock::time_point> gone_;
  SessionClock::time_point last_sweep_;
};

void ExpectSameList(const SessionList& got, const SessionList& want,
                    const std::string& what) {
  EXPECT_EQ(got.total, want.total) << what;
  ASSERT_EQ(got.rows.size(), want.rows.size()) << what;
  for (size_t i = 0; i < want.rows.size(); ++i) {
    EXPECT_EQ(got.rows[i].key, want.rows[i].key) << what << " row " << i;
    EXPECT_EQ(got.rows[i].holder, want.rows[i].holder) << what << " row " << i;
    EXPECT_EQ(got.rows[i].signed_in, want.rows[i].signed_in) << what;
    EXPECT_EQ(got.rows[i].last_seen, want.rows[i].last_seen) << what;
  }
}

// Random sign-ins, renewals, page visits, sign-outs, ends and sweeps; after
// each step every kind of listing (each person's, counted and not, every
// page, by account, everyone's) is what the full scan gives.
TEST(MemorySessionStoreTest, PersonListingsMatchAFullScanThroughRandomUse) {
  const SessionLimits limits{20min, 90min};
  const std::vector<std::string> people = {"", "1", "2", "3", "10"};
  for (unsigned seed = 1; seed <= 12; ++seed) {
    std::mt19937 random(seed);
    const auto pick = [&](size_t n) {
      return std::uniform_int_distribution<size_t>(0, n - 1)(random);
    };
    FakeClock clock;
    auto store = MakeMemorySessionStore(limits, [&] { return clock.now(); });
    ModelStore model(limits, clock);
    std::vector<std::string> ids;
    std::vector<SessionStore::Entry> last;  // as each id was last saved
    int64_t login = 0;
    // Per person: the list's version when last read, what the list showed
    // then (to the second), and the versions it has moved on from.
    std::map<std::string, uint64_t> versions;
    std::map<std::string, std::vector<std::string>> shown;
    std::map<std::string, std::set<uint64_t>> left;
    const auto entry = [&] {
      // Whole minutes, a few back: many sessions share a sign-in time.
      SessionStore::Entry e{{}, clock.now() - std::chrono::minutes(pick(3))};
      const std::string& person = people[pick(people.size())];
      if (!person.empty()) {
        e.holder = {person, pick(2) == 0 ? "Ann" : "ann", ++login, "", ""};
      }
      return e;
    };
    for (int step = 0; step < 300; ++step) {
      const size_t op = pick(10);
      std::string what;
      if (op <= 2 || ids.empty()) {  // a new session
        ids.push_back(host::NewSessionId());
        last.push_back(entry());
        store->Save(ids.back(), last.back());
        model.Save(ids.back(), last.back());
        what = "new";
      } else {
        const size_t i = pick(ids.size());
        const std::string& id = ids[i];
        if (op == 3) {  // signed in (again) in a session: a new holder
          last[i] = entry();
          what = "renewed";
        } else if (op == 4) {  // a page ends: stored as it was
          what = "saved again";
        } else if (op == 5) {
          ASSERT_EQ(store->Load(id).has_value(), model.Load(id)) << step;
          what = "loaded";
        }
        if (op == 3 || op == 4) {
          store->Save(id, last[i]);
          model.Save(id, last[i]);
        } else if (op == 6) {
          store->Remove(id);
          model.Remove(id);
          what = "removed";
        } else if (op == 7) {
          const std::string& by = people[pick(people.size())];
          ASSERT_EQ(store->End(SessionKey(id), by),
                    model.End(SessionKey(id), by))
              << step;
          what = "ended";
        } else if (op == 8) {
          const std::string& person = people[pick(people.size())];
          ASSERT_EQ(store->EndAllOf(person), model.EndAllOf(person)) << step;
          what = "all of " + person + " ended";
        } else if (op == 9) {
          // Whole minutes, or part of a second (pages within one second
          // do not move a list's version).
          if (pick(2) == 0) {
            clock.Advance(std::chrono::minutes(pick(8)));
          } else {
            clock.Advance(std::chrono::milliseconds(pick(1500)));
          }
          if (pick(2) == 0) {
            store->Sweep();
            model.Sweep();
          }
          what = "time passed";
        }
      }
      const std::string at = "seed " + std::to_string(seed) + " step " +
                             std::to_string(step) + " (" + what + ")";
      for (const std::string& person : people) {
        for (const bool count : {true, false}) {
          for (const auto& [offset, limit] :
               std::vector<std::pair<size_t, size_t>>{
                   {0, 50}, {0, 3}, {2, 3}, {5, 1}, {0, 0}, {40, 5}}) {
            SessionQuery q;
            q.person = person;
            q.offset = offset;
            q.limit = limit;
            q.count = count;
            ExpectSameList(
                store->List(q), model.List(q),
                at + " person '" + person + "' " + std::to_string(offset) +
                    "+" + std::to_string(limit) + (count ? "" : " uncounted"));
          }
        }
        SessionQuery by_account;
        by_account.person = person;
        by_account.account = "ANN";
        ExpectSameList(store->List(by_account), model.List(by_account),
                       at + " account");

        // The version first, as a page reads it: the same version, the
        // same list; a version once left never comes back.
        const std::optional<uint64_t> version = store->ListVersion(person);
        ASSERT_EQ(version.has_value(), !person.empty()) << at;
        if (person.empty()) continue;
        SessionQuery all;
        all.person = person;
        all.count = false;
        std::vector<std::string> rows;
        for (const ListedSession& r : model.List(all).rows) {
          rows.push_back(r.key + " " + r.holder.account + " " +
                         std::to_string(r.holder.login_id) + " " +
                         std::to_string(SessionClock::to_time_t(r.signed_in)) +
                         " " +
                         std::to_string(SessionClock::to_time_t(r.last_seen)));
        }
        if (*version == 0) {
          EXPECT_TRUE(rows.empty()) << at << " " << person;
        }
        const auto before = versions.find(person);
        if (before != versions.end() && before->second == *version) {
          EXPECT_EQ(rows, shown[person])
              << at << ": person " << person << "'s list moved, version "
              << *version << " did not";
        } else {
          if (*version != 0) {
            EXPECT_EQ(left[person].count(*version), 0u)
                << at << ": person " << person << " version " << *version
                << " came back";
          }
          if (before != versions.end()) left[person].insert(before->second);
        }
        versions[person] = *version;
        shown[person] = std::move(rows);
      }
      if (HasFatalFailure() || HasFailure()) return;
    }
  }
}

TEST(SessionKeyTest, TheSha256OfTheIdentifier) {
  // SHA-256 of "abc".
  EXPECT_EQ(SessionKey("abc"),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  const std::string id = host::NewSessionId();
  EXPECT_EQ(SessionKey(id).size(), 64u);
  EXPECT_NE(SessionKey(id), id);
  EXPECT_EQ(SessionKey(id), SessionKey(id));
}

TEST(MemorySessionStoreTest, CountsOnlyTheOpenSessions) {
  FakeClock clock;
  auto store =
      MakeMemorySessionStore({20min, 12h}, [&] { return clock.now(); });
  EXPECT_EQ(store->CountOpen(), 0u);
  store->Save("a", Entry(clock, 1));
  clock.Advance(15min);
  store->Save("b", Entry(clock, 2));
  store->Save("c", Entry(clock, 3));
  EXPECT_EQ(store->CountOpen(), 3u);
  store->Remove("c");
  EXPECT_EQ(store->CountOpen(), 2u);
  // "a" runs out unused; it is not yet swept away, but not open either.
  clock.Advance(6min);
  EXPECT_EQ(store->CountOpen(), 1u);
}

}  // namespace
}  // namespace wrenhaven
