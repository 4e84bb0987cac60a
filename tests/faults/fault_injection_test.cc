// Every public method of every class under every database failure it can
// meet: the call is run once to count its operations, then once per
// operation with that one failing. Each failure must reach the caller as
// an error with a description that GetError repeats, and leave the
// database exactly as it was: nothing half written.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "testing/faulty_connection.h"
#include "testing/test_db.h"
#include "wrenhaven/component.h"
#include "wrenhaven/error.h"
#include "wrenhaven/memory_page.h"
#include "wrenhaven/sign_in.h"

namespace wrenhaven {
namespace {

using Collection = Request::Collection;

struct Call {
  const char* progid;
  const char* method;
  std::vector<Variant> args;
};

Variant L(int32_t n) { return Variant::Long(n); }
Variant S(const char* s) { return Variant::String(s); }

const std::vector<Call>& Calls() {
  static const std::vector<Call> calls = {
      {"Wrenhaven.Menu", "GetTopMenu", {}},
      {"Wrenhaven.Menu", "GetLeftMenu", {L(1)}},
      {"Wrenhaven.Menu", "GetAllData", {L(0)}},
      {"Wrenhaven.Menu", "GetData", {L(2)}},
      {"Wrenhaven.Menu", "GetChildren", {L(1)}},
      {"Wrenhaven.Menu",
       "AddData",
       {L(1), L(1), S("n"), S("t"), S("e"), S("et"), S("i.gif"), S("3")}},
      {"Wrenhaven.Menu", "DelData", {L(16)}},
      {"Wrenhaven.Menu",
       "UpdateData",
       {L(2), L(1), L(1), S("Mail2"), S("t"), S("Mail"), S("tip"), S("m.gif"),
        S("1")}},
      {"Wrenhaven.Function",
       "AddData",
       {S("F"), S("m"), L(1), L(1), S("Office"), S("/apps/x")}},
      {"Wrenhaven.Function", "DelData", {L(3)}},
      {"Wrenhaven.Function",
       "UpdateData",
       {L(3), S("D"), S("m"), L(1), L(3), S("Office"), S("/apps/documents")}},
      {"Wrenhaven.Function", "GetAllData", {}},
      {"Wrenhaven.Function", "GetPageData", {L(5), L(2)}},
      {"Wrenhaven.Function", "GetData", {L(3)}},
      {"Wrenhaven.Role",
       "AddData",
       {S("R"), L(2), S("2"), S("Staff"), S("memo")}},
      {"Wrenhaven.Role", "DelData", {L(5)}},
      {"Wrenhaven.Role",
       "UpdateData",
       {L(5), S("Sales2"), L(2), S("2"), S("Staff"), S("m")}},
      {"Wrenhaven.Role", "GetAllData", {}},
      {"Wrenhaven.Role", "GetPageData", {L(2), L(2)}},
      {"Wrenhaven.Role", "GetData", {L(5)}},
      {"Wrenhaven.RoleRight", "GetRoleMenus", {L(3)}},
      {"Wrenhaven.RoleRight", "AddRoleMenu", {L(3), L(9)}},
      {"Wrenhaven.RoleRight", "DelRoleMenu", {L(3), L(7)}},
      {"Wrenhaven.RoleRight", "UpdateRoleMenus", {L(3), S("1,2,9")}},
      {"Wrenhaven.RoleRight", "GetPersonRoles", {L(6)}},
      {"Wrenhaven.RoleRight", "AddPersonRole", {L(8), L(3)}},
      {"Wrenhaven.RoleRight", "DelPersonRole", {L(6), L(3)}},
      {"Wrenhaven.RoleRight", "UpdatePersonRoles", {L(6), S("2,4")}},
      {"Wrenhaven.RoleRight", "MayUseFunction", {S("3"), S("/apps/mail")}},
      {"Wrenhaven.Personnel", "GetDepartments", {}},
      {"Wrenhaven.Personnel", "GetDeptName", {L(2)}},
      {"Wrenhaven.Personnel", "GetPeople", {}},
      {"Wrenhaven.Personnel", "GetPerson", {L(3)}},
      {"Wrenhaven.Personnel", "GetPeoplePage", {S("a"), L(1), L(2)}},
      {"Wrenhaven.Personnel", "CountPeople", {S("a")}},
      {"Wrenhaven.Personnel", "GetPersonByAccount", {S("ann")}},
      {"Wrenhaven.Login", "GetAllData", {}},
      {"Wrenhaven.Login", "GetPersonData", {L(1)}},
      {"Wrenhaven.Login", "GetMonthLogin", {Variant::FromDate(Date::Now())}},
      {"Wrenhaven.Login", "GetData", {L(1)}},
      {"Wrenhaven.Login", "GetSummaryPage", {L(0), L(5)}},
      {"Wrenhaven.Login", "GetPersonPage", {L(1), L(0), L(5)}},
      {"Wrenhaven.Login",
       "GetMonthLoginPage",
       {Variant::FromDate(Date::Now()), L(0), L(5)}},
      {"Wrenhaven.Login", "LoginMain", {}},
  };
  return calls;
}

// Every row of every office table, in a fixed order.
std::string Dump(const TestDb& db) {
  std::string out;
  for (const char* table :
       {"HR_Dept", "HR_person", "HR_Login", "HR_LoginSummary", "HR_LoginMonth",
        "SYS_PersonRole", "SYS_Role", "SYS_Menu", "SYS_Function", "SYS_right",
        "SYS_Version"}) {
    out += std::string("== ") + table + "\n";
    auto rs = db.conn()->Open(
        std::string("SELECT * FROM ") + table + " ORDER BY 1, 2",
        CursorType::kForwardOnly);
    while (!rs->Eof()) {
      for (int i = 0; i < rs->FieldCount(); ++i) {
        out += rs->Value(i).Debug() + "|";
      }
      out += "\n";
      rs->MoveNext();
    }
    rs->Close();
  }
  return out;
}

// A page for the call: the session of a person with two roles, and for
// the sign-in a form post of a demo person.
std::shared_ptr<MemoryContext> PageFor(const Call& call) {
  auto ctx = std::make_shared<MemoryContext>();
  if (std::string_view(call.method) == "LoginMain") {
    MemoryRequest& req = *ctx->request_obj;
    req.Set(Collection::kServerVariables, "REQUEST_METHOD", "POST");
    req.Set(Collection::kServerVariables, "REMOTE_ADDR", "10.0.0.8");
    req.Set(Collection::kForm, "LoginName", "ann");
    req.Set(Collection::kForm, "LoginPwd", "ann123");
  } else {
    ctx->session_obj->Set("RoleID", Variant::String("1,2"));
  }
  return ctx;
}

// The first line where two dumps differ, "" when they agree.
std::string FirstDifference(const std::string& a, const std::string& b) {
  size_t line = 0;
  while (line < a.size() && line < b.size()) {
    const size_t end_a = a.find('\n', line);
    const size_t end_b = b.find('\n', line);
    if (a.compare(line, end_a - line, b, line, end_b - line) != 0) {
      return "now " + a.substr(line, end_a - line) + ", before " +
             b.substr(line, end_b - line);
    }
    line = end_a + 1;
  }
  return a.size() == b.size() ? "" : "one dump is longer";
}

struct Outcome {
  int operations = 0;
  bool raised = false;
  std::string error;      // what the call raised
  std::string get_error;  // what GetError said afterwards
};

Outcome RunCall(const Call& call, const std::shared_ptr<Connection>& target,
                int fail_at, const std::shared_ptr<MemoryContext>& ctx) {
  auto conn = std::make_shared<FaultyConnection>(target, fail_at);
  std::shared_ptr<Component> object = CreateObject(call.progid);
  if (object->FindMethod("OnStartPage") != nullptr) {
    std::vector<Variant> start{Variant::FromObject(ctx)};
    object->Invoke("OnStartPage", start);
  }
  std::vector<Variant> set_conn{Variant::FromObject(conn)};
  object->Invoke("SetConn", set_conn);
  Outcome out;
  std::vector<Variant> args = call.args;
  try {
    object->Invoke(call.method, args);
  } catch (const Error& e) {
    out.raised = true;
    out.error = e.what();
  }
  out.operations = conn->operations();
  std::vector<Variant> none;
  out.get_error = object->Invoke("GetError", none).ToText();
  return out;
}

class FaultInjectionTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    SignInPolicy policy = CurrentSignInPolicy();
    policy.limits = SignInLimits{};  // their statements are operations too
    SetSignInPolicy(policy);
  }
};

INSTANTIATE_TEST_SUITE_P(Databases, FaultInjectionTest,
                         ::testing::ValuesIn(TestDatabases()));

TEST_P(FaultInjectionTest, EveryFailureIsReportedAndLeavesNothingHalfWritten) {
  int failures_tried = 0;
  for (const Call& call : Calls()) {
    SCOPED_TRACE(std::string(call.progid) + "." + call.method);
    // A call that writes nothing can be failed on one database over and
    // over; one that writes gets a fresh one for each failure.
    auto db = std::make_unique<TestDb>(GetParam(), /*demo=*/true);
    const std::string untouched = Dump(*db);
    const Outcome clean = RunCall(call, db->conn(), 0, PageFor(call));
    ASSERT_FALSE(clean.raised) << clean.error;
    const int operations = clean.operations;
    const bool writes = Dump(*db) != untouched;
    ASSERT_GT(operations, 0);
    for (int n = 1; n <= operations; ++n) {
      SCOPED_TRACE("operation " + std::to_string(n) + " of " +
                   std::to_string(operations));
      if (writes || n == 1) {
        db = std::make_unique<TestDb>(GetParam(), /*demo=*/true);
      }
      const std::string before = Dump(*db);
      const auto ctx = PageFor(call);
      const auto session_before = ctx->session_obj->values();
      const Outcome failed = RunCall(call, db->conn(), n, ctx);
      ++failures_tried;
      EXPECT_TRUE(failed.raised);
      EXPECT_NE(failed.error.find("injected failure"), std::string::npos)
          << failed.error;
      EXPECT_EQ(failed.get_error, failed.error);
      EXPECT_EQ(FirstDifference(Dump(*db), before), "");
      EXPECT_EQ(ctx->session_obj->values(), session_before);
      EXPECT_TRUE(ctx->response_obj->cookies().empty());
      EXPECT_EQ(db->conn()->transaction_depth(), 0);
    }
  }
  EXPECT_GT(failures_tried, static_cast<int>(Calls().size()));
}

}  // namespace
}  // namespace wrenhaven
