// The user-visible texts of the program, in one table. They are kept here in
// UTF-8 and handed out in the active code page, converted once per code page.
#pragma once

#include <string>

namespace qp {

enum class MessageId {
  kAppTitle,              // title of every message box
  kErrorPrefix,           // "出错：" before the command of an error report
  kReasonPrefix,          // "原因：" before the reason
  kFormatError,           // "格式有误．"
  kNoValidRegex,          // regex without a pattern
  kRegexMissing,          // appended to a pattern name
  kIndexOutOfRange,       // "$" reader (full-width full stop)
  kIndexOutOfRangeAscii,  // "%" reader (ASCII full stop)
  kNumberException,       // substr / rand with a bad number
  kUndefinedSection,      // call of an unknown label
  kGotoInHandler,         // goto while a handler runs
  kResumeOutsideHandler,  // resume outside a handler
  kUnloadUnknownDll,      // unloaddll of an unknown name
  kDllMissing,            // appended to a library name
  kDllFunctionMissing,    // appended to a function reference
  kBracketMismatch,       // "~" reader with an unclosed cast
  kDbConnectionMissing,   // appended to a connection name
  kDbConnectionGone,      // closedb of an unknown name
  kDbNeedsName,           // open command without a connection name
  kDbFormatPrefix,        // "格式有误，请按" before the expected form
  kDbMssqlFormatSuffix,   // " server<<<catlog<<<username<<<password修改．"
  kDbMysqlFormatSuffix,   // " server:port<<<catlog<<<username<<<password修改．"
  kBootFileInvalid,       // boot file missing or without a usable line
  kInputDialogTitle,      // caption of the input dialog
  kOkButton,              // its button
  kMenuShow,              // tray menu items
  kMenuQuit,
  kMenuHelp,
  kCount
};

// The text in the active code page.
const std::string& Msg(MessageId id);
// The text in UTF-8 (for the console and the desktop).
const char* MsgUtf8(MessageId id);

}  // namespace qp
