// The audit trail: one row per audited change with the values before and
// after, written whole with its change or not at all, and the listing's
// statements, order, pages and filters on every database.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <initializer_list>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "frame/shapes.h"
#include "testing/faulty_connection.h"
#include "testing/recording_connection.h"
#include "testing/test_db.h"
#include "wrenhaven/audit.h"
#include "wrenhaven/error.h"
#include "wrenhaven/function.h"
#include "wrenhaven/menu.h"
#include "wrenhaven/role.h"
#include "wrenhaven/role_right.h"

namespace wrenhaven {
namespace {

using Json = nlohmann::json;

const AuditActor kAnn{Variant::Long(1), "10.0.0.8"};

// The classes a change is made with, all on one connection.
struct Classes {
  explicit Classes(std::shared_ptr<Connection> conn) {
    for (ClassBase* c : std::initializer_list<ClassBase*>{
             &trail, &menu, &function, &role, &rights}) {
      c->SetConn(conn);
    }
  }
  AuditTrail trail;
  Menu menu;
  Function function;
  Role role;
  RoleRight rights;
};

struct AuditRow {
  std::string person, account, address, kind, target;
  Json before, after;
};

Json Parsed(const Variant& v) {
  return v.is_null() || v.is_empty() ? Json(nullptr) : Json::parse(v.ToText());
}

// The newest row of the trail.
AuditRow Newest(const TestDb& db) {
  const VariantArray r =
      Query(*db.conn(),
            "Select PersonID,PersonAccount,ClientIP,AuditKind,AuditTarget,"
            "BeforeValue,AfterValue from SYS_Audit order by AuditID desc",
            CursorType::kForwardOnly, ReadFirstRecord);
  if (r.undimensioned()) return {};
  return {r(0).ToText(), r(1).ToText(), r(2).ToText(), r(3).ToText(),
          r(4).ToText(), Parsed(r(5)),  Parsed(r(6))};
}

int64_t Rows(const TestDb& db, const std::string& table) {
  return db.Scalar("select count(*) from " + table).ToLong();
}

class AuditTrailTest : public ::testing::TestWithParam<std::string> {};

TEST_P(AuditTrailTest, EachKindOfChangeLeavesOneRowWithItsValues) {
  TestDb db(GetParam(), /*demo=*/true);
  Classes c(db.conn());
  const auto s = [](const char* text) { return Variant::String(text); };
  auto audited = [&](AuditObject o, AuditAction a, const Variant& id,
                     const std::function<void()>& change) {
    c.trail.Audited(o, a, id, kAnn, change);
  };

  // Menus: the demo's last menu is 23, so the new one is 24.
  audited(AuditObject::kMenu, AuditAction::kAdd, Variant(), [&] {
    c.menu.AddData(s(""), s("15"), s("Audit"), s("tip"), s("Audit E"),
                   s("tip E"), s("a.gif"), s("8"));
  });
  AuditRow row = Newest(db);
  EXPECT_EQ(row.kind, "menu.add");
  EXPECT_EQ(row.target, "24");
  EXPECT_EQ(row.person, "1");
  EXPECT_EQ(row.account, "ann");
  EXPECT_EQ(row.address, "10.0.0.8");
  EXPECT_TRUE(row.before.is_null());
  EXPECT_EQ(row.after["MenuID"], 24);
  EXPECT_EQ(row.after["MenuName"], "Audit");
  EXPECT_EQ(row.after["MenuParentID"], 15);
  EXPECT_TRUE(row.after["FunID"].is_null());
  EXPECT_EQ(row.after["MenuOrder"], 8);
  EXPECT_EQ(row.after.size(), 9u);

  audited(AuditObject::kMenu, AuditAction::kUpdate, s("24"), [&] {
    c.menu.UpdateData(s("24"), s("3"), s("15"), s("Audit 2"), s("tip"),
                      s("Audit E"), s("tip E"), s("a.gif"), s("9"));
  });
  row = Newest(db);
  EXPECT_EQ(row.kind, "menu.update");
  EXPECT_EQ(row.target, "24");
  EXPECT_EQ(row.before["MenuName"], "Audit");
  EXPECT_TRUE(row.before["FunID"].is_null());
  EXPECT_EQ(row.after["MenuName"], "Audit 2");
  EXPECT_EQ(row.after["FunID"], 3);
  EXPECT_EQ(row.after["MenuOrder"], 9);

  audited(AuditObject::kMenu, AuditAction::kDelete, s("24"),
          [&] { c.menu.DelData(s("24")); });
  row = Newest(db);
  EXPECT_EQ(row.kind, "menu.delete");
  EXPECT_EQ(row.before["MenuName"], "Audit 2");
  EXPECT_TRUE(row.after.is_null());

  // Functions: the demo's last is 18.
  audited(AuditObject::kFunction, AuditAction::kAdd, Variant(), [&] {
    c.function.AddData(s("Reports"), s("It's new"), s("1"), s("2"), s("Office"),
                       s("/apps/reports"));
  });
  row = Newest(db);
  EXPECT_EQ(row.kind, "function.add");
  EXPECT_EQ(row.target, "19");
  EXPECT_EQ(row.after["FunMemo"], "It's new");
  EXPECT_EQ(row.after["FunUrl"], "/apps/reports");
  audited(AuditObject::kFunction, AuditAction::kUpdate, s("19"), [&] {
    c.function.UpdateData(s("19"), s("Reports"), s(""), s(""), s("3"),
                          s("Office"), s("/apps/reports2"));
  });
  row = Newest(db);
  EXPECT_EQ(row.kind, "function.update");
  EXPECT_EQ(row.before["FunType"], 1);
  EXPECT_TRUE(row.after["FunType"].is_null());
  EXPECT_EQ(row.after["FunUrl"], "/apps/reports2");
  audited(AuditObject::kFunction, AuditAction::kDelete, s("19"),
          [&] { c.function.DelData(s("19")); });
  row = Newest(db);
  EXPECT_EQ(row.kind, "function.delete");
  EXPECT_EQ(row.before["FunName"], "Reports");
  EXPECT_TRUE(row.after.is_null());

  // Roles: the demo's last is 5.
  audited(AuditObject::kRole, AuditAction::kAdd, Variant(), [&] {
    c.role.AddData(s("Auditor"), s("1"), s("2"), s("System"), s("Reads"));
  });
  row = Newest(db);
  EXPECT_EQ(row.kind, "role.add");
  EXPECT_EQ(row.target, "6");
  EXPECT_EQ(row.after["RoleName"], "Auditor");
  EXPECT_EQ(row.after["RoleParentID"], 1);
  audited(AuditObject::kRole, AuditAction::kUpdate, s("6"), [&] {
    c.role.UpdateData(s("6"), s("Auditors"), s("2"), s("2"), s("System"),
                      s(""));
  });
  row = Newest(db);
  EXPECT_EQ(row.kind, "role.update");
  EXPECT_EQ(row.before["RoleName"], "Auditor");
  EXPECT_EQ(row.after["RoleName"], "Auditors");
  EXPECT_EQ(row.after["RoleParentID"], 2);
  audited(AuditObject::kRole, AuditAction::kDelete, s("6"),
          [&] { c.role.DelData(s("6")); });
  row = Newest(db);
  EXPECT_EQ(row.kind, "role.delete");
  EXPECT_EQ(row.before["RoleName"], "Auditors");
  EXPECT_TRUE(row.after.is_null());

  // Grants of the Clerk role (3): menus 1, 2, 3, 5, 6, 7.
  const Json clerk = {{"roleID", 3}, {"menuIDs", {1, 2, 3, 5, 6, 7}}};
  audited(AuditObject::kGrant, AuditAction::kAdd, Variant::Long(3),
          [&] { c.rights.AddRoleMenu(3, 8); });
  row = Newest(db);
  EXPECT_EQ(row.kind, "grant.add");
  EXPECT_EQ(row.target, "3");
  EXPECT_EQ(row.before, clerk);
  EXPECT_EQ(row.after,
            Json({{"roleID", 3}, {"menuIDs", {1, 2, 3, 5, 6, 7, 8}}}));
  audited(AuditObject::kGrant, AuditAction::kDelete, Variant::Long(3),
          [&] { c.rights.DelRoleMenu(3, 8); });
  row = Newest(db);
  EXPECT_EQ(row.kind, "grant.delete");
  EXPECT_EQ(row.after, clerk);
  audited(AuditObject::kGrant, AuditAction::kUpdate, Variant::Long(3),
          [&] { c.rights.UpdateRoleMenus(3, s("2,1")); });
  row = Newest(db);
  EXPECT_EQ(row.kind, "grant.update");
  EXPECT_EQ(row.before, clerk);
  EXPECT_EQ(row.after, Json({{"roleID", 3}, {"menuIDs", {1, 2}}}));

  // Hal (8) holds no role.
  audited(AuditObject::kPersonRole, AuditAction::kAdd, Variant::Long(8),
          [&] { c.rights.AddPersonRole(8, 4); });
  row = Newest(db);
  EXPECT_EQ(row.kind, "person_role.add");
  EXPECT_EQ(row.target, "8");
  EXPECT_EQ(row.before, Json({{"PersonID", 8}, {"RoleIDs", Json::array()}}));
  EXPECT_EQ(row.after, Json({{"PersonID", 8}, {"RoleIDs", {4}}}));
  audited(AuditObject::kPersonRole, AuditAction::kUpdate, Variant::Long(8),
          [&] { c.rights.UpdatePersonRoles(8, s("5,2")); });
  row = Newest(db);
  EXPECT_EQ(row.kind, "person_role.update");
  EXPECT_EQ(row.after, Json({{"PersonID", 8}, {"RoleIDs", {2, 5}}}));
  audited(AuditObject::kPersonRole, AuditAction::kDelete, Variant::Long(8),
          [&] { c.rights.DelPersonRole(8, 5); });
  row = Newest(db);
  EXPECT_EQ(row.kind, "person_role.delete");
  EXPECT_EQ(row.before, Json({{"PersonID", 8}, {"RoleIDs", {2, 5}}}));
  EXPECT_EQ(row.after, Json({{"PersonID", 8}, {"RoleIDs", {2}}}));

  // One row per change, each stamped by the database's clock.
  EXPECT_EQ(Rows(db, "SYS_Audit"), 15);
  EXPECT_EQ(Rows(db, "SYS_Audit where AuditTime is null"), 0);
  EXPECT_EQ(Rows(db, "SYS_Audit where AuditTime < '2020-01-01'"), 0);
}

TEST_P(AuditTrailTest, ARowNamesNobodyWhenNoPersonIsSignedIn) {
  TestDb db(GetParam(), /*demo=*/true);
  Classes c(db.conn());
  c.trail.Audited(AuditObject::kGrant, AuditAction::kAdd, Variant::Long(2),
                  AuditActor{Variant(), ""},
                  [&] { c.rights.AddRoleMenu(2, 4); });
  const AuditRow row = Newest(db);
  EXPECT_EQ(row.person, "");
  EXPECT_EQ(row.account, "");
  EXPECT_EQ(row.address, "");
  EXPECT_EQ(row.kind, "grant.add");
}

// The whole state an audited change may touch.
std::string State(const TestDb& db) {
  std::string out;
  for (const char* q :
       {"Select * from SYS_Menu order by MenuID",
        "Select * from SYS_Function order by FunID",
        "Select * from SYS_Role order by RoleID",
        "Select * from SYS_right order by roleID, menuID",
        "Select * from SYS_PersonRole order by PersonID, RoleID",
        "Select * from SYS_Audit order by AuditID"}) {
    out += Query(*db.conn(), q, CursorType::kForwardOnly, ReadAllRows).Dump();
    out += "\n";
  }
  return out;
}

// Fails each operation of an audited change in turn: the change and its row
// are kept together or not at all.
TEST_P(AuditTrailTest, AFailedStatementLeavesNeitherTheChangeNorItsRow) {
  TestDb db(GetParam(), /*demo=*/true);
  const auto s = [](const char* text) { return Variant::String(text); };
  struct Case {
    AuditObject object;
    AuditAction action;
    Variant id;
    std::function<void(Classes&)> change;
  };
  const Case cases[] = {
      {AuditObject::kMenu, AuditAction::kAdd, Variant(),
       [&](Classes& c) {
         c.menu.AddData(s(""), s("1"), s("New"), s(""), s(""), s(""), s(""),
                        s("1"));
       }},
      {AuditObject::kFunction, AuditAction::kUpdate, s("4"),
       [&](Classes& c) {
         c.function.UpdateData(s("4"), s("Notices"), s("changed"), s("1"),
                               s("4"), s("Office"), s("/apps/notices"));
       }},
      {AuditObject::kRole, AuditAction::kDelete, s("5"),
       [&](Classes& c) { c.role.DelData(s("5")); }},
      {AuditObject::kGrant, AuditAction::kUpdate, Variant::Long(4),
       [&](Classes& c) { c.rights.UpdateRoleMenus(4, s("1,2,3")); }},
      {AuditObject::kPersonRole, AuditAction::kUpdate, Variant::Long(6),
       [&](Classes& c) { c.rights.UpdatePersonRoles(6, s("2")); }},
  };
  for (const Case& k : cases) {
    const std::string kind = AuditKind(k.object, k.action);
    const std::string before = State(db);
    // How many operations the change needs, counted on a run that is
    // rolled back.
    auto counter = std::make_shared<FaultyConnection>(db.conn(), 0);
    {
      Transaction outer(*db.conn());
      Classes c(counter);
      c.trail.Audited(k.object, k.action, k.id, kAnn, [&] { k.change(c); });
    }
    const int operations = counter->operations();
    ASSERT_GT(operations, 4) << kind;
    ASSERT_EQ(State(db), before) << kind;
    for (int n = 1; n <= operations; ++n) {
      auto faulty = std::make_shared<FaultyConnection>(db.conn(), n);
      Classes c(faulty);
      EXPECT_THROW(
          c.trail.Audited(k.object, k.action, k.id, kAnn, [&] { k.change(c); }),
          Error)
          << kind << ", operation " << n;
      EXPECT_EQ(db.conn()->transaction_depth(), 0) << kind << ", " << n;
      EXPECT_EQ(State(db), before) << kind << ", operation " << n;
    }
    Classes c(db.conn());
    c.trail.Audited(k.object, k.action, k.id, kAnn, [&] { k.change(c); });
    EXPECT_NE(State(db), before) << kind;
    EXPECT_EQ(Newest(db).kind, kind);
  }
  EXPECT_EQ(Rows(db, "SYS_Audit"), 5);
}

// A change that the class refuses leaves no row either.
TEST_P(AuditTrailTest, ARefusedChangeLeavesNoRow) {
  TestDb db(GetParam(), /*demo=*/true);
  Classes c(db.conn());
  EXPECT_THROW(c.trail.Audited(AuditObject::kMenu, AuditAction::kDelete,
                               Variant::String("x"), kAnn,
                               [&] { c.menu.DelData(Variant::String("x")); }),
               Error);
  EXPECT_EQ(c.trail.GetError(), "ID must be a number or empty, not \"x\"");
  EXPECT_THROW(
      c.trail.Audited(
          AuditObject::kMenu, AuditAction::kUpdate, Variant::String("2"), kAnn,
          [&] {
            c.menu.UpdateData(Variant::String("2"), Variant(), Variant(),
                              Variant::String("M"), Variant(), Variant(),
                              Variant(), Variant(), Variant::String("first"));
          }),
      Error);
  EXPECT_EQ(Rows(db, "SYS_Audit"), 0);
  EXPECT_EQ(db.Scalar("select MenuName from SYS_Menu where MenuID=2"),
            Variant::String("邮件"));
}

// Rows of the trail made directly: `n` rows, one a minute from 2026-01-01
// 00:00, persons 1 to 3 in turn, kinds menu.add, grant.update, role.delete
// in turn.
void AddRows(const TestDb& db, int n) {
  static const char* kKinds[] = {"menu.add", "grant.update", "role.delete"};
  for (int start = 0; start < n; start += 100) {
    std::string insert =
        "insert into SYS_Audit (AuditTime,PersonID,PersonAccount,ClientIP,"
        "AuditKind,AuditTarget,BeforeValue,AfterValue) values ";
    for (int i = start; i < std::min(n, start + 100); ++i) {
      char time[32];
      std::snprintf(time, sizeof time, "2026-01-%02d %02d:%02d:00",
                    1 + i / 1440, (i / 60) % 24, i % 60);
      insert += std::string(i == start ? "" : ",") + "('" + time + "'," +
                std::to_string(1 + i % 3) + ",'p" + std::to_string(1 + i % 3) +
                "','10.0.0.1','" + kKinds[i % 3] + "','" + std::to_string(i) +
                "',NULL,'{}')";
    }
    db.Exec(insert);
  }
}

// The targets of a page's rows, in order.
std::vector<int> Targets(const VariantArray& page) {
  std::vector<int> out;
  if (page.undimensioned()) return out;
  for (int32_t r = 0; r <= page.UBound(1); ++r) {
    out.push_back(page(r, 6).ToLong());
  }
  return out;
}

TEST_P(AuditTrailTest, TheListingIsNewestFirstPagedAndFiltered) {
  TestDb db(GetParam());
  AddRows(db, 3000);  // two days and a bit: 2026-01-01 to 2026-01-03 02:00
  auto tap = std::make_shared<TappedConnection>(db.conn());
  AuditTrail trail;
  trail.SetConn(tap);
  const auto s = [](const char* text) { return Variant::String(text); };
  const Variant none;

  // Page 1 of the default size: the 50 newest.
  VariantArray page = trail.GetPage(none, none, none, none, none, none);
  ASSERT_EQ(page.UBound(1), 49);
  EXPECT_EQ(page.UBound(2), 8);
  EXPECT_EQ(Targets(page).front(), 2999);
  EXPECT_EQ(Targets(page).back(), 2950);
  EXPECT_EQ(tap->sent.back(),
            "Select AuditID,AuditTime,PersonID,PersonAccount,ClientIP,"
            "AuditKind,AuditTarget,BeforeValue,AfterValue from SYS_Audit "
            "order by AuditID desc LIMIT 50 OFFSET 0");
  EXPECT_EQ(page(0, 1).kind(), Kind::kDate);
  EXPECT_EQ(page(0, 1).date().ToIso(), "2026-01-03 01:59:00");

  // A size past the largest page reads the largest page; page 3 of it.
  page = trail.GetPage(none, none, none, none, s("3"), s("100000"));
  ASSERT_EQ(page.UBound(1), kAuditMaxPageSize - 1);
  EXPECT_EQ(Targets(page).front(), 2999 - 2 * kAuditMaxPageSize);
  EXPECT_TRUE(trail.GetPage(none, none, none, none, s("1000"), s("10"))
                  .undimensioned());

  // Person 2, menu changes, on 2 January (both ends included).
  tap->sent.clear();
  page = trail.GetPage(s("2"), s("menu"), s("2026-01-02"), s("2026-01-02"),
                       s("1"), s("200"));
  EXPECT_EQ(tap->sent,
            std::vector<std::string>{
                "Select AuditID,AuditTime,PersonID,PersonAccount,ClientIP,"
                "AuditKind,AuditTarget,BeforeValue,AfterValue from SYS_Audit "
                "where PersonID=2 and AuditKind in "
                "('menu.add','menu.update','menu.delete') and "
                "AuditTime>='2026-01-02 00:00:00' and "
                "AuditTime<='2026-01-02 23:59:59' order by AuditID desc "
                "LIMIT 200 OFFSET 0"});
  // Rows 1440 to 2879 are that day; person 2 and menu.add never meet
  // (i % 3 == 1 against i % 3 == 0).
  EXPECT_TRUE(page.undimensioned());
  page = trail.GetPage(s("1"), s("menu.add"), s("2026-01-02"), s("2026-01-02"),
                       s("1"), s("200"));
  ASSERT_FALSE(page.undimensioned());
  EXPECT_EQ(Targets(page).front(), 2877);
  EXPECT_EQ(
      trail.GetCount(s("1"), s("menu.add"), s("2026-01-02"), s("2026-01-02")),
      Variant::Long(480));
  EXPECT_EQ(trail.GetCount(none, s("grant.update"), none, none),
            Variant::Long(1000));
  EXPECT_EQ(trail.GetCount(s("3"), none, none, none), Variant::Long(1000));
  // A range given to the minute.
  EXPECT_EQ(trail.GetCount(none, none, s("2026-01-01 00:10"),
                           s("2026-01-01 00:19:00")),
            Variant::Long(10));
  EXPECT_EQ(trail.GetCount(none, none, s("2026-01-03"), none),
            Variant::Long(120));
  EXPECT_EQ(trail.Count({}), 3000);
}

INSTANTIATE_TEST_SUITE_P(Databases, AuditTrailTest,
                         ::testing::ValuesIn(TestDatabases()));

TEST(AuditInputTest, BadFiltersAreRefusedBeforeAnyStatement) {
  auto conn = std::make_shared<RecordingConnection>();
  AuditTrail trail;
  trail.SetConn(conn);
  const auto s = [](std::string text) { return Variant::String(text); };
  const Variant none;
  const struct {
    Variant person, kind, from, to, page, size;
    std::string error;
  } cases[] = {
      {s("1 or 1=1"), none, none, none, none, none,
       "The person to filter by must be a PersonID (a whole number)"},
      {s("-1"), none, none, none, none, none,
       "The person to filter by must be a PersonID (a whole number)"},
      {none, s("menu.drop"), none, none, none, none,
       "The kind to filter by is none the audit trail records (menu, "
       "function, role, grant or person_role, alone or with .add, .update "
       "or .delete)"},
      {none, s("menu'--"), none, none, none, none,
       "The kind to filter by is none the audit trail records (menu, "
       "function, role, grant or person_role, alone or with .add, .update "
       "or .delete)"},
      {none, none, s("2026-13-01"), none, none, none,
       "The first time must be a date (YYYY-MM-DD) or a time (YYYY-MM-DD "
       "HH:MM:SS)"},
      {none, none, none, s("yesterday"), none, none,
       "The last time must be a date (YYYY-MM-DD) or a time (YYYY-MM-DD "
       "HH:MM:SS)"},
      {none, none, s("2026-02-02"), s("2026-02-01"), none, none,
       "The first time of the range comes after its last"},
      {none, none, none, none, s("0"), none,
       "The page must be a whole number from 1 to 1000000"},
      {none, none, none, none, s("2.5"), none,
       "The page must be a whole number from 1 to 1000000"},
      {none, none, none, none, none, s("0"),
       "The page size must be a whole number, 1 or more"},
      {s(std::string(65, '1')), none, none, none, none, none,
       "A filter of the audit trail is longer than 64 characters"},
  };
  for (const auto& c : cases) {
    EXPECT_THROW(trail.GetPage(c.person, c.kind, c.from, c.to, c.page, c.size),
                 Error)
        << c.error;
    EXPECT_EQ(trail.GetError(), c.error);
  }
  EXPECT_THROW(trail.Rows({}, 0, kAuditMaxPageSize + 1), Error);
  EXPECT_TRUE(conn->sent.empty());
}

TEST(AuditInputTest, AChangeByAPersonWhoIsNoNumberIsNeverMade) {
  auto conn = std::make_shared<RecordingConnection>();
  AuditTrail trail;
  trail.SetConn(conn);
  bool ran = false;
  EXPECT_THROW(trail.Audited(
                   AuditObject::kRole, AuditAction::kDelete, Variant::Long(2),
                   AuditActor{Variant::String("ann"), ""}, [&] { ran = true; }),
               Error);
  EXPECT_EQ(trail.GetError(),
            "The person who makes a change must be named by a PersonID");
  EXPECT_FALSE(ran);
  EXPECT_TRUE(conn->sent.empty());
}

// The exact statements of a change on the reference texts: the transaction
// around the values before, the change, the values after and the row.
TEST(AuditStatementTest, TheRowIsWrittenInTheChangesTransaction) {
  auto conn = std::make_shared<RecordingConnection>();
  AuditTrail trail;
  trail.SetConn(conn);
  conn->Queue({{"RoleID"}, {{Variant::Long(1)}}});
  conn->Queue({{"RoleID"}, {{Variant::Long(1)}, {Variant::Long(3)}}});
  trail.Audited(AuditObject::kPersonRole, AuditAction::kUpdate,
                Variant::String("7"), AuditActor{Variant::String("9"), "::1"},
                [&] { conn->Execute("the change"); });
  EXPECT_EQ(conn->sent,
            (std::vector<std::string>{
                "BEGIN TRANSACTION",
                "Select RoleID from SYS_PersonRole where PersonID=7 order by "
                "RoleID",
                "the change",
                "Select RoleID from SYS_PersonRole where PersonID=7 order by "
                "RoleID",
                "insert into SYS_Audit(PersonID,PersonAccount,ClientIP,"
                "AuditKind,AuditTarget,BeforeValue,AfterValue) values(9,"
                "coalesce((Select personAccount from HR_person where "
                "PersonID=9),''),'::1','person_role.update','7',"
                "'{\"PersonID\":7,\"RoleIDs\":[1]}',"
                "'{\"PersonID\":7,\"RoleIDs\":[1,3]}')",
                "COMMIT TRANSACTION"}));
}

TEST(AuditedMethodTest, TheClassesChangesAreKnownByName) {
  const auto menu_add = FindAuditedMethod("wrenhaven.menu", "adddata");
  ASSERT_TRUE(menu_add);
  EXPECT_EQ(menu_add->object, AuditObject::kMenu);
  EXPECT_EQ(menu_add->action, AuditAction::kAdd);
  EXPECT_EQ(menu_add->id_argument, -1);
  const auto grants = FindAuditedMethod("Wrenhaven.RoleRight", "DelRoleMenu");
  ASSERT_TRUE(grants);
  EXPECT_EQ(AuditKind(grants->object, grants->action), "grant.delete");
  EXPECT_EQ(grants->id_argument, 0);
  EXPECT_FALSE(FindAuditedMethod("Wrenhaven.Menu", "GetData"));
  EXPECT_FALSE(FindAuditedMethod("Wrenhaven.Login", "AddData"));
  EXPECT_FALSE(FindAuditedMethod("Wrenhaven.RoleRight", "MayUseFunction"));
}

}  // namespace
}  // namespace wrenhaven
