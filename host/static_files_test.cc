// The static folder never hands out a file outside itself.
#include "host/static_files.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>

#include "wrenhaven/error.h"

namespace wrenhaven::host {
namespace {

namespace fs = std::filesystem;

class StaticFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/wrenhaven-static-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    top_ = pattern;
    fs::create_directories(top_ / "static" / "css");
    Write(top_ / "static" / "css" / "site.css", "body{}");
    Write(top_ / "static" / "icons.svg", "<svg/>");
    Write(top_ / "secret.txt", "password");
    fs::create_symlink(top_ / "secret.txt", top_ / "static" / "leak.txt");
    fs::create_directory_symlink(top_, top_ / "static" / "up");
  }
  void TearDown() override { fs::remove_all(top_); }

  static void Write(const fs::path& file, const std::string& text) {
    std::ofstream(file) << text;
  }

  fs::path top_;
};

TEST_F(StaticFilesTest, ServesFilesInsideTheFolder) {
  StaticFiles files((top_ / "static").string());
  const auto css = files.Resolve("css/site.css");
  ASSERT_TRUE(css.has_value());
  EXPECT_EQ(css->filename(), "site.css");
  EXPECT_TRUE(files.Resolve("icons.svg").has_value());
}

TEST_F(StaticFilesTest, NothingOutsideTheFolder) {
  StaticFiles files((top_ / "static").string());
  for (const char* path : {"../secret.txt", "css/../../secret.txt",
                           "css/../icons.svg", "./icons.svg", "css//site.css",
                           "/etc/passwd", "..", "", "css\\..\\..\\secret.txt",
                           "leak.txt", "up/secret.txt", "css", "missing.css"}) {
    EXPECT_FALSE(files.Resolve(path).has_value()) << path;
  }
  EXPECT_FALSE(files.Resolve(std::string("icons.svg\0.css", 14)).has_value());
}

TEST_F(StaticFilesTest, NoFolderServesNothingAndAMissingOneIsAnError) {
  EXPECT_FALSE(StaticFiles("").Resolve("icons.svg").has_value());
  EXPECT_THROW(StaticFiles((top_ / "nowhere").string()), Error);
  EXPECT_THROW(StaticFiles((top_ / "secret.txt").string()), Error);
}

TEST(ContentTypeTest, ByExtension) {
  EXPECT_EQ(StaticFiles::ContentType("a/site.CSS"), "text/css; charset=utf-8");
  EXPECT_EQ(StaticFiles::ContentType("signin.js"),
            "text/javascript; charset=utf-8");
  EXPECT_EQ(StaticFiles::ContentType("icons.svg"), "image/svg+xml");
  EXPECT_EQ(StaticFiles::ContentType("data.bin"), "application/octet-stream");
}

}  // namespace
}  // namespace wrenhaven::host
