// The folder of static files (styles, scripts, icons) a host serves, read
// into memory once when the host starts.
//
// Every file is kept with a strong entity tag (a hash of its content) and,
// for text and other compressible types, its gzip form when that is
// smaller. Each file has two names: its own ("office.css"), answered with a
// short cache lifetime, and a fingerprinted one with the first twelve
// digits of the hash before the extension ("office.0123456789ab.css"),
// answered as unchanging for a year. Pages refer to the fingerprinted
// names, so a changed file is fetched anew under its new name.
//
// Names that begin with a dot are not served, nor are files that links
// lead to outside the folder. The folder is read whole at start: a change
// shows after a restart.
#ifndef WRENHAVEN_HOST_STATIC_FILES_H_
#define WRENHAVEN_HOST_STATIC_FILES_H_

#include <httplib.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace wrenhaven::host {

struct StaticFile {
  std::string name;           // "css/site.css", below the folder
  std::string fingerprinted;  // "css/site.0123456789ab.css"
  std::string content_type;
  std::string body;
  std::string etag;  // "\"<32 hexadecimal digits>\""
  std::string gzip;  // "" when not kept compressed
  std::string gzip_etag;
};

class StaticFiles {
 public:
  struct Limits {
    size_t files = 4096;
    size_t file_bytes = size_t{16} << 20;
    size_t total_bytes = size_t{128} << 20;
  };
  static constexpr std::string_view kShortLifetime = "public, max-age=60";
  static constexpr std::string_view kLongLifetime =
      "public, max-age=31536000, immutable";

  // `root` "" serves nothing. Raises kHost when a non-empty `root` is no
  // folder, when a file cannot be read, and when the folder holds more
  // than the limits allow (checked before a file is read).
  explicit StaticFiles(const std::string& root) : StaticFiles(root, {}) {}
  StaticFiles(const std::string& root, Limits limits);

  struct Found {
    const StaticFile* file = nullptr;  // nullptr: there is none
    bool fingerprinted = false;        // asked for by its fingerprinted name
    explicit operator bool() const { return file != nullptr; }
  };
  // The file that `relative` ("css/site.css", decoded) names, by its own or
  // its fingerprinted name.
  Found Find(std::string_view relative) const;

  // Each file's name and fingerprinted name, by name.
  std::vector<std::pair<std::string, std::string>> Fingerprints() const;

  // Answers a GET or HEAD of `found`: 304 when If-None-Match holds the
  // entity tag of the form chosen, otherwise 200 with the gzip form when
  // Accept-Encoding allows it and there is one; ETag, Cache-Control and
  // (for files kept compressed) Vary on both.
  static void Answer(const Found& found, const httplib::Request& req,
                     httplib::Response& res);

  // The content type for a file name's extension.
  static std::string ContentType(const std::filesystem::path& file);

 private:
  std::vector<std::unique_ptr<StaticFile>> files_;
  std::map<std::string, Found, std::less<>> names_;
};

// True when an Accept-Encoding value admits gzip: it names gzip (or x-gzip,
// or "*" without naming gzip) with a quality above 0.
bool AcceptsGzip(std::string_view accept_encoding);

// True when an If-None-Match value holds `etag` ("*" holds any), compared
// weakly as the header asks: W/"x" holds "x".
bool NoneMatchHolds(std::string_view if_none_match, std::string_view etag);

// The gzip form of `data`; raises kHost when zlib fails.
std::string Gzip(std::string_view data);

}  // namespace wrenhaven::host

#endif  // WRENHAVEN_HOST_STATIC_FILES_H_
