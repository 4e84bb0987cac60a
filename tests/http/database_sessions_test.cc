// Sessions kept in the database: what reaches the SYS_OnlineSession table, the
// idle and absolute limits measured on a test clock, two stores on one
// database seeing each other's sessions, and failures that reach the page
// as the error page instead of a signed-out visitor.
#include "wrenhaven/database_sessions.h"

#include <gtest/gtest.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <cstdlib>
#include <regex>

#include "host/sessions.h"
#include "testing/recording_connection.h"
#include "testing/test_db.h"
#include "tests/http/http_support.h"
#include "web/office_pages.h"
#include "wrenhaven/dialect.h"
#include "wrenhaven/error.h"
#include "wrenhaven/postgres.h"
#include "wrenhaven/sqlite.h"

namespace wrenhaven::testing {
namespace {

using namespace std::chrono_literals;
using Values = std::vector<std::pair<std::string, Variant>>;

int64_t Micros(SessionClock::time_point t) {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             t.time_since_epoch())
      .count();
}

size_t Counts(const std::vector<std::string>& sent) {
  return static_cast<size_t>(
      std::count_if(sent.begin(), sent.end(), [](const std::string& s) {
        return s.find("COUNT(") != std::string::npos;
      }));
}

class DatabaseSessionsTest : public ::testing::TestWithParam<std::string> {
 protected:
  DatabaseSessionsTest() : db_(GetParam(), /*demo=*/false) {}

  // A store on the test database whose clock is now_.
  std::unique_ptr<SessionStore> Store(SessionLimits limits = {}) {
    return MakeDatabaseSessionStore(db_.Connections(), limits,
                                    [this] { return now_; });
  }

  int64_t Rows(const std::string& where = "1 = 1") {
    return db_.Scalar("SELECT COUNT(*) FROM SYS_OnlineSession WHERE " + where)
        .ToLong();
  }
  // A time column of one row, in microseconds.
  int64_t Column(const std::string& id, const std::string& column) {
    return std::llround(
        db_.Scalar("SELECT " + column +
                   " FROM SYS_OnlineSession WHERE SessionKey = '" +
                   SessionKey(id) + "'")
            .ToDouble());
  }

  TestDb db_;
  // A fixed start, so the times have more than 32 bits in microseconds.
  SessionClock::time_point now_ =
      SessionClock::time_point(std::chrono::seconds(1'700'000'000));
};

TEST_P(DatabaseSessionsTest, AnotherStoreOnTheSameDatabaseSeesTheSession) {
  auto first = Store();
  auto second = Store();
  const std::string id = host::NewSessionId();
  const auto created = now_ - 5s;
  VariantArray roles = VariantArray::TwoDim(1, 0);
  roles(0, 0) = Variant::Long(1);
  roles(1, 0) = Variant::String("O'Hara's role");
  const Values values = {{"PersonID", Variant::Long(1)},
                         {"PersonName", Variant::String("Ann 'Carter'")},
                         {"Roles", Variant::Array(roles)},
                         {"Shown", Variant()},
                         {"Since", Variant::FromDate(Date{45000.5})}};
  first->Save(id, {values, created});
  EXPECT_EQ(Rows(), 1);
  EXPECT_EQ(Column(id, "Created"), Micros(created));
  EXPECT_EQ(Column(id, "LastSeen"), Micros(now_));
  EXPECT_EQ(Column(id, "Expires"), Micros(now_ + 20min));
  // The values are text in the row, readable by anyone looking.
  const std::string data =
      db_.Scalar("SELECT Data FROM SYS_OnlineSession WHERE SessionKey = '" +
                 SessionKey(id) + "'")
          .ToText();
  EXPECT_NE(data.find("\"PersonName\""), std::string::npos) << data;

  const auto loaded = second->Load(id);
  ASSERT_TRUE(loaded.has_value());
  EXPECT_EQ(loaded->values, values);
  EXPECT_EQ(loaded->created, created);

  // A changed session replaces the row; it is still one row.
  Values changed = values;
  changed[0].second = Variant::Long(2);
  second->Save(id, {changed, loaded->created});
  EXPECT_EQ(Rows(), 1);
  EXPECT_EQ(first->Load(id)->values, changed);

  // Removed on one, gone on the other; its values are gone from the row.
  first->Remove(id);
  EXPECT_FALSE(second->Load(id).has_value());
  EXPECT_FALSE(second->Load(host::NewSessionId()).has_value());
  EXPECT_EQ(Rows("Data LIKE '%Ann%'"), 0);
}

TEST_P(DatabaseSessionsTest, APageFinishingAfterTheSignOutCannotRestoreIt) {
  auto here = Store();
  auto there = Store();
  const std::string id = host::NewSessionId();
  here->Save(id, {{{"PersonID", Variant::Long(1)}}, now_});
  const auto running = there->Load(id);  // a page starts there
  ASSERT_TRUE(running.has_value());
  here->Remove(id);  // signed out here
  now_ += 2s;
  there->Save(id, {running->values, running->created});  // the page ends
  EXPECT_FALSE(here->Load(id).has_value());
  EXPECT_FALSE(there->Load(id).has_value());

  // The marked row goes with the first sweep ten minutes on; other
  // sessions are untouched.
  const std::string other = host::NewSessionId();
  now_ += 9min;
  here->Save(other, {{}, now_});
  EXPECT_EQ(Rows(), 2);
  now_ += 1min;
  here->Save(other, {{}, now_});
  EXPECT_EQ(Rows(), 1);
  EXPECT_EQ(Rows("SessionKey = '" + SessionKey(other) + "'"), 1);
}

TEST_P(DatabaseSessionsTest, IdleTimeSlidesWithUseAndEndsTheSession) {
  auto store = Store({.idle = 20min, .absolute = 12h});
  const std::string id = host::NewSessionId();
  store->Save(id, {{{"PersonID", Variant::Long(1)}}, now_});
  for (int i = 0; i < 5; ++i) {
    now_ += 19min;
    ASSERT_TRUE(store->Load(id).has_value()) << "use " << i;
    EXPECT_EQ(Column(id, "LastSeen"), Micros(now_));
    EXPECT_EQ(Column(id, "Expires"), Micros(now_ + 20min));
  }
  now_ += 20min;
  EXPECT_FALSE(store->Load(id).has_value());
  // A run-out session keeps only an emptied, marked row.
  EXPECT_EQ(Rows("Expires > 0"), 0);
  EXPECT_EQ(Rows("Data <> '[]'"), 0);
  // It never comes back under its identifier: a new sign-in gets a new
  // one.
  store->Save(id, {{}, now_});
  EXPECT_FALSE(store->Load(id).has_value());
}

TEST_P(DatabaseSessionsTest, AbsoluteLimitEndsABusySession) {
  auto store = Store({.idle = 20min, .absolute = 1h});
  const std::string id = host::NewSessionId();
  const auto start = now_;
  store->Save(id, {{}, start});
  while (now_ + 10min < start + 1h) {
    now_ += 10min;
    ASSERT_TRUE(store->Load(id).has_value());
  }
  // The last use is 10 minutes ago, but the hour is over.
  EXPECT_EQ(Column(id, "Expires"), Micros(start + 1h));
  now_ = start + 1h;
  EXPECT_FALSE(store->Load(id).has_value());
  EXPECT_EQ(Rows("Expires > 0"), 0);
}

TEST_P(DatabaseSessionsTest, LastUseIsWrittenOnlyWhenItHasAged) {
  // 20 minutes idle: the last use is written again after 15 seconds.
  auto store = Store({.idle = 20min, .absolute = 12h});
  const std::string id = host::NewSessionId();
  store->Save(id, {{}, now_});
  const int64_t saved = Micros(now_);
  now_ += 14s;
  ASSERT_TRUE(store->Load(id).has_value());
  EXPECT_EQ(Column(id, "LastSeen"), saved);
  now_ += 1s;
  ASSERT_TRUE(store->Load(id).has_value());
  EXPECT_EQ(Column(id, "LastSeen"), Micros(now_));
}

TEST_P(DatabaseSessionsTest, ARowPastItsExpiryIsNeverHonoured) {
  // Written by a host with a shorter timeout: its own expiry counts.
  auto store = Store({.idle = 20min, .absolute = 12h});
  const std::string id = host::NewSessionId();
  const std::string n = std::to_string(Micros(now_));
  db_.Exec(
      "INSERT INTO SYS_OnlineSession (SessionKey, Data, Created, LastSeen, "
      "Expires) VALUES ('" +
      SessionKey(id) + "', '[]', " + n + ", " + n + ", " + n + ")");
  EXPECT_FALSE(store->Load(id).has_value());
  EXPECT_EQ(Rows("Expires > 0"), 0);
}

TEST_P(DatabaseSessionsTest, RunOutRowsAreSweptOnceAMinute) {
  auto store = Store({.idle = 20min, .absolute = 12h});
  const std::string old1 = host::NewSessionId();
  const std::string old2 = host::NewSessionId();
  const std::string live = host::NewSessionId();
  store->Save(old1, {{}, now_});
  store->Save(old2, {{}, now_});
  now_ += 10min;
  store->Save(live, {{}, now_});
  now_ += 15min;  // old1 and old2 have run out, live has not
  EXPECT_EQ(Rows(), 3);
  store->Save(host::NewSessionId(), {{}, now_});
  EXPECT_EQ(Rows("Expires > 0"), 2);
  EXPECT_EQ(Rows("SessionKey = '" + SessionKey(live) + "' AND Expires > 0"), 1);
  EXPECT_EQ(Rows("SessionKey IN ('" + SessionKey(old1) + "', '" +
                 SessionKey(old2) + "') AND Expires = 0"),
            2);
}

TEST_P(DatabaseSessionsTest, FailuresRaiseInsteadOfLosingTheSession) {
  auto store = Store();
  const std::string id = host::NewSessionId();
  store->Save(id, {{{"PersonID", Variant::Long(1)}}, now_});

  // Damaged values are an error, not an empty session.
  db_.Exec(
      "UPDATE SYS_OnlineSession SET Data = '[[\"PersonID\"' WHERE SessionKey = "
      "'" +
      SessionKey(id) + "'");
  try {
    store->Load(id);
    FAIL() << "damaged values were read";
  } catch (const Error& e) {
    EXPECT_EQ(e.code(), ErrorCode::kHost);
    EXPECT_EQ(std::string(e.what()).rfind("The session could not be read: ", 0),
              0u)
        << e.what();
  }
  EXPECT_EQ(Rows(), 1);

  // An object cannot leave the process; nothing is written.
  EXPECT_THROW(store->Save(host::NewSessionId(),
                           {{{"conn", Variant::FromObject(db_.conn())}}, now_}),
               Error);
  EXPECT_EQ(Rows(), 1);

  // Identifiers the host never makes are refused before any statement.
  for (const std::string& bad :
       std::vector<std::string>{"", "x' OR '1'='1", std::string(64, 'A')}) {
    try {
      store->Load(bad);
      ADD_FAILURE() << "looked up " << bad;
    } catch (const Error& e) {
      EXPECT_EQ(e.code(), ErrorCode::kInvalidArgument);
    }
  }

  // The table gone: every use raises.
  db_.Exec("DROP TABLE SYS_OnlineSession");
  EXPECT_THROW(store->Load(id), Error);
  EXPECT_THROW(store->Save(id, {{}, now_}), Error);
  EXPECT_THROW(store->Remove(id), Error);
  try {
    Store();
    FAIL() << "a store was made without its table";
  } catch (const Error& e) {
    EXPECT_EQ(e.code(), ErrorCode::kHost);
    EXPECT_NE(std::string(e.what()).find("SYS_OnlineSession"),
              std::string::npos)
        << e.what();
  }
}

// A login record of person 1, as a sign-in writes it; its LoginID.
int64_t NewRecord(const TestDb& db) {
  db.Exec(
      "INSERT INTO HR_Login (personID, LoginAccount, LoginPwd, LoginOK) "
      "VALUES (1, 'ann', '******', 1)");
  return db.Scalar("SELECT MAX(LoginID) FROM HR_Login").ToLong();
}

TEST_P(DatabaseSessionsTest, TheListAndEndingReachEveryStoreOnTheDatabase) {
  auto here = Store();
  auto there = Store();
  const int64_t record = NewRecord(db_);
  const std::string ann = host::NewSessionId();
  const std::string ben = host::NewSessionId();
  const std::string visitor = host::NewSessionId();
  SessionStore::Entry a{{{"PersonID", Variant::Long(1)}}, now_ - 2min};
  a.holder = {"1", "Ann", record, "10.0.0.8", "Desk 'browser'"};
  SessionStore::Entry b{{{"PersonID", Variant::Long(2)}}, now_ - 1min};
  b.holder = {"2", "ben", 0, "10.0.0.9", std::string(600, 'x')};
  here->Save(ann, a);
  here->Save(ben, b);
  here->Save(visitor, {{}, now_});
  // The holder comes back with the session, the browser cut to its limit.
  EXPECT_EQ(there->Load(ann)->holder, a.holder);
  EXPECT_EQ(there->Load(ben)->holder.browser.size(), kMaxHolderBrowser);

  const SessionList all = there->List({});
  ASSERT_EQ(all.total, 2u);
  ASSERT_EQ(all.rows.size(), 2u);
  EXPECT_EQ(all.rows[0].key, SessionKey(ben));
  EXPECT_EQ(all.rows[1].key, SessionKey(ann));
  EXPECT_EQ(all.rows[1].holder, a.holder);
  EXPECT_EQ(all.rows[1].signed_in, now_ - 2min);
  EXPECT_EQ(all.rows[1].last_seen, now_);
  SessionQuery anns;
  anns.account = "aNN";
  EXPECT_EQ(there->List(anns).total, 1u);
  SessionQuery page;
  page.offset = 1;
  page.limit = 5;
  const SessionList second = there->List(page);
  EXPECT_EQ(second.total, 2u);
  ASSERT_EQ(second.rows.size(), 1u);
  EXPECT_EQ(second.rows[0].key, SessionKey(ann));
  // An account with a quote is a value, not a statement.
  anns.account = "x' OR '1'='1";
  EXPECT_EQ(there->List(anns).total, 0u);

  // Ending on one store: gone on the other; the record's sign-out time is
  // written with the database's clock, once.
  EXPECT_FALSE(there->End(SessionKey(ann), "2"));
  EXPECT_FALSE(there->End("not a key"));
  EXPECT_EQ(Rows("Expires > 0"), 3);
  EXPECT_EQ(db_.Scalar("SELECT COUNT(*) FROM HR_Login WHERE loginOutTime IS "
                       "NULL")
                .ToLong(),
            1);
  EXPECT_TRUE(there->End(SessionKey(ann), "1"));
  EXPECT_FALSE(here->Load(ann).has_value());
  EXPECT_EQ(db_.Scalar("SELECT COUNT(*) FROM HR_Login WHERE loginOutTime IS "
                       "NULL")
                .ToLong(),
            0);
  db_.Exec(
      "UPDATE HR_Login SET loginOutTime = '2001-02-03 04:05:06' WHERE "
      "LoginID = " +
      std::to_string(record));
  EXPECT_FALSE(here->End(SessionKey(ann)));
  here->Remove(ann);
  here->Sweep();
  const Variant out =
      db_.Scalar("SELECT loginOutTime FROM HR_Login WHERE LoginID = " +
                 std::to_string(record));
  EXPECT_EQ(out.kind() == Kind::kDate ? out.date().ToIso() : out.ToText(),
            "2001-02-03 04:05:06");
  // The page that was running cannot bring it back.
  here->Save(ann, a);
  EXPECT_FALSE(there->Load(ann).has_value());

  EXPECT_EQ(here->EndAllOf("2"), 1u);
  EXPECT_EQ(here->EndAllOf("2"), 0u);
  EXPECT_FALSE(there->Load(ben).has_value());
  EXPECT_EQ(there->List({}).total, 0u);
  EXPECT_TRUE(there->Load(visitor).has_value());
}

TEST_P(DatabaseSessionsTest, RunOutSessionsGetTheirSignOutTimeFromTheSweep) {
  auto store = Store({.idle = 20min, .absolute = 12h});
  const int64_t record = NewRecord(db_);
  const std::string id = host::NewSessionId();
  SessionStore::Entry e{{{"PersonID", Variant::Long(1)}}, now_};
  e.holder = {"1", "ann", record, "", ""};
  store->Save(id, e);
  now_ += 20min;
  const auto out = [&] {
    return db_
        .Scalar(
            "SELECT COUNT(*) FROM HR_Login WHERE loginOutTime IS NOT NULL "
            "AND LoginID = " +
            std::to_string(record))
        .ToLong();
  };
  EXPECT_EQ(out(), 0);
  store->Sweep();
  EXPECT_EQ(out(), 1);
  EXPECT_EQ(Rows("Expires > 0"), 0);
  EXPECT_FALSE(store->Load(id).has_value());
}

TEST_P(DatabaseSessionsTest, AListWithoutACountSendsOnlyThePagesSelect) {
  TappedConnections taps(db_.Connections());
  auto store =
      MakeDatabaseSessionStore(taps.Tapped(), {}, [this] { return now_; });
  // Five of person 1's sessions, two of them signed in at the same time
  // (ordered by key then), one of person 2's, one signed out, one visitor.
  std::vector<std::string> ids;
  for (int i = 0; i < 6; ++i) {
    ids.push_back(host::NewSessionId());
    SessionStore::Entry e{{}, now_ - std::chrono::minutes(i == 2 ? 1 : i)};
    e.holder = {i == 5 ? "2" : "1", i == 3 ? "ANN" : "ann", 100 + i, "", ""};
    store->Save(ids.back(), e);
  }
  const std::string out = host::NewSessionId();
  store->Save(out, {{}, now_, {"1", "ann", 0, "", ""}});
  store->Remove(out);
  store->Save(host::NewSessionId(), {{}, now_});
  taps.Sent();

  const auto query = [](size_t offset, size_t limit, bool count) {
    SessionQuery q;
    q.person = "1";
    q.offset = offset;
    q.limit = limit;
    q.count = count;
    return q;
  };
  for (const auto& [offset, limit] : std::vector<std::pair<size_t, size_t>>{
           {0, 50}, {0, 2}, {2, 2}, {4, 2}, {5, 2}, {9, 1}}) {
    const std::string what =
        std::to_string(offset) + "+" + std::to_string(limit);
    const SessionList counted = store->List(query(offset, limit, true));
    EXPECT_EQ(counted.total, 5u) << what;
    EXPECT_EQ(Counts(taps.Sent()), 1u) << what;
    const SessionList uncounted = store->List(query(offset, limit, false));
    const std::vector<std::string> sent = taps.Sent();
    EXPECT_EQ(Counts(sent), 0u) << what;
    ASSERT_EQ(sent.size(), 1u) << what;
    ASSERT_EQ(uncounted.rows.size(), counted.rows.size()) << what;
    for (size_t i = 0; i < counted.rows.size(); ++i) {
      EXPECT_EQ(uncounted.rows[i].key, counted.rows[i].key) << what;
      EXPECT_EQ(uncounted.rows[i].holder, counted.rows[i].holder) << what;
      EXPECT_EQ(uncounted.rows[i].signed_in, counted.rows[i].signed_in);
    }
    EXPECT_EQ(uncounted.total,
              uncounted.rows.empty() ? 0 : offset + uncounted.rows.size())
        << what;
  }
  // The order: newest first, equal times by key.
  const SessionList all = store->List(query(0, 50, false));
  std::vector<std::string> order = {SessionKey(ids[0]), SessionKey(ids[1]),
                                    SessionKey(ids[2]), SessionKey(ids[3]),
                                    SessionKey(ids[4])};
  if (order[2] < order[1]) std::swap(order[1], order[2]);
  ASSERT_EQ(all.rows.size(), 5u);
  for (size_t i = 0; i < order.size(); ++i) {
    EXPECT_EQ(all.rows[i].key, order[i]) << i;
  }
  EXPECT_EQ(all.total, 5u);
  // By account as well.
  SessionQuery anns = query(0, 50, false);
  anns.account = "Ann";
  EXPECT_EQ(store->List(anns).rows.size(), 5u);
  anns.person = "2";
  EXPECT_EQ(store->List(anns).rows.size(), 1u);
  taps.Sent();
  // An empty page asks nothing; an offset no database takes finds nothing.
  EXPECT_TRUE(store->List(query(0, 0, false)).rows.empty());
  EXPECT_TRUE(taps.Sent().empty());
  const SessionList far = store->List(query(SIZE_MAX, 5, false));
  EXPECT_TRUE(far.rows.empty());
  EXPECT_EQ(far.total, 0u);
  EXPECT_TRUE(store->List(query(SIZE_MAX, 5, true)).rows.empty());
}

// On PostgreSQL a load reads the person's newest live sessions with the
// session, as List gives them; SQLite reads them when asked.
TEST_P(DatabaseSessionsTest, ALoadReadsThePersonsListWithTheSession) {
  auto store = Store();
  SessionQuery mine;
  mine.person = "7";
  mine.limit = 100;
  mine.count = false;
  std::vector<std::string> ids;
  for (int i = 0; i < 40; ++i) {
    ids.push_back(host::NewSessionId());
    store->Save(ids.back(), {{},
                             now_ - std::chrono::seconds(100 - i),
                             {"7", "ann", i + 1, "", "B" + std::to_string(i)}});
  }
  store->Save(host::NewSessionId(), {{}, now_, {"8", "bob", 0, "", ""}});
  const std::string nobody = host::NewSessionId();
  store->Save(nobody, {{{"x", Variant::Long(1)}}, now_});
  ids.push_back(host::NewSessionId());
  store->Save(ids.back(), {{}, now_ - 200s, {"7", "ann", 99, "", "old"}});
  now_ += 30s;  // past the touch

  std::optional<SessionStore::Entry> loaded = store->Load(ids[20]);
  ASSERT_TRUE(loaded.has_value());
  if (GetParam() != "postgresql") {
    EXPECT_FALSE(loaded->listed.has_value());
    return;
  }
  // The newest 32 of the person's live sessions, the loaded one among
  // them, as List gives them; nobody else's.
  ASSERT_TRUE(loaded->listed.has_value());
  mine.limit = SessionStore::kListedWithLoad;
  const SessionList listed = store->List(mine);
  ASSERT_EQ(listed.rows.size(), SessionStore::kListedWithLoad);
  ASSERT_EQ(loaded->listed->size(), listed.rows.size());
  for (size_t i = 0; i < listed.rows.size(); ++i) {
    const ListedSession& a = (*loaded->listed)[i];
    const ListedSession& b = listed.rows[i];
    EXPECT_EQ(a.key, b.key) << i;
    EXPECT_EQ(a.key, SessionKey(ids[39 - i])) << i;
    EXPECT_EQ(a.holder, b.holder) << i;
    EXPECT_EQ(a.signed_in, b.signed_in) << i;
    EXPECT_EQ(a.last_seen, b.last_seen) << i;
  }
  // Its own row among them shows the use this load recorded.
  const auto own = std::find_if(
      loaded->listed->begin(), loaded->listed->end(),
      [&](const ListedSession& s) { return s.key == SessionKey(ids[20]); });
  ASSERT_NE(own, loaded->listed->end());
  EXPECT_EQ(own->last_seen, now_);
  EXPECT_EQ(loaded->rights_version, std::optional<int64_t>(0));

  // A session of nobody's lists nobody; an ended one is not among them.
  loaded = store->Load(nobody);
  ASSERT_TRUE(loaded.has_value());
  EXPECT_FALSE(loaded->listed.has_value());
  ASSERT_TRUE(store->End(SessionKey(ids[39]), "7"));
  loaded = store->Load(ids[20]);
  ASSERT_TRUE(loaded.has_value());
  ASSERT_TRUE(loaded->listed.has_value());
  EXPECT_EQ(loaded->listed->front().key, SessionKey(ids[38]));
}

// The statements of every request send their values apart, so that their
// texts are the same from one request to the next (a database prepares
// each once per connection) and hold no session's key or person.
TEST_P(DatabaseSessionsTest, EveryRequestSendsTheSameTexts) {
  TappedConnections taps(db_.Connections());
  auto store =
      MakeDatabaseSessionStore(taps.Tapped(), {}, [this] { return now_; });
  SessionQuery mine;
  mine.person = "7";
  mine.limit = 21;
  std::vector<std::string> ids;
  for (int round = 0; round < 3; ++round) {
    ids.push_back(host::NewSessionId());
    store->Save(ids.back(), {{}, now_, {"7", "ann", 100 + round, "", ""}});
    now_ += 30s;  // past the touch
    ASSERT_TRUE(store->Load(ids.back()).has_value());
    EXPECT_EQ(store->List(mine).rows.size(), ids.size() - mine.offset);
    mine.offset = 1 - mine.offset;
  }
  std::vector<std::string> apart = taps.SentApart();
  EXPECT_EQ(apart.size(), 15u);
  std::sort(apart.begin(), apart.end());
  apart.erase(std::unique(apart.begin(), apart.end()), apart.end());
  EXPECT_EQ(apart.size(), 5u);  // save, load, touch, count, page
  for (const std::string& text : apart) {
    EXPECT_EQ(text.find(SessionKey(ids[0])), std::string::npos) << text;
    EXPECT_EQ(text.find("'7'"), std::string::npos) << text;
    EXPECT_EQ(text.find(std::to_string(Micros(now_))), std::string::npos)
        << text;
  }
}

// Every load hands back the office's rights version as it stands, and
// none when the office has no version row.
TEST_P(DatabaseSessionsTest, TheLoadCarriesTheRightsVersion) {
  auto store = Store();
  const std::string id = host::NewSessionId();
  store->Save(id, {{}, now_, {"7", "ann", 1, "", ""}});
  db_.Exec("UPDATE SYS_Version SET Version = 4294967301 WHERE Name = 'rights'");
  std::optional<SessionStore::Entry> got = store->Load(id);
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(got->rights_version, std::optional<int64_t>(4294967301));
  db_.Exec("INSERT INTO SYS_Role (RoleName) VALUES ('r')");
  got = store->Load(id);
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(got->rights_version, std::optional<int64_t>(4294967302));
  db_.Exec("DELETE FROM SYS_Version");
  got = store->Load(id);
  ASSERT_TRUE(got.has_value());
  EXPECT_FALSE(got->rights_version.has_value());
  EXPECT_FALSE(store->Load(host::NewSessionId()).has_value());
}

INSTANTIATE_TEST_SUITE_P(Databases, DatabaseSessionsTest,
                         ::testing::ValuesIn(TestDatabases()));

// The office pages on a host that keeps its sessions in the database.
class DatabaseSessionsHttpTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    spdlog::set_level(spdlog::level::off);
    db_ = std::make_unique<TestDb>(GetParam(), /*demo=*/true);
  }
  void TearDown() override { spdlog::set_level(spdlog::level::info); }

  std::unique_ptr<TestHost> Start() {
    HttpHostOptions options;
    options.log_requests = false;
    ConnectionFactory connections = db_->Connections();
    return std::make_unique<TestHost>(
        options, connections, web::AddOfficePages,
        MakeDatabaseSessionStore(connections, options.session_limits));
  }

  std::string SignIn(Browser& b) {
    const Reply r = b.Post("/", Form({{"LoginName", "ann"},
                                      {"LoginPwd", "ann123"},
                                      {"oldwin", "true"}}));
    EXPECT_EQ(r.status, 302) << r.body;
    return b.Cookie("WRENHAVEN_SESSION");
  }

  int64_t Rows(const std::string& where = "1 = 1") {
    return db_->Scalar("SELECT COUNT(*) FROM SYS_OnlineSession WHERE " + where)
        .ToLong();
  }

  std::unique_ptr<TestDb> db_;
};

TEST_P(DatabaseSessionsHttpTest,
       SignInRetiresTheOldRowAndSignOutRetiresTheNew) {
  auto host = Start();
  Browser b(host->port());
  // A failed attempt from a new visitor stores no session.
  const Reply failed =
      b.Post("/", Form({{"LoginName", "ann"}, {"LoginPwd", "wrong"}}));
  EXPECT_EQ(failed.SetCookie("WRENHAVEN_SESSION"), "");
  EXPECT_EQ(Rows(), 0);
  const std::string before = SignIn(b);
  ASSERT_EQ(before.size(), 64u);
  EXPECT_EQ(Rows("SessionKey = '" + SessionKey(before) + "'"), 1);
  const std::string after = SignIn(b);
  ASSERT_EQ(after.size(), 64u);
  EXPECT_NE(after, before);
  // The replaced identifier's row is emptied and marked removed.
  EXPECT_EQ(Rows("Expires > 0"), 1);
  EXPECT_EQ(Rows("SessionKey = '" + SessionKey(after) + "' AND Expires > 0"),
            1);
  EXPECT_EQ(Rows("SessionKey = '" + SessionKey(before) +
                 "' AND Expires = 0 AND Data = "
                 "'[]'"),
            1);
  EXPECT_EQ(b.Get("/MyOffice/").status, 200);
  b.SetCookie("WRENHAVEN_SESSION", before);
  EXPECT_EQ(b.Get("/MyOffice/").Header("Location"), "/");
  b.SetCookie("WRENHAVEN_SESSION", after);

  // Signing out: a plain visit of the sign-in page.
  b.Get("/");
  EXPECT_EQ(Rows("Expires > 0"), 0);
  EXPECT_EQ(Rows("Data <> '[]'"), 0);
  b.SetCookie("WRENHAVEN_SESSION", after);
  EXPECT_EQ(b.Get("/MyOffice/").Header("Location"), "/");
}

TEST_P(DatabaseSessionsHttpTest, AStoreFailureShowsTheErrorPage) {
  auto host = Start();
  Browser b(host->port());
  SignIn(b);
  db_->Exec("DROP TABLE SYS_OnlineSession");
  const Reply r = b.Get("/MyOffice/");
  EXPECT_EQ(r.status, 500) << r.Header("Location");
  // The page shows a reference; the failure's text goes to the log only.
  EXPECT_NE(r.body.find("Reference: "), std::string::npos) << r.body;
  EXPECT_EQ(r.body.find("The session could not be read"), std::string::npos)
      << r.body;
}

TEST_P(DatabaseSessionsHttpTest, TheMainWindowListsTheNewestTwentyUncounted) {
  TappedConnections taps(db_->Connections());
  HttpHostOptions options;
  options.log_requests = false;
  auto owned = MakeDatabaseSessionStore(taps.Tapped(), options.session_limits);
  SessionStore* store = owned.get();
  TestHost host(options, taps.Tapped(), web::AddOfficePages, std::move(owned));
  Browser b(host.port());
  const std::string own = SignIn(b);
  const std::string person =
      db_->Scalar(
             "SELECT PersonID FROM SYS_OnlineSession WHERE SessionKey = '" +
             SessionKey(own) + "'")
          .ToText();
  ASSERT_FALSE(person.empty());
  // 24 more of the same person's sessions, a second apart, and one of
  // someone else's.
  const auto now = SessionClock::now();
  std::vector<std::string> keys;
  for (int i = 0; i < 24; ++i) {
    const std::string id = host::NewSessionId();
    SessionStore::Entry e{{}, now - std::chrono::seconds(10 + i)};
    e.holder = {person, "ann", 0, "10.0.0.1", "Browser " + std::to_string(i)};
    store->Save(id, e);
    keys.push_back(SessionKey(id));
  }
  store->Save(host::NewSessionId(),
              {{}, now, {person + "0", "other", 0, "", "Someone else's"}});
  taps.Sent();

  const Reply window = b.Get("/MyOffice/");
  ASSERT_EQ(window.status, 200);
  // On PostgreSQL the list comes with the session's own row.
  const std::vector<std::string> sent = taps.Sent();
  EXPECT_EQ(Counts(sent), 0u);
  EXPECT_EQ(std::count_if(sent.begin(), sent.end(),
                          [](const std::string& s) {
                            return s.find("FROM SYS_OnlineSession") !=
                                   std::string::npos;
                          }),
            GetParam() == "postgresql" ? 1 : 2)
      << ::testing::PrintToString(sent);
  static const std::regex li("<li data-key=\"([0-9a-f]{64})\">");
  std::vector<std::string> shown;
  for (auto it =
           std::sregex_iterator(window.body.begin(), window.body.end(), li);
       it != std::sregex_iterator(); ++it) {
    shown.push_back((*it)[1].str());
  }
  // The own session, the newest, is not among them.
  EXPECT_EQ(shown, std::vector<std::string>(keys.begin(), keys.begin() + 20));
  EXPECT_EQ(window.body.find("Someone else"), std::string::npos);
}

// The load of the session reads the rights version too, so the main window
// sends nothing of its own for it; a change made straight into the tables
// (as another program would) still shows on the very next window of every
// server on the database.
TEST_P(DatabaseSessionsHttpTest, TheLoadReadsTheRightsVersionForThePage) {
  TappedConnections taps(db_->Connections());
  HttpHostOptions options;
  options.log_requests = false;
  std::vector<std::unique_ptr<TestHost>> hosts;
  for (int i = 0; i < 2; ++i) {
    hosts.push_back(std::make_unique<TestHost>(
        options, taps.Tapped(), web::AddOfficePages,
        MakeDatabaseSessionStore(taps.Tapped(), options.session_limits)));
  }
  Browser b(hosts[0]->port());
  const std::string id = SignIn(b);
  auto window = [&](TestHost& host) {
    Browser on(host.port());
    on.SetCookie("WRENHAVEN_SESSION", id);
    return on.Get("/MyOffice/");
  };
  auto menus = [](const Reply& r) {
    size_t n = 0;
    for (size_t at = r.body.find("data-menu=\""); at != std::string::npos;
         at = r.body.find("data-menu=\"", at + 1)) {
      ++n;
    }
    return n;
  };
  auto versions = [](const std::vector<std::string>& sent) {
    return std::count_if(sent.begin(), sent.end(), [](const std::string& s) {
      return s.find("SYS_Version") != std::string::npos;
    });
  };
  size_t shown = 0;
  for (auto& host : hosts) {
    ASSERT_EQ(window(*host).status, 200);  // the menus read and kept
    taps.Sent();
    const Reply kept = window(*host);
    ASSERT_EQ(kept.status, 200);
    shown = menus(kept);
    const std::vector<std::string> sent = taps.Sent();
    // The load, with the version, and the person's other sessions (on
    // PostgreSQL read by the load as well).
    ASSERT_EQ(sent.size(), GetParam() == "postgresql" ? 1u : 2u)
        << ::testing::PrintToString(sent);
    EXPECT_NE(sent[0].find("FROM SYS_OnlineSession"), std::string::npos);
    EXPECT_EQ(versions(sent), 1) << sent[0];
  }
  ASSERT_GT(shown, 0u);
  db_->Exec("DELETE FROM SYS_right");
  for (auto& host : hosts) {
    const Reply after = window(*host);
    ASSERT_EQ(after.status, 200);
    EXPECT_EQ(menus(after), 0u) << after.body;
  }
  // Without a version row the page asks on its own and fails plainly.
  db_->Exec("DELETE FROM SYS_Version");
  EXPECT_EQ(window(*hosts[1]).status, 500);
}

INSTANTIATE_TEST_SUITE_P(Databases, DatabaseSessionsHttpTest,
                         ::testing::ValuesIn(TestDatabases()));

}  // namespace
}  // namespace wrenhaven::testing
