// The multipart upload of HttpSession: boundary, parts and the body bytes.
#include <cstdio>
#include <ctime>

#include "net/http_session.h"
#include "net/mime_types.h"
#include "support/files.h"
#include "support/md5.h"
#include "support/text.h"

namespace qp {
namespace {

std::string FilePartHeader(const std::string& boundary, const UploadFile& file) {
  return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + file.fieldName +
         "\"; filename=\"" + file.fileName + "\"\r\nContent-Type: " + file.contentType +
         "\r\n\r\n";
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
  std::string part = "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name +
                     "\"\r\n\r\n" + value;
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
  uploadFiles.push_back(std::move(file));
}

// Text parts first, then the files from the last added to the first, then
// the closing boundary. The Content-Length counts exactly those bytes.
void HttpSession::SendMultipartBody() {
  std::string closing = "--" + boundary + "--\r\n";
  size_t length = uploadText.size() + 2 + closing.size();
  for (const UploadFile& file : uploadFiles) {
    if (!file.data.empty()) length += FilePartHeader(boundary, file).size() + file.data.size() + 2;
  }
  SendText("Content-Length: " + ToDecimal(static_cast<int64_t>(length)) + "\r\n");
  SendConnectionAndHost();
  SendText("Content-Type: multipart/form-data; boundary=" + boundary + "\r\n");
  SendText("\r\n");
  SendText(uploadText);
  SendText("\r\n");
  for (auto file = uploadFiles.rbegin(); file != uploadFiles.rend(); ++file) {
    if (file->data.empty()) continue;
    SendText(FilePartHeader(boundary, *file));
    SendText(file->data);
    SendText("\r\n");
  }
  uploadFiles.clear();
  SendText(closing);
  uploadText.clear();
  boundary.clear();
}

}  // namespace qp
