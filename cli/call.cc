// wrenhaven call: create an instance on an in-memory page, call methods on
// it and print what happened as one JSON object. The methods that change
// menus, functions, roles or rights write their row of the audit trail in
// the same transaction, naming the session's PersonID and REMOTE_ADDR.
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <vector>

#include "cli/commands.h"
#include "cli/json_variant.h"
#include "wrenhaven/audit.h"
#include "wrenhaven/component.h"
#include "wrenhaven/error.h"
#include "wrenhaven/memory_page.h"

namespace wrenhaven::cli {
namespace {

struct CallOptions {
  std::string db;
  std::vector<std::string> session, query, form, cookie, server;
  std::string script;
  std::string progid;
  std::vector<std::string> words;  // METHOD [ARG]... (or nothing with --script)
};

struct PlannedCall {
  std::string method;
  std::vector<Variant> args;
};

std::pair<std::string, std::string> SplitPair(const std::string& kv,
                                              const char* option) {
  const size_t eq = kv.find('=');
  if (eq == std::string::npos || eq == 0) {
    throw CommandError(std::string(option) + " takes KEY=VALUE, not \"" + kv +
                       "\"");
  }
  return {kv.substr(0, eq), kv.substr(eq + 1)};
}

std::shared_ptr<MemoryContext> BuildContext(const CallOptions& o) {
  auto sc = std::make_shared<MemoryContext>();
  for (const auto& kv : o.session) {
    auto [k, v] = SplitPair(kv, "--session");
    sc->session_obj->Set(k, ParseArgument(v));
  }
  const std::pair<const std::vector<std::string>*, Request::Collection>
      lists[] = {
          {&o.query, Request::Collection::kQueryString},
          {&o.form, Request::Collection::kForm},
          {&o.cookie, Request::Collection::kCookies},
          {&o.server, Request::Collection::kServerVariables},
      };
  for (const auto& [list, collection] : lists) {
    for (const auto& kv : *list) {
      auto [k, v] = SplitPair(kv, "a request option");
      sc->request_obj->Set(collection, k, ParseArgument(v).ToText());
    }
  }
  return sc;
}

std::vector<PlannedCall> ReadScript(const std::string& file) {
  std::string text;
  if (file == "-") {
    text.assign(std::istreambuf_iterator<char>(std::cin), {});
  } else {
    std::ifstream in(file);
    if (!in) throw CommandError("cannot read the script " + file);
    text.assign(std::istreambuf_iterator<char>(in), {});
  }
  Json j = Json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (j.is_discarded() || !j.is_array()) {
    throw CommandError("the script is not a JSON array of calls");
  }
  std::vector<PlannedCall> calls;
  for (const Json& item : j) {
    if (!item.is_object() || !item.contains("method") ||
        !item["method"].is_string()) {
      throw CommandError("each call of the script needs a \"method\" text");
    }
    PlannedCall call{item["method"].get<std::string>(), {}};
    if (item.contains("args")) {
      if (!item["args"].is_array()) {
        throw CommandError("\"args\" of " + call.method + " must be an array");
      }
      for (const Json& a : item["args"]) {
        auto v = FromJson(a);
        if (!v)
          throw CommandError("an argument of " + call.method +
                             " is no variant: " + a.dump());
        call.args.push_back(std::move(*v));
      }
    }
    calls.push_back(std::move(call));
  }
  return calls;
}

int Run(const CallOptions& o) {
  std::vector<PlannedCall> calls;
  if (!o.script.empty()) {
    if (!o.words.empty())
      throw CommandError("give either --script or METHOD, not both");
    calls = ReadScript(o.script);
  } else {
    if (o.words.empty()) throw CommandError("no METHOD given");
    PlannedCall call{o.words[0], {}};
    for (size_t i = 1; i < o.words.size(); ++i)
      call.args.push_back(ParseArgument(o.words[i]));
    calls.push_back(std::move(call));
  }

  const ClassInfo* info = Registry::Default().Find(o.progid);
  if (!info) throw CommandError("no class is registered as " + o.progid);
  std::shared_ptr<Component> obj = info->create();
  for (const PlannedCall& c : calls) {
    if (!obj->FindMethod(c.method)) {
      throw CommandError(o.progid + " has no method " + c.method);
    }
  }
  std::shared_ptr<Connection> conn;
  if (!o.db.empty()) conn = OpenDatabase(o.db, /*create=*/false);

  auto sc = BuildContext(o);
  try {
    std::vector<Variant> args;
    if (obj->FindMethod("OnStartPage")) {
      args = {Variant::FromObject(sc)};
      obj->Invoke("OnStartPage", args);
    }
    if (conn) {
      args = {Variant::FromObject(conn)};
      obj->Invoke("SetConn", args);
    }
  } catch (const Error& e) {
    throw CommandError(std::string("cannot set up the instance: ") + e.what());
  }

  Json out;
  out["calls"] = Json::array();
  bool failed = false;
  for (const PlannedCall& c : calls) {
    std::vector<Variant> args = c.args;
    Json entry;
    entry["method"] = c.method;
    try {
      Variant result;
      const auto audited =
          conn ? FindAuditedMethod(o.progid, c.method) : std::nullopt;
      if (audited) {
        // A change of the menus, functions, roles or rights is written to
        // the audit trail in its own transaction, as the pages do.
        AuditTrail trail;
        trail.SetConn(conn);
        const auto at = static_cast<size_t>(audited->id_argument);
        const Variant id = audited->id_argument >= 0 && at < args.size()
                               ? args[at]
                               : Variant();
        const AuditActor actor{sc->session_obj->Get("PersonID"),
                               sc->request_obj->ServerVariable("REMOTE_ADDR")};
        trail.Audited(audited->object, audited->action, id, actor,
                      [&] { result = obj->Invoke(c.method, args); });
      } else {
        result = obj->Invoke(c.method, args);
      }
      entry["result"] = ToJson(result);
      entry["error"] = nullptr;
    } catch (const Error& e) {
      entry["result"] = ToJson(Variant());
      entry["error"] = e.what();
      failed = true;
    }
    out["calls"].push_back(entry);
  }

  Json session = Json::object();
  for (const auto& [k, v] : sc->session_obj->values()) session[k] = ToJson(v);
  out["session"] = session;
  out["sessionAbandoned"] = sc->session_obj->abandoned();
  Json response;
  response["written"] = sc->response_obj->written();
  Json cookies = Json::object();
  for (const auto& [name, c] : sc->response_obj->cookies()) {
    cookies[name] =
        Json{{"value", c.value},
             {"expires", c.expires ? Json(c.expires->ToIso()) : Json(nullptr)}};
  }
  response["cookies"] = cookies;
  const auto& redirect = sc->response_obj->redirect();
  response["redirect"] = redirect ? Json(*redirect) : Json(nullptr);
  response["ended"] = sc->response_obj->ended();
  out["response"] = response;
  std::cout << out.dump(-1, ' ', false, Json::error_handler_t::replace) << "\n";
  return failed ? 1 : 0;
}

}  // namespace

void AddCallCommand(CLI::App& app, Action* action) {
  auto* cmd = app.add_subcommand(
      "call", "Call methods of a class on an in-memory page and print JSON");
  auto o = std::make_shared<CallOptions>();
  cmd->add_option("--db", o->db, "Database to hand to SetConn");
  cmd->add_option("--session", o->session,
                  "Session value K=V (JSON form or text)")
      ->allow_extra_args(false);
  cmd->add_option("--query", o->query, "Query-string item K=V")
      ->allow_extra_args(false);
  cmd->add_option("--form", o->form, "Form field K=V")->allow_extra_args(false);
  cmd->add_option("--cookie", o->cookie, "Request cookie K=V")
      ->allow_extra_args(false);
  cmd->add_option("--server", o->server, "Server variable K=V")
      ->allow_extra_args(false);
  cmd->add_option("--script", o->script,
                  "JSON array of {\"method\",\"args\"}; - for stdin");
  cmd->add_option("progid", o->progid,
                  "Programmatic identifier, e.g. Wrenhaven.Login")
      ->required();
  cmd->add_option("words", o->words, "METHOD [ARG]...");
  cmd->positionals_at_end(false);
  cmd->callback([=] { *action = [=] { return Run(*o); }; });
}

}  // namespace wrenhaven::cli
