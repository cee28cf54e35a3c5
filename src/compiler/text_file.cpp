#include "compiler/text_file.h"

#include "support/files.h"
#include "support/text.h"

namespace qp {

std::string TextModeLines(std::string_view bytes) {
  size_t stop = bytes.find('\x1A');
  if (stop != std::string_view::npos) bytes = bytes.substr(0, stop);
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 16 + 2);
  size_t position = 0;
  while (position < bytes.size()) {
    size_t lf = bytes.find('\n', position);
    std::string_view line =
        bytes.substr(position, lf == std::string_view::npos ? std::string_view::npos : lf - position);
    if (lf != std::string_view::npos && !line.empty() && line.back() == '\r') line.remove_suffix(1);
    out.append(line);
    out += "\r\n";
    if (lf == std::string_view::npos) break;
    position = lf + 1;
  }
  return out;
}

std::string ReadTextFile(const std::string& path) {
  std::string bytes;
  if (!ReadWholeFile(path, bytes)) return std::string();
  return TextModeLines(bytes);
}

std::vector<BootLine> ParseBootFile(std::string_view text) {
  std::vector<BootLine> lines;
  size_t position = 0;
  while (position < text.size()) {
    size_t lf = text.find('\n', position);
    std::string_view line =
        text.substr(position, lf == std::string_view::npos ? std::string_view::npos : lf - position);
    position = lf == std::string_view::npos ? text.size() : lf + 1;
    if (lf != std::string_view::npos && !line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::vector<std::string> fields = SplitAll(line, "^");
    if (fields.size() >= 3) lines.push_back({fields[0], fields[1], fields[2]});
  }
  return lines;
}

}  // namespace qp
