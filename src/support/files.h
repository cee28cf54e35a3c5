// Files and their names. Script values are bytes in the active code page;
// Linux file names are UTF-8. Every path goes from a script value to the file
// system through FileSystemPath, and every path read from the file system
// becomes a script value through ScriptPath. In a UTF-8 home both leave the
// bytes as they are (apart from the "\" separators).
#pragma once

#include <string>
#include <string_view>

namespace qp {

// A script's path as the file system names it: "\" separators become "/"
// (on character boundaries), then the text goes from the code page to UTF-8.
// Bytes that form no character of the code page cannot name a file the user
// could have made; they are reported on standard error once per path and
// become "?". So does a NUL byte, which no file name can hold (the system
// would read the name only up to it, which names another file).
std::string FileSystemPath(std::string_view scriptPath);

// A file-system path (UTF-8) as a script value in the code page. A character
// the code page cannot hold is reported on standard error once per path and
// becomes "?": the value then names no file, and the report says why.
std::string ScriptPath(std::string_view fileSystemPath);

// The whole content of a regular file; false (content empty) when the path
// cannot be opened or read, or names a folder, a device or a pipe. A path
// that holds a NUL byte names no file (the system would read it only up to
// that byte, which names another). Never throws and never blocks on a pipe.
bool ReadWholeFile(const std::string& fileSystemPath, std::string& content);

// Whether ReadWholeFile could open the path (a regular file, readable),
// without reading it.
bool IsReadableFile(const std::string& fileSystemPath);

}  // namespace qp
