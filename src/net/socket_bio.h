// A TLS transport over a socket that never raises SIGPIPE: OpenSSL's own
// socket BIO writes with write(2), which kills the process when the peer has
// gone; this one sends with MSG_NOSIGNAL and reports the failure instead.
#pragma once

#include <openssl/bio.h>

namespace qp {

// A BIO that reads from and writes to `fd` without owning it. Null when the
// BIO cannot be allocated.
BIO* NewSocketBio(int fd);

}  // namespace qp
