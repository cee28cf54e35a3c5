// Turns the HTML of a prompt into text a console can show: tags go, line
// breaking tags become line ends, the common entities are decoded, runs of
// white space shrink to one blank, and each image is listed by its source
// (a path or URL) on a line of its own, so that a captcha can be opened.
#pragma once

#include <string>
#include <string_view>

namespace qp {

// `html` and the result are UTF-8.
std::string HtmlToConsoleText(std::string_view html);

}  // namespace qp
