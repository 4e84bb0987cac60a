// The server side of TLS: a certificate chain and its private key, read
// from PEM files, for every connection the host serves over HTTPS.
#ifndef WRENHAVEN_HOST_TLS_CONTEXT_H_
#define WRENHAVEN_HOST_TLS_CONTEXT_H_

#include <string>

namespace wrenhaven::host {

class TlsContext {
 public:
  // Raises kHost, naming the file and OpenSSL's reason, when the
  // certificate or key cannot be read or do not belong together.
  TlsContext(const std::string& cert_file, const std::string& key_file);
  ~TlsContext();
  TlsContext(const TlsContext&) = delete;
  TlsContext& operator=(const TlsContext&) = delete;

  // The SSL_CTX.
  void* get() const { return ctx_; }

 private:
  void* ctx_ = nullptr;
};

}  // namespace wrenhaven::host

#endif  // WRENHAVEN_HOST_TLS_CONTEXT_H_
