// The Content-Security-Policy the host sends: scripts, styles and
// everything else from the office's own address only, never inline text
// unless its hash is named, no plugins, no foreign <base>, forms posted to
// the office only, and framed by the office's own pages only.
#ifndef WRENHAVEN_HOST_CONTENT_POLICY_H_
#define WRENHAVEN_HOST_CONTENT_POLICY_H_

#include <string>
#include <string_view>
#include <vector>

namespace wrenhaven::host {

// The policy of every answer that names no inline text. Images may be
// "data:" addresses besides the office's own files (the icons are
// <use href="/static/icons.svg#...">, the charts inline SVG elements).
inline constexpr std::string_view kContentSecurityPolicy =
    "default-src 'self'; script-src 'self'; style-src 'self'; "
    "img-src 'self' data:; object-src 'none'; base-uri 'none'; "
    "form-action 'self'; frame-ancestors 'self'";

// The hash source ("'sha256-...'", standard base64) that lets one inline
// <script> or <style> element with this text run. The text is hashed as
// a browser's HTML parser hands it on: every CR LF and every lone CR read
// as LF.
std::string HashSource(std::string_view element_text);

// The texts of the <script> elements in `html`, a piece of markup the
// page wrote itself (never markup that holds what someone typed: whatever
// it holds is allowed to run). A <script> without its end tag is left
// out. The element name is matched without regard to letter case.
std::vector<std::string> ScriptTexts(std::string_view html);

// kContentSecurityPolicy with the given hash sources added to script-src
// and style-src.
std::string PolicyAllowing(const std::vector<std::string>& script_sources,
                           const std::vector<std::string>& style_sources);

}  // namespace wrenhaven::host

#endif  // WRENHAVEN_HOST_CONTENT_POLICY_H_
