// URL splitting shared by the HTTP session and the per-user cookie store.
// Only the two schemes the client speaks are accepted; everything after the
// host (query and fragment included) is the path, exactly as written.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qp {

// Fixed sizes of the parsed parts, terminator included. Longer parts are cut
// to size minus one byte, as fixed buffers would hold them.
inline constexpr int32_t kSchemeCapacity = 20;
inline constexpr int32_t kHostCapacity = 256;
inline constexpr int32_t kPathCapacity = 1024;

struct UrlParts {
  std::string scheme;  // "HTTP" or "HTTPS"
  std::string host;    // name or dotted address, without the port
  std::string path;    // everything after host and port; may be empty
  int32_t port = 80;
  bool secure = false;
};

// Splits `url`. False for a scheme other than HTTP or HTTPS (any case); a URL
// without ":" is plain HTTP. A port that is not a number gives 0.
bool SplitUrl(std::string_view url, UrlParts& parts);

// The path as it goes into the request line: bytes that cannot stand there
// (space, control bytes, DEL, and bytes 0x80 and above, such as GBK or UTF-8
// characters) become "%XX" of their byte value, so the server decodes
// exactly the bytes the script wrote. Everything else, "%" escapes already
// written included, is left as it is.
std::string EncodeRequestTarget(std::string_view path);

// Whether a URL names the HTTPS scheme (in any case).
bool IsHttpsUrl(std::string_view url);

}  // namespace qp
