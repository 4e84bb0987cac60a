// An in-memory page host: page objects whose contents a test or a command
// sets and reads directly. The `wrenhaven call` command builds one from its
// options; tests use it to see exactly what a class did to the page. The
// response and the session are those of every host (wrenhaven/
// buffered_page.h), so they behave as they do over HTTP.
#ifndef WRENHAVEN_MEMORY_PAGE_H_
#define WRENHAVEN_MEMORY_PAGE_H_

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "wrenhaven/buffered_page.h"
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

// The in-memory host's response and session are the ones the HTTP host
// hands its pages.
using MemoryResponse = BufferedResponse;
using MemorySession = BufferedSession;

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
