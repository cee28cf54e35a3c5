// The body of a multipart/form-data upload, built from what HttpSession
// gathered (BeginUpload, AddUploadText, AddUploadFile) without a connection,
// so that its length and its bytes come from one place.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "net/http_session.h"

namespace qp {

// Hands the body to `sink` piece by piece: the formatted text parts, CR LF,
// then every file part that has data, from the last added to the first, then
// the closing boundary. A file that could not be read (no data) is left out.
void WriteMultipartBody(const std::string& boundary, const std::string& uploadText,
                        const std::vector<UploadFile>& files,
                        const std::function<void(std::string_view)>& sink);

}  // namespace qp
