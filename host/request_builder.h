// The request object a page sees, built from what cpp-httplib received:
// the query string, the form, the cookies (every Cookie header, parsed
// once for the page and the session alike) and the server variables.
#ifndef WRENHAVEN_HOST_REQUEST_BUILDER_H_
#define WRENHAVEN_HOST_REQUEST_BUILDER_H_

#include <httplib.h>

#include <memory>
#include <string>
#include <vector>

#include "host/origin.h"
#include "wrenhaven/http_page.h"

namespace wrenhaven::host {

// The client behind the request, believing forwarding headers from
// `trusted_proxies` only; `https` when the host itself serves HTTPS.
ClientOrigin OriginOf(const httplib::Request& req,
                      const std::vector<std::string>& trusted_proxies,
                      bool https = false);

// Every Cookie header of the request, parsed, in the order sent.
std::vector<HttpItem> ReadCookies(const httplib::Request& req);

// The page's request: `origin` gives the client's address and scheme.
std::shared_ptr<HttpRequest> BuildRequest(const httplib::Request& req,
                                          const ClientOrigin& origin);

// True when every name and value the page can read (query string, form,
// cookies, server variables) is UTF-8 without a NUL. A request that holds
// anything else is refused before any page runs.
bool HoldsOnlyText(const HttpRequest& request);

}  // namespace wrenhaven::host

#endif  // WRENHAVEN_HOST_REQUEST_BUILDER_H_
