#include "host/request_log.h"

#include <time.h>

#include <cstdio>
#include <nlohmann/json.hpp>

namespace wrenhaven::host {
namespace {

constexpr size_t kLongestTarget = 2048;
constexpr size_t kLongestReferer = 1024;
constexpr size_t kLongestAgent = 512;
constexpr size_t kLongestWord = 64;  // method, version, client

// `text` cut to `most` bytes, and before its query string unless `query`.
std::string_view Cut(std::string_view text, size_t most, bool query = true) {
  if (!query) text = text.substr(0, text.find_first_of("?#"));
  return text.substr(0, most);
}

// For the combined format: quotes, backslashes, control characters and
// bytes beyond ASCII as the common log tools read them ("\"", "\\",
// "\xHH"); with `blank`, blanks as "\x20" too (fields without quotes).
void AppendEscaped(std::string& out, std::string_view text,
                   bool blank = false) {
  static constexpr char kHex[] = "0123456789abcdef";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte >= 0x7F || (blank && c == ' ')) {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    } else {
      out += c;
    }
  }
}

void AppendQuoted(std::string& out, std::string_view text) {
  out += '"';
  if (text.empty()) {
    out += '-';
  } else {
    AppendEscaped(out, text);
  }
  out += '"';
}

// "[07/Dec/2026:14:54:13 +0100]", local time.
std::string CommonTime(std::chrono::system_clock::time_point time) {
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr",
                                            "May", "Jun", "Jul", "Aug",
                                            "Sep", "Oct", "Nov", "Dec"};
  const time_t seconds = std::chrono::system_clock::to_time_t(time);
  struct tm local {};
  localtime_r(&seconds, &local);
  const long offset = local.tm_gmtoff / 60;
  const long away = offset < 0 ? -offset : offset;
  char buffer[64];
  snprintf(buffer, sizeof buffer, "[%02d/%s/%04d:%02d:%02d:%02d %c%02ld%02ld]",
           local.tm_mday, kMonths[local.tm_mon], local.tm_year + 1900,
           local.tm_hour, local.tm_min, local.tm_sec, offset < 0 ? '-' : '+',
           away / 60, away % 60);
  return buffer;
}

// "2026-12-07T14:54:13.123Z".
std::string IsoTime(std::chrono::system_clock::time_point time) {
  const time_t seconds = std::chrono::system_clock::to_time_t(time);
  const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(
                          time.time_since_epoch())
                          .count() %
                      1000;
  struct tm utc {};
  gmtime_r(&seconds, &utc);
  char buffer[64];
  snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ",
           utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour,
           utc.tm_min, utc.tm_sec, static_cast<int>(millis));
  return buffer;
}

// A JSON string; bytes that are not UTF-8 become U+FFFD.
std::string JsonText(std::string_view text) {
  return nlohmann::json(std::string(text))
      .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

std::string_view PageKindName(PageKind kind) {
  switch (kind) {
    case PageKind::kStatic:
      return "static";
    case PageKind::kSignIn:
      return "sign_in";
    case PageKind::kMainWindow:
      return "main_window";
    case PageKind::kAdmin:
      return "admin";
    case PageKind::kFeature:
      return "feature";
    case PageKind::kOther:
      break;
  }
  return "other";
}

std::string CombinedLine(const RequestRecord& r) {
  std::string out;
  out.reserve(256);
  AppendEscaped(out, Cut(r.client, kLongestWord), true);
  out += " - - ";
  out += CommonTime(r.time);
  out += " \"";
  AppendEscaped(out, Cut(r.method, kLongestWord), true);
  out += ' ';
  AppendEscaped(out, Cut(r.target, kLongestTarget, r.query), true);
  out += ' ';
  AppendEscaped(out, Cut(r.version, kLongestWord), true);
  out += "\" ";
  out += std::to_string(r.status);
  out += ' ';
  out += r.bytes == 0 ? "-" : std::to_string(r.bytes);
  out += ' ';
  AppendQuoted(out, Cut(r.referer, kLongestReferer, r.query));
  out += ' ';
  AppendQuoted(out, Cut(r.user_agent, kLongestAgent));
  out += ' ';
  out += std::to_string(r.duration.count());
  return out;
}

std::string JsonLine(const RequestRecord& r) {
  const std::string_view target = Cut(r.target, kLongestTarget);
  const size_t mark = target.find_first_of("?#");
  std::string out = "{\"time\":\"" + IsoTime(r.time) + "\"";
  out += ",\"client\":" + JsonText(Cut(r.client, kLongestWord));
  out += ",\"method\":" + JsonText(Cut(r.method, kLongestWord));
  out += ",\"path\":" + JsonText(target.substr(0, mark));
  if (r.query && mark != std::string_view::npos && target[mark] == '?') {
    out += ",\"query\":" + JsonText(target.substr(mark + 1));
  }
  out += ",\"version\":" + JsonText(Cut(r.version, kLongestWord));
  out += ",\"status\":" + std::to_string(r.status);
  out += ",\"bytes\":" + std::to_string(r.bytes);
  out += ",\"duration_us\":" + std::to_string(r.duration.count());
  out += ",\"kind\":\"" + std::string(PageKindName(r.kind)) + "\"";
  if (!r.referer.empty()) {
    out += ",\"referer\":" + JsonText(Cut(r.referer, kLongestReferer, r.query));
  }
  if (!r.user_agent.empty()) {
    out += ",\"user_agent\":" + JsonText(Cut(r.user_agent, kLongestAgent));
  }
  if (!r.reference.empty()) {
    out += ",\"reference\":" + JsonText(Cut(r.reference, kLongestWord));
  }
  return out + "}";
}

std::string LogLine(RequestLogFormat format, const RequestRecord& record) {
  return format == RequestLogFormat::kJson ? JsonLine(record)
                                           : CombinedLine(record);
}

}  // namespace wrenhaven::host
