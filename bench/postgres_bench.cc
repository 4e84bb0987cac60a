// The left menu and the menu-tree listing on PostgreSQL, where every
// statement is a round trip to the server, beside the same calls on SQLite.
// Each run reports the statements one call sends.
//
//   WRENHAVEN_TEST_POSTGRES=postgresql://... postgres_bench
//
// 300 menus in both cases. Left menu: 20 first-level menus with 10 children
// each and 80 menus a level further down under the first one's children,
// asked for the menus under menu 1 by a visitor with the roles 2,5,7 (every
// seventh menu is granted to another role only). Tree: 10 first-level menus,
// 90 below them and 200 a level further down, listed from the top.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "testing/test_db.h"
#include "wrenhaven/connection.h"
#include "wrenhaven/memory_page.h"
#include "wrenhaven/menu.h"

namespace wrenhaven {
namespace {

constexpr const char* kRoles = "2,5,7";
constexpr int kLeftParent = 1;

// Passes everything on to the real connection and counts the statements.
class CountingConnection : public Connection {
 public:
  explicit CountingConnection(std::shared_ptr<Connection> inner)
      : inner_(std::move(inner)) {}
  void Execute(std::string_view statement) override {
    ++statements;
    inner_->Execute(statement);
  }
  std::unique_ptr<Recordset> Open(std::string_view statement,
                                  CursorType cursor) override {
    ++statements;
    return inner_->Open(statement, cursor);
  }
  const Dialect& dialect() const override { return inner_->dialect(); }
  void Begin() override { inner_->Begin(); }
  void Commit() override { inner_->Commit(); }
  void Rollback() override { inner_->Rollback(); }
  int transaction_depth() const override {
    return inner_->transaction_depth();
  }

  long statements = 0;

 private:
  std::shared_ptr<Connection> inner_;
};

struct MenuRow {
  int id;
  int parent;  // 0: first level
};

// Orders run against the ids so siblings are not already in id order.
int Order(int id) { return (id * 7) % 13; }

std::vector<MenuRow> LeftMenus() {
  std::vector<MenuRow> menus;
  for (int top = 1; top <= 20; ++top) menus.push_back({top, 0});
  int id = 21;
  for (int top = 1; top <= 20; ++top) {
    for (int c = 0; c < 10; ++c, ++id) menus.push_back({id, top});
  }
  for (int child = 21; child <= 30; ++child) {
    for (int g = 0; g < 8; ++g, ++id) menus.push_back({id, child});
  }
  return menus;
}

std::vector<MenuRow> TreeMenus() {
  std::vector<MenuRow> menus;
  int id = 1;
  for (; id <= 10; ++id) menus.push_back({id, 0});
  for (int parent = 1; parent <= 10; ++parent) {
    for (int i = 0; i < 9; ++i, ++id) menus.push_back({id, parent});
  }
  for (int i = 0; i < 200; ++i, ++id) menus.push_back({id, 11 + i % 90});
  return menus;
}

// A test database of `kind` holding `menus`, functions 1..50 and grants,
// filled in a few multi-row statements.
std::unique_ptr<TestDb> Office(const std::string& kind,
                               const std::vector<MenuRow>& menus) {
  auto db = std::make_unique<TestDb>(kind);
  std::string funs, rows, grants;
  // Appends one parenthesised row of values to a VALUES list.
  auto add = [](std::string& list, std::initializer_list<std::string> values) {
    list += list.empty() ? "(" : ",(";
    bool first = true;
    for (const std::string& v : values) {
      if (!first) list += ',';
      list += v;
      first = false;
    }
    list += ')';
  };
  auto text = [](const std::string& v) { return "'" + v + "'"; };
  for (int f = 1; f <= 50; ++f) {
    const std::string id = std::to_string(f);
    add(funs, {id, text("f" + id), text("/apps/f" + id)});
  }
  auto grant = [&](int menu, int role) {
    add(grants, {std::to_string(menu), std::to_string(role)});
  };
  for (const MenuRow& m : menus) {
    const std::string id = std::to_string(m.id);
    // FunID 51..59 matches no function; every eleventh menu has none.
    add(rows,
        {id, m.id % 11 == 0 ? "NULL" : std::to_string(m.id % 60),
         m.parent == 0 ? "NULL" : std::to_string(m.parent), text("menu " + id),
         text("tip " + id), text("Menu " + id), text("Tip " + id),
         text("m" + id + ".gif"), std::to_string(Order(m.id))});
    if (m.id % 7 == 0) {
      grant(m.id, 9);
      continue;
    }
    grant(m.id, m.id % 3 == 0 ? 2 : m.id % 3 == 1 ? 5 : 7);
    if (m.id % 2 == 0 && m.id % 3 != 1) grant(m.id, 5);
  }
  db->Exec("INSERT INTO SYS_Function (FunID,FunName,FunUrl) VALUES " + funs);
  db->Exec(
      "INSERT INTO SYS_Menu (MenuID,FunID,MenuParentID,MenuName,MenuTip,"
      "MenuEnglish,MenuEnglishTip,MenuIcon,MenuOrder) VALUES " +
      rows);
  db->Exec("INSERT INTO SYS_right (menuID,roleID) VALUES " + grants);
  return db;
}

bool HaveServer() {
  const char* address = std::getenv("WRENHAVEN_TEST_POSTGRES");
  return address && *address;
}

void LeftMenu(benchmark::State& state, const std::string& kind) {
  if (kind == "postgresql" && !HaveServer()) {
    state.SkipWithError("WRENHAVEN_TEST_POSTGRES names no server");
    return;
  }
  const std::unique_ptr<TestDb> db = Office(kind, LeftMenus());
  auto conn = std::make_shared<CountingConnection>(db->conn());
  Menu menu;
  menu.SetConn(conn);
  auto page = std::make_shared<MemoryContext>();
  page->session_obj->Set("RoleID", Variant::String(kRoles));
  menu.OnStartPage(page);
  VariantArray left;
  for (auto _ : state) {
    left = menu.GetLeftMenu(kLeftParent);
    benchmark::DoNotOptimize(left.cells().data());
  }
  state.counters["statements"] =
      benchmark::Counter(static_cast<double>(conn->statements),
                         benchmark::Counter::kAvgIterations);
  state.counters["rows"] = static_cast<double>(left.UBound(1));
}

void MenuTree(benchmark::State& state, const std::string& kind) {
  if (kind == "postgresql" && !HaveServer()) {
    state.SkipWithError("WRENHAVEN_TEST_POSTGRES names no server");
    return;
  }
  const std::unique_ptr<TestDb> db = Office(kind, TreeMenus());
  auto conn = std::make_shared<CountingConnection>(db->conn());
  Menu menu;
  menu.SetConn(conn);
  VariantArray tree;
  for (auto _ : state) {
    tree = menu.GetAllData(0);
    benchmark::DoNotOptimize(tree.cells().data());
  }
  state.counters["statements"] =
      benchmark::Counter(static_cast<double>(conn->statements),
                         benchmark::Counter::kAvgIterations);
  state.counters["rows"] = static_cast<double>(tree.UBound(1));
}

void BM_LeftMenuPostgres(benchmark::State& s) { LeftMenu(s, "postgresql"); }
void BM_LeftMenuSqlite(benchmark::State& s) { LeftMenu(s, "sqlite"); }
void BM_MenuTreePostgres(benchmark::State& s) { MenuTree(s, "postgresql"); }
void BM_MenuTreeSqlite(benchmark::State& s) { MenuTree(s, "sqlite"); }
BENCHMARK(BM_LeftMenuPostgres)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LeftMenuSqlite)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MenuTreePostgres)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MenuTreeSqlite)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace wrenhaven

BENCHMARK_MAIN();
