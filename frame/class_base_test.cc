// What every class holds and checks the same way: the borrowed connection,
// the page objects between the page hooks, and the identifier check.
#include "wrenhaven/class_base.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "testing/recording_connection.h"
#include "wrenhaven/component.h"
#include "wrenhaven/error.h"
#include "wrenhaven/memory_page.h"

namespace wrenhaven {
namespace {

// The protected members, reachable for the test.
class Probe : public PageBoundClass {
 public:
  const ClassInfo& class_info() const override {
    static const ClassInfo info{"Wrenhaven.ClassBaseProbe", "_Probe", {}, {}};
    return info;
  }
  using ClassBase::conn;
  using ClassBase::RequireId;
  using PageBoundClass::application;
  using PageBoundClass::request;
  using PageBoundClass::response;
  using PageBoundClass::server;
  using PageBoundClass::session;

  // How many of the five page objects are held.
  int held() const {
    int n = 0;
    for (auto has : {+[](const Probe& p) { (void)p.response(); },
                     +[](const Probe& p) { (void)p.request(); },
                     +[](const Probe& p) { (void)p.server(); },
                     +[](const Probe& p) { (void)p.application(); },
                     +[](const Probe& p) { (void)p.session(); }}) {
      try {
        has(*this);
        ++n;
      } catch (const Error&) {
      }
    }
    return n;
  }
};

TEST(ClassBaseTest, SetConnKeepsTheLatestConnectionAndNothingEmptiesIt) {
  Probe p;
  EXPECT_THROW(p.conn(), Error);
  EXPECT_EQ(p.GetError(), "No database connection: SetConn was not given one");
  auto first = std::make_shared<RecordingConnection>();
  auto second = std::make_shared<RecordingConnection>();
  p.SetConn(first);
  EXPECT_EQ(p.GetError(), "");  // SetConn starts a call like any other
  p.SetConn(second);
  EXPECT_EQ(&p.conn(), second.get());
  p.SetConn(nullptr);
  EXPECT_THROW(p.conn(), Error);
  EXPECT_TRUE(first->sent.empty() && second->sent.empty());
}

TEST(ClassBaseTest, OneErrorCodeForEveryIdentifierThatNamesNothing) {
  const struct {
    Variant id;
    const char* description;  // "" when the identifier passes
  } cases[] = {
      {Variant(), "ID is empty: name the menu to change or delete"},
      {Variant::String(""), "ID is empty: name the menu to change or delete"},
      {Variant::Null(), "ID is Null: name the menu to change or delete"},
      {Variant::Long(0), ""},
      {Variant::String("7"), ""},
      // Not a number: left to the statement builder, which names it.
      {Variant::String("7 or 1=1"), ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id.Debug());
    if (*c.description == '\0') {
      EXPECT_NO_THROW(Probe::RequireId(c.id, "ID", "menu to change or delete"));
      continue;
    }
    try {
      Probe::RequireId(c.id, "ID", "menu to change or delete");
      ADD_FAILURE() << "no error";
    } catch (const Error& e) {
      EXPECT_EQ(e.code(), ErrorCode::kInvalidArgument);
      EXPECT_EQ(e.description(), c.description);
    }
  }
}

// A method table as pages see it, slot by slot: "Name(ByRef a,b)", with
// "Sub " before a method that gives no result.
std::string Slots(const ClassInfo& info) {
  std::string out;
  for (const MethodInfo& m : info.methods) {
    out += (m.has_result ? "" : "Sub ") + m.name + "(";
    for (const ParamInfo& p : m.params) {
      if (&p != &m.params.front()) out += ",";
      out += (p.passing == Passing::kByRef ? "ByRef " : "") + p.name;
    }
    out += ") ";
  }
  return out;
}

// Every class of the library, late bound as the pages reach it: its
// interface slot by slot, and the connection and error reporting that all
// of them share.
TEST(EveryClassTest, InterfaceConnectionAndErrorsAsPagesSeeThem) {
  const struct {
    const char* progid;
    const char* interface_name;
    const char* slots;
    const char* query;  // a method that reads the database
    std::vector<Variant> args;
  } classes[] = {
      {"Wrenhaven.Login",
       "_Login",
       "OnStartPage(ByRef sc) OnEndPage() Sub SetConn(ByRef pConn) "
       "GetError() UpdateLogin() GetLoginAll() GetAllData() "
       "GetPersonData(ByRef personID) GetMonthLogin(ByRef dtDate) "
       "GetData(ID) Sub LoginMain() GetNewestData(ByRef personID,most) "
       "GetDayCounts() GetHourCounts() GetSummaryPage(first,most) "
       "GetMonthLoginPage(ByRef dtDate,first,most) "
       "GetPersonPage(ByRef personID,first,most) ",
       "GetAllData",
       {}},
      {"Wrenhaven.RoleRight",
       "_RoleRight",
       "Sub SetConn(ByRef pConn) GetError() GetRoleMenus(RoleID) "
       "AddRoleMenu(RoleID,MenuID) DelRoleMenu(RoleID,MenuID) "
       "UpdateRoleMenus(RoleID,MenuIDs) GetPersonRoles(PersonID) "
       "AddPersonRole(PersonID,RoleID) DelPersonRole(PersonID,RoleID) "
       "UpdatePersonRoles(PersonID,RoleIDs) MayUseFunction(RoleIDs,FunUrl) ",
       "GetRoleMenus",
       {Variant::Long(1)}},
      {"Wrenhaven.Menu",
       "_Menu",
       "Sub SetConn(ByRef pConn) OnStartPage(ByRef sc) OnEndPage() "
       "GetError() GetTopMenu() GetLeftMenu(MenuParentID) "
       "GetAllData(ParentID) GetData(ID) AddData(FunID,MenuParentID,"
       "MenuName,MenuTip,MenuEnglish,MenuEnglishTip,MenuIcon,MenuOrder) "
       "DelData(ByRef ID) UpdateData(ID,FunID,MenuParentID,MenuName,"
       "MenuTip,MenuEnglish,MenuEnglishTip,MenuIcon,MenuOrder) "
       "GetChildren(ParentID) ",
       "GetData",
       {Variant::Long(3)}},
      {"Wrenhaven.Function",
       "_Function",
       "Sub SetConn(ByRef pConn) GetError() AddData(FunName,FunMemo,FunType,"
       "FunOrder,FunClass,FunUrl) DelData(ByRef ID) UpdateData(ID,FunName,"
       "FunMemo,FunType,FunOrder,FunClass,FunUrl) GetAllData() "
       "GetPageData(nPageSize,nPage) GetData(ID) ",
       "GetAllData",
       {}},
      {"Wrenhaven.Role",
       "_Role",
       "Sub SetConn(ByRef pConn) GetError() AddData(RoleName,RoleParentID,"
       "roleLevel,roleClass,roleMemo) DelData(ByRef ID) UpdateData(ID,"
       "RoleName,RoleParentID,roleLevel,roleClass,roleMemo) GetAllData() "
       "GetPageData(nPageSize,nPage) GetData(ID) ",
       "GetAllData",
       {}},
      {"Wrenhaven.Personnel",
       "_Personnel",
       "Sub SetConn(ByRef pConn) GetError() GetDepartments() "
       "GetDeptName(DeptID) GetPeople() GetPerson(PersonID) "
       "GetPeoplePage(Search,Offset,Count) CountPeople(Search) "
       "GetPersonByAccount(Account) ",
       "GetPeople",
       {}},
  };
  for (const auto& c : classes) {
    SCOPED_TRACE(c.progid);
    // Identifiers and names ignore letter case.
    std::string lower = c.progid;
    for (char& ch : lower) ch = static_cast<char>(std::tolower(ch));
    auto obj = CreateObject(lower);
    const ClassInfo& info = obj->class_info();
    EXPECT_EQ(info.progid, c.progid);
    EXPECT_EQ(info.interface_name, c.interface_name);
    EXPECT_EQ(Slots(info), c.slots);
    const int get_error = [&] {
      for (size_t i = 0; i < info.methods.size(); ++i) {
        if (info.methods[i].name == "GetError") return static_cast<int>(i) + 1;
      }
      return 0;
    }();

    std::vector<Variant> none, args = c.args;
    ClearError();
    EXPECT_EQ(obj->Invoke("GetError", none), Variant::String(""));
    try {
      obj->Invoke(c.query, args);
      ADD_FAILURE() << "no error without a connection";
    } catch (const Error& e) {
      EXPECT_EQ(e.code(), ErrorCode::kObjectRequired);
    }
    const Variant described = obj->Invoke("geterror", none);
    EXPECT_EQ(
        described,
        Variant::String("No database connection: SetConn was not given one"));
    EXPECT_EQ(obj->InvokeSlot(get_error, none), described);  // read again

    std::vector<Variant> text = {Variant::String("not a connection")};
    EXPECT_THROW(obj->Invoke("SetConn", text), Error);
    // A call that succeeds clears the error; a database's failure is told
    // in the database's words.
    auto failing = std::make_shared<RecordingConnection>();
    failing->fail_with = "no such table: SYS_Whatever";
    std::vector<Variant> conn = {Variant::FromObject(failing)};
    obj->Invoke("SetConn", conn);
    EXPECT_EQ(obj->Invoke("GetError", none), Variant::String(""));
    EXPECT_THROW(obj->Invoke(c.query, args), Error);
    EXPECT_EQ(obj->Invoke("GetError", none),
              Variant::String("no such table: SYS_Whatever"));
    EXPECT_EQ(failing->sent.size(), 1u);
    // Nothing empties the member again.
    std::vector<Variant> nothing = {Variant::Nothing()};
    obj->Invoke("SetConn", nothing);
    EXPECT_THROW(obj->Invoke(c.query, args), Error);
    EXPECT_EQ(failing->sent.size(), 1u);
  }
}

TEST(PageBoundClassTest, StartTakesAllFiveAndEndReleasesThem) {
  Probe p;
  EXPECT_EQ(p.held(), 0);
  EXPECT_EQ(p.OnEndPage(), Variant());  // without a start: no error
  auto sc = std::make_shared<MemoryContext>();
  EXPECT_EQ(p.OnStartPage(sc), Variant());
  EXPECT_EQ(&p.session(), sc->session_obj.get());
  EXPECT_EQ(p.held(), 5);
  auto second = std::make_shared<MemoryContext>();
  p.OnStartPage(second);
  EXPECT_EQ(&p.request(), second->request_obj.get());
  p.SetConn(std::make_shared<RecordingConnection>());
  p.OnEndPage();
  EXPECT_EQ(p.held(), 0);
  EXPECT_NO_THROW(p.conn());  // the connection is not a page object
  try {
    p.session();
    FAIL();
  } catch (const Error& e) {
    EXPECT_EQ(e.code(), ErrorCode::kObjectRequired);
    EXPECT_EQ(e.description(),
              "No session object: the page did not call OnStartPage");
  }
}

TEST(PageBoundClassTest, AMissingHostObjectIsNamedAndEarlierOnesStay) {
  Probe p;
  auto sc = std::make_shared<MemoryContext>();
  sc->session_obj = nullptr;
  EXPECT_THROW(p.OnStartPage(sc), Error);
  EXPECT_EQ(p.GetError(), "The scripting context has no session object");
  EXPECT_EQ(p.held(), 4);
  EXPECT_THROW(p.OnStartPage(nullptr), Error);
  EXPECT_EQ(p.GetError(), "Object required: no scripting context");
}

}  // namespace
}  // namespace wrenhaven
