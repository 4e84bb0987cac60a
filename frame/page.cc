// The combined request lookup, and the in-memory page host.
#include "wrenhaven/page.h"

#include "frame/text.h"
#include "wrenhaven/memory_page.h"

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

MemoryContext::MemoryContext()
    : response_obj(std::make_shared<MemoryResponse>()),
      request_obj(std::make_shared<MemoryRequest>()),
      server_obj(std::make_shared<Server>()),
      application_obj(std::make_shared<Application>()),
      session_obj(std::make_shared<MemorySession>()) {}

}  // namespace wrenhaven
