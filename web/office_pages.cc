#include "web/office_pages.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/content_policy.h"
#include "web/admin/gate.h"
#include "web/admin/pages.h"
#include "web/admin/texts.h"
#include "web/create.h"
#include "web/drawn_pieces.h"
#include "web/menu_cache.h"
#include "web/render.h"
#include "web/signed_in.h"
#include "web/texts.h"
#include "web/view.h"
#include "wrenhaven/error.h"
#include "wrenhaven/login.h"
#include "wrenhaven/menu.h"
#include "wrenhaven/personnel.h"

namespace wrenhaven::web {
namespace {

constexpr std::string_view kHome = "/MyOffice/home";

bool SignedIn(const Session& session) {
  return !session.Get("PersonID").ToText().empty();
}

bool English(HttpPage& page) {
  return PrefersEnglish(page.request().ServerVariable("HTTP_ACCEPT_LANGUAGE"));
}

// What every page's head needs.
TemplateData PageData(bool english, const char* body_class,
                      const std::string& title, const std::string& script) {
  TemplateData data;
  data.set("lang", english ? "en" : "zh");
  data.set("body_class", body_class);
  data.set("title", title);
  if (!script.empty()) data.set("script", script);
  return data;
}

std::string Text(bool english, const char* key) {
  const TemplateData* value = Texts(english).get(key);
  return value != nullptr && value->is_string() ? value->string_value() : "";
}

// The department's name for the visitor's "DeptID"; "" when it has none
// (or the session holds something else than a department number).
std::string DepartmentName(HttpPage& page, const Variant& dept) {
  const std::string id = dept.ToText();
  if (id.empty() || id.size() > 10 ||
      id.find_first_not_of("0123456789") != std::string::npos) {
    return "";
  }
  return Create<Personnel>(page)->GetDeptName(Variant::String(id));
}

TemplateData EntryList(const std::vector<MenuEntry>& entries,
                       const std::string& active_id) {
  TemplateData list{TemplateData::type::list};
  ReserveItems(list, entries.size());
  for (const MenuEntry& e : entries) {
    TemplateData& item = AppendItem(list);
    item["id"] = TemplateData(e.id);
    item["caption"] = TemplateData(e.caption);
    item["tip"] = TemplateData(e.tip);
    item["icon"] = TemplateData(e.icon);
    if (!e.href.empty()) item["href"] = TemplateData(e.href);
    item["level"] = TemplateData(std::to_string(e.level));
    item["active"] = TemplateData(e.id == active_id);
  }
  return list;
}

std::string ReplaceMinutes(const std::string& text, int minutes) {
  std::string out = text;
  const size_t at = out.find("{{minutes}}");
  if (at != std::string::npos) out.replace(at, 11, std::to_string(minutes));
  return out;
}

// Sign-in posts by outcome, for the host's metrics.
struct SignInCounts {
  explicit SignInCounts(Metrics& metrics)
      : success(Count(metrics, "success")),
        failure(Count(metrics, "failure")),
        held_back(Count(metrics, "held_back")) {}
  static MetricCounter& Count(Metrics& metrics, const char* outcome) {
    return metrics.Counter(
        "wrenhaven_sign_ins_total",
        "Sign-in posts by outcome: signed in, refused (a wrong account or "
        "password, or a post from another site), or held back (too many "
        "failures, or too many verifications waiting)",
        {{"outcome", outcome}});
  }
  MetricCounter& success;
  MetricCounter& failure;
  MetricCounter& held_back;
};

// The answer scripts LoginMain wrote (the failure alert, the held-back
// alert, or the script that opens the main window) run under the page's
// policy by their hashes: only what LoginMain wrote after `before` is
// looked at, never the rest of the page, which shows what the visitor
// typed. Without such a script the page keeps the host's plain policy.
void AllowLoginScripts(HttpResponse& response, size_t before) {
  const std::string& written = response.written();
  if (written.size() <= before) return;
  std::vector<std::string> sources;
  for (const std::string& text :
       host::ScriptTexts(std::string_view(written).substr(before))) {
    sources.push_back(host::HashSource(text));
  }
  if (sources.empty()) return;
  response.SetHeader("Content-Security-Policy",
                     host::PolicyAllowing(sources, {}));
}

// "/": a plain visit runs LoginMain, which signs the visitor out, and
// shows the form; a post runs LoginMain on the form. A successful sign-in
// ends the page with the window script (or redirects), so only what was
// written before LoginMain goes out with it.
void SignInPage(HttpPage& page, SignInCounts& counts) {
  const bool english = English(page);
  HttpRequest& request = page.request();
  HttpResponse& response = page.response();
  const bool post = request.ServerVariable("REQUEST_METHOD") == "POST";

  TemplateData data = PageData(
      english, "signin-page",
      Text(english, "sign_in_title") + " - " + Text(english, "app_name"),
      StaticAddress("signin.js"));
  response.Write(Render("layout_top", data, TextsBase(english)));
  response.Write(Render("signin_top", data, TextsBase(english)));

  // The browser's device cookie is no business of the page's scripts.
  response.KeepFromScripts(Login::kDeviceCookie);
  auto login = Create<Login>(page);
  const size_t before = response.written().size();
  try {
    login->LoginMain();
  } catch (const Error& e) {
    // Verifications waiting in such numbers that this one was not taken.
    if (post && e.code() == ErrorCode::kUnavailable) counts.held_back.Add();
    throw;
  }
  AllowLoginScripts(response, before);
  if (post) {
    if (response.ended() && SignedIn(page.session())) {
      counts.success.Add();
    } else if (login->held_back_seconds() > 0) {
      counts.held_back.Add();
    } else {
      counts.failure.Add();
    }
  }

  if (login->refused_foreign()) {
    response.SetStatus(403);
    data.set("held_back", Text(english, "foreign"));
  }
  if (response.ended()) {
    // Signed in: the session moves to a fresh identifier, listed under
    // its holder.
    if (SignedIn(page.session())) NoteSignIn(page);
    return;
  }
  if (const int wait = login->held_back_seconds(); wait > 0) {
    response.SetStatus(429);
    response.SetHeader("Retry-After", std::to_string(wait));
    data.set("held_back",
             ReplaceMinutes(Text(english, "held_back"), (wait + 59) / 60));
  }
  // The form keeps the typed name after a failure, and otherwise shows
  // the remembered one.
  const std::string name =
      post
          ? request.Item("LoginName")
          : request.Lookup(Request::Collection::kCookies, "pname").value_or("");
  if (post && !login->refused_foreign() && login->held_back_seconds() == 0) {
    data.set("failed", TemplateData(true));
  }
  if (!name.empty()) data.set("name", name);
  response.Write(Render("signin_form", data, TextsBase(english)));
}

void ContentPage(HttpPage& page, const std::string& heading,
                 std::vector<std::string> lines, const std::string& address);

// The visitor's own other signed-in sessions, newest first (at most
// kMostElsewhere), drawn for the main window with the forms that end them;
// "" when there are none. The drawing is kept per session in `pieces`
// (nullptr: drawn every time) for as long as the list, the language and
// the form's token stay what they were.
constexpr size_t kMostElsewhere = 20;

DrawnPieces::Piece OtherSessions(HttpPage& page, DrawnPieces* pieces,
                                 bool english) {
  static const DrawnPieces::Piece none = std::make_shared<const std::string>();
  SessionStore* store = page.session_store();
  if (store == nullptr) return none;
  SessionQuery query;
  query.person = page.session().Get("PersonID").ToText();
  // Nobody's list for a session without a person (an empty person would
  // ask for everyone's).
  if (query.person.empty()) return none;
  query.limit = kMostElsewhere + 1;
  query.count = false;
  const std::string own = page.session_key();
  // A store that can tell when the person's list last moved spares the
  // listing while it has not: the drawing kept under that version (and
  // the language and form token) is what the list would give again.
  std::string versioned;
  const std::string held_token = page.session().Get(kFormTokenKey).ToText();
  if (pieces != nullptr) {
    if (const auto version = store->ListVersion(query.person)) {
      AddInput(versioned, "version");
      AddInput(versioned, english ? "en" : "zh");
      AddInput(versioned, std::to_string(*version));
      AddInput(versioned, held_token);
      if (DrawnPieces::Piece kept = pieces->Find(own, versioned)) return kept;
    }
  }
  std::vector<ListedSession> shown;
  for (ListedSession& s : store->List(query).rows) {
    if (s.key == own || shown.size() == kMostElsewhere) continue;
    shown.push_back(std::move(s));
  }
  if (shown.empty()) return none;
  // Only a window with forms needs the token (drawn once per session).
  const std::string token = FormToken(page.session());

  // What the drawing shows.
  std::string inputs;
  AddInput(inputs, english ? "en" : "zh");
  AddInput(inputs, token);
  for (const ListedSession& s : shown) {
    AddInput(inputs, s.key);
    AddInput(inputs, s.holder.address);
    AddInput(inputs, s.holder.browser);
    AddInput(inputs, std::to_string(SessionClock::to_time_t(s.signed_in)));
    AddInput(inputs, std::to_string(SessionClock::to_time_t(s.last_seen)));
  }
  // The version stands for the drawing only while the token it was read
  // with is the one drawn (a token that just began moves the version).
  const bool also_versioned = !versioned.empty() && held_token == token;
  if (pieces != nullptr) {
    if (DrawnPieces::Piece kept = pieces->Find(own, inputs)) {
      if (also_versioned) pieces->AlsoUnder(own, kept, std::move(versioned));
      return kept;
    }
  }
  TemplateData data;
  data.set("token", token);
  TemplateData list{TemplateData::type::list};
  for (const ListedSession& s : shown) {
    TemplateData item;
    item.set("key", s.key);
    item.set("address", s.holder.address);
    item.set("browser", s.holder.browser);
    item.set("since", SessionTimeText(s.signed_in));
    item.set("seen", SessionTimeText(s.last_seen));
    list.push_back(item);
  }
  data.set("sessions", list);
  auto drawn = std::make_shared<const std::string>(
      Render("elsewhere", data, TextsBase(english)));
  if (pieces != nullptr) {
    pieces->Keep(own, std::move(inputs), drawn);
    if (also_versioned) pieces->AlsoUnder(own, drawn, std::move(versioned));
  }
  return drawn;
}

// POST "/MyOffice/sessions/end": ends one of the visitor's own other
// sessions ("key"), or all of them ("all"), when the form carries the
// session's token; then back to the main window. Another person's session
// is never ended here, nor the visitor's own current one.
void EndOwnSession(HttpPage& page) {
  HttpSession& session = page.session();
  HttpRequest& request = page.request();
  const auto field = [&](std::string_view name) {
    return request.Lookup(Request::Collection::kForm, name).value_or("");
  };
  if (request.method() != "POST" ||
      !FormTokenMatches(session, field(kFormTokenField))) {
    page.response().SetStatus(403);
    const bool english = English(page);
    ContentPage(page, AdminText(english, "denied"),
                {AdminText(english, "bad_token")}, "");
    return;
  }
  SessionStore* store = page.session_store();
  const std::string person = session.Get("PersonID").ToText();
  const std::string own = page.session_key();
  if (store != nullptr) {
    if (field("all") == "1") {
      SessionQuery query;
      query.person = person;
      query.limit = SIZE_MAX;
      query.count = false;
      for (const ListedSession& s : store->List(query).rows) {
        if (s.key != own) store->End(s.key, person);
      }
    } else {
      const std::string key = field("key");
      if (key.size() == 64 && key != own) store->End(key, person);
    }
  }
  page.response().Redirect("/MyOffice/");
}

// The two menus of a main window as drawn, from `menus` (nullptr: the
// visitor sees none).
MenuCache::DrawnWindow DrawMenus(const WindowMenus* menus, bool english) {
  std::vector<MenuEntry> top, left;
  std::optional<MenuEntry> chosen;
  if (menus != nullptr) {
    top = MenuEntries(*menus->top, english);
    left = MenuEntries(*menus->left, english);
    if (menus->chosen != nullptr) {
      chosen = top[static_cast<size_t>(menus->chosen - menus->top->data())];
    }
  }
  TemplateData data;
  data["top"] = EntryList(top, chosen ? chosen->id : "");
  data["left"] = EntryList(left, "");
  data.set("has_left", TemplateData(!left.empty()));
  if (chosen) data.set("current", chosen->caption);
  data.set("empty", Text(english, top.empty() ? "no_menu" : "no_entries"));
  auto drawn = std::make_shared<MenuCache::Drawn>();
  drawn->top = Render("menu_top", data);
  drawn->left = Render("menu_left", data);
  drawn->content =
      chosen && !chosen->href.empty() ? chosen->href : std::string(kHome);
  return drawn;
}

// The visitor's menus for the roles `roles`: drawn once per role list,
// chosen top entry and language while the rights stand (with a cache).
MenuCache::DrawnWindow VisitorMenus(HttpPage& page, MenuCache* cache,
                                    const std::string& roles,
                                    const std::optional<RightsStamp>& stamp,
                                    bool english) {
  auto menu = Create<Menu>(page);
  const WindowMenus menus =
      ReadWindowMenus(*menu, *page.connection(), cache, roles,
                      page.request().Item("top"), stamp ? &*stamp : nullptr);
  if (cache == nullptr || menus.chosen == nullptr) {
    return DrawMenus(&menus, english);
  }
  const int32_t chosen = menus.chosen->id;
  if (MenuCache::DrawnWindow kept =
          cache->FindDrawn(roles, chosen, english, menus.stamp)) {
    return kept;
  }
  MenuCache::DrawnWindow drawn = DrawMenus(&menus, english);
  cache->KeepDrawn(roles, chosen, english, menus.stamp, drawn);
  return drawn;
}

// What the main window keeps between visits; a null member keeps nothing.
struct WindowKeeping {
  MenuCache* menus = nullptr;        // the menus, as rows and drawn
  DrawnPieces* elsewhere = nullptr;  // each session's list of its others
  DrawnPieces* windows = nullptr;    // each session's whole window
};

// "/MyOffice/": the main window.
void MainWindow(HttpPage& page, const WindowKeeping& keep) {
  HttpSession& session = page.session();
  const std::optional<RightsStamp> stamp = FollowRights(page);
  if (!SignedIn(session)) {
    page.response().Redirect("/");
    return;
  }
  const bool english = English(page);
  // A person without roles has no menu to ask for.
  const std::string roles = session.Get("RoleID").ToText();
  // Drawn once per language, so that such a window is kept as well.
  static const MenuCache::DrawnWindow no_menus[] = {DrawMenus(nullptr, false),
                                                    DrawMenus(nullptr, true)};
  const MenuCache::DrawnWindow menus =
      roles.empty() ? no_menus[english ? 1 : 0]
                    : VisitorMenus(page, keep.menus, roles, stamp, english);
  const std::string person = session.Get("PersonName").ToText();
  // The department's name is looked up once per session and department.
  const std::string dept_id = session.Get("DeptID").ToText();
  std::string dept;
  if (session.Get("DeptNameOf").ToText() == dept_id) {
    dept = session.Get("DeptName").ToText();
  } else {
    dept = DepartmentName(page, session.Get("DeptID"));
    session.Set("DeptName", Variant::String(dept));
    session.Set("DeptNameOf", Variant::String(dept_id));
  }
  const DrawnPieces::Piece others =
      OtherSessions(page, keep.elsewhere, english);
  const std::string script = StaticAddress("office.js");

  // The window is drawn again only when something it shows has changed.
  // The drawn menus and list stand in by their addresses: the kept window
  // holds them, so no other drawing can take an address meanwhile.
  std::string inputs;
  AddInput(inputs, english ? "en" : "zh");
  AddInput(inputs, std::to_string(StaticAddressesVersion()));
  AddInput(inputs, script);
  AddInput(inputs, person);
  AddInput(inputs, dept);
  AddInput(inputs, std::to_string(reinterpret_cast<uintptr_t>(menus.get())));
  AddInput(inputs, std::to_string(reinterpret_cast<uintptr_t>(others.get())));
  const std::string own = page.session_key();
  HttpResponse& response = page.response();
  if (keep.windows != nullptr) {
    if (DrawnPieces::Piece kept = keep.windows->Find(own, inputs)) {
      response.Write(*kept);
      return;
    }
  }

  TemplateData data = PageData(
      english, "office-page",
      Text(english, "office_title") + " - " + Text(english, "app_name"),
      script);
  data.set("person", person);
  if (!dept.empty()) data.set("dept", dept);
  data.set("top_menu", menus->top);
  data.set("left_menu", menus->left);
  data.set("content", menus->content);
  data.set("elsewhere", *others);
  auto window = std::make_shared<std::string>(
      Render("layout_top", data, TextsBase(english)));
  *window += Render("office", data, TextsBase(english));
  response.Write(*window);
  if (keep.windows != nullptr) {
    const size_t pinned = MenuCache::Bytes(*menus) + others->size();
    keep.windows->Keep(own, std::move(inputs), std::move(window),
                       {menus, others}, pinned);
  }
}

void ContentPage(HttpPage& page, const std::string& heading,
                 std::vector<std::string> lines, const std::string& address) {
  const bool english = English(page);
  TemplateData data = PageData(english, "content-page", heading, "");
  data.set("heading", heading);
  TemplateData list{TemplateData::type::list};
  for (std::string& line : lines) list.push_back(TemplateData(std::move(line)));
  data.set("lines", list);
  if (!address.empty()) data.set("address", address);
  page.response().Write(Render("layout_top", data, TextsBase(english)));
  page.response().Write(Render("content", data, TextsBase(english)));
}

// "mail" gives "Mail", "login-records" gives "Login records".
std::string Heading(std::string_view name) {
  std::string out(name);
  for (char& c : out) {
    if (c == '-' || c == '_') c = ' ';
  }
  if (!out.empty() && out[0] >= 'a' && out[0] <= 'z') {
    out[0] = static_cast<char>(out[0] - 'a' + 'A');
  }
  return out;
}

PageHandler SignedInOnly(void (*handler)(HttpPage&)) {
  return [handler](HttpPage& page) {
    FollowRights(page);
    if (!SignedIn(page.session())) {
      page.response().Redirect("/");
      return;
    }
    handler(page);
  };
}

std::string TimeText(const Variant& v) {
  return v.kind() == Kind::kDate ? v.date().ToIso() : v.ToText();
}

// The visitor's last sign-ins, newest first, from the login records:
// Login.GetNewestData reads only those and gives the columns of HR_Login
// field first (LoginIP at 5, LoginMemo at 6, LoginScreen at 7, loginTime
// at 8).
TemplateData RecentSignIns(HttpPage& page, size_t most) {
  auto login = Create<Login>(page);
  const VariantArray rows = login->GetNewestData(page.session().Get("PersonID"),
                                                 static_cast<int32_t>(most));
  TemplateData list{TemplateData::type::list};
  // A person without records gets the names row alone: (0 To 0, ...).
  if (rows.dimensions() != 2 || rows.UBound(1) < 8) return list;
  for (int32_t r = 0; r <= rows.UBound(2) && static_cast<size_t>(r) < most;
       ++r) {
    TemplateData item;
    item.set("time", TimeText(rows(8, r)));
    item.set("ip", rows(5, r).ToText());
    item.set("browser", rows(6, r).ToText());
    item.set("screen", rows(7, r).ToText());
    list.push_back(item);
  }
  return list;
}

void HomePage(HttpPage& page) {
  const bool english = English(page);
  const std::string heading = Text(english, "welcome") + ", " +
                              page.session().Get("PersonName").ToText();
  TemplateData data = PageData(english, "content-page", heading, "");
  data.set("heading", heading);
  TemplateData lines{TemplateData::type::list};
  lines.push_back(TemplateData(Text(english, "choose")));
  data.set("lines", lines);
  TemplateData records = RecentSignIns(page, 5);
  data.set("has_records", TemplateData(!records.is_empty_list()));
  data.set("records", records);
  page.response().Write(Render("layout_top", data, TextsBase(english)));
  page.response().Write(Render("content", data, TextsBase(english)));
}

void FunctionPage(HttpPage& page, std::string_view prefix, const char* note) {
  const std::string& path = page.request().path();
  const std::string name = path.substr(prefix.size());
  ContentPage(
      page, Heading(name.empty() ? prefix.substr(1, prefix.size() - 2) : name),
      {Text(English(page), note)}, path);
}

// The menu cache's finds in the host's metrics.
void AddCacheMetrics(Metrics& metrics,
                     const std::shared_ptr<MenuCache>& cache) {
  metrics.CounterFrom("wrenhaven_menu_cache_hits_total",
                      "Menu lists of the main window found in the cache", {},
                      [cache] { return static_cast<double>(cache->hits()); });
  metrics.CounterFrom("wrenhaven_menu_cache_misses_total",
                      "Menu lists of the main window read from the database",
                      {},
                      [cache] { return static_cast<double>(cache->misses()); });
  metrics.Gauge("wrenhaven_menu_cache_lists", "Menu lists kept in the cache",
                {}, [cache] { return static_cast<double>(cache->lists()); });
  metrics.CounterFrom(
      "wrenhaven_menu_cache_drawn_hits_total",
      "Main windows whose menus were found drawn in the cache", {},
      [cache] { return static_cast<double>(cache->drawn_hits()); });
  metrics.CounterFrom("wrenhaven_menu_cache_drawn_misses_total",
                      "Main windows whose menus were drawn anew", {}, [cache] {
                        return static_cast<double>(cache->drawn_misses());
                      });
}

}  // namespace

void AddOfficePages(HttpHost& host) {
  SetStaticAddresses(host.StaticAddresses());
  auto counts = std::make_shared<SignInCounts>(host.metrics());
  host.AddPage(
      "/", [counts](HttpPage& page) { SignInPage(page, *counts); },
      PageKind::kSignIn);
  // Shared by the host's worker threads for as long as the host serves.
  auto cache = std::make_shared<MenuCache>();
  AddCacheMetrics(host.metrics(), cache);
  // The lists and windows of the sessions seen most lately, 4 MiB each
  // (some hundreds of windows): they are redrawn cheaply when they go, and
  // more room cost the heap far more than it holds (the drawings come and
  // go on every worker thread).
  const DrawnPieces::Limits per_session{512, size_t{4} << 20};
  auto elsewhere = std::make_shared<DrawnPieces>(per_session);
  auto windows = std::make_shared<DrawnPieces>(per_session);
  host.AddPage(
      "/MyOffice/",
      [cache, elsewhere, windows](HttpPage& page) {
        MainWindow(page, {cache.get(), elsewhere.get(), windows.get()});
      },
      PageKind::kMainWindow);
  host.AddPage("/MyOffice",
               [](HttpPage& page) { page.response().Redirect("/MyOffice/"); });
  host.AddPage(std::string(kHome), SignedInOnly(HomePage));
  host.AddPage("/MyOffice/sessions/end", SignedInOnly(EndOwnSession));
  // A feature page opens for the people whose roles are granted a menu
  // entry that leads to it, as the administration pages do.
  host.AddPages("/apps/", SignedInOnly([](HttpPage& page) {
                  if (!MayUseFunctionPage(page, page.session().Get("RoleID"),
                                          page.request().path())) {
                    page.response().SetStatus(403);
                    FunctionPage(page, "/apps/", "app_denied");
                    return;
                  }
                  FunctionPage(page, "/apps/", "not_ready");
                }),
                PageKind::kFeature);
  AddAdminPages(host);
  // Beyond this machine, the operators' endpoints are for administrators.
  host.SetMonitorGate(
      [](HttpPage& page) { return HoldsAdministrationRight(page); });
}

std::string DefaultStaticDir(const std::string& executable) {
  namespace fs = std::filesystem;
  std::error_code ec;
  std::vector<fs::path> candidates;
  if (!executable.empty()) {
    const fs::path exe = fs::weakly_canonical(fs::path(executable), ec);
    candidates.push_back(exe.parent_path().parent_path() / "share" /
                         "wrenhaven" / "static");
  }
#ifdef WRENHAVEN_SOURCE_DIR
  candidates.push_back(fs::path(WRENHAVEN_SOURCE_DIR) / "web" / "static");
#endif
  for (const fs::path& dir : candidates) {
    if (fs::is_directory(dir, ec)) return dir.string();
  }
  return "";
}

}  // namespace wrenhaven::web
