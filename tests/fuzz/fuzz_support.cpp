#include "fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "support/files.h"

namespace qp::fuzz {
namespace {

std::string g_confinedRoot;  // empty: paths pass unchanged

void RemoveScratch();

std::string MakeScratch() {
  const char* tmp = std::getenv("TMPDIR");
  std::string base = tmp && tmp[0] == '/' ? tmp : "/tmp";
  std::string dir = base + "/qp_fuzz_" + std::to_string(getpid());
  std::error_code error;
  std::filesystem::remove_all(dir, error);
  if (!std::filesystem::create_directories(dir, error)) {
    std::fprintf(stderr, "fuzz: cannot make the scratch folder %s\n", dir.c_str());
    std::abort();
  }
  std::atexit(RemoveScratch);
  return dir;
}

void RemoveScratch() {
  std::error_code error;
  std::filesystem::remove_all(ScratchDir(), error);
}

// The path as one file name: "/" and "%" escaped, and never "." or "..".
std::string OneName(std::string_view path) {
  std::string name = "p";
  for (char c : path) {
    if (c == '/') name += "%2F";
    else if (c == '%') name += "%25";
    else name += c;
  }
  return name;
}

}  // namespace

std::vector<std::string_view> SplitFields(std::string_view input, size_t count) {
  std::vector<std::string_view> fields;
  while (fields.size() + 1 < count) {
    size_t nul = input.find('\0');
    if (nul == std::string_view::npos) break;
    fields.push_back(input.substr(0, nul));
    input.remove_prefix(nul + 1);
  }
  fields.push_back(input);
  fields.resize(count);
  return fields;
}

std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  for (;;) {
    size_t lf = text.find('\n');
    lines.push_back(text.substr(0, lf));
    if (lf == std::string_view::npos) return lines;
    text.remove_prefix(lf + 1);
  }
}

const std::string& ScratchDir() {
  // Never destroyed, so that the exit handler that removes the folder can
  // still read its name.
  static const std::string* dir = new std::string(MakeScratch());
  return *dir;
}

std::string FreshDir(const std::string& name) {
  std::string dir = ScratchDir() + "/" + name;
  std::error_code error;
  std::filesystem::remove_all(dir, error);
  std::filesystem::create_directories(dir, error);
  if (error) {
    std::fprintf(stderr, "fuzz: cannot make %s: %s\n", dir.c_str(), error.message().c_str());
    std::abort();
  }
  return dir;
}

void PutFile(const std::string& path, std::string_view content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "fuzz: cannot write %s\n", path.c_str());
    std::abort();
  }
}

void CheckFailed(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "fuzz: %s:%d: check failed: %s\n", file, line, condition);
  std::abort();
}

}  // namespace qp::fuzz

// The wrapper and the original of qp::FileSystemPath, by their link names.
std::string QpRealFileSystemPath(std::string_view scriptPath) __asm__("__real_" QP_FUZZ_PATH_SYMBOL);
std::string QpConfinedFileSystemPath(std::string_view scriptPath)
    __asm__("__wrap_" QP_FUZZ_PATH_SYMBOL);

std::string QpConfinedFileSystemPath(std::string_view scriptPath) {
  std::string path = QpRealFileSystemPath(scriptPath);
  if (qp::fuzz::g_confinedRoot.empty()) return path;
  return qp::fuzz::g_confinedRoot + "/" + qp::fuzz::OneName(path);
}

namespace qp::fuzz {

FileConfinement::FileConfinement(const std::string& root) {
  g_confinedRoot = root;
  // Without the link-time wrapper the confinement would silently be off.
  std::string probe = qp::FileSystemPath("/probe");
  QP_FUZZ_CHECK(probe.compare(0, root.size() + 1, root + "/") == 0);
}

FileConfinement::~FileConfinement() { g_confinedRoot.clear(); }

}  // namespace qp::fuzz
