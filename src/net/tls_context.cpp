#include "net/tls_context.h"

#include <openssl/ssl.h>

#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <tuple>

namespace qp {
namespace {

// What decides which certificates a context trusts.
using ContextKey = std::tuple<bool, std::string, std::string>;

std::string EnvironmentText(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

SSL_CTX* NewClientContext(bool verify) {
  SSL_CTX* context = SSL_CTX_new(TLS_client_method());
  if (!context) return nullptr;
  if (verify) {
    SSL_CTX_set_default_verify_paths(context);  // honours SSL_CERT_FILE and SSL_CERT_DIR
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
  }
  // Sessions are kept by the HTTP session that made them (per host), not in
  // the context's own cache, which a client never looks up.
  SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
  return context;
}

}  // namespace

SSL_CTX* SharedClientContext(bool verify) {
  static std::mutex mutex;
  static std::map<ContextKey, SSL_CTX*>* contexts = new std::map<ContextKey, SSL_CTX*>;
  OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);
  ContextKey key(verify, verify ? EnvironmentText("SSL_CERT_FILE") : "",
                 verify ? EnvironmentText("SSL_CERT_DIR") : "");
  std::lock_guard<std::mutex> lock(mutex);
  SSL_CTX*& context = (*contexts)[key];
  if (!context) context = NewClientContext(verify);
  return context;
}

}  // namespace qp
