#include "host/origin.h"

#include <arpa/inet.h>

#include <algorithm>

#include "frame/text.h"

namespace wrenhaven::host {
namespace {

// "[::1]" and "1.2.3.4:5678" as some proxies write them, reduced to the
// address.
std::string_view StripPort(std::string_view text) {
  if (!text.empty() && text.front() == '[') {
    const size_t close = text.find(']');
    if (close != std::string_view::npos) return text.substr(1, close - 1);
  }
  const size_t colon = text.find(':');
  if (colon != std::string_view::npos &&
      text.find(':', colon + 1) == std::string_view::npos) {
    return text.substr(0, colon);
  }
  return text;
}

bool IsTrusted(std::string_view address,
               const std::vector<std::string>& trusted) {
  return std::find(trusted.begin(), trusted.end(), address) != trusted.end();
}

}  // namespace

bool IsIpAddress(std::string_view text) {
  if (text.empty() || text.size() > 45) return false;
  const std::string s(text);
  unsigned char buf[16];
  return inet_pton(AF_INET, s.c_str(), buf) == 1 ||
         inet_pton(AF_INET6, s.c_str(), buf) == 1;
}

ClientOrigin ResolveClient(std::string_view peer,
                           const std::vector<std::string>& forwarded_for,
                           std::string_view forwarded_proto,
                           const std::vector<std::string>& trusted,
                           bool direct_https) {
  ClientOrigin origin{std::string(peer), direct_https};
  if (!IsTrusted(peer, trusted)) return origin;

  if (!forwarded_proto.empty()) {
    const size_t comma = forwarded_proto.rfind(',');
    const std::string_view last = TrimBlanks(
        comma == std::string_view::npos ? forwarded_proto
                                        : forwarded_proto.substr(comma + 1));
    origin.https = last == "https" || last == "HTTPS";
  }

  std::vector<std::string_view> hops;
  for (const std::string& header : forwarded_for) {
    std::string_view rest = header;
    while (true) {
      const size_t comma = rest.find(',');
      hops.push_back(StripPort(TrimBlanks(rest.substr(0, comma))));
      if (comma == std::string_view::npos) break;
      rest = rest.substr(comma + 1);
    }
  }
  for (auto it = hops.rbegin(); it != hops.rend(); ++it) {
    if (!IsIpAddress(*it)) break;
    origin.address = std::string(*it);
    if (!IsTrusted(*it, trusted)) break;
  }
  return origin;
}

}  // namespace wrenhaven::host
