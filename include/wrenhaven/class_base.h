// What every class of the library has in common, written once:
//
//   ClassBase       the borrowed connection (SetConn), the description of
//                   the latest failure (GetError), and the check that a
//                   call names the row it is aimed at;
//   PageBoundClass  a ClassBase that a page binds to itself: it holds the
//                   page's five objects from OnStartPage to OnEndPage.
//
// A class derives from one of them and lists the inherited methods in its
// own method table, in the slots its interface gives them:
//
//   Method("SetConn", &Role::SetConn, {ByRef("pConn")}),
//
// The connection and the page objects are borrowed: the page owns, opens
// and closes them; the class keeps a reference until it is replaced or
// released, and never configures them. Every method but GetError clears the
// thread's current error when it starts.
#ifndef WRENHAVEN_CLASS_BASE_H_
#define WRENHAVEN_CLASS_BASE_H_

#include <memory>
#include <string>
#include <string_view>

#include "wrenhaven/component.h"
#include "wrenhaven/connection.h"
#include "wrenhaven/page.h"
#include "wrenhaven/variant.h"

namespace wrenhaven {

class ClassBase : public Component {
 public:
  // Keeps `conn` (nullptr empties the member); does nothing with it.
  void SetConn(std::shared_ptr<Connection> conn);
  // The description of the most recent failure on this thread, "" when the
  // latest call succeeded.
  std::string GetError();

 protected:
  // The kept connection. Raises kObjectRequired ("No database connection:
  // SetConn was not given one") when there is none.
  Connection& conn() const;

  // The row a change, delete or lookup is aimed at must be named: raises
  // kInvalidArgument ("ID is empty: name the menu to change or delete")
  // when `id` is Empty, Null or the empty text. `name` is the parameter,
  // `purpose` what it should name. A value that is no number is refused by
  // the statement builder (kTypeMismatch).
  static void RequireId(const Variant& id, std::string_view name,
                        std::string_view purpose);

 private:
  std::shared_ptr<Connection> conn_;
};

class PageBoundClass : public ClassBase {
 public:
  // Keeps the context's response, request, server, application and
  // session, in this order, replacing what was held. Raises kHost naming
  // the first object the context lacks (those taken before it stay held),
  // kObjectRequired for a null context. Returns Empty.
  Variant OnStartPage(std::shared_ptr<ScriptingContext> context);
  // Releases the five page objects in the order response, request, server,
  // application, session; the connection stays. Returns Empty.
  Variant OnEndPage();

 protected:
  // Each raises kObjectRequired naming the object when it is not held
  // ("No session object: the page did not call OnStartPage").
  Response& response() const;
  Request& request() const;
  Server& server() const;
  Application& application() const;
  Session& session() const;

 private:
  std::shared_ptr<Response> response_;
  std::shared_ptr<Request> request_;
  std::shared_ptr<Server> server_;
  std::shared_ptr<Application> application_;
  std::shared_ptr<Session> session_;
};

}  // namespace wrenhaven

#endif  // WRENHAVEN_CLASS_BASE_H_
