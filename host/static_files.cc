#include "host/static_files.h"

#include <algorithm>
#include <cctype>
#include <system_error>
#include <utility>

#include "wrenhaven/error.h"

namespace wrenhaven::host {

namespace fs = std::filesystem;

StaticFiles::StaticFiles(const std::string& root) {
  if (root.empty()) return;
  std::error_code ec;
  fs::path canonical = fs::canonical(root, ec);
  if (ec || !fs::is_directory(canonical, ec)) {
    Raise(ErrorCode::kHost, "The static folder " + root + " is not a folder");
  }
  root_ = std::move(canonical);
}

std::optional<fs::path> StaticFiles::Resolve(std::string_view relative) const {
  if (root_.empty() || relative.empty()) return std::nullopt;
  if (relative.find('\0') != std::string_view::npos ||
      relative.find('\\') != std::string_view::npos) {
    return std::nullopt;
  }
  std::string_view rest = relative;
  while (true) {
    const size_t slash = rest.find('/');
    const std::string_view segment = rest.substr(0, slash);
    if (segment.empty() || segment == "." || segment == "..") {
      return std::nullopt;
    }
    if (slash == std::string_view::npos) break;
    rest = rest.substr(slash + 1);
  }
  std::error_code ec;
  const fs::path file = fs::canonical(root_ / fs::path(relative), ec);
  if (ec) return std::nullopt;
  // Links may point anywhere: what they lead to must still be inside.
  const auto mismatch =
      std::mismatch(root_.begin(), root_.end(), file.begin(), file.end());
  if (mismatch.first != root_.end()) return std::nullopt;
  if (!fs::is_regular_file(file, ec)) return std::nullopt;
  return file;
}

std::string StaticFiles::ContentType(const fs::path& file) {
  std::string ext = file.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) {
    return static_cast<char>(std::tolower(c));
  });
  static const std::pair<const char*, const char*> kTypes[] = {
      {".css", "text/css; charset=utf-8"},
      {".js", "text/javascript; charset=utf-8"},
      {".html", "text/html; charset=utf-8"},
      {".htm", "text/html; charset=utf-8"},
      {".txt", "text/plain; charset=utf-8"},
      {".json", "application/json"},
      {".svg", "image/svg+xml"},
      {".png", "image/png"},
      {".gif", "image/gif"},
      {".jpg", "image/jpeg"},
      {".jpeg", "image/jpeg"},
      {".ico", "image/x-icon"},
      {".woff2", "font/woff2"},
  };
  for (const auto& [suffix, type] : kTypes) {
    if (ext == suffix) return type;
  }
  return "application/octet-stream";
}

}  // namespace wrenhaven::host
