#include "host/content_policy.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace wrenhaven::host {
namespace {

// The expected sources are from
//   printf '...' | openssl dgst -sha256 -binary | base64
TEST(ContentPolicyTest, HashSourceOfTheFailureAlert) {
  // What a browser hashes of "<script ...>\r\n   alert(...)</script>":
  // the text with its CR LF read as LF.
  EXPECT_EQ(HashSource("\r\n   alert(\"登陆失败!\")"),
            "'sha256-5iEg5cQXEAV7cd+uQjQ07bl4R5BlLx7V5dBfNgsCANY='");
  EXPECT_EQ(HashSource("\n   alert(\"登陆失败!\")"),
            "'sha256-5iEg5cQXEAV7cd+uQjQ07bl4R5BlLx7V5dBfNgsCANY='");
}

TEST(ContentPolicyTest, LoneCarriageReturnsReadAsLineFeeds) {
  const std::string expected =
      "'sha256-eF7o/E6sKMsz43EKjapiP56ZH+Ifw4kgxhCpoNhQtpg='";  // "a\nb\nc\n\n"
  EXPECT_EQ(HashSource("a\rb\r\nc\n\r"), expected);
  EXPECT_EQ(HashSource("a\nb\nc\n\n"), expected);
  EXPECT_EQ(HashSource(""),
            "'sha256-47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU='");
}

TEST(ContentPolicyTest, ScriptTextsAreTheElementsBodies) {
  EXPECT_EQ(ScriptTexts("<script language='javascript'>\r\n   alert(1)"
                        "</script>\r\n<p>x</p><SCRIPT>b()</Script >"),
            (std::vector<std::string>{"\r\n   alert(1)", "b()"}));
  EXPECT_EQ(ScriptTexts("<scripts>a</scripts><script src=\"/x.js\"></script>"),
            std::vector<std::string>{""});
  // No end tag: nothing that could be allowed by mistake.
  EXPECT_TRUE(ScriptTexts("<script>alert(1)").empty());
  EXPECT_TRUE(ScriptTexts("<p>plain</p>").empty());
}

TEST(ContentPolicyTest, PolicyAllowingNamesTheSourcesAndNothingInline) {
  EXPECT_EQ(kContentSecurityPolicy,
            "default-src 'self'; script-src 'self'; style-src 'self'; "
            "img-src 'self' data:; object-src 'none'; base-uri 'none'; "
            "form-action 'self'; frame-ancestors 'self'");
  EXPECT_EQ(PolicyAllowing({}, {}), kContentSecurityPolicy);
  EXPECT_EQ(PolicyAllowing({"'sha256-A='", "'sha256-B='"}, {"'sha256-C='"}),
            "default-src 'self'; script-src 'self' 'sha256-A=' 'sha256-B='; "
            "style-src 'self' 'sha256-C='; img-src 'self' data:; "
            "object-src 'none'; base-uri 'none'; form-action 'self'; "
            "frame-ancestors 'self'");
}

}  // namespace
}  // namespace wrenhaven::host
