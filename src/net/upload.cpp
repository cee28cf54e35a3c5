// The multipart upload of HttpSession: boundary, parts and the body bytes.
#include <cstdio>
#include <ctime>
#include <initializer_list>

#include "net/http_session.h"
#include "net/multipart.h"
#include "net/mime_types.h"
#include "support/files.h"
#include "support/md5.h"
#include "support/text.h"

namespace qp {
namespace {

// A field or file name as it stands between the quotes of a part header:
// LF, CR and '"' become %0A, %0D and %22, as browsers write them, so that no
// name can close the quotes or end the header line early.
std::string QuotedName(std::string_view name) {
  std::string quoted;
  quoted.reserve(name.size());
  for (char c : name) {
    if (c == '\n') quoted += "%0A";
    else if (c == '\r') quoted += "%0D";
    else if (c == '"') quoted += "%22";
    else quoted += c;
  }
  return quoted;
}

std::string FilePartHeader(const std::string& boundary, const UploadFile& file) {
  return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" +
         QuotedName(file.fieldName) + "\"; filename=\"" + QuotedName(file.fileName) +
         "\"\r\nContent-Type: " + file.contentType + "\r\n\r\n";
}

size_t CountOf(std::string_view text, std::string_view needle) {
  size_t count = 0;
  for (size_t at = text.find(needle); at != std::string_view::npos; at = text.find(needle, at + 1))
    ++count;
  return count;
}

// Another boundary of the same form, derived from the last one.
std::string NextBoundary(const std::string& boundary) {
  std::string digest;
  CMD5Crypt().DigestHex(boundary, digest);
  return std::string(27, '-') + digest.substr(0, 10);
}

// No content of a part may hold "--" and the boundary: the server would read
// a new part there. The boundary is made from the time, so content can hold
// it (a fuzzer found one that did). When the pieces of a part about to be
// added hold it, the upload takes another boundary that neither they nor
// any earlier part holds, and the text parts already formatted are written
// with it (they held the old one only as delimiters, or it would have
// changed before). Only the new pieces are searched for the current
// boundary: every earlier part was searched when it was added, and again
// whenever the boundary changed, so an upload of many files reads each one
// once rather than once per later part.
void KeepBoundaryOut(std::initializer_list<std::string_view> pieces, std::string& boundary,
                     std::string& uploadText, const std::vector<UploadFile>& files) {
  auto piecesHold = [&](const std::string& delimiter) {
    for (std::string_view piece : pieces)
      if (piece.find(delimiter) != std::string_view::npos) return true;
    return false;
  };
  auto filesHold = [&](const std::string& delimiter) {
    for (const UploadFile& file : files) {
      if (file.fieldName.find(delimiter) != std::string::npos ||
          file.fileName.find(delimiter) != std::string::npos ||
          file.data.find(delimiter) != std::string::npos)
        return true;
    }
    return false;
  };
  if (boundary.empty() || !piecesHold("--" + boundary)) return;
  const size_t delimiters = CountOf(uploadText, "--" + boundary);
  for (std::string next = NextBoundary(boundary);; next = NextBoundary(next)) {
    const std::string delimiter = "--" + next;
    if (piecesHold(delimiter) || filesHold(delimiter)) continue;
    std::string text = uploadText;
    ReplaceAll(text, "--" + boundary, delimiter);
    if (CountOf(text, delimiter) != delimiters) continue;
    boundary = std::move(next);
    uploadText = std::move(text);
    return;
  }
}

}  // namespace

// The boundary is 27 hyphens and ten hex digits of the MD5 of the local time.
void HttpSession::BeginUpload() {
  time_t now = time(nullptr);
  tm local;
  localtime_r(&now, &local);
  char stamp[80];
  std::snprintf(stamp, sizeof stamp, "%u-%u-%u %u:%u:%u", local.tm_year + 1900u,
                local.tm_mon + 1u, static_cast<unsigned>(local.tm_mday),
                static_cast<unsigned>(local.tm_hour), static_cast<unsigned>(local.tm_min),
                static_cast<unsigned>(local.tm_sec));
  std::string digest;
  CMD5Crypt().DigestHex(stamp, digest);
  boundary = std::string(27, '-') + digest.substr(0, 10);
  uploadText.clear();
  uploadFiles.clear();
}

void HttpSession::AddUploadText(const std::string& name, const std::string& value) {
  KeepBoundaryOut({name, value}, boundary, uploadText, uploadFiles);
  std::string part = "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" +
                     QuotedName(name) + "\"\r\n\r\n" + value;
  if (!uploadText.empty()) part.insert(0, "\r\n");
  uploadText += part;
}

// A file that cannot be read is kept with no data and later left out of the
// body. The part names the file as the script wrote it (in its code page);
// the file system is asked for its UTF-8 name.
void HttpSession::AddUploadFile(const std::string& name, const std::string& filePath) {
  UploadFile file;
  file.fieldName = name;
  file.fileName = filePath;
  if (!ReadWholeFile(FileSystemPath(filePath), file.data)) file.data.clear();
  size_t dot = filePath.rfind('.');
  std::string extension = dot == std::string::npos ? filePath : filePath.substr(dot + 1);
  file.contentType = LookupMimeType(AsciiLower(extension));
  KeepBoundaryOut({file.fieldName, file.fileName, file.data}, boundary, uploadText, uploadFiles);
  uploadFiles.push_back(std::move(file));
}

void WriteMultipartBody(const std::string& boundary, const std::string& uploadText,
                        const std::vector<UploadFile>& files,
                        const std::function<void(std::string_view)>& sink) {
  sink(uploadText);
  sink("\r\n");
  for (auto file = files.rbegin(); file != files.rend(); ++file) {
    if (file->data.empty()) continue;
    sink(FilePartHeader(boundary, *file));
    sink(file->data);
    sink("\r\n");
  }
  sink("--" + boundary + "--\r\n");
}

// The Content-Length counts exactly the bytes of the body.
void HttpSession::SendMultipartBody() {
  size_t length = 0;
  WriteMultipartBody(boundary, uploadText, uploadFiles,
                     [&](std::string_view piece) { length += piece.size(); });
  SendText("Content-Length: " + ToDecimal(static_cast<int64_t>(length)) + "\r\n");
  SendConnectionAndHost();
  SendText("Content-Type: multipart/form-data; boundary=" + boundary + "\r\n");
  SendText("\r\n");
  WriteMultipartBody(boundary, uploadText, uploadFiles,
                     [this](std::string_view piece) { SendText(piece); });
  uploadFiles.clear();
  uploadText.clear();
  boundary.clear();
}

}  // namespace qp
