#include "frame/members.h"

#include <string>

#include "wrenhaven/error.h"

namespace wrenhaven {

Connection& ConnectionMember::Get() const {
  if (!conn_) {
    Raise(ErrorCode::kObjectRequired,
          "No database connection: SetConn was not given one");
  }
  return *conn_;
}

namespace {

template <class T>
std::shared_ptr<T> Take(std::shared_ptr<T> object, const char* what) {
  if (!object) {
    Raise(ErrorCode::kHost, std::string("The scripting context has no ") +
                                what + " object");
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

void PageMembers::Start(const std::shared_ptr<ScriptingContext>& sc) {
  if (!sc) Raise(ErrorCode::kObjectRequired, "Object required: no scripting context");
  response_ = Take(sc->response(), "response");
  request_ = Take(sc->request(), "request");
  server_ = Take(sc->server(), "server");
  application_ = Take(sc->application(), "application");
  session_ = Take(sc->session(), "session");
}

void PageMembers::End() {
  response_.reset();
  request_.reset();
  server_.reset();
  application_.reset();
  session_.reset();
}

Response& PageMembers::response() const { return Held(response_, "response"); }
Request& PageMembers::request() const { return Held(request_, "request"); }
Session& PageMembers::session() const { return Held(session_, "session"); }

}  // namespace wrenhaven
