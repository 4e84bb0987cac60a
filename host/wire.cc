#include "host/wire.h"

#include <cstdio>
#include <ctime>

#include "frame/text.h"

namespace wrenhaven::host {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void AppendPercent(std::string& out, unsigned char byte) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  out += '%';
  out += kHex[byte >> 4];
  out += kHex[byte & 15];
}

// RFC 6265 cookie-octet, less "!" which starts an escape of ours and "%"
// which the transport would decode.
bool IsCookieOctet(unsigned char c) {
  return (c >= 0x23 && c <= 0x2B && c != 0x25) || (c >= 0x2D && c <= 0x3A) ||
         (c >= 0x3C && c <= 0x5B) || (c >= 0x5D && c <= 0x7E);
}

}  // namespace

std::string PercentDecode(std::string_view text, bool plus_as_space) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '%' && i + 2 < text.size()) {
      const int hi = HexValue(text[i + 1]);
      const int lo = HexValue(text[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
        continue;
      }
    }
    out += (plus_as_space && c == '+') ? ' ' : c;
  }
  return out;
}

std::vector<HttpItem> ParseUrlEncoded(std::string_view text) {
  std::vector<HttpItem> items;
  while (!text.empty()) {
    const size_t amp = text.find('&');
    const std::string_view piece = text.substr(0, amp);
    text = amp == std::string_view::npos ? std::string_view()
                                         : text.substr(amp + 1);
    if (piece.empty()) continue;
    const size_t eq = piece.find('=');
    if (eq == std::string_view::npos) {
      items.push_back({PercentDecode(piece, true), ""});
    } else {
      items.push_back({PercentDecode(piece.substr(0, eq), true),
                       PercentDecode(piece.substr(eq + 1), true)});
    }
  }
  return items;
}

std::vector<HttpItem> ParseCookieHeader(std::string_view header) {
  std::vector<HttpItem> items;
  while (!header.empty()) {
    const size_t semi = header.find(';');
    const std::string_view piece = TrimBlanks(header.substr(0, semi));
    header = semi == std::string_view::npos ? std::string_view()
                                            : header.substr(semi + 1);
    const size_t eq = piece.find('=');
    if (piece.empty() || eq == 0 || eq == std::string_view::npos) continue;
    std::string_view value = TrimBlanks(piece.substr(eq + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      value = value.substr(1, value.size() - 2);
    }
    items.push_back({std::string(TrimBlanks(piece.substr(0, eq))),
                     DecodeCookieValue(value)});
  }
  return items;
}

std::string EncodeCookieValue(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (const char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if (IsCookieOctet(byte)) {
      out += c;
    } else {
      static constexpr char kHex[] = "0123456789ABCDEF";
      out += '!';
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    }
  }
  return out;
}

std::string DecodeCookieValue(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '!' && i + 2 < value.size()) {
      const int hi = HexValue(value[i + 1]);
      const int lo = HexValue(value[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
        continue;
      }
    }
    out += value[i];
  }
  return out;
}

bool IsUtf8Text(std::string_view text) {
  return text.find('\0') == std::string_view::npos && IsValidUtf8(text);
}

std::string HttpDate(Date local) {
  int year, month, day, hour, minute, second;
  local.ToParts(&year, &month, &day, &hour, &minute, &second);
  std::tm parts{};
  parts.tm_year = year - 1900;
  parts.tm_mon = month - 1;
  parts.tm_mday = day;
  parts.tm_hour = hour;
  parts.tm_min = minute;
  parts.tm_sec = second;
  parts.tm_isdst = -1;
  const std::time_t when = std::mktime(&parts);
  std::tm utc{};
  gmtime_r(&when, &utc);
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed",
                                          "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr",
                                            "May", "Jun", "Jul", "Aug",
                                            "Sep", "Oct", "Nov", "Dec"};
  char text[40];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT",
                kDays[utc.tm_wday], utc.tm_mday, kMonths[utc.tm_mon],
                utc.tm_year + 1900, utc.tm_hour, utc.tm_min, utc.tm_sec);
  return text;
}

std::string PageCookieHeader(std::string_view name,
                             const HttpResponse::Cookie& cookie, bool https) {
  std::string header =
      std::string(name) + "=" + EncodeCookieValue(cookie.value);
  header += "; Path=/";
  if (cookie.expires) header += "; Expires=" + HttpDate(*cookie.expires);
  if (cookie.http_only) header += "; HttpOnly";
  header += "; SameSite=Lax";
  if (https) header += "; Secure";
  return header;
}

std::string SafeLocation(std::string_view address) {
  std::string out;
  out.reserve(address.size());
  for (const char c : address) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F || c == '"' || c == '\\' || c == '<' ||
        c == '>') {
      AppendPercent(out, byte);
    } else {
      out += c;
    }
  }
  return out;
}

std::string HtmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string HeaderVariableName(std::string_view header) {
  std::string name = "HTTP_";
  for (const char c : header) {
    if (c == '-') {
      name += '_';
    } else if (c >= 'a' && c <= 'z') {
      name += static_cast<char>(c - 'a' + 'A');
    } else {
      name += c;
    }
  }
  return name;
}

}  // namespace wrenhaven::host
