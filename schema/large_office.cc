#include "schema/large_office.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "schema/schema_internal.h"
#include "wrenhaven/dialect.h"
#include "wrenhaven/error.h"

namespace wrenhaven {
namespace {

constexpr int32_t kDepartments = 100;
constexpr int32_t kFunctions = 200;
constexpr int32_t kVisitorRoles = 20;
// The administration pages, as the demo office has them: functions after
// the office's own, and a first-level menu with one entry for each after
// the tree, granted to role 1 alone (person 1 holds it).
constexpr const char* kAdminPages[][2] = {
    {"Menus", "/admin/menus"},           {"Functions", "/admin/functions"},
    {"Roles", "/admin/roles"},           {"Login records", "/admin/logins"},
    {"Attendance", "/admin/attendance"}, {"Rights", "/admin/rights"},
};
constexpr int32_t kAdministration = 1 + std::size(kAdminPages);
// Rows per INSERT: long enough that parsing is a small part of the work,
// short enough to stay far below every database's statement limits.
constexpr int kBatch = 500;

void Check(bool ok, const std::string& what) {
  if (!ok) {
    Raise(ErrorCode::kInvalidArgument,
          "The large office cannot be built with " + what);
  }
}

// Collects VALUES rows and sends them in batches of kBatch.
class Inserter {
 public:
  Inserter(Connection& conn, std::string head, std::string what, int64_t* done,
           int64_t all, const LoadProgress* progress)
      : conn_(conn),
        head_(std::move(head)),
        what_(std::move(what)),
        done_(done),
        all_(all),
        progress_(progress) {}
  Inserter(const Inserter&) = delete;
  Inserter& operator=(const Inserter&) = delete;

  void Add(const std::string& values) {
    text_ += rows_ == 0 ? head_ : ",";
    text_ += values;
    if (++rows_ == kBatch) Flush();
  }

  void Flush() {
    if (rows_ == 0) return;
    conn_.Execute(text_);
    *done_ += rows_;
    rows_ = 0;
    text_.clear();
    if (progress_ != nullptr && *progress_) (*progress_)(what_, *done_, all_);
  }

 private:
  Connection& conn_;
  const std::string head_;
  const std::string what_;
  int64_t* done_;
  const int64_t all_;
  const LoadProgress* progress_;  // none when null or empty
  std::string text_;
  int rows_ = 0;
};

std::string Text(int64_t n) { return std::to_string(n); }

// The menu tree: every 100th menu (from 1) first-level, then 9
// second-level menus under each, each followed by its 10 third-level ones.
struct TreeMenu {
  int32_t id;
  int32_t parent;  // 0: first level
  int level;
  int32_t order;
};

std::vector<TreeMenu> Tree(int32_t menus) {
  std::vector<TreeMenu> tree;
  tree.reserve(static_cast<size_t>(menus));
  int32_t id = 1;
  int32_t top_order = 0;
  while (id <= menus) {
    const int32_t top = id++;
    tree.push_back({top, 0, 1, ++top_order});
    for (int32_t c = 1; c <= 9 && id <= menus; ++c) {
      const int32_t child = id++;
      tree.push_back({child, top, 2, c});
      for (int32_t s = 1; s <= 10 && id <= menus; ++s) {
        tree.push_back({id++, child, 3, s});
      }
    }
  }
  return tree;
}

// 'YYYY-MM-DD HH:MM:SS' of `day` at `seconds` after midnight.
std::string TimeText(std::chrono::sys_days day, int seconds) {
  const std::chrono::year_month_day ymd(day);
  char buf[48];
  std::snprintf(buf, sizeof buf, "'%04d-%02u-%02u %02d:%02d:%02d'",
                static_cast<int>(ymd.year()),
                static_cast<unsigned>(ymd.month()),
                static_cast<unsigned>(ymd.day()), seconds / 3600,
                seconds / 60 % 60, seconds % 60);
  return buf;
}

std::string Account(int32_t n) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "p%06d", n);
  return buf;
}

}  // namespace

std::string PersonValues(int32_t n, int32_t departments) {
  const std::string account = Account(n);
  return "(" + Text(n) + ",'" + account + "','" + account + "123','Person " +
         Text(n) + "'," + Text(n % departments + 1) + ",'" +
         (n % 50 == 0 ? "LEAD" : "STAFF") + "')";
}

void LoadLargeOffice(Connection& conn, const LargeOfficeSize& size,
                     const LoadProgress& progress) {
  Check(size.persons >= 1 && size.persons <= 1000000, "1 to 1,000,000 people");
  Check(size.menus >= 1 && size.menus <= 32767 - kAdministration,
        "1 to 32,760 menus");
  Check(size.roles >= 1 && size.roles <= 10000, "1 to 10,000 roles");
  Check(size.logins >= 0 && size.logins <= 100000000,
        "0 to 100,000,000 login records");
  Check(size.days >= 1 && size.days <= 36500, "a span of 1 to 36,500 days");

  const std::vector<TreeMenu> tree = Tree(size.menus);
  const int32_t visitor_roles = std::min(kVisitorRoles, size.roles);
  const int64_t all = kDepartments + size.persons + size.roles + kFunctions +
                      std::size(kAdminPages) + size.menus + kAdministration +
                      size.logins;
  int64_t done = 0;
  auto inserter = [&](std::string head, std::string what) {
    return std::make_unique<Inserter>(conn, std::move(head), std::move(what),
                                      &done, all, &progress);
  };

  // One transaction of a few hundred megabytes: on SQLite, a page cache
  // that holds it spares writing pages out to the log and reading them
  // back while the indexes grow (256 MiB at most, for this connection).
  if (conn.dialect().name() == "sqlite") {
    conn.Execute("PRAGMA cache_size=-262144");
  }
  Transaction transaction(conn);

  auto depts =
      inserter("INSERT INTO HR_Dept (DeptID, DeptName) VALUES ", "departments");
  for (int32_t d = 1; d <= kDepartments; ++d) {
    depts->Add("(" + Text(d) + ",'Department " + Text(d) + "')");
  }
  depts->Flush();

  auto people = inserter(
      "INSERT INTO HR_person (PersonID, personAccount, personPwd, "
      "PersonName, DeptID, PersonJobCode) VALUES ",
      "people");
  for (int32_t n = 1; n <= size.persons; ++n) {
    people->Add(PersonValues(n, kDepartments));
  }
  people->Flush();

  auto roles = inserter(
      "INSERT INTO SYS_Role (RoleID, RoleName, RoleParentID, RoleLevel, "
      "RoleClass, RoleMemo) VALUES ",
      "roles");
  for (int32_t r = 1; r <= size.roles; ++r) {
    roles->Add("(" + Text(r) + ",'Role " + Text(r) + "'," +
               (r <= 10 ? std::string("NULL") : Text((r - 1) % 10 + 1)) + ",'" +
               (r <= 10 ? "1" : "2") + "','Class " + Text(r % 8) +
               "','Large office role')");
  }
  roles->Flush();

  // Role assignments and grants count towards no total: they follow from
  // the rows above.
  int64_t unseen = 0;
  Inserter person_roles(conn,
                        "INSERT INTO SYS_PersonRole (PersonID, RoleID) VALUES ",
                        "roles of people", &unseen, all, nullptr);
  for (int32_t r = 1; r <= visitor_roles; ++r) {
    person_roles.Add("(1," + Text(r) + ")");
  }
  for (int32_t n = 2; n <= size.persons; ++n) {
    const int32_t first = (n - 1) % size.roles + 1;
    const int32_t second =
        static_cast<int32_t>((static_cast<int64_t>(n) * 7) % size.roles + 1);
    person_roles.Add("(" + Text(n) + "," + Text(first) + ")");
    if (n % 3 == 0 && second != first) {
      person_roles.Add("(" + Text(n) + "," + Text(second) + ")");
    }
  }
  person_roles.Flush();

  auto functions = inserter(
      "INSERT INTO SYS_Function (FunID, FunName, FunMemo, FunType, FunOrder, "
      "FunClass, FunUrl) VALUES ",
      "functions");
  for (int32_t f = 1; f <= kFunctions; ++f) {
    functions->Add("(" + Text(f) + ",'Function " + Text(f) + "','Page " +
                   Text(f) + "'," + Text(f % 9 + 1) + "," + Text(f % 20) +
                   ",'Class " + Text(f % 12) + "','/apps/f" + Text(f) + "')");
  }
  for (int32_t a = 0; a < static_cast<int32_t>(std::size(kAdminPages)); ++a) {
    functions->Add("(" + Text(kFunctions + 1 + a) + ",'" + kAdminPages[a][0] +
                   "','" + kAdminPages[a][0] + "',9," + Text(a + 1) +
                   ",'System','" + kAdminPages[a][1] + "')");
  }
  functions->Flush();

  auto menus = inserter(
      "INSERT INTO SYS_Menu (MenuID, FunID, MenuParentID, MenuName, MenuTip, "
      "MenuEnglish, MenuEnglishTip, MenuIcon, MenuOrder) VALUES ",
      "menus");
  static const char* const kIcons[] = {"mail.gif",      "calendar.gif",
                                       "documents.gif", "finance.gif",
                                       "projects.gif",  "list.gif"};
  for (const TreeMenu& m : tree) {
    const std::string id = Text(m.id);
    menus->Add(
        "(" + id + "," +
        (m.id % 11 == 0 ? std::string("NULL") : Text(m.id % kFunctions + 1)) +
        "," + (m.parent == 0 ? std::string("NULL") : Text(m.parent)) +
        ",'菜单 " + id + "','提示 " + id + "','Menu " + id + "','Tip " + id +
        "','" + kIcons[m.id % 6] + "'," + Text(m.order) + ")");
  }
  const int32_t admin_menu = size.menus + 1;
  menus->Add(
      "(" + Text(admin_menu) +
      ",NULL,NULL,'系统管理','系统维护','Administration','System "
      "upkeep','admin.gif'," +
      Text(std::count_if(tree.begin(), tree.end(),
                         [](const TreeMenu& m) { return m.level == 1; }) +
           1) +
      ")");
  for (int32_t a = 0; a < static_cast<int32_t>(std::size(kAdminPages)); ++a) {
    const std::string name = kAdminPages[a][0];
    menus->Add("(" + Text(admin_menu + 1 + a) + "," + Text(kFunctions + 1 + a) +
               "," + Text(admin_menu) + ",'" + name + "','" + name + "','" +
               name + "','" + name + "','admin.gif'," + Text(a + 1) + ")");
  }
  menus->Flush();

  Inserter rights(conn, "INSERT INTO SYS_right (menuID, roleID) VALUES ",
                  "grants", &unseen, all, nullptr);
  for (const TreeMenu& m : tree) {
    for (int32_t r = 1; r <= size.roles; ++r) {
      if (m.level == 3 && (m.id + r) % 10 != 0) continue;
      rights.Add("(" + Text(m.id) + "," + Text(r) + ")");
    }
  }
  for (int32_t m = admin_menu; m < admin_menu + kAdministration; ++m) {
    rights.Add("(" + Text(m) + ",1)");
  }
  rights.Flush();

  // On SQLite the triggers that count each record into the kept tables
  // are left out while the records are written (the tables are empty, as
  // are the records).
  const bool sqlite = conn.dialect().name() == "sqlite";
  const KeptFromRecords& kept = SqliteKeptFromRecords();
  if (sqlite) {
    for (std::string_view name : kept.trigger_names) {
      conn.Execute("DROP TRIGGER " + std::string(name));
    }
  }
  // The records: in time order over the span, between 07:00 and 19:00, at
  // random people; the same office every time.
  auto logins = inserter(
      "INSERT INTO HR_Login (personID, LoginAccount, LoginPwd, LoginOK, "
      "LoginIP, LoginMemo, LoginScreen, loginTime, loginOutTime) VALUES ",
      "login records");
  std::mt19937 random(20031105);
  std::uniform_int_distribution<int32_t> person(1, size.persons);
  std::uniform_int_distribution<int> second(7 * 3600, 19 * 3600 - 1);
  const std::chrono::sys_days today =
      std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now());
  const std::chrono::sys_days first = today - std::chrono::days(size.days - 1);
  for (int64_t i = 0; i < size.logins; ++i) {
    const auto day =
        first +
        std::chrono::days(i * size.days / std::max<int64_t>(size.logins, 1));
    const int32_t who = person(random);
    const int at = second(random);
    const std::string ip = "'10." + Text(who / 65536 % 256) + "." +
                           Text(who / 256 % 256) + "." + Text(who % 256) + "'";
    if (i % 25 == 24) {
      logins->Add("(NULL,'" + Account(who) + "','wrong',0," + ip +
                  ",'Mozilla/5.0','1920*1080'," + TimeText(day, at) + ",NULL)");
      continue;
    }
    const bool out = i % 3 == 0;
    logins->Add("(" + Text(who) + ",'" + Account(who) + "','******',1," + ip +
                ",'Mozilla/5.0','1920*1080'," + TimeText(day, at) + "," +
                (out ? TimeText(day, std::min(at + 4 * 3600, 86399))
                     : std::string("NULL")) +
                ")");
  }
  logins->Flush();
  if (sqlite) {
    // The kept tables from all the records at once, then the triggers
    // back for the records written after the load.
    for (std::string_view fill : kept.fills) conn.Execute(fill);
    for (std::string_view trigger : kept.insert_triggers) conn.Execute(trigger);
  }

  transaction.Commit();

  // Fresh statistics for the planner, and on PostgreSQL the visibility map
  // that lets the summary of sign-ins read its index alone.
  if (conn.dialect().name() == "postgresql") {
    conn.Execute(
        "VACUUM ANALYZE HR_Login, HR_person, HR_Dept, SYS_PersonRole, "
        "SYS_Role, SYS_Menu, SYS_Function, SYS_right");
  }
}

}  // namespace wrenhaven
