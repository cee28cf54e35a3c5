// Test helper: a text compressed with zlib, for bodies that servers send
// compressed. `windowBits` picks the wrapper as zlib does: 31 gzip, 15 zlib,
// -15 raw deflate.
#pragma once

#include <zlib.h>

#include <string>
#include <string_view>

namespace qp::testing {

inline std::string Compress(std::string_view text, int windowBits) {
  z_stream z{};
  if (deflateInit2(&z, 6, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK) return {};
  std::string out(deflateBound(&z, text.size()) + 32, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  z.avail_in = static_cast<uInt>(text.size());
  z.next_out = reinterpret_cast<Bytef*>(&out[0]);
  z.avail_out = static_cast<uInt>(out.size());
  bool finished = deflate(&z, Z_FINISH) == Z_STREAM_END;
  out.resize(finished ? z.total_out : 0);
  deflateEnd(&z);
  return out;
}

inline std::string Gzip(std::string_view text) { return Compress(text, 31); }

}  // namespace qp::testing
