#include "support/messages.h"

#include <array>
#include <mutex>

#include "support/codepage.h"

namespace qp {
namespace {

constexpr size_t kCount = static_cast<size_t>(MessageId::kCount);

constexpr std::array<const char*, kCount> kUtf8Texts = {
    "提示窗口",
    "出错：",
    "原因：",
    "格式有误．",
    "格式有误．不含有效的正则表达式．",
    " 正则表达式不存在．",
    "下标越界．",
    "下标越界.",
    "发生异常，可能在应该填数字的地方，填写了其它字符．",
    "使用了未定义的代码段名称．",
    "消息函数及其调用的函数中不能使用GOTO命令!",
    "RESUME命令只能在消息函数中使用!",
    "释放了未定义的DLL．",
    " DLL文件不存在．",
    " DLL中不存在该函数名．",
    "格式有误．括号不匹配！",
    " 数据库连接不存在．",
    "该数据库连接不存在或已被删除．",
    "格式有误，后面需接数据库连接名．",
    "格式有误，请按",
    " server<<<catlog<<<username<<<password修改．",
    " server:port<<<catlog<<<username<<<password修改．",
    "启动文件(Quorvant.boot)无法打开或者格式无效!",
    "请输入..",
    "确定",
    "显示主界面(&S)",
    "退出(&Q)",
    "在线支持(&H)..",
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
