// An in-memory page host: page objects whose contents a test or a command
// sets and reads directly. The `wrenhaven call` command builds one from its
// options; tests use it to see exactly what a class did to the page.
#ifndef WRENHAVEN_MEMORY_PAGE_H_
#define WRENHAVEN_MEMORY_PAGE_H_

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "wrenhaven/page.h"

namespace wrenhaven {

class MemoryRequest : public Request {
 public:
  // Adds or replaces an item of a collection.
  void Set(Collection collection, std::string name, std::string value);
  std::optional<std::string> Lookup(Collection collection,
                                    std::string_view name) const override;

 private:
  std::map<Collection, std::vector<std::pair<std::string, std::string>>> items_;
};

class MemoryResponse : public Response {
 public:
  struct Cookie {
    std::string value;
    std::optional<Date> expires;
  };

  void SetCookie(std::string_view name, std::string_view value) override;
  void SetCookieExpires(std::string_view name, Date expires) override;
  void Write(std::string_view text) override;
  void Redirect(std::string_view address) override;
  void End() override;

  const std::string& written() const { return written_; }
  // Cookies in the order they were first set.
  const std::vector<std::pair<std::string, Cookie>>& cookies() const {
    return cookies_;
  }
  const Cookie* cookie(std::string_view name) const;
  const std::optional<std::string>& redirect() const { return redirect_; }
  bool ended() const { return ended_; }

 private:
  Cookie& Find(std::string_view name);
  std::string written_;
  std::vector<std::pair<std::string, Cookie>> cookies_;
  std::optional<std::string> redirect_;
  bool ended_ = false;
};

class MemorySession : public Session {
 public:
  Variant Get(std::string_view key) const override;
  void Set(std::string_view key, Variant value) override;
  void Abandon() override { abandoned_ = true; }

  // Keys in the order they were first written.
  const std::vector<std::pair<std::string, Variant>>& values() const {
    return values_;
  }
  bool abandoned() const { return abandoned_; }

 private:
  std::vector<std::pair<std::string, Variant>> values_;
  bool abandoned_ = false;
};

// A scripting context whose five objects are public members; set one to
// nullptr to model a host that lacks it.
class MemoryContext : public ScriptingContext {
 public:
  MemoryContext();
  std::shared_ptr<Response> response() const override { return response_obj; }
  std::shared_ptr<Request> request() const override { return request_obj; }
  std::shared_ptr<Server> server() const override { return server_obj; }
  std::shared_ptr<Application> application() const override {
    return application_obj;
  }
  std::shared_ptr<Session> session() const override { return session_obj; }

  std::shared_ptr<MemoryResponse> response_obj;
  std::shared_ptr<MemoryRequest> request_obj;
  std::shared_ptr<Server> server_obj;
  std::shared_ptr<Application> application_obj;
  std::shared_ptr<MemorySession> session_obj;
};

}  // namespace wrenhaven

#endif  // WRENHAVEN_MEMORY_PAGE_H_
