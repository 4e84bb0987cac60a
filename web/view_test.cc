// How the menus are drawn from the library's results: captions in the
// browser's language, levels, icons and links that cannot run script.
#include "web/view.h"

#include <gtest/gtest.h>

#include <map>

namespace wrenhaven::web {
namespace {

Variant S(const char* s) { return Variant::String(s); }
Variant L(int32_t v) { return Variant::Long(v); }

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

// Rows of GetTopMenu: menuID, menuName, menuIcon, FunUrl, MenuTip,
// MenuEnglish, MenuEnglishTip.
VariantArray Top() {
  VariantArray a = VariantArray::TwoDim(1, 6);
  const Variant rows[2][7] = {
      {L(1), S("办公"), S("office.gif"), Variant::Null(), S("日常办公"),
       S("Office"), S("Everyday office work")},
      {L(6), S("财务"), S("finance.gif"), S("/apps/finance"), S("财务管理"),
       Variant::Null(), S("")},
  };
  for (int r = 0; r < 2; ++r) {
    for (int f = 0; f < 7; ++f) a(r, f) = rows[r][f];
  }
  return a;
}

TEST(TopMenuTest, CaptionsInTheChosenLanguageWithFallBack) {
  EXPECT_EQ(Describe(TopEntries(Top(), false)),
            "[1 L1 办公 (日常办公) office ][6 L1 财务 (财务管理) finance "
            "/apps/finance]");
  // No English caption or tip: the Chinese ones stand in.
  EXPECT_EQ(Describe(TopEntries(Top(), true)),
            "[1 L1 Office (Everyday office work) office ][6 L1 财务 (财务管理) "
            "finance /apps/finance]");
  EXPECT_EQ(TopEntries(VariantArray::Undimensioned(), true).size(), 0u);
}

// GetLeftMenu(1): X (with sub-entries x1, x2) and Y, then the empty row.
VariantArray Left() {
  VariantArray a = VariantArray::TwoDim(4, 8);
  const auto set = [&a](int r, std::vector<Variant> cells) {
    for (size_t f = 0; f < cells.size(); ++f)
      a(r, static_cast<int>(f)) = cells[f];
  };
  set(0, {L(2), S("邮件"), S("mail.gif"), S("/apps/mail"), L(1), S("内部邮件"),
          S("Mail"), S("Internal mail")});
  set(1, {L(21), S("收件箱"), S("list.gif"), S("/apps/inbox"), L(2)});
  set(2, {L(22), S("草稿"), S("list.gif"), S("javascript:x()"), L(2)});
  set(3, {L(3), S("日程"), S("calendar.gif"), Variant::Null(), L(1),
          Variant::Null(), Variant::Null(), Variant::Null()});
  return a;
}

TEST(LeftMenuTest, SubEntriesIndentedWithTheirOwnTexts) {
  std::map<int32_t, VariantArray> rows;
  // SYS_Menu: MenuID, FunID, MenuParentID, MenuName, MenuTip, MenuEnglish,
  // MenuEnglishTip, MenuIcon, MenuOrder.
  VariantArray inbox = VariantArray::OneDim(8);
  inbox(0) = L(21);
  inbox(3) = S("收件箱");
  inbox(4) = S("收到的邮件");
  inbox(5) = S("Inbox");
  inbox(6) = S("Mail received");
  rows[21] = inbox;
  std::vector<int32_t> asked;
  const MenuDetails details = [&](int32_t id) {
    asked.push_back(id);
    auto it = rows.find(id);
    return it == rows.end() ? VariantArray::Undimensioned() : it->second;
  };
  EXPECT_EQ(Describe(LeftEntries(Left(), 1, true, details)),
            "[2 L1 Mail (Internal mail) mail /apps/mail]"
            "[21 L2 Inbox (Mail received) list /apps/inbox]"
            "[22 L2 草稿 () list ]"
            "[3 L1 日程 () calendar ]");
  EXPECT_EQ(asked, (std::vector<int32_t>{21, 22}));
  EXPECT_EQ(Describe(LeftEntries(Left(), 1, false, details)),
            "[2 L1 邮件 (内部邮件) mail /apps/mail]"
            "[21 L2 收件箱 (收到的邮件) list /apps/inbox]"
            "[22 L2 草稿 () list ]"
            "[3 L1 日程 () calendar ]");
}

TEST(LeftMenuTest, NothingUnderTheParent) {
  EXPECT_EQ(LeftEntries(VariantArray::TwoDim(0, 8), 5, true, nullptr).size(),
            0u);
}

}  // namespace
}  // namespace wrenhaven::web
