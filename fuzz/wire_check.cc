// Request decoding of the page host. The input is taken as a whole (a
// form body, a Cookie header, a header name, an address) and, split at
// 0x1F, as a cookie's name and value.
#include <optional>
#include <string>
#include <vector>

#include "fuzz/checks.h"
#include "host/wire.h"

namespace wrenhaven::fuzz {
namespace {

using wrenhaven::HttpItem;

bool IsUnreserved(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
         (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~';
}

// Every byte but the unreserved ones as %XX, as a careful client sends.
std::string FormEncode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (IsUnreserved(byte)) {
      out += c;
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    }
  }
  return out;
}

std::string Visible(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte >= 0x7F || c == '\\') {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    } else {
      out += c;
    }
  }
  return out;
}

std::string CheckForm(std::string_view input) {
  const std::vector<HttpItem> items = host::ParseUrlEncoded(input);
  // One item for every non-empty piece between "&"s.
  size_t pieces = 0;
  size_t start = 0;
  while (start <= input.size()) {
    const size_t amp = input.find('&', start);
    const size_t end = amp == std::string_view::npos ? input.size() : amp;
    if (end > start) ++pieces;
    if (amp == std::string_view::npos) break;
    start = amp + 1;
  }
  if (items.size() != pieces) {
    return "ParseUrlEncoded gives " + std::to_string(items.size()) +
           " items for " + std::to_string(pieces) + " pieces";
  }
  // Decoding never makes a text longer.
  for (const HttpItem& item : items) {
    if (item.name.size() + item.value.size() > input.size()) {
      return "ParseUrlEncoded gives an item longer than its form";
    }
  }
  // The items, encoded again as a client would, read back the same.
  std::string again;
  const std::vector<HttpItem>& expected = items;
  for (const HttpItem& item : items) {
    if (!again.empty()) again += '&';
    again += FormEncode(item.name) + "=" + FormEncode(item.value);
  }
  const std::vector<HttpItem> back = host::ParseUrlEncoded(again);
  if (back.size() != expected.size()) {
    return "the form encoded again gives " + std::to_string(back.size()) +
           " items, not " + std::to_string(expected.size());
  }
  for (size_t i = 0; i < back.size(); ++i) {
    if (back[i].name != expected[i].name ||
        back[i].value != expected[i].value) {
      return "item " + std::to_string(i) + " encoded again reads back as \"" +
             Visible(back[i].name) + "\"=\"" + Visible(back[i].value) + "\"";
    }
  }
  // Any bytes, percent-encoded, decode to themselves.
  if (host::PercentDecode(FormEncode(input), true) != input) {
    return "PercentDecode of every byte encoded is not the text";
  }
  return "";
}

std::string CheckCookies(std::string_view input) {
  for (const HttpItem& item : host::ParseCookieHeader(input)) {
    if (item.name.empty() ||
        item.name.find_first_of(";=") != std::string::npos ||
        item.name.front() == ' ' || item.name.back() == ' ' ||
        item.name.front() == '\t' || item.name.back() == '\t') {
      return "ParseCookieHeader gives the name \"" + Visible(item.name) + "\"";
    }
  }
  // A value of any bytes survives the way out and back, beside others.
  const std::vector<std::string> parts = SplitFields(input, 2);
  const std::string name =
      parts.size() == 2 && host::IsToken(parts[0]) ? parts[0] : "c";
  const std::string& value = parts.back();
  const std::string encoded = host::EncodeCookieValue(value);
  for (const char c : encoded) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F || c == ';' || c == ',' || c == '"' ||
        c == '\\' || c == '%') {
      return "EncodeCookieValue lets through the byte " + std::to_string(byte);
    }
  }
  if (host::DecodeCookieValue(encoded) != value) {
    return "DecodeCookieValue(EncodeCookieValue(v)) is not v";
  }
  const std::string header =
      "a=1; " + name + "=" + encoded + "; z=\"" + encoded + "\"";
  const std::vector<HttpItem> back = host::ParseCookieHeader(header);
  if (back.size() != 3 || back[0].name != "a" || back[0].value != "1" ||
      back[1].name != name || back[1].value != value || back[2].name != "z" ||
      back[2].value != value) {
    return "a cookie header of encoded values does not read back: " +
           Visible(header);
  }
  // The Set-Cookie header keeps the value in its own attribute.
  const std::string set_cookie =
      host::PageCookieHeader(name, {value, std::nullopt}, true);
  if (set_cookie != name + "=" + encoded + "; Path=/; SameSite=Lax; Secure") {
    return "PageCookieHeader lets the value change the header: " +
           Visible(set_cookie);
  }
  return "";
}

std::string CheckHeaderName(std::string_view input) {
  const std::string name = host::HeaderVariableName(input);
  if (!name.starts_with("HTTP_") || name.size() != input.size() + 5) {
    return "HeaderVariableName gives \"" + Visible(name) + "\"";
  }
  for (size_t i = 5; i < name.size(); ++i) {
    const char c = name[i];
    const char in = input[i - 5];
    const bool expected = in == '-'                  ? c == '_'
                          : (in >= 'a' && in <= 'z') ? c == in - 'a' + 'A'
                                                     : c == in;
    if (!expected) {
      return "HeaderVariableName turns \"" + Visible(input) + "\" into \"" +
             Visible(name) + "\"";
    }
  }
  // One variable whatever the letter case the client sent.
  std::string lower(input);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  if (host::HeaderVariableName(lower) != name) {
    return "HeaderVariableName depends on letter case";
  }
  return "";
}

std::string CheckWayOut(std::string_view input) {
  const std::string location = host::SafeLocation(input);
  for (const char c : location) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F || c == '"' || c == '\\' || c == '<' ||
        c == '>') {
      return "SafeLocation lets through \"" + Visible(location) + "\"";
    }
  }
  if (input.find('%') == std::string_view::npos &&
      host::PercentDecode(location, false) != input) {
    return "SafeLocation loses the address \"" + Visible(input) + "\"";
  }
  const std::string html = host::HtmlEscape(input);
  if (html.find_first_of("<>\"'") != std::string::npos) {
    return "HtmlEscape lets a markup character through";
  }
  std::string back;
  for (size_t i = 0; i < html.size();) {
    if (html[i] != '&') {
      back += html[i++];
      continue;
    }
    static constexpr std::pair<std::string_view, char> kEntities[] = {
        {"&amp;", '&'},
        {"&lt;", '<'},
        {"&gt;", '>'},
        {"&quot;", '"'},
        {"&#39;", '\''}};
    bool known = false;
    for (const auto& [entity, c] : kEntities) {
      if (std::string_view(html).substr(i, entity.size()) == entity) {
        back += c;
        i += entity.size();
        known = true;
        break;
      }
    }
    if (!known) return "HtmlEscape leaves a bare &";
  }
  if (back != input) return "HtmlEscape loses the text";
  return "";
}

}  // namespace

std::string CheckWire(std::string_view input) {
  for (auto check : {CheckForm, CheckCookies, CheckHeaderName, CheckWayOut}) {
    if (std::string failure = check(input); !failure.empty()) return failure;
  }
  return "";
}

}  // namespace wrenhaven::fuzz
