// The built-in templates render, and every value goes out escaped.
#include "web/render.h"

#include <gtest/gtest.h>

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

TEST(RenderTest, UnknownTemplateIsAnError) {
  EXPECT_THROW(Render("nope", TemplateData()), Error);
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
