// The request log's lines, exactly: the combined format the log tools
// read, the JSON lines, what is cut and what is escaped.
#include "host/request_log.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <nlohmann/json.hpp>

namespace wrenhaven::host {
namespace {

using std::chrono::system_clock;

class RequestLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = getenv("TZ");
    if (tz != nullptr) saved_tz_ = tz;
    had_tz_ = tz != nullptr;
  }
  void TearDown() override {
    if (had_tz_) {
      setenv("TZ", saved_tz_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  static void Zone(const char* tz) {
    setenv("TZ", tz, 1);
    tzset();
  }

  // 2026-12-07 14:54:13.123 UTC.
  static RequestRecord Record() {
    RequestRecord r;
    r.time = system_clock::time_point(std::chrono::seconds(1796655253)) +
             std::chrono::milliseconds(123);
    r.client = "203.0.113.9";
    r.method = "GET";
    r.target = "/MyOffice/?top=3";
    r.version = "HTTP/1.1";
    r.status = 200;
    r.bytes = 5120;
    r.referer = "http://office.example/admin/logins?person=7";
    r.user_agent = "Mozilla/5.0 (X11)";
    r.duration = std::chrono::microseconds(1234);
    r.kind = PageKind::kMainWindow;
    return r;
  }

  bool had_tz_ = false;
  std::string saved_tz_;
};

TEST_F(RequestLogTest, CombinedLineWithoutQueryStrings) {
  Zone("UTC");
  EXPECT_EQ(CombinedLine(Record()),
            "203.0.113.9 - - [07/Dec/2026:14:54:13 +0000] \"GET /MyOffice/ "
            "HTTP/1.1\" 200 5120 \"http://office.example/admin/logins\" "
            "\"Mozilla/5.0 (X11)\" 1234");
}

TEST_F(RequestLogTest, CombinedLineInLocalTimeWithItsOffset) {
  Zone("EST5");
  EXPECT_NE(CombinedLine(Record()).find(" [07/Dec/2026:09:54:13 -0500] "),
            std::string::npos);
  Zone("IST-5:30");
  EXPECT_NE(CombinedLine(Record()).find(" [07/Dec/2026:20:24:13 +0530] "),
            std::string::npos);
}

TEST_F(RequestLogTest, CombinedLineWithQueryStringsAndEmptyFields) {
  Zone("UTC");
  RequestRecord r = Record();
  r.query = true;
  r.referer = "";
  r.user_agent = "";
  r.bytes = 0;
  r.status = 304;
  EXPECT_EQ(CombinedLine(r),
            "203.0.113.9 - - [07/Dec/2026:14:54:13 +0000] \"GET "
            "/MyOffice/?top=3 HTTP/1.1\" 304 - \"-\" \"-\" 1234");
}

TEST_F(RequestLogTest, NothingTypedCanForgeAFieldOrALine) {
  Zone("UTC");
  RequestRecord r = Record();
  r.target = "/a b\"c\\d\r\nfake\xe4\xb8\xad";
  r.user_agent = "evil\" 200 1 \"x\n";
  r.referer = "\x01";
  r.method = "G T";
  const std::string line = CombinedLine(r);
  EXPECT_EQ(
      line,
      "203.0.113.9 - - [07/Dec/2026:14:54:13 +0000] \"G\\x20T "
      "/a\\x20b\\\"c\\\\d\\x0d\\x0afake\\xe4\\xb8\\xad HTTP/1.1\" 200 5120 "
      "\"\\x01\" \"evil\\\" 200 1 \\\"x\\x0a\" 1234");
  EXPECT_EQ(line.find('\n'), std::string::npos);
}

TEST_F(RequestLogTest, LongTextsAreCut) {
  RequestRecord r = Record();
  const std::string target = "/" + std::string(10000, 'a');
  const std::string agent(10000, 'b');
  r.target = target;
  r.user_agent = agent;
  r.query = true;
  const std::string line = CombinedLine(r);
  EXPECT_LT(line.size(), 3000u);
  EXPECT_NE(line.find(" \"" + std::string(512, 'b') + "\" "),
            std::string::npos);
  const auto json = nlohmann::json::parse(JsonLine(r));
  EXPECT_EQ(json["path"].get<std::string>().size(), 2048u);
  EXPECT_EQ(json["user_agent"].get<std::string>().size(), 512u);
}

TEST_F(RequestLogTest, JsonLineFields) {
  RequestRecord r = Record();
  const std::string line = JsonLine(r);
  EXPECT_EQ(line,
            "{\"time\":\"2026-12-07T14:54:13.123Z\",\"client\":\"203.0.113.9\","
            "\"method\":\"GET\",\"path\":\"/MyOffice/\",\"version\":"
            "\"HTTP/1.1\",\"status\":200,\"bytes\":5120,\"duration_us\":1234,"
            "\"kind\":\"main_window\",\"referer\":"
            "\"http://office.example/admin/logins\",\"user_agent\":"
            "\"Mozilla/5.0 (X11)\"}");
  r.query = true;
  r.reference = "a1b2c3d4e5f6";
  r.referer = "";
  const auto json = nlohmann::json::parse(JsonLine(r));
  EXPECT_EQ(json["path"], "/MyOffice/");
  EXPECT_EQ(json["query"], "top=3");
  EXPECT_FALSE(json.contains("referer"));
  EXPECT_EQ(json["reference"], "a1b2c3d4e5f6");
}

TEST_F(RequestLogTest, JsonLinesHoldAnyBytes) {
  RequestRecord r = Record();
  r.target = "/x\"\n\xff\xfe";
  r.user_agent = "\xe4\xb8\xad\x01";
  const std::string line = JsonLine(r);
  EXPECT_EQ(line.find('\n'), std::string::npos);
  const auto json = nlohmann::json::parse(line);
  EXPECT_EQ(json["path"], "/x\"\n\xef\xbf\xbd\xef\xbf\xbd");
  EXPECT_EQ(json["user_agent"], "\xe4\xb8\xad\x01");
}

TEST(PageKindNameTest, EveryKind) {
  EXPECT_EQ(PageKindName(PageKind::kStatic), "static");
  EXPECT_EQ(PageKindName(PageKind::kSignIn), "sign_in");
  EXPECT_EQ(PageKindName(PageKind::kMainWindow), "main_window");
  EXPECT_EQ(PageKindName(PageKind::kAdmin), "admin");
  EXPECT_EQ(PageKindName(PageKind::kFeature), "feature");
  EXPECT_EQ(PageKindName(PageKind::kOther), "other");
}

}  // namespace
}  // namespace wrenhaven::host
