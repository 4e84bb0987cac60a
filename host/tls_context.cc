#include "host/tls_context.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include "wrenhaven/error.h"

namespace wrenhaven::host {
namespace {

// OpenSSL's reason for the latest failure on this thread.
std::string LastReason() {
  const unsigned long code = ERR_peek_last_error();
  ERR_clear_error();
  if (code == 0) return "no reason given";
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

}  // namespace

TlsContext::TlsContext(const std::string& cert_file,
                       const std::string& key_file) {
  ERR_clear_error();
  SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
  if (ctx == nullptr) {
    Raise(ErrorCode::kHost, "Cannot set up TLS: " + LastReason());
  }
  ctx_ = ctx;
  SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
  SSL_CTX_set_options(ctx, SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION);
  std::string failure;
  if (SSL_CTX_use_certificate_chain_file(ctx, cert_file.c_str()) != 1) {
    failure = "Cannot use the TLS certificate " + cert_file + ": ";
  } else if (SSL_CTX_use_PrivateKey_file(ctx, key_file.c_str(),
                                         SSL_FILETYPE_PEM) != 1) {
    failure = "Cannot use the TLS key " + key_file + ": ";
  } else if (SSL_CTX_check_private_key(ctx) != 1) {
    failure =
        "The TLS key " + key_file + " does not belong to " + cert_file + ": ";
  }
  if (!failure.empty()) {
    failure += LastReason();
    SSL_CTX_free(ctx);
    ctx_ = nullptr;
    Raise(ErrorCode::kHost, failure);
  }
}

TlsContext::~TlsContext() { SSL_CTX_free(static_cast<SSL_CTX*>(ctx_)); }

}  // namespace wrenhaven::host
