// The buffered response and the session that every page host uses.
#include <utility>

#include "frame/text.h"
#include "wrenhaven/buffered_page.h"
#include "wrenhaven/error.h"

namespace wrenhaven {
namespace {

// Headers the host writes from the response's own state; a page sets
// them through the calls made for them, or not at all.
constexpr std::string_view kHostHeaders[] = {
    "Connection", "Content-Length", "Content-Type",
    "Location",   "Set-Cookie",     "Transfer-Encoding",
};

}  // namespace

bool BufferedResponse::IsToken(std::string_view name) {
  if (name.empty()) return false;
  static constexpr std::string_view kSeparators = "()<>@,;:\\\"/[]?={} \t";
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F ||
        kSeparators.find(c) != std::string_view::npos) {
      return false;
    }
  }
  return true;
}

BufferedResponse::Cookie& BufferedResponse::Find(std::string_view name) {
  if (!IsToken(name)) {
    Raise(ErrorCode::kInvalidArgument,
          "\"" + std::string(name) + "\" cannot be the name of a cookie");
  }
  for (auto& [n, c] : cookies_) {
    if (EqualsIgnoreCase(n, name)) return c;
  }
  Cookie fresh;
  for (const std::string& kept : http_only_) {
    if (EqualsIgnoreCase(kept, name)) fresh.http_only = true;
  }
  cookies_.emplace_back(std::string(name), std::move(fresh));
  return cookies_.back().second;
}

const BufferedResponse::Cookie* BufferedResponse::cookie(
    std::string_view name) const {
  for (const auto& [n, c] : cookies_) {
    if (EqualsIgnoreCase(n, name)) return &c;
  }
  return nullptr;
}

void BufferedResponse::SetCookie(std::string_view name,
                                 std::string_view value) {
  if (ended_) return;
  Find(name).value.assign(value);
}

void BufferedResponse::KeepFromScripts(std::string_view name) {
  if (!IsToken(name)) {
    Raise(ErrorCode::kInvalidArgument,
          "\"" + std::string(name) + "\" cannot be the name of a cookie");
  }
  http_only_.emplace_back(name);
  for (auto& [cookie_name, cookie] : cookies_) {
    if (EqualsIgnoreCase(cookie_name, name)) cookie.http_only = true;
  }
}

void BufferedResponse::SetCookieExpires(std::string_view name, Date expires) {
  if (ended_) return;
  Find(name).expires = expires;
}

void BufferedResponse::Write(std::string_view text) {
  if (!ended_) written_.append(text);
}

void BufferedResponse::Redirect(std::string_view address) {
  if (ended_) return;
  redirect_ = std::string(address);
  written_.clear();
  ended_ = true;
}

void BufferedResponse::End() { ended_ = true; }

void BufferedResponse::SetStatus(int status) {
  if (status < 200 || status > 599) {
    Raise(ErrorCode::kInvalidArgument,
          std::to_string(status) + " is no status a page can answer with");
  }
  status_ = status;
}

void BufferedResponse::SetHeader(std::string_view name,
                                 std::string_view value) {
  if (!IsToken(name)) {
    Raise(ErrorCode::kInvalidArgument, "A header name must be an HTTP token");
  }
  for (const std::string_view own : kHostHeaders) {
    if (EqualsIgnoreCase(own, name)) {
      Raise(ErrorCode::kInvalidArgument,
            "The header " + std::string(own) +
                " is set by the host, not through SetHeader");
    }
  }
  if (value.find_first_of(std::string_view("\r\n\0", 3)) !=
      std::string_view::npos) {
    Raise(ErrorCode::kInvalidArgument, "The value of the header " +
                                           std::string(name) +
                                           " holds a line break or a NUL");
  }
  for (auto& [n, v] : headers_) {
    if (EqualsIgnoreCase(n, name)) {
      v.assign(value);
      return;
    }
  }
  headers_.emplace_back(std::string(name), std::string(value));
}

BufferedSession::BufferedSession(
    std::vector<std::pair<std::string, Variant>> values)
    : values_(std::move(values)) {}

Variant BufferedSession::Get(std::string_view key) const {
  for (const auto& [k, v] : values_) {
    if (EqualsIgnoreCase(k, key)) return v;
  }
  return Variant();
}

void BufferedSession::Set(std::string_view key, Variant value) {
  modified_ = true;
  for (auto& [k, v] : values_) {
    if (EqualsIgnoreCase(k, key)) {
      v = std::move(value);
      return;
    }
  }
  values_.emplace_back(std::string(key), std::move(value));
}

bool BufferedSession::holds_nothing() const {
  for (const auto& [k, v] : values_) {
    const bool empty_text = v.kind() == Kind::kString && v.string().empty();
    if (!v.is_empty() && !empty_text) return false;
  }
  return true;
}

}  // namespace wrenhaven
