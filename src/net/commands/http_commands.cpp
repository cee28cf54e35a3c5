#include "net/commands/http_commands.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "engine/script_runner.h"
#include "engine/substitution.h"
#include "net/cookie_store.h"
#include "net/http_session.h"
#include "net/page_charset.h"
#include "support/codepage.h"
#include "support/files.h"
#include "support/messages.h"
#include "support/settings.h"
#include "support/text.h"
#include "support/url_encode.h"

namespace qp {
namespace {

// The expiry given to every cookie saved to the per-user store.
constexpr char kStoreExpiry[] = "Sat, 01-Jan-3000 00:00:00 GMT";

// A millisecond count from a script; negative numbers mean the default.
uint32_t Milliseconds(std::string_view text) {
  return static_cast<uint32_t>(std::max<int32_t>(LeadingInt(text), 0));
}

// get and post: the outcome, head and body become "status", "http_head" and
// "http_body"; a page that declares its charset is converted into the active
// code page. A request that failed before reading a response leaves
// "http_body" as it was (the previous page). The form and the save-to file
// apply to one request only.
void RunPageRequest(ScriptRunner& runner, const std::string& url, bool isPost) {
  HttpSession& http = *runner.http;
  bool ok = http.Request(url, isPost);
  runner.variables.Set("status", ok ? "1" : "0");
  runner.variables.Set("http_head", http.ResponseHead());
  const std::string& head = runner.variables.Get("http_head");
  // The body moves into the variable, converted or not: it is held once,
  // plus a converted copy while the conversion runs.
  if (http.responseRead()) {
    runner.variables.Set("http_body", PageTextInCodePage(head, http.TakeResponseBody()));
  }
  if (isPost) http.postData.clear();
  http.SetSaveTo(std::string());
}

// captcha: "<extension> <url>" downloads the image to
// Temp/captcha_<script id>.<extension>. The outcome is not reported; the
// script shows the image with prompt.
void RunCaptcha(ScriptRunner& runner, const std::string& operand) {
  SplitResult parts = Split(operand);
  if (!parts.found) {
    ReportError(runner, Msg(MessageId::kFormatError), operand);
    return;
  }
  std::string file = ProgramPath("Temp/captcha_" + ToDecimal(runner.id) + "." + parts.first);
  runner.http->SetSaveTo(file);
  runner.http->Request(parts.rest, false);
  runner.http->SetSaveTo(std::string());
}

void RunProxy(HttpSession& http, const std::string& operand) {
  SplitResult parts = Split(operand);
  if (parts.found && !parts.first.empty()) {
    http.SetProxyHost(TrimCopy(parts.first));
    http.proxyPort = LeadingInt(Trim(parts.rest));
  } else {
    http.SetProxyHost(std::string());
    http.proxyPort = 80;
  }
}

void RunTimeout(HttpSession& http, const std::string& operand) {
  SplitResult parts = Split(operand);
  if (parts.found && !parts.first.empty()) {
    http.receiveTimeout = Milliseconds(parts.first);
    http.sendTimeout = Milliseconds(parts.rest);
  } else {
    http.receiveTimeout = 0;
    http.sendTimeout = 0;
  }
}

// setcookies splits before substituting, so a value may hold blanks that a
// reference brings in.
void RunSetCookie(ScriptRunner& runner, const std::string& operand) {
  SplitResult parts = Split(operand);
  if (!parts.found) return;
  std::string name = Expanded(runner, parts.first);
  runner.http->cookies.SetByScript(name, Expanded(runner, parts.rest));
}

// getcookies "[#var] name": the variable takes the cookie's value. Reading a
// name the jar does not hold gives the empty text and adds no entry.
void RunGetCookie(ScriptRunner& runner, const std::string& operand) {
  SplitResult parts = Split(operand);
  std::string variable = parts.first.size() >= 3 ? parts.first.substr(2, parts.first.size() - 3)
                                                  : std::string();
  Expand(runner, variable);
  std::string name = Expanded(runner, parts.rest);
  const auto& entries = runner.http->cookies.entries;
  auto found = entries.find(name);
  runner.variables.Set(variable, found == entries.end() ? std::string() : found->second);
}

void RunFormField(ScriptRunner& runner, const std::string& operand, bool encode) {
  SplitResult parts = Split(operand);
  runner.http->AddPostField(parts.first, encode ? UrlEncode(parts.rest) : parts.rest);
}

void RunUploadPart(ScriptRunner& runner, const std::string& operand, bool isFile) {
  SplitResult parts = Split(operand);
  if (isFile) {
    runner.http->AddUploadFile(parts.first, parts.rest);
  } else {
    runner.http->AddUploadText(parts.first, parts.rest);
  }
}

// The cookie file replaces the earlier one only once it is whole; a failure
// keeps the earlier file and is said on standard error.
void SaveCookies(HttpSession& http, const std::string& path) {
  if (!http.cookies.Save(path)) {
    std::fprintf(stderr, "quorpack: cannot write the cookie file %s: %s\n", path.c_str(),
                 std::strerror(errno));
  }
}

// The commands whose operand is substituted first and then used whole or
// split.
void RunExpandedCommand(ScriptRunner& runner, CommandCode code, const std::string& operand) {
  HttpSession& http = *runner.http;
  switch (code) {
    case kTest: http.Request(operand, false); return;
    case kGet: RunPageRequest(runner, operand, false); return;
    case kPost: RunPageRequest(runner, operand, true); return;
    case kCaptcha: RunCaptcha(runner, operand); return;
    case kSaveTo: http.SetSaveTo(FileSystemPath(operand)); return;
    case kAdd: RunFormField(runner, operand, true); return;
    case kAddX: RunFormField(runner, operand, false); return;
    case kUpText: RunUploadPart(runner, operand, false); return;
    case kUpFile: RunUploadPart(runner, operand, true); return;
    case kProxy: RunProxy(http, operand); return;
    case kTimeout: RunTimeout(http, operand); return;
    case kReferer: http.SetReferer(operand); return;
    case kLan: http.SetLanguage(operand); return;
    case kEncoding: http.SetEncoding(operand); return;
    case kImitate: http.SetUserAgent(operand); return;
    case kDelCookies: http.cookies.entries.erase(operand); return;
    case kResumeCookies: http.cookies.Resume(FileSystemPath(operand)); return;
    case kSaveCookies: SaveCookies(http, FileSystemPath(operand)); return;
    default: break;
  }
  CookieStore store;
  if (code == kResumeIeCookies) http.cookies.ResumeFromStore(store, operand);
  if (code == kSaveIeCookies) http.cookies.SaveToStore(store, operand, kStoreExpiry);
}

}  // namespace

void RunHttpCommand(ScriptRunner& runner, CommandCode code, const std::string& operand) {
  if (!runner.http) runner.http = std::make_unique<HttpSession>();
  switch (code) {
    case kClear: runner.http->postData.clear(); return;
    case kUpload: runner.http->BeginUpload(); return;
    case kClearCookies: runner.http->cookies.Clear(); return;
    case kSetCookies: RunSetCookie(runner, operand); return;
    case kGetCookies: RunGetCookie(runner, operand); return;
    default: RunExpandedCommand(runner, code, operand); return;
  }
}

}  // namespace qp
