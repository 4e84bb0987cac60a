#include <gtest/gtest.h>

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
