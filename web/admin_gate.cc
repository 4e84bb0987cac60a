#include "web/admin_gate.h"

#include <sodium.h>

#include "web/admin_view.h"
#include "wrenhaven/error.h"

namespace wrenhaven::web {

bool MayUseAdminPage(Connection& conn, const Variant& role_ids,
                     std::string_view page_url) {
  const auto roles = ParseIdList(role_ids.ToText());
  if (!roles || roles->empty()) return false;
  std::string url;
  for (const char c : page_url) {
    if (c == '\'') url += '\'';
    url += c;
  }
  auto rs = conn.Open(
      "SELECT COUNT(*) FROM SYS_right, SYS_Menu, SYS_Function WHERE "
      "SYS_right.menuID = SYS_Menu.MenuID AND SYS_Menu.FunID = "
      "SYS_Function.FunID AND SYS_Function.FunUrl = '" +
          url + "' AND SYS_right.roleID IN (" + JoinIds(*roles) + ")",
      CursorType::kForwardOnly);
  const bool granted = !rs->Eof() && rs->Value(0).ToLong() > 0;
  rs->Close();
  return granted;
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
