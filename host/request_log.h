// The request log's lines: one per request, in the Apache combined format
// with the duration at the end, or as one JSON object. See README.md,
// "Request log", for the fields.
#ifndef WRENHAVEN_HOST_REQUEST_LOG_H_
#define WRENHAVEN_HOST_REQUEST_LOG_H_

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

#include "wrenhaven/http_host.h"

namespace wrenhaven::host {

// What one line tells. The texts are as they came; the line escapes them.
struct RequestRecord {
  std::chrono::system_clock::time_point time;  // when the request came
  std::string_view client;                     // as the trusted proxies decide
  std::string_view method;
  std::string_view target;   // the request target as sent, query included
  std::string_view version;  // "HTTP/1.1"
  int status = 0;
  size_t bytes = 0;  // the body of the answer
  std::string_view referer;
  std::string_view user_agent;
  std::chrono::microseconds duration{0};
  PageKind kind = PageKind::kOther;
  std::string_view reference;  // of a failed page, else ""
  // Keep the query string (of the target and the referer). The caller
  // decides; it is never kept for a post or the sign-in page.
  bool query = false;
};

// The label of a page kind in the log and the metrics: "static",
// "sign_in", "main_window", "admin", "feature", "other".
std::string_view PageKindName(PageKind kind);

// 127.0.0.1 - - [07/Dec/2026:14:54:13 +0000] "GET /MyOffice/ HTTP/1.1" 200
// 5120 "-" "curl/7.88.1" 1234 (local time; the last field in microseconds).
std::string CombinedLine(const RequestRecord& record);

// {"time":"2026-12-07T14:54:13.123Z","client":"127.0.0.1","method":"GET",
//  "path":"/MyOffice/","status":200,"bytes":5120,"duration_us":1234,...}
std::string JsonLine(const RequestRecord& record);

std::string LogLine(RequestLogFormat format, const RequestRecord& record);

}  // namespace wrenhaven::host

#endif  // WRENHAVEN_HOST_REQUEST_LOG_H_
