#include "host/content_policy.h"

#include <sodium.h>

#include <cctype>

#include "host/sessions.h"

namespace wrenhaven::host {
namespace {

bool StartsWithIgnoreCase(std::string_view text, size_t at,
                          std::string_view prefix) {
  if (text.size() - at < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[at + i])) != prefix[i]) {
      return false;
    }
  }
  return true;
}

// Where the next "<script" tag starts at or after `from` (followed by a
// blank, "/" or ">", so that "<scripts>" is no script); npos when none.
size_t FindScriptTag(std::string_view html, size_t from) {
  for (size_t at = html.find('<', from); at != std::string_view::npos;
       at = html.find('<', at + 1)) {
    if (!StartsWithIgnoreCase(html, at, "<script")) continue;
    const size_t after = at + 7;
    if (after == html.size()) return std::string_view::npos;
    const char next = html[after];
    if (next == '>' || next == '/' || next == ' ' || next == '\t' ||
        next == '\n' || next == '\r' || next == '\f') {
      return at;
    }
  }
  return std::string_view::npos;
}

size_t FindEndTag(std::string_view html, size_t from) {
  for (size_t at = html.find("</", from); at != std::string_view::npos;
       at = html.find("</", at + 1)) {
    if (StartsWithIgnoreCase(html, at, "</script")) return at;
  }
  return std::string_view::npos;
}

std::string AddSources(std::string_view policy, std::string_view directive,
                       const std::vector<std::string>& sources) {
  std::string out(policy);
  if (sources.empty()) return out;
  const std::string name = std::string(directive) + " ";
  size_t at = out.find(name);
  if (at == std::string::npos) return out;
  size_t end = out.find(';', at);
  if (end == std::string::npos) end = out.size();
  std::string added;
  for (const std::string& source : sources) added += " " + source;
  out.insert(end, added);
  return out;
}

}  // namespace

std::string HashSource(std::string_view element_text) {
  std::string text;
  text.reserve(element_text.size());
  for (size_t i = 0; i < element_text.size(); ++i) {
    if (element_text[i] == '\r') {
      text += '\n';
      if (i + 1 < element_text.size() && element_text[i + 1] == '\n') ++i;
    } else {
      text += element_text[i];
    }
  }
  InitSodiumOnce();
  unsigned char digest[crypto_hash_sha256_BYTES];
  crypto_hash_sha256(
      digest, reinterpret_cast<const unsigned char*>(text.data()), text.size());
  char base64[sodium_base64_ENCODED_LEN(crypto_hash_sha256_BYTES,
                                        sodium_base64_VARIANT_ORIGINAL)];
  sodium_bin2base64(base64, sizeof base64, digest, sizeof digest,
                    sodium_base64_VARIANT_ORIGINAL);
  return "'sha256-" + std::string(base64) + "'";
}

std::vector<std::string> ScriptTexts(std::string_view html) {
  std::vector<std::string> texts;
  size_t from = 0;
  for (size_t tag = FindScriptTag(html, from); tag != std::string_view::npos;
       tag = FindScriptTag(html, from)) {
    const size_t open_end = html.find('>', tag);
    if (open_end == std::string_view::npos) break;
    const size_t body = open_end + 1;
    const size_t close = FindEndTag(html, body);
    if (close == std::string_view::npos) break;
    texts.emplace_back(html.substr(body, close - body));
    from = close + 2;
  }
  return texts;
}

std::string PolicyAllowing(const std::vector<std::string>& script_sources,
                           const std::vector<std::string>& style_sources) {
  return AddSources(
      AddSources(kContentSecurityPolicy, "script-src", script_sources),
      "style-src", style_sources);
}

}  // namespace wrenhaven::host
