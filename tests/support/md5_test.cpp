#include <gtest/gtest.h>

#include "support/md5.h"

namespace qp {
namespace {

std::string Md5(const std::string& text) {
  CMD5Crypt md5;
  std::string out;
  md5.DigestHex(text, out);
  return out;
}

// The test suite of RFC 1321, appendix A.5.
TEST(Md5, Rfc1321Suite) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& [text, digest] : cases) EXPECT_EQ(Md5(text), digest) << text;
}

TEST(Md5, AppendsAndReusesTheObject) {
  CMD5Crypt md5;
  std::string out = "x";
  md5.DigestHex("abc", out);
  md5.DigestHex("", out);
  EXPECT_EQ(out, "x900150983cd24fb0d6963f7d28e17f72d41d8cd98f00b204e9800998ecf8427e");
}

TEST(Md5, BinaryBytesIncludingNul) {
  EXPECT_EQ(Md5(std::string("\0", 1)), "93b885adfe0da089cdf634904fd59f71");
}

}  // namespace
}  // namespace qp
