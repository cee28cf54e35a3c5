// The client TLS contexts of the process. Building a context loads the
// trusted certificates (the whole system bundle, some 150 of them), which
// costs far more than a handshake; so each configuration of verification and
// trust paths gets one context, built on first use and shared by every
// script thread (OpenSSL contexts are safe to share once set up).
#pragma once

typedef struct ssl_ctx_st SSL_CTX;

namespace qp {

// The shared context for the current SSL_CERT_FILE and SSL_CERT_DIR, with
// peer verification on or off. It lives until the process ends; null when
// OpenSSL cannot make one.
SSL_CTX* SharedClientContext(bool verify);

}  // namespace qp
