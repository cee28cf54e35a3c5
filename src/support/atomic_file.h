// Whole-file replacement that never leaves a half-written file: the content
// goes to a temporary file beside the target, which is renamed over it only
// once every byte is written and the file is closed. A failure (a full disk,
// a missing folder) removes the temporary file and leaves the target as it
// was.
//
// A symbolic link is kept: the file it names is replaced. A target that is
// no regular file (a device, a pipe) cannot be replaced and is written in
// place.
//
// Temporary files are named "<name>.qptmp.<pid>.<6 characters>" beside the
// target. One left behind by a process that was killed is an orphan: its
// process is gone, or the process that now has that pid started after the
// file was last written. Every replacement of a file first removes the
// orphans of that file, and the program removes those of its own folders at
// its start (RemoveOrphanedTemporariesIn).
//
// Failures return false with errno saying why (the first failure's errno,
// kept through the clean-up).
#pragma once

#include <string>
#include <string_view>

#include "support/files.h"  // ReadWholeFile

namespace qp {

// Writes `content` as the new content of `path`. `mode` applies to a new
// file only (an existing target keeps its permissions). With `sync` the data
// reaches the disk before the rename, so that a crash of the system either
// keeps the old file or shows the whole new one.
bool ReplaceFileAtomically(const std::string& path, std::string_view content,
                           unsigned mode = 0666, bool sync = true);

// A replacement written piece by piece, for content that arrives as it is
// made (a download). Nothing is visible at `path` until Commit succeeds; an
// object destroyed without a successful Commit removes its temporary file.
class AtomicFileWriter {
 public:
  AtomicFileWriter() = default;
  ~AtomicFileWriter();
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

  // Creates the temporary file beside `path` (after removing the orphans of
  // `path`). False when it cannot be created.
  bool Open(const std::string& path, unsigned mode = 0666);
  // Appends bytes. False once any write has failed; later writes then do
  // nothing and Commit fails.
  bool Write(std::string_view bytes);
  // The temporary file's descriptor, for writers that move data into it
  // themselves (a kernel copy); they report a failed write with Fail.
  int fd() const { return fd_; }
  void Fail(int error);
  bool failed() const { return error_ != 0; }
  // Closes the file and renames it over the target; false (temporary file
  // removed, target unchanged) when anything failed. `sync` as above.
  bool Commit(bool sync = false);
  // Removes the temporary file; the target is unchanged.
  void Abandon();

 private:
  std::string path_;
  std::string temp_;
  unsigned mode_ = 0666;
  int fd_ = -1;
  int error_ = 0;
};

// Removes the orphaned temporary files of `path` (see above).
void RemoveOrphanedTemporaries(const std::string& path);
// Removes every orphaned temporary file directly inside folder `dir`.
void RemoveOrphanedTemporariesIn(const std::string& dir);

// The name of the temporary file of `path` for process `pid` without its
// last six characters (for tests): "<dir>/<name>.qptmp.<pid>.".
std::string TemporaryPrefix(const std::string& path, long pid);

}  // namespace qp
