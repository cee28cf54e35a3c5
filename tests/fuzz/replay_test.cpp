// Replays every kept input of every fuzz target: the regression inputs
// (regressions/<target>-*), each of which once broke a parser, and the seed
// corpus (corpus/<target>/). One test per input, so the report names the
// input that fails and how long each one took.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#define QP_FUZZ_TARGET(name) int qp_fuzz_##name(const uint8_t* data, size_t size);
#include "fuzz_targets.inc"
#undef QP_FUZZ_TARGET

namespace {

using TargetFunction = int (*)(const uint8_t*, size_t);

struct Target {
  const char* name;
  TargetFunction function;
};

const Target kTargets[] = {
#define QP_FUZZ_TARGET(name) {#name, &qp_fuzz_##name},
#include "fuzz_targets.inc"
#undef QP_FUZZ_TARGET
};

std::string Slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Test names keep letters and digits only: "-" would read as a negative
// filter pattern.
std::string TestName(const std::string& text) {
  std::string name = text;
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
}

class ReplayInput : public testing::Test {
 public:
  ReplayInput(TargetFunction function, std::filesystem::path path)
      : function_(function), path_(std::move(path)) {}
  void TestBody() override {
    ASSERT_TRUE(std::filesystem::is_regular_file(path_)) << path_;
    std::string bytes = Slurp(path_);
    EXPECT_EQ(function_(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), 0);
  }

 private:
  TargetFunction function_;
  std::filesystem::path path_;
};

std::vector<std::filesystem::path> InputsOf(const std::string& target) {
  namespace fs = std::filesystem;
  const fs::path root = QP_FUZZ_DIR;
  std::vector<fs::path> inputs;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(root / "regressions", error)) {
    if (entry.is_regular_file() && entry.path().filename().string().rfind(target + "-", 0) == 0)
      inputs.push_back(entry.path());
  }
  for (const auto& entry : fs::directory_iterator(root / "corpus" / target, error)) {
    if (entry.is_regular_file()) inputs.push_back(entry.path());
  }
  std::sort(inputs.begin(), inputs.end());
  return inputs;
}

void RegisterReplays() {
  for (const Target& target : kTargets) {
    const std::string suite = std::string("FuzzReplay_") + target.name;
    for (const std::filesystem::path& input : InputsOf(target.name)) {
      const std::string kind = input.parent_path().filename() == "regressions" ? "regression_" : "corpus_";
      const std::string name = TestName(kind + input.filename().string());
      TargetFunction function = target.function;
      testing::RegisterTest(suite.c_str(), name.c_str(), nullptr, nullptr,
                            __FILE__, __LINE__,
                            [function, input]() -> testing::Test* {
                              return new ReplayInput(function, input);
                            });
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  RegisterReplays();
  return RUN_ALL_TESTS();
}
