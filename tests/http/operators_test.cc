// What operators see of a running host, over HTTP: static files with their
// entity tags, gzip forms and cache lifetimes; /metrics in the Prometheus
// text format; /healthz on every database, also when the database is gone
// or slow; who may read them; and the request log in both formats.
#include <gtest/gtest.h>
#include <spdlog/spdlog.h>
#include <stdlib.h>
#include <zlib.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "testing/test_db.h"
#include "tests/http/http_support.h"
#include "tests/http/metrics_text.h"
#include "wrenhaven/error.h"
#include "wrenhaven/http_host.h"
#include "wrenhaven/postgres.h"
#include "wrenhaven/sqlite.h"

namespace wrenhaven::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// One raw answer taken apart.
struct Raw {
  int status = 0;
  std::vector<std::pair<std::string, std::string>> headers;  // names lowered
  std::string body;

  std::vector<std::string> All(const std::string& name) const {
    std::vector<std::string> out;
    for (const auto& [n, v] : headers) {
      if (n == name) out.push_back(v);
    }
    return out;
  }
  std::string Get(const std::string& name) const {
    const auto all = All(name);
    return all.empty() ? "" : all.front();
  }
};

Raw Exchange(int port, const std::string& method, const std::string& target,
             const std::string& headers = "") {
  const std::string raw =
      RawExchange(port, method + " " + target + " HTTP/1.1\r\nHost: x\r\n" +
                            headers + "Connection: close\r\n\r\n");
  Raw out;
  const size_t end = raw.find("\r\n\r\n");
  if (end == std::string::npos) return out;
  out.body = raw.substr(end + 4);
  std::istringstream lines(raw.substr(0, end));
  std::string line;
  std::getline(lines, line);
  out.status = std::stoi(line.substr(9, 3));
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t colon = line.find(':');
    std::string name = line.substr(0, colon);
    for (char& c : name) c = static_cast<char>(std::tolower(c));
    const size_t value = line.find_first_not_of(' ', colon + 1);
    out.headers.emplace_back(
        name, value == std::string::npos ? "" : line.substr(value));
  }
  return out;
}

std::string Inflate(const std::string& packed) {
  z_stream stream{};
  if (inflateInit2(&stream, 15 + 16) != Z_OK) return "";
  std::string out(1 << 20, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
  stream.avail_in = static_cast<uInt>(packed.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  const int result = inflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  inflateEnd(&stream);
  return result == Z_STREAM_END ? out : "not gzip";
}

void ExpectSecurityHeaders(const Raw& r, const std::string& what) {
  EXPECT_EQ(r.All("x-content-type-options"),
            std::vector<std::string>{"nosniff"})
      << what;
  EXPECT_EQ(r.Get("x-frame-options"), "SAMEORIGIN") << what;
  EXPECT_EQ(r.Get("referrer-policy"), "same-origin") << what;
}

// A folder of static files for one test.
class StaticFolder {
 public:
  StaticFolder() {
    char pattern[] = "/tmp/wrenhaven-operators-XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error("no folder");
    top_ = pattern;
    fs::create_directories(top_ / "css");
    for (int i = 0; i < 60; ++i) {
      css_ += ".menu" + std::to_string(i) + " a{color:#336;padding:2px 4px}\n";
    }
    Write("css/site.css", css_);
    Write("logo.png",
          std::string("\x89PNG\r\n\x1a\n", 8) + std::string(600, 'p'));
  }
  ~StaticFolder() { fs::remove_all(top_); }
  void Write(const std::string& name, const std::string& text) const {
    std::ofstream(top_ / name, std::ios::binary) << text;
  }
  std::string path() const { return top_.string(); }
  const std::string& css() const { return css_; }

 private:
  fs::path top_;
  std::string css_;
};

// Lines handed to the host's log writer.
class Lines {
 public:
  std::function<void(const std::string&)> Writer() {
    return [this](const std::string& line) {
      std::lock_guard<std::mutex> lock(mutex_);
      lines_.push_back(line);
    };
  }
  std::vector<std::string> Take() {
    // The line is written after the answer is made; give it a moment.
    for (int i = 0; i < 200; ++i) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!lines_.empty()) break;
      }
      std::this_thread::sleep_for(10ms);
    }
    std::this_thread::sleep_for(20ms);
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(lines_, {});
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

class StaticAnswerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    spdlog::set_level(spdlog::level::warn);
    HttpHostOptions options;
    options.static_dir = folder_.path();
    options.log_requests = false;
    host_ = std::make_unique<TestHost>(options, nullptr, [this](HttpHost& h) {
      for (const auto& [name, address] : h.StaticAddresses()) {
        addresses_[name] = address;
      }
    });
  }
  void TearDown() override { spdlog::set_level(spdlog::level::info); }

  Raw Fetch(const std::string& target, const std::string& headers = "") {
    return Exchange(host_->port(), "GET", target, headers);
  }

  StaticFolder folder_;
  std::map<std::string, std::string> addresses_;
  std::unique_ptr<TestHost> host_;
};

TEST_F(StaticAnswerTest, ThePlainNameHasAShortLifetimeAndAStrongTag) {
  const Raw r = Fetch("/static/css/site.css");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, folder_.css());
  EXPECT_EQ(r.Get("content-type"), "text/css; charset=utf-8");
  EXPECT_EQ(r.Get("cache-control"), "public, max-age=60");
  EXPECT_EQ(r.Get("vary"), "Accept-Encoding");
  EXPECT_EQ(r.Get("content-encoding"), "");
  const std::string etag = r.Get("etag");
  ASSERT_EQ(etag.size(), 34u) << etag;
  EXPECT_EQ(etag.front(), '"');
  ExpectSecurityHeaders(r, "200");
}

TEST_F(StaticAnswerTest, TheFingerprintedNameIsCachedForAYear) {
  const std::string printed = addresses_.at("css/site.css");
  const std::string plain_tag = Fetch("/static/css/site.css").Get("etag");
  EXPECT_EQ(printed, "/static/css/site." + plain_tag.substr(1, 12) + ".css");
  const Raw r = Fetch(printed);
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, folder_.css());
  EXPECT_EQ(r.Get("cache-control"), "public, max-age=31536000, immutable");
  EXPECT_EQ(r.Get("etag"), plain_tag);
  // An old fingerprint is no file.
  EXPECT_EQ(Fetch("/static/css/site.0123456789ab.css").status, 404);
}

TEST_F(StaticAnswerTest, AMatchingTagGives304WithItsHeaders) {
  const std::string etag = Fetch("/static/css/site.css").Get("etag");
  for (const std::string& sent :
       {etag, "W/" + etag, "\"other\", " + etag, std::string("*")}) {
    const Raw r =
        Fetch("/static/css/site.css", "If-None-Match: " + sent + "\r\n");
    EXPECT_EQ(r.status, 304) << sent;
    EXPECT_EQ(r.body, "") << sent;
    EXPECT_EQ(r.Get("etag"), etag) << sent;
    EXPECT_EQ(r.Get("cache-control"), "public, max-age=60") << sent;
    EXPECT_EQ(r.Get("vary"), "Accept-Encoding") << sent;
    ExpectSecurityHeaders(r, "304");
  }
  const Raw other =
      Fetch("/static/css/site.css", "If-None-Match: \"other\"\r\n");
  EXPECT_EQ(other.status, 200);
  EXPECT_EQ(other.body, folder_.css());
}

TEST_F(StaticAnswerTest, GzipWhenTheClientTakesIt) {
  const std::string plain_tag = Fetch("/static/css/site.css").Get("etag");
  const Raw r =
      Fetch("/static/css/site.css", "Accept-Encoding: gzip, deflate, br\r\n");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.All("content-encoding"), std::vector<std::string>{"gzip"});
  EXPECT_EQ(r.Get("vary"), "Accept-Encoding");
  EXPECT_LT(r.body.size(), folder_.css().size());
  EXPECT_EQ(Inflate(r.body), folder_.css());
  const std::string gzip_tag = r.Get("etag");
  EXPECT_NE(gzip_tag, plain_tag);
  EXPECT_EQ(r.Get("content-length"), std::to_string(r.body.size()));

  // Each form is revalidated by its own tag.
  EXPECT_EQ(
      Fetch("/static/css/site.css",
            "Accept-Encoding: gzip\r\nIf-None-Match: " + gzip_tag + "\r\n")
          .status,
      304);
  EXPECT_EQ(
      Fetch("/static/css/site.css",
            "Accept-Encoding: gzip\r\nIf-None-Match: " + plain_tag + "\r\n")
          .status,
      200);
  // Refused with q=0, or not offered: the file as it is.
  for (const char* header : {"Accept-Encoding: gzip;q=0, br\r\n",
                             "Accept-Encoding: identity\r\n", ""}) {
    const Raw plain = Fetch("/static/css/site.css", header);
    EXPECT_EQ(plain.Get("content-encoding"), "") << header;
    EXPECT_EQ(plain.body, folder_.css()) << header;
    EXPECT_EQ(plain.Get("etag"), plain_tag) << header;
  }
}

TEST_F(StaticAnswerTest, ImagesGoAsTheyAre) {
  const Raw r = Fetch("/static/logo.png", "Accept-Encoding: gzip, br\r\n");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.Get("content-type"), "image/png");
  EXPECT_EQ(r.Get("content-encoding"), "");
  EXPECT_EQ(r.Get("vary"), "");
  EXPECT_EQ(r.body.size(), 608u);
}

TEST_F(StaticAnswerTest, HeadAndOtherMethods) {
  const Raw head = Exchange(host_->port(), "HEAD", "/static/css/site.css");
  EXPECT_EQ(head.status, 200);
  EXPECT_EQ(head.body, "");
  EXPECT_EQ(head.Get("etag").size(), 34u);
  const Raw post = Exchange(host_->port(), "POST", "/static/css/site.css",
                            "Content-Length: 0\r\n");
  EXPECT_EQ(post.status, 405);
  EXPECT_EQ(post.Get("allow"), "GET, HEAD");
}

TEST_F(StaticAnswerTest, TheFolderIsReadOnceAtStart) {
  folder_.Write("css/site.css", "body{}");
  folder_.Write("late.css", "body{}");
  EXPECT_EQ(Fetch("/static/css/site.css").body, folder_.css());
  EXPECT_EQ(Fetch("/static/late.css").status, 404);
}

// ---------------------------------------------------------------------
// /metrics and /healthz without a database of their own.

class MonitorTest : public ::testing::Test {
 protected:
  void SetUp() override { spdlog::set_level(spdlog::level::err); }
  void TearDown() override { spdlog::set_level(spdlog::level::info); }

  std::unique_ptr<TestHost> Start(HttpHostOptions options,
                                  ConnectionFactory connections = nullptr) {
    options.static_dir = folder_.path();
    options.log_requests = false;
    options.trusted_proxies = {"127.0.0.1"};
    return std::make_unique<TestHost>(
        options, std::move(connections), [](HttpHost& host) {
          host.AddPage("/remember", [](HttpPage& page) {
            page.session().Set("who", Variant::String("someone"));
          });
          host.AddPage("/fail", [](HttpPage&) {
            Raise(ErrorCode::kDatabase, "broken");
          });
        });
  }

  StaticFolder folder_;
};

TEST_F(MonitorTest, MetricsTextParsesAndCountsRise) {
  auto host = Start({});
  const Raw first = Exchange(host->port(), "GET", "/metrics");
  ASSERT_EQ(first.status, 200);
  EXPECT_EQ(first.Get("content-type"),
            "text/plain; version=0.0.4; charset=utf-8");
  EXPECT_EQ(first.Get("cache-control"), "no-store");
  const MetricsText before = ParseMetricsText(first.body);
  EXPECT_EQ(before.types.at("wrenhaven_http_requests_total"), "counter");
  EXPECT_EQ(before.types.at("wrenhaven_http_request_duration_seconds"),
            "histogram");
  EXPECT_EQ(before.types.at("wrenhaven_sessions_open"), "gauge");
  EXPECT_EQ(before.types.at("wrenhaven_db_pool_in_use"), "gauge");
  EXPECT_EQ(before.types.at("wrenhaven_db_pool_waiting"), "gauge");
  for (const char* kind :
       {"static", "sign_in", "main_window", "admin", "feature", "other"}) {
    EXPECT_TRUE(before.samples.count(
        std::string("wrenhaven_http_request_duration_seconds_count{kind=\"") +
        kind + "\"}"))
        << kind;
  }

  const std::string static_ok =
      "wrenhaven_http_requests_total{kind=\"static\",status=\"2xx\"}";
  const std::string static_missing =
      "wrenhaven_http_requests_total{kind=\"static\",status=\"4xx\"}";
  const std::string failed =
      "wrenhaven_http_requests_total{kind=\"other\",status=\"5xx\"}";
  const std::string static_count =
      "wrenhaven_http_request_duration_seconds_count{kind=\"static\"}";
  for (int i = 0; i < 3; ++i)
    Exchange(host->port(), "GET", "/static/css/site.css");
  Exchange(host->port(), "GET", "/static/none.css");
  Exchange(host->port(), "GET", "/fail");
  Exchange(host->port(), "GET", "/remember");

  const MetricsText after =
      ParseMetricsText(Exchange(host->port(), "GET", "/metrics").body);
  EXPECT_EQ(after.samples.at(static_ok) - before.samples.at(static_ok), 3);
  EXPECT_EQ(
      after.samples.at(static_missing) - before.samples.at(static_missing), 1);
  EXPECT_EQ(after.samples.at(failed) - before.samples.at(failed), 1);
  EXPECT_EQ(after.samples.at(static_count) - before.samples.at(static_count),
            4);
  EXPECT_GT(after.samples.at(
                "wrenhaven_http_request_duration_seconds_sum{kind=\"static\"}"),
            0);
  EXPECT_EQ(after.samples.at("wrenhaven_sessions_open"), 1);
  EXPECT_EQ(after.samples.at("wrenhaven_db_pool_in_use"), 0);
  EXPECT_EQ(after.samples.at("wrenhaven_db_pool_waiting"), 0);
}

TEST_F(MonitorTest, OnlyLoopbackAndTheAddressesGiven) {
  auto host = Start({});
  const std::string far = "X-Forwarded-For: 203.0.113.7\r\n";
  for (const char* path : {"/metrics", "/healthz"}) {
    const Raw r = Exchange(host->port(), "GET", path, far);
    EXPECT_EQ(r.status, 403) << path;
    EXPECT_EQ(r.body.find("wrenhaven_"), std::string::npos) << path;
    ExpectSecurityHeaders(r, path);
    EXPECT_EQ(
        Exchange(host->port(), "POST", path, "Content-Length: 0\r\n").status,
        405)
        << path;
  }
  // A forwarded loopback address is loopback too: it is the proxy's word.
  EXPECT_EQ(Exchange(host->port(), "GET", "/metrics",
                     "X-Forwarded-For: 127.0.0.5\r\n")
                .status,
            200);

  HttpHostOptions allowed;
  allowed.monitor_addresses = {"203.0.113.7"};
  auto open = Start(allowed);
  EXPECT_EQ(Exchange(open->port(), "GET", "/metrics", far).status, 200);
  EXPECT_EQ(Exchange(open->port(), "GET", "/metrics",
                     "X-Forwarded-For: 203.0.113.8\r\n")
                .status,
            403);

  HttpHostOptions off;
  off.metrics_path = "";
  auto none = Start(off);
  EXPECT_EQ(Exchange(none->port(), "GET", "/metrics").status, 404);

  HttpHostOptions bad;
  bad.monitor_addresses = {"monitor.example"};
  EXPECT_THROW(Start(bad), Error);
}

TEST_F(MonitorTest, HealthWithoutADatabaseIs503) {
  auto host = Start({});
  const Raw r = Exchange(host->port(), "GET", "/healthz");
  EXPECT_EQ(r.status, 503);
  EXPECT_EQ(r.Get("content-type"), "application/json");
  const auto json = nlohmann::json::parse(r.body);
  EXPECT_EQ(json["status"], "unavailable");
  EXPECT_EQ(json["database"], "none");
}

TEST_F(MonitorTest, ASlowDatabaseIsUnhealthyWithinASecondAndCheckedOnce) {
  std::atomic<int> opened{0};
  std::atomic<bool> release{false};
  auto host = Start({}, [&]() -> std::shared_ptr<Connection> {
    ++opened;
    for (int i = 0; i < 300 && !release; ++i) std::this_thread::sleep_for(10ms);
    Raise(ErrorCode::kDatabase, "too late");
  });
  std::vector<std::thread> askers;
  std::atomic<int> unavailable{0};
  std::atomic<long> slowest_ms{0};
  for (int i = 0; i < 4; ++i) {
    askers.emplace_back([&] {
      const auto started = std::chrono::steady_clock::now();
      const Raw r = Exchange(host->port(), "GET", "/healthz");
      const long ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - started)
                          .count();
      if (ms > slowest_ms) slowest_ms = ms;
      if (r.status == 503 &&
          nlohmann::json::parse(r.body)["database"] == "no answer") {
        ++unavailable;
      }
    });
  }
  for (auto& t : askers) t.join();
  EXPECT_EQ(unavailable, 4);
  // A second, with room for a loaded machine; the check itself hangs 3 s.
  EXPECT_LT(slowest_ms, 2500);
  EXPECT_GE(slowest_ms, 900);
  EXPECT_EQ(opened, 1);
  release = true;
}

// ---------------------------------------------------------------------
// /healthz on each database.

class HealthTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override { spdlog::set_level(spdlog::level::err); }
  void TearDown() override { spdlog::set_level(spdlog::level::info); }
};

TEST_P(HealthTest, GoneIs503AndBackIs200) {
  TestDb db(GetParam());
  const ConnectionFactory real = db.Connections();
  std::atomic<bool> gone{false};
  const std::string missing =
      (fs::temp_directory_path() / "wrenhaven-no-such-folder" / "office.db")
          .string();
  // The database as its driver finds it gone: a file that is not there, a
  // server that does not listen.
  ConnectionFactory connections = [&, real]() -> std::shared_ptr<Connection> {
    if (!gone) return real();
    if (GetParam() == "sqlite") {
      SqliteOptions options;
      options.create = false;
      return OpenSqlite(missing, options);
    }
    return OpenPostgres("postgresql://127.0.0.1:1/office?connect_timeout=2");
  };
  HttpHostOptions options;
  options.log_requests = false;
  TestHost host(options, connections, [](HttpHost&) {});

  Raw r = Exchange(host.port(), "GET", "/healthz");
  EXPECT_EQ(r.status, 200) << r.body;
  auto json = nlohmann::json::parse(r.body);
  EXPECT_EQ(json["status"], "ok");
  EXPECT_EQ(json["database"], "ok");
  EXPECT_LT(json["seconds"].get<double>(), 1.0);
  EXPECT_EQ(r.Get("cache-control"), "no-store");

  gone = true;
  r = Exchange(host.port(), "GET", "/healthz");
  EXPECT_EQ(r.status, 503) << r.body;
  json = nlohmann::json::parse(r.body);
  EXPECT_EQ(json["status"], "unavailable");
  EXPECT_EQ(json["database"], "failed");
  // What the driver said stays in the log.
  EXPECT_EQ(r.body.find("127.0.0.1:1"), std::string::npos);
  EXPECT_EQ(r.body.find(missing), std::string::npos);

  gone = false;
  EXPECT_EQ(Exchange(host.port(), "GET", "/healthz").status, 200);
}

INSTANTIATE_TEST_SUITE_P(Databases, HealthTest,
                         ::testing::ValuesIn(TestDatabases()));

// ---------------------------------------------------------------------
// The request log.

class RequestLogHttpTest : public ::testing::Test {
 protected:
  void SetUp() override { spdlog::set_level(spdlog::level::err); }
  void TearDown() override { spdlog::set_level(spdlog::level::info); }

  std::unique_ptr<TestHost> Start(RequestLogFormat format, bool queries) {
    HttpHostOptions options;
    options.static_dir = folder_.path();
    options.log_format = format;
    options.log_query_strings = queries;
    options.log_writer = lines_.Writer();
    options.trusted_proxies = {"127.0.0.1"};
    return std::make_unique<TestHost>(options, nullptr, [](HttpHost& host) {
      host.AddPage(
          "/", [](HttpPage& page) { page.response().Write("the form"); },
          PageKind::kSignIn);
      host.AddPage("/page", [](HttpPage& page) {
        page.response().Write("twelve bytes");
      });
      host.AddPage("/fail",
                   [](HttpPage&) { Raise(ErrorCode::kDatabase, "broken"); });
    });
  }

  static std::string SignInPost() {
    const std::string body = "LoginName=ann&LoginPwd=hunter2secret";
    return "POST /?LoginPwd=hunter2query HTTP/1.1\r\nHost: x\r\n"
           "Content-Type: application/x-www-form-urlencoded\r\n"
           "Content-Length: " +
           std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
  }

  StaticFolder folder_;
  Lines lines_;
};

// 203.0.113.9 - - [07/Dec/2026:14:54:13 +0000] "GET /page HTTP/1.1" 200 12
// "-" "tester" 1234, taken apart.
struct Combined {
  std::string client, time, request, status, bytes, referer, agent, duration;
};

std::optional<Combined> ReadCombined(const std::string& line) {
  Combined c;
  size_t at = 0;
  const auto word = [&](char end) -> std::optional<std::string> {
    const size_t stop = line.find(end, at);
    if (stop == std::string::npos) return std::nullopt;
    std::string out = line.substr(at, stop - at);
    at = stop + 1;
    return out;
  };
  const auto quoted = [&]() -> std::optional<std::string> {
    if (line.compare(at, 1, "\"") != 0) return std::nullopt;
    std::string out;
    for (size_t i = at + 1; i < line.size(); ++i) {
      if (line[i] == '\\' && i + 1 < line.size()) {
        out += line[i];
        out += line[++i];
      } else if (line[i] == '"') {
        at = i + 2;  // the quote and the blank after it
        return out;
      } else {
        out += line[i];
      }
    }
    return std::nullopt;
  };
  auto client = word(' ');
  if (!client || line.compare(at, 4, "- - ") != 0) return std::nullopt;
  at += 4;
  if (line.compare(at, 1, "[") != 0) return std::nullopt;
  ++at;
  auto time = word(']');
  ++at;
  auto request = quoted();
  auto status = word(' ');
  auto bytes = word(' ');
  auto referer = quoted();
  auto agent = quoted();
  if (!time || !request || !status || !bytes || !referer || !agent ||
      at > line.size()) {
    return std::nullopt;
  }
  c.client = *client;
  c.time = *time;
  c.request = *request;
  c.status = *status;
  c.bytes = *bytes;
  c.referer = *referer;
  c.agent = *agent;
  c.duration = line.substr(at);
  return c;
}

TEST_F(RequestLogHttpTest, CombinedLinesOnePerRequest) {
  auto host = Start(RequestLogFormat::kCombined, false);
  Exchange(host->port(), "GET", "/page?person=7&secret=s1",
           "Referer: http://x/admin/logins?person=7\r\nUser-Agent: tester "
           "\"one\"\r\nX-Forwarded-For: 198.51.100.4\r\n");
  const auto lines = lines_.Take();
  ASSERT_EQ(lines.size(), 1u);
  const auto c = ReadCombined(lines[0]);
  ASSERT_TRUE(c.has_value()) << lines[0];
  EXPECT_EQ(c->client, "198.51.100.4");
  EXPECT_EQ(c->request, "GET /page HTTP/1.1");
  EXPECT_EQ(c->status, "200");
  EXPECT_EQ(c->bytes, "12");
  EXPECT_EQ(c->referer, "http://x/admin/logins");
  EXPECT_EQ(c->agent, "tester \\\"one\\\"");
  ASSERT_FALSE(c->duration.empty());
  EXPECT_EQ(c->duration.find_first_not_of("0123456789"), std::string::npos)
      << c->duration;
  // [07/Dec/2026:14:54:13 +0000]
  ASSERT_EQ(c->time.size(), 26u) << c->time;
  EXPECT_EQ(c->time[2], '/');
  EXPECT_EQ(c->time[11], ':');
  EXPECT_TRUE(c->time[21] == '+' || c->time[21] == '-') << c->time;
  EXPECT_EQ(lines[0].find("secret"), std::string::npos);
  EXPECT_EQ(lines[0].find("person=7"), std::string::npos);
}

TEST_F(RequestLogHttpTest, CombinedLinesOfStaticFilesFailuresAndMisses) {
  auto host = Start(RequestLogFormat::kCombined, false);
  Exchange(host->port(), "GET", "/static/css/site.css",
           "Accept-Encoding: gzip\r\n");
  auto lines = lines_.Take();
  ASSERT_EQ(lines.size(), 1u);
  auto c = ReadCombined(lines[0]);
  ASSERT_TRUE(c.has_value());
  // The body as sent: the gzip form.
  EXPECT_LT(std::stoul(c->bytes), folder_.css().size());
  Exchange(host->port(), "GET", "/static/css/site.css", "If-None-Match: *\r\n");
  lines = lines_.Take();
  ASSERT_EQ(lines.size(), 1u);
  c = ReadCombined(lines[0]);
  EXPECT_EQ(c->status, "304");
  EXPECT_EQ(c->bytes, "-");
  Exchange(host->port(), "GET", "/a%0Afake\"x");
  lines = lines_.Take();
  ASSERT_EQ(lines.size(), 1u);
  c = ReadCombined(lines[0]);
  ASSERT_TRUE(c.has_value()) << lines[0];
  EXPECT_EQ(c->request, "GET /a%0Afake\\\"x HTTP/1.1");
  EXPECT_EQ(c->status, "404");
}

TEST_F(RequestLogHttpTest, NeverTheSignInQueryNorAFormValue) {
  for (const auto format :
       {RequestLogFormat::kCombined, RequestLogFormat::kJson}) {
    auto host = Start(format, /*queries=*/true);
    RawExchange(host->port(), SignInPost());
    Exchange(host->port(), "GET", "/?LoginPwd=hunter2get");
    Exchange(host->port(), "POST", "/page?LoginPwd=hunter2other",
             "Content-Length: 0\r\n");
    Exchange(host->port(), "GET", "/page?shown=1");
    std::vector<std::string> lines;
    for (int i = 0; i < 100 && lines.size() < 4; ++i) {
      for (std::string& l : lines_.Take()) lines.push_back(std::move(l));
    }
    ASSERT_EQ(lines.size(), 4u);
    for (const std::string& line : lines) {
      EXPECT_EQ(line.find("hunter2"), std::string::npos) << line;
      EXPECT_EQ(line.find("LoginPwd"), std::string::npos) << line;
      EXPECT_EQ(line.find("LoginName"), std::string::npos) << line;
    }
    // The query string of a plain page is there when asked for.
    bool shown = false;
    for (const std::string& line : lines) {
      shown = shown || line.find("shown=1") != std::string::npos;
    }
    EXPECT_TRUE(shown);
  }
}

TEST_F(RequestLogHttpTest, JsonLinesWithTheFailureReference) {
  auto host = Start(RequestLogFormat::kJson, false);
  const Raw failed = Exchange(host->port(), "GET", "/fail?x=1",
                              "User-Agent: \xe4\xb8\xad\r\n");
  Exchange(host->port(), "GET", "/static/css/site.css");
  std::vector<std::string> lines;
  for (int i = 0; i < 100 && lines.size() < 2; ++i) {
    for (std::string& l : lines_.Take()) lines.push_back(std::move(l));
  }
  ASSERT_EQ(lines.size(), 2u);
  std::map<std::string, nlohmann::json> by_path;
  for (const std::string& line : lines) {
    const auto json = nlohmann::json::parse(line);
    by_path[json["path"].get<std::string>()] = json;
  }
  const nlohmann::json& fail = by_path.at("/fail");
  EXPECT_EQ(fail["status"], 500);
  EXPECT_EQ(fail["method"], "GET");
  EXPECT_EQ(fail["client"], "127.0.0.1");
  EXPECT_EQ(fail["version"], "HTTP/1.1");
  EXPECT_EQ(fail["kind"], "other");
  EXPECT_EQ(fail["user_agent"], "\xe4\xb8\xad");
  EXPECT_FALSE(fail.contains("query"));
  EXPECT_TRUE(fail["duration_us"].is_number_unsigned());
  const std::string reference = fail["reference"];
  EXPECT_EQ(reference.size(), 12u);
  EXPECT_NE(failed.body.find(reference), std::string::npos);
  const std::string time = fail["time"];
  ASSERT_EQ(time.size(), 24u) << time;
  EXPECT_EQ(time[10], 'T');
  EXPECT_EQ(time.back(), 'Z');

  const nlohmann::json& file = by_path.at("/static/css/site.css");
  EXPECT_EQ(file["kind"], "static");
  EXPECT_EQ(file["bytes"], folder_.css().size());
  EXPECT_FALSE(file.contains("reference"));
}

}  // namespace
}  // namespace wrenhaven::testing
