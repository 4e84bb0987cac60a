#include "wrenhaven/class_base.h"

#include <string>
#include <utility>

#include "frame/guard.h"
#include "wrenhaven/error.h"

namespace wrenhaven {

void ClassBase::SetConn(std::shared_ptr<Connection> conn) {
  Guarded([&] { conn_ = std::move(conn); });
}

std::string ClassBase::GetError() { return CurrentError(); }

Connection& ClassBase::conn() const {
  if (!conn_) {
    Raise(ErrorCode::kObjectRequired,
          "No database connection: SetConn was not given one");
  }
  return *conn_;
}

void ClassBase::RequireId(const Variant& id, std::string_view name,
                          std::string_view purpose) {
  const bool null = id.is_null();
  if (null || id.is_empty() ||
      (id.kind() == Kind::kString && id.string().empty())) {
    Raise(ErrorCode::kInvalidArgument,
          std::string(name) + (null ? " is Null" : " is empty") +
              ": name the " + std::string(purpose));
  }
}

namespace {

template <class T>
std::shared_ptr<T> Take(std::shared_ptr<T> object, const char* what) {
  if (!object) {
    Raise(ErrorCode::kHost,
          std::string("The scripting context has no ") + what + " object");
  }
  return object;
}

template <class T>
T& Held(const std::shared_ptr<T>& object, const char* what) {
  if (!object) {
    Raise(ErrorCode::kObjectRequired,
          std::string("No ") + what +
              " object: the page did not call OnStartPage");
  }
  return *object;
}

}  // namespace

Variant PageBoundClass::OnStartPage(std::shared_ptr<ScriptingContext> context) {
  return Guarded([&] {
    if (!context) {
      Raise(ErrorCode::kObjectRequired,
            "Object required: no scripting context");
    }
    response_ = Take(context->response(), "response");
    request_ = Take(context->request(), "request");
    server_ = Take(context->server(), "server");
    application_ = Take(context->application(), "application");
    session_ = Take(context->session(), "session");
    return Variant();
  });
}

Variant PageBoundClass::OnEndPage() {
  return Guarded([&] {
    response_.reset();
    request_.reset();
    server_.reset();
    application_.reset();
    session_.reset();
    return Variant();
  });
}

Response& PageBoundClass::response() const {
  return Held(response_, "response");
}
Request& PageBoundClass::request() const { return Held(request_, "request"); }
Server& PageBoundClass::server() const { return Held(server_, "server"); }
Application& PageBoundClass::application() const {
  return Held(application_, "application");
}
Session& PageBoundClass::session() const { return Held(session_, "session"); }

}  // namespace wrenhaven
