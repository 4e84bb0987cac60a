// Who is on the other end of a request: the client's address and whether
// it came over HTTPS, believing forwarding headers only from trusted
// proxies.
#ifndef WRENHAVEN_HOST_ORIGIN_H_
#define WRENHAVEN_HOST_ORIGIN_H_

#include <string>
#include <string_view>
#include <vector>

namespace wrenhaven::host {

struct ClientOrigin {
  std::string address;
  bool https = false;
};

// `peer` is the socket's peer address. When it is one of `trusted`, the
// X-Forwarded-For values (every such header, in order) are read from the
// right: the client is the nearest address that is not trusted; when all
// are trusted, the farthest one. An entry that is no IP address ends the
// walk at the last trusted hop. X-Forwarded-Proto is believed from a
// trusted peer only (its last entry). Otherwise the peer is the client and
// `https` is `direct_https`.
ClientOrigin ResolveClient(std::string_view peer,
                           const std::vector<std::string>& forwarded_for,
                           std::string_view forwarded_proto,
                           const std::vector<std::string>& trusted,
                           bool direct_https = false);

// True for a literal IPv4 or IPv6 address.
bool IsIpAddress(std::string_view text);

}  // namespace wrenhaven::host

#endif  // WRENHAVEN_HOST_ORIGIN_H_
