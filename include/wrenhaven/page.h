// The page-host objects a class works on between OnStartPage and OnEndPage:
// the request, the response, the session, the application and the server,
// reached through the page's scripting context. A host (the in-memory one,
// the HTTP one) implements these interfaces; the classes only call them.
#ifndef WRENHAVEN_PAGE_H_
#define WRENHAVEN_PAGE_H_

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "wrenhaven/variant.h"

namespace wrenhaven {

class Request : public Object {
 public:
  // The collections of a request, in the order of the combined lookup.
  enum class Collection {
    kQueryString,
    kForm,
    kCookies,
    kClientCertificate,
    kServerVariables,
  };

  // One collection's item; nullopt when the collection lacks it. Names are
  // matched without regard to letter case.
  virtual std::optional<std::string> Lookup(Collection collection,
                                            std::string_view name) const = 0;

  // The combined lookup by plain name: query string, form, cookies, client
  // certificate, server variables, first match wins; "" when absent.
  std::string Item(std::string_view name) const;
  // A server variable by name; "" when absent.
  std::string ServerVariable(std::string_view name) const;
};

class Response : public Object {
 public:
  // Sets a response cookie's value; its expiry is kept if already set.
  virtual void SetCookie(std::string_view name, std::string_view value) = 0;
  // Sets a response cookie's expiry (local date and time); the cookie is
  // created with an empty value if it was not set yet.
  virtual void SetCookieExpires(std::string_view name, Date expires) = 0;
  // Appends to the page's output; ignored once the response has ended.
  virtual void Write(std::string_view text) = 0;
  virtual void Redirect(std::string_view address) = 0;
  // Ends the response: nothing written after it is sent.
  virtual void End() = 0;
};

class Session : public Object {
 public:
  // Keys are matched without regard to letter case; an absent key reads as
  // Empty.
  virtual Variant Get(std::string_view key) const = 0;
  virtual void Set(std::string_view key, Variant value) = 0;
  // Ends the session: its values are dropped when the page ends.
  virtual void Abandon() = 0;
};

// Held only: no class calls either.
class Application : public Object {};
class Server : public Object {};

// What the host hands to OnStartPage. An accessor returns nullptr when the
// host has no such object; the classes raise an error naming it then.
class ScriptingContext : public Object {
 public:
  virtual std::shared_ptr<Response> response() const = 0;
  virtual std::shared_ptr<Request> request() const = 0;
  virtual std::shared_ptr<Server> server() const = 0;
  virtual std::shared_ptr<Application> application() const = 0;
  virtual std::shared_ptr<Session> session() const = 0;
};

}  // namespace wrenhaven

#endif  // WRENHAVEN_PAGE_H_
