#include "host/request_builder.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace wrenhaven::host {
namespace {

using Collection = Request::Collection;

httplib::Request Get(const std::string& target) {
  httplib::Request req;
  req.method = "GET";
  req.target = target;
  req.path = target.substr(0, target.find('?'));
  req.version = "HTTP/1.1";
  req.remote_addr = "127.0.0.1";
  return req;
}

TEST(RequestBuilderTest, EveryCookieHeaderIsParsedIntoTheCollection) {
  httplib::Request req = Get("/");
  req.headers.emplace("Cookie", "a=1; b=2");
  req.headers.emplace("Cookie", "SID=x");
  const std::vector<HttpItem> cookies = ReadCookies(req);
  ASSERT_EQ(cookies.size(), 3u);
  EXPECT_EQ(cookies[2].name, "SID");
  const auto request = BuildRequest(req, {"127.0.0.1", false});
  EXPECT_EQ(request->items(Collection::kCookies).size(), 3u);
  EXPECT_EQ(request->Lookup(Collection::kCookies, "sid").value_or(""), "x");
}

TEST(RequestBuilderTest, OnlyUtf8TextWithoutNulIsText) {
  struct Case {
    const char* what;
    std::function<void(httplib::Request&)> change;
    bool ok;
  };
  const Case cases[] = {
      {"plain", [](httplib::Request&) {}, true},
      {"query in any script",
       [](httplib::Request& r) { r.target = "/?a=%E7%99%BB"; }, true},
      {"query value", [](httplib::Request& r) { r.target = "/?a=%FF"; }, false},
      {"query name", [](httplib::Request& r) { r.target = "/?%FF=1"; }, false},
      {"query NUL", [](httplib::Request& r) { r.target = "/?a=%00"; }, false},
      {"form value",
       [](httplib::Request& r) {
         r.method = "POST";
         r.headers.emplace("Content-Type", "application/x-www-form-urlencoded");
         r.body = "a=%C0%AF";
       },
       false},
      {"cookie value",
       [](httplib::Request& r) { r.headers.emplace("Cookie", "a=!FF"); },
       false},
      {"header value",
       [](httplib::Request& r) { r.headers.emplace("X-A", "\xE9"); }, false},
      {"header NUL",
       [](httplib::Request& r) {
         r.headers.emplace("X-A", std::string("a\0b", 3));
       },
       false},
  };
  for (const Case& c : cases) {
    httplib::Request req = Get("/");
    c.change(req);
    EXPECT_EQ(HoldsOnlyText(*BuildRequest(req, {"127.0.0.1", false})), c.ok)
        << c.what;
  }
}

// Both with a browser's few headers and with a great many.
TEST(RequestBuilderTest, HeadersOfOneNameAreJoinedInTheirOrder) {
  for (const int extra : {0, 3, 90}) {
    httplib::Request req = Get("/");
    // The library keeps headers ordered by name, without regard to case.
    req.headers.emplace("X-Tag", "1");
    req.headers.emplace("Accept", "text/html");
    req.headers.emplace("x-tag", "2");
    req.headers.emplace("X-TAG", "3");
    for (int i = 0; i < extra; ++i) {
      req.headers.emplace("X-H" + std::to_string(i), std::to_string(i));
    }
    const auto request = BuildRequest(req, {"10.0.0.5", false});
    const std::vector<HttpItem>& vars =
        request->items(Collection::kServerVariables);
    std::vector<std::string> tags;
    size_t first_header = vars.size();
    for (size_t i = 0; i < vars.size(); ++i) {
      if (vars[i].name == "HTTP_X_TAG") tags.push_back(vars[i].value);
      if (vars[i].name.rfind("HTTP_", 0) == 0 && first_header == vars.size()) {
        first_header = i;
      }
    }
    EXPECT_EQ(tags, std::vector<std::string>{"1, 2, 3"}) << extra;
    // One variable per header name after the host's own, in the library's
    // order: HTTP_ACCEPT, then HTTP_X_H0 ... , then HTTP_X_TAG.
    ASSERT_EQ(vars.size() - first_header, static_cast<size_t>(extra) + 2)
        << extra;
    EXPECT_EQ(vars[first_header].name, "HTTP_ACCEPT");
    if (extra > 0) {
      EXPECT_EQ(vars[first_header + 1].name, "HTTP_X_H0");
    }
    EXPECT_EQ(vars.back().name, "HTTP_X_TAG");
    EXPECT_EQ(request->Lookup(Collection::kServerVariables, "REMOTE_ADDR")
                  .value_or(""),
              "10.0.0.5");
  }
}

}  // namespace
}  // namespace wrenhaven::host
