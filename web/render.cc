#include "web/render.h"

#include <map>
#include <memory>

#include "wrenhaven/error.h"

namespace wrenhaven::web {
namespace {

using Mustache = kainjow::mustache::mustache;

std::string_view Source(std::string_view name) {
  for (const auto& [n, text] : TemplateSources()) {
    if (n == name) return text;
  }
  Raise(ErrorCode::kHost,
        "There is no page template \"" + std::string(name) + "\"");
}

// Rendering walks a parsed template without locking, so each worker thread
// parses the templates it uses once and keeps them.
Mustache& Compiled(std::string_view name) {
  thread_local std::map<std::string, std::unique_ptr<Mustache>, std::less<>>
      cache;
  auto it = cache.find(name);
  if (it == cache.end()) {
    auto parsed = std::make_unique<Mustache>(std::string(Source(name)));
    if (!parsed->is_valid()) {
      Raise(ErrorCode::kHost, "The page template \"" + std::string(name) +
                                  "\" is broken: " + parsed->error_message());
    }
    it = cache.emplace(std::string(name), std::move(parsed)).first;
  }
  return *it->second;
}

std::string RenderIn(std::string_view name,
                     kainjow::mustache::context<std::string>& ctx) {
  Mustache& tmpl = Compiled(name);
  std::string out = tmpl.render(ctx);
  if (!tmpl.is_valid()) {
    Raise(ErrorCode::kHost,
          "The page template \"" + std::string(name) +
              "\" could not be rendered: " + tmpl.error_message());
  }
  return out;
}

}  // namespace

std::string Render(std::string_view name, const TemplateData& data) {
  kainjow::mustache::context<std::string> ctx(&data);
  return RenderIn(name, ctx);
}

std::string Render(std::string_view name, const TemplateData& data,
                   const TemplateData& base) {
  kainjow::mustache::context<std::string> ctx(&base);
  ctx.push(&data);
  return RenderIn(name, ctx);
}

}  // namespace wrenhaven::web
