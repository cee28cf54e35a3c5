// The user-visible texts of the program, in one table. They are kept here in
// UTF-8 and handed out in the active code page, converted once per code page.
#pragma once

#include <string>

namespace qp {

enum class MessageId {
#define QP_MESSAGE(id, text) id,
#include "support/messages.def"
#undef QP_MESSAGE
  kCount
};

// The text in the active code page.
const std::string& Msg(MessageId id);
// The text in UTF-8 (for the console and the desktop).
const char* MsgUtf8(MessageId id);

}  // namespace qp
