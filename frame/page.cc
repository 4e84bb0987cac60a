// The combined request lookup, and the in-memory page host.
#include <algorithm>

#include "frame/text.h"
#include "wrenhaven/memory_page.h"
#include "wrenhaven/page.h"

namespace wrenhaven {

std::string Request::Item(std::string_view name) const {
  static constexpr Collection kOrder[] = {
      Collection::kQueryString, Collection::kForm, Collection::kCookies,
      Collection::kClientCertificate, Collection::kServerVariables};
  for (Collection c : kOrder) {
    if (auto v = Lookup(c, name)) return *v;
  }
  return "";
}

std::string Request::ServerVariable(std::string_view name) const {
  return Lookup(Collection::kServerVariables, name).value_or("");
}

void MemoryRequest::Set(Collection collection, std::string name,
                        std::string value) {
  auto& list = items_[collection];
  for (auto& [n, v] : list) {
    if (EqualsIgnoreCase(n, name)) {
      v = std::move(value);
      return;
    }
  }
  list.emplace_back(std::move(name), std::move(value));
}

std::optional<std::string> MemoryRequest::Lookup(Collection collection,
                                                 std::string_view name) const {
  auto it = items_.find(collection);
  if (it == items_.end()) return std::nullopt;
  for (const auto& [n, v] : it->second) {
    if (EqualsIgnoreCase(n, name)) return v;
  }
  return std::nullopt;
}

MemoryResponse::Cookie& MemoryResponse::Find(std::string_view name) {
  for (auto& [n, c] : cookies_) {
    if (EqualsIgnoreCase(n, name)) return c;
  }
  cookies_.emplace_back(std::string(name), Cookie{});
  return cookies_.back().second;
}

const MemoryResponse::Cookie* MemoryResponse::cookie(std::string_view name) const {
  for (const auto& [n, c] : cookies_) {
    if (EqualsIgnoreCase(n, name)) return &c;
  }
  return nullptr;
}

void MemoryResponse::SetCookie(std::string_view name, std::string_view value) {
  if (ended_) return;
  Find(name).value.assign(value);
}

void MemoryResponse::SetCookieExpires(std::string_view name, Date expires) {
  if (ended_) return;
  Find(name).expires = expires;
}

void MemoryResponse::Write(std::string_view text) {
  if (!ended_) written_.append(text);
}

void MemoryResponse::Redirect(std::string_view address) {
  if (ended_) return;
  redirect_ = std::string(address);
  ended_ = true;  // a redirect ends the page, as hosts do
}

void MemoryResponse::End() { ended_ = true; }

Variant MemorySession::Get(std::string_view key) const {
  for (const auto& [k, v] : values_) {
    if (EqualsIgnoreCase(k, key)) return v;
  }
  return Variant();
}

void MemorySession::Set(std::string_view key, Variant value) {
  for (auto& [k, v] : values_) {
    if (EqualsIgnoreCase(k, key)) {
      v = std::move(value);
      return;
    }
  }
  values_.emplace_back(std::string(key), std::move(value));
}

MemoryContext::MemoryContext()
    : response_obj(std::make_shared<MemoryResponse>()),
      request_obj(std::make_shared<MemoryRequest>()),
      server_obj(std::make_shared<Server>()),
      application_obj(std::make_shared<Application>()),
      session_obj(std::make_shared<MemorySession>()) {}

}  // namespace wrenhaven
