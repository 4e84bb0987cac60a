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

}  // namespace
}  // namespace wrenhaven::host
