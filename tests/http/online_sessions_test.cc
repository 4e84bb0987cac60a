// Who is signed in, over HTTP on the demo office: the list of sessions and
// ending them (by an administrator, or a person's own other sessions), the
// sign-out times written when sessions end, rights that follow changes
// into open sessions, and what the database keeps of a session. Each runs
// with the memory store and with the database store, on every database.
#include <gtest/gtest.h>
#include <spdlog/spdlog.h>

#include <atomic>
#include <regex>
#include <tuple>

#include "testing/test_db.h"
#include "tests/http/http_support.h"
#include "web/office_pages.h"
#include "wrenhaven/database_sessions.h"
#include "wrenhaven/error.h"
#include "wrenhaven/login.h"
#include "wrenhaven/schema.h"

namespace wrenhaven::testing {
namespace {

using namespace std::chrono_literals;

constexpr char kSession[] = "WRENHAVEN_SESSION";
constexpr char kSentinel[] = "2001-02-03 04:05:06";

struct Listed {
  std::string key;
  std::string person;
};

// The rows of the sessions page, in the order shown.
std::vector<Listed> Rows(const std::string& page) {
  static const std::regex row(
      "<tr data-key=\"([0-9a-f]{64})\" data-person=\"([0-9]*)\"");
  std::vector<Listed> out;
  for (auto it = std::sregex_iterator(page.begin(), page.end(), row);
       it != std::sregex_iterator(); ++it) {
    out.push_back({(*it)[1].str(), (*it)[2].str()});
  }
  return out;
}

std::string TokenOf(const std::string& page) {
  static const std::regex token(
      "<input type=\"hidden\" name=\"token\" value=\"([0-9a-f]{64})\">");
  std::smatch m;
  return std::regex_search(page, m, token) ? m[1].str() : "";
}

std::string CountOf(const std::string& page) {
  static const std::regex count("<span id=\"count\">([0-9]+)</span>");
  std::smatch m;
  return std::regex_search(page, m, count) ? m[1].str() : "";
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

using Param = std::tuple<std::string, std::string>;  // database, store

class OnlineSessionsTest : public ::testing::TestWithParam<Param> {
 protected:
  void SetUp() override {
    spdlog::set_level(spdlog::level::warn);
    db_ = std::make_unique<TestDb>(std::get<0>(GetParam()), /*demo=*/true);
  }
  void TearDown() override {
    hosts_.clear();
    spdlog::set_level(spdlog::level::info);
  }
  bool InDatabase() const { return std::get<1>(GetParam()) == "db"; }

  SessionClock::time_point Now() const {
    return SessionClock::now() + std::chrono::seconds(skew_.load());
  }
  // Moves the stores' clock on (the database's own clock stays).
  void Advance(std::chrono::seconds s) { skew_ += s.count(); }

  // A host of the office with a store of the test's kind on the test's
  // clock; the database store of every host is on the same table.
  int StartHost() {
    HttpHostOptions options;
    options.log_requests = false;
    ConnectionFactory connections = db_->Connections();
    const SessionLimits limits{20min, 12h};
    auto clock = [this] { return Now(); };
    std::unique_ptr<SessionStore> store =
        InDatabase() ? MakeDatabaseSessionStore(connections, limits, clock)
                     : MakeMemorySessionStore(limits, clock,
                                              MakeSignOutRecorder(connections));
    stores_.push_back(store.get());
    hosts_.push_back(std::make_unique<TestHost>(
        options, connections, web::AddOfficePages, std::move(store)));
    return hosts_.back()->port();
  }

  std::unique_ptr<Browser> As(const std::string& who, int port,
                              const std::string& browser = "TestBrowser/1") {
    auto b = std::make_unique<Browser>(port);
    const Reply r = b->Post("/",
                            Form({{"LoginName", who},
                                  {"LoginPwd", who + "123"},
                                  {"oldwin", "true"}}),
                            {{"User-Agent", browser}});
    EXPECT_EQ(r.status, 302) << who << r.body;
    return b;
  }
  static Reply Get(Browser& b, const std::string& path) {
    return b.Get(path, {{"Accept-Language", "en"}});
  }
  static Reply Post(
      Browser& b, const std::string& path,
      const std::vector<std::pair<std::string, std::string>>& items) {
    return b.Post(path, Form(items), {{"Accept-Language", "en"}});
  }
  static bool SignedIn(Browser& b) {
    return Get(b, "/MyOffice/").status == 200;
  }

  // The newest successful login record of a person, and its sign-out time
  // as text ("" while none is written).
  int64_t LastRecord(int person) {
    return db_
        ->Scalar(
            "SELECT MAX(LoginID) FROM HR_Login WHERE LoginOK = 1 AND "
            "personID = " +
            std::to_string(person))
        .ToLong();
  }
  std::string OutTime(int64_t record) {
    const Variant v =
        db_->Scalar("SELECT loginOutTime FROM HR_Login WHERE LoginID = " +
                    std::to_string(record));
    return v.kind() == Kind::kDate ? v.date().ToIso() : v.ToText();
  }
  // True when the sign-out time was written by the database just now:
  // not before the sign-in's own time, and within a few minutes of it.
  bool WrittenJustNow(int64_t record) {
    return db_->Scalar("SELECT COUNT(*) FROM HR_Login WHERE LoginID = " +
                       std::to_string(record) +
                       " AND loginOutTime >= loginTime AND loginOutTime <= " +
                       (std::get<0>(GetParam()) == "sqlite"
                            ? std::string("datetime(loginTime, '+5 minutes')")
                            : std::string("loginTime + interval '5 minutes'")))
               .ToLong() == 1;
  }
  // Marks a written sign-out time, so that writing it again would show.
  void Mark(int64_t record) {
    db_->Exec(std::string("UPDATE HR_Login SET loginOutTime = '") + kSentinel +
              "' WHERE LoginID = " + std::to_string(record));
  }

  // The key of `person`'s newest session in the administrator's list.
  std::string KeyOf(Browser& admin, const std::string& person) {
    for (const Listed& l : Rows(Get(admin, "/admin/sessions").body)) {
      if (l.person == person) return l.key;
    }
    return "";
  }

  std::unique_ptr<TestDb> db_;
  std::atomic<int64_t> skew_{0};
  std::vector<SessionStore*> stores_;
  std::vector<std::unique_ptr<TestHost>> hosts_;
};

// ----- The list, and who may see it

TEST_P(OnlineSessionsTest,
       AdministratorsListSessionsNewestFirstPagedAndFiltered) {
  const int port = StartHost();
  auto ann = As("ann", port);
  auto ben1 = As("ben", port, "Ben's phone");
  auto ben2 = As("ben", port, "Ben's laptop");
  auto cho = As("cho", port);
  const std::string all = Get(*ann, "/admin/sessions").body;
  const std::vector<Listed> rows = Rows(all);
  ASSERT_EQ(rows.size(), 4u) << all;
  EXPECT_EQ(CountOf(all), "4");
  // Newest sign-in first: cho, ben, ben, ann.
  EXPECT_EQ(rows[0].person, "3");
  EXPECT_EQ(rows[1].person, "2");
  EXPECT_EQ(rows[2].person, "2");
  EXPECT_EQ(rows[3].person, "1");
  EXPECT_TRUE(Has(all, "<td class=\"browser\">Ben&apos;s laptop</td>")) << all;
  EXPECT_TRUE(Has(all, "<td class=\"account\">ben</td>"));
  // The record each came from.
  EXPECT_TRUE(Has(
      all, "/admin/logins/record?id=" + std::to_string(LastRecord(3)) + "\""));

  // One account, letter case ignored.
  const std::string bens = Get(*ann, "/admin/sessions?account=BEN").body;
  EXPECT_EQ(Rows(bens).size(), 2u);
  EXPECT_EQ(CountOf(bens), "2");
  EXPECT_TRUE(Rows(Get(*ann, "/admin/sessions?account=nobody").body).empty());

  // Pages: two to a page, the second page holds ben's first and ann.
  const std::string second = Get(*ann, "/admin/sessions?size=2&page=2").body;
  const auto paged = Rows(second);
  ASSERT_EQ(paged.size(), 2u);
  EXPECT_EQ(paged[0].person, "2");
  EXPECT_EQ(paged[1].person, "1");
  EXPECT_EQ(CountOf(second), "4");
  EXPECT_TRUE(Has(second, "Page 2 / 2")) << second;
  EXPECT_TRUE(Rows(Get(*ann, "/admin/sessions?size=2&page=3").body).empty());
  // A page size beyond the maximum is the maximum.
  EXPECT_TRUE(Has(Get(*ann, "/admin/sessions?size=100000").body,
                  "name=\"size\" value=\"200\""));
  // Bad paging and overlong accounts are refused before any reading.
  for (const std::string& bad : std::vector<std::string>{
           "size=x", "page=0", "page=-1", "size=99999999999",
           "account=" + std::string(65, 'a')}) {
    const Reply r = Get(*ann, "/admin/sessions?" + bad);
    EXPECT_EQ(r.status, 400) << bad;
    EXPECT_TRUE(Rows(r.body).empty()) << bad;
  }
}

TEST_P(OnlineSessionsTest, OnlyAdministratorsOpenOrPostToTheSessionsPage) {
  const int port = StartHost();
  auto ann = As("ann", port);
  auto ben = As("ben", port);
  auto ben_elsewhere = As("ben", port);
  const std::string ann_key = KeyOf(*ann, "1");
  ASSERT_FALSE(ann_key.empty());
  // Ben's own, valid form token, from his main window.
  const std::string ben_token = TokenOf(Get(*ben, "/MyOffice/").body);
  ASSERT_FALSE(ben_token.empty());

  EXPECT_EQ(Get(*ben, "/admin/sessions").status, 403);
  EXPECT_EQ(Get(*ben, "/admin/sessions?account=ann").status, 403);
  for (const std::string& token : {std::string(), ben_token}) {
    EXPECT_EQ(
        Post(*ben, "/admin/sessions/end", {{"token", token}, {"key", ann_key}})
            .status,
        403);
    EXPECT_EQ(Post(*ben, "/admin/sessions/end-person",
                   {{"token", token}, {"person", "1"}})
                  .status,
              403);
  }
  // Nobody signed in: the sign-in page's link, and nothing listed.
  Browser stranger(port);
  const Reply anon = Get(stranger, "/admin/sessions");
  EXPECT_EQ(anon.status, 403);
  EXPECT_TRUE(Rows(anon.body).empty());
  // Ann and ben are still signed in.
  EXPECT_TRUE(SignedIn(*ann));
  EXPECT_EQ(Get(*ann, "/admin/sessions").status, 200);
  EXPECT_EQ(Rows(Get(*ann, "/admin/sessions").body).size(), 3u);
  EXPECT_TRUE(SignedIn(*ben_elsewhere));
  // Ann's post without her token changes nothing either.
  EXPECT_EQ(Post(*ann, "/admin/sessions/end-person", {{"person", "2"}}).status,
            403);
  EXPECT_TRUE(SignedIn(*ben));
}

// ----- Ending sessions

TEST_P(OnlineSessionsTest, AnEndedSessionIsRefusedAtItsNextPage) {
  const int port = StartHost();
  auto ivy = As("ivy", port);
  auto ben = As("ben", port);
  auto ben2 = As("ben", port);
  auto cho = As("cho", port);
  const std::string token = TokenOf(Get(*ivy, "/admin/sessions").body);
  const std::string cho_key = KeyOf(*ivy, "3");
  ASSERT_FALSE(cho_key.empty());
  // A link never ends anything: only the posted form does.
  EXPECT_EQ(Get(*ivy, "/admin/sessions/end?key=" + cho_key + "&token=" + token)
                .status,
            404);
  EXPECT_TRUE(SignedIn(*cho));
  const Reply ended =
      Post(*ivy, "/admin/sessions/end", {{"token", token}, {"key", cho_key}});
  EXPECT_EQ(ended.status, 302);
  EXPECT_EQ(ended.Header("Location"), "/admin/sessions?done=ended");
  const Reply next = Get(*cho, "/MyOffice/home");
  EXPECT_EQ(next.status, 302);
  EXPECT_EQ(next.Header("Location"), "/");
  EXPECT_TRUE(SignedIn(*ben));
  // Again: nothing to end.
  EXPECT_EQ(
      Post(*ivy, "/admin/sessions/end", {{"token", token}, {"key", cho_key}})
          .Header("Location"),
      "/admin/sessions?done=none");
  EXPECT_EQ(Post(*ivy, "/admin/sessions/end", {{"token", token}, {"key", "x'"}})
                .status,
            400);

  // Every session of a person.
  EXPECT_EQ(Post(*ivy, "/admin/sessions/end-person",
                 {{"token", token}, {"person", "2"}})
                .Header("Location"),
            "/admin/sessions?done=ended");
  EXPECT_FALSE(SignedIn(*ben));
  EXPECT_FALSE(SignedIn(*ben2));
  EXPECT_TRUE(SignedIn(*ivy));
  EXPECT_EQ(Rows(Get(*ivy, "/admin/sessions").body).size(), 1u);
}

TEST_P(OnlineSessionsTest, PeopleSeeAndEndTheirOwnOtherSessions) {
  const int port = StartHost();
  auto here = As("ann", port, "Desk browser");
  auto there = As("ann", port, "Tablet browser");
  auto ben = As("ben", port);
  const std::string window = Get(*here, "/MyOffice/").body;
  EXPECT_TRUE(Has(window, "id=\"elsewhere\"")) << window;
  EXPECT_TRUE(Has(window, "Tablet browser"));
  EXPECT_FALSE(Has(window, "Desk browser"));  // not its own
  EXPECT_FALSE(Has(window, "TestBrowser"));   // nor ben's
  static const std::regex li("<li data-key=\"([0-9a-f]{64})\">");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(window, m, li));
  const std::string there_key = m[1].str();
  const std::string token = TokenOf(window);

  // Ben cannot end it, not even with his own token.
  auto ben_other = As("ben", port);
  const std::string ben_token = TokenOf(Get(*ben, "/MyOffice/").body);
  ASSERT_FALSE(ben_token.empty());
  EXPECT_EQ(Post(*ben, "/MyOffice/sessions/end",
                 {{"token", ben_token}, {"key", there_key}})
                .status,
            302);
  EXPECT_TRUE(SignedIn(*there));
  // Nor ann without the token.
  EXPECT_EQ(Post(*here, "/MyOffice/sessions/end", {{"key", there_key}}).status,
            403);
  EXPECT_TRUE(SignedIn(*there));

  EXPECT_EQ(Post(*here, "/MyOffice/sessions/end",
                 {{"token", token}, {"key", there_key}})
                .Header("Location"),
            "/MyOffice/");
  EXPECT_EQ(Get(*there, "/MyOffice/").Header("Location"), "/");
  EXPECT_TRUE(SignedIn(*here));
  EXPECT_FALSE(Has(Get(*here, "/MyOffice/").body, "id=\"elsewhere\""));

  // All the others at once; the own one stays. The window, drawn before
  // without them, shows each new one at once.
  auto third = As("ann", port);
  const auto rows = [&] {
    const std::string body = Get(*here, "/MyOffice/").body;
    std::vector<std::string> keys;
    for (std::sregex_iterator it(body.begin(), body.end(), li), end; it != end;
         ++it) {
      keys.push_back((*it)[1].str());
    }
    return keys;
  };
  EXPECT_EQ(rows().size(), 1u);
  EXPECT_EQ(rows().size(), 1u);
  auto fourth = As("ann", port);
  const std::vector<std::string> both = rows();
  ASSERT_EQ(both.size(), 2u);
  EXPECT_NE(both[0], both[1]);
  EXPECT_EQ(rows(), both);
  EXPECT_EQ(
      Post(*here, "/MyOffice/sessions/end", {{"token", token}, {"all", "1"}})
          .status,
      302);
  EXPECT_FALSE(SignedIn(*third));
  EXPECT_FALSE(SignedIn(*fourth));
  EXPECT_TRUE(SignedIn(*here));
  EXPECT_TRUE(SignedIn(*ben_other));
}

// ----- Sign-out times

TEST_P(OnlineSessionsTest, EveryEndWritesTheSignOutTimeOnce) {
  const int port = StartHost();
  auto ivy = As("ivy", port);

  // Signing out through "/".
  auto ann = As("ann", port);
  const int64_t first = LastRecord(1);
  EXPECT_EQ(OutTime(first), "");
  Login summary;
  summary.SetConn(db_->conn());
  const auto ann_out = [&] {
    const VariantArray all = summary.GetAllData();
    for (int32_t r = 1; r <= all.UBound(1); ++r) {
      if (all(r, 0).ToText() == "1") {
        return all(r, 3).kind() == Kind::kDate ? all(r, 3).date().ToIso()
                                               : all(r, 3).ToText();
      }
    }
    return std::string("(no row)");
  };
  EXPECT_EQ(ann_out(), "");
  const std::string old_cookie = ann->Cookie(kSession);
  Get(*ann, "/");
  EXPECT_TRUE(WrittenJustNow(first)) << OutTime(first);
  EXPECT_EQ(ann_out(), OutTime(first));
  Mark(first);
  ann->SetCookie(kSession, old_cookie);
  Get(*ann, "/");
  EXPECT_EQ(OutTime(first), kSentinel);

  // A new sign-in over a signed-in session ends the old one.
  auto bob = As("ben", port);
  const int64_t replaced = LastRecord(2);
  const Reply again = bob->Post(
      "/",
      Form({{"LoginName", "ben"}, {"LoginPwd", "ben123"}, {"oldwin", "true"}}));
  ASSERT_EQ(again.status, 302);
  EXPECT_TRUE(WrittenJustNow(replaced));
  EXPECT_EQ(OutTime(LastRecord(2)), "");

  // Running out, seen by nobody: the sweep writes it.
  auto cho = As("cho", port);
  const int64_t idle = LastRecord(3);
  Advance(21min);
  EXPECT_EQ(OutTime(idle), "");
  stores_[0]->Sweep();
  EXPECT_TRUE(WrittenJustNow(idle)) << OutTime(idle);
  Mark(idle);
  EXPECT_FALSE(SignedIn(*cho));
  stores_[0]->Sweep();
  EXPECT_EQ(OutTime(idle), kSentinel);

  // Running out, seen by its own next page.
  auto dev = As("dev", port);
  const int64_t seen = LastRecord(4);
  Advance(21min);
  EXPECT_FALSE(SignedIn(*dev));
  EXPECT_TRUE(WrittenJustNow(seen)) << OutTime(seen);

  // Ended by force.
  ivy = As("ivy", port);
  auto eva = As("eva", port);
  const int64_t forced = LastRecord(5);
  const std::string token = TokenOf(Get(*ivy, "/admin/sessions").body);
  const std::string key = KeyOf(*ivy, "5");
  ASSERT_EQ(Post(*ivy, "/admin/sessions/end", {{"token", token}, {"key", key}})
                .Header("Location"),
            "/admin/sessions?done=ended");
  EXPECT_TRUE(WrittenJustNow(forced));
  Mark(forced);
  Post(*ivy, "/admin/sessions/end", {{"token", token}, {"key", key}});
  EXPECT_FALSE(SignedIn(*eva));
  Get(*eva, "/");
  stores_[0]->Sweep();
  EXPECT_EQ(OutTime(forced), kSentinel);
}

// ----- Rights that follow changes

TEST_P(OnlineSessionsTest, ARemovedAdministratorLosesTheAdminPagesAtOnce) {
  const int here = StartHost();
  const int there = StartHost();
  auto ivy = As("ivy", here);  // Administrator, nothing else
  auto ann = As("ann", there);
  EXPECT_EQ(Get(*ivy, "/admin/sessions").status, 200);
  EXPECT_TRUE(Has(Get(*ivy, "/MyOffice/").body, "data-menu=\"15\""));
  const std::string token = TokenOf(Get(*ann, "/admin/sessions").body);

  // Ann, on the other host, takes ivy's only role away.
  ASSERT_EQ(Post(*ann, "/admin/rights/person", {{"token", token}, {"id", "9"}})
                .status,
            302);
  EXPECT_EQ(Get(*ivy, "/admin/sessions").status, 403);
  EXPECT_EQ(Get(*ivy, "/admin/roles").status, 403);
  const std::string window = Get(*ivy, "/MyOffice/").body;
  EXPECT_FALSE(Has(window, "data-menu=\"15\"")) << window;
  EXPECT_TRUE(SignedIn(*ivy));
  if (InDatabase()) {
    // The same session on the other host.
    Browser same(there);
    same.SetCookie(kSession, ivy->Cookie(kSession));
    EXPECT_EQ(Get(same, "/admin/sessions").status, 403);
  }

  // Given back, the pages return without a new sign-in.
  ASSERT_EQ(Post(*ann, "/admin/rights/person",
                 {{"token", token}, {"id", "9"}, {"role", "1"}})
                .status,
            302);
  EXPECT_EQ(Get(*ivy, "/admin/sessions").status, 200);
  EXPECT_TRUE(Has(Get(*ivy, "/MyOffice/").body, "data-menu=\"15\""));

  // A change made by another program, straight into the tables.
  db_->Exec("DELETE FROM SYS_PersonRole WHERE PersonID = 9");
  EXPECT_EQ(Get(*ivy, "/admin/functions").status, 403);
}

INSTANTIATE_TEST_SUITE_P(
    Stores, OnlineSessionsTest,
    ::testing::Combine(::testing::ValuesIn(TestDatabases()),
                       ::testing::Values("memory", "db")),
    [](const ::testing::TestParamInfo<Param>& info) {
      return std::get<0>(info.param) + "_" + std::get<1>(info.param);
    });

// ----- Several hosts on one database, and what the database keeps

class SharedSessionsTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    spdlog::set_level(spdlog::level::warn);
    db_ = std::make_unique<TestDb>(GetParam(), /*demo=*/true);
  }
  void TearDown() override {
    hosts_.clear();
    spdlog::set_level(spdlog::level::info);
  }
  int StartHost() {
    HttpHostOptions options;
    options.log_requests = false;
    ConnectionFactory connections = db_->Connections();
    hosts_.push_back(std::make_unique<TestHost>(
        options, connections, web::AddOfficePages,
        MakeDatabaseSessionStore(connections, options.session_limits)));
    return hosts_.back()->port();
  }
  std::unique_ptr<Browser> As(const std::string& who, int port) {
    auto b = std::make_unique<Browser>(port);
    const Reply r = b->Post("/", Form({{"LoginName", who},
                                       {"LoginPwd", who + "123"},
                                       {"oldwin", "true"}}));
    EXPECT_EQ(r.status, 302) << who;
    return b;
  }

  std::unique_ptr<TestDb> db_;
  std::vector<std::unique_ptr<TestHost>> hosts_;
};

TEST_P(SharedSessionsTest, ASessionEndedOnOneHostIsRefusedOnTheOther) {
  const int one = StartHost();
  const int two = StartHost();
  auto ivy = As("ivy", one);
  auto ben = As("ben", two);
  Browser ben_on_one(one);
  ben_on_one.SetCookie(kSession, ben->Cookie(kSession));
  EXPECT_EQ(ben_on_one.Get("/MyOffice/").status, 200);

  // Host one lists the session host two made.
  const std::string list = ivy->Get("/admin/sessions").body;
  std::string key;
  for (const Listed& l : Rows(list)) {
    if (l.person == "2") key = l.key;
  }
  ASSERT_FALSE(key.empty()) << list;
  const Reply ended = ivy->Post("/admin/sessions/end",
                                Form({{"token", TokenOf(list)}, {"key", key}}));
  ASSERT_EQ(ended.status, 302);
  EXPECT_EQ(ben->Get("/MyOffice/").Header("Location"), "/");
  EXPECT_EQ(ben_on_one.Get("/MyOffice/").Header("Location"), "/");
  EXPECT_EQ(db_->Scalar("SELECT COUNT(*) FROM HR_Login WHERE personID = 2 AND "
                        "LoginOK = 1 AND loginOutTime IS NULL")
                .ToLong(),
            0);
}

TEST_P(SharedSessionsTest, TheDatabaseHoldsNoUsableIdentifier) {
  const int port = StartHost();
  auto ann = As("ann", port);
  const std::string id = ann->Cookie(kSession);
  ASSERT_EQ(id.size(), 64u);
  // Everything the table holds, as text.
  auto rs = db_->conn()->Open("SELECT * FROM SYS_OnlineSession",
                              CursorType::kForwardOnly);
  std::string dump;
  int rows = 0;
  for (; !rs->Eof(); rs->MoveNext(), ++rows) {
    for (int f = 0; f < rs->FieldCount(); ++f)
      dump += rs->Value(f).ToText() + "|";
  }
  rs->Close();
  EXPECT_EQ(rows, 1);
  EXPECT_FALSE(Has(dump, id)) << dump;
  EXPECT_TRUE(Has(dump, SessionKey(id)));
  // What is stored signs nobody in.
  Browser thief(port);
  thief.SetCookie(kSession, SessionKey(id));
  EXPECT_EQ(thief.Get("/MyOffice/").Header("Location"), "/");
  EXPECT_EQ(ann->Get("/MyOffice/").status, 200);
}

TEST_P(SharedSessionsTest, AnOldSessionTableDoesNotStopTheUpgrade) {
  db_->Exec("DROP TABLE SYS_OnlineSession");
  db_->Exec(
      "CREATE TABLE SYS_Session (SessionID TEXT PRIMARY KEY, Data TEXT NOT "
      "NULL, Created BIGINT NOT NULL, LastSeen BIGINT NOT NULL, Expires "
      "BIGINT NOT NULL)");
  db_->Exec("INSERT INTO SYS_Session VALUES ('" + std::string(64, 'a') +
            "', '[[\"PersonID\",{\"type\":\"long\",\"value\":1}]]', 1, 1, "
            "99999999999999999)");
  CreateSchema(*db_->conn());
  CreateSchema(*db_->conn());  // and again: nothing left to do
  EXPECT_EQ(db_->Scalar("SELECT COUNT(*) FROM SYS_OnlineSession").ToLong(), 0);
  EXPECT_THROW(db_->Scalar("SELECT COUNT(*) FROM SYS_Session"), Error);
  const int port = StartHost();
  Browser old(port);
  old.SetCookie(kSession, std::string(64, 'a'));
  EXPECT_EQ(old.Get("/MyOffice/").Header("Location"), "/");
  EXPECT_EQ(As("ann", port)->Get("/MyOffice/").status, 200);
}

INSTANTIATE_TEST_SUITE_P(Databases, SharedSessionsTest,
                         ::testing::ValuesIn(TestDatabases()));

}  // namespace
}  // namespace wrenhaven::testing
