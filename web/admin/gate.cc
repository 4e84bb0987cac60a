#include "web/admin/gate.h"

#include <sodium.h>

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
