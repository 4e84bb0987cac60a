#include "host/request_builder.h"

#include <string>
#include <unordered_map>
#include <utility>

#include "host/wire.h"

namespace wrenhaven::host {

ClientOrigin OriginOf(const httplib::Request& req,
                      const std::vector<std::string>& trusted_proxies,
                      bool https) {
  std::vector<std::string> forwarded_for;
  const size_t xff = req.get_header_value_count("X-Forwarded-For");
  for (size_t i = 0; i < xff; ++i) {
    forwarded_for.push_back(req.get_header_value("X-Forwarded-For", i));
  }
  return ResolveClient(req.remote_addr, forwarded_for,
                       req.get_header_value("X-Forwarded-Proto"),
                       trusted_proxies, https);
}

std::vector<HttpItem> ReadCookies(const httplib::Request& req) {
  std::vector<HttpItem> cookies;
  const size_t headers = req.get_header_value_count("Cookie");
  for (size_t i = 0; i < headers; ++i) {
    for (HttpItem& item :
         ParseCookieHeader(req.get_header_value("Cookie", i))) {
      cookies.push_back(std::move(item));
    }
  }
  return cookies;
}

namespace {

std::vector<HttpItem> ReadForm(const httplib::Request& req,
                               const std::string& content_type) {
  std::vector<HttpItem> form;
  if (req.method != "POST") return form;
  if (content_type.rfind("application/x-www-form-urlencoded", 0) == 0) {
    form = ParseUrlEncoded(req.body);
  } else if (req.is_multipart_form_data()) {
    for (const auto& [name, part] : req.files) {
      if (part.filename.empty()) form.push_back({part.name, part.content});
    }
  }
  return form;
}

// The Host header without its port; the local address when there is none.
std::string ServerName(const httplib::Request& req) {
  std::string name = req.get_header_value("Host");
  if (!name.empty() && name.front() == '[') {
    name = name.substr(0, name.find(']') + 1);
  } else {
    name = name.substr(0, name.find(':'));
  }
  return name.empty() ? req.local_addr : name;
}

std::vector<HttpItem> ServerVariables(const httplib::Request& req,
                                      const ClientOrigin& origin,
                                      const std::string& query_string,
                                      const std::string& content_type) {
  std::vector<HttpItem> vars = {
      {"REQUEST_METHOD", req.method},
      {"REMOTE_ADDR", origin.address},
      {"REMOTE_HOST", origin.address},
      {"QUERY_STRING", query_string},
      {"PATH_INFO", req.path},
      {"SCRIPT_NAME", req.path},
      {"URL", req.path},
      {"SERVER_NAME", ServerName(req)},
      {"SERVER_PORT", std::to_string(req.local_port)},
      {"SERVER_PROTOCOL", req.version},
      {"LOCAL_ADDR", req.local_addr},
      {"HTTPS", origin.https ? "on" : "off"},
      {"CONTENT_TYPE", content_type},
      {"CONTENT_LENGTH", std::to_string(req.body.size())},
  };
  // Headers of one name are joined into one variable, in the order sent.
  // A browser's few headers are looked up in the list itself; past
  // kSearched, an index keeps that linear in the number of headers.
  constexpr size_t kSearched = 24;
  vars.reserve(vars.size() + req.headers.size());
  std::unordered_map<std::string, size_t> index;
  const bool indexed = req.headers.size() > kSearched;
  if (indexed) {
    for (size_t i = 0; i < vars.size(); ++i) index.emplace(vars[i].name, i);
  }
  for (const auto& [name, value] : req.headers) {
    std::string var = HeaderVariableName(name);
    size_t at = vars.size();
    if (indexed) {
      at = index.emplace(var, vars.size()).first->second;
    } else {
      for (size_t i = 0; i < vars.size(); ++i) {
        if (vars[i].name == var) {
          at = i;
          break;
        }
      }
    }
    if (at == vars.size()) {
      vars.push_back({std::move(var), value});
    } else {
      vars[at].value += ", " + value;
    }
  }
  return vars;
}

}  // namespace

std::shared_ptr<HttpRequest> BuildRequest(const httplib::Request& req,
                                          const ClientOrigin& origin) {
  const size_t question = req.target.find('?');
  const std::string query_string =
      question == std::string::npos ? "" : req.target.substr(question + 1);
  const std::string content_type = req.get_header_value("Content-Type");
  return std::make_shared<HttpRequest>(
      req.method, req.path, ParseUrlEncoded(query_string),
      ReadForm(req, content_type), ReadCookies(req),
      ServerVariables(req, origin, query_string, content_type));
}

bool HoldsOnlyText(const HttpRequest& request) {
  using Collection = Request::Collection;
  for (const Collection c :
       {Collection::kQueryString, Collection::kForm, Collection::kCookies,
        Collection::kServerVariables}) {
    for (const HttpItem& item : request.items(c)) {
      if (!IsUtf8Text(item.name) || !IsUtf8Text(item.value)) return false;
    }
  }
  return true;
}

}  // namespace wrenhaven::host
