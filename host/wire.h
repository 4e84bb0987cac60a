// What the host reads from and writes to the wire: URL-encoded items,
// cookies, dates and addresses, escaped so that no value can change the
// shape of a response.
#ifndef WRENHAVEN_HOST_WIRE_H_
#define WRENHAVEN_HOST_WIRE_H_

#include <string>
#include <string_view>
#include <vector>

#include "wrenhaven/http_page.h"
#include "wrenhaven/variant.h"

namespace wrenhaven::host {

// %XX sequences decoded (a malformed one stays as it is); with
// `plus_as_space`, "+" reads as a blank, as in query strings and forms.
std::string PercentDecode(std::string_view text, bool plus_as_space);

// "a=1&b=x+y&c": items in order, names and values decoded; an item without
// "=" has the empty value; empty pieces are skipped.
std::vector<HttpItem> ParseUrlEncoded(std::string_view text);

// A Cookie request header: "a=1; b=2". Values lose one pair of
// surrounding double quotes and are decoded as EncodeCookieValue encodes.
std::vector<HttpItem> ParseCookieHeader(std::string_view header);

// A cookie value as sent: every byte outside the cookie-octet set of
// RFC 6265, and "!" and "%", as "!" and two hex digits ("a;b" goes out as
// "a!3Bb"). Not "%XX": cpp-httplib percent-decodes every request header
// value before the host sees it, so a percent-encoded ";" would come back
// as a separator.
std::string EncodeCookieValue(std::string_view value);
// "!XX" sequences decoded (a malformed one stays as it is).
std::string DecodeCookieValue(std::string_view value);

// True for a non-empty HTTP token (the characters a cookie or header name
// may hold).
inline bool IsToken(std::string_view text) {
  return BufferedResponse::IsToken(text);
}

// Well-formed UTF-8 (IsValidUtf8 of frame/text.h) without a NUL: what the
// host takes as text from a request.
bool IsUtf8Text(std::string_view text);

// "Wed, 21 Oct 2015 07:28:00 GMT" for a local date and time.
std::string HttpDate(Date local);

// The Set-Cookie header value for a page cookie: path "/", the expiry when
// set, SameSite=Lax, Secure over HTTPS.
std::string PageCookieHeader(std::string_view name,
                             const HttpResponse::Cookie& cookie, bool https);

// A redirect address made safe for the Location header: control
// characters, blanks, quotes, backslashes and bytes beyond ASCII
// percent-encoded.
std::string SafeLocation(std::string_view address);

// &, <, >, " and ' replaced by entities.
std::string HtmlEscape(std::string_view text);

// The server variable that carries a request header: "User-Agent" gives
// "HTTP_USER_AGENT".
std::string HeaderVariableName(std::string_view header);

}  // namespace wrenhaven::host

#endif  // WRENHAVEN_HOST_WIRE_H_
