#include "wrenhaven/role_right.h"

#include "frame/binding.h"
#include "frame/guard.h"
#include "wrenhaven/error.h"

namespace wrenhaven {

const ClassInfo& RoleRight::Info() {
  static const ClassInfo info{
      "Wrenhaven.RoleRight",
      "_RoleRight",
      {
          Method("SetConn", &RoleRight::SetConn, {ByRef("pConn")}),
          Method("GetError", &RoleRight::GetError),
      },
      [] { return std::make_shared<RoleRight>(); },
  };
  return info;
}

namespace {
const bool kRegistered = RegisterClass(RoleRight::Info());
}  // namespace

void RoleRight::SetConn(std::shared_ptr<Connection> conn) {
  Guarded([&] { conn_ = std::move(conn); });
}

std::string RoleRight::GetError() { return CurrentError(); }

}  // namespace wrenhaven
