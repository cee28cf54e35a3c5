// MD5 digests (RFC 1321) through OpenSSL. Used for the multipart boundary.
#pragma once

#include <string>
#include <string_view>

namespace qp {

class CMD5Crypt {
 public:
  CMD5Crypt();
  virtual ~CMD5Crypt();
  CMD5Crypt(const CMD5Crypt&) = delete;
  CMD5Crypt& operator=(const CMD5Crypt&) = delete;

  // Appends the 32 lower-case hex digits of the digest of `text`'s bytes.
  void DigestHex(std::string_view text, std::string& out);

 private:
  struct Context;
  Context* context_;
};

}  // namespace qp
