// The menus a visitor sees and the menu-tree listing, each beside one
// recursive query that reads the same rows straight through sqlite3.
//
//   menu_bench --benchmark_min_time=2
//
// Visitor menus: 300 menus, 20 first-level menus with 10 children each and
// 80 third-level menus under the first one's children; a visitor with the
// roles 2,5,7 (every seventh menu is granted to another role only, and many
// are granted to two of the visitor's roles). Tree: 2,000 menus on four
// levels (10, 90, 450, 1,450).
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "wrenhaven/connection.h"
#include "wrenhaven/memory_page.h"
#include "wrenhaven/menu.h"
#include "wrenhaven/schema.h"
#include "wrenhaven/sqlite.h"

namespace wrenhaven {
namespace {

constexpr const char* kRoles = "2,5,7";
constexpr int kLeftParent = 1;

std::string TempPath() {
  const char* dir = std::getenv("TMPDIR");
  std::string pattern =
      std::string(dir ? dir : "/tmp") + "/wrenhaven-menu-bench-XXXXXX";
  const int fd = mkstemp(pattern.data());
  if (fd < 0) throw std::runtime_error("cannot create a temporary file");
  close(fd);
  return pattern;
}

struct MenuRow {
  int id;
  int parent;  // 0: first level
  int order;
};

// A database file holding `menus`, functions 1..50, and grants.
class BenchDb {
 public:
  explicit BenchDb(const std::vector<MenuRow>& menus) : path_(TempPath()) {
    conn_ = OpenSqlite(path_);
    CreateSchema(*conn_);
    conn_->Begin();
    for (int f = 1; f <= 50; ++f) {
      conn_->Execute(
          "INSERT INTO SYS_Function (FunID,FunName,FunUrl) VALUES (" +
          std::to_string(f) + ",'f" + std::to_string(f) + "','/apps/f" +
          std::to_string(f) + "')");
    }
    for (const MenuRow& m : menus) {
      const std::string id = std::to_string(m.id);
      // FunID 51..59 matches no function; every eleventh menu has none.
      const std::string fun =
          m.id % 11 == 0 ? "NULL" : std::to_string(m.id % 60);
      conn_->Execute(
          "INSERT INTO SYS_Menu (MenuID,FunID,MenuParentID,MenuName,MenuTip,"
          "MenuEnglish,MenuEnglishTip,MenuIcon,MenuOrder) VALUES (" +
          id + "," + fun + "," +
          (m.parent == 0 ? std::string("NULL") : std::to_string(m.parent)) +
          ",'menu " + id + "','tip " + id + "','Menu " + id + "','Tip " + id +
          "','m" + id + ".gif'," + std::to_string(m.order) + ")");
      if (m.id % 7 == 0) {
        Grant(m.id, 9);
        continue;
      }
      Grant(m.id, m.id % 3 == 0 ? 2 : m.id % 3 == 1 ? 5 : 7);
      if (m.id % 2 == 0 && m.id % 3 != 1) Grant(m.id, 5);
    }
    conn_->Commit();
    if (sqlite3_open_v2(path_.c_str(), &raw_, SQLITE_OPEN_READONLY, nullptr) !=
        SQLITE_OK) {
      throw std::runtime_error("cannot open " + path_);
    }
  }
  ~BenchDb() {
    sqlite3_close_v2(raw_);
    conn_.reset();
    for (const char* suffix : {"", "-wal", "-shm"}) {
      std::remove((path_ + suffix).c_str());
    }
  }

  const std::shared_ptr<Connection>& conn() const { return conn_; }

  // Prepares, reads every column of every row, finalises: what one call of
  // a class does with one statement, without the class around it. Returns
  // the first column of each row.
  std::vector<int> ReadAll(const std::string& sql) const {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(raw_, sql.c_str(), -1, &stmt, nullptr) !=
        SQLITE_OK) {
      throw std::runtime_error(sqlite3_errmsg(raw_));
    }
    std::vector<std::string> cells;
    std::vector<int> ids;
    const int n = sqlite3_column_count(stmt);
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
      for (int i = 0; i < n; ++i) {
        const unsigned char* text = sqlite3_column_text(stmt, i);
        cells.emplace_back(text ? reinterpret_cast<const char*>(text) : "");
      }
      ids.push_back(sqlite3_column_int(stmt, 0));
    }
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(raw_));
    benchmark::DoNotOptimize(cells.data());
    return ids;
  }

 private:
  void Grant(int menu, int role) {
    conn_->Execute("INSERT INTO SYS_right (menuID,roleID) VALUES (" +
                   std::to_string(menu) + "," + std::to_string(role) + ")");
  }

  std::string path_;
  std::shared_ptr<Connection> conn_;
  sqlite3* raw_ = nullptr;
};

// Orders run against the ids so siblings are not already in id order.
int Order(int id) { return (id * 7) % 13; }

std::vector<MenuRow> VisitorMenus() {
  std::vector<MenuRow> menus;
  for (int top = 1; top <= 20; ++top) menus.push_back({top, 0, Order(top)});
  int id = 21;
  for (int top = 1; top <= 20; ++top) {
    for (int c = 0; c < 10; ++c, ++id) menus.push_back({id, top, Order(id)});
  }
  for (int child = 21; child <= 30; ++child) {
    for (int g = 0; g < 8; ++g, ++id) menus.push_back({id, child, Order(id)});
  }
  return menus;
}

std::vector<MenuRow> TreeMenus() {
  std::vector<MenuRow> menus;
  int id = 1;
  std::vector<int> level1, level2, level3;
  for (int i = 0; i < 10; ++i, ++id) {
    menus.push_back({id, 0, Order(id)});
    level1.push_back(id);
  }
  for (int parent : level1) {
    for (int i = 0; i < 9; ++i, ++id) {
      menus.push_back({id, parent, Order(id)});
      level2.push_back(id);
    }
  }
  for (int parent : level2) {
    for (int i = 0; i < 5; ++i, ++id) {
      menus.push_back({id, parent, Order(id)});
      level3.push_back(id);
    }
  }
  for (int i = 0; i < 1450; ++i, ++id) {
    menus.push_back(
        {id, level3[static_cast<size_t>(i) % level3.size()], Order(id)});
  }
  return menus;
}

// Built on first use, removed at exit.
const BenchDb& VisitorDb() {
  static const BenchDb db(VisitorMenus());
  return db;
}

const BenchDb& TreeDb() {
  static const BenchDb db(TreeMenus());
  return db;
}

// The top menu and the left menu under menu 1, in one walk: first-level
// rows, then the children of menu 1 and their children, depth first.
std::string VisitorQuery() {
  const std::string cols =
      "m.MenuID,m.MenuName,m.MenuIcon,f.FunUrl,m.MenuParentID,m.MenuTip,"
      "m.MenuEnglish,m.MenuEnglishTip";
  const std::string visible = std::string(
                                  "m.MenuID IN (SELECT menuID FROM SYS_right "
                                  "WHERE roleID IN (") +
                              kRoles + "))";
  return "WITH RECURSIVE walk(MenuID,MenuName,MenuIcon,FunUrl,MenuParentID,"
         "MenuTip,MenuEnglish,MenuEnglishTip,depth,sortkey) AS (SELECT " +
         cols +
         ",0,printf('%08d.%08d',m.MenuOrder,m.MenuID) FROM SYS_Menu m "
         "LEFT JOIN SYS_Function f ON m.FunID=f.FunID WHERE m.MenuParentID IS "
         "NULL AND " +
         visible + " UNION ALL SELECT " + cols +
         ",w.depth+1,w.sortkey||'/'||printf('%08d.%08d',m.MenuOrder,m.MenuID) "
         "FROM walk w JOIN SYS_Menu m ON m.MenuParentID=w.MenuID LEFT JOIN "
         "SYS_Function f ON m.FunID=f.FunID WHERE " +
         visible +
         " AND ((w.depth=0 AND w.MenuID=" + std::to_string(kLeftParent) +
         ") OR w.depth=1)) SELECT MenuID,MenuName,MenuIcon,FunUrl,MenuParentID,"
         "MenuTip,MenuEnglish,MenuEnglishTip FROM walk ORDER BY sortkey";
}

std::string TreeQuery() {
  return "WITH RECURSIVE walk(MenuID,FunID,MenuParentID,MenuName,MenuTip,"
         "MenuEnglish,MenuEnglishTip,MenuIcon,MenuOrder,sortkey) AS (SELECT "
         "MenuID,FunID,MenuParentID,MenuName,MenuTip,MenuEnglish,"
         "MenuEnglishTip,MenuIcon,MenuOrder,printf('%08d.%08d',MenuOrder,"
         "MenuID) FROM SYS_Menu WHERE MenuParentID IS NULL UNION ALL SELECT "
         "m.MenuID,m.FunID,m.MenuParentID,m.MenuName,m.MenuTip,m.MenuEnglish,"
         "m.MenuEnglishTip,m.MenuIcon,m.MenuOrder,w.sortkey||'/'||printf("
         "'%08d.%08d',m.MenuOrder,m.MenuID) FROM SYS_Menu m JOIN walk w ON "
         "m.MenuParentID=w.MenuID) SELECT MenuID,FunID,MenuParentID,MenuName,"
         "MenuTip,MenuEnglish,MenuEnglishTip,MenuIcon,MenuOrder FROM walk "
         "ORDER BY sortkey";
}

std::shared_ptr<Menu> VisitorMenu(const BenchDb& db) {
  auto menu = std::make_shared<Menu>();
  menu->SetConn(db.conn());
  auto page = std::make_shared<MemoryContext>();
  page->session_obj->Set("RoleID", Variant::String(kRoles));
  menu->OnStartPage(page);
  return menu;
}

void BM_VisitorMenus(benchmark::State& state) {
  const BenchDb& db = VisitorDb();
  auto menu = VisitorMenu(db);
  VariantArray top, left;
  for (auto _ : state) {
    top = menu->GetTopMenu();
    left = menu->GetLeftMenu(kLeftParent);
    benchmark::DoNotOptimize(left.cells().data());
  }
  // The same menus as the query, which walks them in another order.
  std::vector<int> ids;
  for (int32_t r = 0; r <= top.UBound(1); ++r)
    ids.push_back(top(r, 0).ToLong());
  for (int32_t r = 0; r < left.UBound(1); ++r)
    ids.push_back(left(r, 0).ToLong());
  std::vector<int> expected = db.ReadAll(VisitorQuery());
  std::sort(ids.begin(), ids.end());
  std::sort(expected.begin(), expected.end());
  if (ids != expected) {
    state.SkipWithError("the menus and the query read different rows");
  }
  state.counters["rows"] = static_cast<double>(ids.size());
}
BENCHMARK(BM_VisitorMenus)->Unit(benchmark::kMicrosecond);

void BM_VisitorMenusOneQuery(benchmark::State& state) {
  const BenchDb& db = VisitorDb();
  const std::string sql = VisitorQuery();
  size_t rows = 0;
  for (auto _ : state) rows = db.ReadAll(sql).size();
  state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_VisitorMenusOneQuery)->Unit(benchmark::kMicrosecond);

void BM_MenuTree(benchmark::State& state) {
  const BenchDb& db = TreeDb();
  Menu menu;
  menu.SetConn(db.conn());
  VariantArray tree;
  for (auto _ : state) {
    tree = menu.GetAllData(0);
    benchmark::DoNotOptimize(tree.cells().data());
  }
  // The same menus in the same order as the query.
  std::vector<int> ids;
  for (int32_t r = 1; r <= tree.UBound(1); ++r)
    ids.push_back(tree(r, 0).ToLong());
  if (ids != db.ReadAll(TreeQuery())) {
    state.SkipWithError("the listing and the query read different rows");
  }
  state.counters["rows"] = static_cast<double>(ids.size());
}
BENCHMARK(BM_MenuTree)->Unit(benchmark::kMicrosecond);

void BM_MenuTreeOneQuery(benchmark::State& state) {
  const BenchDb& db = TreeDb();
  const std::string sql = TreeQuery();
  size_t rows = 0;
  for (auto _ : state) rows = db.ReadAll(sql).size();
  state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_MenuTreeOneQuery)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace wrenhaven

BENCHMARK_MAIN();
