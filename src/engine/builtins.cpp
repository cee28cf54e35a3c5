// The built-in functions of "@" references: "name<<<arg<<<arg...". Every
// argument and result is text; numbers are leading decimal numbers.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "engine/script_runner.h"
#include "engine/builtins.h"
#include "support/characters.h"
#include "support/files.h"
#include "support/messages.h"
#include "support/settings.h"
#include "support/text.h"
#include "support/url_encode.h"

namespace qp {
namespace {

using Items = std::vector<std::string>;

// The text of a call for error reports: the one given, or the items joined
// at the separators they were cut at, made only when a report needs it (an
// item may be a whole page).
class CallText {
 public:
  CallText(const std::string* text, const Items& items) : text_(text), items_(items) {}
  std::string str() const {
    if (text_) return *text_;
    std::string joined = items_[0];
    for (size_t k = 1; k < items_.size(); ++k) {
      joined += kCallItemSeparator;
      joined += items_[k];
    }
    return joined;
  }

 private:
  const std::string* text_;
  const Items& items_;
};

// A number argument: its leading decimal number. False when the digits do
// not fit in 32 bits, which is the one way reading a number can fail here.
bool ReadNumber(std::string_view text, int32_t& value) {
  size_t i = 0;
  while (i < text.size() && IsBlank(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > static_cast<int64_t>(INT32_MAX) + 1) return false;
  }
  int64_t result = negative ? -magnitude : magnitude;
  if (result > INT32_MAX) return false;
  value = static_cast<int32_t>(result);
  return true;
}

// The C library open modes that writefile accepts: r, w or a, then any of
// "+", "b", "t" (text and binary are the same here). Anything else fails the
// open instead of reaching fopen.
bool CleanOpenMode(std::string_view mode, std::string& clean) {
  if (mode.empty() || (mode[0] != 'r' && mode[0] != 'w' && mode[0] != 'a')) return false;
  clean.assign(1, mode[0]);
  for (char c : mode.substr(1)) {
    if (c == '+' || c == 'b') clean += c;
    else if (c != 't') return false;
  }
  return true;
}

// "1" only when every byte reached the file and it closed cleanly (a full
// disk may show only at the close, when the buffer is written). A file that
// cannot be opened is no failure to report; one that fails later is said on
// standard error.
std::string WriteFile(const Items& items) {
  std::string mode = "a";
  if (items.size() > 3 && !CleanOpenMode(items[3], mode)) return "0";
  std::string path = FileSystemPath(items[1]);
  std::FILE* file = std::fopen(path.c_str(), mode.c_str());
  if (!file) return "0";
  const std::string& text = items[2];
  int error = 0;
  if (std::fwrite(text.data(), 1, text.size(), file) != text.size()) error = errno;
  if (std::fclose(file) != 0 && error == 0) error = errno;
  if (error == 0) return "1";
  std::fprintf(stderr, "quorpack: writefile cannot write %s: %s\n", path.c_str(),
               std::strerror(error));
  return "0";
}

// Text lines of a file: a line ends at LF, and a CR right before it goes too.
// A folder, a device or an unreadable file cannot be opened.
bool ReadLines(const std::string& path, std::vector<std::string>& lines) {
  std::string content;
  if (!ReadWholeFile(FileSystemPath(path), content)) return false;
  lines = SplitAll(content, "\n");
  if (lines.back().empty()) lines.pop_back();  // the line break of the last line
  for (std::string& line : lines)
    if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

std::string ReadFile(const Items& items) {
  std::vector<std::string> lines;
  bool opened = ReadLines(items[1], lines);
  if (items.size() == 2) {
    std::string all;
    for (const std::string& line : lines) all += line + "\r\n";
    return all;
  }
  if (items[2] == "0") return opened ? ToDecimal(static_cast<int64_t>(lines.size())) : "0";
  int32_t n = LeadingInt(items[2]);
  if (n < 1 || static_cast<size_t>(n) > lines.size()) return std::string();
  return lines[static_cast<size_t>(n) - 1];
}

std::string IndexOf(const Items& items) {
  if (items[2].empty()) return "0";
  size_t at = FindOnBoundary(items[1], items[2], 0);
  return at == std::string::npos ? "-1" : ToDecimal(static_cast<int64_t>(at));
}

std::string LastIndexOf(const Items& items) {
  const std::string& text = items[1];
  if (items[2].empty()) return ToDecimal(static_cast<int64_t>(text.size()));
  return ToDecimal(LastSingleByteIndex(text, items[2][0]));
}

std::string ReplaceText(const Items& items) {
  return ReplaceOnBoundaries(items[1], items[2], items.size() > 3 ? items[3] : std::string());
}

std::string SplitIntoVariables(ScriptRunner& runner, const Items& items) {
  std::vector<std::string> pieces = SplitOnBoundaries(items[1], items[2]);
  for (size_t k = pieces.size(); k-- > 0;)
    runner.variables.Set("_" + ToDecimal(static_cast<int64_t>(k)), pieces[k]);
  return ToDecimal(static_cast<int64_t>(pieces.size()));
}

std::string Substr(ScriptRunner& runner, const Items& items, const CallText& callText) {
  const std::string& text = items[1];
  int32_t start = 0;
  int32_t count = static_cast<int32_t>(std::min<size_t>(text.size(), INT32_MAX));
  bool ok = ReadNumber(items[2], start);
  if (ok && items.size() > 3) ok = ReadNumber(items[3], count);
  if (!ok) {
    ReportError(runner, Msg(MessageId::kNumberException), callText.str());
    start = 0;
    count = static_cast<int32_t>(std::min<size_t>(text.size(), INT32_MAX));
  }
  if (start < 0) start = 0;
  if (count < 0) count = 0;
  if (static_cast<size_t>(start) >= text.size()) return std::string();
  return text.substr(static_cast<size_t>(start), static_cast<size_t>(count));
}

std::string Time(const Items& items) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  unsigned fields[6] = {static_cast<unsigned>(local.tm_year + 1900),
                        static_cast<unsigned>(local.tm_mon + 1),
                        static_cast<unsigned>(local.tm_mday),
                        static_cast<unsigned>(local.tm_hour),
                        static_cast<unsigned>(local.tm_min),
                        static_cast<unsigned>(local.tm_sec)};
  if (items.size() < 2) {
    char text[80];
    std::snprintf(text, sizeof text, "%u-%u-%u %u:%u:%u", fields[0], fields[1], fields[2],
                  fields[3], fields[4], fields[5]);
    return text;
  }
  std::string out = items[1];
  static constexpr const char* kCodes[6] = {"%y", "%m", "%d", "%H", "%M", "%S"};
  for (int k = 0; k < 6; ++k) ReplaceAll(out, kCodes[k], ToDecimal(fields[k]));
  return out;
}

std::string Rand(ScriptRunner& runner, const Items& items, const CallText& callText) {
  int32_t low = 0;
  int32_t high = 0;
  bool ok = items.size() > 2 ? ReadNumber(items[1], low) && ReadNumber(items[2], high)
                             : ReadNumber(items[1], high);
  if (!ok) {
    ReportError(runner, Msg(MessageId::kNumberException), callText.str());
    low = 0;
    high = 10;
  }
  // 64-bit arithmetic: the result stays between the bounds for any range.
  int64_t step = NextRandom(runner) % 1001;
  int64_t result = low + step * (static_cast<int64_t>(high) - low) / 1000;
  return ToDecimal(result);
}

std::string Len(ScriptRunner&, const Items& items, const CallText&) {
  return ToDecimal(static_cast<int64_t>(items[1].size()));
}
std::string IsNull(ScriptRunner&, const Items& items, const CallText&) {
  return items[1].empty() ? "1" : "0";
}
std::string Compare(ScriptRunner&, const Items& items, const CallText&) {
  return items[1] == items[2] ? "1" : "0";
}
std::string LongTime(ScriptRunner&, const Items&, const CallText&) {
  return ToDecimal(static_cast<int64_t>(std::time(nullptr)));
}
std::string RobotId(ScriptRunner& runner, const Items&, const CallText&) {
  return ToDecimal(runner.id);
}
std::string ScreenWidth(ScriptRunner& runner, const Items&, const CallText&) {
  return ToDecimal(runner.ui ? runner.ui->ScreenWidth() : 0);
}
std::string ScreenHeight(ScriptRunner& runner, const Items&, const CallText&) {
  return ToDecimal(runner.ui ? runner.ui->ScreenHeight() : 0);
}
// Adapters for the functions that need less than the whole call.
template <std::string (*F)(const Items&)>
std::string OnItems(ScriptRunner&, const Items& items, const CallText&) {
  return F(items);
}
template <std::string (*F)(ScriptRunner&, const Items&)>
std::string OnRunner(ScriptRunner& runner, const Items& items, const CallText&) {
  return F(runner, items);
}
template <std::string (*F)(std::string_view)>
std::string OnFirst(ScriptRunner&, const Items& items, const CallText&) {
  return F(items[1]);
}
std::string UserPath(ScriptRunner&, const Items&, const CallText&) { return ProgramDirText(); }

using BuiltinFunction = std::string (*)(ScriptRunner& runner, const Items& items,
                                        const CallText& callText);

struct Builtin {
  const char* name;
  size_t minimum;           // items, the name included
  size_t maximum;           // 0: no limit
  const char* tooFew;       // the result when there are fewer (or more than the maximum)
  BuiltinFunction function;
};

// In the order in which names are tried.
constexpr Builtin kBuiltins[] = {
#define QP_BUILTIN(name, minimum, maximum, tooFew, function) \
  {name, minimum, maximum, tooFew, &function},
#include "compiler/builtin_names.def"
#undef QP_BUILTIN
};

}  // namespace

int32_t NextRandom(ScriptRunner& runner) {
  // The classic C library generator, so that a seed gives the sequence that
  // scripts saw on their home platform.
  runner.randomState = runner.randomState * 214013u + 2531011u;
  return static_cast<int32_t>((runner.randomState >> 16) & 0x7FFF);
}

namespace {

std::string Call(ScriptRunner& runner, const Items& items, const CallText& callText) {
  std::string name = AsciiLower(Trim(items[0]));
  for (const Builtin& builtin : kBuiltins) {
    if (name != builtin.name) continue;
    if (items.size() < builtin.minimum || (builtin.maximum && items.size() > builtin.maximum)) {
      ReportError(runner, Msg(MessageId::kFormatError), callText.str());
      return builtin.tooFew;
    }
    return builtin.function(runner, items, callText);
  }
  return std::string();
}

}  // namespace

std::string CallBuiltin(ScriptRunner& runner, const std::vector<std::string>& items,
                        const std::string& callText) {
  return Call(runner, items, CallText(&callText, items));
}

std::string CallBuiltin(ScriptRunner& runner, const std::vector<std::string>& items) {
  return Call(runner, items, CallText(nullptr, items));
}

std::string CallBuiltin(ScriptRunner& runner, const std::string& callText) {
  return CallBuiltin(runner, SplitAll(callText, kCallItemSeparator), callText);
}

}  // namespace qp
