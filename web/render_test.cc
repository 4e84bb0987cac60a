// The built-in templates render, and every value goes out escaped.
#include "web/render.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "web/texts.h"
#include "wrenhaven/error.h"

namespace wrenhaven::web {
namespace {

TEST(RenderTest, EveryTemplateParses) {
  ASSERT_FALSE(TemplateSources().empty());
  for (const auto& [name, text] : TemplateSources()) {
    TemplateData data;
    data.set("t", Texts(false));
    EXPECT_NO_THROW(Render(name, data)) << name;
  }
}

TEST(RenderTest, ValuesAreEscapedInTextAndAttributes) {
  TemplateData data;
  data.set("t", Texts(true));
  data.set("name", "\"><script>alert('x')</script>");
  const std::string form = Render("signin_form", data);
  EXPECT_NE(form.find("value=\"&quot;&gt;&lt;script&gt;alert(&apos;x&apos;)"
                      "&lt;/script&gt;\""),
            std::string::npos)
      << form;
  EXPECT_EQ(form.find("<script>alert"), std::string::npos);
}

TEST(RenderTest, TheBaseLayerFillsWhatThePageDataLacks) {
  TemplateData data;
  data.set("name", "ann");
  const std::string english = Render("signin_form", data, TextsBase(true));
  EXPECT_NE(english.find(">Sign in</button>"), std::string::npos);
  EXPECT_NE(english.find("value=\"ann\""), std::string::npos);
  // The page's own values come first.
  TemplateData own;
  own.set("t", Texts(false));
  EXPECT_NE(Render("signin_form", own, TextsBase(true)).find(">登录</button>"),
            std::string::npos);
}

TEST(RenderTest, DottedNamesFallThroughToTheLayerThatHasThem) {
  // The page's own "t" names the application; the base keeps the rest.
  TemplateData own_texts;
  own_texts.set("app_name", "<Own> office");
  TemplateData data;
  data.set("t", own_texts);
  const std::string top = Render("office", data, TextsBase(true));
  EXPECT_NE(top.find("title=\"&lt;Own&gt; office\""), std::string::npos) << top;
  EXPECT_NE(top.find(">Sign out</a>"), std::string::npos) << top;
  EXPECT_EQ(top.find("Wrenhaven Office"), std::string::npos) << top;
}

TEST(RenderTest, ItemsAddedInPlaceRenderInOrderWithTheirOwnValues) {
  TemplateData data;
  TemplateData list{TemplateData::type::list};
  for (const char* id : {"7", "3"}) {
    TemplateData& item = AppendItem(list);
    item["id"] = TemplateData(std::string(id));
    item["caption"] = TemplateData(std::string("menu ") + id);
    item["icon"] = TemplateData(std::string("dot"));
    item["active"] = TemplateData(std::string(id) == "3");
  }
  data["top"] = std::move(list);
  const std::string top = Render("menu_top", data, TextsBase(true));
  const size_t seven = top.find("data-menu=\"7\"");
  const size_t three = top.find("data-menu=\"3\" class=\"active\"");
  ASSERT_NE(seven, std::string::npos) << top;
  ASSERT_NE(three, std::string::npos) << top;
  EXPECT_LT(seven, three);
  EXPECT_NE(top.find("<span>menu 7</span>"), std::string::npos) << top;
  // Not a list: nothing to add to.
  TemplateData object;
  EXPECT_THROW(AppendItem(object), Error);
}

TEST(RenderTest, StaticFilesByTheAddressesTheHostGave) {
  TemplateData data;
  data.set("t", Texts(true));
  data.set("lang", "en");
  data.set("title", "x");
  SetStaticAddresses({{"office.css", "/static/office.0123456789ab.css"},
                      {"favicon.svg", "/files/favicon.svg"}});
  const std::string head = Render("layout_top", data);
  EXPECT_NE(head.find("<link rel=\"stylesheet\" "
                      "href=\"/static/office.0123456789ab.css\">"),
            std::string::npos)
      << head;
  EXPECT_NE(head.find("href=\"/files/favicon.svg\""), std::string::npos);
  EXPECT_EQ(StaticAddress("office.css"), "/static/office.0123456789ab.css");
  // A file the host does not know keeps its plain address.
  EXPECT_EQ(StaticAddress("signin.js"), "/static/signin.js");
  const std::string admin = Render("admin/head", data);
  EXPECT_NE(admin.find("href=\"/static/admin.css\""), std::string::npos)
      << admin;
  // Without addresses, every file has its plain one.
  SetStaticAddresses({});
  EXPECT_NE(Render("layout_top", data)
                .find("<link rel=\"stylesheet\" href=\"/static/office.css\">"),
            std::string::npos);
  EXPECT_EQ(StaticAddress("office.css"), "/static/office.css");
}

TEST(RenderTest, UnknownTemplateIsAnError) {
  EXPECT_THROW(Render("nope", TemplateData()), Error);
}

// The worker threads share one parse of each template: rendering every
// template from several threads at once gives the same text in each and
// parses nothing more.
TEST(RenderTest, TemplatesAreParsedOnceForAllThreads) {
  TemplateData data;
  data.set("name", "ann");
  const std::string expected = Render("signin_form", data, TextsBase(true));
  const size_t parsed = TemplateParses();
  EXPECT_EQ(parsed, TemplateSources().size());
  std::atomic<int> differing{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 50; ++i) {
        for (const auto& [name, text] : TemplateSources()) {
          TemplateData page;
          page.set("t", Texts(false));
          Render(name, page);
        }
        TemplateData again;
        again.set("name", "ann");
        if (Render("signin_form", again, TextsBase(true)) != expected) {
          ++differing;
        }
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(differing.load(), 0);
  EXPECT_EQ(TemplateParses(), parsed);
}

// What would write into a shared template while it renders is refused.
TEST(RenderTest, LambdasInThePageDataAreRefused) {
  TemplateData data;
  data.set("t", Texts(true));
  data.set("name", TemplateData(kainjow::mustache::lambda{
                       [](const std::string&) { return std::string("x"); }}));
  EXPECT_THROW(Render("signin_form", data), Error);
  // The template itself is unharmed.
  data.set("name", "ann");
  EXPECT_NE(Render("signin_form", data).find("value=\"ann\""),
            std::string::npos);
}

TEST(TextsTest, BothLanguagesHaveTheSameKeys) {
  TemplateData data;
  data.set("t", Texts(true));
  const std::string english = Render("signin_form", data);
  data.set("t", Texts(false));
  const std::string chinese = Render("signin_form", data);
  EXPECT_NE(english.find(">Sign in</button>"), std::string::npos);
  EXPECT_NE(chinese.find(">登录</button>"), std::string::npos);
}

}  // namespace
}  // namespace wrenhaven::web
