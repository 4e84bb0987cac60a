// The page templates and their rendering. The templates are built into the
// program: web/templates/NAME.mustache is the template "NAME",
// web/admin/templates/NAME.mustache the template "admin/NAME". {{name}}
// writes a value HTML-escaped, {{{name}}} as it is (never used for values
// from the request or the database), {{static:FILE}} the address of a
// static file (SetStaticAddresses).
#ifndef WRENHAVEN_WEB_RENDER_H_
#define WRENHAVEN_WEB_RENDER_H_

#include <cstdint>
#include <kainjow/mustache.hpp>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace wrenhaven::web {

using TemplateData = kainjow::mustache::data;

// Template name (as above) and text.
const std::vector<std::pair<std::string_view, std::string_view>>&
TemplateSources();

// Adds an empty object to the template list `list` and returns it to be
// filled in place. The library's own push_back copies the item it is given,
// and a copy of an object is a fresh table of strings: a page of menu
// entries built that way spent as long copying as rendering.
// ReserveItems makes room for `count` items first: the library's items
// cannot be moved without a copy, so a list that grows copies all it holds.
TemplateData& AppendItem(TemplateData& list);
void ReserveItems(TemplateData& list, size_t count);

// Renders the template `name` with `data`. Raises kHost for an unknown
// template or one that does not parse, and for data holding a lambda or a
// template naming a partial. The templates are parsed once, all of them
// at the first Render, and shared by every thread.
std::string Render(std::string_view name, const TemplateData& data);
// The same, with `base` looked up for every name `data` lacks; the values
// shared by many pages (the fixed texts) are layered in without a copy.
std::string Render(std::string_view name, const TemplateData& data,
                   const TemplateData& base);

// Templates parsed since the program started: as many as there are, once
// any has been rendered.
size_t TemplateParses();

// The addresses of the static files by name ("office.css" gives
// "/static/office.0123456789ab.css"), as the host that serves them tells
// (HttpHost::StaticAddresses). A template writes one with
// {{static:office.css}}. A name without an address is written as
// "/static/NAME". Shared by every thread; the latest call wins.
void SetStaticAddresses(
    const std::vector<std::pair<std::string, std::string>>& addresses);
// The address {{static:NAME}} writes.
std::string StaticAddress(std::string_view name);
// Counts the calls of SetStaticAddresses: what was drawn under one count
// may name other addresses than the next.
uint64_t StaticAddressesVersion();

}  // namespace wrenhaven::web

#endif  // WRENHAVEN_WEB_RENDER_H_
