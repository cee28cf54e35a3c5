// qvrc: the script author's tool.
//   qvrc [--home DIR] [--lines] FILE  compile FILE and list its instructions and labels
//   qvrc --match PATTERN FILE         run PATTERN over FILE's bytes and list the results
//   qvrc [--home DIR] --check FILE... check scripts (a folder: every script of its boot file)
//   qvrc --init DIR                   create a home folder to start from
// Operands and results are written with "\\", "\n", "\r" and "\t" escapes so
// that each instruction or result stays on one line.
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "checker/script_checker.h"
#include "compiler/compiler.h"
#include "compiler/text_file.h"
#include "regex/regex_pattern.h"
#include "support/codepage.h"
#include "support/files.h"
#include "support/settings.h"

#ifndef QP_VERSION
#define QP_VERSION "0"
#endif

namespace {

std::string Escape(const std::string& text, bool tabsAndCr) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': if (tabsAndCr) out += "\\r"; else out += c; break;
      case '\t': if (tabsAndCr) out += "\\t"; else out += c; break;
      default: out += c;
    }
  }
  return out;
}

// A folder or a device is no script: "cannot read", like a missing file.
bool ReadBytes(const std::string& path, std::string& bytes) {
  return qp::ReadWholeFile(path, bytes);
}

int Usage() {
  std::fprintf(stderr,
               "usage: qvrc [--home DIR] [--lines] FILE\n"
               "       qvrc [--home DIR] --match PATTERN FILE\n"
               "       qvrc [--home DIR] --check FILE|HOME...\n"
               "       qvrc --init DIR\n");
  return 2;
}

bool IsFolder(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string Parent(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The home of a script given without --home: the folder above its Script/
// folder when it lies in one, so that its includes are found.
std::string HomeOf(const std::string& path, const std::string& home) {
  if (!home.empty()) return home;
  std::string folder = Parent(path);
  size_t slash = folder.find_last_of('/');
  std::string last = slash == std::string::npos ? folder : folder.substr(slash + 1);
  if (last == "Script") return Parent(folder);
  return qp::ProgramDir();
}

// A home folder given to --check: every script its boot file names.
void AddBootScripts(const std::string& home, qp::ScriptChecker& checker,
                    std::vector<std::string>& scripts) {
  std::string boot = home + "/Quorvant.boot";
  std::string text;
  if (!ReadBytes(boot, text)) {
    checker.Add({boot, 0, true, "the home folder has no boot file"});
    return;
  }
  int32_t lineNumber = 0;
  size_t position = 0;
  while (position < text.size()) {
    size_t end = text.find('\n', position);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(position, end - position);
    position = end + 1;
    ++lineNumber;
    std::vector<qp::BootLine> parsed = qp::ParseBootFile(line);
    if (parsed.empty()) continue;
    std::string script = home + "/Script/" + qp::FileSystemPath(parsed[0].script);
    std::string bytes;
    if (!ReadBytes(script, bytes))
      checker.Add({boot, lineNumber, true, "the script " + script + " does not exist"});
    else
      scripts.push_back(script);
  }
}

int CheckScripts(const std::vector<std::string>& args, const std::string& home) {
  qp::ScriptChecker checker(home);
  for (const std::string& arg : args) {
    std::vector<std::string> scripts;
    if (IsFolder(arg)) {
      checker.SetHome(home.empty() ? arg : home);
      AddBootScripts(home.empty() ? arg : home, checker, scripts);
    } else {
      checker.SetHome(HomeOf(arg, home));
      scripts.push_back(arg);
    }
    for (const std::string& script : scripts) {
      std::string raw;
      if (!ReadBytes(script, raw)) {
        checker.Add({script, 0, true, "cannot read the file"});
        continue;
      }
      checker.Check(qp::TextModeLines(raw), script);
    }
  }
  bool failed = false;
  std::string out;
  for (const qp::Finding& finding : checker.Finish()) {
    failed = failed || finding.error;
    out += qp::FormatFinding(finding) + '\n';
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return failed ? 1 : 0;
}

bool WriteNew(const std::string& path, const std::string& text) {
  struct stat info;
  if (stat(path.c_str(), &info) == 0) return true;  // an existing file is kept as it is
  std::ofstream out(path, std::ios::binary);
  out << text;
  return static_cast<bool>(out);
}

// A home folder to start from: every setting written out and commented, a
// boot file that starts one script, that script, and Temp/ for notes.
int InitHome(const std::string& dir) {
  static const char* kConfig =
      "; QuorPack settings of this home folder (read only). Remove the \";\" of a\n"
      "; line to use it; every value shown is an example.\n"
      "[setting]\n"
      "; Tip of the tray icon.\n;appname=My scripts\n"
      "; The global hotkey.\n;hotkey=CTRL + 9\n"
      "; Opened by the tray menu's help item.\n;homepage=https://quorpack.example.org/\n"
      "; Script texts are GBK unless this says utf-8.\ncodepage=utf-8\n"
      "; console: messages on standard error, no windows.\n;ui=console\n"
      "; A named pipe whose lines \"source<TAB>event<TAB>value\" become events.\n"
      ";eventfifo=Temp/events\n"
      "; 0 accepts any HTTPS certificate (not recommended).\n;tlsverify=1\n"
      "; Seconds a whole HTTP request may take; 0: no limit.\n;requesttimeout=300\n"
      "; MiB of a response body held in memory (saveto has no limit); 0: no limit.\n"
      ";bodylimit=1024\n"
      "; 1 writes every instruction run to standard error.\n;trace=1\n"
      "\n[odbc]\n"
      "; ODBC drivers for openaccess and openmssql.\n;jet=SQLite3\n;sqloledb=FreeTDS\n";
  static const char* kHello =
      "// The first script: started by Quorvant.boot, which gives it [#param].\n"
      "<main>\n"
      "var [#who] [#param]\n"
      "if ([@isnull<<<[#who]]==1)\n"
      "{\n"
      "  var [#who] world\n"
      "}\n"
      "alert hello, [#who]!\n";
  mkdir(dir.c_str(), 0777);
  mkdir((dir + "/Script").c_str(), 0777);
  mkdir((dir + "/Temp").c_str(), 0777);
  bool ok = IsFolder(dir + "/Script") && IsFolder(dir + "/Temp") &&
            WriteNew(dir + "/Config.ini", kConfig) &&
            WriteNew(dir + "/Quorvant.boot", "hello^hello.qvr^world\n") &&
            WriteNew(dir + "/Script/hello.qvr", kHello);
  if (!ok) {
    std::fprintf(stderr, "qvrc: cannot create the home folder %s\n", dir.c_str());
    return 2;
  }
  std::printf("%s: home folder ready; run it with: quorpack --home %s\n", dir.c_str(), dir.c_str());
  return 0;
}

int ListProgram(const std::string& path, const std::string& home, bool withLines) {
  std::string raw;
  if (!ReadBytes(path, raw)) {
    std::fprintf(stderr, "qvrc: cannot read %s\n", path.c_str());
    return 2;
  }
  qp::ScriptProgram program;
  qp::CompileOptions options;
  options.homeDir = home;
  options.rootPath = path;
  qp::SourceMap lines;
  options.sourceMap = &lines;
  qp::CompileSummary summary = qp::Compile(qp::TextModeLines(raw), program, options);
  if (summary.cappedIncludes > 0)
    std::fprintf(stderr, "qvrc: %s: more than %d files included; %d later includes skipped\n",
                 path.c_str(), qp::kMaxIncludedFiles, summary.cappedIncludes);
  std::string out;
  for (int32_t i = 0; i < program.size(); ++i) {
    const qp::ScriptInstruction& instruction = program.instructions[i];
    out += std::to_string(i) + '\t' + std::to_string(instruction.code) + '\t' +
           qp::CommandName(instruction.code) + '\t' + Escape(instruction.operand, true);
    if (withLines) out += '\t' + lines.Describe(i);
    out += '\n';
  }
  for (const auto& [name, index] : program.labels)
    out += "label\t" + name + '\t' + std::to_string(index) + '\n';
  std::fwrite(out.data(), 1, out.size(), stdout);
  return 0;
}

int MatchFile(const std::string& pattern, const std::string& path) {
  std::string text;
  if (!ReadBytes(path, text)) {
    std::fprintf(stderr, "qvrc: cannot read %s\n", path.c_str());
    return 2;
  }
  qp::RegexPattern regex(pattern);
  std::string out = regex.valid() ? "valid 1\n" : "error " + std::to_string(regex.error()) + "\n";
  regex.MatchAll(text);
  for (const std::string& result : regex.results()) out += Escape(result, false) + '\n';
  std::fwrite(out.data(), 1, out.size(), stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string home, pattern, init;
  std::vector<std::string> files;
  bool match = false, check = false, withLines = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    while (arg.size() > 1 && arg.back() == '/') arg.pop_back();  // "examples/" is "examples"
    if (arg == "--version") {
      std::printf("qvrc %s\n", QP_VERSION);
      return 0;
    }
    if (arg == "--help") {
      Usage();
      return 0;
    }
    if (arg == "--home" && i + 1 < argc) {
      home = argv[++i];
      while (home.size() > 1 && home.back() == '/') home.pop_back();
    } else if (arg == "--match" && i + 1 < argc) {
      match = true;
      pattern = argv[++i];
    } else if (arg == "--init" && i + 1 < argc) {
      init = argv[++i];
    } else if (arg == "--check") {
      check = true;
    } else if (arg == "--lines") {
      withLines = true;
    } else if (arg.empty() || arg[0] != '-' || arg == "-") {
      files.push_back(arg);
    } else {
      return Usage();
    }
  }
  if (!init.empty()) return files.empty() && !check && !match ? InitHome(init) : Usage();
  if (files.empty() || (!check && files.size() > 1) || (check && match)) return Usage();
  if (!home.empty()) qp::SetProgramDir(home);
  else if (check) qp::SetProgramDir(IsFolder(files[0]) ? files[0] : HomeOf(files[0], ""));
  // The code page is the home's setting, as the runner would use it.
  qp::SetActiveCodePage(qp::CodePageFromSetting(qp::ReadSetting("codepage", "")));
  if (check) return CheckScripts(files, home);
  return match ? MatchFile(pattern, files[0]) : ListProgram(files[0], home, withLines);
}
