// What the fuzz targets share: the input cut into fields, a scratch folder of
// the process for the files an input needs, a check that fails loudly, and
// the confinement of file access while script code of an input runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qp::fuzz {

inline std::string_view AsText(const uint8_t* data, size_t size) {
  return std::string_view(reinterpret_cast<const char*>(data), size);
}

// Cuts the input at NUL bytes into at most `count` fields; the last field
// keeps the rest, NUL bytes included. Missing fields are empty.
std::vector<std::string_view> SplitFields(std::string_view input, size_t count);

// Lines of `text` cut at LF (a CR before it stays), the last one included
// even when no LF ends it.
std::vector<std::string_view> SplitLines(std::string_view text);

// A folder of this process under $TMPDIR (else /tmp), made on first use and
// removed at normal exit.
const std::string& ScratchDir();
// ScratchDir()/name, emptied: the place for the files of one input.
std::string FreshDir(const std::string& name);
// Writes `content` to `path`, replacing it; aborts when that fails (the
// target could not test what it means to).
void PutFile(const std::string& path, std::string_view content);

// An invariant of the code under test that does not hold: says which and
// aborts, which libFuzzer and the replay test report as a failure.
[[noreturn]] void CheckFailed(const char* condition, const char* file, int line);
#define QP_FUZZ_CHECK(condition) \
  ((condition) ? (void)0 : ::qp::fuzz::CheckFailed(#condition, __FILE__, __LINE__))

// While one lives, every path that a script names reaches the file system
// inside `root` only: qp::FileSystemPath, which every script path passes
// through, is wrapped at link time (CMakeLists.txt) and then gives
// root/<the whole path as one file name>. For targets whose input is script
// code: a script may name any file, and a fuzzer must not write over the
// machine. The constructor checks that the wrapper is in place.
class FileConfinement {
 public:
  explicit FileConfinement(const std::string& root);
  ~FileConfinement();
  FileConfinement(const FileConfinement&) = delete;
  FileConfinement& operator=(const FileConfinement&) = delete;
};

}  // namespace qp::fuzz
