#include "support/messages.h"

#include <array>
#include <mutex>

#include "support/codepage.h"

namespace qp {
namespace {

constexpr size_t kCount = static_cast<size_t>(MessageId::kCount);

constexpr std::array<const char*, kCount> kUtf8Texts = {
#define QP_MESSAGE(id, text) text,
#include "support/messages.def"
#undef QP_MESSAGE
};

using Table = std::array<std::string, kCount>;

const Table& TableFor(int codePage) {
  static std::once_flag gbkOnce, utf8Once;
  static Table gbk, utf8;
  if (codePage == kCodePageUtf8) {
    std::call_once(utf8Once, [] {
      for (size_t i = 0; i < kCount; ++i) utf8[i] = kUtf8Texts[i];
    });
    return utf8;
  }
  std::call_once(gbkOnce, [] {
    for (size_t i = 0; i < kCount; ++i)
      gbk[i] = ConvertCodePage(kUtf8Texts[i], kCodePageUtf8, kCodePageGbk);
  });
  return gbk;
}

}  // namespace

const std::string& Msg(MessageId id) {
  return TableFor(ActiveCodePage())[static_cast<size_t>(id)];
}

const char* MsgUtf8(MessageId id) { return kUtf8Texts[static_cast<size_t>(id)]; }

}  // namespace qp
