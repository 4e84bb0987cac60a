// The folder of static files (styles, scripts, icons) a host serves.
#ifndef WRENHAVEN_HOST_STATIC_FILES_H_
#define WRENHAVEN_HOST_STATIC_FILES_H_

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace wrenhaven::host {

class StaticFiles {
 public:
  // `root` "" serves nothing. Raises kHost when a non-empty `root` is no
  // folder.
  explicit StaticFiles(const std::string& root);

  // The regular file that `relative` (a decoded path below the folder,
  // "css/site.css") names; nullopt when there is none, or when the path
  // has an empty, "." or ".." segment, a backslash or a NUL, or leads
  // outside the folder (through a link, too).
  std::optional<std::filesystem::path> Resolve(std::string_view relative) const;

  // The content type for a file name's extension.
  static std::string ContentType(const std::filesystem::path& file);

 private:
  std::filesystem::path root_;  // canonical; empty when serving nothing
};

}  // namespace wrenhaven::host

#endif  // WRENHAVEN_HOST_STATIC_FILES_H_
