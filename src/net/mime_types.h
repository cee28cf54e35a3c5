// The content types of uploaded files, looked up by file extension. The
// table is fixed: 300 lower-case extensions, "*", the empty extension (a path
// that ends in ".") and "IVF" in capitals, which a lower-cased lookup never
// reaches. Extensions not in the table have no type (an empty text).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qp {

std::string LookupMimeType(std::string_view extension);

// For tests: number of keys, and number of assignments that filled them.
size_t MimeTableSize();
size_t MimeAssignmentCount();

}  // namespace qp
