// The HTTP page objects: request collections, the buffered response and
// the session as a page sees them.
#include "wrenhaven/http_page.h"

#include <cctype>
#include <utility>

#include "host/wire.h"
#include "wrenhaven/error.h"

namespace wrenhaven {
namespace {

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace

HttpRequest::HttpRequest(std::string method, std::string path,
                         std::vector<HttpItem> query,
                         std::vector<HttpItem> form,
                         std::vector<HttpItem> cookies,
                         std::vector<HttpItem> server_variables)
    : method_(std::move(method)),
      path_(std::move(path)),
      query_(std::move(query)),
      form_(std::move(form)),
      cookies_(std::move(cookies)),
      server_variables_(std::move(server_variables)) {}

const std::vector<HttpItem>& HttpRequest::items(Collection collection) const {
  static const std::vector<HttpItem> kNone;
  switch (collection) {
    case Collection::kQueryString:
      return query_;
    case Collection::kForm:
      return form_;
    case Collection::kCookies:
      return cookies_;
    case Collection::kServerVariables:
      return server_variables_;
    case Collection::kClientCertificate:
      return kNone;
  }
  return kNone;
}

std::optional<std::string> HttpRequest::Lookup(Collection collection,
                                               std::string_view name) const {
  const bool joins =
      collection == Collection::kQueryString || collection == Collection::kForm;
  std::optional<std::string> found;
  for (const HttpItem& item : items(collection)) {
    if (!SameName(item.name, name)) continue;
    if (!found) {
      found = item.value;
      if (!joins) break;
    } else {
      *found += ", ";
      *found += item.value;
    }
  }
  return found;
}

HttpResponse::Cookie& HttpResponse::Find(std::string_view name) {
  if (!host::IsToken(name)) {
    Raise(ErrorCode::kInvalidArgument,
          "\"" + std::string(name) + "\" cannot be the name of a cookie");
  }
  for (Cookie& c : cookies_) {
    if (SameName(c.name, name)) return c;
  }
  cookies_.push_back(Cookie{std::string(name), "", std::nullopt});
  return cookies_.back();
}

void HttpResponse::SetHeader(std::string_view name, std::string_view value) {
  if (!host::IsToken(name)) {
    Raise(ErrorCode::kInvalidArgument,
          "\"" + std::string(name) + "\" cannot be the name of a header");
  }
  if (value.find_first_of(std::string_view("\r\n\0", 3)) !=
      std::string_view::npos) {
    Raise(ErrorCode::kInvalidArgument,
          "The value of header " + std::string(name) +
              " must not hold a line break or NUL");
  }
  headers_.emplace_back(name, value);
}

void HttpResponse::SetCookie(std::string_view name, std::string_view value) {
  if (ended_) return;
  Find(name).value.assign(value);
}

void HttpResponse::SetCookieExpires(std::string_view name, Date expires) {
  if (ended_) return;
  Find(name).expires = expires;
}

void HttpResponse::Write(std::string_view text) {
  if (!ended_) output_.append(text);
}

void HttpResponse::Redirect(std::string_view address) {
  if (ended_) return;
  redirect_ = std::string(address);
  output_.clear();
  ended_ = true;
}

void HttpResponse::End() { ended_ = true; }

void HttpResponse::Clear() { output_.clear(); }

HttpSession::HttpSession(std::vector<std::pair<std::string, Variant>> values)
    : values_(std::move(values)) {}

Variant HttpSession::Get(std::string_view key) const {
  for (const auto& [k, v] : values_) {
    if (SameName(k, key)) return v;
  }
  return Variant();
}

void HttpSession::Set(std::string_view key, Variant value) {
  modified_ = true;
  for (auto& [k, v] : values_) {
    if (SameName(k, key)) {
      v = std::move(value);
      return;
    }
  }
  values_.emplace_back(std::string(key), std::move(value));
}

}  // namespace wrenhaven
