// The members every class holds: the borrowed connection and, for the
// classes with page hooks, the five page objects.
#ifndef WRENHAVEN_FRAME_MEMBERS_H_
#define WRENHAVEN_FRAME_MEMBERS_H_

#include <memory>

#include "wrenhaven/connection.h"
#include "wrenhaven/page.h"

namespace wrenhaven {

// The connection the page handed over. The class shares it and never
// opens, closes or configures it.
class ConnectionMember {
 public:
  void Set(std::shared_ptr<Connection> conn) { conn_ = std::move(conn); }
  // Raises "No database connection ..." before SetConn (or after
  // SetConn(Nothing)).
  Connection& Get() const;
  const std::shared_ptr<Connection>& shared() const { return conn_; }

 private:
  std::shared_ptr<Connection> conn_;
};

// The page objects, held from OnStartPage to OnEndPage.
class PageMembers {
 public:
  // Takes, in this order, the response, request, server, application and
  // session; raises naming the first one the context lacks (members taken
  // before it stay set). A null context raises "Object required".
  void Start(const std::shared_ptr<ScriptingContext>& sc);
  // Releases them in the order response, request, server, application,
  // session.
  void End();

  // Each raises an error naming the object when it is not held.
  Response& response() const;
  Request& request() const;
  Session& session() const;
  bool has_request() const { return request_ != nullptr; }
  bool has_response() const { return response_ != nullptr; }
  bool has_session() const { return session_ != nullptr; }
  bool has_server() const { return server_ != nullptr; }
  bool has_application() const { return application_ != nullptr; }

 private:
  std::shared_ptr<Response> response_;
  std::shared_ptr<Request> request_;
  std::shared_ptr<Server> server_;
  std::shared_ptr<Application> application_;
  std::shared_ptr<Session> session_;
};

}  // namespace wrenhaven

#endif  // WRENHAVEN_FRAME_MEMBERS_H_
