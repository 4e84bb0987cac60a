// "/admin/sessions": who is signed in now, and ending their sessions.
//
//   GET  /admin/sessions?account=A&size=N&page=P
//                                    the signed-in sessions, newest sign-in
//                                    first, N to a page (50 unless given,
//                                    at most kMostPerPage), only account A's
//                                    when given
//   POST /admin/sessions/end         ends the session "key"
//   POST /admin/sessions/end-person  ends every session of person "person"
//
// Ending takes effect on the session's very next page, on every server
// that shares the store.
#include <string>

#include "web/admin/view.h"
#include "web/admin/visit.h"
#include "web/signed_in.h"
#include "wrenhaven/http_page.h"
#include "wrenhaven/sign_in.h"

namespace wrenhaven::web {
namespace {

constexpr int32_t kDefaultPerPage = 50;
constexpr int32_t kMostPerPage = 200;

bool IsKey(std::string_view text) {
  if (text.size() != 64) return false;
  for (const char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

SessionStore* Store(AdminVisit& visit) {
  SessionStore* store = visit.http().session_store();
  if (store == nullptr) {
    Raise(ErrorCode::kHost, "This page host keeps no list of sessions");
  }
  return store;
}

// The address of a page of the list, for `account`.
std::string ListLink(const AdminVisit& visit, const std::string& account,
                     int32_t size, int32_t page) {
  std::string link = visit.page() + "?size=" + std::to_string(size) +
                     "&page=" + std::to_string(page);
  if (!account.empty()) link += "&account=" + UrlEncoded(account);
  return link;
}

void ShowList(AdminVisit& visit) {
  const std::string account = visit.Query("account");
  const std::string size_text = visit.Query("size");
  const std::string page_text = visit.Query("page");
  const auto size = size_text.empty() ? std::optional<int32_t>(kDefaultPerPage)
                                      : ParseId(size_text);
  const auto page =
      page_text.empty() ? std::optional<int32_t>(1) : ParseId(page_text);
  // Refused before the list is read.
  if (!size || !page || *page < 1) {
    visit.Message(400, visit.Text("sessions"), visit.Text("bad_paging"));
    return;
  }
  if (account.size() > kMaxAccountLength) {
    visit.Message(400, visit.Text("sessions"), visit.Text("bad_account"));
    return;
  }
  const int32_t per_page = std::clamp(*size, 1, kMostPerPage);

  SessionQuery query;
  query.account = account;
  query.limit = static_cast<size_t>(per_page);
  query.offset = static_cast<size_t>(*page - 1) * query.limit;
  const SessionList list = Store(visit)->List(query);

  TemplateData data = visit.Data(visit.Text("sessions"));
  const std::string done = visit.Query("done");
  if (done == "ended" || done == "none") {
    data.set("notice", visit.Text(("sessions_" + done).c_str()));
  }
  data.set("account", account);
  data.set("size", std::to_string(per_page));
  const std::string own = visit.http().session_key();
  TemplateData rows = List();
  for (const ListedSession& s : list.rows) {
    TemplateData row;
    row.set("key", s.key);
    row.set("person", s.holder.person);
    row.set("account", s.holder.account);
    row.set("address", s.holder.address);
    row.set("browser", s.holder.browser);
    row.set("since", SessionTimeText(s.signed_in));
    row.set("seen", SessionTimeText(s.last_seen));
    if (s.holder.login_id > 0) {
      row.set("record", std::to_string(s.holder.login_id));
    }
    row.set("own", TemplateData(s.key == own));
    rows.push_back(row);
  }
  data.set("rows", rows);
  data.set("has_rows", TemplateData(!rows.is_empty_list()));
  data.set("count", std::to_string(list.total));
  const auto total = static_cast<int64_t>(list.total);
  const auto pages = static_cast<int32_t>(
      std::max<int64_t>(1, (total + per_page - 1) / per_page));
  data.set("pager", Pager(visit, *page, pages, [&](int32_t n) {
             return ListLink(visit, account, per_page, n);
           }));
  visit.Show("admin/sessions", data);
}

void EndOne(AdminVisit& visit) {
  const std::string key = visit.Field("key");
  if (!IsKey(key)) {
    visit.Message(400, visit.Text("sessions"), visit.Text("bad_session"));
    return;
  }
  const bool ended = Store(visit)->End(key);
  visit.Redirect(visit.page() + (ended ? "?done=ended" : "?done=none"));
}

void EndPerson(AdminVisit& visit) {
  const auto person = ParseId(visit.Field("person"));
  if (!person) {
    visit.Message(400, visit.Text("sessions"), visit.Text("bad_person"));
    return;
  }
  const size_t ended = Store(visit)->EndAllOf(std::to_string(*person));
  visit.Redirect(visit.page() + (ended > 0 ? "?done=ended" : "?done=none"));
}

}  // namespace

void SessionsPage(AdminVisit& visit) {
  const std::string& rest = visit.rest();
  if (!visit.post() && rest.empty()) {
    ShowList(visit);
  } else if (visit.post() && rest == "/end") {
    EndOne(visit);
  } else if (visit.post() && rest == "/end-person") {
    EndPerson(visit);
  } else {
    visit.Message(404, visit.Text("not_found"), visit.Text("no_page"));
  }
}

}  // namespace wrenhaven::web
