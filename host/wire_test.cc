// What the host reads from requests and writes into responses.
#include "host/wire.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <string>
#include <vector>

#include "frame/text.h"

namespace wrenhaven::host {
namespace {

std::string Items(const std::vector<HttpItem>& items) {
  std::string out;
  for (const HttpItem& i : items) out += "[" + i.name + "=" + i.value + "]";
  return out;
}

TEST(UrlEncodedTest, DecodesNamesAndValuesInOrder) {
  EXPECT_EQ(Items(ParseUrlEncoded("LoginName=o%27hara&LoginPwd=a+b%2Bc&x")),
            "[LoginName=o'hara][LoginPwd=a b+c][x=]");
  EXPECT_EQ(Items(ParseUrlEncoded("&&a=1&&b==2&")), "[a=1][b==2]");
  // The main window's address carries its token as a bare item.
  EXPECT_EQ(Items(ParseUrlEncoded("152809102049752")), "[152809102049752=]");
  EXPECT_EQ(Items(ParseUrlEncoded("k=%E5%8A%9E%E5%85%AC")), "[k=办公]");
}

TEST(UrlEncodedTest, MalformedEscapesStayAsTheyAre) {
  EXPECT_EQ(PercentDecode("100%", false), "100%");
  EXPECT_EQ(PercentDecode("%zz%4", false), "%zz%4");
  EXPECT_EQ(PercentDecode("%0d%0A", false), "\r\n");
  EXPECT_EQ(PercentDecode("a+b", false), "a+b");
  EXPECT_EQ(PercentDecode("a+b", true), "a b");
}

TEST(CookieHeaderTest, SplitsTrimsUnquotesAndDecodes) {
  EXPECT_EQ(Items(ParseCookieHeader(" pname=ann ;name=\"o'hara!3Bx\";;junk;=x;"
                                    "WRENHAVEN_SESSION=ab")),
            "[pname=ann][name=o'hara;x][WRENHAVEN_SESSION=ab]");
  EXPECT_EQ(Items(ParseCookieHeader("a=x!0D!0Ay!zz!4")), "[a=x\r\ny!zz!4]");
}

TEST(CookieValueTest, EncodesEverythingThatCouldEndOrSplitTheHeader) {
  EXPECT_EQ(EncodeCookieValue("a\r\nSet-Cookie: x=1"),
            "a!0D!0ASet-Cookie:!20x=1");
  EXPECT_EQ(EncodeCookieValue("a;b,c\"d\\e%f!g"), "a!3Bb!2Cc!22d!5Ce!25f!21g");
  EXPECT_EQ(EncodeCookieValue("o''hara"), "o''hara");
  EXPECT_EQ(EncodeCookieValue("办"), "!E5!8A!9E");
  // No "%" ever goes out: the transport would decode it on the way back.
  EXPECT_EQ(EncodeCookieValue("%3B").find('%'), std::string::npos);
  // Whatever goes out comes back unchanged.
  const std::string awkward = "x\r\n\t ;,\"\\%25é'=!21";
  const auto back = ParseCookieHeader("c=" + EncodeCookieValue(awkward));
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0].value, awkward);
}

TEST(CookieNameTest, OnlyTokens) {
  EXPECT_TRUE(IsToken("pname"));
  EXPECT_TRUE(IsToken("WRENHAVEN_SESSION"));
  EXPECT_FALSE(IsToken(""));
  EXPECT_FALSE(IsToken("a b"));
  EXPECT_FALSE(IsToken("a=b"));
  EXPECT_FALSE(IsToken("a;b"));
  EXPECT_FALSE(IsToken("a\r\nb"));
  EXPECT_FALSE(IsToken("名"));
}

class TimeZone {
 public:
  explicit TimeZone(const char* tz) {
    const char* old = getenv("TZ");
    if (old) old_ = old;
    had_ = old != nullptr;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~TimeZone() {
    if (had_) {
      setenv("TZ", old_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  std::string old_;
  bool had_ = false;
};

TEST(HttpDateTest, LocalTimeGoesOutAsGmt) {
  {
    TimeZone utc("UTC0");
    EXPECT_EQ(HttpDate(Date::FromParts(2027, 1, 5, 7, 49, 18)),
              "Tue, 05 Jan 2027 07:49:18 GMT");
  }
  {
    TimeZone shanghai("CST-8");
    EXPECT_EQ(HttpDate(Date::FromParts(2027, 1, 5, 7, 49, 18)),
              "Mon, 04 Jan 2027 23:49:18 GMT");
  }
}

TEST(PageCookieTest, PathExpiryAndFlags) {
  TimeZone utc("UTC0");
  HttpResponse::Cookie pname{"o''hara x",
                             Date::FromParts(2027, 1, 5, 7, 49, 18)};
  EXPECT_EQ(PageCookieHeader("pname", pname, false),
            "pname=o''hara!20x; Path=/; Expires=Tue, 05 Jan 2027 07:49:18 GMT; "
            "SameSite=Lax");
  HttpResponse::Cookie name{"ann", std::nullopt};
  EXPECT_EQ(PageCookieHeader("name", name, true),
            "name=ann; Path=/; SameSite=Lax; Secure");
}

TEST(Utf8Test, ShortestFormsWithoutNul) {
  struct Case {
    std::string text;
    bool ok;
  };
  const Case cases[] = {
      {"", true},
      {"plain ascii", true},
      {"登陆失败!", true},
      {"\xC3\xA9", true},               // é
      {"\xF0\x9F\x98\x80", true},       // U+1F600
      {"\xF4\x8F\xBF\xBF", true},       // U+10FFFF
      {std::string("a\0b", 3), false},  // NUL
      {"\xFF", false},
      {"\x80", false},  // a continuation byte alone
      {"\xC3", false},  // cut short
      {"\xE5\x8A", false},
      {"\xC0\xAF", false},          // overlong "/"
      {"\xE0\x80\xAF", false},      // overlong "/"
      {"\xF0\x80\x80\xAF", false},  // overlong "/"
      {"\xED\xA0\x80", false},      // a surrogate
      {"\xF4\x90\x80\x80", false},  // past U+10FFFF
      {"\xC3\x28", false},          // no continuation
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsUtf8Text(c.text), c.ok) << ::testing::PrintToString(c.text);
  }
  // Stored session text may hold a NUL; request text may not.
  EXPECT_TRUE(IsValidUtf8(std::string("a\0b", 3)));
}

TEST(LocationTest, NothingCanStartAnotherHeader) {
  EXPECT_EQ(SafeLocation("MyOffice/?123"), "MyOffice/?123");
  EXPECT_EQ(SafeLocation("/x\r\nSet-Cookie: a=1"), "/x%0D%0ASet-Cookie:%20a=1");
  EXPECT_EQ(SafeLocation("/a\"<b>\\c"), "/a%22%3Cb%3E%5Cc");
  EXPECT_EQ(SafeLocation("/办"), "/%E5%8A%9E");
}

TEST(HtmlEscapeTest, AllFiveCharacters) {
  EXPECT_EQ(
      HtmlEscape("<script>alert('x') & \"y\"</script>"),
      "&lt;script&gt;alert(&#39;x&#39;) &amp; &quot;y&quot;&lt;/script&gt;");
}

TEST(HeaderVariableTest, HttpPrefixUpperCaseUnderscores) {
  EXPECT_EQ(HeaderVariableName("User-Agent"), "HTTP_USER_AGENT");
  EXPECT_EQ(HeaderVariableName("accept-language"), "HTTP_ACCEPT_LANGUAGE");
  EXPECT_EQ(HeaderVariableName("X-Forwarded-For"), "HTTP_X_FORWARDED_FOR");
}

}  // namespace
}  // namespace wrenhaven::host
