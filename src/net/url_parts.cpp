#include "net/url_parts.h"

#include "support/text.h"

namespace qp {
namespace {

bool IsHostByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         c == '-' || c == '.' || c == ':';
}

std::string Cut(std::string_view text, int32_t capacity) {
  return std::string(text.substr(0, static_cast<size_t>(capacity - 1)));
}

}  // namespace

bool SplitUrl(std::string_view url, UrlParts& parts) {
  parts = UrlParts();
  std::string_view rest = url;
  size_t colon = url.find(':');
  if (colon != std::string_view::npos) {
    parts.scheme = AsciiUpper(Cut(url.substr(0, colon), kSchemeCapacity));
    if (parts.scheme == "HTTPS") {
      parts.port = 443;
      parts.secure = true;
    } else if (parts.scheme != "HTTP") {
      return false;
    }
    rest = url.substr(colon + 1);
  } else {
    parts.scheme = "HTTP";
  }
  if (rest.substr(0, 2) == "//") rest.remove_prefix(2);
  size_t hostEnd = 0;
  while (hostEnd < rest.size() && IsHostByte(rest[hostEnd])) ++hostEnd;
  parts.host = Cut(rest.substr(0, hostEnd), kHostCapacity);
  parts.path = Cut(rest.substr(hostEnd), kPathCapacity);
  size_t portColon = parts.host.find(':');
  if (portColon != std::string::npos) {
    parts.port = LeadingInt(std::string_view(parts.host).substr(portColon + 1));
    parts.host.resize(portColon);
  }
  return true;
}

std::string EncodeRequestTarget(std::string_view path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string target;
  target.reserve(path.size());
  for (char c : path) {
    auto byte = static_cast<unsigned char>(c);
    if (byte > 0x20 && byte < 0x7F) {
      target += c;
    } else {
      target += '%';
      target += kHex[byte >> 4];
      target += kHex[byte & 0x0F];
    }
  }
  return target;
}

bool IsHttpsUrl(std::string_view url) {
  size_t colon = url.find(':');
  return colon != std::string_view::npos && AsciiUpper(url.substr(0, colon)) == "HTTPS";
}

}  // namespace qp
