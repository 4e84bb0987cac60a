// The static folder, read once: nothing outside it is handed out, each
// file has its entity tag, fingerprinted name and (where it pays) gzip
// form, and the request headers that choose among them are read as HTTP
// means them.
#include "host/static_files.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <zlib.h>

#include <fstream>
#include <set>

#include "wrenhaven/error.h"

namespace wrenhaven::host {
namespace {

namespace fs = std::filesystem;

std::string Inflate(const std::string& packed) {
  z_stream stream{};
  EXPECT_EQ(inflateInit2(&stream, 15 + 16), Z_OK);
  std::string out(1 << 20, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
  stream.avail_in = static_cast<uInt>(packed.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(inflate(&stream, Z_FINISH), Z_STREAM_END);
  out.resize(stream.total_out);
  inflateEnd(&stream);
  return out;
}

class StaticFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/wrenhaven-static-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    top_ = pattern;
    fs::create_directories(top_ / "static" / "css");
    fs::create_directories(top_ / "static" / ".git");
    Write(top_ / "static" / "css" / "site.css", Css());
    Write(top_ / "static" / "copy.css", Css());
    Write(top_ / "static" / "icons.svg", "<svg/>");
    Write(top_ / "static" / "logo.png", std::string("\x89PNG\r\n\x1a\n", 8));
    Write(top_ / "static" / "LICENSE", "free");
    Write(top_ / "static" / ".hidden", "not served");
    Write(top_ / "static" / ".git" / "config", "not served");
    Write(top_ / "secret.txt", "password");
    fs::create_symlink(top_ / "secret.txt", top_ / "static" / "leak.txt");
    fs::create_symlink(top_ / "static" / "icons.svg",
                       top_ / "static" / "same.svg");
    fs::create_directory_symlink(top_, top_ / "static" / "up");
  }
  void TearDown() override { fs::remove_all(top_); }

  static std::string Css() {
    std::string css;
    for (int i = 0; i < 40; ++i) {
      css += ".entry" + std::to_string(i) + "{color:#222;margin:0 1em}\n";
    }
    return css;
  }
  static void Write(const fs::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary) << text;
  }
  std::string Root() const { return (top_ / "static").string(); }

  fs::path top_;
};

TEST_F(StaticFilesTest, ServesFilesInsideTheFolderByName) {
  StaticFiles files(Root());
  const auto css = files.Find("css/site.css");
  ASSERT_TRUE(css);
  EXPECT_FALSE(css.fingerprinted);
  EXPECT_EQ(css.file->name, "css/site.css");
  EXPECT_EQ(css.file->body, Css());
  EXPECT_EQ(css.file->content_type, "text/css; charset=utf-8");
  ASSERT_TRUE(files.Find("icons.svg"));
  // A link to a file inside is that file.
  ASSERT_TRUE(files.Find("same.svg"));
  EXPECT_EQ(files.Find("same.svg").file->body, "<svg/>");
}

TEST_F(StaticFilesTest, NothingOutsideTheFolderNorHidden) {
  StaticFiles files(Root());
  for (const char* path :
       {"../secret.txt", "css/../../secret.txt", "css/../icons.svg",
        "./icons.svg", "css//site.css", "/etc/passwd", "..", "", "/",
        "css\\..\\..\\secret.txt", "leak.txt", "up/secret.txt", "css",
        "missing.css", ".hidden", ".git/config", "CSS/site.css"}) {
    EXPECT_FALSE(files.Find(path)) << path;
  }
  EXPECT_FALSE(files.Find(std::string("icons.svg\0.css", 14)));
  EXPECT_FALSE(files.Find(std::string(5000, 'a')));
}

TEST_F(StaticFilesTest, ReadOnceAtStart) {
  StaticFiles files(Root());
  Write(top_ / "static" / "icons.svg", "<svg>changed</svg>");
  Write(top_ / "static" / "new.css", "body{}");
  EXPECT_EQ(files.Find("icons.svg").file->body, "<svg/>");
  EXPECT_FALSE(files.Find("new.css"));
}

TEST_F(StaticFilesTest, StrongTagsFollowTheContent) {
  StaticFiles files(Root());
  const StaticFile& css = *files.Find("css/site.css").file;
  const StaticFile& copy = *files.Find("copy.css").file;
  const StaticFile& svg = *files.Find("icons.svg").file;
  ASSERT_EQ(css.etag.size(), 34u);
  EXPECT_EQ(css.etag.front(), '"');
  EXPECT_EQ(css.etag.back(), '"');
  EXPECT_EQ(css.etag.find_first_not_of("0123456789abcdef", 1), 33u);
  EXPECT_EQ(css.etag, copy.etag);
  EXPECT_NE(css.etag, svg.etag);
  // The gzip form is another representation with a tag of its own.
  ASSERT_FALSE(css.gzip.empty());
  EXPECT_NE(css.gzip_etag, css.etag);
  EXPECT_NE(css.gzip_etag, svg.etag);
}

TEST_F(StaticFilesTest, FingerprintedNamesCarryTheHash) {
  StaticFiles files(Root());
  const StaticFile& css = *files.Find("css/site.css").file;
  const std::string digits = css.etag.substr(1, 12);
  EXPECT_EQ(css.fingerprinted, "css/site." + digits + ".css");
  const auto by_print = files.Find(css.fingerprinted);
  ASSERT_TRUE(by_print);
  EXPECT_TRUE(by_print.fingerprinted);
  EXPECT_EQ(by_print.file, &css);
  // Without an extension the digits go last.
  const StaticFile& license = *files.Find("LICENSE").file;
  EXPECT_EQ(license.fingerprinted, "LICENSE." + license.etag.substr(1, 12));
  // Another hash is no name at all.
  EXPECT_FALSE(files.Find("css/site.000000000000.css"));

  std::set<std::string> names;
  for (const auto& [name, printed] : files.Fingerprints()) {
    names.insert(name);
    EXPECT_EQ(printed, files.Find(name).file->fingerprinted) << name;
  }
  EXPECT_EQ(names,
            (std::set<std::string>{"LICENSE", "copy.css", "css/site.css",
                                   "icons.svg", "logo.png", "same.svg"}));
}

TEST_F(StaticFilesTest, AFileNamedLikeAFingerprintKeepsItsName) {
  const std::string digits =
      StaticFiles(Root()).Find("icons.svg").file->etag.substr(1, 12);
  Write(top_ / "static" / ("icons." + digits + ".svg"), "<svg>other</svg>");
  StaticFiles files(Root());
  const auto found = files.Find("icons." + digits + ".svg");
  ASSERT_TRUE(found);
  EXPECT_FALSE(found.fingerprinted);
  EXPECT_EQ(found.file->body, "<svg>other</svg>");
  for (const auto& [name, printed] : files.Fingerprints()) {
    if (name == "icons.svg") {
      EXPECT_EQ(printed, "icons.svg");
    }
  }
}

TEST_F(StaticFilesTest, GzipKeptForTextWhenItIsSmaller) {
  StaticFiles files(Root());
  const StaticFile& css = *files.Find("css/site.css").file;
  ASSERT_FALSE(css.gzip.empty());
  EXPECT_LT(css.gzip.size(), css.body.size());
  EXPECT_EQ(Inflate(css.gzip), css.body);
  // Too short to gain, and a format that is compressed already.
  EXPECT_TRUE(files.Find("icons.svg").file->gzip.empty());
  EXPECT_TRUE(files.Find("logo.png").file->gzip.empty());
}

TEST_F(StaticFilesTest, LimitsAreCheckedBeforeReading) {
  StaticFiles::Limits few;
  few.files = 3;
  EXPECT_THROW(StaticFiles(Root(), few), Error);
  StaticFiles::Limits small;
  small.file_bytes = 100;
  EXPECT_THROW(StaticFiles(Root(), small), Error);
  StaticFiles::Limits total;
  total.total_bytes = Css().size() + 10;
  EXPECT_THROW(StaticFiles(Root(), total), Error);
  StaticFiles::Limits enough;
  enough.files = 6;
  EXPECT_NO_THROW(StaticFiles(Root(), enough));
}

TEST_F(StaticFilesTest, NoFolderServesNothingAndAMissingOneIsAnError) {
  EXPECT_FALSE(StaticFiles("").Find("icons.svg"));
  EXPECT_TRUE(StaticFiles("").Fingerprints().empty());
  EXPECT_THROW(StaticFiles((top_ / "nowhere").string()), Error);
  EXPECT_THROW(StaticFiles((top_ / "secret.txt").string()), Error);
}

TEST(AcceptsGzipTest, QualitiesAndWildcards) {
  for (const char* yes :
       {"gzip", "GZIP", "gzip, deflate, br", "br;q=1.0, gzip;q=0.5",
        "deflate, gzip ; q=0.001", "*", "x-gzip", "identity, *;q=0.3",
        "gzip;q=1", "gzip;level=1"}) {
    EXPECT_TRUE(AcceptsGzip(yes)) << yes;
  }
  for (const char* no : {"", "identity", "br", "deflate", "gzip;q=0",
                         "gzip;q=0.000", "gzip; q=0.0, *", "*;q=0", "gzip;q=2",
                         "gzip;q=x", "gzipped", "gzip;q=0.0001"}) {
    EXPECT_FALSE(AcceptsGzip(no)) << no;
  }
  EXPECT_FALSE(AcceptsGzip(std::string(5000, ' ') + "gzip"));
}

TEST(NoneMatchHoldsTest, ListsWeakTagsAndTheStar) {
  const std::string tag = "\"abc\"";
  for (const char* yes : {"\"abc\"", "W/\"abc\"", "\"x\", \"abc\"",
                          "\"x\",W/\"abc\"", " * ", "\"x\" ,\t\"abc\" "}) {
    EXPECT_TRUE(NoneMatchHolds(yes, tag)) << yes;
  }
  for (const char* no : {"", "\"abcd\"", "abc", "\"ab\"c\"", "W/abc",
                         "\"x\", abc", "\"abc", "w/\"abc\""}) {
    EXPECT_FALSE(NoneMatchHolds(no, tag)) << no;
  }
}

TEST(GzipTest, RoundTripsAnything) {
  std::string bytes;
  for (int i = 0; i < 70000; ++i) bytes += static_cast<char>(i * 7 % 251);
  for (const std::string& data : {std::string(), std::string("a"), bytes}) {
    const std::string packed = Gzip(data);
    ASSERT_GE(packed.size(), 18u);  // header and trailer
    EXPECT_EQ(static_cast<unsigned char>(packed[0]), 0x1f);
    EXPECT_EQ(static_cast<unsigned char>(packed[1]), 0x8b);
    EXPECT_EQ(Inflate(packed), data);
  }
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
