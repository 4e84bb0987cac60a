// The same page on the in-memory host and over HTTP gives the same output,
// redirect, cookies and failures: both hosts hand pages the one buffered
// response and session.
#include <gtest/gtest.h>
#include <spdlog/spdlog.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "tests/http/http_support.h"
#include "wrenhaven/error.h"
#include "wrenhaven/http_host.h"
#include "wrenhaven/memory_page.h"

namespace wrenhaven::testing {
namespace {

using Page = std::function<void(ScriptingContext&)>;

struct Case {
  const char* name;
  Page page;
};

const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = {
      {"write",
       [](ScriptingContext& sc) {
         sc.response()->Write("a");
         sc.response()->Write("b");
       }},
      {"nothing after end",
       [](ScriptingContext& sc) {
         sc.response()->Write("kept");
         sc.response()->End();
         sc.response()->Write("dropped");
         sc.response()->SetCookie("late", "1");
       }},
      {"redirect drops the output",
       [](ScriptingContext& sc) {
         sc.response()->Write("dropped");
         sc.response()->SetCookie("name", "ann");
         sc.response()->Redirect("MyOffice/?42");
         sc.response()->Write("after");
         sc.response()->SetCookie("late", "1");
       }},
      {"cookie value and expiry",
       [](ScriptingContext& sc) {
         sc.response()->SetCookieExpires("pname", Date::FromParts(2030, 1, 2));
         sc.response()->SetCookie("PNAME", "ann");
         sc.response()->SetCookie("name", "ann");
       }},
      {"a cookie name that is no token",
       [](ScriptingContext& sc) {
         sc.response()->Write("half");
         sc.response()->SetCookie("a b", "1");
       }},
      {"an expiry for a name that is no token",
       [](ScriptingContext& sc) {
         sc.response()->SetCookieExpires("a;b", Date::FromParts(2030, 1, 2));
       }},
      {"session values ignore letter case",
       [](ScriptingContext& sc) {
         sc.session()->Set("PersonID", Variant::Long(7));
         sc.session()->Set("personid", Variant::Long(8));
         sc.response()->Write(sc.session()->Get("PERSONID").ToText());
       }},
  };
  return cases;
}

// What a page left, as a browser would tell it.
struct Outcome {
  bool failed = false;
  std::string output;
  std::string redirect;
  std::vector<std::string> cookies;  // "name=value", "+expires" when set

  bool operator==(const Outcome&) const = default;
};

void PrintTo(const Outcome& o, std::ostream* os) {
  *os << (o.failed ? "failed" : "ok") << " output=\"" << o.output
      << "\" redirect=\"" << o.redirect << "\" cookies=";
  for (const std::string& c : o.cookies) *os << "[" << c << "]";
}

Outcome OnMemory(const Page& page) {
  MemoryContext sc;
  Outcome o;
  try {
    page(sc);
  } catch (const Error&) {
    o.failed = true;
    return o;
  }
  const MemoryResponse& r = *sc.response_obj;
  o.output = r.written();
  o.redirect = r.redirect().value_or("");
  for (const auto& [name, cookie] : r.cookies()) {
    o.cookies.push_back(name + "=" + cookie.value +
                        (cookie.expires ? "+expires" : ""));
  }
  return o;
}

Outcome OverHttp(int port, size_t index) {
  Browser b(port);
  const Reply r = b.Get("/case/" + std::to_string(index));
  Outcome o;
  if (r.status == 500) {
    o.failed = true;
    EXPECT_TRUE(r.All("Set-Cookie").empty());
    return o;
  }
  o.output = r.status == 302 ? "" : r.body;
  o.redirect = r.Header("Location");
  for (const std::string& header : r.All("Set-Cookie")) {
    const std::string pair = header.substr(0, header.find(';'));
    // The session cookie is the host's, not the page's.
    if (pair.rfind("WRENHAVEN_SESSION=", 0) == 0) continue;
    o.cookies.push_back(pair + (header.find("; Expires=") != std::string::npos
                                    ? "+expires"
                                    : ""));
  }
  return o;
}

TEST(PageParityTest, TheMemoryHostShowsWhatHttpSends) {
  spdlog::set_level(spdlog::level::off);
  HttpHostOptions options;
  options.log_requests = false;
  TestHost host(options, nullptr, [](HttpHost& h) {
    for (size_t i = 0; i < Cases().size(); ++i) {
      h.AddPage("/case/" + std::to_string(i),
                [i](HttpPage& page) { Cases()[i].page(*page.context()); });
    }
  });
  for (size_t i = 0; i < Cases().size(); ++i) {
    EXPECT_EQ(OnMemory(Cases()[i].page), OverHttp(host.port(), i))
        << Cases()[i].name;
  }
  spdlog::set_level(spdlog::level::info);
}

}  // namespace
}  // namespace wrenhaven::testing
