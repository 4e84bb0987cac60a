// How the menus are drawn from the library's results: captions in the
// browser's language, levels, icons and links that cannot run script.
#include "web/view.h"

#include <gtest/gtest.h>

#include <vector>

namespace wrenhaven::web {
namespace {

Variant S(const char* s) { return Variant::String(s); }

std::string Describe(const std::vector<MenuEntry>& entries) {
  std::string out;
  for (const MenuEntry& e : entries) {
    out += "[" + e.id + " L" + std::to_string(e.level) + " " + e.caption +
           " (" + e.tip + ") " + e.icon + " " + e.href + "]";
  }
  return out;
}

TEST(LanguageTest, EnglishOnlyWhenRankedAboveChinese) {
  EXPECT_TRUE(PrefersEnglish("en-US,en;q=0.9"));
  EXPECT_TRUE(PrefersEnglish("en-GB"));
  EXPECT_TRUE(PrefersEnglish("zh-CN;q=0.5, EN;q=0.8"));
  EXPECT_TRUE(PrefersEnglish("fr-FR, en;q=0.7"));  // no Chinese at all
  EXPECT_TRUE(PrefersEnglish("en, zh"));           // a tie: the first listed
  EXPECT_FALSE(PrefersEnglish("zh, en"));
  EXPECT_FALSE(PrefersEnglish("zh-CN,zh;q=0.9,en;q=0.8"));
  EXPECT_FALSE(PrefersEnglish(""));
  EXPECT_FALSE(PrefersEnglish("fr-FR,de"));
  EXPECT_FALSE(PrefersEnglish("en;q=0"));
  EXPECT_FALSE(PrefersEnglish("english"));
  EXPECT_FALSE(PrefersEnglish("en;q=nonsense"));
}

TEST(IconTest, KnownSymbolsOrTheDot) {
  EXPECT_EQ(IconName(S("mail.gif")), "mail");
  EXPECT_EQ(IconName(S("images/Calendar.GIF")), "calendar");
  EXPECT_EQ(IconName(S("x\" onload=\"alert(1)")), "dot");
  EXPECT_EQ(IconName(Variant::Null()), "dot");
  EXPECT_EQ(IconName(S("unknown.png")), "dot");
}

TEST(LinkTest, OnlyPagesOfThisServerAndWebAddresses) {
  EXPECT_EQ(SafeHref(S("/apps/mail")), "/apps/mail");
  EXPECT_EQ(SafeHref(S(" report.asp?id=1 ")), "report.asp?id=1");
  EXPECT_EQ(SafeHref(S("https://example.org/a")), "https://example.org/a");
  EXPECT_EQ(SafeHref(S("/x?y=a:b")), "/x?y=a:b");
  EXPECT_EQ(SafeHref(S("javascript:alert(1)")), "");
  EXPECT_EQ(SafeHref(S("JavaScript:alert(1)")), "");
  EXPECT_EQ(SafeHref(S("data:text/html,<script>")), "");
  EXPECT_EQ(SafeHref(S("//evil.example/x")), "");
  EXPECT_EQ(SafeHref(S("/a\nb")), "");
  EXPECT_EQ(SafeHref(S("/a\\b")), "");
  EXPECT_EQ(SafeHref(Variant::Null()), "");
}

// A menu item: id, level, name, tip, English caption and tip, icon, url.
MenuItem Item(int32_t id, int level, const char* name, const char* tip,
              const char* english, const char* english_tip, const char* icon,
              const char* url) {
  MenuItem item;
  item.id = id;
  item.level = level;
  item.name = name;
  item.tip = tip;
  item.english = english;
  item.english_tip = english_tip;
  item.icon = icon;
  item.url = url;
  return item;
}

// Both levels carry their own tips and English texts; an empty (or blank)
// text in the chosen language falls back to the other one; links that
// could run script are dropped.
TEST(MenuEntriesTest, CaptionsInTheChosenLanguageWithFallBack) {
  const std::vector<MenuItem> items = {
      Item(2, 1, "邮件", "内部邮件", "Mail", "Internal mail", "mail.gif",
           "/apps/mail"),
      Item(21, 2, "收件箱", "收到的邮件", "Inbox", "Mail received", "list.gif",
           "/apps/inbox"),
      Item(22, 2, "草稿", "", " ", "", "list.gif", "javascript:x()"),
      Item(3, 1, "日程", "", "", "", "calendar.gif", ""),
  };
  const struct {
    bool english;
    const char* drawn;
  } cases[] = {
      {true,
       "[2 L1 Mail (Internal mail) mail /apps/mail]"
       "[21 L2 Inbox (Mail received) list /apps/inbox]"
       "[22 L2 草稿 () list ]"
       "[3 L1 日程 () calendar ]"},
      {false,
       "[2 L1 邮件 (内部邮件) mail /apps/mail]"
       "[21 L2 收件箱 (收到的邮件) list /apps/inbox]"
       "[22 L2 草稿 () list ]"
       "[3 L1 日程 () calendar ]"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Describe(MenuEntries(items, c.english)), c.drawn) << c.english;
  }
  EXPECT_TRUE(MenuEntries({}, true).empty());
}

}  // namespace
}  // namespace wrenhaven::web
