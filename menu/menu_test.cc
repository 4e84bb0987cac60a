#include "wrenhaven/menu.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "testing/recording_connection.h"
#include "testing/test_db.h"
#include "wrenhaven/component.h"
#include "wrenhaven/error.h"
#include "wrenhaven/memory_page.h"

namespace wrenhaven {
namespace {

// ---- building menus and reading results ------------------------------------

// A cell as a page would print it, with Empty and Null told apart.
std::string Show(const Variant& v) {
  if (v.is_empty()) return "<>";
  if (v.is_null()) return "Null";
  return v.ToText();
}

// Row `r` of a two-dimensional result, cells joined by "|".
std::string Row(const VariantArray& a, int32_t r) {
  std::string out;
  for (int32_t f = a.LBound(2); f <= a.UBound(2); ++f) {
    if (f > a.LBound(2)) out += "|";
    out += Show(a(r, f));
  }
  return out;
}

// The cells of a one-dimensional result, joined by "|".
std::string Cells(const VariantArray& a) {
  std::string out;
  for (int32_t f = a.LBound(1); f <= a.UBound(1); ++f)
    out += (f > a.LBound(1) ? "|" : "") + Show(a(f));
  return out;
}

std::string Lower(std::string text) {
  for (char& c : text)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Bounds(const VariantArray& a) {
  std::string out = "(";
  for (int d = 1; d <= a.dimensions(); ++d) {
    if (d > 1) out += ", ";
    out += std::to_string(a.LBound(d)) + " To " + std::to_string(a.UBound(d));
  }
  return out + ")";
}

// Column 0 of rows `from` to the last, joined by ",".
std::string Ids(const VariantArray& a, int32_t from = 0) {
  std::string out;
  for (int32_t r = from; r <= a.UBound(1); ++r) {
    if (r > from) out += ",";
    out += Show(a(r, 0));
  }
  return out;
}

// The entries of a left menu: column 0 of every row but the last.
std::string Entries(const VariantArray& left) {
  std::string out;
  for (int32_t r = 0; r < left.UBound(1); ++r) {
    if (r > 0) out += ",";
    out += Show(left(r, 0));
  }
  return out;
}

struct Page {
  std::shared_ptr<Menu> menu = std::make_shared<Menu>();
  std::shared_ptr<MemoryContext> context = std::make_shared<MemoryContext>();
};

// A Menu on `conn` whose page's session holds "RoleID" = `roles`.
Page Visitor(std::shared_ptr<Connection> conn, const Variant& roles) {
  Page p;
  p.context->session_obj->Set("RoleID", roles);
  p.menu->OnStartPage(p.context);
  p.menu->SetConn(std::move(conn));
  return p;
}

// A menu row; `parent` and `fun` are SQL literals ("NULL" or a number).
void AddMenu(const TestDb& db, int id, const std::string& parent,
             const std::string& name, const std::string& order,
             const std::string& fun = "NULL") {
  db.Exec(
      "INSERT INTO SYS_Menu (MenuID,FunID,MenuParentID,MenuName,MenuTip,"
      "MenuEnglish,MenuEnglishTip,MenuIcon,MenuOrder) VALUES (" +
      std::to_string(id) + "," + fun + "," + parent + ",'" + name + "','" +
      name + " tip','" + name + " en','" + name + " en tip','" + name +
      ".gif'," + order + ")");
}

void Grant(const TestDb& db, int menu, int role) {
  db.Exec("INSERT INTO SYS_right (menuID,roleID) VALUES (" +
          std::to_string(menu) + "," + std::to_string(role) + ")");
}

void AddFunction(const TestDb& db, int id, const std::string& url) {
  db.Exec("INSERT INTO SYS_Function (FunID,FunName,FunUrl) VALUES (" +
          std::to_string(id) + ",'f','" + url + "')");
}

// ---- the interface and the reference statement texts ----------------------

TEST(MenuInterfaceTest, PageObjectsAndConnectionAreRequired) {
  Menu menu;
  EXPECT_THROW(menu.GetLeftMenu(1), Error);  // no OnStartPage
  EXPECT_NE(menu.GetError().find("session"), std::string::npos);
  auto conn = std::make_shared<RecordingConnection>();
  Page p = Visitor(nullptr, Variant::String("2"));
  EXPECT_THROW(p.menu->GetTopMenu(), Error);  // no SetConn
  EXPECT_NE(p.menu->GetError().find("connection"), std::string::npos);
  EXPECT_THROW(p.menu->GetAllData(0), Error);
  p.menu->SetConn(conn);
  p.menu->OnEndPage();
  EXPECT_THROW(p.menu->GetTopMenu(), Error);  // the session was released
  EXPECT_TRUE(conn->sent.empty());
  // The upkeep needs no page objects.
  EXPECT_EQ(p.menu->GetData(1).Dump(), "()");
  EXPECT_EQ(conn->sent.size(), 1u);
}

// The reference texts, each value joined in its place: the visitor's role
// list, identifiers past 16 bits, null for every empty bare value.
TEST(MenuStatementTest, EachCallSendsItsReferenceText) {
  auto conn = std::make_shared<RecordingConnection>();
  Page p = Visitor(conn, Variant::String("2,5"));
  Menu& menu = *p.menu;
  EXPECT_EQ(menu.GetTopMenu().Dump(), "()");
  p.context->session_obj->Set("RoleID", Variant::Long(11));
  menu.GetTopMenu();
  conn->Queue({{"MenuID", "MenuName"}, {}});
  EXPECT_EQ(menu.GetAllData(-3).Dump(), "(0 To 0, 0 To 1) [MenuID] [MenuName]");
  menu.GetAllData(0);
  menu.GetData(40000);
  const Variant mail = Variant::String("Mail");
  const Variant inbox = Variant::String("Inbox");
  const Variant icon = Variant::String("mail.gif");
  const Variant none = Variant::String("");
  EXPECT_TRUE(menu.AddData(Variant::Long(7), Variant::Long(4), mail, inbox,
                           mail, inbox, icon, Variant::Long(3)));
  menu.AddData(none, Variant(), mail, inbox, mail, inbox, icon,
               Variant::Long(3));
  menu.AddData(none, Variant::String("4"), mail, inbox, mail, inbox, icon,
               Variant());
  menu.AddData(Variant::Long(7), Variant::Null(), mail, Variant::Null(), mail,
               inbox, icon, none);
  EXPECT_TRUE(menu.UpdateData(Variant::Long(5), none, none, none, none, none,
                              none, none, Variant::Long(2)));
  menu.UpdateData(Variant::String("5"), Variant::Long(7), Variant::Long(4),
                  mail, none, none, none, none, Variant());
  EXPECT_TRUE(menu.DelData(Variant::Long(5)));

  const std::string top =
      "Select menuID,menuName,menuIcon,FunUrl,MenuTip,MenuEnglish,"
      "MenuEnglishTip From SYS_Menu,SYS_Function  where  "
      "SYS_Menu.FunID*=SYS_Function.FunID  and menuParentID is null and "
      "menuID in (select menuID from SYS_right where roleID in (";
  const std::string insert =
      "Insert into SYS_Menu (FunID,MenuParentID,MenuName,MenuTip,MenuEnglish,"
      "MenuEnglishTip,MenuIcon,MenuOrder) values(";
  EXPECT_EQ(
      conn->sent,
      (std::vector<std::string>{
          top + "2,5))order by menuOrder",
          top + "11))order by menuOrder",
          "Select * from SYS_Menu where MenuParentID=-3 order by menuorder",
          "Select * from SYS_Menu where MenuParentID IS NULL  order by "
          "menuorder",
          "Select * From SYS_Menu Where MenuID=40000",
          insert + "7,4,'Mail','Inbox','Mail','Inbox','mail.gif','3')",
          insert + "null,null,'Mail','Inbox','Mail','Inbox','mail.gif','3')",
          insert + "null,4,'Mail','Inbox','Mail','Inbox','mail.gif','')",
          insert + "7,null,'Mail','','Mail','Inbox','mail.gif','')",
          "update SYS_Menu set FunID=null,MenuParentID=null,MenuName='',"
          "MenuTip='',MenuEnglish='',MenuEnglishTip='',MenuIcon='',"
          "MenuOrder=2 where MenuID=5",
          "update SYS_Menu set FunID=7,MenuParentID=4,MenuName='Mail',"
          "MenuTip='',MenuEnglish='',MenuEnglishTip='',MenuIcon='',"
          "MenuOrder= null where MenuID=5",
          "Delete from SYS_Menu where MenuID=5",
      }));
  EXPECT_EQ(conn->cursors, std::vector<CursorType>(5, CursorType::kStatic));
}

TEST(MenuStatementTest, LeftMenuReadsChildrenThenAllTheirChildrenAtOnce) {
  auto conn = std::make_shared<RecordingConnection>();
  Page p = Visitor(conn, Variant::String("2,5"));
  const std::vector<std::string> first = {
      "menuID",       "menuName", "menuIcon",    "FunUrl",
      "menuParentID", "MenuTip",  "MenuEnglish", "MenuEnglishTip"};
  auto child = [](int id) {
    return std::vector<Variant>{
        Variant::Long(id),    Variant::String("c" + std::to_string(id)),
        Variant::String("i"), Variant::Null(),
        Variant::Long(3),     Variant::String("t"),
        Variant::String("e"), Variant::String("et")};
  };
  auto sub = [](int id, int parent) {
    return std::vector<Variant>{Variant::Long(id), Variant::String("s"),
                                Variant::String("i"), Variant::String("/u"),
                                Variant::Long(parent)};
  };
  conn->Queue({first, {child(21), child(20)}});
  // Sub-entries of both parents, in menuOrder across the parents.
  conn->Queue({{"menuID", "menuName", "menuIcon", "FunUrl", "menuParentID"},
               {sub(31, 21), sub(50, 20), sub(30, 21)}});
  VariantArray left = p.menu->GetLeftMenu(3);
  EXPECT_EQ(Entries(left), "21,31,30,20,50");
  EXPECT_EQ(Row(left, 0), "21|c21|i|Null|3|t|e|et|<>");
  EXPECT_EQ(Row(left, 2), "30|s|i|/u|21|<>|<>|<>|<>");
  ASSERT_EQ(conn->sent.size(), 2u);
  EXPECT_EQ(conn->sent[0],
            "Select menuID,menuName,menuIcon,FunUrl,menuParentID,MenuTip,"
            "MenuEnglish,MenuEnglishTip  From SYS_Menu,SYS_Function  where  "
            "SYS_Menu.FunID*=SYS_Function.FunID  and menuParentID=3  and "
            "menuID in (select menuID from SYS_right where roleID in (2,5)) "
            "order by menuOrder");
  EXPECT_EQ(conn->sent[1],
            "Select menuID,menuName,menuIcon,FunUrl,menuParentID From "
            "SYS_Menu,SYS_Function  Where SYS_Menu.FunID*=SYS_Function.FunID "
            "and menuID in (select menuID from SYS_right where roleID in "
            "(2,5))  and menuParentID in (21,20) order by menuOrder,menuID");

  // No child, no second statement.
  conn->sent.clear();
  conn->Queue({first, {}});
  EXPECT_EQ(Bounds(p.menu->GetLeftMenu(-1)), "(0 To 0, 0 To 8)");
  EXPECT_EQ(conn->sent.size(), 1u);
}

TEST(MenuStatementTest, TreeListingReadsTheFirstLevelThenAllBelowAtOnce) {
  auto conn = std::make_shared<RecordingConnection>();
  Menu menu;
  menu.SetConn(conn);
  const std::vector<std::string> names = {"MenuID", "MenuParentID"};
  auto row = [](int id, int parent) {
    return std::vector<Variant>{Variant::Long(id), Variant::Long(parent)};
  };
  conn->Queue({names, {row(8, 7), row(6, 7)}});
  // Below the first level, ordered by parent.
  conn->Queue({names, {row(1, 6), row(2, 8), row(3, 8), row(4, 2)}});
  EXPECT_EQ(Ids(menu.GetAllData(7)), "MenuID,8,2,4,3,6,1");
  EXPECT_EQ(conn->sent.size(), 2u);
  EXPECT_EQ(conn->sent[1],
            "With below (MenuID,Path) as (select MenuID,cast(','+cast(MenuID "
            "as varchar(11))+',' as varchar(max)) from SYS_Menu where "
            "MenuParentID in (select MenuID from SYS_Menu where "
            "MenuParentID=7) union all select SYS_Menu.MenuID,cast("
            "below.Path+cast(SYS_Menu.MenuID as varchar(11))+',' as "
            "varchar(max)) from SYS_Menu inner join below on "
            "SYS_Menu.MenuParentID=below.MenuID where charindex(','+cast("
            "SYS_Menu.MenuID as varchar(11))+',',below.Path)=0) Select * from "
            "SYS_Menu where MenuID in (select MenuID from below) order by "
            "MenuParentID,menuorder,MenuID option (maxrecursion 0)");

  // A loop in what comes back is reported, not followed.
  conn->Queue({names, {row(8, 7)}});
  conn->Queue({names, {row(2, 8), row(7, 2)}});
  EXPECT_THROW(menu.GetAllData(7), Error);
  EXPECT_NE(menu.GetError().find("menu 7 is its own ancestor"),
            std::string::npos)
      << menu.GetError();
}

TEST(MenuStatementTest, UnsafeValuesNeverReachTheStatement) {
  auto conn = std::make_shared<RecordingConnection>();
  Menu menu;
  menu.SetConn(conn);
  const Variant none = Variant::String("");
  // Quotes are doubled, and a marker inside a text is text.
  menu.AddData(Variant::Long(1), Variant::Long(2), Variant::String("O'Neil"),
               Variant::String("a,,b"), none, none, none, Variant::String("1"));
  ASSERT_EQ(conn->sent.size(), 1u);
  EXPECT_NE(conn->sent[0].find("values(1,2,'O''Neil','a,,b','','','','1')"),
            std::string::npos)
      << conn->sent[0];

  // A bare value that is no number, and an update or delete without a
  // target, raise before anything is sent.
  EXPECT_THROW(menu.AddData(Variant::String("1) or (1=1"), none, none, none,
                            none, none, none, none),
               Error);
  EXPECT_NE(menu.GetError().find("FunID"), std::string::npos);
  EXPECT_THROW(menu.UpdateData(Variant::Long(5), none, none, none, none, none,
                               none, none, Variant::String("2 where 1=1")),
               Error);
  EXPECT_NE(menu.GetError().find("MenuOrder"), std::string::npos);
  for (const Variant& bad :
       {Variant::String("5 or 1=1"), none, Variant::Null()})
    EXPECT_THROW(menu.DelData(bad), Error) << bad.Debug();
  EXPECT_THROW(menu.UpdateData(Variant(), none, none, none, none, none, none,
                               none, Variant::Long(1)),
               Error);
  EXPECT_NE(menu.GetError().find("ID"), std::string::npos);
  EXPECT_EQ(conn->sent.size(), 1u);
}

// ---- the visitor's roles --------------------------------------------------

TEST(MenuRolesTest, AVisitorWithoutRolesGetsEmptyMenusAndNoStatement) {
  for (const Variant& roles :
       {Variant(), Variant::Null(), Variant::String("")}) {
    auto conn = std::make_shared<RecordingConnection>();
    Page p = Visitor(conn, roles);
    VariantArray top = p.menu->GetTopMenu();
    EXPECT_TRUE(top.undimensioned()) << roles.Debug();
    EXPECT_THROW(top.UBound(1), Error);
    VariantArray left = p.menu->GetLeftMenu(1);
    EXPECT_EQ(left.Dump(), "(0 To 0, 0 To 8) [] [] [] [] [] [] [] [] []");
    EXPECT_TRUE(left(0, 0).is_empty());
    EXPECT_TRUE(conn->sent.empty()) << roles.Debug();
    EXPECT_EQ(p.menu->GetError(), "");
  }
}

TEST(MenuRolesTest, ARoleListThatIsNotNumbersIsRefused) {
  for (const Variant& roles : {Variant::String("2) or (1=1"),
                               Variant::String("2, 5"), Variant::String("2,,5"),
                               Variant::String("2;5"), Variant::String("Clerk"),
                               Variant::Double(2.5), Variant::Boolean(true)}) {
    auto conn = std::make_shared<RecordingConnection>();
    Page p = Visitor(conn, roles);
    EXPECT_THROW(p.menu->GetTopMenu(), Error) << roles.Debug();
    EXPECT_NE(p.menu->GetError().find("RoleID"), std::string::npos);
    EXPECT_THROW(p.menu->GetLeftMenu(1), Error) << roles.Debug();
    EXPECT_TRUE(conn->sent.empty()) << roles.Debug();
  }
}

// ---- behaviour over a real database ---------------------------------------

class MenuTest : public ::testing::TestWithParam<std::string> {};

TEST_P(MenuTest, TopMenuListsGrantedFirstLevelMenusOnceInOrder) {
  TestDb db(GetParam(), /*demo=*/false);
  AddFunction(db, 1, "/apps/a");
  AddFunction(db, 3, "/apps/c");
  AddMenu(db, 1, "NULL", "A", "1", "1");
  AddMenu(db, 2, "NULL", "B", "2");
  AddMenu(db, 3, "NULL", "C", "3", "3");
  AddMenu(db, 4, "1", "A1", "0");  // granted, but not first level
  Grant(db, 1, 2);
  Grant(db, 2, 9);  // another role's menu
  Grant(db, 3, 5);
  Grant(db, 3, 2);
  Grant(db, 4, 2);
  Page p = Visitor(db.conn(), Variant::String("2,5"));
  VariantArray top = p.menu->GetTopMenu();
  ASSERT_EQ(Bounds(top), "(0 To 1, 0 To 6)");
  EXPECT_EQ(Row(top, 0), "1|A|A.gif|/apps/a|A tip|A en|A en tip");
  EXPECT_EQ(Row(top, 1), "3|C|C.gif|/apps/c|C tip|C en|C en tip");

  // One role, stored as a bare number.
  p.context->session_obj->Set("RoleID", Variant::Long(5));
  EXPECT_EQ(Ids(p.menu->GetTopMenu()), "3");
  // Roles that see no first-level menu.
  p.context->session_obj->Set("RoleID", Variant::String("7,8"));
  EXPECT_TRUE(p.menu->GetTopMenu().undimensioned());
}

TEST_P(MenuTest, AMenuWithoutItsFunctionIsListedWithNullAddress) {
  TestDb db(GetParam(), /*demo=*/false);
  AddFunction(db, 1, "/apps/a");
  AddMenu(db, 1, "NULL", "A", "1", "NULL");  // no function
  AddMenu(db, 2, "NULL", "B", "2", "42");    // a function that is gone
  AddMenu(db, 3, "1", "A1", "1", "42");
  AddMenu(db, 4, "1", "A2", "2", "1");
  for (int m = 1; m <= 4; ++m) Grant(db, m, 2);
  Page p = Visitor(db.conn(), Variant::String("2"));
  VariantArray top = p.menu->GetTopMenu();
  EXPECT_EQ(Row(top, 0), "1|A|A.gif|Null|A tip|A en|A en tip");
  EXPECT_EQ(Row(top, 1), "2|B|B.gif|Null|B tip|B en|B en tip");
  VariantArray left = p.menu->GetLeftMenu(1);
  EXPECT_EQ(Row(left, 0), "3|A1|A1.gif|Null|1|A1 tip|A1 en|A1 en tip|<>");
  EXPECT_EQ(Row(left, 1), "4|A2|A2.gif|/apps/a|1|A2 tip|A2 en|A2 en tip|<>");
}

// P has visible children X (order 1), Y (order 2) and the ungranted Z;
// X has x1 and x2, x1 has the third-level x1a, Z has the granted z1.
void LeftMenuTree(const TestDb& db) {
  AddFunction(db, 8, "/apps/x1");
  AddMenu(db, 10, "NULL", "P", "1");
  AddMenu(db, 20, "10", "Y", "2");
  AddMenu(db, 21, "10", "X", "1");
  AddMenu(db, 22, "10", "Z", "0");
  AddMenu(db, 30, "21", "x2", "2");
  AddMenu(db, 31, "21", "x1", "1", "8");
  AddMenu(db, 40, "31", "x1a", "1");
  AddMenu(db, 41, "22", "z1", "1");
  for (int m : {10, 20, 21, 30, 31, 40, 41}) Grant(db, m, 2);
  Grant(db, 21, 5);  // X twice over
  Grant(db, 22, 9);
}

TEST_P(MenuTest, LeftMenuListsChildrenEachFollowedByItsChildren) {
  TestDb db(GetParam(), /*demo=*/false);
  LeftMenuTree(db);
  Page p = Visitor(db.conn(), Variant::String("2,5"));
  VariantArray left = p.menu->GetLeftMenu(10);
  ASSERT_EQ(Bounds(left), "(0 To 4, 0 To 8)");
  EXPECT_EQ(Row(left, 0), "21|X|X.gif|Null|10|X tip|X en|X en tip|<>");
  EXPECT_EQ(Row(left, 1), "31|x1|x1.gif|/apps/x1|21|<>|<>|<>|<>");
  EXPECT_EQ(Row(left, 2), "30|x2|x2.gif|Null|21|<>|<>|<>|<>");
  EXPECT_EQ(Row(left, 3), "20|Y|Y.gif|Null|10|Y tip|Y en|Y en tip|<>");
  EXPECT_EQ(Row(left, 4), "<>|<>|<>|<>|<>|<>|<>|<>|<>");

  // A parent without visible children, and a sub-entry as the parent: its
  // children are listed, their own children never.
  EXPECT_EQ(Row(p.menu->GetLeftMenu(20), 0), "<>|<>|<>|<>|<>|<>|<>|<>|<>");
  EXPECT_EQ(Bounds(p.menu->GetLeftMenu(20)), "(0 To 0, 0 To 8)");
  EXPECT_EQ(Entries(p.menu->GetLeftMenu(21)), "31,40,30");
}

// An item as "id/parent/level name (tip) english (english tip) icon url".
std::string Describe(const std::vector<MenuItem>& items) {
  std::string out;
  for (const MenuItem& i : items) {
    if (!out.empty()) out += "; ";
    out += std::to_string(i.id) + "/" + std::to_string(i.parent_id) + "/" +
           std::to_string(i.level) + " " + i.name + " (" + i.tip + ") " +
           i.english + " (" + i.english_tip + ") " + i.icon + " " + i.url;
  }
  return out;
}

std::string ItemIds(const std::vector<MenuItem>& items) {
  std::string out;
  for (const MenuItem& i : items) {
    out += (out.empty() ? "" : ",") + std::to_string(i.id);
  }
  return out;
}

// The typed menus the main window reads: the same entries in the same
// order as the slots, and the sub-entries' own tips and English captions,
// which the slot leaves Empty.
TEST_P(MenuTest, TypedMenusListWhatTheSlotsListWithEveryText) {
  TestDb db(GetParam(), /*demo=*/false);
  LeftMenuTree(db);
  AddMenu(db, 11, "NULL", "Q", "0");
  AddMenu(db, 12, "NULL", "R", "NULL");
  AddMenu(db, 23, "10", "W", "NULL");  // Null orders first
  AddMenu(db, 32, "21", "x0", "NULL");
  for (int m : {11, 12, 23, 32}) Grant(db, m, 5);
  db.Exec("UPDATE SYS_Menu SET MenuTip=NULL WHERE MenuID=30");
  Page p = Visitor(db.conn(), Variant::String("2,5"));
  Menu& menu = *p.menu;

  EXPECT_EQ(ItemIds(menu.TopMenuItems()), Ids(menu.GetTopMenu()));
  EXPECT_EQ(ItemIds(menu.TopMenuItems()), "12,11,10");
  for (int32_t parent : {10, 21, 20, 0, 99}) {
    EXPECT_EQ(ItemIds(menu.LeftMenuItems(parent)),
              Entries(menu.GetLeftMenu(parent)))
        << parent;
  }
  EXPECT_EQ(Describe(menu.LeftMenuItems(10)),
            "23/10/1 W (W tip) W en (W en tip) W.gif ; "
            "21/10/1 X (X tip) X en (X en tip) X.gif ; "
            "32/21/2 x0 (x0 tip) x0 en (x0 en tip) x0.gif ; "
            "31/21/2 x1 (x1 tip) x1 en (x1 en tip) x1.gif /apps/x1; "
            "30/21/2 x2 () x2 en (x2 en tip) x2.gif ; "
            "20/10/1 Y (Y tip) Y en (Y en tip) Y.gif ");
  EXPECT_EQ(Describe(menu.TopMenuItems()).substr(0, 38),
            "12/0/1 R (R tip) R en (R en tip) R.gif");

  // Roles the session no longer holds.
  p.context->session_obj->Set("RoleID", Variant::String("9"));
  EXPECT_EQ(ItemIds(menu.LeftMenuItems(10)), "22");
  p.context->session_obj->Set("RoleID", Variant());
  EXPECT_TRUE(menu.TopMenuItems().empty());
  EXPECT_TRUE(menu.LeftMenuItems(10).empty());
}

// One statement each, whatever the size of the menu; a role list that is
// not numbers never reaches one; every change of the tree is counted.
TEST(MenuStatementTest, TypedMenusSendOneStatementEach) {
  auto conn = std::make_shared<RecordingConnection>();
  Page p = Visitor(conn, Variant::String("2,5"));
  p.menu->TopMenuItems();
  p.menu->LeftMenuItems(-3);
  ASSERT_EQ(conn->sent.size(), 2u);
  EXPECT_EQ(conn->sent[0],
            "Select menuID,menuName,menuIcon,FunUrl,MenuTip,MenuEnglish,"
            "MenuEnglishTip From SYS_Menu,SYS_Function  where  "
            "SYS_Menu.FunID*=SYS_Function.FunID  and menuParentID is null and "
            "menuID in (select menuID from SYS_right where roleID in "
            "(2,5))order by menuOrder");
  const std::string& left = conn->sent[1];
  EXPECT_EQ(left.substr(0, 60),
            "Select m.MenuID as ItemID,m.MenuName as ItemName,m.MenuIcon ");
  for (const char* part :
       {"where m.MenuParentID=-3 and exists (select 1 from SYS_right r where "
        "r.menuID=m.MenuID and r.roleID in (2,5))",
        " union all ",
        "exists (select 1 from SYS_right r where r.menuID=c.MenuID and "
        "r.roleID in (2,5))",
        " order by GroupOrdered,GroupOrder,GroupID,ItemLevel,ItemOrdered,"
        "ItemOrder,ItemID"}) {
    EXPECT_NE(left.find(part), std::string::npos) << part << "\n" << left;
  }
  p.context->session_obj->Set("RoleID", Variant::String("2) or (1=1"));
  EXPECT_THROW(p.menu->LeftMenuItems(1), Error);
  EXPECT_THROW(p.menu->TopMenuItems(), Error);
  EXPECT_EQ(conn->sent.size(), 2u);

  const uint64_t before = MenuChangesInProcess();
  const Variant none = Variant::String("");
  p.menu->AddData(none, none, none, none, none, none, none, none);
  p.menu->UpdateData(Variant::Long(1), none, none, none, none, none, none, none,
                     none);
  p.menu->DelData(Variant::Long(1));
  conn->fail_with = "refused";
  EXPECT_THROW(p.menu->DelData(Variant::Long(1)), Error);
  EXPECT_EQ(MenuChangesInProcess() - before, 4u);
  conn->fail_with.clear();
  p.menu->GetData(1);                               // reads count nothing
  EXPECT_THROW(p.menu->DelData(Variant()), Error);  // nothing sent: counted
  EXPECT_EQ(MenuChangesInProcess() - before, 5u);
}

TEST_P(MenuTest, LeftMenuZeroListsTheChildrenOfMenuZero) {
  TestDb db(GetParam(), /*demo=*/false);
  AddMenu(db, 1, "NULL", "First", "1");
  AddMenu(db, 2, "0", "Under zero", "1");
  AddMenu(db, 3, "2", "Below", "1");
  for (int m = 1; m <= 3; ++m) Grant(db, m, 2);
  Page p = Visitor(db.conn(), Variant::Long(2));
  EXPECT_EQ(Entries(p.menu->GetLeftMenu(0)), "2,3");
}

TEST_P(MenuTest, LeftMenuHasNoCapOnItsEntries) {
  TestDb db(GetParam(), /*demo=*/false);
  AddMenu(db, 1, "NULL", "P", "1");
  Grant(db, 1, 2);
  int id = 100;
  for (int c = 0; c < 10; ++c) {
    const int child = id++;
    AddMenu(db, child, "1", "c", std::to_string(c));
    Grant(db, child, 2);
    for (int s = 0; s < 14; ++s) {
      AddMenu(db, id, std::to_string(child), "s", std::to_string(14 - s));
      Grant(db, id++, 2);
    }
  }
  Page p = Visitor(db.conn(), Variant::String("2"));
  VariantArray left = p.menu->GetLeftMenu(1);
  ASSERT_EQ(Bounds(left), "(0 To 150, 0 To 8)");
  // The first child, then its sub-entries by order (last inserted first).
  EXPECT_EQ(Show(left(0, 0)), "100");
  EXPECT_EQ(Show(left(1, 0)), "114");
  EXPECT_EQ(Show(left(15, 0)), "115");
  EXPECT_EQ(Show(left(149, 0)), "236");
  EXPECT_EQ(Row(left, 150), "<>|<>|<>|<>|<>|<>|<>|<>|<>");
}

TEST_P(MenuTest, AVisitorWithAThousandRolesSeesTheirMenus) {
  TestDb db(GetParam(), /*demo=*/false);
  AddMenu(db, 1, "NULL", "A", "1");
  AddMenu(db, 2, "1", "A1", "1");
  AddMenu(db, 3, "2", "A1a", "1");
  AddMenu(db, 4, "NULL", "B", "2");
  Grant(db, 1, 1000);
  Grant(db, 2, 500);
  Grant(db, 3, 1);
  Grant(db, 4, 1001);  // not one of the visitor's
  std::string roles;
  for (int r = 1; r <= 1000; ++r) {
    roles += (r > 1 ? "," : "") + std::to_string(r);
  }
  Page p = Visitor(db.conn(), Variant::String(roles));
  EXPECT_EQ(Ids(p.menu->GetTopMenu()), "1") << p.menu->GetError();
  EXPECT_EQ(Entries(p.menu->GetLeftMenu(1)), "2,3") << p.menu->GetError();
}

// A (order 1) with A1 (order 1) and A2 (order 2), A1 with A1a; B (order 2).
// Ids run against the order so the listing cannot be in id order by chance.
void SmallTree(const TestDb& db) {
  AddMenu(db, 5, "NULL", "A", "1");
  AddMenu(db, 4, "5", "A1", "1");
  AddMenu(db, 3, "5", "A2", "2");
  AddMenu(db, 2, "4", "A1a", "1");
  AddMenu(db, 1, "NULL", "B", "2");
}

TEST_P(MenuTest, TreeListingIsDepthFirstWithSiblingsByOrder) {
  TestDb db(GetParam(), /*demo=*/false);
  SmallTree(db);
  Menu menu;
  menu.SetConn(db.conn());
  VariantArray all = menu.GetAllData(0);
  ASSERT_EQ(Bounds(all), "(0 To 5, 0 To 8)");
  // Column names in the letter case the database reports them.
  EXPECT_EQ(Lower(Row(all, 0)),
            "menuid|funid|menuparentid|menuname|menutip|menuenglish|"
            "menuenglishtip|menuicon|menuorder");
  EXPECT_EQ(Row(all, 1), "5|Null|Null|A|A tip|A en|A en tip|A.gif|1");
  EXPECT_EQ(Row(all, 3), "2|Null|4|A1a|A1a tip|A1a en|A1a en tip|A1a.gif|1");
  EXPECT_EQ(Ids(all, 1), "5,4,2,3,1");

  EXPECT_EQ(Ids(menu.GetAllData(5), 1), "4,2,3");
  // A leaf keeps the titles row.
  EXPECT_EQ(Lower(Ids(menu.GetAllData(2))), "menuid");
}

TEST_P(MenuTest, ChildrenAreOneLevelOfTheTree) {
  TestDb db(GetParam(), /*demo=*/false);
  SmallTree(db);
  Menu menu;
  menu.SetConn(db.conn());
  const VariantArray first = menu.GetChildren(0);
  ASSERT_EQ(Bounds(first), "(0 To 2, 0 To 8)");
  EXPECT_EQ(Lower(Row(first, 0)), Lower(Row(menu.GetAllData(0), 0)));
  EXPECT_EQ(Row(first, 1), "5|Null|Null|A|A tip|A en|A en tip|A.gif|1");
  EXPECT_EQ(Ids(first, 1), "5,1");
  EXPECT_EQ(Ids(menu.GetChildren(5), 1), "4,3");
  EXPECT_EQ(Ids(menu.GetChildren(4), 1), "2");
  // A leaf, and a menu that does not exist, keep the titles row.
  EXPECT_EQ(Lower(Ids(menu.GetChildren(2))), "menuid");
  EXPECT_EQ(Lower(Ids(menu.GetChildren(99))), "menuid");

  // Menu 0 would stand for the first level; a menu below itself loops.
  AddMenu(db, 0, "NULL", "Zero", "3");
  AddMenu(db, 6, "6", "Self", "1");
  EXPECT_THROW(menu.GetChildren(0), Error);
  EXPECT_THROW(menu.GetChildren(6), Error);
  EXPECT_NE(menu.GetError().find("menu 6 is its own ancestor"),
            std::string::npos)
      << menu.GetError();
}

TEST(MenuStatementTest, ChildrenAreReadWithOneStatement) {
  auto conn = std::make_shared<RecordingConnection>();
  Menu menu;
  menu.SetConn(conn);
  const std::vector<std::string> names = {"MenuID", "MenuParentID"};
  conn->Queue({names, {}});
  conn->Queue({names, {{Variant::Long(8), Variant::Long(7)}}});
  EXPECT_EQ(Bounds(menu.GetChildren(0)), "(0 To 0, 0 To 1)");
  EXPECT_EQ(Ids(menu.GetChildren(7)), "MenuID,8");
  EXPECT_EQ(conn->sent,
            (std::vector<std::string>{
                "Select * from SYS_Menu where MenuParentID IS NULL  order by "
                "menuorder",
                "Select * from SYS_Menu where MenuParentID=7 order by "
                "menuorder"}));
}

TEST_P(MenuTest, ANullOrderSortsFirstAmongSiblings) {
  TestDb db(GetParam(), /*demo=*/false);
  SmallTree(db);
  AddMenu(db, 6, "NULL", "N", "NULL");
  AddMenu(db, 7, "5", "A0", "NULL");
  for (int m = 1; m <= 7; ++m) Grant(db, m, 2);
  Menu menu;
  menu.SetConn(db.conn());
  EXPECT_EQ(Ids(menu.GetAllData(0), 1), "6,5,7,4,2,3,1");
  Page p = Visitor(db.conn(), Variant::Long(2));
  EXPECT_EQ(Ids(p.menu->GetTopMenu()), "6,5,1");
  EXPECT_EQ(Entries(p.menu->GetLeftMenu(5)), "7,4,2,3");
}

TEST_P(MenuTest, TreeListingHasNoCapAndTakes32BitIdentifiers) {
  TestDb db(GetParam(), /*demo=*/false);
  // 8 first-level menus with 9 children each with 10 children: 800 menus,
  // numbered from 32760 so the walk passes 32767.
  std::vector<std::string> expected;
  int id = 32760;
  for (int a = 0; a < 8; ++a) {
    const int first = id++;
    AddMenu(db, first, "NULL", "a", std::to_string(8 - a));
    std::vector<std::string> block = {std::to_string(first)};
    for (int b = 0; b < 9; ++b) {
      const int second = id++;
      AddMenu(db, second, std::to_string(first), "b", std::to_string(b));
      block.push_back(std::to_string(second));
      for (int c = 0; c < 10; ++c) {
        AddMenu(db, id, std::to_string(second), "c", std::to_string(c));
        block.push_back(std::to_string(id++));
      }
    }
    // First-level menus come in reverse order of insertion.
    expected.insert(expected.begin(), block.begin(), block.end());
  }
  std::string joined;
  for (const std::string& s : expected)
    joined += (joined.empty() ? "" : ",") + s;
  Menu menu;
  menu.SetConn(db.conn());
  VariantArray all = menu.GetAllData(0);
  ASSERT_EQ(Bounds(all), "(0 To 800, 0 To 8)");
  EXPECT_EQ(Ids(all, 1), joined);
  // A subtree below an identifier beyond 16 bits.
  EXPECT_EQ(Bounds(menu.GetAllData(40000)), "(0 To 0, 0 To 8)");
  VariantArray below = menu.GetAllData(33460);  // the last first-level menu
  EXPECT_EQ(Bounds(below), "(0 To 99, 0 To 8)");
  EXPECT_EQ(Show(menu.GetData(33460)(0)), "33460");
}

TEST_P(MenuTest, ALoopInTheTreeIsReportedNotWalkedForever) {
  TestDb db(GetParam(), /*demo=*/false);
  SmallTree(db);
  AddMenu(db, 8, "9", "C", "1");
  AddMenu(db, 9, "8", "D", "1");
  AddMenu(db, 11, "11", "Self", "1");
  Menu menu;
  menu.SetConn(db.conn());
  // The loop lies outside the first-level tree, which still lists.
  EXPECT_EQ(Ids(menu.GetAllData(0), 1), "5,4,2,3,1");
  for (int start : {8, 9, 11}) {
    EXPECT_THROW(menu.GetAllData(start), Error);
    EXPECT_NE(menu.GetError().find("menu " + std::to_string(start)),
              std::string::npos)
        << menu.GetError();
  }

  // A page re-parents A under its own grandchild.
  EXPECT_TRUE(menu.UpdateData(Variant::Long(5), Variant(), Variant::Long(2),
                              Variant::String("A"), Variant(), Variant(),
                              Variant(), Variant(), Variant::Long(1)));
  EXPECT_EQ(Ids(menu.GetAllData(0), 1), "1");
  EXPECT_THROW(menu.GetAllData(4), Error);
  EXPECT_NE(menu.GetError().find("menu 4"), std::string::npos);
}

TEST_P(MenuTest, AMenuNumberedZeroInsideTheTreeIsReported) {
  TestDb db(GetParam(), /*demo=*/false);
  SmallTree(db);
  AddMenu(db, 0, "NULL", "Zero", "3");
  Menu menu;
  menu.SetConn(db.conn());
  EXPECT_THROW(menu.GetAllData(0), Error);
  EXPECT_NE(menu.GetError().find("menu 0"), std::string::npos);
  EXPECT_EQ(Ids(menu.GetAllData(5), 1), "4,2,3");
  db.Exec("UPDATE SYS_Menu SET MenuParentID=4 WHERE MenuID=0");
  EXPECT_THROW(menu.GetAllData(5), Error);
}

TEST_P(MenuTest, GetDataReadsOneRowInColumnOrder) {
  TestDb db(GetParam(), /*demo=*/false);
  SmallTree(db);
  Menu menu;
  menu.SetConn(db.conn());
  VariantArray one = menu.GetData(4);
  ASSERT_EQ(Bounds(one), "(0 To 8)");
  EXPECT_EQ(Cells(one), "4|Null|5|A1|A1 tip|A1 en|A1 en tip|A1.gif|1");
  EXPECT_TRUE(menu.GetData(99).undimensioned());
}

TEST_P(MenuTest, AddedAndRewrittenMenusReadBack) {
  TestDb db(GetParam(), /*demo=*/false);
  Menu menu;
  menu.SetConn(db.conn());
  const Variant none = Variant::String("");
  EXPECT_TRUE(menu.AddData(none, none, Variant::String("O'Neil"),
                           Variant::String("a,,b"), none, none,
                           Variant::String("o.gif"), Variant::String("4")));
  EXPECT_TRUE(menu.AddData(Variant::Long(7), Variant::Long(1),
                           Variant::String("Mail"), none, none, none, none,
                           none));
  VariantArray all = menu.GetAllData(0);
  ASSERT_EQ(Bounds(all), "(0 To 2, 0 To 8)");
  EXPECT_EQ(Row(all, 1), "1|Null|Null|O'Neil|a,,b|||o.gif|4");
  EXPECT_EQ(Row(all, 2).substr(0, 6), "2|7|1|");

  EXPECT_TRUE(menu.UpdateData(Variant::Long(2), none, Variant::Long(1),
                              Variant::String("Post"), none, none, none, none,
                              none));
  EXPECT_EQ(Cells(menu.GetData(2)), "2|Null|1|Post|||||Null");
  // Nothing to change is no failure.
  EXPECT_TRUE(menu.UpdateData(Variant::Long(77), none, none, none, none, none,
                              none, none, none));
  EXPECT_TRUE(menu.DelData(Variant::Long(77)));
}

TEST_P(MenuTest, DeleteLeavesChildrenAndGrantsInPlace) {
  TestDb db(GetParam(), /*demo=*/false);
  SmallTree(db);
  Grant(db, 5, 2);
  Grant(db, 4, 2);
  Menu menu;
  menu.SetConn(db.conn());
  EXPECT_TRUE(menu.DelData(Variant::Long(5)));
  EXPECT_TRUE(menu.GetData(5).undimensioned());
  EXPECT_EQ(Ids(menu.GetAllData(0), 1), "1");
  EXPECT_EQ(Ids(menu.GetAllData(5), 1), "4,2,3");
  EXPECT_EQ(Show(db.Scalar("SELECT COUNT(*) FROM SYS_right WHERE menuID=5")),
            "1");
  // The orphaned child stays visible under its lost parent's number.
  Page p = Visitor(db.conn(), Variant::Long(2));
  EXPECT_EQ(Entries(p.menu->GetLeftMenu(5)), "4");
}

INSTANTIATE_TEST_SUITE_P(Databases, MenuTest,
                         ::testing::ValuesIn(TestDatabases()));

}  // namespace
}  // namespace wrenhaven
