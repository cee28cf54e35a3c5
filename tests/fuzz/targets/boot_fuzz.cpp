// The boot file and the INI reader of Config.ini. Input: the boot file's
// bytes, NUL, Config.ini's bytes.
#include "compiler/text_file.h"
#include "fuzz_support.h"
#include "support/codepage.h"
#include "support/settings.h"

namespace {

void CheckBootLines(const std::vector<qp::BootLine>& lines) {
  for (const qp::BootLine& line : lines) {
    for (const std::string* field : {&line.tag, &line.script, &line.param}) {
      QP_FUZZ_CHECK(field->find('^') == std::string::npos);
      QP_FUZZ_CHECK(field->find('\n') == std::string::npos);
    }
  }
}

}  // namespace

int qp_fuzz_boot(const uint8_t* data, size_t size) {
  const std::vector<std::string_view> fields = qp::fuzz::SplitFields(qp::fuzz::AsText(data, size), 2);

  // As the program reads it (text mode first), and as bytes.
  CheckBootLines(qp::ParseBootFile(qp::TextModeLines(fields[0])));
  CheckBootLines(qp::ParseBootFile(fields[0]));

  const std::string home = qp::fuzz::FreshDir("boot_home");
  qp::fuzz::PutFile(home + "/Config.ini", fields[1]);
  qp::IniFile ini(home + "/Config.ini");
  for (const char* section : {"setting", "odbc", "", "SETTING"}) {
    for (const char* key : {"codepage", "ui", "tlsverify", "", "Driver"}) {
      // A file may hold any fallback text itself, so two different fallbacks
      // tell a missing key from a present one.
      const bool has = ini.Has(section, key);
      const std::string value = ini.Get(section, key, "\x01missing");
      const std::string other = ini.Get(section, key, "\x02missing");
      QP_FUZZ_CHECK(has == (value == other));
      if (!has) QP_FUZZ_CHECK(value == "\x01missing" && other == "\x02missing");
      // Values are trimmed and lose one pair of surrounding quotes.
      QP_FUZZ_CHECK(value.find('\n') == std::string::npos);
    }
  }
  qp::SetProgramDir(home);
  const std::string codepage = qp::ReadSetting("codepage", "");
  QP_FUZZ_CHECK(codepage.size() <= 99);
  const int page = qp::CodePageFromSetting(codepage);
  QP_FUZZ_CHECK(page == qp::kCodePageGbk || page == qp::kCodePageUtf8);
  QP_FUZZ_CHECK(qp::ReadConfigValue("odbc", "driver", "").size() <= 99);
  return 0;
}
