// "/admin/audit": the changes administrators made, newest first.
//
//   GET /admin/audit?person=&kind=&from=&to=&page=&size=   one page
//   GET /admin/audit/csv?person=&kind=&from=&to=           the same rows as
//                                                          CSV
//   GET /admin/audit?account=A&...                         the changes of the
//                                                          person whose
//                                                          account is A
//
// The filters are checked by the library before any statement is sent; a
// filter that is not what it should be is answered 400 with the reason.
// A page holds at most kAuditMaxPageSize rows, the CSV the newest
// kAuditCsvRows rows that pass the filters.
#include <algorithm>
#include <string>
#include <vector>

#include "web/admin/view.h"
#include "web/admin/visit.h"
#include "wrenhaven/audit.h"

namespace wrenhaven::web {
namespace {

// The most rows one CSV answer holds: the newest that pass the filters.
constexpr int64_t kAuditCsvRows = 10000;

// The columns of AuditTrail's rows.
enum AuditColumn {
  kAuditID,
  kAuditTime,
  kPersonID,
  kPersonAccount,
  kClientIP,
  kKind,
  kTarget,
  kBefore,
  kAfter,
};

AuditFilter FilterOf(const AdminVisit& visit) {
  return {visit.Query("person"), visit.Query("kind"), visit.Query("from"),
          visit.Query("to")};
}

// A checked filter value in a link: its blanks and colons encoded.
std::string Encoded(std::string_view value) {
  std::string out;
  for (const char c : value) {
    if (c == ' ') {
      out += "%20";
    } else if (c == ':') {
      out += "%3A";
    } else {
      out += c;
    }
  }
  return out;
}

std::string FilterQuery(const AuditFilter& f) {
  return "person=" + Encoded(f.person) + "&kind=" + Encoded(f.kind) +
         "&from=" + Encoded(f.from) + "&to=" + Encoded(f.to);
}

TemplateData KindOptions(const std::string& chosen) {
  TemplateData options = List();
  std::vector<std::string> kinds = {""};
  for (const AuditObject o :
       {AuditObject::kMenu, AuditObject::kFunction, AuditObject::kRole,
        AuditObject::kGrant, AuditObject::kPersonRole}) {
    const std::string add = AuditKind(o, AuditAction::kAdd);
    kinds.push_back(add.substr(0, add.find('.')));
    for (const AuditAction a :
         {AuditAction::kAdd, AuditAction::kUpdate, AuditAction::kDelete}) {
      kinds.push_back(AuditKind(o, a));
    }
  }
  for (const std::string& k : kinds) {
    TemplateData option;
    option.set("value", k);
    option.set("selected", TemplateData(k == chosen));
    options.push_back(option);
  }
  return options;
}

void ShowTrail(AdminVisit& visit) {
  AuditFilter filter = FilterOf(visit);
  const std::string size_text = visit.Query("size");
  const std::string page_text = visit.Query("page");
  std::string account(TrimSpaces(visit.Query("account")));
  auto trail = Create<AuditTrail>(visit.http());

  TemplateData data = visit.Data(visit.Text("audit"));
  data.set("from", filter.from);
  data.set("to", filter.to);
  data.set("kinds", KindOptions(filter.kind));
  // The person filter is typed as an account and resolved to its person
  // here; a person given by number shows with that person's account.
  std::string refusal;
  if (!account.empty()) {
    if (!PeopleSearchFits(account)) {
      refusal = visit.Text("bad_account");
      account.clear();
    } else if (const auto who = FindAccount(visit, account)) {
      filter.person = who->id;
      account = who->account;
    } else {
      refusal = visit.Text("no_such_account");
      account.clear();
    }
  } else if (const auto n = ParseId(filter.person)) {
    if (const auto who = FindPerson(visit, *n)) account = who->account;
  }
  data.set("account", account);
  if (!refusal.empty()) {
    visit.http().response().SetStatus(400);
    data.set("error", refusal);
    data.set("rows", List());
    data.set("has_rows", TemplateData(false));
    visit.Show("admin/audit", data);
    return;
  }

  TemplateData rows = List();
  try {
    const int64_t total = trail->Count(filter);
    const VariantArray page = trail->GetPage(
        Variant::String(filter.person), Variant::String(filter.kind),
        Variant::String(filter.from), Variant::String(filter.to),
        Variant::String(page_text), Variant::String(size_text));
    if (!page.undimensioned()) {
      for (int32_t r = 0; r <= page.UBound(1); ++r) {
        TemplateData row;
        row.set("id", page(r, kAuditID).ToText());
        row.set("time", TimeText(page(r, kAuditTime)));
        row.set("person_id", page(r, kPersonID).ToText());
        row.set("account", page(r, kPersonAccount).ToText());
        row.set("address", page(r, kClientIP).ToText());
        row.set("kind", page(r, kKind).ToText());
        row.set("target", page(r, kTarget).ToText());
        row.set("before", page(r, kBefore).ToText());
        row.set("after", page(r, kAfter).ToText());
        rows.push_back(row);
      }
    }
    // The page and its size were accepted: whole numbers, the size cut to
    // the largest page.
    const int32_t size =
        size_text.empty() ? kAuditDefaultPageSize
                          : std::min(ParseId(TrimSpaces(size_text)).value_or(1),
                                     kAuditMaxPageSize);
    const int32_t current =
        page_text.empty() ? 1 : ParseId(TrimSpaces(page_text)).value_or(1);
    const auto pages =
        static_cast<int32_t>(std::max<int64_t>(1, (total + size - 1) / size));
    const std::string base = visit.page() + "?" + FilterQuery(filter) +
                             "&size=" + std::to_string(size) + "&page=";
    data.set("pager", Pager(visit, current, pages, [&base](int32_t n) {
               return base + std::to_string(n);
             }));
    data.set("count", std::to_string(total));
    data.set("size", std::to_string(size));
    data.set("csv", visit.page() + "/csv?" + FilterQuery(filter));
  } catch (const Error& e) {
    if (e.code() != ErrorCode::kInvalidArgument) throw;
    visit.http().response().SetStatus(400);
    data.set("error", e.description());
  }
  data.set("rows", rows);
  data.set("has_rows", TemplateData(!rows.is_empty_list()));
  visit.Show("admin/audit", data);
}

void SendCsv(AdminVisit& visit) {
  const AuditFilter filter = FilterOf(visit);
  auto trail = Create<AuditTrail>(visit.http());
  std::string out = "\xEF\xBB\xBF";
  std::vector<std::string> header = {
      "AuditID",   "AuditTime",   "PersonID",    "PersonAccount", "ClientIP",
      "AuditKind", "AuditTarget", "BeforeValue", "AfterValue"};
  for (size_t i = 0; i < header.size(); ++i) {
    out += (i == 0 ? "" : ",") + header[i];
  }
  out += "\r\n";
  try {
    for (int64_t offset = 0; offset < kAuditCsvRows;
         offset += kAuditMaxPageSize) {
      const VariantArray rows = trail->Rows(filter, offset, kAuditMaxPageSize);
      if (rows.undimensioned()) break;
      for (int32_t r = 0; r <= rows.UBound(1); ++r) {
        for (int32_t c = 0; c <= rows.UBound(2); ++c) {
          out += (c == 0 ? "" : ",") + CsvField(TimeText(rows(r, c)));
        }
        out += "\r\n";
      }
      if (rows.UBound(1) + 1 < kAuditMaxPageSize) break;
    }
  } catch (const Error& e) {
    if (e.code() != ErrorCode::kInvalidArgument) throw;
    visit.Message(400, visit.Text("audit"), e.description());
    return;
  }
  HttpResponse& response = visit.http().response();
  response.SetContentType("text/csv; charset=utf-8");
  response.Write(out);
}

}  // namespace

void AuditPage(AdminVisit& visit) {
  const std::string& rest = visit.rest();
  if (visit.post()) {
    visit.Message(404, visit.Text("not_found"), visit.Text("no_page"));
  } else if (rest.empty()) {
    ShowTrail(visit);
  } else if (rest == "/csv") {
    SendCsv(visit);
  } else {
    visit.Message(404, visit.Text("not_found"), visit.Text("no_page"));
  }
}

}  // namespace wrenhaven::web
