#include "host/session_scope.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "host/sessions.h"

namespace wrenhaven::host {
namespace {

// A store that is a plain map, so a test sees every entry.
class MapStore : public SessionStore {
 public:
  std::optional<Entry> Load(const std::string& id) override {
    auto it = entries.find(id);
    if (it == entries.end()) return std::nullopt;
    return it->second;
  }
  void Save(const std::string& id, Entry entry) override {
    entries[id] = std::move(entry);
  }
  void Remove(const std::string& id) override { entries.erase(id); }
  SessionList List(const SessionQuery& query) override {
    asked.push_back(query);
    return {};
  }
  bool End(const std::string& key, const std::string& person) override {
    (void)key;
    (void)person;
    return true;
  }

  std::map<std::string, Entry> entries;
  std::vector<SessionQuery> asked;  // what List was asked
};

constexpr char kName[] = "SID";

std::string Who(const SessionStore::Entry& entry) {
  for (const auto& [k, v] : entry.values) {
    if (k == "who") return v.ToText();
  }
  return "(none)";
}

TEST(SessionScopeTest, WhatThePageDidAndWhetherItWentWell) {
  struct Case {
    const char* what;
    bool known;  // the browser sends the identifier of a stored session
    std::function<void(HttpSession&)> page;
    bool ok;
    // Expected afterwards:
    size_t entries;
    std::string who;  // of the one entry left, when there is one
    bool cookie;      // a Set-Cookie for the session cookie
    bool same_id;     // the entry left is the one known before
  };
  const auto set = [](const char* who) {
    return [who](HttpSession& s) { s.Set("who", Variant::String(who)); };
  };
  const auto none = [](HttpSession&) {};
  const Case cases[] = {
      {"new visitor writes a value", false, set("ann"), true, 1, "ann", true,
       false},
      {"new visitor writes the empty text", false, set(""), true, 0, "", false,
       false},
      {"new visitor writes Empty", false,
       [](HttpSession& s) { s.Set("who", Variant()); }, true, 0, "", false,
       false},
      {"new visitor renews with nothing", false,
       [](HttpSession& s) { s.RenewId(); }, true, 0, "", false, false},
      {"new visitor's page fails", false, set("eve"), false, 0, "", false,
       false},
      {"known session unchanged", true, none, true, 1, "ann", false, true},
      {"known session changed", true, set("ben"), true, 1, "ben", false, true},
      {"known session emptied", true, set(""), true, 1, "", false, true},
      {"known session renewed", true,
       [](HttpSession& s) {
         s.Set("who", Variant::String("ben"));
         s.RenewId();
       },
       true, 1, "ben", true, false},
      {"known session abandoned", true, [](HttpSession& s) { s.Abandon(); },
       true, 0, "", true, false},
      {"known session changed, page fails", true, set("eve"), false, 1, "ann",
       false, true},
      {"known session renewed, page fails", true,
       [](HttpSession& s) { s.RenewId(); }, false, 1, "ann", false, true},
      {"known session abandoned, page fails", true,
       [](HttpSession& s) { s.Abandon(); }, false, 1, "ann", false, true},
  };
  for (const Case& c : cases) {
    MapStore store;
    const std::string known = NewSessionId();
    std::vector<HttpItem> cookies = {{"other", "x"}};
    if (c.known) {
      store.entries[known] = SessionStore::Entry{
          {{"who", Variant::String("ann")}}, SessionClock::now()};
      cookies.push_back({kName, known});
    }
    SessionScope scope(store, kName, cookies);
    c.page(*scope.session());
    const std::optional<std::string> cookie = scope.Close(c.ok, false);
    EXPECT_EQ(cookie.has_value(), c.cookie) << c.what;
    ASSERT_EQ(store.entries.size(), c.entries) << c.what;
    if (c.entries == 1) {
      const auto& [id, entry] = *store.entries.begin();
      EXPECT_EQ(Who(entry), c.who) << c.what;
      EXPECT_EQ(id == known, c.same_id) << c.what;
      if (c.cookie) {
        EXPECT_EQ(*cookie, "SID=" + id + "; Path=/; HttpOnly; SameSite=Lax")
            << c.what;
      }
    } else if (c.cookie) {
      EXPECT_EQ(*cookie, "SID=; Path=/; Max-Age=0; HttpOnly; SameSite=Lax")
          << c.what;
    }
  }
}

TEST(SessionScopeTest, ThePageWorksOnACopy) {
  MapStore store;
  const std::string id = NewSessionId();
  store.entries[id] =
      SessionStore::Entry{{{"who", Variant::String("ann")}}, {}};
  SessionScope scope(store, kName, {{kName, id}});
  EXPECT_EQ(scope.session()->Get("who").ToText(), "ann");
  scope.session()->Set("who", Variant::String("eve"));
  EXPECT_EQ(Who(store.entries[id]), "ann");
}

TEST(SessionScopeTest, OnlyWellFormedIdentifiersAreLookedUpAndFlagsFollow) {
  MapStore store;
  const std::string planted(64, 'A');  // upper case: never made by us
  store.entries[planted] =
      SessionStore::Entry{{{"who", Variant::String("x")}}, {}};
  SessionScope scope(store, kName, {{kName, planted}});
  EXPECT_TRUE(scope.session()->values().empty());
  scope.session()->Set("who", Variant::String("ann"));
  const auto cookie = scope.Close(true, /*https=*/true);
  ASSERT_TRUE(cookie.has_value());
  EXPECT_NE(cookie->find("; Secure"), std::string::npos);
  EXPECT_EQ(cookie->find(planted), std::string::npos);
  EXPECT_EQ(store.entries.size(), 2u);
}

TEST(SessionScopeTest, TheHolderOfASignInStaysWithTheSession) {
  MapStore store;
  const std::string old_id = NewSessionId();
  store.entries[old_id] = SessionStore::Entry{{}, {}};
  const SessionHolder ann{"1", "ann", 77, "10.0.0.8", "Desk"};
  std::string id;
  {
    SessionScope scope(store, kName, {{kName, old_id}});
    EXPECT_EQ(scope.key(), SessionKey(old_id));
    scope.session()->Set("who", Variant::String("ann"));
    scope.SignedIn(ann);
    ASSERT_TRUE(scope.Close(true, false).has_value());
    // A fresh identifier, the old one gone.
    ASSERT_EQ(store.entries.size(), 1u);
    id = store.entries.begin()->first;
    EXPECT_NE(id, old_id);
    EXPECT_EQ(store.entries.begin()->second.holder, ann);
  }
  {
    // A later page that changes a value keeps the holder.
    SessionScope scope(store, kName, {{kName, id}});
    scope.session()->Set("seen", Variant::Long(1));
    EXPECT_FALSE(scope.Close(true, false).has_value());
    EXPECT_EQ(store.entries.at(id).holder, ann);
  }
  {
    // A failed sign-in page leaves everything as it was.
    SessionScope scope(store, kName, {{kName, id}});
    scope.SignedIn(SessionHolder{"2", "ben", 78, "", ""});
    EXPECT_FALSE(scope.Close(false, false).has_value());
    EXPECT_EQ(store.entries.at(id).holder, ann);
  }
  SessionScope none(store, kName, {});
  EXPECT_EQ(none.key(), "");
}

// The rows the store read with the session answer the holder's own first
// page of the list; any other question, and any after a change of a
// session through the page, goes to the store.
TEST(SessionScopeTest, TheListReadWithTheSessionAnswersOnlyItsOwnPage) {
  MapStore store;
  const std::string id = NewSessionId();
  SessionStore::Entry entry{{}, {}, SessionHolder{"7", "ann", 1, "", ""}};
  std::vector<ListedSession> listed;
  for (int i = 0; i < 3; ++i) {
    listed.push_back({"k" + std::to_string(i), entry.holder, {}, {}});
  }
  entry.listed = listed;
  store.entries[id] = entry;
  SessionScope scope(store, kName, {{kName, id}});
  SessionStore& page = scope.store();
  SessionQuery mine;
  mine.person = "7";
  mine.limit = 2;
  mine.count = false;
  SessionList got = page.List(mine);
  ASSERT_EQ(got.rows.size(), 2u);
  EXPECT_EQ(got.rows[1].key, "k1");
  EXPECT_EQ(got.total, 2u);
  mine.limit = 50;  // more than were read: all there are
  EXPECT_EQ(page.List(mine).rows.size(), 3u);
  EXPECT_TRUE(store.asked.empty());

  SessionQuery other = mine;
  other.person = "8";
  SessionQuery counted = mine;
  counted.count = true;
  SessionQuery later = mine;
  later.offset = 1;
  SessionQuery account = mine;
  account.account = "ann";
  for (const SessionQuery& q : {other, counted, later, account}) {
    EXPECT_TRUE(page.List(q).rows.empty());
  }
  EXPECT_EQ(store.asked.size(), 4u);
  // A full read of the most Load reads may have left some out.
  store.asked.clear();
  std::vector<ListedSession> full(SessionStore::kListedWithLoad, listed[0]);
  store.entries[id].listed = full;
  SessionScope busy(store, kName, {{kName, id}});
  mine.limit = SessionStore::kListedWithLoad;
  EXPECT_EQ(busy.store().List(mine).rows.size(), SessionStore::kListedWithLoad);
  mine.limit = SessionStore::kListedWithLoad + 1;
  EXPECT_TRUE(busy.store().List(mine).rows.empty());
  EXPECT_EQ(store.asked.size(), 1u);

  // Ending a session drops the rows read before.
  store.asked.clear();
  mine.limit = 2;
  EXPECT_TRUE(page.End("k1", "7"));
  EXPECT_TRUE(page.List(mine).rows.empty());
  EXPECT_EQ(store.asked.size(), 1u);
}

}  // namespace
}  // namespace wrenhaven::host
