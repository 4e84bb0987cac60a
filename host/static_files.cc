#include "host/static_files.h"

#include <sodium.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <system_error>
#include <utility>

#include "frame/text.h"
#include "host/wire.h"
#include "wrenhaven/error.h"

namespace wrenhaven::host {

namespace fs = std::filesystem;

namespace {

constexpr size_t kLongestName = 1024;
constexpr size_t kLongestHeader = 4096;

std::string Lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) {
    return static_cast<char>(std::tolower(c));
  });
  return out;
}

// 32 hexadecimal digits of the content's BLAKE2b hash.
std::string ContentHash(std::string_view data) {
  if (sodium_init() < 0) {
    Raise(ErrorCode::kHost, "The hash functions cannot be used");
  }
  unsigned char hash[16];
  crypto_generichash(hash, sizeof hash,
                     reinterpret_cast<const unsigned char*>(data.data()),
                     data.size(), nullptr, 0);
  char hex[sizeof hash * 2 + 1];
  sodium_bin2hex(hex, sizeof hex, hash, sizeof hash);
  return hex;
}

// Worth keeping compressed: text and the formats that are text inside.
bool Compressible(std::string_view content_type) {
  return content_type.starts_with("text/") || content_type == "image/svg+xml" ||
         content_type == "application/json" || content_type == "image/x-icon";
}

// "css/site.css" with `hash` before the extension: "css/site.HASH.css";
// "LICENSE" gives "LICENSE.HASH".
std::string Fingerprinted(const std::string& name, std::string_view hash) {
  const size_t slash = name.rfind('/');
  const size_t base = slash == std::string::npos ? 0 : slash + 1;
  const size_t dot = name.rfind('.');
  const std::string tag = "." + std::string(hash.substr(0, 12));
  if (dot == std::string::npos || dot <= base) return name + tag;
  return name.substr(0, dot) + tag + name.substr(dot);
}

std::string ReadWhole(const fs::path& file, uintmax_t size) {
  std::ifstream in(file, std::ios::binary);
  std::string data(static_cast<size_t>(size), '\0');
  if (!in || !in.read(data.data(), static_cast<std::streamsize>(size)) ||
      in.peek() != std::ifstream::traits_type::eof()) {
    Raise(ErrorCode::kHost,
          "The static file " + file.string() + " could not be read whole");
  }
  return data;
}

// Whether the q parameter of one Accept-Encoding element ("gzip;q=0.5")
// is above 0. Anything that is no valid quality counts as 0.
bool QualityAboveZero(std::string_view params) {
  while (!params.empty()) {
    const size_t semi = params.find(';');
    const std::string_view param = TrimBlanks(params.substr(0, semi));
    params = semi == std::string_view::npos ? std::string_view()
                                            : params.substr(semi + 1);
    if (param.size() < 2 || (param[0] != 'q' && param[0] != 'Q') ||
        param[1] != '=') {
      continue;
    }
    const std::string_view q = param.substr(2);
    if (q.empty() || q.size() > 5 || (q[0] != '0' && q[0] != '1')) {
      return false;
    }
    if (q.size() > 1 && q[1] != '.') return false;
    bool nonzero = q[0] == '1';
    for (size_t i = 2; i < q.size(); ++i) {
      if (q[i] < '0' || q[i] > '9') return false;
      if (q[i] != '0') nonzero = true;
    }
    return nonzero;
  }
  return true;
}

}  // namespace

StaticFiles::StaticFiles(const std::string& root, Limits limits) {
  if (root.empty()) return;
  std::error_code ec;
  const fs::path canonical = fs::canonical(root, ec);
  if (ec || !fs::is_directory(canonical, ec)) {
    Raise(ErrorCode::kHost, "The static folder " + root + " is not a folder");
  }
  size_t total = 0;
  fs::recursive_directory_iterator it(canonical, ec);
  if (ec) {
    Raise(ErrorCode::kHost,
          "The static folder " + root + " cannot be read: " + ec.message());
  }
  for (; it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (ec) break;
    const fs::path& path = it->path();
    if (path.filename().string().starts_with(".")) {
      if (it->is_directory(ec)) it.disable_recursion_pending();
      continue;
    }
    // A link may point anywhere: what it leads to must be a file inside.
    const fs::path target = fs::canonical(path, ec);
    if (ec || !fs::is_regular_file(target, ec)) {
      ec.clear();
      continue;
    }
    const auto inside = std::mismatch(canonical.begin(), canonical.end(),
                                      target.begin(), target.end());
    if (inside.first != canonical.end()) continue;

    const std::string name =
        path.lexically_relative(canonical).generic_string();
    const uintmax_t size = fs::file_size(target, ec);
    if (ec) break;
    if (name.size() > kLongestName) {
      Raise(ErrorCode::kHost, "A static file's name is longer than " +
                                  std::to_string(kLongestName) + " characters");
    }
    if (files_.size() == limits.files) {
      Raise(ErrorCode::kHost, "The static folder " + root +
                                  " holds more than " +
                                  std::to_string(limits.files) + " files");
    }
    if (size > limits.file_bytes || total + size > limits.total_bytes) {
      Raise(ErrorCode::kHost, "The static folder " + root + " is larger than " +
                                  std::to_string(limits.total_bytes) +
                                  " bytes, or " + name + " larger than " +
                                  std::to_string(limits.file_bytes));
    }
    total += static_cast<size_t>(size);

    auto file = std::make_unique<StaticFile>();
    file->name = name;
    file->content_type = ContentType(target);
    file->body = ReadWhole(target, size);
    const std::string hash = ContentHash(file->body);
    file->etag = "\"" + hash + "\"";
    file->fingerprinted = Fingerprinted(name, hash);
    if (Compressible(file->content_type) && !file->body.empty()) {
      std::string packed = Gzip(file->body);
      if (packed.size() < file->body.size() - file->body.size() / 10) {
        file->gzip = std::move(packed);
        file->gzip_etag = "\"" + hash + ".gz\"";
      }
    }
    files_.push_back(std::move(file));
  }
  if (ec) {
    Raise(ErrorCode::kHost,
          "The static folder " + root + " cannot be read: " + ec.message());
  }
  for (const auto& file : files_) names_[file->name] = {file.get(), false};
  // A file's own name wins over another's fingerprinted one.
  for (const auto& file : files_) {
    names_.emplace(file->fingerprinted, Found{file.get(), true});
  }
}

StaticFiles::Found StaticFiles::Find(std::string_view relative) const {
  if (relative.size() > kLongestName) return {};
  const auto it = names_.find(relative);
  return it == names_.end() ? Found{} : it->second;
}

std::vector<std::pair<std::string, std::string>> StaticFiles::Fingerprints()
    const {
  std::vector<std::pair<std::string, std::string>> out;
  for (const auto& [name, found] : names_) {
    if (!found.fingerprinted) {
      // The fingerprinted name may belong to a file of that very name.
      const auto alias = names_.find(found.file->fingerprinted);
      out.emplace_back(name, alias->second.file == found.file
                                 ? found.file->fingerprinted
                                 : name);
    }
  }
  return out;
}

void StaticFiles::Answer(const Found& found, const httplib::Request& req,
                         httplib::Response& res) {
  const StaticFile& file = *found.file;
  const bool packed = !file.gzip.empty() &&
                      AcceptsGzip(req.get_header_value("Accept-Encoding"));
  const std::string& etag = packed ? file.gzip_etag : file.etag;
  res.set_header("ETag", etag);
  res.set_header(
      "Cache-Control",
      std::string(found.fingerprinted ? kLongLifetime : kShortLifetime));
  if (!file.gzip.empty()) res.set_header("Vary", "Accept-Encoding");
  if (NoneMatchHolds(req.get_header_value("If-None-Match"), etag)) {
    res.status = 304;
    return;
  }
  res.status = 200;
  if (packed) res.set_header("Content-Encoding", "gzip");
  res.set_content(packed ? file.gzip : file.body, file.content_type);
}

bool AcceptsGzip(std::string_view header) {
  if (header.size() > kLongestHeader) return false;
  bool any = false;
  while (!header.empty()) {
    const size_t comma = header.find(',');
    const std::string_view element = header.substr(0, comma);
    header = comma == std::string_view::npos ? std::string_view()
                                             : header.substr(comma + 1);
    const size_t semi = element.find(';');
    const std::string coding = Lower(TrimBlanks(element.substr(0, semi)));
    const std::string_view params = semi == std::string_view::npos
                                        ? std::string_view()
                                        : element.substr(semi + 1);
    if (coding == "gzip" || coding == "x-gzip") {
      return QualityAboveZero(params);
    }
    if (coding == "*") any = QualityAboveZero(params);
  }
  return any;
}

bool NoneMatchHolds(std::string_view header, std::string_view etag) {
  if (header.size() > kLongestHeader) return false;
  header = TrimBlanks(header);
  if (header == "*") return true;
  while (true) {
    while (!header.empty() && (header.front() == ',' || header.front() == ' ' ||
                               header.front() == '\t')) {
      header.remove_prefix(1);
    }
    if (header.empty()) return false;
    if (header.starts_with("W/")) header.remove_prefix(2);
    if (header.empty() || header.front() != '"') return false;
    const size_t close = header.find('"', 1);
    if (close == std::string_view::npos) return false;
    if (header.substr(0, close + 1) == etag) return true;
    header.remove_prefix(close + 1);
  }
}

std::string Gzip(std::string_view data) {
  z_stream stream{};
  // 15 window bits, plus 16 for the gzip wrapper.
  if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 9,
                   Z_DEFAULT_STRATEGY) != Z_OK) {
    Raise(ErrorCode::kHost, "zlib could not start compressing");
  }
  std::string out(deflateBound(&stream, static_cast<uLong>(data.size())), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  const int result = deflate(&stream, Z_FINISH);
  const size_t written = stream.total_out;
  deflateEnd(&stream);
  if (result != Z_STREAM_END) {
    Raise(ErrorCode::kHost, "zlib could not compress a static file");
  }
  out.resize(written);
  return out;
}

std::string StaticFiles::ContentType(const fs::path& file) {
  const std::string ext = Lower(file.extension().string());
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
