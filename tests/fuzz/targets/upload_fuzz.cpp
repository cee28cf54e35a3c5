// Multipart upload bodies: the parts a script adds (`uploadtext`,
// `uploadfile`) built into the body that the next request sends. Input:
// NUL-separated pairs, a field name and a value; a name that starts with "@"
// adds a file part whose file holds the value (an empty value: a file that
// does not exist), named with the extension that ends the field name. The
// body must read back, as a server parses it, into exactly those parts.
#include <cstdio>

#include "support/files.h"
#include "fuzz_support.h"
#include "net/http_session.h"
#include "net/mime_types.h"
#include "net/multipart.h"
#include "support/text.h"

namespace {

struct Part {
  std::string name;
  std::string fileName;  // empty for a text part
  std::string contentType;
  std::string data;
};

// The extension of a field name, kept to letters and digits so that it can
// name a file.
std::string Extension(std::string_view name) {
  size_t dot = name.rfind('.');
  std::string extension;
  if (dot == std::string_view::npos) return extension;
  for (char c : name.substr(dot + 1))
    if (std::isalnum(static_cast<unsigned char>(c))) extension += c;
  return extension;
}

// A name as a part header holds it: LF, CR and '"' written as %0A, %0D, %22.
std::string Quoted(std::string_view name) {
  std::string quoted;
  for (char c : name) quoted += c == '\n' ? "%0A" : c == '\r' ? "%0D" : c == '"' ? "%22" : std::string(1, c);
  return quoted;
}

// Reads `key="value"` at `at` of a header line (a value holds no quote),
// moving `at` past it; "\x01" when it is not there.
std::string Parameter(std::string_view header, std::string_view key, size_t& at) {
  if (at > header.size() || header.substr(at, key.size() + 2) != std::string(key) + "=\"")
    return "\x01";
  const size_t start = at + key.size() + 2;
  const size_t close = header.find('"', start);
  if (close == std::string_view::npos) return "\x01";
  at = close + 1;
  return std::string(header.substr(start, close - start));
}

// Reads the parts of `body` as a multipart parser does: a delimiter line
// "--boundary", the header lines, an empty line, the content up to the CR LF
// before the next delimiter; "--boundary--" ends the body.
std::vector<Part> ReadBack(const std::string& body, const std::string& boundary) {
  const std::string delimiter = "--" + boundary;
  std::vector<Part> parts;
  size_t at = 0;
  if (body.compare(0, delimiter.size(), delimiter) != 0) {
    at = body.find("\r\n" + delimiter);  // after a preamble
    QP_FUZZ_CHECK(at != std::string::npos);
    at += 2;
  }
  for (;;) {
    at += delimiter.size();
    if (body.compare(at, 4, "--\r\n") == 0) {
      QP_FUZZ_CHECK(at + 4 == body.size());
      return parts;
    }
    QP_FUZZ_CHECK(body.compare(at, 2, "\r\n") == 0);
    size_t headersEnd = body.find("\r\n\r\n", at);
    QP_FUZZ_CHECK(headersEnd != std::string::npos);
    std::vector<std::string> headers = qp::SplitAll(std::string_view(body).substr(at + 2, headersEnd - at - 2), "\r\n");
    size_t next = body.find("\r\n" + delimiter, headersEnd + 4);
    QP_FUZZ_CHECK(next != std::string::npos);
    Part part;
    part.data = body.substr(headersEnd + 4, next - headersEnd - 4);
    QP_FUZZ_CHECK(headers.size() == 1 || headers.size() == 2);
    const std::string_view disposition = headers[0];
    size_t field = 32;  // after "Content-Disposition: form-data; "
    QP_FUZZ_CHECK(disposition.substr(0, field) == "Content-Disposition: form-data; ");
    part.name = Parameter(disposition, "name", field);
    if (headers.size() == 2) {
      QP_FUZZ_CHECK(field + 2 <= disposition.size() && disposition.substr(field, 2) == "; ");
      field += 2;
      part.fileName = Parameter(disposition, "filename", field);
      QP_FUZZ_CHECK(headers[1].rfind("Content-Type: ", 0) == 0);
      part.contentType = headers[1].substr(14);
    }
    QP_FUZZ_CHECK(field == disposition.size());
    parts.push_back(std::move(part));
    at = next + 2;
  }
}

}  // namespace

int qp_fuzz_upload(const uint8_t* data, size_t size) {
  std::string_view input = qp::fuzz::AsText(data, size);
  static const std::string dir = qp::fuzz::FreshDir("upload");
  qp::HttpSession session;
  session.BeginUpload();
  std::vector<Part> texts, files;
  std::vector<std::string> written;
  for (size_t k = 0; !input.empty(); ++k) {
    const std::vector<std::string_view> pair = qp::fuzz::SplitFields(input, 3);
    const std::string name(pair[0]);
    const std::string value(pair[1]);
    input = pair[2];
    if (name.empty() || name[0] != '@') {
      session.AddUploadText(name, value);
      texts.push_back({name, "", "", value});
      continue;
    }
    const std::string path = dir + "/part" + std::to_string(k) + "." + Extension(name);
    if (!value.empty()) {  // else a file that does not exist
      // The upload reads the file by its file-system name.
      const std::string onDisk = qp::FileSystemPath(path);
      qp::fuzz::PutFile(onDisk, value);
      written.push_back(onDisk);
    }
    session.AddUploadFile(name.substr(1), path);
    files.push_back({name.substr(1), path, qp::LookupMimeType(qp::AsciiLower(Extension(name))), value});
  }

  std::string body;
  qp::WriteMultipartBody(session.boundary, session.uploadText, session.uploadFiles,
                         [&](std::string_view piece) { body.append(piece); });
  const std::vector<Part> parts = ReadBack(body, session.boundary);
  for (const std::string& path : written) std::remove(path.c_str());

  // The text parts in the order added, then the files with data, last first.
  std::vector<Part> expected = texts;
  for (auto file = files.rbegin(); file != files.rend(); ++file)
    if (!file->data.empty()) expected.push_back(*file);
  QP_FUZZ_CHECK(parts.size() == expected.size());
  for (size_t i = 0; i < parts.size() && i < expected.size(); ++i) {
    QP_FUZZ_CHECK(parts[i].name == Quoted(expected[i].name));
    QP_FUZZ_CHECK(parts[i].fileName == Quoted(expected[i].fileName));
    QP_FUZZ_CHECK(parts[i].contentType == expected[i].contentType);
    QP_FUZZ_CHECK(parts[i].data == expected[i].data);
  }
  return 0;
}
