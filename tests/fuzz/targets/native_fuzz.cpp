// The native-reference parser: "lib.func<<<arg<<<arg", each item with an
// optional "(type)" cast, and the resolution of the function on a runner
// that has loaded no library (which must fail with a report, never call).
// Input: the reference's inner text.
#include <memory>

#include "compiler/compiler.h"
#include "engine/script_runner.h"
#include "fuzz_support.h"
#include "native/native_calls.h"
#include "native/native_reference.h"

namespace {

class SilentUi : public qp::UiService {
 public:
  void Request(qp::ScriptRunner&, qp::UiRequestKind, const std::string&) override {}
};

}  // namespace

int qp_fuzz_native(const uint8_t* data, size_t size) {
  const std::string inner(qp::fuzz::AsText(data, size));
  const std::vector<std::string> items = qp::SplitNativeItems(inner);
  QP_FUZZ_CHECK(!items.empty());
  for (const std::string& item : items) {
    QP_FUZZ_CHECK(item.find("<<<") == std::string::npos);
    const qp::NativeItem parsed = qp::ParseNativeItem(item);
    // What follows the cast is the item's own tail.
    QP_FUZZ_CHECK(parsed.text.size() <= item.size());
    QP_FUZZ_CHECK(item.compare(item.size() - parsed.text.size(), std::string::npos, parsed.text) == 0);
    QP_FUZZ_CHECK(!parsed.bracketError || parsed.text == item);
  }

  static SilentUi ui;
  auto program = std::make_shared<qp::ScriptProgram>();
  qp::Compile("", *program);
  qp::ScriptRunner runner;
  runner.ui = &ui;
  runner.Load(program);
  // Nothing is loaded: the call is refused and said, never made.
  QP_FUZZ_CHECK(qp::CallNativeFunction(runner, inner).empty());
  QP_FUZZ_CHECK(runner.errorCount >= 1);
  return 0;
}
