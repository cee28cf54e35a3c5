// HttpSession: the HTTP client state of one script (placeholder until the
// HTTP client lands).
#pragma once

namespace qp {

class HttpSession {
 public:
  HttpSession() = default;
};

}  // namespace qp
