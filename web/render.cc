#include "web/render.h"

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "wrenhaven/error.h"

namespace wrenhaven::web {
namespace {

using Mustache = kainjow::mustache::mustache;

std::atomic<size_t> parses{0};
std::atomic<uint64_t> static_version{0};

constexpr std::string_view kStaticTag = "static:";
constexpr std::string_view kPlainStatic = "/static/";

struct StaticTable {
  std::map<std::string, TemplateData, std::less<>> addresses;
};

std::atomic<std::shared_ptr<const StaticTable>> static_table{
    std::make_shared<const StaticTable>()};

struct Parsed {
  std::map<std::string, std::unique_ptr<Mustache>, std::less<>> templates;
};

// Every template is parsed once, on first use of any, and shared by all
// threads. Rendering only reads the parsed tree: what changes while a
// template renders lives in the context of that one call. The library
// writes to a template only when a partial or a lambda fails; Scope below
// admits neither, so nothing changes it once parsed.
const Parsed& All() {
  static const Parsed parsed = [] {
    Parsed p;
    for (const auto& [name, text] : TemplateSources()) {
      p.templates.emplace(std::string(name),
                          std::make_unique<Mustache>(std::string(text)));
      parses.fetch_add(1, std::memory_order_relaxed);
    }
    return p;
  }();
  return parsed;
}

Mustache& Compiled(std::string_view name) {
  const Parsed& parsed = All();
  auto it = parsed.templates.find(name);
  if (it == parsed.templates.end()) {
    Raise(ErrorCode::kHost,
          "There is no page template \"" + std::string(name) + "\"");
  }
  if (!it->second->is_valid()) {
    Raise(ErrorCode::kHost, "The page template \"" + std::string(name) +
                                "\" is broken: " + it->second->error_message());
  }
  return *it->second;
}

// The names in scope while a template renders: the innermost data first.
// A dotted name ("t.sign_out") is followed part by part through each layer
// in turn, as the library's own context does, but without building a list
// of the parts through a string stream for every lookup, which was a fifth
// of the rendering time.
// A static file's address ({{static:office.css}}) comes from the table of
// the moment the rendering began.
class Scope : public kainjow::mustache::basic_context<std::string> {
 public:
  void push(const TemplateData* data) override { layers_.push_back(data); }
  void pop() override { layers_.pop_back(); }

  const TemplateData* get(const std::string& name) const override {
    const TemplateData* found = nullptr;
    if (name.starts_with(kStaticTag)) {
      found = StaticData(std::string_view(name).substr(kStaticTag.size()));
    } else if (name == ".") {
      found = layers_.back();
    } else {
      for (auto layer = layers_.rbegin(); layer != layers_.rend(); ++layer) {
        if ((found = Follow(**layer, name)) != nullptr) break;
      }
    }
    // A lambda renders text of its own through the shared template, which
    // records any failure of it there.
    if (found != nullptr && (found->is_lambda() || found->is_lambda2())) {
      Raise(ErrorCode::kHost,
            "The page data for \"" + name +
                "\" is a lambda, which templates do not take");
    }
    return found;
  }

  // Templates include no others: a partial is parsed at every use.
  const TemplateData* get_partial(const std::string& name) const override {
    Raise(ErrorCode::kHost,
          "The page templates include no partial (\"" + name + "\")");
  }

 private:
  static const TemplateData* Follow(const TemplateData& data,
                                    const std::string& name) {
    if (name.find('.') == std::string::npos) return data.get(name);
    const TemplateData* at = &data;
    std::string part;
    size_t start = 0;
    while (at != nullptr) {
      const size_t dot = name.find('.', start);
      part.assign(name, start, dot == std::string::npos ? dot : dot - start);
      at = at->get(part);
      if (dot == std::string::npos) break;
      start = dot + 1;
    }
    return at;
  }

  const TemplateData* StaticData(std::string_view file) const {
    const auto it = statics_->addresses.find(file);
    if (it != statics_->addresses.end()) return &it->second;
    auto made = plain_.find(file);
    if (made == plain_.end()) {
      made = plain_
                 .emplace(std::string(file),
                          TemplateData(std::string(kPlainStatic) +
                                       std::string(file)))
                 .first;
    }
    return &made->second;
  }

  std::vector<const TemplateData*> layers_;
  const std::shared_ptr<const StaticTable> statics_ = static_table.load();
  mutable std::map<std::string, TemplateData, std::less<>> plain_;
};

// Collects the rendered pieces straight into one string.
struct Sink {
  std::string& out;
};

Sink& operator<<(Sink& sink, const std::string& piece) {
  sink.out += piece;
  return sink;
}

std::string RenderIn(std::string_view name, Scope& scope) {
  Mustache& tmpl = Compiled(name);
  std::string out;
  out.reserve(4096);
  Sink sink{out};
  tmpl.render(scope, sink);
  if (!tmpl.is_valid()) {
    Raise(ErrorCode::kHost,
          "The page template \"" + std::string(name) +
              "\" could not be rendered: " + tmpl.error_message());
  }
  return out;
}

// The list lives in storage of its own that the data object owns and only
// hands out read-only; it was not created const, so it may be changed
// through that reference.
kainjow::mustache::list& Items(TemplateData& list) {
  if (!list.is_list()) {
    Raise(ErrorCode::kHost, "A template item can only be added to a list");
  }
  return const_cast<kainjow::mustache::list&>(list.list_value());
}

}  // namespace

size_t TemplateParses() { return parses.load(std::memory_order_relaxed); }

void SetStaticAddresses(
    const std::vector<std::pair<std::string, std::string>>& addresses) {
  auto table = std::make_shared<StaticTable>();
  for (const auto& [name, address] : addresses) {
    table->addresses.insert_or_assign(name, TemplateData(address));
  }
  static_table.store(std::move(table));
  static_version.fetch_add(1, std::memory_order_release);
}

uint64_t StaticAddressesVersion() {
  return static_version.load(std::memory_order_acquire);
}

std::string StaticAddress(std::string_view name) {
  const std::shared_ptr<const StaticTable> table = static_table.load();
  const auto it = table->addresses.find(name);
  if (it != table->addresses.end()) return it->second.string_value();
  return std::string(kPlainStatic) + std::string(name);
}

TemplateData& AppendItem(TemplateData& list) {
  return Items(list).emplace_back(TemplateData::type::object);
}

void ReserveItems(TemplateData& list, size_t count) {
  Items(list).reserve(count);
}

std::string Render(std::string_view name, const TemplateData& data) {
  Scope scope;
  scope.push(&data);
  return RenderIn(name, scope);
}

std::string Render(std::string_view name, const TemplateData& data,
                   const TemplateData& base) {
  Scope scope;
  scope.push(&base);
  scope.push(&data);
  return RenderIn(name, scope);
}

}  // namespace wrenhaven::web
