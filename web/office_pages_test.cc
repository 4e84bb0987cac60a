// The main window over HTTP on a real database: what it costs in
// statements whatever the size of the menu, and that a change of who may
// see what shows on the very next main window of every server.
#include "web/office_pages.h"

#include <gtest/gtest.h>
#include <spdlog/spdlog.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "testing/recording_connection.h"
#include "testing/test_db.h"
#include "tests/http/http_support.h"
#include "wrenhaven/http_host.h"
#include "wrenhaven/memory_page.h"
#include "wrenhaven/menu.h"

namespace wrenhaven::testing {
namespace {

constexpr char kRightsVersion[] =
    "SELECT Version FROM SYS_Version WHERE Name='rights'";

// Sessions set up by the test: a signed-in visitor without a sign-in.
class PresetSessions : public SessionStore {
 public:
  std::optional<Entry> Load(const std::string& id) override {
    std::lock_guard lock(mutex_);
    auto it = entries_.find(id);
    if (it == entries_.end()) return std::nullopt;
    return it->second;
  }
  void Save(const std::string& id, Entry entry) override {
    std::lock_guard lock(mutex_);
    entries_[id] = std::move(entry);
  }
  void Remove(const std::string& id) override {
    std::lock_guard lock(mutex_);
    entries_.erase(id);
  }

 private:
  std::mutex mutex_;
  std::map<std::string, Entry> entries_;
};

void AddMenu(const TestDb& db, int id, const std::string& parent,
             const std::string& name, int order) {
  db.Exec(
      "INSERT INTO SYS_Menu (MenuID,FunID,MenuParentID,MenuName,MenuTip,"
      "MenuEnglish,MenuEnglishTip,MenuIcon,MenuOrder) VALUES (" +
      std::to_string(id) + ",NULL," + parent + ",'" + name + "','" + name +
      " tip','','','list.gif'," + std::to_string(order) + ")");
}

void Grant(const TestDb& db, int menu, int role) {
  db.Exec("INSERT INTO SYS_right (menuID,roleID) VALUES (" +
          std::to_string(menu) + "," + std::to_string(role) + ")");
}

// Three first-level menus; under the first, 12 entries with 8 sub-entries
// each, granted to one of 20 roles each; menu 500 is granted to nobody.
void BigMenu(const TestDb& db) {
  for (int top = 1; top <= 3; ++top) {
    AddMenu(db, top, "NULL", "top" + std::to_string(top), top);
    Grant(db, top, top);
  }
  int id = 10;
  for (int c = 0; c < 12; ++c) {
    const int child = id++;
    AddMenu(db, child, "1", "child" + std::to_string(child), c);
    Grant(db, child, c + 1);
    for (int s = 0; s < 8; ++s, ++id) {
      AddMenu(db, id, std::to_string(child), "sub" + std::to_string(id), s);
      Grant(db, id, (id % 20) + 1);
    }
  }
  AddMenu(db, 500, "NULL", "hidden", 9);
  AddMenu(db, 501, "2", "later", 1);
  Grant(db, 501, 2);
}

std::string Roles20() {
  std::string roles;
  for (int r = 1; r <= 20; ++r) roles += (r > 1 ? "," : "") + std::to_string(r);
  return roles;
}

// A session id the host takes: 64 hex digits.
std::string SessionId(char digit) { return std::string(64, digit); }

// One server of the office: a host with its own menu cache, its
// connections tapped, and a signed-in visitor whose department is known.
struct Server {
  Server(const TestDb& db, char session_digit)
      : taps(db.Connections()), session(SessionId(session_digit)) {
    auto sessions = std::make_unique<PresetSessions>();
    SessionStore::Entry visitor;
    visitor.created = SessionClock::now();
    visitor.values = {{"PersonID", Variant::String("1")},
                      {"PersonName", Variant::String("Ann")},
                      {"DeptID", Variant::String("1")},
                      {"DeptNameOf", Variant::String("1")},
                      {"DeptName", Variant::String("Management")},
                      {"RoleID", Variant::String(Roles20())}};
    sessions->Save(session, visitor);
    HttpHostOptions options;
    options.port = 0;
    options.log_requests = false;
    options.workers = 4;
    host = std::make_unique<TestHost>(options, taps.Tapped(),
                                      web::AddOfficePages, std::move(sessions));
  }

  // The main window's body (the top entry `top` chosen, when given) and
  // the statements it cost.
  std::pair<std::string, std::vector<std::string>> MainWindow(
      const std::string& top = "", const httplib::Headers& headers = {}) {
    Browser b(host->port());
    b.SetCookie("WRENHAVEN_SESSION", session);
    const Reply r =
        b.Get(top.empty() ? "/MyOffice/" : "/MyOffice/?top=" + top, headers);
    EXPECT_EQ(r.status, 200) << r.body;
    return {r.body, taps.Sent()};
  }

  // A counter of the host's metrics.
  double Metric(const std::string& name) {
    const Reply r = Browser(host->port()).Get("/metrics");
    const size_t at = r.body.find("\n" + name + " ");
    EXPECT_NE(at, std::string::npos) << name << "\n" << r.body;
    return at == std::string::npos
               ? -1
               : std::stod(r.body.substr(at + name.size() + 2));
  }

  TappedConnections taps;
  std::string session;
  std::unique_ptr<TestHost> host;
};

bool Shows(const std::string& page, const std::string& caption) {
  return page.find(">" + caption + "<") != std::string::npos;
}

class MainWindowTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override { spdlog::set_level(spdlog::level::warn); }
  void TearDown() override { spdlog::set_level(spdlog::level::info); }
};

// 12 entries and 96 sub-entries: the rights version, the top menu and the
// whole left menu, then the version alone while nothing changes.
TEST_P(MainWindowTest, AtMostThreeStatementsWhateverTheSizeOfTheMenu) {
  TestDb db(GetParam());
  BigMenu(db);
  Server server(db, 'a');

  const struct {
    const char* top;
    size_t statements;
    const char* shown;  // a sub-entry of the chosen menu
  } visits[] = {
      {"", 3, "sub11"},   // nothing kept yet
      {"", 1, "sub11"},   // both menus kept
      {"1", 1, "sub11"},  // the same window asked for by name
      {"2", 2, "later"},  // another left menu: read once...
      {"2", 1, "later"},  // ...then kept
  };
  for (const auto& v : visits) {
    const auto [page, sent] = server.MainWindow(v.top);
    ASSERT_EQ(sent.size(), v.statements) << v.top << "\n" << page;
    EXPECT_EQ(sent.front(), kRightsVersion);
    EXPECT_TRUE(Shows(page, v.shown)) << v.top << "\n" << page;
  }
  // Every visible entry and sub-entry, with the sub-entries' own tips.
  const auto [page, sent] = server.MainWindow();
  EXPECT_TRUE(Shows(page, "top1") && Shows(page, "top2") &&
              Shows(page, "top3"));
  EXPECT_FALSE(Shows(page, "hidden"));
  for (int id = 10; id < 10 + 12 * 9; ++id) {
    const bool child = (id - 10) % 9 == 0;
    const std::string name = (child ? "child" : "sub") + std::to_string(id);
    EXPECT_TRUE(Shows(page, name)) << name;
  }
  EXPECT_NE(page.find("title=\"sub11 tip\""), std::string::npos) << page;
}

// The menus are drawn once per chosen top entry and language and then
// given out as drawn: the same page as a fresh drawing, never another
// window's or another language's.
TEST_P(MainWindowTest, DrawnMenusAreKeptPerChosenEntryAndLanguage) {
  TestDb db(GetParam());
  BigMenu(db);
  db.Exec("UPDATE SYS_Menu SET MenuEnglish='eleven' WHERE MenuID=11");
  Server server(db, 'd');
  const httplib::Headers english = {{"Accept-Language", "en"}};
  const httplib::Headers chinese = {{"Accept-Language", "zh-CN"}};
  const std::string local = server.MainWindow("", chinese).first;
  const std::string first = server.MainWindow("1", english).first;
  const std::string second = server.MainWindow("2", english).first;
  EXPECT_EQ(server.Metric("wrenhaven_menu_cache_drawn_misses_total"), 3);
  EXPECT_EQ(server.Metric("wrenhaven_menu_cache_drawn_hits_total"), 0);

  EXPECT_NE(local.find("<html lang=\"zh\">"), std::string::npos);
  EXPECT_NE(first.find("<html lang=\"en\">"), std::string::npos);
  EXPECT_NE(first.find("data-menu=\"1\" class=\"active\""), std::string::npos);
  EXPECT_TRUE(Shows(first, "eleven"));
  EXPECT_FALSE(Shows(first, "sub11"));
  EXPECT_TRUE(Shows(local, "sub11"));
  EXPECT_FALSE(Shows(local, "eleven"));
  EXPECT_NE(second.find("data-menu=\"2\" class=\"active\""), std::string::npos);
  EXPECT_TRUE(Shows(second, "later"));
  EXPECT_FALSE(Shows(second, "eleven"));

  // Kept: each comes back exactly as drawn, whatever was drawn between.
  EXPECT_EQ(server.MainWindow("1", english).first, first);
  EXPECT_EQ(server.MainWindow("2", english).first, second);
  EXPECT_EQ(server.MainWindow("", chinese).first, local);
  EXPECT_EQ(server.MainWindow("1", chinese).first, local);  // the same entry
  EXPECT_EQ(server.Metric("wrenhaven_menu_cache_drawn_hits_total"), 4);
  EXPECT_EQ(server.Metric("wrenhaven_menu_cache_drawn_misses_total"), 3);
}

// Two servers on one database, each with its menus kept: a change made
// elsewhere (straight into the tables, as another program would) and one
// made through the library on one server both show on the very next main
// window of both.
TEST_P(MainWindowTest, AChangeShowsOnTheNextMainWindowOfEveryServer) {
  TestDb db(GetParam());
  BigMenu(db);
  Server one(db, 'b');
  Server two(db, 'c');
  for (Server* s : {&one, &two}) {
    s->MainWindow();
    EXPECT_EQ(s->MainWindow().second.size(), 1u);  // kept
  }

  struct Change {
    const char* what;
    std::function<void()> make;
    const char* caption;
    bool shown;
  };
  const Change changes[] = {
      {"a grant of the hidden menu", [&] { Grant(db, 500, 7); }, "hidden",
       true},
      {"its grant taken back",
       [&] { db.Exec("DELETE FROM SYS_right WHERE menuID=500"); }, "hidden",
       false},
      {"a renamed sub-entry",
       [&] {
         db.Exec("UPDATE SYS_Menu SET MenuName='renamed' WHERE MenuID=11");
       },
       "renamed", true},
      {"a menu renamed through the library on this process",
       [&] {
         Menu menu;
         menu.SetConn(db.conn());
         const Variant none = Variant::String("");
         menu.UpdateData(Variant::Long(11), none, Variant::Long(10),
                         Variant::String("again"), none, none, none, none,
                         Variant::Long(1));
       },
       "again", true},
  };
  for (const Change& c : changes) {
    c.make();
    for (Server* s : {&one, &two}) {
      const auto [page, sent] = s->MainWindow();
      EXPECT_EQ(Shows(page, c.caption), c.shown) << c.what;
      EXPECT_LE(sent.size(), 3u) << c.what;
      // And kept again afterwards.
      EXPECT_EQ(s->MainWindow().second.size(), 1u) << c.what;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Databases, MainWindowTest,
                         ::testing::ValuesIn(TestDatabases()));

}  // namespace
}  // namespace wrenhaven::testing
