// The HTTP request's collections as a page sees them.
#include "wrenhaven/http_page.h"

#include <utility>

#include "frame/text.h"

namespace wrenhaven {
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
    if (!EqualsIgnoreCase(item.name, name)) continue;
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

}  // namespace wrenhaven
