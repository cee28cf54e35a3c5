// Test helpers for writes that fail part-way: a small file system that is
// full after a few KiB (a tmpfs, where this process may mount one), and the
// file-size limit of a child process, which makes a write fail the same way
// on any machine. Header-only, for every test folder.
#pragma once

#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

namespace qp::testing {

// A tmpfs of `kib` KiB mounted on a fresh folder, unmounted at the end of
// the scope. mounted() is false where mounting is not allowed.
class SmallDisk {
 public:
  explicit SmallDisk(int kib = 64) {
    std::string pattern = (std::filesystem::temp_directory_path() / "qp-disk-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return;
    dir_ = pattern;
    std::string options = "size=" + std::to_string(kib) + "k";
    mounted_ = mount("tmpfs", dir_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
  }
  ~SmallDisk() {
    if (mounted_) umount2(dir_.c_str(), MNT_DETACH);
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
  }
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;

  bool mounted() const { return mounted_; }
  const std::string& dir() const { return dir_; }
  std::string File(const std::string& name) const { return dir_ + "/" + name; }

 private:
  std::string dir_;
  bool mounted_ = false;
};

// Runs `body` in a child process whose files cannot grow past `bytes` (a
// write beyond fails with EFBIG instead of raising SIGXFSZ) and returns the
// child's exit code, or -1 when it did not exit normally.
inline int RunWithFileSizeLimit(size_t bytes, const std::function<int()>& body) {
  pid_t child = fork();
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit = {bytes, bytes};
    setrlimit(RLIMIT_FSIZE, &limit);
    _exit(body());
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace qp::testing
