// The administration pages over HTTP on a real demo database: who may use
// them, the form token that every change needs, what reaches the database,
// and how typed values come back in the pages.
#include <gtest/gtest.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <regex>

#include "testing/test_db.h"
#include "tests/http/http_support.h"
#include "web/office_pages.h"
#include "wrenhaven/dialect.h"
#include "wrenhaven/http_host.h"
#include "wrenhaven/postgres.h"
#include "wrenhaven/sqlite.h"

namespace wrenhaven::testing {
namespace {

// Every administration page and sub-page, as a link or a bookmark reaches
// it.
const std::vector<std::string> kAdminAddresses = {
    "/admin/menus",
    "/admin/menus/new?parent=15",
    "/admin/menus/edit?id=2",
    "/admin/menus/delete?id=2",
    "/admin/functions",
    "/admin/functions/new",
    "/admin/functions/edit?id=1",
    "/admin/functions/delete?id=1",
    "/admin/roles?size=2&page=2",
    "/admin/roles/new",
    "/admin/roles/edit?id=2",
    "/admin/roles/delete?id=2",
    "/admin/logins",
    "/admin/logins/person?id=1",
    "/admin/logins/record?id=1",
    "/admin/attendance",
    "/admin/attendance/csv",
    "/admin/rights",
    "/admin/rights/role?id=3",
    "/admin/rights/person?id=2",
    "/admin/sessions",
    "/admin/sessions?account=ann&size=5&page=1",
    "/admin/audit",
    "/admin/audit?kind=menu&from=2026-01-01&size=5&page=1",
    "/admin/audit/csv",
};

// The policy of every administration page, and what it would refuse
// there: style attributes and elements, event handler attributes,
// "javascript:" addresses and script elements with text of their own.
constexpr char kPolicy[] =
    "default-src 'self'; script-src 'self'; style-src 'self'; "
    "img-src 'self' data:; object-src 'none'; base-uri 'none'; "
    "form-action 'self'; frame-ancestors 'self'";
const std::regex kInline(
    "\\sstyle=|<style|\\son[a-z]+=|javascript:|<script(?![^>]*\\ssrc=)",
    std::regex::icase);

// A memory store through which a test can change a session's values as
// they are loaded, as if an earlier page had written them.
class AlteringStore : public SessionStore {
 public:
  using Alter = std::function<void(Entry&)>;
  explicit AlteringStore(Alter alter)
      : inner_(MakeMemorySessionStore({})), alter_(std::move(alter)) {}
  std::optional<Entry> Load(const std::string& id) override {
    auto entry = inner_->Load(id);
    if (entry) alter_(*entry);
    return entry;
  }
  void Save(const std::string& id, Entry entry) override {
    inner_->Save(id, std::move(entry));
  }
  void Remove(const std::string& id) override { inner_->Remove(id); }

 private:
  std::unique_ptr<SessionStore> inner_;
  Alter alter_;
};

// The form token of a page's forms; "" when the page has none.
std::string TokenOf(const std::string& page) {
  static const std::regex token(
      "<input type=\"hidden\" name=\"token\" value=\"([0-9a-f]*)\">");
  std::smatch m;
  return std::regex_search(page, m, token) ? m[1].str() : "";
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

size_t Occurrences(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos;
       at = text.find(part, at + 1)) {
    ++n;
  }
  return n;
}

// The table row of `page` that starts at `marker`, up to its "</tr>".
std::string RowOf(const std::string& page, const std::string& marker) {
  const std::string from =
      page.substr(std::min(page.find(marker), page.size()));
  return from.substr(0, from.find("</tr>"));
}

class AdminTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    spdlog::set_level(spdlog::level::warn);
    db_ = std::make_unique<TestDb>(GetParam(), /*demo=*/true);
    host_ = Start();
  }
  void TearDown() override {
    host_.reset();
    spdlog::set_level(spdlog::level::info);
  }

  std::unique_ptr<TestHost> Start(
      std::unique_ptr<SessionStore> store = nullptr) {
    HttpHostOptions options;
    options.log_requests = false;
    return std::make_unique<TestHost>(options, db_->Connections(),
                                      web::AddOfficePages, std::move(store));
  }

  // A signed-in browser (English pages).
  std::unique_ptr<Browser> As(const std::string& who, int port = 0) {
    auto b = std::make_unique<Browser>(port == 0 ? host_->port() : port);
    const Reply r = b->Post("/", Form({{"LoginName", who},
                                       {"LoginPwd", who + "123"},
                                       {"oldwin", "true"}}));
    EXPECT_EQ(r.status, 302) << who;
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
  // The token that a form page of `b`'s session carries.
  static std::string Token(Browser& b) {
    return TokenOf(Get(b, "/admin/functions/new").body);
  }
  // Function 5 (Expenses) becomes Claims at /apps/claims, with `memo`.
  static Reply RenameFunction(Browser& b, const std::string& memo) {
    return Post(b, "/admin/functions/edit",
                {{"token", Token(b)},
                 {"id", "5"},
                 {"FunName", "Claims"},
                 {"FunMemo", memo},
                 {"FunType", "2"},
                 {"FunOrder", "1"},
                 {"FunClass", "Finance"},
                 {"FunUrl", "/apps/claims"}});
  }

  int64_t Count(const std::string& query) {
    return db_->Scalar(query).ToLong();
  }
  std::string Text(const std::string& query) {
    return db_->Scalar(query).ToText();
  }
  // The first column of every row, comma-joined.
  std::string Column(const std::string& query) {
    auto rs = db_->conn()->Open(query, CursorType::kForwardOnly);
    std::string out;
    for (; !rs->Eof(); rs->MoveNext()) {
      if (!out.empty()) out += ",";
      out += rs->Value(0).ToText();
    }
    return out;
  }

  std::unique_ptr<TestDb> db_;
  std::unique_ptr<TestHost> host_;
};

// ----- Who may use the pages

TEST_P(AdminTest, EveryPageIsForbiddenToVisitorsWhoAreNotSignedIn) {
  Browser anyone(host_->port());
  for (const std::string& path : kAdminAddresses) {
    const Reply r = Get(anyone, path);
    EXPECT_EQ(r.status, 403) << path;
    EXPECT_TRUE(Has(r.body, "Please sign in first.")) << path;
    EXPECT_TRUE(Has(r.body, "<a href=\"/\" target=\"_top\" id=\"sign-in\">"))
        << path;
    EXPECT_FALSE(Has(r.body, "Ann Carter")) << path;
    EXPECT_FALSE(Has(r.body, "/apps/mail")) << path;
  }
  // Nor a session cookie for them.
  EXPECT_EQ(anyone.Cookie("WRENHAVEN_SESSION"), "");
}

TEST_P(AdminTest, EveryPageIsForbiddenToPeopleWithoutTheAdministratorRole) {
  // Ben is a clerk; Hal holds no role at all.
  for (const char* who : {"ben", "hal"}) {
    auto b = As(who);
    for (const std::string& path : kAdminAddresses) {
      const Reply r = Get(*b, path);
      EXPECT_EQ(r.status, 403) << who << " " << path;
      EXPECT_TRUE(Has(r.body, "Your roles do not allow")) << path;
      EXPECT_FALSE(Has(r.body, "id=\"sign-in\"")) << path;
      EXPECT_EQ(TokenOf(r.body), "") << path;
    }
  }
  auto ann = As("ann");
  for (const std::string& path : kAdminAddresses) {
    const Reply r = Get(*ann, path);
    EXPECT_EQ(r.status, 200) << path;
    // Under the plain policy, with nothing inline that it would refuse.
    EXPECT_EQ(r.All("Content-Security-Policy"),
              std::vector<std::string>{kPolicy})
        << path;
    std::smatch inline_text;
    EXPECT_FALSE(std::regex_search(r.body, inline_text, kInline))
        << path << ": " << inline_text.str();
  }
}

TEST_P(AdminTest, ForbiddenPostsChangeNothing) {
  auto ben = As("ben");
  const int64_t functions = Count("SELECT COUNT(*) FROM SYS_Function");
  const int64_t grants = Count("SELECT COUNT(*) FROM SYS_right");
  // Even with his own session's token in the form.
  auto ann = As("ann");
  Get(*ben, "/MyOffice/");
  const std::string token = Token(*ann);
  const struct {
    const char* path;
    std::pair<std::string, std::string> a, b;
  } posts[] = {
      {"/admin/functions/new", {"FunName", "Ben's"}, {"FunUrl", "/x"}},
      {"/admin/menus/delete", {"id", "2"}, {"id", "2"}},
      {"/admin/rights/role", {"id", "3"}, {"menu", "16"}},
      {"/admin/rights/person", {"id", "2"}, {"role", "1"}},
      {"/admin/sessions/end-person", {"person", "1"}, {"person", "1"}}};
  for (const std::string& t : {std::string(), token}) {
    for (const auto& p : posts) {
      EXPECT_EQ(Post(*ben, p.path, {{"token", t}, p.a, p.b}).status, 403)
          << p.path;
    }
  }
  EXPECT_EQ(Count("SELECT COUNT(*) FROM SYS_Function"), functions);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM SYS_right"), grants);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM SYS_Menu WHERE MenuID=2"), 1);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM SYS_PersonRole WHERE PersonID=2"), 1);
  // Ann's sessions were not ended either.
  EXPECT_EQ(Get(*ann, "/admin/sessions").status, 200);
}

TEST_P(AdminTest, EachPageNeedsItsOwnGrantReadAtEveryPage) {
  auto ann = As("ann");
  auto ben = As("ben");
  // Administrators lose the menus page (menu 16 opens /admin/menus), and
  // clerks gain it: both at their next page, without signing in again.
  db_->Exec("DELETE FROM SYS_right WHERE menuID=16 AND roleID=1");
  db_->Exec("INSERT INTO SYS_right (menuID, roleID) VALUES (16, 3)");
  EXPECT_EQ(Get(*ann, "/admin/menus/edit?id=2").status, 403);
  EXPECT_EQ(Get(*ann, "/admin/functions").status, 200);
  EXPECT_EQ(Get(*ben, "/admin/menus").status, 200);
  EXPECT_EQ(Get(*ben, "/admin/functions").status, 403);
  // A function moved to another address takes its page's grant with it.
  db_->Exec("UPDATE SYS_Function SET FunUrl='/admin/old' WHERE FunID=12");
  EXPECT_EQ(Get(*ann, "/admin/functions").status, 403);
}

TEST_P(AdminTest, TheSessionRoleListMustBeWholeNumbers) {
  Variant roles;
  auto store =
      std::make_unique<AlteringStore>([&roles](SessionStore::Entry& entry) {
        for (auto& [key, value] : entry.values) {
          if (key == "RoleID" && !roles.is_empty()) value = roles;
        }
      });
  auto host = Start(std::move(store));
  auto hal = As("hal", host->port());
  auto ann = As("ann", host->port());
  // Hal holds no role; a list that would widen the statement is refused
  // before anything asks the database.
  for (const char* forged : {"1) OR (1=1", "0) OR 1=1 --", "1,", "x"}) {
    roles = Variant::String(forged);
    EXPECT_EQ(Get(*hal, "/admin/menus").status, 403) << forged;
  }
  roles = Variant::String("5, 1");
  EXPECT_EQ(Get(*hal, "/admin/menus").status, 200);
  roles = Variant::Long(1);
  EXPECT_EQ(Get(*ann, "/admin/menus").status, 200);
  roles = Variant::Long(3);
  EXPECT_EQ(Get(*ann, "/admin/menus").status, 403);
}

TEST_P(AdminTest, UnknownAddressesBelowAdmin) {
  Browser anyone(host_->port());
  EXPECT_EQ(Get(anyone, "/admin/nothing").status, 403);
  auto ann = As("ann");
  EXPECT_EQ(Get(*ann, "/admin/nothing").status, 404);
  EXPECT_EQ(Get(*ann, "/admin/").status, 404);
  EXPECT_EQ(Get(*ann, "/admin/menus/other").status, 404);
  auto ben = As("ben");
  EXPECT_EQ(Get(*ben, "/admin/menus/other").status, 403);
}

// ----- The form token

TEST_P(AdminTest, ChangesNeedTheSessionsToken) {
  auto ann = As("ann");
  const std::string token = Token(*ann);
  ASSERT_EQ(token.size(), 64u);
  // The same token on every form of the session.
  EXPECT_EQ(TokenOf(Get(*ann, "/admin/rights/role?id=3").body), token);
  auto ivy = As("ivy");
  const std::string other = Token(*ivy);
  EXPECT_NE(other, token);

  const auto add = [&](const std::string& t) {
    return Post(
        *ann, "/admin/functions/new",
        {{"token", t}, {"FunName", "Payroll"}, {"FunUrl", "/apps/pay"}});
  };
  std::string upper = token;
  for (char& c : upper) c = static_cast<char>(std::toupper(c));
  for (const std::string& bad :
       {std::string(), other, token.substr(0, 63), token + "0", upper}) {
    const Reply r = add(bad);
    EXPECT_EQ(r.status, 403) << bad;
    EXPECT_TRUE(Has(r.body, "Nothing was changed.")) << bad;
  }
  // Given twice, once right: still not the token.
  EXPECT_EQ(Post(*ann, "/admin/menus/delete",
                 {{"token", "x"}, {"token", token}, {"id", "2"}})
                .status,
            403);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM SYS_Function WHERE FunName='Payroll'"),
            0);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM SYS_Menu WHERE MenuID=2"), 1);
  // In the query string it does not count either.
  EXPECT_EQ(ann->Post("/admin/functions/new?token=" + token,
                      Form({{"FunName", "Payroll"}}))
                .status,
            403);

  const Reply ok = add(token);
  EXPECT_EQ(ok.status, 302);
  EXPECT_EQ(ok.Header("Location"), "/admin/functions?done=added");
  EXPECT_EQ(Count("SELECT COUNT(*) FROM SYS_Function WHERE FunName='Payroll' "
                  "AND FunUrl='/apps/pay'"),
            1);
}

TEST_P(AdminTest, ASignInStartsANewToken) {
  auto ann = As("ann");
  const std::string first = Token(*ann);
  // Signing out and in again in the same browser.
  Get(*ann, "/");
  ann->Post("/", Form({{"LoginName", "ann"}, {"LoginPwd", "ann123"}}));
  const std::string second = Token(*ann);
  EXPECT_EQ(second.size(), 64u);
  EXPECT_NE(second, first);
  EXPECT_EQ(
      Post(*ann, "/admin/menus/delete", {{"token", first}, {"id", "2"}}).status,
      403);
}

TEST_P(AdminTest, GetsNeverChangeAnything) {
  auto ann = As("ann");
  const auto counts = [&] {
    return Text(
        "SELECT COUNT(*) || '/' || (SELECT COUNT(*) FROM SYS_Function) || '/' "
        "|| (SELECT COUNT(*) FROM SYS_right) FROM SYS_Menu");
  };
  const std::string before = counts();
  for (const char* path :
       {"/admin/menus/delete?id=2",
        "/admin/menus/new?MenuName=x&token=", "/admin/functions/delete?id=1",
        "/admin/roles/delete?id=2", "/admin/rights/role?id=3&menu=16",
        "/admin/rights/person?id=8&role=1"}) {
    EXPECT_EQ(Get(*ann, path).status, 200) << path;
  }
  const std::string token = Token(*ann);
  EXPECT_EQ(Get(*ann, "/admin/menus/delete?id=2&token=" + token).status, 200);
  EXPECT_EQ(counts(), before);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM SYS_PersonRole WHERE PersonID=8"), 0);
}

// ----- What reaches the database, and what comes back

TEST_P(AdminTest, TypedValuesAreStoredAndShownExactly) {
  auto ann = As("ann");
  const std::string token = Token(*ann);
  const std::string name = "O'Brien's <script>alert(\"x\")</script>";
  const Reply added = Post(*ann, "/admin/functions/new",
                           {{"token", token},
                            {"FunName", name},
                            {"FunMemo", "a,,b"},
                            {"FunType", ""},
                            {"FunOrder", "7"},
                            {"FunClass", "= where"},
                            {"FunUrl", "/apps/x?a='1'&b=(,)"}});
  ASSERT_EQ(added.status, 302) << added.body;
  const std::string id = Text(
      "SELECT FunID FROM SYS_Function WHERE FunOrder=7 AND FunClass='= "
      "where'");
  ASSERT_FALSE(id.empty());
  EXPECT_EQ(Text("SELECT FunName || '|' || FunMemo || '|' || FunUrl || '|' "
                 "|| COALESCE(CAST(FunType AS TEXT), 'null') FROM SYS_Function "
                 "WHERE FunID=" +
                 id),
            name + "|a,,b|/apps/x?a='1'&b=(,)|null");

  const std::string escaped =
      "O&apos;Brien&apos;s &lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt;";
  const Reply list = Get(*ann, "/admin/functions?size=50");
  EXPECT_TRUE(Has(list.body, "<td>" + escaped + "</td>")) << list.body;
  EXPECT_TRUE(Has(list.body, "/apps/x?a=&apos;1&apos;&amp;b=(,)"));
  const Reply form = Get(*ann, "/admin/functions/edit?id=" + id);
  EXPECT_TRUE(Has(form.body, "name=\"FunName\" value=\"" + escaped + "\""))
      << form.body;
  EXPECT_TRUE(Has(form.body, "name=\"FunClass\" value=\"= where\""));
  for (const Reply* r : {&list, &form}) {
    EXPECT_FALSE(Has(r->body, "<script>")) << r->body;
  }

  // The same through a menu and a role.
  ASSERT_EQ(Post(*ann, "/admin/menus/new",
                 {{"token", token},
                  {"MenuName", "<b>Tom's</b>"},
                  {"MenuEnglish", "a,,b"},
                  {"MenuTip", "= where"},
                  {"MenuOrder", "3"},
                  {"FunID", id},
                  {"MenuParentID", ""}})
                .status,
            302);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM SYS_Menu WHERE MenuName='<b>Tom''s</b>'"
                  " AND MenuEnglish='a,,b' AND MenuTip='= where' AND "
                  "MenuParentID IS NULL AND FunID=" +
                  id),
            1);
  EXPECT_FALSE(Has(Get(*ann, "/admin/menus").body, "<b>Tom"));
  // The menu's name in the parent choice of another form.
  EXPECT_TRUE(Has(Get(*ann, "/admin/menus/new").body,
                  ">&lt;b&gt;Tom&apos;s&lt;/b&gt;</option>"));

  ASSERT_EQ(Post(*ann, "/admin/roles/new",
                 {{"token", token},
                  {"RoleName", "Q\"A' <i>"},
                  {"RoleParentID", ""},
                  {"roleLevel", ",,"},
                  {"roleClass", "= where"},
                  {"roleMemo", "(,)"}})
                .status,
            302);
  EXPECT_EQ(Text("SELECT RoleLevel || '|' || RoleClass || '|' || RoleMemo "
                 "FROM SYS_Role WHERE RoleName='Q\"A'' <i>' AND RoleParentID "
                 "IS NULL"),
            ",,|= where|(,)");
  EXPECT_TRUE(
      Has(Get(*ann, "/admin/rights").body, ">Q&quot;A&apos; &lt;i&gt;</a>"));
}

TEST_P(AdminTest, LibraryErrorsAreShownAndTheFormKeepsWhatWasTyped) {
  auto ann = As("ann");
  const std::string token = Token(*ann);
  const int64_t before = Count("SELECT COUNT(*) FROM SYS_Function");
  const Reply r = Post(*ann, "/admin/functions/new",
                       {{"token", token},
                        {"FunName", "Half <done>"},
                        {"FunType", "two"},
                        {"FunUrl", "/apps/half"}});
  EXPECT_EQ(r.status, 200);
  EXPECT_TRUE(Has(r.body,
                  "id=\"error\">FunType must be a number or empty, not "
                  "&quot;two&quot;</div>"))
      << r.body;
  EXPECT_TRUE(Has(r.body, "name=\"FunName\" value=\"Half &lt;done&gt;\""));
  EXPECT_TRUE(Has(r.body, "name=\"FunType\" value=\"two\""));
  EXPECT_EQ(TokenOf(r.body), token);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM SYS_Function"), before);

  // The database's own refusal: a menu order that is no number.
  const Reply menu = Post(*ann, "/admin/menus/new",
                          {{"token", token},
                           {"MenuName", "Kept"},
                           {"MenuOrder", "first"},
                           {"MenuParentID", "15"}});
  EXPECT_EQ(menu.status, 200);
  EXPECT_TRUE(Has(menu.body, "id=\"error\">")) << menu.body;
  EXPECT_TRUE(Has(menu.body, "name=\"MenuName\" value=\"Kept\""));
  EXPECT_TRUE(Has(menu.body, "<option value=\"15\" selected>"));
  EXPECT_EQ(Count("SELECT COUNT(*) FROM SYS_Menu WHERE MenuName='Kept'"), 0);

  // A page past the end.
  const Reply past = Get(*ann, "/admin/roles?size=2&page=9");
  EXPECT_EQ(past.status, 200);
  EXPECT_TRUE(Has(past.body, "id=\"error\">")) << past.body;
  EXPECT_TRUE(Has(past.body,
                  "href=\"/admin/roles?size=2&amp;page=3\" "
                  "rel=\"prev\""))
      << past.body;
}

TEST_P(AdminTest, MenusAreAddedChangedAndDeleted) {
  auto ann = As("ann");
  const std::string token = Token(*ann);
  ASSERT_EQ(Post(*ann, "/admin/menus/new",
                 {{"token", token},
                  {"MenuName", "Reports"},
                  {"MenuOrder", "5"},
                  {"MenuParentID", ""},
                  {"FunID", ""}})
                .status,
            302);
  const std::string top =
      Text("SELECT MenuID FROM SYS_Menu WHERE MenuName='Reports'");
  const Reply added = Post(*ann, "/admin/menus/new",
                           {{"token", token},
                            {"MenuName", "Monthly"},
                            {"MenuOrder", "1"},
                            {"MenuParentID", top},
                            {"FunID", "3"}});
  ASSERT_EQ(added.status, 302);
  // On to the branch the new menu is in.
  EXPECT_EQ(added.Header("Location"),
            "/admin/menus?branch=" + top + "&done=added");
  const std::string child =
      Text("SELECT MenuID FROM SYS_Menu WHERE MenuName='Monthly'");
  // In the tree: after Sales (order 4), before Administration (order 9),
  // the child right below it and one level deeper.
  const std::string tree = Get(*ann, "/admin/menus?branch=" + top).body;
  const size_t sales = tree.find("data-id=\"12\" data-level=\"1\"");
  const size_t reports = tree.find("data-id=\"" + top + "\" data-level=\"1\"");
  const size_t monthly =
      tree.find("data-id=\"" + child + "\" data-level=\"2\"");
  const size_t admin = tree.find("data-id=\"15\" data-level=\"1\"");
  EXPECT_LT(sales, reports);
  EXPECT_LT(reports, monthly);
  EXPECT_LT(monthly, admin);
  EXPECT_NE(admin, std::string::npos);
  // The first level alone, each with the link that opens its branch.
  const std::string first = Get(*ann, "/admin/menus").body;
  EXPECT_TRUE(Has(first, "data-id=\"" + top + "\" data-level=\"1\""));
  EXPECT_FALSE(Has(first, "data-id=\"" + child + "\""));
  EXPECT_TRUE(Has(first, "href=\"/admin/menus?branch=" + top +
                             "\" class=\"branch\">Open</a>"));

  // The edit form is filled from the menu; a menu cannot go below its own
  // child.
  const std::string form = Get(*ann, "/admin/menus/edit?id=" + top).body;
  EXPECT_TRUE(Has(form, "name=\"MenuName\" value=\"Reports\""));
  EXPECT_FALSE(Has(form, "<option value=\"" + child + "\""));
  const Reply loop = Post(*ann, "/admin/menus/edit",
                          {{"token", token},
                           {"id", top},
                           {"MenuName", "Reports"},
                           {"MenuParentID", child}});
  EXPECT_EQ(loop.status, 200);
  EXPECT_TRUE(Has(loop.body, "cannot be placed under itself"));
  EXPECT_EQ(Count("SELECT COUNT(*) FROM SYS_Menu WHERE MenuParentID IS NULL "
                  "AND MenuID=" +
                  top),
            1);

  EXPECT_EQ(Post(*ann, "/admin/menus/edit",
                 {{"token", token},
                  {"id", child},
                  {"MenuName", "Monthly sums"},
                  {"MenuOrder", ""},
                  {"MenuParentID", top},
                  {"FunID", ""}})
                .Header("Location"),
            "/admin/menus?branch=" + child + "&done=saved");
  EXPECT_EQ(Count("SELECT COUNT(*) FROM SYS_Menu WHERE MenuName='Monthly "
                  "sums' AND FunID IS NULL AND MenuOrder IS NULL"),
            1);

  // Deleting asks first, and says what stays.
  const Reply ask = Get(*ann, "/admin/menus/delete?id=" + top);
  EXPECT_TRUE(Has(ask.body, "id=\"what\">Reports</p>"));
  EXPECT_TRUE(Has(ask.body, "sub-menus and its grants to roles stay"));
  EXPECT_TRUE(Has(ask.body, "Sub-menus: 1."));
  db_->Exec("INSERT INTO SYS_right (menuID, roleID) VALUES (" + top + ", 2)");
  EXPECT_EQ(Post(*ann, "/admin/menus/delete", {{"token", token}, {"id", top}})
                .Header("Location"),
            "/admin/menus?done=deleted");
  EXPECT_EQ(Count("SELECT COUNT(*) FROM SYS_Menu WHERE MenuID=" + top), 0);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM SYS_Menu WHERE MenuID=" + child), 1);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM SYS_right WHERE menuID=" + top), 1);
  EXPECT_EQ(Get(*ann, "/admin/menus/delete?id=" + top).status, 404);
  // In the system's own language.
  EXPECT_TRUE(Has(ann->Get("/admin/menus/edit?id=" + top).body,
                  "id=\"message\">没有此菜单：" + top + "</p>"));
  EXPECT_EQ(Get(*ann, "/admin/menus/edit?id=abc").status, 404);
}

TEST_P(AdminTest, AMenuTheTreeCannotListCanStillBeMended) {
  // A menu numbered 0 would stand for the first level: the listing
  // refuses the tree, and the pages still reach the menu by its number.
  db_->Exec(
      "INSERT INTO SYS_Menu (MenuID, MenuParentID, MenuName, MenuOrder) "
      "VALUES (0, NULL, 'Zero', 1)");
  auto ann = As("ann");
  const std::string token = Token(*ann);
  const Reply tree = Get(*ann, "/admin/menus");
  EXPECT_EQ(tree.status, 200);
  EXPECT_TRUE(Has(tree.body,
                  "id=\"error\">The menu tree cannot be listed: "
                  "menu 0"))
      << tree.body;
  const Reply form = Get(*ann, "/admin/menus/edit?id=0");
  EXPECT_EQ(form.status, 200);
  EXPECT_TRUE(Has(form.body, "name=\"MenuName\" value=\"Zero\""));
  const Reply rights = Get(*ann, "/admin/rights/role?id=3");
  EXPECT_TRUE(Has(rights.body, "id=\"error\">The menu tree cannot be listed"));
  // Nothing is saved without the tree.
  EXPECT_EQ(Post(*ann, "/admin/rights/role",
                 {{"token", token}, {"id", "3"}, {"menu", "1"}})
                .status,
            200);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM SYS_right WHERE roleID=3"), 6);
  // A menu cannot become its own parent either.
  EXPECT_TRUE(Has(Post(*ann, "/admin/menus/edit",
                       {{"token", token},
                        {"id", "0"},
                        {"MenuName", "Zero"},
                        {"MenuParentID", "0"}})
                      .body,
                  "cannot be placed under itself"));
  EXPECT_EQ(
      Post(*ann, "/admin/menus/delete", {{"token", token}, {"id", "0"}}).status,
      302);
  const Reply mended = Get(*ann, "/admin/menus");
  EXPECT_FALSE(Has(mended.body, "id=\"error\""));
  EXPECT_TRUE(Has(mended.body, "data-id=\"15\" data-level=\"1\""));
}

TEST_P(AdminTest, CataloguesPageByPage) {
  for (int i = 1; i <= 20; ++i) {
    db_->Exec("INSERT INTO SYS_Role (RoleName, RoleClass) VALUES ('R" +
              std::to_string(100 + i) + "', 'Z')");
  }
  auto ann = As("ann");
  const auto rows = [](const std::string& page) {
    return Occurrences(page, "<tr data-id=");
  };
  // 25 roles: 10, 10 and 5.
  EXPECT_EQ(rows(Get(*ann, "/admin/roles").body), 10u);
  const std::string third = Get(*ann, "/admin/roles?size=10&page=3").body;
  EXPECT_EQ(rows(third), 5u);
  EXPECT_TRUE(Has(third, "id=\"of\">Page 3 / 3</span>"));
  EXPECT_TRUE(Has(third,
                  "href=\"/admin/roles?size=10&amp;page=2\" "
                  "rel=\"prev\""));
  EXPECT_FALSE(Has(third, "rel=\"next\""));
  EXPECT_TRUE(Has(third, "id=\"count\">25</span>"));
  EXPECT_TRUE(Has(Get(*ann, "/admin/roles?size=7").body,
                  "<option value=\"7\" selected>"));
  const Reply bad = Get(*ann, "/admin/roles?size=many");
  EXPECT_EQ(bad.status, 200);
  EXPECT_TRUE(Has(bad.body, "id=\"error\">"));
  // Sizes past 100 show 100; the largest numbers the page reads are a page
  // past the end, and past them no number at all.
  const std::string most = Get(*ann, "/admin/roles?size=100000").body;
  EXPECT_EQ(rows(most), 25u);
  EXPECT_TRUE(Has(most, "<option value=\"100\" selected>"));
  const Reply huge = Get(*ann, "/admin/roles?size=2147483647&page=2147483647");
  EXPECT_EQ(huge.status, 200);
  EXPECT_TRUE(Has(huge.body, "id=\"error\">"));
  EXPECT_TRUE(
      Has(huge.body, "href=\"/admin/roles?size=100&amp;page=1\" rel=\"prev\""))
      << huge.body;
  for (const char* past : {"/admin/roles?size=99999999999",
                           "/admin/roles?size=10&page=99999999999",
                           "/admin/roles?size=-5&page=-1"}) {
    const Reply r = Get(*ann, past);
    EXPECT_EQ(r.status, 200) << past;
    EXPECT_TRUE(Has(r.body, "id=\"error\">")) << past;
    EXPECT_EQ(rows(r.body), 0u) << past;
  }
  // Sorted by class: the demo's four Staff roles, then System, then the
  // new ones.
  const std::string first = Get(*ann, "/admin/roles?size=5&page=1").body;
  EXPECT_LT(first.rfind("<td>Staff</td>"), first.find("<td>System</td>"));
  EXPECT_TRUE(Has(first, "<td>Administrator</td>"));
  EXPECT_FALSE(Has(first, "<td>Z</td>"));
}

TEST_P(AdminTest, FunctionsAreChangedAndDeleted) {
  auto ann = As("ann");
  const std::string token = Token(*ann);
  EXPECT_TRUE(Has(Get(*ann, "/admin/functions/edit?id=5").body,
                  "name=\"FunUrl\" value=\"/apps/expenses\""));
  ASSERT_EQ(RenameFunction(*ann, "Expense claims").status, 302);
  EXPECT_EQ(Text("SELECT FunName || FunUrl FROM SYS_Function WHERE FunID=5"),
            "Claims/apps/claims");
  EXPECT_TRUE(Has(Get(*ann, "/admin/functions/delete?id=5").body,
                  "id=\"what\">Claims</p>"));
  ASSERT_EQ(
      Post(*ann, "/admin/functions/delete", {{"token", token}, {"id", "5"}})
          .status,
      302);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM SYS_Function WHERE FunID=5"), 0);
  // The menu that opened it stays.
  EXPECT_EQ(Count("SELECT COUNT(*) FROM SYS_Menu WHERE FunID=5"), 1);
  EXPECT_EQ(Get(*ann, "/admin/functions/edit?id=5").status, 404);
}

// The tree names each menu's function from the catalogue as it is at that
// request: changed through the pages or straight in the database (as by
// another server), the next tree shows the change.
TEST_P(AdminTest, TheTreeNamesFunctionsAsTheyAreNow) {
  auto ann = As("ann");
  const std::string tree = "/admin/menus?branch=6";
  const std::string shown =
      "<span class=\"fun\">Expenses</span> <code>/apps/expenses</code>";
  EXPECT_TRUE(Has(Get(*ann, tree).body, shown));
  EXPECT_TRUE(Has(Get(*ann, tree).body, shown));  // kept, the same
  ASSERT_EQ(RenameFunction(*ann, "").status, 302);
  EXPECT_TRUE(
      Has(Get(*ann, tree).body,
          "<span class=\"fun\">Claims</span> <code>/apps/claims</code>"));
  db_->Exec("UPDATE SYS_Function SET FunName='Refunds' WHERE FunID=5");
  EXPECT_TRUE(
      Has(Get(*ann, tree).body,
          "<span class=\"fun\">Refunds</span> <code>/apps/claims</code>"));
  db_->Exec("DELETE FROM SYS_Function WHERE FunID=5");
  EXPECT_TRUE(Has(Get(*ann, tree).body, "<span class=\"fun\">#5</span>"));
}

TEST_P(AdminTest, AdministrationCannotBeGivenAwayByDelegation) {
  // Clerks (Ben) are given the functions and the menus pages, not rights.
  db_->Exec("INSERT INTO SYS_right (menuID, roleID) VALUES (16, 3), (17, 3)");
  auto ben = As("ben");
  const std::string token = Token(*ben);
  ASSERT_FALSE(token.empty());
  const auto function = [&](const std::string& id, const std::string& url) {
    return std::vector<std::pair<std::string, std::string>>{
        {"token", token},  {"id", id},       {"FunName", "Mail"},
        {"FunMemo", "m"},  {"FunType", "1"}, {"FunOrder", "1"},
        {"FunClass", "O"}, {"FunUrl", url}};
  };
  const std::string before =
      Column("SELECT FunID || FunUrl FROM SYS_Function ORDER BY FunID");
  // Every role holds Mail: pointing it at the rights page would hand the
  // rights page to everyone.
  for (const char* url :
       {"/admin/rights", " /ADMIN/rights ", "/Admin", "/admin?x=1"}) {
    const Reply r = Post(*ben, "/admin/functions/edit", function("1", url));
    EXPECT_EQ(r.status, 403) << url;
    EXPECT_TRUE(Has(r.body, "Only a person who may use the rights page"));
  }
  EXPECT_EQ(
      Post(*ben, "/admin/functions/new", function("", "/admin/rights")).status,
      403);
  // Nor may the pages that lead there be moved away or deleted.
  EXPECT_EQ(Post(*ben, "/admin/functions/edit", function("16", "/apps/rights"))
                .status,
            403);
  EXPECT_EQ(
      Post(*ben, "/admin/functions/delete", {{"token", token}, {"id", "16"}})
          .status,
      403);
  EXPECT_EQ(Column("SELECT FunID || FunUrl FROM SYS_Function ORDER BY FunID"),
            before);
  // A menu everyone holds cannot be made to open the rights function, however
  // its number is written; nor can the rights menu be deleted.
  const auto menu = [&](const std::string& fun) {
    return std::vector<std::pair<std::string, std::string>>{
        {"token", token},        {"id", "2"},
        {"FunID", fun},          {"MenuParentID", "1"},
        {"MenuName", "Mail"},    {"MenuTip", ""},
        {"MenuEnglish", "Mail"}, {"MenuEnglishTip", ""},
        {"MenuIcon", ""},        {"MenuOrder", "1"}};
  };
  for (const char* fun : {"16", " +016 "}) {
    EXPECT_EQ(Post(*ben, "/admin/menus/edit", menu(fun)).status, 403) << fun;
  }
  EXPECT_EQ(Post(*ben, "/admin/menus/new", menu("16")).status, 403);
  EXPECT_EQ(Post(*ben, "/admin/menus/delete", {{"token", token}, {"id", "19"}})
                .status,
            403);
  EXPECT_EQ(Text("SELECT FunID FROM SYS_Menu WHERE MenuID=2"), "1");
  EXPECT_EQ(Count("SELECT COUNT(*) FROM SYS_Menu"), 23);
  EXPECT_EQ(Get(*As("cho"), "/admin/rights").status, 403);
  // What does not lead to administration stays Ben's to change
  // ("/administration-guide" is a page of its own).
  EXPECT_EQ(Post(*ben, "/admin/functions/edit",
                 function("1", "/administration-guide"))
                .status,
            302);
  EXPECT_EQ(Post(*ben, "/admin/menus/edit", menu("5")).status, 302);
  // A holder of the rights page may.
  auto ann = As("ann");
  const std::string ann_token = Token(*ann);
  auto by_ann = function("1", "/admin/logins");
  by_ann[0].second = ann_token;
  EXPECT_EQ(Post(*ann, "/admin/functions/edit", by_ann).status, 302);
  EXPECT_EQ(Text("SELECT FunUrl FROM SYS_Function WHERE FunID=1"),
            "/admin/logins");
}

// ----- Rights

// The menus a page lists, by the data-id of its rows (tree) or boxes.
std::string ListedMenus(const std::string& body, const std::string& mark) {
  std::string ids;
  for (size_t at = body.find(mark); at != std::string::npos;
       at = body.find(mark, at + 1)) {
    const size_t from = at + mark.size();
    ids += (ids.empty() ? "" : ",") +
           body.substr(from, body.find('"', from) - from);
  }
  return ids;
}

TEST_P(AdminTest, ThePeopleOfTheRightsPageComeAPageAtATime) {
  std::string values;
  for (int i = 1; i <= 120; ++i) {
    const std::string n = std::to_string(1000 + i);
    values += (i > 1 ? "," : "") +
              ("(" + n + ",'t" + n + "','pw','Temp " + n + "',NULL,NULL)");
  }
  db_->Exec(
      "INSERT INTO HR_person (PersonID, personAccount, personPwd, "
      "PersonName, DeptID, PersonJobCode) VALUES " +
      values + ",(2000,'sure','pw','Hundred% Sure',NULL,NULL)");
  const int64_t everybody = Count("SELECT COUNT(*) FROM HR_person");
  auto ann = As("ann");
  const std::string person = "<li><a href=\"/admin/rights/person?id=";
  const std::string first = Get(*ann, "/admin/rights").body;
  EXPECT_EQ(Occurrences(first, person), 50u);
  EXPECT_TRUE(Has(first, "id=\"count\">" + std::to_string(everybody) + "<"));
  EXPECT_TRUE(Has(first, "id=\"of\">Page 1 / 3</span>"));
  EXPECT_TRUE(Has(first, person + "1\""));
  // Every role is still listed.
  EXPECT_EQ(Occurrences(first, "<li><a href=\"/admin/rights/role?id="),
            static_cast<size_t>(Count("SELECT COUNT(*) FROM SYS_Role")));
  const std::string last = Get(*ann, "/admin/rights?page=3").body;
  EXPECT_EQ(Occurrences(last, person), static_cast<size_t>(everybody - 100));
  EXPECT_TRUE(Has(last, person + "2000\""));

  // The search, and the pages of what it finds.
  const std::string temp = Get(*ann, "/admin/rights?search=TEMP&page=3").body;
  EXPECT_EQ(Occurrences(temp, person), 20u);
  EXPECT_TRUE(Has(temp, person + "1101\""));
  EXPECT_TRUE(Has(temp, "id=\"count\">120<"));
  EXPECT_TRUE(Has(temp, "name=\"search\" value=\"TEMP\""));
  EXPECT_TRUE(Has(temp, "href=\"/admin/rights?page=2&amp;search=TEMP\""));
  const std::string percent = Get(*ann, "/admin/rights?search=%25").body;
  EXPECT_EQ(Occurrences(percent, person), 1u);
  EXPECT_TRUE(Has(percent, person + "2000\""));
  EXPECT_TRUE(Has(Get(*ann, "/admin/rights?search=o%27n%20").body,
                  "name=\"search\" value=\"o&apos;n\""));
  // Past the last page: nobody, and the way back.
  const std::string past = Get(*ann, "/admin/rights?search=temp&page=9").body;
  EXPECT_EQ(Occurrences(past, person), 0u);
  EXPECT_TRUE(Has(past, "Nobody matches."));
  EXPECT_TRUE(Has(past, "rel=\"prev\""));

  // Refused before anything is read, without repeating what was typed.
  // The limit counts characters: 64 of three bytes each are allowed.
  std::string wide;
  for (int i = 0; i < 64; ++i) wide += "%E5%BC%A0";
  for (const std::string& bad :
       {"search=" + std::string(65, 'q'), "search=" + wide + "%E5%BC%A0",
        std::string("page=0"), std::string("page=abc"),
        std::string("page=99999999")}) {
    const Reply r = Get(*ann, "/admin/rights?" + bad);
    EXPECT_EQ(r.status, 400) << bad;
    EXPECT_FALSE(Has(r.body, "qqqq")) << bad;
    EXPECT_EQ(Occurrences(r.body, person), 0u) << bad;
  }
  EXPECT_EQ(Get(*ann, "/admin/rights?search=" + std::string(64, 'q')).status,
            200);
  EXPECT_EQ(Get(*ann, "/admin/rights?search=" + wide).status, 200);
}

TEST_P(AdminTest, TheTreeShowsTheFirstLevelAndOneBranch) {
  auto ann = As("ann");
  db_->Exec(
      "INSERT INTO SYS_Menu (MenuID, MenuParentID, MenuName, MenuOrder) "
      "VALUES (90, 89, 'Orphan', 1), (91, 90, 'Below orphan', 1)");
  const std::string tr = "<tr data-id=\"";
  EXPECT_EQ(ListedMenus(Get(*ann, "/admin/menus").body, tr), "1,6,9,12,15");
  // A first-level menu, or any menu in its branch, opens that branch.
  for (const char* branch : {"6", "7", "8"}) {
    const std::string page =
        Get(*ann, std::string("/admin/menus?branch=") + branch).body;
    EXPECT_EQ(ListedMenus(page, tr), "1,6,7,8,9,12,15") << branch;
    EXPECT_TRUE(Has(page, "data-id=\"8\" data-level=\"2\""));
    EXPECT_TRUE(Has(page, "href=\"/admin/menus\" class=\"branch\">Close</a>"));
  }
  EXPECT_EQ(ListedMenus(Get(*ann, "/admin/menus?branch=15").body, tr),
            "1,6,9,12,15,16,17,18,19,20,21,22,23");
  // A branch that no first-level menu reaches opens at the end.
  const std::string orphan = Get(*ann, "/admin/menus?branch=91").body;
  EXPECT_EQ(ListedMenus(orphan, tr), "1,6,9,12,15,90,91");
  EXPECT_TRUE(Has(orphan, "data-id=\"90\" data-level=\"1\""));
  EXPECT_TRUE(Has(orphan, "data-id=\"91\" data-level=\"2\""));
  for (const char* bad : {"0", "999", "abc", "-6", "6%20or%201=1"}) {
    const Reply r = Get(*ann, std::string("/admin/menus?branch=") + bad);
    EXPECT_EQ(r.status, 404) << bad;
    EXPECT_FALSE(Has(r.body, tr)) << bad;
  }
  // Deleting a sub-menu goes back to its branch.
  EXPECT_EQ(
      Post(*ann, "/admin/menus/delete", {{"token", Token(*ann)}, {"id", "8"}})
          .Header("Location"),
      "/admin/menus?branch=6&done=deleted");
}

TEST_P(AdminTest, TheMenuFormOffersTheFirstLevelAndOneBranchAsParents) {
  auto ann = As("ann");
  // The options of the parent's list after its first ("" for none).
  auto parents = [](const std::string& body) {
    const size_t from = body.find("name=\"MenuParentID\"");
    const std::string list =
        body.substr(from, body.find("</select>", from) - from);
    return ListedMenus(list, "<option value=\"");
  };
  // The branch of the menu's parent, the menu itself and what lies below
  // it left out.
  EXPECT_EQ(parents(Get(*ann, "/admin/menus/edit?id=13").body),
            "1,6,9,12,14,15");
  EXPECT_EQ(parents(Get(*ann, "/admin/menus/edit?id=12").body), "1,6,9,15");
  // A first-level menu's form opens its own branch.
  EXPECT_EQ(parents(Get(*ann, "/admin/menus/edit?id=6").body), "1,9,12,15");
  EXPECT_EQ(parents(Get(*ann, "/admin/menus/new?parent=2").body),
            "1,2,3,4,5,6,9,12,15");
  EXPECT_EQ(parents(Get(*ann, "/admin/menus/new").body), "1,6,9,12,15");
  // A menu moves to another branch through that branch's first-level menu.
  const std::string token = Token(*ann);
  ASSERT_EQ(Post(*ann, "/admin/menus/edit",
                 {{"token", token},
                  {"id", "14"},
                  {"MenuName", "订单"},
                  {"MenuParentID", "1"}})
                .Header("Location"),
            "/admin/menus?branch=14&done=saved");
  EXPECT_EQ(parents(Get(*ann, "/admin/menus/edit?id=13").body), "1,6,9,12,15");
  EXPECT_EQ(parents(Get(*ann, "/admin/menus/edit?id=14").body),
            "1,2,3,4,5,6,9,12,15");
}

TEST_P(AdminTest, RoleGrantsAreReplacedBranchByBranch) {
  auto ann = As("ann");
  const std::string token = Token(*ann);
  // A grant of a menu the tree does not reach (its parent is gone).
  db_->Exec(
      "INSERT INTO SYS_Menu (MenuID, MenuParentID, MenuName, MenuOrder) "
      "VALUES (90, 89, 'Orphan', 1)");
  db_->Exec("INSERT INTO SYS_right (menuID, roleID) VALUES (90, 3)");
  const std::string box = "name=\"menu\" value=\"";
  // The first level alone, with the links to the branches.
  const std::string first = Get(*ann, "/admin/rights/role?id=3").body;
  EXPECT_EQ(ListedMenus(first, box), "1,6,9,12,15");
  EXPECT_TRUE(Has(first, "name=\"menu\" value=\"6\" checked>"));
  EXPECT_TRUE(Has(first, "name=\"menu\" value=\"9\">"));
  EXPECT_TRUE(Has(first, "href=\"/admin/rights/role?id=3&amp;branch=6\""));
  EXPECT_FALSE(Has(first, "name=\"branch\""));
  // One branch: its boxes beside the first level's.
  const std::string page = Get(*ann, "/admin/rights/role?id=3&branch=6").body;
  EXPECT_EQ(ListedMenus(page, box), "1,6,7,8,9,12,15");
  EXPECT_TRUE(Has(page, "name=\"menu\" value=\"7\" checked>"));
  EXPECT_TRUE(Has(page, "name=\"menu\" value=\"8\">"));
  EXPECT_TRUE(Has(page, "name=\"branch\" value=\"6\""));
  EXPECT_FALSE(Has(page, "value=\"90\""));

  // Saving the branch of Finance changes the grants on its form alone:
  // Office's (1 is on the form, 2, 3 and 5 are not) and the orphan's stay,
  // and a box of a menu not on the form (Mail, 2) changes nothing.
  const Reply r = Post(*ann, "/admin/rights/role",
                       {{"token", token},
                        {"id", "3"},
                        {"branch", "6"},
                        {"menu", "1"},
                        {"menu", "6"},
                        {"menu", "8"},
                        {"menu", "13"}});
  EXPECT_EQ(r.Header("Location"),
            "/admin/rights/role?id=3&branch=6&done=saved");
  EXPECT_EQ(Column("SELECT menuID FROM SYS_right WHERE roleID=3 ORDER BY "
                   "menuID"),
            "1,2,3,5,6,8,90");
  // Ben (a clerk) sees Budgets now, at his next page.
  auto ben = As("ben");
  const std::string office = Get(*ben, "/MyOffice/?top=6").body;
  EXPECT_TRUE(Has(office, "/apps/budgets"));
  EXPECT_FALSE(Has(office, "/apps/expenses"));

  // A save on the branch of Office never drops a grant of Finance's.
  EXPECT_EQ(Post(*ann, "/admin/rights/role",
                 {{"token", token},
                  {"id", "3"},
                  {"branch", "1"},
                  {"menu", "1"},
                  {"menu", "4"},
                  {"menu", "6"}})
                .status,
            302);
  EXPECT_EQ(Column("SELECT menuID FROM SYS_right WHERE roleID=3 ORDER BY "
                   "menuID"),
            "1,4,6,8,90");
  // The first-level form: nothing ticked takes the first level's grants
  // alone.
  EXPECT_EQ(
      Post(*ann, "/admin/rights/role", {{"token", token}, {"id", "3"}}).status,
      302);
  EXPECT_EQ(Column("SELECT menuID FROM SYS_right WHERE roleID=3 ORDER BY "
                   "menuID"),
            "4,8,90");

  // Something that is no menu number, or a branch that is no menu,
  // changes nothing.
  EXPECT_EQ(Post(*ann, "/admin/rights/role",
                 {{"token", token}, {"id", "3"}, {"menu", "1 OR 1=1"}})
                .status,
            200);
  for (const char* bad : {"999", "0", "abc"}) {
    EXPECT_EQ(Post(*ann, "/admin/rights/role",
                   {{"token", token}, {"id", "3"}, {"branch", bad}})
                  .status,
              404)
        << bad;
    EXPECT_EQ(
        Get(*ann, std::string("/admin/rights/role?id=3&branch=") + bad).status,
        404)
        << bad;
  }
  EXPECT_EQ(Count("SELECT COUNT(*) FROM SYS_right WHERE roleID=3"), 3);
}

TEST_P(AdminTest, APersonsNewRolesComeWithTheNextPage) {
  auto hal = As("hal");
  auto ann = As("ann");
  const std::string token = Token(*ann);
  EXPECT_EQ(Post(*ann, "/admin/rights/person",
                 {{"token", token}, {"id", "8"}, {"role", "5"}, {"role", "4"}})
                .status,
            302);
  EXPECT_EQ(Column("SELECT RoleID FROM SYS_PersonRole WHERE PersonID=8 "
                   "ORDER BY RoleID"),
            "4,5");
  const std::string page = Get(*ann, "/admin/rights/person?id=8").body;
  EXPECT_TRUE(Has(page, "name=\"role\" value=\"4\" checked>"));
  EXPECT_TRUE(Has(page, "name=\"role\" value=\"1\">"));
  // Hal's open session has them at its next page, as a new sign-in does.
  const std::string open = Get(*hal, "/MyOffice/").body;
  EXPECT_TRUE(Has(open, "data-menu=\"12\""));
  EXPECT_TRUE(Has(open, "data-menu=\"9\""));
  auto again = As("hal");
  const std::string office = Get(*again, "/MyOffice/").body;
  EXPECT_TRUE(Has(office, "data-menu=\"12\""));
  EXPECT_TRUE(Has(office, "data-menu=\"9\""));
  // Nothing ticked: no role at all.
  Post(*ann, "/admin/rights/person", {{"token", token}, {"id", "8"}});
  EXPECT_EQ(Count("SELECT COUNT(*) FROM SYS_PersonRole WHERE PersonID=8"), 0);
  EXPECT_EQ(Get(*ann, "/admin/rights/person?id=99").status, 404);
}

// ----- Login records

TEST_P(AdminTest, LoginRecordsPerPersonAndOne) {
  auto ann = As("ann");
  As("cho");
  As("cho");
  Browser b(host_->port());
  b.Post("/", Form({{"LoginName", "cho"}, {"LoginPwd", "wrong"}}),
         {{"User-Agent", "<img src=x onerror=alert(1)>"}});
  const std::string summary = Get(*ann, "/admin/logins").body;
  EXPECT_TRUE(Has(summary,
                  "<a href=\"/admin/logins/person?id=3\" "
                  "class=\"person\">Cho Nakamura</a>"))
      << summary;
  EXPECT_TRUE(Has(RowOf(summary, "data-id=\"3\""), "<td class=\"num\">2</td>"));

  const std::string history = Get(*ann, "/admin/logins/person?id=3").body;
  // Failed attempts carry no person.
  EXPECT_EQ(Occurrences(history, "class=\"record\">"), 2u);
  const std::string last =
      Text("SELECT MAX(LoginID) FROM HR_Login WHERE personID=3");
  const std::string record = Get(*ann, "/admin/logins/record?id=" + last).body;
  EXPECT_TRUE(Has(record, "<dd>Succeeded</dd>"));
  EXPECT_TRUE(Has(record, "<dd>******</dd>"));
  EXPECT_TRUE(Has(record,
                  "href=\"/admin/logins/person?id=3\" "
                  "id=\"to-person\">Sign-ins of Cho Nakamura</a>"));
  const std::string failed =
      Text("SELECT MAX(LoginID) FROM HR_Login WHERE LoginOK=0");
  const std::string bad = Get(*ann, "/admin/logins/record?id=" + failed).body;
  EXPECT_TRUE(Has(bad, "<dd>&lt;img src=x onerror=alert(1)&gt;</dd>")) << bad;
  EXPECT_FALSE(Has(bad, "<img src=x"));
  EXPECT_EQ(Get(*ann, "/admin/logins/record?id=99999").status, 404);
  EXPECT_EQ(Get(*ann, "/admin/logins/person?id=1%20OR%201=1").status, 404);
}

// The chart `id` of the login records page: its figure element.
std::string FigureOf(const std::string& page, const std::string& id) {
  const size_t from = page.find("<figure class=\"chart\" id=\"" + id + "\">");
  if (from == std::string::npos) return "";
  return page.substr(from, page.find("</figure>", from) - from);
}

// Every match of `pattern` in `text`, its three groups joined by blanks.
std::vector<std::string> Triples(const std::string& text,
                                 const std::regex& pattern) {
  std::vector<std::string> out;
  for (std::sregex_iterator it(text.begin(), text.end(), pattern), end;
       it != end; ++it) {
    out.push_back((*it)[1].str() + " " + (*it)[2].str() + " " + (*it)[3].str());
  }
  return out;
}

// The bars of a chart as "label ok failed", in the order drawn.
std::vector<std::string> BarsOf(const std::string& figure) {
  static const std::regex bar(
      "<g class=\"bar\" data-label=\"([^\"]*)\" data-ok=\"([0-9]+)\" "
      "data-failed=\"([0-9]+)\">");
  return Triples(figure, bar);
}

// The rows of a chart's table of numbers, the same way.
std::vector<std::string> TableOf(const std::string& figure) {
  static const std::regex row(
      "<tr><th scope=\"row\">([^<]*)</th><td>([0-9]+)</td><td>([0-9]+)</td>"
      "</tr>");
  return Triples(figure, row);
}

TEST_P(AdminTest, LoginChartsShowEachDaysAndHoursRecords) {
  auto ann = As("ann");
  // Only the records laid down here, at known times of the database's
  // today and the days before it.
  db_->Exec("DELETE FROM HR_Login");
  const auto at = [&](int days_back, const char* clock, int ok) {
    db_->Exec(
        "INSERT INTO HR_Login (personID, LoginAccount, LoginPwd, LoginOK, "
        "loginTime) VALUES (" +
        std::string(ok ? "3" : "NULL") + ", 'cho', '******', " +
        std::to_string(ok) + ", '" + db_->Day(days_back) + " " + clock + "')");
  };
  const std::string today = db_->Day();
  at(0, "08:05:00", 1);
  at(0, "08:40:00", 1);
  at(0, "08:41:00", 0);
  at(0, "17:00:00", 0);
  at(1, "08:00:00", 1);
  at(6, "23:59:59", 0);
  at(6, "00:00:00", 0);
  at(29, "12:00:00", 1);
  at(30, "12:00:00", 1);  // before the thirty days

  const std::string page = Get(*ann, "/admin/logins").body;
  if (db_->Day() != today) GTEST_SKIP() << "midnight passed";
  const std::string days = FigureOf(page, "day-chart");
  const std::string hours = FigureOf(page, "hour-chart");
  ASSERT_FALSE(days.empty()) << page;
  ASSERT_FALSE(hours.empty()) << page;

  std::vector<std::string> expected_days;
  for (int back = 29; back >= 0; --back) {
    const char* counts = back == 0    ? " 2 2"
                         : back == 1  ? " 1 0"
                         : back == 6  ? " 0 2"
                         : back == 29 ? " 1 0"
                                      : " 0 0";
    expected_days.push_back(db_->Day(back) + counts);
  }
  EXPECT_EQ(BarsOf(days), expected_days);
  EXPECT_EQ(TableOf(days), expected_days);
  std::vector<std::string> expected_hours;
  for (int h = 0; h < 24; ++h) {
    char label[16];
    std::snprintf(label, sizeof label, "%02d:00\u2013%02d:00", h, h + 1);
    expected_hours.push_back(std::string(label) + (h == 8    ? " 2 1"
                                                   : h == 17 ? " 0 1"
                                                             : " 0 0"));
  }
  EXPECT_EQ(BarsOf(hours), expected_hours);
  EXPECT_EQ(TableOf(hours), expected_hours);

  // Named for those who cannot see it, with the totals, and each bar
  // with its numbers.
  EXPECT_TRUE(Has(days,
                  "<svg class=\"chart\" viewBox=\"0 0 640 190\" role=\"img\" "
                  "aria-labelledby=\"day-chart-title day-chart-desc\""));
  EXPECT_TRUE(Has(days,
                  "<title id=\"day-chart-title\">Sign-ins per day, last 30 "
                  "days</title>"));
  EXPECT_TRUE(Has(days,
                  "<desc id=\"day-chart-desc\">4 sign-ins and 4 failed "
                  "attempts in the last 30 days.</desc>"));
  EXPECT_TRUE(Has(hours,
                  "<desc id=\"hour-chart-desc\">2 sign-ins and 2 failed "
                  "attempts today.</desc>"));
  EXPECT_TRUE(
      Has(days, "<title>" + today + ": 2 sign-ins, 2 failed attempts</title>"));
  // A day without records draws no rectangle; the others one per kind.
  const std::string empty_day = RowOf(days, "data-label=\"" + db_->Day(2));
  EXPECT_FALSE(Has(empty_day.substr(0, empty_day.find("</g>")), "<rect"));
  const std::string full = days.substr(days.find("data-label=\"" + today));
  EXPECT_EQ(Occurrences(full.substr(0, full.find("</g>")), "<rect"), 2u);
  // Drawn with attributes and the stylesheet only.
  EXPECT_FALSE(Has(page, "style=\""));

  // Chinese pages get Chinese words.
  const std::string chinese = ann->Get("/admin/logins").body;
  EXPECT_TRUE(Has(FigureOf(chinese, "day-chart"),
                  "<title id=\"day-chart-title\">近 30 天每天的登录</title>"));
  EXPECT_EQ(BarsOf(FigureOf(chinese, "hour-chart")).size(), 24u);
}

TEST_P(AdminTest, AttendanceMonthAsCalendarAndCsv) {
  const auto at = [&](int person, const std::string& time) {
    db_->Exec(
        "INSERT INTO HR_Login (personID, LoginAccount, LoginPwd, LoginOK, "
        "loginTime) VALUES (" +
        std::to_string(person) + ", 'x', '******', 1, '" + time + "')");
  };
  at(3, "2024-05-06 09:20:00");  // Cho, Monday: late
  at(3, "2024-05-06 08:10:00");  // earlier the same day: not late
  at(3, "2024-05-06 05:30:00");  // before 06:00: not counted
  at(5, "2024-05-04 09:00:00");  // Eva, Saturday, on the minute
  at(1, "2024-05-31 10:15:00");  // Ann
  at(1, "2024-06-01 07:00:00");  // the next month
  auto ann = As("ann");
  const std::string grid =
      Get(*ann, "/admin/attendance?month=2024-05&start=09:00").body;
  EXPECT_TRUE(Has(grid, "<h1 id=\"heading\">Attendance 2024-05</h1>"));
  EXPECT_TRUE(Has(RowOf(grid, "data-person=\"3\""),
                  "<td title=\"2 sign-ins that day\">08:10</td>"));
  EXPECT_TRUE(Has(RowOf(grid, "data-person=\"5\""),
                  "<td class=\"weekend\" title=\"1 sign-ins that day\">09:00"
                  "</td>"));
  EXPECT_TRUE(Has(grid,
                  "<td class=\"late\" title=\"1 sign-ins that day\">"
                  "10:15</td>"));
  // Departments in order, each with its name.
  EXPECT_LT(grid.find("<th colspan=\"32\">Management</th>"),
            grid.find("<th colspan=\"32\">Engineering</th>"));
  EXPECT_TRUE(
      Has(grid, "href=\"/admin/attendance?month=2024-04&amp;start=09:00\""));
  EXPECT_TRUE(Has(grid, "download=\"attendance-2024-05.csv\""));

  const Reply csv =
      Get(*ann, "/admin/attendance/csv?month=2024-05&start=08:00");
  EXPECT_EQ(csv.status, 200);
  EXPECT_EQ(csv.Header("Content-Type"), "text/csv; charset=utf-8");
  const std::string days = ",,,,,,,,,,,,,,,,,,,,,,,,,";
  EXPECT_EQ(csv.body,
            "\xEF\xBB\xBF"
            "Department,Person,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,"
            "19,20,21,22,23,24,25,26,27,28,29,30,31,Late days\r\n"
            "Management,Ann Carter,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,10:15,1\r\n"
            "Engineering,Cho Nakamura,,,,,,08:10" +
                days +
                ",1\r\n"
                "Sales,Eva Lindqvist,,,,09:00,," +
                days + ",1\r\n");
  // A typed value that is no month is said so, without showing it again;
  // the CSV refuses it.
  const Reply typo = Get(*ann, "/admin/attendance?month=Mayx&start=25:00");
  EXPECT_TRUE(Has(typo.body, "The month is written YYYY-MM."));
  EXPECT_TRUE(Has(typo.body, "The time of day is written HH:MM."));
  EXPECT_FALSE(Has(typo.body, "Mayx"));
  EXPECT_FALSE(Has(typo.body, "25:00"));
  EXPECT_EQ(Get(*ann, "/admin/attendance/csv?month=2024-5x").status, 400);
  EXPECT_TRUE(
      Has(Get(*ann, "/admin/attendance?month=1999-01").body, "id=\"nobody\""));
}

// Every listing of the login records shows a page of 50 rows with links to
// the pages either side: 120 more people signed in, each in a department
// of the demo office, one of them 60 times.
TEST_P(AdminTest, LoginListingsComeAPageAtATime) {
  std::string people, records;
  for (int p = 1001; p <= 1120; ++p) {
    people += std::string(people.empty() ? "" : ",") + "(" + std::to_string(p) +
              ",'x" + std::to_string(p) + "','pw','Extra " + std::to_string(p) +
              "',1)";
    const int day = p % 28 + 1;
    records += std::string(records.empty() ? "" : ",") + "(" +
               std::to_string(p) + ",'x','******',1,'2024-05-" +
               (day < 10 ? "0" : "") + std::to_string(day) + " 08:00:00')";
  }
  for (int n = 0; n < 60; ++n) {
    records += ",(1001,'x','******',1,'2024-05-01 09:" +
               std::string(n < 10 ? "0" : "") + std::to_string(n) + ":00')";
  }
  db_->Exec(
      "INSERT INTO HR_person (PersonID, personAccount, personPwd, "
      "PersonName, DeptID) VALUES " +
      people);
  db_->Exec(
      "INSERT INTO HR_Login (personID, LoginAccount, LoginPwd, LoginOK, "
      "loginTime) VALUES " +
      records);
  auto ann = As("ann");
  const auto rows = [](const std::string& body, const std::string& mark) {
    size_t n = 0;
    for (size_t at = body.find(mark); at != std::string::npos;
         at = body.find(mark, at + 1)) {
      ++n;
    }
    return n;
  };

  // The summary: ann's sign-in and the 120 extra people, 50 a page.
  const std::string first = Get(*ann, "/admin/logins").body;
  EXPECT_EQ(rows(first, "class=\"person\""), 50u);
  EXPECT_TRUE(Has(first, "<a href=\"/admin/logins?page=2\" rel=\"next\""));
  EXPECT_FALSE(Has(first, "rel=\"prev\""));
  const std::string last = Get(*ann, "/admin/logins?page=3").body;
  EXPECT_EQ(rows(last, "class=\"person\""), 121u - 100u);
  EXPECT_TRUE(Has(last, "<a href=\"/admin/logins?page=2\" rel=\"prev\""));
  EXPECT_FALSE(Has(last, "rel=\"next\""));
  EXPECT_TRUE(Has(last, "Page 3"));
  // A page number that is none shows the first page; one far past the end
  // the last page a link may ask for, empty, with the way back.
  EXPECT_EQ(Get(*ann, "/admin/logins?page=x1").body, first);
  EXPECT_EQ(Get(*ann, "/admin/logins?page=99999999999").body, first);
  const std::string beyond = Get(*ann, "/admin/logins?page=5000000").body;
  EXPECT_EQ(rows(beyond, "class=\"person\""), 0u);
  EXPECT_TRUE(Has(beyond, "Page 1000000"));
  EXPECT_TRUE(Has(beyond, "?page=999999\" rel=\"prev\""));

  // One person's 61 records: 50, then 11.
  const std::string history = Get(*ann, "/admin/logins/person?id=1001").body;
  EXPECT_EQ(rows(history, "class=\"record\""), 50u);
  EXPECT_TRUE(Has(history,
                  "href=\"/admin/logins/person?id=1001&amp;page=2\" "
                  "rel=\"next\""));
  EXPECT_EQ(rows(Get(*ann, "/admin/logins/person?id=1001&page=2").body,
                 "class=\"record\""),
            11u);

  // The month's calendar: 120 people (ann signed in today, not in May
  // 2024), by department, 50 a page.
  const std::string may =
      Get(*ann, "/admin/attendance?month=2024-05&start=09:00").body;
  EXPECT_EQ(rows(may, "<tr data-person="), 50u);
  EXPECT_TRUE(Has(may,
                  "href=\"/admin/attendance?month=2024-05&amp;start=09:00&amp;"
                  "page=2\" rel=\"next\""));
  EXPECT_EQ(rows(Get(*ann, "/admin/attendance?month=2024-05&page=3").body,
                 "<tr data-person="),
            20u);
  // The CSV holds the whole month.
  const std::string csv =
      Get(*ann, "/admin/attendance/csv?month=2024-05&start=09:00").body;
  EXPECT_EQ(rows(csv, "\r\n"), 121u);
}

// ----- The audit trail

TEST_P(AdminTest, EveryChangeThroughThePagesIsInTheAuditTrail) {
  auto ann = As("ann");
  const std::string token = Token(*ann);
  const auto ok = [&](const std::string& path,
                      const std::vector<std::pair<std::string, std::string>>&
                          items) {
    std::vector<std::pair<std::string, std::string>> all = {{"token", token}};
    all.insert(all.end(), items.begin(), items.end());
    EXPECT_EQ(Post(*ann, path, all).status, 302) << path;
  };
  ok("/admin/functions/new", {{"FunName", "Reports"}, {"FunUrl", "/apps/r"}});
  const std::string fun =
      Text("SELECT FunID FROM SYS_Function WHERE FunName='Reports'");
  ok("/admin/functions/edit",
     {{"id", fun}, {"FunName", "Reports 2"}, {"FunUrl", "/apps/r"}});
  ok("/admin/functions/delete", {{"id", fun}});
  ok("/admin/menus/new", {{"MenuName", "Audit me"}, {"MenuParentID", "1"}});
  const std::string menu =
      Text("SELECT MenuID FROM SYS_Menu WHERE MenuName='Audit me'");
  ok("/admin/menus/edit",
     {{"id", menu}, {"MenuName", "Audited"}, {"MenuParentID", "1"}});
  ok("/admin/menus/delete", {{"id", menu}});
  ok("/admin/roles/new", {{"RoleName", "Auditor"}});
  const std::string role =
      Text("SELECT RoleID FROM SYS_Role WHERE RoleName='Auditor'");
  ok("/admin/roles/edit", {{"id", role}, {"RoleName", "Auditors"}});
  ok("/admin/roles/delete", {{"id", role}});
  ok("/admin/rights/role", {{"id", "3"}, {"menu", "1"}, {"menu", "2"}});
  ok("/admin/rights/person", {{"id", "8"}, {"role", "4"}});

  EXPECT_EQ(Column("SELECT AuditKind FROM SYS_Audit ORDER BY AuditID"),
            "function.add,function.update,function.delete,menu.add,"
            "menu.update,menu.delete,role.add,role.update,role.delete,"
            "grant.update,person_role.update");
  EXPECT_EQ(Column("SELECT AuditTarget FROM SYS_Audit ORDER BY AuditID"),
            fun + "," + fun + "," + fun + "," + menu + "," + menu + "," + menu +
                "," + role + "," + role + "," + role + ",3,8");
  EXPECT_EQ(Count("SELECT COUNT(*) FROM SYS_Audit WHERE PersonID=1 AND "
                  "PersonAccount='ann' AND ClientIP='127.0.0.1'"),
            11);
  EXPECT_EQ(Text("SELECT AfterValue FROM SYS_Audit WHERE "
                 "AuditKind='person_role.update'"),
            "{\"PersonID\":8,\"RoleIDs\":[4]}");
  EXPECT_EQ(Text("SELECT BeforeValue FROM SYS_Audit WHERE "
                 "AuditKind='grant.update'"),
            "{\"roleID\":3,\"menuIDs\":[1,2,3,5,6,7]}");
  EXPECT_TRUE(Has(Text("SELECT BeforeValue FROM SYS_Audit WHERE "
                       "AuditKind='menu.update'"),
                  "\"MenuName\":\"Audit me\""));

  // A change the database refuses leaves no row; nor does a forbidden one.
  EXPECT_EQ(Post(*ann, "/admin/menus/new",
                 {{"token", token},
                  {"MenuName", "Kept"},
                  {"MenuOrder", "first"},
                  {"MenuParentID", "15"}})
                .status,
            200);
  auto ben = As("ben");
  EXPECT_EQ(Post(*ben, "/admin/rights/person",
                 {{"token", Token(*ann)}, {"id", "2"}, {"role", "1"}})
                .status,
            403);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM SYS_Audit"), 11);
}

TEST_P(AdminTest, TheAuditPageListsNewestFirstFiltersAndExports) {
  db_->Exec(
      "INSERT INTO SYS_Audit (AuditTime,PersonID,PersonAccount,ClientIP,"
      "AuditKind,AuditTarget,BeforeValue,AfterValue) VALUES "
      "('2026-03-01 09:00:00',1,'ann','10.0.0.8','menu.update','4',"
      "'{\"MenuName\":\"<b>old</b>\"}','{\"MenuName\":\"=HYPERLINK(1)\"}'),"
      "('2026-03-02 09:00:00',9,'ivy','10.0.0.9','role.delete','5',"
      "'{\"RoleName\":\"Sales\"}',NULL),"
      "('2026-03-03 09:00:00',1,'ann','10.0.0.8','grant.update','2','{}',"
      "'{}')");
  auto ann = As("ann");
  const std::string all = Get(*ann, "/admin/audit").body;
  const size_t grant = all.find("<td class=\"kind\">grant.update</td>");
  const size_t role = all.find("<td class=\"kind\">role.delete</td>");
  const size_t menu = all.find("<td class=\"kind\">menu.update</td>");
  EXPECT_LT(grant, role);
  EXPECT_LT(role, menu);
  EXPECT_NE(menu, std::string::npos);
  EXPECT_TRUE(Has(all, "{&quot;MenuName&quot;:&quot;&lt;b&gt;old&lt;/b&gt;"));
  EXPECT_FALSE(Has(all, "<b>old"));
  EXPECT_TRUE(Has(all, "id=\"count\">3</span>"));

  const std::string ivy = Get(*ann, "/admin/audit?person=9").body;
  EXPECT_EQ(Occurrences(ivy, "<tr data-id="), 1u);
  EXPECT_TRUE(Has(ivy, "<td class=\"person\" data-person=\"9\">ivy</td>"));
  // The person given by number shows with the account; an account typed
  // (in any case) is the same filter, and its pages link by number.
  EXPECT_TRUE(Has(ivy, "name=\"account\" value=\"ivy\""));
  const std::string typed = Get(*ann, "/admin/audit?account=%20IVY").body;
  EXPECT_EQ(Occurrences(typed, "<tr data-id="), 1u);
  EXPECT_TRUE(Has(typed, "<td class=\"person\" data-person=\"9\">ivy</td>"));
  EXPECT_TRUE(Has(typed, "name=\"account\" value=\"ivy\""));
  EXPECT_TRUE(Has(typed, "href=\"/admin/audit/csv?person=9&amp;"));
  // The filter never lists the people to choose from.
  EXPECT_FALSE(Has(all, "<option value=\"9\""));
  for (const std::string& bad :
       {std::string("nobody%25"), std::string(65, 'q')}) {
    const Reply r = Get(*ann, "/admin/audit?account=" + bad);
    EXPECT_EQ(r.status, 400) << bad;
    EXPECT_EQ(Occurrences(r.body, "<tr data-id="), 0u) << bad;
    EXPECT_TRUE(Has(r.body, "id=\"error\">")) << bad;
    EXPECT_FALSE(Has(r.body, "nobody")) << bad;
    EXPECT_FALSE(Has(r.body, "qqqqqqqq")) << bad;
  }
  EXPECT_TRUE(Has(Get(*ann, "/admin/audit?account=nobody").body,
                  "id=\"error\">Nobody has this account.</div>"));
  const std::string changes =
      Get(*ann, "/admin/audit?kind=menu&from=2026-03-01&to=2026-03-01").body;
  EXPECT_EQ(Occurrences(changes, "<tr data-id="), 1u);
  EXPECT_TRUE(Has(changes, "menu.update"));
  // One row a page: three pages, the links keep the filters.
  const std::string paged =
      Get(*ann, "/admin/audit?person=1&size=1&page=2").body;
  EXPECT_EQ(Occurrences(paged, "<tr data-id="), 1u);
  EXPECT_TRUE(Has(paged, "id=\"of\">Page 2 / 2</span>"));
  EXPECT_TRUE(
      Has(paged,
          "href=\"/admin/audit?person=1&amp;kind=&amp;from=&amp;to=&amp;"
          "size=1&amp;page=1\" rel=\"prev\""));

  // Filters that are not what they should be: said so, nothing listed.
  for (const char* bad :
       {"/admin/audit?person=ann", "/admin/audit?kind=menu.drop",
        "/admin/audit?from=2026-02-30", "/admin/audit?page=0",
        "/admin/audit?from=2026-03-02&to=2026-03-01"}) {
    const Reply r = Get(*ann, bad);
    EXPECT_EQ(r.status, 400) << bad;
    EXPECT_TRUE(Has(r.body, "id=\"error\">")) << bad;
    EXPECT_EQ(Occurrences(r.body, "<tr data-id="), 0u) << bad;
  }
  EXPECT_FALSE(Has(Get(*ann, "/admin/audit?person=1%27%20or%201=1").body,
                   "1&apos; or 1=1</"));

  const Reply csv = Get(*ann, "/admin/audit/csv?person=1");
  EXPECT_EQ(csv.status, 200);
  EXPECT_EQ(csv.Header("Content-Type"), "text/csv; charset=utf-8");
  const std::string id3 =
      Text("SELECT AuditID FROM SYS_Audit WHERE AuditKind='grant.update'");
  const std::string id1 =
      Text("SELECT AuditID FROM SYS_Audit WHERE AuditKind='menu.update'");
  EXPECT_EQ(csv.body,
            "\xEF\xBB\xBF"
            "AuditID,AuditTime,PersonID,PersonAccount,ClientIP,AuditKind,"
            "AuditTarget,BeforeValue,AfterValue\r\n" +
                id3 +
                ",2026-03-03 09:00:00,1,ann,10.0.0.8,grant.update,2,{},{}\r\n" +
                id1 +
                ",2026-03-01 09:00:00,1,ann,10.0.0.8,menu.update,4,"
                "\"{\"\"MenuName\"\":\"\"<b>old</b>\"\"}\","
                "\"{\"\"MenuName\"\":\"\"=HYPERLINK(1)\"\"}\"\r\n");
  EXPECT_EQ(Get(*ann, "/admin/audit/csv?to=tomorrow").status, 400);
  EXPECT_EQ(Post(*ann, "/admin/audit", {{"token", Token(*ann)}}).status, 404);
}

INSTANTIATE_TEST_SUITE_P(Databases, AdminTest,
                         ::testing::ValuesIn(TestDatabases()));

}  // namespace
}  // namespace wrenhaven::testing
