#include "web/admin/gate.h"

#include <sodium.h>

#include <algorithm>

#include "web/admin/view.h"
#include "web/create.h"
#include "wrenhaven/error.h"
#include "wrenhaven/role_right.h"

namespace wrenhaven::web {

bool MayUseFunctionPage(HttpPage& page, const Variant& role_ids,
                        std::string_view page_url) {
  const auto roles = ParseIdList(role_ids.ToText());
  if (!roles || roles->empty()) return false;
  return Create<RoleRight>(page)->MayUseFunction(
      Variant::String(JoinIds(*roles)), Variant::String(std::string(page_url)));
}

bool LeadsToAdministration(std::string_view fun_url) {
  std::string_view url = fun_url;
  constexpr std::string_view kBlanks = " \t\r\n\f\v";
  url.remove_prefix(std::min(url.size(), url.find_first_not_of(kBlanks)));
  url = url.substr(0, url.find_last_not_of(kBlanks) + 1);
  constexpr std::string_view kAdmin = "/admin";
  if (url.size() < kAdmin.size()) return false;
  for (size_t i = 0; i < kAdmin.size(); ++i) {
    const char c = url[i];
    const char lower =
        c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    if (lower != kAdmin[i]) return false;
  }
  if (url.size() == kAdmin.size()) return true;
  // "/administration-guide" is another page; "/admin/x", "/admin?x" are not.
  const char next = url[kAdmin.size()];
  return next == '/' || next == '?' || next == '#' || next == ';' ||
         next == '\\';
}

bool MayChangeAdministration(HttpPage& page) {
  return MayUseFunctionPage(page, page.session().Get("RoleID"),
                            "/admin/rights");
}

std::string FormToken(Session& session) {
  const std::string held = session.Get(kFormTokenKey).ToText();
  if (held.size() == 64) return held;
  if (sodium_init() < 0) {
    Raise(ErrorCode::kHost, "The random number source cannot be used");
  }
  unsigned char bytes[32];
  randombytes_buf(bytes, sizeof bytes);
  char hex[65];
  sodium_bin2hex(hex, sizeof hex, bytes, sizeof bytes);
  session.Set(kFormTokenKey, Variant::String(hex));
  return hex;
}

bool FormTokenMatches(const Session& session, std::string_view sent) {
  const std::string held = session.Get(kFormTokenKey).ToText();
  if (held.size() != 64 || sent.size() != held.size()) return false;
  return sodium_memcmp(held.data(), sent.data(), held.size()) == 0;
}

}  // namespace wrenhaven::web
