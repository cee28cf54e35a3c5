#include "support/md5.h"

#include <openssl/evp.h>

namespace qp {

struct CMD5Crypt::Context {
  EVP_MD_CTX* md = EVP_MD_CTX_new();
  ~Context() { EVP_MD_CTX_free(md); }
};

CMD5Crypt::CMD5Crypt() : context_(new Context) {}

CMD5Crypt::~CMD5Crypt() { delete context_; }

void CMD5Crypt::DigestHex(std::string_view text, std::string& out) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_DigestInit_ex(context_->md, EVP_md5(), nullptr);
  EVP_DigestUpdate(context_->md, text.data(), text.size());
  EVP_DigestFinal_ex(context_->md, digest, &length);
  EVP_MD_CTX_reset(context_->md);  // leaves no state behind between digests
  static const char kHex[] = "0123456789abcdef";
  for (unsigned int i = 0; i < length; ++i) {
    out += kHex[digest[i] >> 4];
    out += kHex[digest[i] & 15];
  }
}

}  // namespace qp
