// HttpSession: the HTTP client state of one running script, owned by its
// ScriptRunner and used only by the script thread. It holds what the HTTP
// commands configure (referer, language, encoding, user agent, proxy,
// time-outs, form data, upload parts, save-to file, cookies) and what the
// last request produced (response head and body).
//
// One request is one connection: HTTP/1.0, "Connection: close", read until
// the server closes. There is no keep-alive, no redirect following and no
// status handling. A chunked body is de-chunked and a gzip or deflate body
// inflated before it reaches the script or the save-to file; the head stays
// as received. The response is read by a ResponseReader from the
// connection's SocketStream; a save-to file is written beside its target and
// renamed into place only once complete.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/cookie_jar.h"
#include "net/response_reader.h"
#include "net/socket_stream.h"

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;
typedef struct ssl_session_st SSL_SESSION;

namespace qp {

// One file part of a pending multipart upload.
struct UploadFile {
  std::string fieldName;    // form field name of the part
  std::string fileName;     // the path as the script gave it; sent as filename
  std::string contentType;  // from the extension; may be empty
  std::string data;         // the whole file; empty when it could not be read
};

// The bounds of every request, from Config.ini; 0 in either means none.
inline constexpr uint32_t kDefaultRequestTimeoutSeconds = 300;
inline constexpr uint32_t kDefaultBodyLimitMiB = 1024;
struct RequestBounds {
  uint32_t timeoutSeconds = kDefaultRequestTimeoutSeconds;
  uint32_t bodyLimitMiB = kDefaultBodyLimitMiB;
};
RequestBounds ReadRequestBounds();

inline constexpr char kDefaultUserAgent[] =
    "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.2; SV1; .NET CLR 1.1.4322; "
    "InfoPath.2; .NET CLR 2.0.50727; MAXTHON 2.0)";

class HttpSession {
 public:
  HttpSession();
  ~HttpSession();
  HttpSession(const HttpSession&) = delete;
  HttpSession& operator=(const HttpSession&) = delete;

  // The whole exchange: parse, connect, send, read. False when the URL's
  // scheme is not http/https or the connection (or TLS set-up) fails, and
  // the previous response then stays in place; false too when the response
  // broke a bound (ReadResponse). Config.ini bounds every request:
  // "requesttimeout" (seconds for the whole exchange) and "bodylimit" (MiB
  // of a body held in memory); ReadRequestBounds reads them.
  bool Request(const std::string& url, bool isPost);

  // Form body of the next POST: "name=value" pairs joined by "&".
  void AddPostField(const std::string& name, const std::string& value);

  // Multipart upload: BeginUpload makes a new boundary and drops pending
  // parts; the next request (whatever its method) sends the parts.
  void BeginUpload();
  void AddUploadText(const std::string& name, const std::string& value);
  void AddUploadFile(const std::string& name, const std::string& path);

  void SetReferer(std::string text) { referer = std::move(text); }
  void SetLanguage(std::string text) { language = std::move(text); }
  void SetEncoding(std::string text) { encoding = std::move(text); }
  void SetUserAgent(std::string text) { userAgent = std::move(text); }
  void SetProxyHost(std::string text) { proxyHost = std::move(text); }
  void SetSaveTo(std::string text) { saveToFile = std::move(text); }
  const std::string& ResponseHead() const { return responseHead; }
  const std::string& ResponseBody() const { return responseBody; }

  // Configuration, kept across requests until a command changes it.
  std::string referer;                 // next Referer; then each request's URL
  std::string language = "zh-cn";      // Accept-Language, always sent
  std::string encoding;                // Accept-Encoding; empty: not sent
  std::string userAgent = kDefaultUserAgent;
  std::string proxyHost;               // dotted IPv4 address; empty: direct
  int32_t proxyPort = 80;
  uint32_t receiveTimeout = 0;         // milliseconds; 0: wait indefinitely
  uint32_t sendTimeout = 0;
  std::string postData;                // url-encoded form of the next POST
  std::string saveToFile;              // next body goes to this file
  std::string boundary;                // not empty: an upload is pending
  std::string uploadText;              // the formatted text parts
  std::vector<UploadFile> uploadFiles;  // the file parts, in the order added
  CookieJar cookies;

  // The last response: status line and headers with their line ends and the
  // closing blank line; the body (empty when it went to a file).
  std::string responseHead;
  std::string responseBody;

  // The last parsed URL.
  std::string url;
  std::string scheme;
  std::string host;
  std::string path;
  int32_t port = 80;
  bool secure = false;

  // The steps of Request, public for tests of the wire format.
  bool ParseUrl();
  bool Connect();
  void SendRequest(bool isPost);
  // False when the response broke a bound (head size, body size, the
  // deadline); its head (when complete) stays, its body does not.
  bool ReadResponse();

  // The body of the last response, taken out of the session (which then
  // holds none), so that a script's variable can hold it without a copy.
  std::string TakeResponseBody() { return std::move(responseBody); }
  // Whether the last Request read a response (even one that broke a bound);
  // false when it failed before, and the previous response is still in place.
  bool responseRead() const { return responseRead_; }

 private:
  bool SetSocketOptions();
  bool ResolvePeer(void* address);
  bool WaitConnected();
  bool StartTls();
  void SendText(std::string_view text);
  void SendBytes(const char* data, size_t length);
  void FlushOutput();
  ResponseEnd ReadBodyToFile(ResponseReader& reader);
  void Report(ResponseEnd end) const;
  void KeepTlsSession();
  std::string TlsSessionKey() const;
  void Close();
  void SendConnectionAndHost();
  void SendUrlEncodedBody(const std::string& body);
  void SendMultipartBody();
  void ReleaseConnection();

  int socket_ = -1;
  SSL_CTX* tlsContext_ = nullptr;  // shared by the process, not owned
  SSL* tlsConnection_ = nullptr;
  // The last TLS session of each host, offered again on the next connection
  // to it so that the server may resume it instead of a full handshake.
  std::map<std::string, SSL_SESSION*> tlsSessions_;
  // Every wait of the current request ends at this point.
  std::chrono::steady_clock::time_point deadline_ = std::chrono::steady_clock::time_point::max();
  ResponseLimits limits_;
  bool responseRead_ = false;
  uint32_t requestTimeoutSeconds_ = 0;
  // The bounds from Config.ini, read at the session's first request rather
  // than parsing the file again for every request.
  std::optional<RequestBounds> bounds_;
  SocketStream stream_;
  // Writes are gathered and sent in large pieces (the bytes on the wire are
  // the same).
  std::string output_;
};

}  // namespace qp
