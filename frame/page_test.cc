#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "wrenhaven/error.h"
#include "wrenhaven/memory_page.h"

namespace wrenhaven {
namespace {

using C = Request::Collection;

TEST(RequestTest, CombinedLookupSearchesTheCollectionsInOrder) {
  MemoryRequest r;
  r.Set(C::kServerVariables, "x", "server");
  EXPECT_EQ(r.Item("x"), "server");
  r.Set(C::kClientCertificate, "x", "cert");
  EXPECT_EQ(r.Item("x"), "cert");
  r.Set(C::kCookies, "x", "cookie");
  EXPECT_EQ(r.Item("x"), "cookie");
  r.Set(C::kForm, "x", "form");
  EXPECT_EQ(r.Item("x"), "form");
  r.Set(C::kQueryString, "X", "query");
  EXPECT_EQ(r.Item("x"), "query");
  EXPECT_EQ(r.Item("absent"), "");
  EXPECT_EQ(r.ServerVariable("X"), "server");
}

TEST(ResponseTest, NothingWrittenAfterTheEndIsKept) {
  MemoryResponse r;
  r.Write("a");
  r.End();
  r.Write("b");
  r.SetCookie("late", "1");
  EXPECT_EQ(r.written(), "a");
  EXPECT_TRUE(r.ended());
  EXPECT_EQ(r.cookie("late"), nullptr);
}

TEST(ResponseTest, CookieValueAndExpiryAreSetIndependently) {
  MemoryResponse r;
  r.SetCookieExpires("pname", Date::FromParts(2030, 1, 2));
  r.SetCookie("PNAME", "ann");
  ASSERT_NE(r.cookie("pname"), nullptr);
  EXPECT_EQ(r.cookie("pname")->value, "ann");
  EXPECT_EQ(r.cookie("pname")->expires->ToIso(), "2030-01-02 00:00:00");
  EXPECT_EQ(r.cookies().size(), 1u);
}

TEST(ResponseTest, ARedirectDropsWhatWasWritten) {
  MemoryResponse r;
  r.Write("dropped");
  r.Redirect("MyOffice/?1");
  r.Write("after");
  EXPECT_EQ(r.written(), "");
  EXPECT_EQ(*r.redirect(), "MyOffice/?1");
  EXPECT_TRUE(r.ended());
}

TEST(ResponseTest, CookieNamesMustBeTokens) {
  for (const char* name : {"", "a b", "a;b", "a=b", "a\r\nb", "名"}) {
    MemoryResponse r;
    try {
      r.SetCookie(name, "1");
      ADD_FAILURE() << "SetCookie took " << name;
    } catch (const Error& e) {
      EXPECT_EQ(e.code(), ErrorCode::kInvalidArgument);
    }
    EXPECT_THROW(r.SetCookieExpires(name, Date::FromParts(2030, 1, 2)), Error)
        << name;
    EXPECT_TRUE(r.cookies().empty());
  }
}

TEST(ResponseTest, SetHeaderTakesTokensAndValuesOnOneLine) {
  struct Case {
    std::string name, value;
    bool ok;
  };
  const Case cases[] = {
      {"Retry-After", "1", true},
      {"X-Custom", "a, b; c=\"d\"", true},
      {"X-Empty", "", true},
      {"", "1", false},
      {"Retry After", "1", false},
      {"X:Y", "1", false},
      {"X-名", "1", false},
      {"X-Line", "a\r\nSet-Cookie: evil=1", false},
      {"X-Line", "a\nb", false},
      {"X-Line", "a\rb", false},
      {"X-Nul", std::string("a\0b", 3), false},
      // The host sets these from the response's own state.
      {"Set-Cookie", "a=1", false},
      {"content-type", "text/plain", false},
      {"Content-Length", "0", false},
      {"Location", "/", false},
      {"Transfer-Encoding", "chunked", false},
  };
  for (const Case& c : cases) {
    MemoryResponse r;
    try {
      r.SetHeader(c.name, c.value);
      EXPECT_TRUE(c.ok) << c.name << ": " << c.value;
      ASSERT_EQ(r.headers().size(), 1u);
      EXPECT_EQ(r.headers()[0].first, c.name);
      EXPECT_EQ(r.headers()[0].second, c.value);
    } catch (const Error& e) {
      EXPECT_FALSE(c.ok) << c.name << ": " << c.value;
      EXPECT_EQ(e.code(), ErrorCode::kInvalidArgument);
      EXPECT_TRUE(r.headers().empty());
    }
  }
  MemoryResponse r;
  r.SetHeader("Retry-After", "1");
  r.SetHeader("retry-after", "5");
  ASSERT_EQ(r.headers().size(), 1u);
  EXPECT_EQ(r.headers()[0].second, "5");
}

TEST(ResponseTest, StatusIsAnAnswerStatus) {
  MemoryResponse r;
  EXPECT_EQ(r.status(), 200);
  r.SetStatus(429);
  EXPECT_EQ(r.status(), 429);
  for (int bad : {0, 99, 101, 199, 600, -1}) {
    EXPECT_THROW(r.SetStatus(bad), Error) << bad;
  }
  EXPECT_EQ(r.status(), 429);
}

TEST(SessionTest, HoldsNothingWhenEveryValueIsEmpty) {
  struct Case {
    const char* what;
    std::vector<Variant> values;
    bool nothing;
  };
  const Case cases[] = {
      {"no values", {}, true},
      {"the empty text", {Variant::String("")}, true},
      {"Empty", {Variant()}, true},
      {"both", {Variant::String(""), Variant()}, true},
      {"Null", {Variant::Null()}, false},
      {"zero", {Variant::Long(0)}, false},
      {"false", {Variant::Boolean(false)}, false},
      {"a blank", {Variant::String(" ")}, false},
      {"one text among empties", {Variant(), Variant::String("x")}, false},
  };
  for (const Case& c : cases) {
    MemorySession s;
    for (size_t i = 0; i < c.values.size(); ++i) {
      s.Set("k" + std::to_string(i), c.values[i]);
    }
    EXPECT_EQ(s.holds_nothing(), c.nothing) << c.what;
  }
}

TEST(SessionTest, KeysIgnoreLetterCaseAndKeepTheirOrder) {
  MemorySession s;
  s.Set("PersonID", Variant::Long(7));
  s.Set("Role", Variant::String("Clerk"));
  s.Set("personid", Variant::String(""));
  EXPECT_EQ(s.Get("PERSONID"), Variant::String(""));
  EXPECT_TRUE(s.Get("absent").is_empty());
  ASSERT_EQ(s.values().size(), 2u);
  EXPECT_EQ(s.values()[0].first, "PersonID");
}

}  // namespace
}  // namespace wrenhaven
